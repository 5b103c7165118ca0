#include "hosts/wmp/uWMPPlugin.h"

#include <olectl.h>

#include <string>
#include <utility>
#include <vector>

#include "hid/kwhid.h"
#include "hid/kwhidw32.h"
#include "hid/kwwin32di.h"
#include "players/HidProcessorWmp.h"
#include "rtl/exception.h"
#include "rtl/win32/comptr.h"
#include "rtl/win32/handle.h"
#include "rtl/win32/module.h"
#include "rtl/win32/olecheck.h"
#include "ui/FrmConfig.h"

namespace {

// What keeps the library loaded: objects alive, references on the factory, and locks.
std::atomic<long> ObjectCount{0};
std::atomic<long> FactoryRefs{0};
std::atomic<long> LockCount{0};

// While the engine lives, it holds a reference on this library: a host that frees the
// library without asking DllCanUnloadNow leaves it loaded with the engine running,
// rather than unmapping the code of its timers, windows and reading threads. A plain
// handle: a static owner would free it from the library's finalisation.
HMODULE EnginePin = nullptr;
// The thread that made the engine: its timers and windows belong to that thread.
DWORD EngineThread = 0;

// The engine, made on first use: the device handlers read real HID ports.
TWmpHidProcessor* Engine() {
    static bool portsChosen = false;
    if (!portsChosen) {
        UseHidPortsForEngine();
        portsChosen = true;
    }
    TWmpHidProcessor* engine = HidProcessorWmp::GetHidProcessor();
    if (engine && !EnginePin) {
        EngineThread = GetCurrentThreadId();
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Engine),
                                &EnginePin))
            EnginePin = nullptr;
    }
    return engine;
}

// Releases the engine and the system libraries it bound, outside the loader lock: the
// device handlers wait for their reading threads. False when the engine lives on
// another thread, which alone can free its timers and windows.
bool ReleaseEngine() noexcept {
    if (HidProcessorWmp::HidProcessor() && GetCurrentThreadId() != EngineThread) return false;
    HidProcessorWmp::FreeHidProcessor();
    kwhidw32::FreeHidLibrary();
    kwwin32di::FreeSetupApi();
    // The caller holds a reference of its own on the library (it has just called into
    // it), so this one never unmaps the code we return to.
    if (HMODULE pin = std::exchange(EnginePin, nullptr)) FreeLibrary(pin);
    return true;
}

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
    return result;
}

// Leaves description as the thread's COM error information for IWMPPluginUI and gives
// back hr. A failure to record it leaves hr alone.
HRESULT Failure(HRESULT hr, const std::string& description) noexcept {
    try {
        TComPtr<ICreateErrorInfo> create;
        if (FAILED(CreateErrorInfo(create.put()))) return hr;
        create->SetGUID(IID_IWMPPluginUI);
        create->SetSource(const_cast<LPOLESTR>(PluginProgId));
        std::wstring text = Widen(description);
        create->SetDescription(text.data());
        TComPtr<IErrorInfo> info;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put()))))
            SetErrorInfo(0, info.get());
    } catch (...) {
    }
    return hr;
}

// Runs body; an error raised in it becomes a failure result with error information:
// E_UNEXPECTED, unless the error carries a COM result of its own.
template <class F>
HRESULT Guarded(F&& body) noexcept {
    try {
        body();
        return S_OK;
    } catch (const EOleException& e) {
        return Failure(FAILED(e.ErrorCode) ? e.ErrorCode : E_UNEXPECTED, e.Message());
    } catch (...) {
        return Failure(E_UNEXPECTED, CurrentExceptionText());
    }
}


std::wstring ModulePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(ThisModule(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) throw Exception("Cannot read the library's file name");
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

// The path InprocServer32 names: the short form when the path holds a blank, which
// some hosts split the command line at.
std::wstring ServerPath(const std::wstring& path) {
    if (path.find(L' ') == std::wstring::npos) return path;
    const DWORD length = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (length == 0) return path;
    std::wstring shortPath(length, L'\0');
    const DWORD written = GetShortPathNameW(path.c_str(), shortPath.data(), length);
    if (written == 0 || written >= length) return path;
    shortPath.resize(written);
    return shortPath;
}

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

TComPtr<ITypeLib> OwnTypeLib(const std::wstring& path) {
    TComPtr<ITypeLib> library;
    OleCheck(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()));
    return library;
}

// One key below HKEY_CLASSES_ROOT with its default value.
bool WriteClassKey(const std::wstring& subKey, const std::wstring& value) {
    TUniqueRegKey key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return false;
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) ==
           ERROR_SUCCESS;
}

// A key that is not there counts as deleted.
bool DeleteClassKey(const std::wstring& subKey) {
    const LSTATUS status = RegDeleteKeyW(HKEY_CLASSES_ROOT, subKey.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

struct TClassKeys {
    std::wstring classKey = L"CLSID\\" + GuidText(CLSID_CoWMPPlugin);
    std::wstring server = classKey + L"\\InprocServer32";
    std::wstring progId = PluginProgId;
    std::wstring progIdClass = progId + L"\\Clsid";
    std::wstring progIdKey = classKey + L"\\ProgID";
    std::wstring version = classKey + L"\\Version";
    std::wstring typeLib = classKey + L"\\TypeLib";
};

class TClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    // The factory is never freed: the counts only tell DllCanUnloadNow whether a client
    // still holds it.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++FactoryRefs); }
    ULONG STDMETHODCALLTYPE Release() override {
        long refs = FactoryRefs.load();
        while (refs > 0 && !FactoryRefs.compare_exchange_weak(refs, refs - 1)) {
        }
        return static_cast<ULONG>(refs > 0 ? refs - 1 : 0);
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        try {
            TComPtr<IWMPPluginUI> plugin(new TWMPPlugin1);
            return plugin->QueryInterface(iid, out);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            ++LockCount;
        } else {
            long locks = LockCount.load();
            while (locks > 0 && !LockCount.compare_exchange_weak(locks, locks - 1)) {
            }
        }
        return S_OK;
    }
};

TClassFactory Factory;

}  // namespace

TWMPPlugin1::TWMPPlugin1() noexcept { ++ObjectCount; }

TWMPPlugin1::~TWMPPlugin1() { --ObjectCount; }

HRESULT TWMPPlugin1::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IWMPPluginUI)
        *out = static_cast<IWMPPluginUI*>(this);
    else if (iid == IID_ISupportErrorInfo)
        *out = static_cast<ISupportErrorInfo*>(this);
    else if (iid == IID_IProvideClassInfo)
        *out = static_cast<IProvideClassInfo*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG TWMPPlugin1::AddRef() { return ++refs_; }

ULONG TWMPPlugin1::Release() {
    const ULONG refs = --refs_;
    // Releasing the object leaves the engine running: DllCanUnloadNow releases it.
    if (refs == 0) delete this;
    return refs;
}

HRESULT TWMPPlugin1::SetCore(IWMPCore* pCore) {
    return Guarded([pCore] {
        TWmpHidProcessor* engine = Engine();
        if (!engine) throw Exception(NotInitializedText);
        engine->SetCore(pCore);
    });
}

HRESULT TWMPPlugin1::Create(HWND, HWND*) { return S_OK; }

HRESULT TWMPPlugin1::Destroy() { return S_OK; }

HRESULT TWMPPlugin1::DisplayPropertyPage(HWND hwndParent) {
    return Guarded([hwndParent] {
        TWmpHidProcessor* engine = Engine();
        if (!engine) {
            MessageBoxA(hwndParent, NotInitializedText, "Error!", MB_OK);
            return;
        }
        try {
            RunConfiguration(*engine);
        } catch (...) {
            MessageBoxA(hwndParent, CurrentExceptionText().c_str(), "Error!", MB_OK);
        }
    });
}

HRESULT TWMPPlugin1::GetProperty(const WCHAR*, VARIANT*) { return S_OK; }

HRESULT TWMPPlugin1::SetProperty(const WCHAR*, const VARIANT*) { return S_OK; }

HRESULT TWMPPlugin1::TranslateAccelerator(LPMSG) { return S_OK; }

HRESULT TWMPPlugin1::InterfaceSupportsErrorInfo(REFIID iid) {
    return iid == IID_IUnknown || iid == IID_IWMPPluginUI || iid == IID_ISupportErrorInfo ||
                   iid == IID_IProvideClassInfo
               ? S_OK
               : S_FALSE;
}

HRESULT TWMPPlugin1::GetClassInfo(ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    try {
        return OwnTypeLib(ModulePath())->GetTypeInfoOfGuid(CLSID_CoWMPPlugin, info);
    } catch (const EOleException& e) {
        return e.ErrorCode;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (clsid != CLSID_CoWMPPlugin) return CLASS_E_CLASSNOTAVAILABLE;
    return Factory.QueryInterface(iid, out);
}

// Before it answers S_OK the engine is gone: devices closed, core released, reading
// threads ended. COM unloads the library after that answer, under the loader lock,
// where none of it could be done.
STDAPI DllCanUnloadNow() {
    if (ObjectCount.load() > 0 || FactoryRefs.load() > 0 || LockCount.load() > 0) return S_FALSE;
    return ReleaseEngine() ? S_OK : S_FALSE;
}

// Steps done before a failing one stay done.
STDAPI DllRegisterServer() {
    try {
        const std::wstring path = ModulePath();
        const TComPtr<ITypeLib> library = OwnTypeLib(path);
        std::wstring file = path;
        std::wstring helpFolder = path.substr(0, path.find_last_of(L'\\') + 1);
        if (FAILED(RegisterTypeLib(library.get(), file.data(), helpFolder.data()))) return E_FAIL;

        TLIBATTR* attributes = nullptr;
        if (FAILED(library->GetLibAttr(&attributes))) return E_FAIL;
        const std::wstring version =
            std::to_wstring(attributes->wMajorVerNum) + L"." + std::to_wstring(attributes->wMinorVerNum);
        const std::wstring libId = GuidText(attributes->guid);
        library->ReleaseTLibAttr(attributes);

        const TClassKeys keys;
        // The coclass has no help string, so the description is empty.
        const std::pair<const std::wstring&, std::wstring> entries[] = {
            {keys.classKey, L""},
            {keys.server, ServerPath(path)},
            {keys.progId, L""},
            {keys.progIdClass, GuidText(CLSID_CoWMPPlugin)},
            {keys.progIdKey, PluginProgId},
            {keys.version, version},
            {keys.typeLib, libId},
        };
        for (const auto& [key, value] : entries)
            if (!WriteClassKey(key, value)) return E_FAIL;
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

STDAPI DllUnregisterServer() {
    try {
        const TComPtr<ITypeLib> library = OwnTypeLib(ModulePath());
        TLIBATTR* attributes = nullptr;
        if (FAILED(library->GetLibAttr(&attributes))) return E_FAIL;
        const HRESULT unregistered = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum,
                                                       attributes->wMinorVerNum, attributes->lcid, attributes->syskind);
        library->ReleaseTLibAttr(attributes);
        if (FAILED(unregistered)) return E_FAIL;

        const TClassKeys keys;
        for (const std::wstring* key : {&keys.typeLib, &keys.version, &keys.progIdKey, &keys.progIdClass,
                                        &keys.progId, &keys.server, &keys.classKey})
            if (!DeleteClassKey(*key)) return E_FAIL;
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}
