// The media player plug-in's COM server: the real kwhid_wmp.dll, loaded by its path under
// Wine the way COM loads an in-process server, on the fake HID platform, in a prefix of
// its own (registration writes HKEY_CLASSES_ROOT, the settings file lives in the prefix).
#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/kwcrc.h"
#include "rtl/format.h"
#include "rtl/win32/comptr.h"
#include "rtl/win32/handle.h"
#include "tests/fakeos/fakeos.h"
#include "tests/hosts/import_hook.h"
#include "tests/hosts/wmp_host.h"
#include "tests/players/fake_wmp_core.h"
#include "tests/support/temp_folder.h"

namespace {

constexpr USHORT ReportLength = 4;
const std::vector<uint8_t> PlayPress{1, 0xCD};
constexpr wchar_t ProgId[] = L"kwhid_wmp.CoWMPPlugin";
constexpr char NotInitialized[] = "HID Processor class is not initialized.";

std::wstring ServerPath() { return FullWindowsPath(KW_WMP_DLL); }

uint32_t SignatureOf(std::vector<uint8_t> report) {
    report.resize(ReportLength, 0);  // devices deliver whole reports
    return UpdateSignature(report.data(), report.size(), SignatureNone);
}

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::string Narrow(const std::wstring& text) {
    std::string result;
    for (wchar_t c : text) result += c < 128 ? static_cast<char>(c) : '?';
    return result;
}

class TBstr {
public:
    TBstr() = default;
    TBstr(const TBstr&) = delete;
    TBstr& operator=(const TBstr&) = delete;
    ~TBstr() { SysFreeString(value_); }
    BSTR* put() {
        SysFreeString(value_);
        value_ = nullptr;
        return &value_;
    }
    std::wstring str() const { return value_ ? std::wstring(value_, SysStringLen(value_)) : std::wstring(); }

private:
    BSTR value_ = nullptr;
};

class TApartment {
public:
    TApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~TApartment() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    TApartment(const TApartment&) = delete;
    TApartment& operator=(const TApartment&) = delete;

private:
    HRESULT hr_;
};

// The default value of a key below root, or nothing when the key or the value is missing.
std::optional<std::wstring> DefaultValue(HKEY root, const std::wstring& subKey, const wchar_t* name = nullptr) {
    TUniqueRegKey key;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return std::nullopt;
    wchar_t data[1024] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS)
        return std::nullopt;
    if (type != REG_SZ) return L"<not a string>";
    std::wstring value(data, size / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0') value.pop_back();
    return value;
}

bool KeyExists(HKEY root, const std::wstring& subKey) {
    TUniqueRegKey key;
    return RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// Refuses every message-only window this thread tries to create while it lives. The
// engine's timers run through one, so while it lives no engine can be made.
class TNoMessageOnlyWindows {
public:
    TNoMessageOnlyWindows() {
        // The hook sees the parent resolved: the root of the message-only windows.
        if (HWND probe = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)) {
            messageRoot_ = GetAncestor(probe, GA_PARENT);
            DestroyWindow(probe);
        }
        if (messageRoot_) hook_ = SetWindowsHookExW(WH_CBT, &Proc, nullptr, GetCurrentThreadId());
    }
    ~TNoMessageOnlyWindows() {
        if (hook_) UnhookWindowsHookEx(hook_);
    }
    TNoMessageOnlyWindows(const TNoMessageOnlyWindows&) = delete;
    TNoMessageOnlyWindows& operator=(const TNoMessageOnlyWindows&) = delete;

    bool Installed() const { return hook_ != nullptr; }
    static int Refused() { return refused_; }

private:
    static LRESULT CALLBACK Proc(int code, WPARAM wParam, LPARAM lParam) {
        const HWND parent = code == HCBT_CREATEWND ? reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs->hwndParent : nullptr;
        if (parent && (parent == HWND_MESSAGE || parent == messageRoot_)) {
            ++refused_;
            return 1;
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    HHOOK hook_ = nullptr;
    static inline HWND messageRoot_ = nullptr;
    static inline int refused_ = 0;
};

// A hidden top-level window of the player, for the boxes the plug-in shows.
class TParentWindow {
public:
    TParentWindow() {
        static const ATOM atom = [] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = &DefWindowProcW;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"KwSimulatedMediaPlayer";
            return RegisterClassW(&wc);
        }();
        window_.reset(CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(atom)), L"Windows Media Player", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                      100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
    }
    HWND Handle() const { return window_.get(); }

private:
    TUniqueWindow window_;
};

// What a message box looked like when it was found and OK was pressed.
struct TBoxSeen {
    bool found = false;
    HWND owner = nullptr;
    std::string text;
    std::vector<int> visibleButtons;
};

// Waits on a thread of its own for the message box with this caption that a thread of
// this process shows, reads it and presses OK. After the time limit every dialog of
// uiThread is closed, so that a test fails instead of hanging in the box's loop.
class TBoxPresser {
public:
    TBoxPresser(std::string caption, DWORD uiThread, DWORD limitMs)
        : caption_(std::move(caption)), uiThread_(uiThread), limit_(limitMs), thread_([this] { Run(); }) {}
    ~TBoxPresser() { Join(); }
    TBoxPresser(const TBoxPresser&) = delete;
    TBoxPresser& operator=(const TBoxPresser&) = delete;

    const TBoxSeen& Join() {
        if (thread_.joinable()) thread_.join();
        return seen_;
    }

private:
    struct TSearch {
        const std::string* caption;
        HWND box = nullptr;
    };
    static BOOL CALLBACK FindBox(HWND hwnd, LPARAM param) {
        auto* search = reinterpret_cast<TSearch*>(param);
        char cls[64] = {};
        wchar_t caption[256] = {};
        DWORD process = 0;
        GetWindowThreadProcessId(hwnd, &process);
        GetClassNameA(hwnd, cls, sizeof cls);
        // Sends nothing: GetWindowText would wait for the window's thread, which may be
        // waiting for us.
        InternalGetWindowText(hwnd, caption, 256);
        if (process == GetCurrentProcessId() && std::string(cls) == "#32770" && *search->caption == Narrow(caption)) {
            search->box = hwnd;
            return FALSE;
        }
        return TRUE;
    }
    static BOOL CALLBACK ReadChild(HWND child, LPARAM param) {
        auto* seen = reinterpret_cast<TBoxSeen*>(param);
        char cls[64] = {}, text[512] = {};
        GetClassNameA(child, cls, sizeof cls);
        GetWindowTextA(child, text, sizeof text);
        const bool visible = (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) != 0;
        if (lstrcmpiA(cls, "Button") == 0 && visible) seen->visibleButtons.push_back(GetDlgCtrlID(child));
        if (lstrcmpiA(cls, "Static") == 0 && seen->text.empty() && *text) seen->text = text;
        return TRUE;
    }
    static BOOL CALLBACK CloseDialog(HWND hwnd, LPARAM) {
        char cls[64] = {};
        GetClassNameA(hwnd, cls, sizeof cls);
        if (std::string(cls) == "#32770") {
            PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
            PostMessageW(hwnd, WM_CLOSE, 0, 0);
        }
        return TRUE;
    }
    void Run() {
        const ULONGLONG end = GetTickCount64() + limit_;
        while (GetTickCount64() < end) {
            TSearch search{&caption_};
            EnumWindows(&FindBox, reinterpret_cast<LPARAM>(&search));
            if (search.box) {
                seen_.found = true;
                seen_.owner = GetWindow(search.box, GW_OWNER);
                char text[512] = {};
                // The box's text is the static with the id 0xFFFF.
                if (GetDlgItemTextA(search.box, 0xFFFF, text, sizeof text) > 0) seen_.text = text;
                EnumChildWindows(search.box, &ReadChild, reinterpret_cast<LPARAM>(&seen_));
                PostMessageW(search.box, WM_COMMAND, IDOK, 0);
                return;
            }
            Sleep(20);
        }
        EnumThreadWindows(uiThread_, &CloseDialog, 0);
    }

    std::string caption_;
    DWORD uiThread_;
    DWORD limit_;
    TBoxSeen seen_;
    std::thread thread_;
};

// Ends the process when a step does not end in time: a hang fails the run instead of
// stopping it. One thread for the whole run, started before the first test: a library
// that hangs under the loader lock keeps every new thread from starting.
class TWatchdog {
public:
    static TWatchdog& Instance() {
        static auto* watchdog = new TWatchdog(60000);
        return *watchdog;
    }
    void Arm(std::string step) {
        std::lock_guard<std::mutex> guard(lock_);
        step_ = std::move(step);
        deadline_ = GetTickCount64() + limit_;
    }

private:
    explicit TWatchdog(DWORD limitMs) : limit_(limitMs), step_("start"), deadline_(GetTickCount64() + limitMs) {
        std::thread([this] { Run(); }).detach();
    }
    void Run() {
        for (;;) {
            Sleep(100);
            std::lock_guard<std::mutex> guard(lock_);
            if (GetTickCount64() > deadline_) {
                std::fprintf(stderr, "watchdog: no progress for %lu ms at \"%s\": a hang\n", limit_, step_.c_str());
                std::fflush(stderr);
                TerminateProcess(GetCurrentProcess(), 3);
            }
        }
    }

    DWORD limit_;
    std::mutex lock_;
    std::string step_;
    ULONGLONG deadline_;
};

class TWatchdogStart : public testing::Environment {
public:
    void SetUp() override { TWatchdog::Instance().Arm("the first test"); }
};
const auto* const WatchdogStart = testing::AddGlobalTestEnvironment(new TWatchdogStart);

// Sends the press again and again from a thread of its own while it lives, so that the
// reading thread always has a read completing or just completed.
class TReportStream {
public:
    TReportStream(int device, std::vector<uint8_t> report)
        : device_(device), report_(std::move(report)), thread_([this] { Run(); }) {}
    ~TReportStream() {
        stop_ = true;
        thread_.join();
    }
    TReportStream(const TReportStream&) = delete;
    TReportStream& operator=(const TReportStream&) = delete;

private:
    void Run() {
        while (!stop_) {
            KwFake_SendReport(device_, report_.data(), static_cast<DWORD>(report_.size()));
            Sleep(1);
        }
    }
    int device_;
    std::vector<uint8_t> report_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

bool HasEntry(const TFakeWmpCore& core, const std::string& entry) {
    for (const std::string& logged : core.State.Log)
        if (logged == entry) return true;
    return false;
}

// Every test starts with no devices, no settings file and the server loaded; it ends
// with the server unloaded as COM unloads it, and the cores given back.
class WmpServer : public testing::Test {
protected:
    void SetUp() override {
        watchdog.Arm(Format("%s", testing::UnitTest::GetInstance()->current_test_info()->name()));
        // gtest starts a thread of its own when a thread first uses its thread-local
        // state: started here, before any test counts threads.
        { SCOPED_TRACE("warm-up"); }
        KwFake_Reset();
        settings = WmpSettingsPath();
        ASSERT_FALSE(settings.empty());
        DeleteFileA(settings.c_str());
        if (LoadsServer()) {
            ASSERT_EQ(server.Load(ServerPath()), "");
        }
    }
    void TearDown() override {
        watchdog.Arm(Format("%s: tear-down", testing::UnitTest::GetInstance()->current_test_info()->name()));
        if (server.Module()) {
            EXPECT_EQ(server.CanUnloadNow(), S_OK);
            server.Unload();
        }
        EXPECT_EQ(GetModuleHandleW(ServerPath().c_str()), nullptr) << "the server is still loaded";
        for (const TFakeWmpCore* c : {&core, &otherCore}) {
            EXPECT_EQ(c->Refs(), 0u);
            EXPECT_EQ(c->SubObjectRefs(), 0u);
            EXPECT_FALSE(c->State.OverReleased);
        }
        DeleteFileA(settings.c_str());
        KwFake_Reset();
    }
    virtual bool LoadsServer() const { return true; }

    int AddRemote() {
        KwFakeDevice d{};
        d.Product = L"Remote";
        d.Caps.InputReportByteLength = ReportLength;
        d.Caps.UsagePage = 0x0C;
        const int id = KwFake_AddDevice(&d);
        EXPECT_GT(id, 0);
        return id;
    }
    // Play/Pause learned on device 0.
    void LearnPlayPause() {
        ASSERT_TRUE(WriteTextFile(settings,
                                  Format("HidIndex=0\r\nMode=0\r\nAction00=B%08XFFFFFFFF0\r\n", SignatureOf(PlayPress))));
    }
    static void Send(int device, const std::vector<uint8_t>& report) {
        ASSERT_GE(KwFake_SendReport(device, report.data(), static_cast<DWORD>(report.size())), 1);
    }
    static bool EngineHasOpened(int device) { return KwFake_WaitOpenHandles(device, 1, 10000) != FALSE; }

    // Every step of a test ends within a minute, or the run ends there.
    TWatchdog& watchdog = TWatchdog::Instance();
    TApartment apartment;
    TFakeWmpCore core, otherCore;
    TWmpServer server;
    std::string settings;
};

TEST_F(WmpServer, AnswersItsFourInterfacesAndNoOther) {
    TComPtr<IWMPPluginUI> plugin;
    ASSERT_EQ(server.CreatePlugin(plugin), S_OK);
    TComPtr<IUnknown> identity;
    ASSERT_EQ(plugin->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.put())), S_OK);
    TComPtr<ISupportErrorInfo> errorInfo;
    ASSERT_EQ(plugin->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(errorInfo.put())), S_OK);

    const struct {
        const IID* iid;
        const char* name;
        bool answered;
    } cases[] = {
        {&IID_IUnknown, "IUnknown", true},
        {&IID_IWMPPluginUI, "IWMPPluginUI", true},
        {&IID_ISupportErrorInfo, "ISupportErrorInfo", true},
        {&IID_IProvideClassInfo, "IProvideClassInfo", true},
        {&IID_IDispatch, "IDispatch", false},
        {&IID_IProvideClassInfo2, "IProvideClassInfo2", false},
        {&IID_IClassFactory, "IClassFactory", false},
        {&IID_IPersist, "IPersist", false},
        {&IID_IMarshal, "IMarshal", false},
        {&__uuidof(IWMPCore), "IWMPCore", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        void* out = reinterpret_cast<void*>(1);
        const HRESULT hr = plugin->QueryInterface(*c.iid, &out);
        EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(*c.iid), c.answered ? S_OK : S_FALSE);
        if (!c.answered) {
            EXPECT_EQ(hr, E_NOINTERFACE);
            EXPECT_EQ(out, nullptr);
            continue;
        }
        ASSERT_EQ(hr, S_OK);
        ASSERT_NE(out, nullptr);
        TComPtr<IUnknown> got;
        got.attach(static_cast<IUnknown*>(out));
        // Identity: IUnknown from any interface is the same object, and every interface
        // found is found again from every other.
        TComPtr<IUnknown> back;
        ASSERT_EQ(got->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(back.put())), S_OK);
        EXPECT_EQ(back.get(), identity.get());
        for (const auto& other : cases) {
            if (!other.answered) continue;
            TComPtr<IUnknown> again;
            EXPECT_EQ(got->QueryInterface(*other.iid, reinterpret_cast<void**>(again.put())), S_OK) << other.name;
        }
    }
    // Every reference handed out went back.
    EXPECT_EQ(plugin->AddRef(), 4u);
    EXPECT_EQ(plugin->Release(), 3u);
}

TEST_F(WmpServer, EmbeddedTypeLibraryDescribesThePlugin) {
    EXPECT_NE(FindResourceW(server.Module(), MAKEINTRESOURCEW(1), L"TYPELIB"), nullptr);
    TComPtr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(ServerPath().c_str(), REGKIND_NONE, library.put()), S_OK);

    TLIBATTR* lib = nullptr;
    ASSERT_EQ(library->GetLibAttr(&lib), S_OK);
    EXPECT_EQ(lib->guid, LIBID_kwhid_wmp);
    EXPECT_EQ(lib->wMajorVerNum, 1);
    EXPECT_EQ(lib->wMinorVerNum, 0);
    EXPECT_EQ(lib->lcid, 0x0409u);
    EXPECT_EQ(lib->syskind, SYS_WIN32);
    library->ReleaseTLibAttr(lib);
    TBstr name, help;
    ASSERT_EQ(library->GetDocumentation(-1, name.put(), help.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(name.str(), L"kwhid_wmp");
    EXPECT_EQ(help.str(), L"kwhid_wmp Library");

    // A dual interface comes as its dispatch half; the vtable half is behind it.
    TComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IWMPPluginUI, dispatch.put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(dispatch->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    dispatch->ReleaseTypeAttr(attr);
    HREFTYPE vtableRef = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableRef), S_OK);
    TComPtr<ITypeInfo> vtable;
    ASSERT_EQ(dispatch->GetRefTypeInfo(vtableRef, vtable.put()), S_OK);
    ASSERT_EQ(vtable->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, IID_IWMPPluginUI);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    EXPECT_EQ(attr->cFuncs, 7);
    EXPECT_EQ(static_cast<size_t>(attr->cbSizeVft), 10 * sizeof(void*));
    const size_t funcs = attr->cFuncs;
    vtable->ReleaseTypeAttr(attr);

    HREFTYPE baseRef = 0;
    ASSERT_EQ(vtable->GetRefTypeOfImplType(0, &baseRef), S_OK);
    TComPtr<ITypeInfo> base;
    ASSERT_EQ(vtable->GetRefTypeInfo(baseRef, base.put()), S_OK);
    ASSERT_EQ(base->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, IID_IUnknown);
    base->ReleaseTypeAttr(attr);

    // The methods in vtable order after the three of IUnknown, with their parameters.
    const std::vector<std::vector<std::wstring>> methods = {
        {L"SetCore", L"pCore"},
        {L"Create", L"hwndParent", L"phwndWindow"},
        {L"Destroy"},
        {L"DisplayPropertyPage", L"hwndParent"},
        {L"GetProperty", L"pwszName", L"pvarProperty"},
        {L"SetProperty", L"pwszName", L"pvarProperty"},
        {L"TranslateAccelerator", L"lpmsg"},
    };
    for (UINT i = 0; i < funcs && i < methods.size(); ++i) {
        SCOPED_TRACE(Narrow(methods[i][0]));
        FUNCDESC* func = nullptr;
        ASSERT_EQ(vtable->GetFuncDesc(i, &func), S_OK);
        EXPECT_EQ(func->oVft, static_cast<SHORT>((3 + i) * sizeof(void*)));
        EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_HRESULT);
        EXPECT_EQ(func->callconv, CC_STDCALL);
        BSTR names[4] = {};
        UINT count = 0;
        EXPECT_EQ(vtable->GetNames(func->memid, names, 4, &count), S_OK);
        std::vector<std::wstring> got;
        for (UINT n = 0; n < count; ++n) {
            got.emplace_back(names[n]);
            SysFreeString(names[n]);
        }
        EXPECT_EQ(got, methods[i]);
        EXPECT_EQ(func->cParams, static_cast<SHORT>(methods[i].size() - 1));
        if (i == 0 && func->cParams == 1) {
            EXPECT_EQ(func->lprgelemdescParam[0].tdesc.vt, VT_UNKNOWN);
        }
        vtable->ReleaseFuncDesc(func);
    }

    TComPtr<ITypeInfo> coclass;
    ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_CoWMPPlugin, coclass.put()), S_OK);
    ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    EXPECT_EQ(attr->cImplTypes, 1);
    coclass->ReleaseTypeAttr(attr);
    TBstr coclassName, coclassHelp;
    ASSERT_EQ(coclass->GetDocumentation(MEMBERID_NIL, coclassName.put(), coclassHelp.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(coclassName.str(), L"CoWMPPlugin");
    EXPECT_EQ(coclassHelp.str(), L"");
    HREFTYPE implRef = 0;
    ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &implRef), S_OK);
    TComPtr<ITypeInfo> implemented;
    ASSERT_EQ(coclass->GetRefTypeInfo(implRef, implemented.put()), S_OK);
    ASSERT_EQ(implemented->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, IID_IWMPPluginUI);
    implemented->ReleaseTypeAttr(attr);
    INT implFlags = 0;
    EXPECT_EQ(coclass->GetImplTypeFlags(0, &implFlags), S_OK);
    EXPECT_TRUE(implFlags & IMPLTYPEFLAG_FDEFAULT);

    // The object tells the same coclass.
    TComPtr<IWMPPluginUI> plugin;
    ASSERT_EQ(server.CreatePlugin(plugin), S_OK);
    TComPtr<IProvideClassInfo> provider;
    ASSERT_EQ(plugin->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(provider.put())), S_OK);
    TComPtr<ITypeInfo> classInfo;
    ASSERT_EQ(provider->GetClassInfo(classInfo.put()), S_OK);
    ASSERT_EQ(classInfo->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, CLSID_CoWMPPlugin);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    classInfo->ReleaseTypeAttr(attr);
}

TEST_F(WmpServer, TheMethodsWithoutWorkAnswerSOkAndWriteNothing) {
    TComPtr<IWMPPluginUI> plugin;
    ASSERT_EQ(server.CreatePlugin(plugin), S_OK);
    HWND window = reinterpret_cast<HWND>(0x1234);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = 77;
    MSG msg{};
    EXPECT_EQ(plugin->Create(nullptr, &window), S_OK);
    EXPECT_EQ(window, reinterpret_cast<HWND>(0x1234));
    EXPECT_EQ(plugin->Destroy(), S_OK);
    EXPECT_EQ(plugin->GetProperty(L"anything", &value), S_OK);
    EXPECT_EQ(value.vt, VT_I4);
    EXPECT_EQ(value.lVal, 77);
    EXPECT_EQ(plugin->SetProperty(L"anything", &value), S_OK);
    EXPECT_EQ(plugin->TranslateAccelerator(&msg), S_OK);
}

TEST_F(WmpServer, SetCoreKeepsTheLatestCoreAndReleasesTheFormerOnce) {
    TComPtr<IWMPPluginUI> plugin;
    ASSERT_EQ(server.CreatePlugin(plugin), S_OK);
    ASSERT_EQ(plugin->SetCore(core.Interface()), S_OK);
    EXPECT_EQ(core.Refs(), 1u);

    ASSERT_EQ(plugin->SetCore(otherCore.Interface()), S_OK);
    EXPECT_EQ(core.Refs(), 0u);
    EXPECT_FALSE(core.State.OverReleased);
    EXPECT_EQ(otherCore.Refs(), 1u);

    // Another object shares the one engine.
    TComPtr<IWMPPluginUI> second;
    ASSERT_EQ(server.CreatePlugin(second), S_OK);
    ASSERT_EQ(second->SetCore(nullptr), S_OK);
    EXPECT_EQ(otherCore.Refs(), 0u);
    EXPECT_TRUE(core.State.Log.empty());
    EXPECT_TRUE(otherCore.State.Log.empty());
}

TEST_F(WmpServer, WithoutAnEngineSetCoreFailsWithErrorInformationAndTheNextCallTriesAgain) {
    TComPtr<IWMPPluginUI> plugin;
    ASSERT_EQ(server.CreatePlugin(plugin), S_OK);
    {
        TNoMessageOnlyWindows noEngine;
        ASSERT_TRUE(noEngine.Installed());
        const int refusedBefore = TNoMessageOnlyWindows::Refused();
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(plugin->SetCore(core.Interface()), E_UNEXPECTED);
        EXPECT_GT(TNoMessageOnlyWindows::Refused(), refusedBefore) << "the engine was not made at all";
        EXPECT_EQ(core.Refs(), 0u) << "nothing is stored";

        TComPtr<IErrorInfo> info;
        ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
        ASSERT_TRUE(info);
        TBstr source, description;
        GUID guid{};
        EXPECT_EQ(info->GetSource(source.put()), S_OK);
        EXPECT_EQ(info->GetDescription(description.put()), S_OK);
        EXPECT_EQ(info->GetGUID(&guid), S_OK);
        EXPECT_EQ(source.str(), ProgId);
        EXPECT_EQ(Narrow(description.str()), NotInitialized);
        EXPECT_EQ(guid, IID_IWMPPluginUI);
    }
    EXPECT_EQ(plugin->SetCore(core.Interface()), S_OK);
    EXPECT_EQ(core.Refs(), 1u);
}

TEST_F(WmpServer, DisplayPropertyPageWithoutAnEngineShowsItsBoxOwnedByTheParent) {
    TComPtr<IWMPPluginUI> plugin;
    ASSERT_EQ(server.CreatePlugin(plugin), S_OK);
    TParentWindow parent;
    ASSERT_NE(parent.Handle(), nullptr);
    TNoMessageOnlyWindows noEngine;
    ASSERT_TRUE(noEngine.Installed());

    TBoxPresser presser("Error!", GetCurrentThreadId(), 20000);
    EXPECT_EQ(plugin->DisplayPropertyPage(parent.Handle()), S_OK);
    const TBoxSeen& seen = presser.Join();
    ASSERT_TRUE(seen.found) << "no box captioned Error!";
    EXPECT_EQ(seen.owner, parent.Handle());
    EXPECT_EQ(seen.text, NotInitialized);
    EXPECT_EQ(seen.visibleButtons, std::vector<int>{IDOK});
}

TEST_F(WmpServer, DisplayPropertyPageMakesTheEngineAndRunsTheDialogWithoutAnOwner) {
    const int remote = AddRemote();
    LearnPlayPause();
    TComPtr<IWMPPluginUI> plugin;
    ASSERT_EQ(server.CreatePlugin(plugin), S_OK);
    TParentWindow parent;
    // The dialog holds the call in its loop until this presses its OK.
    TBoxPresser presser("Clickwell - Orlanvale", GetCurrentThreadId(), 20000);
    EXPECT_EQ(plugin->DisplayPropertyPage(parent.Handle()), S_OK);
    const TBoxSeen& seen = presser.Join();
    ASSERT_TRUE(seen.found) << "no configuration dialog";
    EXPECT_EQ(seen.owner, nullptr);
    EXPECT_EQ(KwFake_OpenHandleCount(remote), 1) << "the engine's device handler, restarted by OK";
    // SetCore finds the same engine: the device is not opened again.
    ASSERT_EQ(plugin->SetCore(core.Interface()), S_OK);
    EXPECT_EQ(KwFake_OpenHandleCount(remote), 1);
}

// A dialog that cannot be made, as when the system is out of window resources.
INT_PTR WINAPI FailingDialogBoxParamA(HINSTANCE, LPCSTR, HWND, DLGPROC, LPARAM) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return -1;
}

TEST_F(WmpServer, AnErrorOfTheDialogIsShownInABoxOwnedByTheParentAndTheCallSucceeds) {
    AddRemote();
    LearnPlayPause();
    TComPtr<IWMPPluginUI> plugin;
    ASSERT_EQ(server.CreatePlugin(plugin), S_OK);
    TParentWindow parent;
    TImportHook hook(server.Module(), "USER32.dll", "DialogBoxParamA", reinterpret_cast<void*>(&FailingDialogBoxParamA));
    ASSERT_TRUE(hook.Installed());
    TBoxPresser presser("Error!", GetCurrentThreadId(), 20000);
    EXPECT_EQ(plugin->DisplayPropertyPage(parent.Handle()), S_OK);
    const TBoxSeen& seen = presser.Join();
    ASSERT_TRUE(seen.found) << "no box captioned Error!";
    EXPECT_EQ(seen.owner, parent.Handle());
    EXPECT_EQ(seen.text, SystemErrorText(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(seen.visibleButtons, std::vector<int>{IDOK});
}

TEST_F(WmpServer, DllGetClassObjectHandsOutTheFactoryOfItsOneClassOnly) {
    const GUID unknownClass = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    const struct {
        const CLSID* clsid;
        const IID* iid;
        HRESULT result;
        const char* name;
    } cases[] = {
        {&unknownClass, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE, "unknown class"},
        {&IID_IWMPPluginUI, &IID_IUnknown, CLASS_E_CLASSNOTAVAILABLE, "an interface id as the class"},
        {&CLSID_CoWMPPlugin, &IID_IClassFactory, S_OK, "IClassFactory"},
        {&CLSID_CoWMPPlugin, &IID_IUnknown, S_OK, "IUnknown"},
        {&CLSID_CoWMPPlugin, &IID_IDispatch, E_NOINTERFACE, "IDispatch"},
        {&CLSID_CoWMPPlugin, &IID_IWMPPluginUI, E_NOINTERFACE, "the plug-in interface"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(server.GetClassObject(*c.clsid, *c.iid, &out), c.result);
        if (FAILED(c.result)) {
            EXPECT_EQ(out, nullptr);
        } else {
            ASSERT_NE(out, nullptr);
            static_cast<IUnknown*>(out)->Release();
        }
    }

    TComPtr<IClassFactory> factory;
    ASSERT_EQ(server.GetClassObject(CLSID_CoWMPPlugin, IID_IClassFactory, reinterpret_cast<void**>(factory.put())),
              S_OK);
    TComPtr<IUnknown> outer;
    ASSERT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(outer.put())), S_OK);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    outer = {};
    factory = {};
    EXPECT_EQ(server.CanUnloadNow(), S_OK) << "a refused object is not alive";
}

TEST_F(WmpServer, DllCanUnloadNowOnlyWithNoObjectNoFactoryReferenceAndNoLock) {
    TComPtr<IClassFactory> factory;
    TComPtr<IWMPPluginUI> plugin, second;
    const auto takeFactory = [&] {
        EXPECT_EQ(
            server.GetClassObject(CLSID_CoWMPPlugin, IID_IClassFactory, reinterpret_cast<void**>(factory.put())), S_OK);
    };
    const auto create = [&](TComPtr<IWMPPluginUI>& into) {
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IWMPPluginUI, reinterpret_cast<void**>(into.put())), S_OK);
    };
    const struct {
        const char* step;
        std::function<void()> act;
        HRESULT expected;
    } steps[] = {
        {"nothing made", [] {}, S_OK},
        {"factory referenced", takeFactory, S_FALSE},
        {"an object alive", [&] { create(plugin); }, S_FALSE},
        {"factory released, the object alive", [&] { factory = {}; }, S_FALSE},
        {"its last reference released", [&] { plugin = {}; }, S_OK},
        {"two objects", [&] { takeFactory(); create(plugin); create(second); factory = {}; }, S_FALSE},
        {"one of them released", [&] { plugin = {}; }, S_FALSE},
        {"both released", [&] { second = {}; }, S_OK},
        {"locked", [&] { takeFactory(); factory->LockServer(TRUE); factory = {}; }, S_FALSE},
        {"locked twice", [&] { takeFactory(); factory->LockServer(TRUE); factory = {}; }, S_FALSE},
        {"unlocked once", [&] { takeFactory(); factory->LockServer(FALSE); factory = {}; }, S_FALSE},
        {"unlocked", [&] { takeFactory(); factory->LockServer(FALSE); factory = {}; }, S_OK},
    };
    for (const auto& s : steps) {
        s.act();
        EXPECT_EQ(server.CanUnloadNow(), s.expected) << s.step;
    }
}

TEST_F(WmpServer, ALearnedPressReachesTheCoreThroughTheComPath) {
    const int remote = AddRemote();
    LearnPlayPause();
    TComPtr<IWMPPluginUI> plugin;
    ASSERT_EQ(server.CreatePlugin(plugin), S_OK);
    ASSERT_EQ(plugin->SetCore(core.Interface()), S_OK);
    ASSERT_TRUE(EngineHasOpened(remote));

    Send(remote, PlayPress);
    EXPECT_TRUE(Pump(5000, [&] { return core.State.Log.size() >= 3; }));
    EXPECT_EQ(core.State.Log, (std::vector<std::string>{"playState", "controls", "controls.play"}));
}

TEST_F(WmpServer, ReleasingTheObjectLeavesTheEngineRunningUntilDllCanUnloadNowReleasesIt) {
    const int remote = AddRemote();
    LearnPlayPause();
    const int threadsBefore = ProcessThreadCount();
    TComPtr<IWMPPluginUI> plugin;
    ASSERT_EQ(server.CreatePlugin(plugin), S_OK);
    ASSERT_EQ(plugin->SetCore(core.Interface()), S_OK);
    ASSERT_TRUE(EngineHasOpened(remote));
    EXPECT_GT(ProcessThreadCount(), threadsBefore) << "a reading thread";
    plugin = {};

    EXPECT_EQ(KwFake_OpenHandleCount(remote), 1);
    EXPECT_EQ(core.Refs(), 1u);
    Send(remote, PlayPress);
    EXPECT_TRUE(Pump(5000, [&] { return HasEntry(core, "controls.play"); }));

    // The answer comes only after the device is closed, the core released and the reading
    // thread gone.
    EXPECT_EQ(server.CanUnloadNow(), S_OK);
    EXPECT_EQ(KwFake_OpenHandleCount(remote), 0);
    EXPECT_EQ(core.Refs(), 0u);
    EXPECT_EQ(ProcessThreadCount(), threadsBefore);
}

TEST_F(WmpServer, DllCanUnloadNowOnAnotherThreadLeavesTheEngineToItsOwnThread) {
    const int remote = AddRemote();
    LearnPlayPause();
    {
        TComPtr<IWMPPluginUI> plugin;
        ASSERT_EQ(server.CreatePlugin(plugin), S_OK);
        ASSERT_EQ(plugin->SetCore(core.Interface()), S_OK);
        ASSERT_TRUE(EngineHasOpened(remote));
    }
    // Its timers and windows belong to the thread that made it: no other may free them.
    HRESULT elsewhere = E_FAIL;
    std::thread([&] { elsewhere = server.CanUnloadNow(); }).join();
    EXPECT_EQ(elsewhere, S_FALSE);
    EXPECT_EQ(KwFake_OpenHandleCount(remote), 1);
    EXPECT_EQ(core.Refs(), 1u);
    EXPECT_EQ(server.CanUnloadNow(), S_OK);
    EXPECT_EQ(KwFake_OpenHandleCount(remote), 0);
}

// --- registration

// The class keys as registration writes them, read back.
struct TRegistration {
    std::optional<std::wstring> classKey, server, progId, progIdClass, classProgId, version, typeLib;
    bool threadingModel = false;
    bool operator==(const TRegistration&) const = default;
};

TRegistration ReadRegistration() {
    const std::wstring clsid = L"CLSID\\" + GuidText(CLSID_CoWMPPlugin);
    TRegistration r;
    r.classKey = DefaultValue(HKEY_CLASSES_ROOT, clsid);
    r.server = DefaultValue(HKEY_CLASSES_ROOT, clsid + L"\\InprocServer32");
    r.threadingModel = DefaultValue(HKEY_CLASSES_ROOT, clsid + L"\\InprocServer32", L"ThreadingModel").has_value();
    r.progId = DefaultValue(HKEY_CLASSES_ROOT, ProgId);
    r.progIdClass = DefaultValue(HKEY_CLASSES_ROOT, std::wstring(ProgId) + L"\\Clsid");
    r.classProgId = DefaultValue(HKEY_CLASSES_ROOT, clsid + L"\\ProgID");
    r.version = DefaultValue(HKEY_CLASSES_ROOT, clsid + L"\\Version");
    r.typeLib = DefaultValue(HKEY_CLASSES_ROOT, clsid + L"\\TypeLib");
    return r;
}

std::wstring RegisteredTypeLibPath() {
    TBstr path;
    if (FAILED(QueryPathOfRegTypeLib(LIBID_kwhid_wmp, 1, 0, 0x0409, path.put()))) return {};
    std::wstring text = path.str();
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

void PrintTo(const TRegistration& r, std::ostream* os) {
    const auto show = [os](const char* name, const std::optional<std::wstring>& value) {
        *os << name << "=" << (value ? "\"" + Narrow(*value) + "\"" : std::string("<missing>")) << " ";
    };
    show("class", r.classKey);
    show("InprocServer32", r.server);
    show("progid", r.progId);
    show("progid\\Clsid", r.progIdClass);
    show("ProgID", r.classProgId);
    show("Version", r.version);
    show("TypeLib", r.typeLib);
    *os << "ThreadingModel=" << (r.threadingModel ? "present" : "absent");
}

class WmpRegistration : public WmpServer {
protected:
    void CheckRegistersAndUnregisters(TWmpServer& s, const std::wstring& path, const std::wstring& serverPath) {
        TRegistration expected;
        expected.classKey = L"";
        expected.server = serverPath;
        expected.progId = L"";
        expected.progIdClass = GuidText(CLSID_CoWMPPlugin);
        expected.classProgId = ProgId;
        expected.version = L"1.0";
        expected.typeLib = GuidText(LIBID_kwhid_wmp);
        const std::wstring libKey = L"TypeLib\\" + GuidText(LIBID_kwhid_wmp);
        const std::wstring interfaceKey = L"Interface\\" + GuidText(IID_IWMPPluginUI);

        for (int round = 1; round <= 2; ++round) {
            SCOPED_TRACE(round == 1 ? "registered once" : "registered twice");
            ASSERT_EQ(s.RegisterServer(), S_OK);
            EXPECT_EQ(ReadRegistration(), expected);
            EXPECT_EQ(RegisteredTypeLibPath(), path);
            EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, libKey + L"\\1.0"), L"kwhid_wmp Library");
            EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, libKey + L"\\1.0\\HELPDIR"),
                      path.substr(0, path.find_last_of(L'\\') + 1));
            EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, interfaceKey), L"IWMPPluginUI");
        }

        ASSERT_EQ(s.UnregisterServer(), S_OK);
        EXPECT_EQ(ReadRegistration(), TRegistration{});
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(CLSID_CoWMPPlugin)));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ProgId));
        EXPECT_EQ(RegisteredTypeLibPath(), L"");
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, interfaceKey));
    }
};

TEST_F(WmpRegistration, RegisteringTwiceWritesTheSameKeysAndUnregisteringRemovesThemAll) {
    const std::wstring path = ServerPath();
    ASSERT_EQ(path.find(L' '), std::wstring::npos) << "the build folder holds a blank";
    CheckRegistersAndUnregisters(server, path, path);
}

TEST_F(WmpRegistration, APathWithABlankIsRegisteredInItsShortForm) {
    TTempFolder temp;
    const std::wstring folder = FullWindowsPath(temp.Path("Media Player Plugins"));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring copy = folder + L"\\kwhid_wmp.dll";
    ASSERT_TRUE(CopyFileW(ServerPath().c_str(), copy.c_str(), FALSE));
    wchar_t shortPath[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameW(copy.c_str(), shortPath, MAX_PATH), 0u);
    ASSERT_EQ(std::wstring(shortPath).find(L' '), std::wstring::npos) << Narrow(shortPath);

    TWmpServer copied;
    ASSERT_EQ(copied.Load(copy), "");
    CheckRegistersAndUnregisters(copied, copy, shortPath);
    EXPECT_EQ(copied.CanUnloadNow(), S_OK);
    copied.Unload();
}

// --- unloading

class WmpUnload : public WmpServer {
protected:
    bool LoadsServer() const override { return false; }
};

// The handles of this process that a leak of ours would add to, from the system's handle
// list (GetProcessHandleCount answers 0 under Wine). Left out are the kinds the system
// makes once per process when first needed, at moments no test controls: the semaphore
// of a contended critical section, OutputDebugString's mutex and object directory.
// -1 when the list cannot be read.
int ProcessHandles() {
    struct TEntry {
        ULONG OwnerPid;
        BYTE ObjectType;
        BYTE HandleFlags;
        USHORT HandleValue;
        PVOID ObjectPointer;
        ULONG AccessMask;
    };
    struct TName {
        USHORT Length;
        USHORT MaximumLength;
        PWSTR Buffer;
    };
    using TQuerySystem = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    using TQueryObject = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    constexpr ULONG SystemHandleInformation = 16;
    constexpr ULONG ObjectTypeInformation = 2;
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    static const auto querySystem = reinterpret_cast<TQuerySystem>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
    static const auto queryObject =
        reinterpret_cast<TQueryObject>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryObject")));
    if (!querySystem || !queryObject) return -1;
    std::vector<ULONG> buffer(1 << 16);
    for (int attempt = 0; attempt < 8; ++attempt, buffer.resize(buffer.size() * 2)) {
        ULONG length = 0;
        const auto bytes = static_cast<ULONG>(buffer.size() * sizeof(ULONG));
        if (querySystem(SystemHandleInformation, buffer.data(), bytes, &length) != 0) continue;
        const auto* entry = reinterpret_cast<const TEntry*>(buffer.data() + 1);
        int counted = 0;
        for (ULONG i = 0; i < buffer[0] && sizeof(ULONG) + (i + 1) * sizeof(TEntry) <= bytes; ++i) {
            if (entry[i].OwnerPid != GetCurrentProcessId()) continue;
            alignas(8) BYTE type[512] = {};
            const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(entry[i].HandleValue));
            std::wstring kind;
            if (queryObject(handle, ObjectTypeInformation, type, sizeof type, nullptr) == 0) {
                const auto* name = reinterpret_cast<const TName*>(type);
                if (name->Buffer) kind.assign(name->Buffer, name->Length / sizeof(wchar_t));
            }
            if (kind != L"Semaphore" && kind != L"Mutant" && kind != L"Directory") ++counted;
        }
        return counted;
    }
    return -1;
}

// What loading and freeing the library alone leaves behind, per load. Under Wine 2: the
// statically linked winpthread records the loading thread (an event and a duplicate of the
// thread's handle) when the library registers its unwind tables, and the library's detach
// does not free that record of a thread that lives on. -1 when handles cannot be counted.
int BareLoadHandleCost(const std::wstring& path) {
    // Once first: what the system makes once per process does not count.
    FreeLibrary(LoadLibraryW(path.c_str()));
    const int before = ProcessHandles();
    constexpr int loads = 4;
    for (int i = 0; i < loads; ++i) FreeLibrary(LoadLibraryW(path.c_str()));
    const int after = ProcessHandles();
    if (before <= 0 || after <= 0 || (after - before) % loads != 0) return -1;
    return (after - before) / loads;
}

// The process's handle count once it is expected, or after a while without it: the fake
// device closes its ends of the pipes on its own thread. expected -1: after a while.
int SettledHandles(int expected) {
    int count = ProcessHandles();
    for (int i = 0; i < 100 && count != expected; ++i) {
        Sleep(20);
        count = ProcessHandles();
    }
    return count;
}

// Each cycle loads the library, makes an object, sets a core, presses the learned button,
// and unloads it as COM does, with reports still arriving. Every tenth cycle waits for
// the press to reach the core.
TEST_F(WmpUnload, HundredCyclesWithReadsInFlightLeaveNoThreadHandleOrReference) {
    const int remote = AddRemote();
    LearnPlayPause();
    const std::wstring path = ServerPath();
    const int threadsBefore = ProcessThreadCount();
    const int loadCost = BareLoadHandleCost(path);
    int handlesBefore = ProcessHandles();
    const bool countsHandles = handlesBefore > 0 && loadCost >= 0;

    for (int cycle = 0; cycle < 100 && !HasFailure(); ++cycle) {
        SCOPED_TRACE(Format("cycle %d", cycle));
        watchdog.Arm(Format("cycle %d: load and set the core", cycle));
        core.State.Log.clear();
        TWmpServer s;
        ASSERT_EQ(s.Load(path), "");
        {
            TComPtr<IWMPPluginUI> plugin;
            ASSERT_EQ(s.CreatePlugin(plugin), S_OK);
            ASSERT_EQ(plugin->SetCore(core.Interface()), S_OK);
            ASSERT_TRUE(EngineHasOpened(remote));
            Send(remote, PlayPress);
            if (cycle % 10 == 0) {
                watchdog.Arm(Format("cycle %d: the press", cycle));
                EXPECT_TRUE(Pump(5000, [&] { return HasEntry(core, "controls.play"); }));
            }
            watchdog.Arm(Format("cycle %d: release and unload", cycle));
            TReportStream stream(remote, PlayPress);
            Pump(2, [] { return false; });
            plugin = {};
            EXPECT_EQ(s.CanUnloadNow(), S_OK);
            s.Unload();
        }
        EXPECT_EQ(GetModuleHandleW(path.c_str()), nullptr);
        EXPECT_EQ(KwFake_OpenHandleCount(remote), 0);
        EXPECT_EQ(ProcessThreadCount(), threadsBefore);
        EXPECT_EQ(core.Refs(), 0u);
        EXPECT_EQ(core.SubObjectRefs(), 0u);
        if (countsHandles) {
            // The first cycle also makes what the system makes once per process. The fake
            // device closes its end of a client's pipe on a thread of its own, soon after.
            if (cycle == 0) handlesBefore = SettledHandles(-1);
            const int expected = handlesBefore + cycle * loadCost;
            EXPECT_EQ(SettledHandles(expected), expected);
        }
    }
    if (countsHandles) {
        std::printf("a bare load and unload of the library costs %d handles; a cycle cost no more\n", loadCost);
    } else {
        std::printf("no handle count here: handles not counted\n");
    }
}

// A host that frees the library without asking DllCanUnloadNow: the engine keeps the
// library loaded, with a device open and its reads in flight, or with no device and so no
// thread of ours at all; a reload finds the running engine.
TEST_F(WmpUnload, FreeLibraryWithTheEngineRunningLeavesItRunningAndAReloadTakesItOver) {
    const int remote = AddRemote();
    const std::wstring path = ServerPath();
    const int threadsBefore = ProcessThreadCount();
    for (const bool reading : {true, false}) {
        SCOPED_TRACE(reading ? "a device open" : "no device open");
        if (reading) {
            LearnPlayPause();
        } else {
            DeleteFileA(settings.c_str());
        }
        core.State.Log.clear();
        otherCore.State.Log.clear();
        HMODULE first = nullptr;
        {
            TWmpServer careless;
            ASSERT_EQ(careless.Load(path), "");
            first = careless.Module();
            TComPtr<IWMPPluginUI> plugin;
            ASSERT_EQ(careless.CreatePlugin(plugin), S_OK);
            ASSERT_EQ(plugin->SetCore(core.Interface()), S_OK);
            if (reading) {
                ASSERT_TRUE(EngineHasOpened(remote));
            }
            watchdog.Arm("FreeLibrary without DllCanUnloadNow");
            std::optional<TReportStream> stream;
            if (reading) stream.emplace(remote, PlayPress);
            Pump(2, [] { return false; });
            plugin = {};
            careless.Unload();
        }
        EXPECT_EQ(GetModuleHandleW(path.c_str()), first) << "unloaded with the engine running";
        EXPECT_EQ(KwFake_OpenHandleCount(remote), reading ? 1 : 0);
        EXPECT_EQ(core.Refs(), 1u);
        if (reading) {
            watchdog.Arm("the press after FreeLibrary");
            // The stream's burst ends first: a press within its quiet time would be part of it.
            Pump(600, [] { return false; });
            core.State.Log.clear();
            Send(remote, PlayPress);
            EXPECT_TRUE(Pump(5000, [&] { return HasEntry(core, "controls.play"); }));
        }

        watchdog.Arm("the reload");
        TWmpServer again;
        ASSERT_EQ(again.Load(path), "");
        EXPECT_EQ(again.Module(), first);
        {
            TComPtr<IWMPPluginUI> plugin;
            ASSERT_EQ(again.CreatePlugin(plugin), S_OK);
            ASSERT_EQ(plugin->SetCore(otherCore.Interface()), S_OK);
            EXPECT_EQ(core.Refs(), 0u) << "the running engine got the new core";
            EXPECT_EQ(KwFake_OpenHandleCount(remote), reading ? 1 : 0) << "the running engine, not a second one";
            if (reading) {
                Send(remote, PlayPress);
                EXPECT_TRUE(Pump(5000, [&] { return HasEntry(otherCore, "controls.play"); }));
            }
        }
        watchdog.Arm("unload after the reload");
        EXPECT_EQ(again.CanUnloadNow(), S_OK);
        again.Unload();
        EXPECT_EQ(GetModuleHandleW(path.c_str()), nullptr);
        EXPECT_EQ(KwFake_OpenHandleCount(remote), 0);
        EXPECT_EQ(otherCore.Refs(), 0u);
        EXPECT_EQ(ProcessThreadCount(), threadsBefore);
    }
}

// The player ends with the engine running and reports arriving: the library is told
// of the process's end and must not wait for anything then. Run as a child process,
// which this test kills if it does not end.
constexpr char ExitChildVariable[] = "KW_WMP_EXIT_CHILD";
constexpr UINT ExitChildCode = 7;

TEST_F(WmpUnload, ProcessExitWithTheEngineRunningWaitsForNothing) {
    wchar_t exe[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
    std::wstring command = L"\"" + std::wstring(exe) + L"\" --gtest_filter=WmpUnload.ExitChild";
    SetEnvironmentVariableA(ExitChildVariable, "1");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    const BOOL started =
        CreateProcessW(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child);
    SetEnvironmentVariableA(ExitChildVariable, nullptr);
    ASSERT_TRUE(started) << "error " << GetLastError();
    TUniqueThread childThread(child.hThread);
    TUniqueEvent childProcess(child.hProcess);

    // Within the watchdog's minute, so that the child is killed and not left hanging.
    const DWORD waited = WaitForSingleObject(childProcess.get(), 30000);
    if (waited != WAIT_OBJECT_0) TerminateProcess(childProcess.get(), 99);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "the process did not end: a wait at its end";
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(childProcess.get(), &code));
    EXPECT_EQ(code, ExitChildCode) << "the child failed before it could end the process";
}

// The child's part: skipped unless the test above runs it.
TEST_F(WmpUnload, ExitChild) {
    if (!GetEnvironmentVariableA(ExitChildVariable, nullptr, 0)) GTEST_SKIP() << "run by ProcessExitWithTheEngineRunningWaitsForNothing";
    const int remote = AddRemote();
    LearnPlayPause();
    // Left to the end of the process, as the player leaves them.
    auto* player = new TFakeWmpCore;
    auto* s = new TWmpServer;
    ASSERT_EQ(s->Load(ServerPath()), "");
    TComPtr<IWMPPluginUI> plugin;
    ASSERT_EQ(s->CreatePlugin(plugin), S_OK);
    ASSERT_EQ(plugin->SetCore(player->Interface()), S_OK);
    ASSERT_TRUE(EngineHasOpened(remote));
    Send(remote, PlayPress);
    new TReportStream(remote, PlayPress);
    Pump(50, [] { return false; });
    std::fflush(stdout);
    ExitProcess(ExitChildCode);
}

}  // namespace
