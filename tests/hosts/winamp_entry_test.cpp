// The Winamp plug-in as Winamp sees it: the real kwhid_gen.dll loaded by its full path,
// its export and callbacks called the way Winamp calls them, on the fake HID platform.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/hidaction.h"
#include "engine/kwcrc.h"
#include "rtl/format.h"
#include "rtl/win32/handle.h"
#include "tests/fakeos/fakeos.h"
#include "tests/hosts/import_hook.h"
#include "tests/hosts/winamp_host.h"
#include "tests/support/temp_folder.h"
#include "util/kwwin32.h"

namespace {
constexpr USHORT ReportLength = 4;
constexpr const char* BoundLibraries[] = {"hid.dll", "setupapi.dll", "cfgmgr32.dll"};

// The build's file, with Wine's drive for the Unix root.
std::string PluginPath() {
    std::string path = KW_GEN_DLL;
    if (!path.empty() && path[0] == '/') {
        std::replace(path.begin(), path.end(), '/', '\\');
        path = "Z:" + path;
    }
    return path;
}

uint32_t SignatureOf(std::vector<uint8_t> report) {
    report.resize(ReportLength, 0);  // devices deliver whole reports
    return UpdateSignature(report.data(), report.size(), SignatureNone);
}

// One settings line: the action's text form as the engine stores it.
std::string ActionText(TActionCode code, uint32_t press, uint32_t release, int device) {
    THidAction action;
    action.Code = code;
    action.PressSignature = press;
    action.ReleaseSignature = release;
    action.DeviceIndex = device;
    return action.AsText();
}

// A system out of window resources.
HWND WINAPI FailingCreateWindowExA(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE,
                                   LPVOID) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

// Answers the message boxes a thread shows, as a user would: reads each one and presses
// OK, so that a box nobody expected ends too instead of hanging the test.
class TBoxAnswerer {
public:
    struct TBox {
        std::string caption, text;
        HWND owner;
    };

    explicit TBoxAnswerer(DWORD thread) : thread_(thread), worker_([this] { Run(); }) {}
    ~TBoxAnswerer() { Stop(); }

    // The boxes answered so far.
    std::vector<TBox> Stop() {
        stop_ = true;
        if (worker_.joinable()) worker_.join();
        return boxes_;
    }
    // The configuration dialogs that showed, each cancelled.
    const std::vector<TBox>& Dialogs() const { return dialogs_; }

private:
    void Run() {
        while (!stop_) {
            EnumThreadWindows(thread_, &Visit, reinterpret_cast<LPARAM>(this));
            Sleep(10);
        }
    }
    static BOOL CALLBACK Visit(HWND window, LPARAM self) {
        reinterpret_cast<TBoxAnswerer*>(self)->Answer(window);
        return TRUE;
    }
    void Answer(HWND window) {
        char name[32] = "";
        GetClassNameA(window, name, sizeof name);
        if (std::strcmp(name, "#32770") != 0 || !IsWindowVisible(window) || answered_.count(window)) return;
        char caption[256] = "", text[256] = "";
        GetWindowTextA(window, caption, sizeof caption);
        GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
        answered_.insert(window);
        // The configuration dialog is cancelled, so that it writes nothing.
        if (std::strcmp(caption, "Clickwell - Orlanvale") == 0) {
            dialogs_.push_back({caption, "", GetWindow(window, GW_OWNER)});
            PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
            return;
        }
        boxes_.push_back({caption, text, GetWindow(window, GW_OWNER)});
        PostMessageA(window, WM_COMMAND, IDOK, 0);
    }

    DWORD thread_;
    std::atomic<bool> stop_{false};
    std::vector<TBox> boxes_;
    std::vector<TBox> dialogs_;
    std::set<HWND> answered_;
    std::thread worker_;
};

// Each test loads the library afresh, as a new Winamp session would, on a fresh fake
// system with no devices and no settings file.
class WinampEntry : public testing::Test {
protected:
    void SetUp() override {
        KwFake_Reset();
        ASSERT_TRUE(KwFake_InstallAll()) << "error " << GetLastError();
        settings = WinampSettingsPath();
        ASSERT_FALSE(settings.empty());
        DeleteFileA(settings.c_str());
        for (const char* library : BoundLibraries) ASSERT_EQ(GetModuleHandleA(library), nullptr) << library;
        ASSERT_NO_FATAL_FAILURE(Load(PluginPath()));
    }
    void TearDown() override {
        if (host.Record) host.Record->Quit();
        host.Unload();
        if (!loaded.empty()) {
            EXPECT_EQ(GetModuleHandleA(loaded.c_str()), nullptr) << "something still holds the plug-in after quit";
        }
        // The bindings keep what they loaded until the process ends; the next test's
        // system replaces those files.
        for (const char* library : BoundLibraries)
            for (int i = 0; i < 8; ++i)
                if (HMODULE loaded = GetModuleHandleA(library)) FreeLibrary(loaded);
        KwFake_Reset();
    }

    void Load(const std::string& path) {
        const std::string error = host.Load(path, winamp.Handle());
        ASSERT_EQ(error, "");
        loaded = path;
    }
    int AddRemote(const wchar_t* name) {
        KwFakeDevice d{};
        d.Product = name;
        d.Caps.InputReportByteLength = ReportLength;
        d.Caps.UsagePage = 0x0C;
        const int id = KwFake_AddDevice(&d);
        EXPECT_GT(id, 0);
        return id;
    }
    void WriteSettings(const std::vector<std::string>& actions) {
        std::string text = "HidIndex=0\r\nMode=-1\r\n";
        for (size_t i = 0; i < actions.size(); ++i) text += Format("Action%.2u=%s\r\n", static_cast<unsigned>(i), actions[i].c_str());
        ASSERT_TRUE(WriteTextFile(settings, text));
    }
    int Init() { return host.Record->Init(); }
    // Config as Winamp calls it, with every box it shows answered and the configuration
    // dialog cancelled; dialogsShown counts those.
    std::vector<TBoxAnswerer::TBox> Config() {
        TBoxAnswerer answerer(GetCurrentThreadId());
        host.Record->Config();
        auto boxes = answerer.Stop();
        dialogsShown = static_cast<int>(answerer.Dialogs().size());
        for (const auto& d : answerer.Dialogs()) EXPECT_EQ(d.owner, nullptr) << "the dialog has an owner";
        return boxes;
    }
    int dialogsShown = 0;
    // Nothing of the plug-in runs: no thread that started in it, no window of its
    // scheduler on this thread, and its window class gone.
    void ExpectNothingRuns(const char* when) {
        EXPECT_EQ(LiveThreadsIn(host.Module()), 0) << when;
        EXPECT_EQ(SchedulerWindow(host.Module()), nullptr) << when;
        EXPECT_FALSE(SchedulerClassRegistered(host.Module())) << when;
    }
    void Send(int device, const std::vector<uint8_t>& report) {
        ASSERT_EQ(KwFake_SendReport(device, report.data(), static_cast<DWORD>(report.size())), 1);
    }

    const std::vector<uint8_t> Play{1, 0xCD}, Up{1, 0xE9}, Release{1, 0}, Next{2, 0xB5}, Mute{1, 0xE2};
    TWinampWindow winamp;
    TWinampPluginHost host;
    std::string settings;
    std::string loaded;  // the file of the plug-in loaded last
};

TEST_F(WinampEntry, ExportGivesOneRecordWithTheSameContentsEveryTime) {
    winamp::GeneralPurposePlugin* first = host.Record;
    const winamp::GeneralPurposePlugin before = *first;
    const std::string description = first->Description;

    winamp::GeneralPurposePlugin* second = host.GetPlugin();
    ASSERT_EQ(second, first);
    EXPECT_EQ(std::memcmp(&before, second, sizeof before), 0);
    EXPECT_EQ(second->Version, 0x10);
    EXPECT_EQ(second->Description, before.Description);
    EXPECT_EQ(second->Description, description);
    EXPECT_NE(second->Init, nullptr);
    EXPECT_NE(second->Config, nullptr);
    EXPECT_NE(second->Quit, nullptr);
    EXPECT_EQ(second->HostWindow, winamp.Handle()) << "Winamp's fields are Winamp's";
    EXPECT_EQ(second->Module, host.Module());
}

// The description names the version of the very file loaded, whatever its name.
struct TVersionCase {
    const char* name;
    WORD version[4];  // all zero: the file as built
    const char* description;
};

void PrintTo(const TVersionCase& c, std::ostream* os) { *os << c.name; }

class WinampDescription : public WinampEntry, public testing::WithParamInterface<TVersionCase> {};

struct TLanguage {
    bool found = false;
    WORD id = 0;
};
BOOL CALLBACK FirstLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR into) {
    auto* result = reinterpret_cast<TLanguage*>(into);
    result->found = true;
    result->id = language;
    return FALSE;
}

// Sets the file version in the version block of a copy of the plug-in.
void SetFileVersion(const std::string& file, const WORD (&version)[4]) {
    std::vector<BYTE> block;
    TLanguage language;
    {
        TUniqueModule data(LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(data) << GetLastError();
        EnumResourceLanguagesA(data.get(), MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1), &FirstLanguage,
                               reinterpret_cast<LONG_PTR>(&language));
        ASSERT_TRUE(language.found) << "no version block";
        HRSRC found = FindResourceExA(data.get(), MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1), language.id);
        ASSERT_NE(found, nullptr);
        const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(data.get(), found)));
        block.assign(bytes, bytes + SizeofResource(data.get(), found));
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    for (size_t at = 0; at + sizeof(VS_FIXEDFILEINFO) <= block.size(); at += 4) {
        auto* candidate = reinterpret_cast<VS_FIXEDFILEINFO*>(block.data() + at);
        if (candidate->dwSignature == 0xFEEF04BD) {
            fixed = candidate;
            break;
        }
    }
    ASSERT_NE(fixed, nullptr);
    fixed->dwFileVersionMS = MAKELONG(version[1], version[0]);
    fixed->dwFileVersionLS = MAKELONG(version[3], version[2]);
    HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
    ASSERT_NE(update, nullptr) << GetLastError();
    ASSERT_TRUE(UpdateResourceA(update, MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1), language.id, block.data(),
                                static_cast<DWORD>(block.size())));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE)) << GetLastError();
}

TEST_P(WinampDescription, IsTheNameAndTheFileVersion) {
    const TVersionCase& c = GetParam();
    std::string file = PluginPath();
    TTempFolder folder;
    if (c.version[0] || c.version[1] || c.version[2] || c.version[3]) {
        host.Unload();
        // Where the installer puts it, under the name Winamp looks for.
        file = folder.Path("gen_kwhid.dll");
        ASSERT_TRUE(CopyFileA(PluginPath().c_str(), file.c_str(), FALSE));
        ASSERT_NO_FATAL_FAILURE(SetFileVersion(file, c.version));
        ASSERT_NO_FATAL_FAILURE(Load(file));
    }
    EXPECT_STREQ(host.Record->Description, c.description);
    EXPECT_EQ(host.Record->Description, "Orlanvale Clickwell v" + GetVersionText(file));
    host.Unload();
}

INSTANTIATE_TEST_SUITE_P(Versions, WinampDescription,
                         testing::Values(TVersionCase{"AsBuilt", {0, 0, 0, 0}, "Orlanvale Clickwell v" KW_GEN_RC_VERSION},
                                         TVersionCase{"V1_2_3_4", {1, 2, 3, 4}, "Orlanvale Clickwell v1.2.3.4"},
                                         TVersionCase{"V2_0_1_17", {2, 0, 1, 17}, "Orlanvale Clickwell v2.0.1.17"}),
                         [](const testing::TestParamInfo<TVersionCase>& info) { return std::string(info.param.name); });

TEST_F(WinampEntry, ALearnedPressReachesWinampAndQuitLeavesNothingRunning) {
    const int remote = AddRemote(L"Remote");
    WriteSettings({ActionText(1, SignatureOf(Play), SignatureNone, 0),
                   ActionText(5, SignatureOf(Up), SignatureOf(Release), 0),
                   ActionText(13, SignatureOf(Mute), SignatureNone, 0)});
    winamp.PlayState = 1;
    ASSERT_EQ(Init(), 0);
    ASSERT_TRUE(KwFake_WaitOpenHandles(remote, 1, 5000));
    // The checks of quit see what runs.
    EXPECT_EQ(LiveThreadsIn(host.Module()), 1) << "one reading thread for the one device";
    EXPECT_NE(SchedulerWindow(host.Module()), nullptr);

    Send(remote, Play);
    ASSERT_TRUE(Pump(5000, [&] { return winamp.Commands.size() >= 1; }));
    EXPECT_EQ(winamp.Commands[0].message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(winamp.Commands[0].wParam, 40046u) << "Winamp plays: Play/Pause presses Pause";

    Send(remote, Mute);
    ASSERT_TRUE(Pump(5000, [&] { return winamp.Commands.size() >= 2; }));
    EXPECT_EQ(winamp.Commands[1].message, static_cast<UINT>(WM_USER));
    EXPECT_EQ(winamp.Commands[1].wParam, 0u);
    EXPECT_EQ(winamp.Commands[1].lParam, 122);

    // Quit while a held button repeats: its timer goes with the engine.
    Send(remote, Up);
    ASSERT_TRUE(Pump(5000, [&] { return winamp.Commands.size() >= 3; }));
    EXPECT_EQ(winamp.Commands[2].wParam, 40058u);
    host.Record->Quit();
    ExpectNothingRuns("after quit");
    EXPECT_TRUE(KwFake_WaitOpenHandles(remote, 0, 5000)) << "the device stayed open";
    EXPECT_EQ(KwFake_SendReport(remote, Release.data(), static_cast<DWORD>(Release.size())), 0);
    const size_t commands = winamp.Commands.size();
    Pump(1200, [] { return false; });
    EXPECT_EQ(winamp.Commands.size(), commands) << "a command after quit";
    host.Record->Quit();  // a second quit finds no engine
}

// Init fails when the engine cannot be built or cannot start its handlers.
struct TInitFailure {
    const char* name;
    const char* library;
    const char* function;
    void* replacement;
};

void PrintTo(const TInitFailure& c, std::ostream* os) { *os << c.name; }

class WinampInitFailure : public WinampEntry, public testing::WithParamInterface<TInitFailure> {};

TEST_P(WinampInitFailure, LeavesNothingRunningShowsTheBoxAndTheNextCallStartsAfresh) {
    const TInitFailure& c = GetParam();
    const int remote = AddRemote(L"Remote"), pad = AddRemote(L"Pad");
    refusedDevicePath = KwFake_DevicePath(pad);
    // The remote's handler starts before the pad's fails.
    WriteSettings({ActionText(1, SignatureOf(Play), SignatureNone, 0), ActionText(2, SignatureOf(Next), SignatureNone, 1)});
    {
        TImportHook hook(host.Module(), c.library, c.function, c.replacement);
        ASSERT_TRUE(hook.Installed());
        EXPECT_EQ(Init(), -1);
        EXPECT_TRUE(KwFake_WaitOpenHandles(remote, 0, 5000)) << "the engine built before the failure still runs";
        ExpectNothingRuns("after the failed init");

        // Each config tries again, fails again and says so.
        for (int attempt = 0; attempt < 2; ++attempt) {
            const std::vector<TBoxAnswerer::TBox> boxes = Config();
            ASSERT_EQ(boxes.size(), 1u) << "config " << attempt;
            EXPECT_EQ(boxes[0].caption, "Error!");
            EXPECT_EQ(boxes[0].text, "HID class is not initialized.");
            EXPECT_EQ(boxes[0].owner, winamp.Handle());
            EXPECT_EQ(dialogsShown, 0);
            ExpectNothingRuns("after config");
        }
        host.Record->Quit();
        ExpectNothingRuns("after quit");
    }

    // Fixed, with other settings: a new engine, built from the beginning.
    WriteSettings({ActionText(2, SignatureOf(Next), SignatureNone, 1)});
    EXPECT_TRUE(Config().empty()) << "no engine after the cause was gone";
    EXPECT_EQ(dialogsShown, 1);
    ASSERT_TRUE(KwFake_WaitOpenHandles(pad, 1, 5000));
    EXPECT_EQ(KwFake_OpenHandleCount(remote), 0) << "the settings were not read again";
    EXPECT_EQ(Init(), 0);
    Send(pad, Next);
    ASSERT_TRUE(Pump(5000, [&] { return !winamp.Commands.empty(); }));
    EXPECT_EQ(winamp.Commands[0].wParam, 40048u);
    host.Record->Quit();
    ExpectNothingRuns("after the last quit");
}

INSTANTIATE_TEST_SUITE_P(
    Causes, WinampInitFailure,
    testing::Values(TInitFailure{"DeviceCannotBeOpened", "KERNEL32.dll", "CreateFileA",
                                 reinterpret_cast<void*>(&RefusingCreateFileA)},
                    TInitFailure{"EngineWindowCannotBeCreated", "USER32.dll", "CreateWindowExA",
                                 reinterpret_cast<void*>(&FailingCreateWindowExA)}),
    [](const testing::TestParamInfo<TInitFailure>& info) { return std::string(info.param.name); });

// A dialog that cannot be made, as when the system is out of window resources.
INT_PTR WINAPI FailingDialogBoxParamA(HINSTANCE, LPCSTR, HWND, DLGPROC, LPARAM) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return -1;
}

TEST_F(WinampEntry, ConfigRunsTheDialogOnTheEngineAndAnErrorOfItBecomesTheBox) {
    const int remote = AddRemote(L"Remote");
    WriteSettings({ActionText(1, SignatureOf(Play), SignatureNone, 0)});
    ASSERT_EQ(Init(), 0);
    EXPECT_TRUE(Config().empty());
    EXPECT_EQ(dialogsShown, 1);
    EXPECT_EQ(KwFake_OpenHandleCount(remote), 1) << "Cancel leaves the handlers as they were";
    {
        TImportHook hook(host.Module(), "USER32.dll", "DialogBoxParamA", reinterpret_cast<void*>(&FailingDialogBoxParamA));
        ASSERT_TRUE(hook.Installed());
        const std::vector<TBoxAnswerer::TBox> boxes = Config();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "Error!");
        EXPECT_EQ(boxes[0].text, SystemErrorText(ERROR_NOT_ENOUGH_MEMORY));
        EXPECT_EQ(boxes[0].owner, winamp.Handle());
        EXPECT_EQ(dialogsShown, 0);
    }
    // The engine goes on as before.
    Send(remote, Play);
    ASSERT_TRUE(Pump(5000, [&] { return !winamp.Commands.empty(); }));
    host.Record->Quit();
    ExpectNothingRuns("after quit");
}

// Nothing to open is no failure: the engine runs and listens to nothing.
struct TNothingToOpen {
    const char* name;
    const char* hidVariant;  // the HID library installed: "" the full one
    DWORD access;            // the remote's
};

void PrintTo(const TNothingToOpen& c, std::ostream* os) { *os << c.name; }

class WinampNothingToOpen : public WinampEntry, public testing::WithParamInterface<TNothingToOpen> {};

TEST_P(WinampNothingToOpen, InitSucceedsAndConfigShowsNoBox) {
    const TNothingToOpen& c = GetParam();
    host.Unload();
    ASSERT_TRUE(KwFake_Install("hid", c.hidVariant)) << GetLastError();
    KwFakeDevice d{};
    d.Product = L"Remote";
    d.Caps.InputReportByteLength = ReportLength;
    d.Access = c.access;
    ASSERT_GT(KwFake_AddDevice(&d), 0);
    WriteSettings({ActionText(1, SignatureOf(Play), SignatureNone, 0)});
    ASSERT_NO_FATAL_FAILURE(Load(PluginPath()));

    EXPECT_EQ(Init(), 0);
    if (*c.hidVariant) {
        EXPECT_EQ(GetModuleHandleA("hid.dll"), nullptr) << "some HID library was bound";
    }
    EXPECT_EQ(LiveThreadsIn(host.Module()), 0) << "a device was opened";
    EXPECT_TRUE(Config().empty());
    EXPECT_EQ(dialogsShown, 1);
    host.Record->Quit();
    ExpectNothingRuns("after quit");
}

INSTANTIATE_TEST_SUITE_P(Systems, WinampNothingToOpen,
                         testing::Values(TNothingToOpen{"NoHidLibrary", "missing", kwfaReadWrite},
                                         TNothingToOpen{"DeviceRefusesEvenTheProbe", "", kwfaNone}),
                         [](const testing::TestParamInfo<TNothingToOpen>& info) { return std::string(info.param.name); });
}  // namespace
