// The setup program dist/clickwell-setup.exe, run silently the way an administrator or a
// deployment tool runs it, in a Wine prefix of its own; files and registry read back.
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "rtl/win32/handle.h"

namespace {

namespace fs = std::filesystem;

const wchar_t* const kUninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Clickwell";
const wchar_t* const kUiPluginsKey = L"SOFTWARE\\Microsoft\\MediaPlayer\\UIPlugins";
const wchar_t* const kProgId = L"kwhid_wmp.CoWMPPlugin";
const wchar_t* const kDescription =
    L"Drives the player from the buttons of a HID remote control, keyboard or game pad.";
// Long enough for a setup under emulation; only a hang runs into it.
constexpr DWORD kRunLimitMs = 180000;

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// A file of the build tree as Wine shows it: the Unix root is drive Z.
std::wstring FromBuildTree(const char* unixPath) {
    std::wstring path = L"Z:" + Widen(unixPath);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::wstring Upper(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(std::towupper(c));
    return s;
}

std::wstring KnownFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path)))
        return {};
    return path;
}

std::optional<std::string> ReadWholeFile(const std::wstring& path) {
    TUniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::string data;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);
    return data;
}

bool WriteWholeFile(const std::wstring& path, const std::string& data) {
    TUniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD put = 0;
    return file && WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &put, nullptr) &&
           put == data.size();
}

// Whether the file holds exactly these bytes; says what differs without dumping them.
testing::AssertionResult HoldsCopy(const std::wstring& path, const std::string& expected) {
    const std::string name(path.begin(), path.end());
    const auto got = ReadWholeFile(path);
    if (!got) return testing::AssertionFailure() << name << " is missing";
    if (*got != expected)
        return testing::AssertionFailure() << name << " differs from the dist copy (" << got->size() << " bytes, not "
                                           << expected.size() << ")";
    return testing::AssertionSuccess();
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void RemoveTree(const std::wstring& path) {
    std::error_code ignored;
    fs::remove_all(fs::path(path), ignored);
}

bool KeyExists(HKEY root, const std::wstring& key) {
    TUniqueRegKey k;
    return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

// A registry value as "<type>:<data>", so that one comparison checks both.
std::optional<std::wstring> ReadValue(HKEY root, const std::wstring& key, const wchar_t* name) {
    TUniqueRegKey k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS) return std::nullopt;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(k.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    std::vector<BYTE> data(size + sizeof(wchar_t));
    if (RegQueryValueExW(k.get(), name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return std::nullopt;
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD v = 0;
        std::copy_n(data.data(), sizeof v, reinterpret_cast<BYTE*>(&v));
        wchar_t text[16];
        swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(v));
        return std::wstring(L"dword:") + text;
    }
    if (type == REG_SZ) {
        std::wstring s(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
        while (!s.empty() && s.back() == L'\0') s.pop_back();
        return L"sz:" + s;
    }
    return L"type " + std::to_wstring(type);
}

std::wstring Sz(const std::wstring& s) { return L"sz:" + s; }

void SetDefaultValue(HKEY root, const wchar_t* key, const std::wstring& value) {
    TUniqueRegKey k;
    ASSERT_EQ(RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_WRITE, nullptr, k.put(), nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(k.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

// A hidden top-level window, as a running player has one: counts the broadcasts that
// tell the player its plug-in list changed.
class TPlayerWindow {
public:
    TPlayerWindow() : message_(RegisterWindowMessageW(L"WMPlayer_PluginAddRemove")) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KwInstallerTestPlayer";
        RegisterClassW(&wc);
        window_.reset(CreateWindowExW(0, wc.lpszClassName, L"player", WS_POPUP, 0, 0, 10, 10, nullptr,
                                      nullptr, wc.hInstance, nullptr));
        if (window_) SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    bool Ready() const { return message_ != 0 && window_; }
    int Broadcasts() const { return count_; }

private:
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
        auto* self = reinterpret_cast<TPlayerWindow*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
        if (self && msg == self->message_) {
            ++self->count_;
            return 0;
        }
        return DefWindowProcW(wnd, msg, wp, lp);
    }
    UINT message_;
    int count_ = 0;
    TUniqueWindow window_;
};

// Runs a command line to its end, serving the messages sent to our windows meanwhile (the
// setup's broadcast waits for every top-level window). Empty when it did not end in time.
std::optional<DWORD> RunToEnd(std::wstring commandLine, DWORD* pid = nullptr) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        ADD_FAILURE() << "cannot start " << std::string(commandLine.begin(), commandLine.end()) << ": error "
                      << GetLastError();
        return std::nullopt;
    }
    TUniqueThread thread(pi.hThread);
    TUniqueHandle<THandleTraits> process(pi.hProcess);
    if (pid) *pid = pi.dwProcessId;
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= kRunLimitMs) {
            TerminateProcess(process.get(), 1);
            ADD_FAILURE() << "still running after " << kRunLimitMs << " ms";
            return std::nullopt;
        }
        HANDLE h = process.get();
        const DWORD r = MsgWaitForMultipleObjects(1, &h, FALSE, kRunLimitMs - spent, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) break;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

// The processes that a process started, as far as they still run.
std::vector<TUniqueHandle<THandleTraits>> ChildrenOf(DWORD parent) {
    std::vector<TUniqueHandle<THandleTraits>> children;
    TUniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return children;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID != parent) continue;
        TUniqueHandle<THandleTraits> child(OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (child) children.push_back(std::move(child));
    }
    return children;
}

// Serves messages until the condition holds; false when it did not within the limit.
template <class Condition>
bool WaitFor(Condition done) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= kRunLimitMs) return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(20);
    }
    return true;
}

struct TInstall {
    std::wstring programFolder;  // /D=, empty for the default
    std::wstring winampOption;   // /WINAMP=, empty for none
};

std::wstring SetupCommand(const TInstall& how, const char* setup = KW_SETUP_EXE) {
    std::wstring cmd = L"\"" + FromBuildTree(setup) + L"\" /S";
    if (!how.winampOption.empty()) cmd += L" /WINAMP=\"" + how.winampOption + L"\"";
    // NSIS takes /D= last and unquoted, blanks and all.
    if (!how.programFolder.empty()) cmd += L" /D=" + how.programFolder;
    return cmd;
}

// The uninstaller run in place: it then does its work itself and is waited for.
std::wstring UninstallInPlace(const std::wstring& programFolder) {
    return L"\"" + programFolder + L"\\uninstall.exe\" /S _?=" + programFolder;
}

class Setup : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_STRNE(KW_WMP_CLSID, "") << "no class id of CoWMPPlugin was found in hosts/wmp";
        clsid_ = Widen(KW_WMP_CLSID);
        ASSERT_TRUE(player_.Ready());
        programFiles_ = KnownFolder(CSIDL_PROGRAM_FILES);
        settingsFolder_ = KnownFolder(CSIDL_LOCAL_APPDATA) + L"\\Clickwell";
        ASSERT_FALSE(programFiles_.empty());
        ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) << "an earlier case left its install";
        genDll_ = ReadWholeFile(FromBuildTree(KW_GEN_DLL)).value_or("");
        wmpDll_ = ReadWholeFile(FromBuildTree(KW_WMP_DLL)).value_or("");
        ASSERT_FALSE(genDll_.empty());
        ASSERT_FALSE(wmpDll_.empty());
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Winamp");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Winamp");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallKey);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, PluginKey().c_str());
        RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey().c_str());
        RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
        for (const auto& f : scratch_) RemoveTree(f);
    }
    // Removed after the case, whatever happened.
    const std::wstring& Scratch(const std::wstring& folder) { return scratch_.emplace_back(folder); }

    std::wstring PluginKey() const { return std::wstring(kUiPluginsKey) + L"\\" + clsid_; }
    std::wstring ClassKey() const { return L"CLSID\\" + clsid_; }

    void ExpectInstalled(const std::wstring& programFolder, const std::wstring& winampFolder) {
        EXPECT_TRUE(HoldsCopy(winampFolder + L"\\Plugins\\gen_kwhid.dll", genDll_));
        EXPECT_TRUE(HoldsCopy(programFolder + L"\\kwhid_wmp.dll", wmpDll_));
        EXPECT_TRUE(Exists(programFolder + L"\\uninstall.exe"));

        const std::wstring uninstaller = L"\"" + programFolder + L"\\uninstall.exe\"";
        struct TValue {
            HKEY root;
            std::wstring key;
            const wchar_t* name;
            std::wstring expected;
        };
        const TValue values[] = {
            {HKEY_LOCAL_MACHINE, PluginKey(), L"Capabilities", L"dword:0x80000001"},
            {HKEY_LOCAL_MACHINE, PluginKey(), L"FriendlyName", Sz(L"Clickwell")},
            {HKEY_LOCAL_MACHINE, PluginKey(), L"Description", Sz(kDescription)},
            {HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName", Sz(L"Clickwell")},
            {HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString", Sz(uninstaller)},
            {HKEY_LOCAL_MACHINE, kUninstallKey, L"QuietUninstallString", Sz(uninstaller + L" /S")},
            {HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion", Sz(L"1.0.0.1")},
            {HKEY_LOCAL_MACHINE, kUninstallKey, L"Publisher", Sz(L"Orlanvale")},
            {HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation", Sz(programFolder)},
            {HKEY_LOCAL_MACHINE, kUninstallKey, L"WinampFolder", Sz(winampFolder)},
            {HKEY_LOCAL_MACHINE, kUninstallKey, L"NoModify", L"dword:0x00000001"},
            {HKEY_LOCAL_MACHINE, kUninstallKey, L"NoRepair", L"dword:0x00000001"},
        };
        for (const auto& v : values) {
            const auto got = ReadValue(v.root, v.key, v.name);
            EXPECT_EQ(got.value_or(L"(none)"), v.expected)
                << std::string(v.key.begin(), v.key.end()) << " " << std::string(v.name, v.name + wcslen(v.name));
        }
        // Registered by the server itself, under the same class id as the player's entry.
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, ClassKey() + L"\\InprocServer32"));
        EXPECT_EQ(Upper(ReadValue(HKEY_CLASSES_ROOT, std::wstring(kProgId) + L"\\Clsid", nullptr).value_or(L"")),
                  Upper(Sz(clsid_)));
    }

    void ExpectRemoved(const std::wstring& programFolder, const std::wstring& winampFolder) {
        EXPECT_FALSE(Exists(winampFolder + L"\\Plugins\\gen_kwhid.dll"));
        EXPECT_FALSE(Exists(programFolder + L"\\kwhid_wmp.dll"));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PluginKey()));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey()));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kProgId));
    }

    // Settings of a user who had used both plug-ins before.
    void WriteSettings() {
        CreateDirectoryW(settingsFolder_.c_str(), nullptr);
        ASSERT_TRUE(WriteWholeFile(settingsFolder_ + L"\\kwhid.ini", kWinampSettings));
        ASSERT_TRUE(WriteWholeFile(settingsFolder_ + L"\\kwhid-wmp.ini", kWmpSettings));
    }
    void ExpectSettingsKept() {
        EXPECT_EQ(ReadWholeFile(settingsFolder_ + L"\\kwhid.ini").value_or("(none)"), kWinampSettings);
        EXPECT_EQ(ReadWholeFile(settingsFolder_ + L"\\kwhid-wmp.ini").value_or("(none)"), kWmpSettings);
    }

    static constexpr const char* kWinampSettings = "HidIndex=0\r\nMode=1\r\n";
    static constexpr const char* kWmpSettings = "HidIndex=2\r\nMode=0\r\n";

    TPlayerWindow player_;
    std::wstring clsid_, programFiles_, settingsFolder_;
    std::string genDll_, wmpDll_;
    std::vector<std::wstring> scratch_;
};

TEST_F(Setup, InstallsBothPlugInsIntoFoldersWithBlanksAndTheUninstallerTakesThemBack) {
    const std::wstring program = Scratch(programFiles_ + L"\\Click well");
    Scratch(L"C:\\Media Players");
    const std::wstring winamp = L"C:\\Media Players\\Win amp";
    RemoveTree(settingsFolder_);
    Scratch(settingsFolder_);
    WriteSettings();

    EXPECT_EQ(RunToEnd(SetupCommand({program, winamp})), 0u);
    ExpectInstalled(program, winamp);
    EXPECT_EQ(player_.Broadcasts(), 1);

    EXPECT_EQ(RunToEnd(UninstallInPlace(program)), 0u);
    ExpectRemoved(program, winamp);
    EXPECT_EQ(player_.Broadcasts(), 2);
    // Setup made the Winamp folder, so it goes; in place, the uninstaller cannot remove itself.
    EXPECT_FALSE(Exists(winamp));
    EXPECT_TRUE(Exists(program + L"\\uninstall.exe"));
    ExpectSettingsKept();
}

// As Add/Remove Programs runs it: the uninstaller hands over to a copy of itself in the
// temporary folder and returns at once; the copy removes even the uninstaller and its folder.
TEST_F(Setup, InstallsIntoTheUsualFoldersAndTheRegisteredUninstallerLeavesNothing) {
    const std::wstring program = Scratch(programFiles_ + L"\\Clickwell");
    const std::wstring winamp = Scratch(programFiles_ + L"\\Winamp");
    RemoveTree(settingsFolder_);
    Scratch(settingsFolder_);
    WriteSettings();

    EXPECT_EQ(RunToEnd(SetupCommand({})), 0u);
    ExpectInstalled(program, winamp);

    const auto quiet = ReadValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"QuietUninstallString");
    ASSERT_TRUE(quiet && quiet->starts_with(L"sz:"));
    DWORD uninstaller = 0;
    EXPECT_EQ(RunToEnd(quiet->substr(3), &uninstaller), 0u);
    // A copy that ended before we looked has done its work already.
    for (const auto& copy : ChildrenOf(uninstaller))
        EXPECT_TRUE(WaitFor([&] { return WaitForSingleObject(copy.get(), 0) == WAIT_OBJECT_0; }))
            << "the uninstaller's copy did not end";
    ExpectRemoved(program, winamp);
    EXPECT_FALSE(Exists(program));
    EXPECT_FALSE(Exists(winamp));
    EXPECT_EQ(player_.Broadcasts(), 2);
    ExpectSettingsKept();
}

// A media player plug-in that cannot register itself: setup says so in its exit code,
// writes no player entry and tells no player, installs the rest, and all of it can be
// taken back.
TEST_F(Setup, ReportsAPlugInThatCannotBeRegistered) {
    const std::wstring program = Scratch(L"C:\\Clickwell Test");
    const std::wstring winamp = Scratch(L"C:\\Winamp Test");

    EXPECT_EQ(RunToEnd(SetupCommand({program, winamp}, KW_UNREGISTRABLE_SETUP_EXE)), 3u);
    EXPECT_TRUE(HoldsCopy(winamp + L"\\Plugins\\gen_kwhid.dll", genDll_));
    EXPECT_TRUE(Exists(program + L"\\kwhid_wmp.dll"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PluginKey()));
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation").value_or(L"(none)"), Sz(program));
    EXPECT_EQ(player_.Broadcasts(), 0);

    EXPECT_EQ(RunToEnd(UninstallInPlace(program)), 0u);
    ExpectRemoved(program, winamp);
}

// Windows before 7 SP1, as Wine pretends to be them for one program: setup stops before it
// changes anything.
class OldWindows : public Setup, public testing::WithParamInterface<const wchar_t*> {
protected:
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kAppDefaults);
        Setup::TearDown();
    }
    static constexpr const wchar_t* kAppDefaults = L"Software\\Wine\\AppDefaults\\clickwell-setup.exe";
};

TEST_P(OldWindows, AreRefused) {
    const std::wstring program = Scratch(L"C:\\Clickwell Test");
    const std::wstring winamp = Scratch(L"C:\\Winamp Test");
    TUniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kAppDefaults, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    const std::wstring version = GetParam();
    ASSERT_EQ(RegSetValueExW(key.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                             static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);

    EXPECT_EQ(RunToEnd(SetupCommand({program, winamp})), 2u);
    EXPECT_FALSE(Exists(program));
    EXPECT_FALSE(Exists(winamp));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PluginKey()));
}

INSTANTIATE_TEST_SUITE_P(Setup, OldWindows, testing::Values(L"winxp", L"vista", L"win2008"),
                         [](const testing::TestParamInfo<const wchar_t*>& info) {
                             const std::wstring v = info.param;
                             return std::string(v.begin(), v.end());
                         });

// The controls of setup's window that a user works with.
constexpr int kNextButton = IDOK;
constexpr int kHeaderTitle = 1037;
constexpr int kFolderEdit = 1019;
constexpr int kFolderFrame = 1020;

struct TWindowSearch {
    DWORD pid;  // MainWindowOf: the process
    int id;     // Control: the control id
    HWND found;
};

BOOL CALLBACK IsMainWindow(HWND wnd, LPARAM lp) {
    auto* f = reinterpret_cast<TWindowSearch*>(lp);
    DWORD owner = 0;
    GetWindowThreadProcessId(wnd, &owner);
    wchar_t cls[16] = {};
    GetClassNameW(wnd, cls, 16);
    if (owner != f->pid || wcscmp(cls, L"#32770") != 0 || !GetDlgItem(wnd, kHeaderTitle)) return TRUE;
    f->found = wnd;
    return FALSE;
}

BOOL CALLBACK IsControl(HWND wnd, LPARAM lp) {
    auto* f = reinterpret_cast<TWindowSearch*>(lp);
    if (GetDlgCtrlID(wnd) != f->id) return TRUE;
    f->found = wnd;
    return FALSE;
}

HWND MainWindowOf(DWORD pid) {
    TWindowSearch search = {pid, 0, nullptr};
    EnumWindows(IsMainWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Controls of the page are children of a dialog inside the main window.
HWND Control(HWND main, int id) {
    TWindowSearch search = {0, id, nullptr};
    EnumChildWindows(main, IsControl, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring TextOf(HWND wnd) {
    if (!wnd) return {};
    wchar_t text[512] = {};
    SendMessageTimeoutW(wnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, nullptr);
    return text;
}

// A user who clicks through setup's pages: Next on the components, his own program folder,
// a look at the Winamp folder offered and his own instead, Close at the end.
TEST_F(Setup, LetsTheUserChooseBothFoldersOnItsPages) {
    const std::wstring program = Scratch(L"C:\\Chosen Clickwell");
    const std::wstring winamp = Scratch(L"C:\\Chosen Winamp");
    Scratch(L"C:\\User Winamp");
    SetDefaultValue(HKEY_CURRENT_USER, L"Software\\Winamp", L"C:\\User Winamp");

    std::wstring cmd = L"\"" + FromBuildTree(KW_SETUP_EXE) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    TUniqueThread thread(pi.hThread);
    TUniqueHandle<THandleTraits> process(pi.hProcess);

    std::vector<std::wstring> pages;
    std::wstring offeredWinamp;
    const bool ended = WaitFor([&] {
        if (WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) return true;
        const HWND main = MainWindowOf(pi.dwProcessId);
        const std::wstring title = TextOf(GetDlgItem(main, kHeaderTitle));
        if (title.empty() || (!pages.empty() && pages.back() == title)) return false;
        const HWND next = GetDlgItem(main, kNextButton);
        if (!IsWindowEnabled(next)) return false;  // still at work
        const HWND edit = Control(main, kFolderEdit);
        if (title == L"Program folder" || title == L"Winamp folder") {
            // The page's own controls, not those of the page before.
            if (!edit || TextOf(Control(main, kFolderFrame)) != title) return false;
            if (title == L"Winamp folder") offeredWinamp = TextOf(edit);
            const std::wstring& chosen = title == L"Program folder" ? program : winamp;
            SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(chosen.c_str()), SMTO_ABORTIFHUNG,
                                5000, nullptr);
        }
        pages.push_back(title);
        PostMessageW(main, WM_COMMAND, MAKEWPARAM(kNextButton, BN_CLICKED), reinterpret_cast<LPARAM>(next));
        return false;
    });
    if (!ended) TerminateProcess(process.get(), 1);
    ASSERT_TRUE(ended) << "setup did not end";
    DWORD code = 1;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 0u);
    const std::vector<std::wstring> expected = {L"Choose Components", L"Program folder", L"Winamp folder",
                                                L"Installation Complete"};
    EXPECT_EQ(pages, expected);
    EXPECT_EQ(offeredWinamp, L"C:\\User Winamp");
    ExpectInstalled(program, winamp);
    EXPECT_FALSE(Exists(L"C:\\User Winamp\\Plugins\\gen_kwhid.dll"));

    EXPECT_EQ(RunToEnd(UninstallInPlace(program)), 0u);
    ExpectRemoved(program, winamp);
}

// Where the Winamp plug-in goes when the command line does not say it, and that the
// command line wins.
struct TWinampCase {
    const char* name;
    const wchar_t* option;        // /WINAMP=
    const wchar_t* userWinamp;    // HKCU\Software\Winamp, as Winamp's setup writes it
    const wchar_t* machineWinamp; // HKLM\Software\Winamp
    const wchar_t* previous;      // the Winamp folder of an earlier install of ours
    const wchar_t* expected;      // nullptr: the usual one, <Program Files>\Winamp
};

void PrintTo(const TWinampCase& c, std::ostream* os) { *os << c.name; }

class WinampFolder : public Setup, public testing::WithParamInterface<TWinampCase> {};

TEST_P(WinampFolder, IsChosen) {
    const TWinampCase& c = GetParam();
    const std::wstring program = Scratch(L"C:\\Clickwell Test");
    for (const wchar_t* f : {c.option, c.userWinamp, c.machineWinamp, c.previous})
        if (f) Scratch(f);
    if (c.userWinamp) SetDefaultValue(HKEY_CURRENT_USER, L"Software\\Winamp", c.userWinamp);
    if (c.machineWinamp) SetDefaultValue(HKEY_LOCAL_MACHINE, L"Software\\Winamp", c.machineWinamp);
    if (c.previous) {
        ASSERT_EQ(RunToEnd(SetupCommand({program, c.previous})), 0u);
        ASSERT_TRUE(Exists(std::wstring(c.previous) + L"\\Plugins\\gen_kwhid.dll"));
    }
    const std::wstring expected = c.expected ? c.expected : programFiles_ + L"\\Winamp";
    Scratch(expected);

    EXPECT_EQ(RunToEnd(SetupCommand({program, c.option ? c.option : L""})), 0u);
    ExpectInstalled(program, expected);
    // A reinstall that moves the plug-in takes the old copy away.
    for (const wchar_t* other : {c.option, c.userWinamp, c.machineWinamp, c.previous}) {
        if (other && expected != other) {
            EXPECT_FALSE(Exists(std::wstring(other) + L"\\Plugins\\gen_kwhid.dll"))
                << std::string(other, other + wcslen(other));
        }
    }

    EXPECT_EQ(RunToEnd(UninstallInPlace(program)), 0u);
    ExpectRemoved(program, expected);
}

const TWinampCase kWinampCases[] = {
    {"Usual", nullptr, nullptr, nullptr, nullptr, nullptr},
    {"MachineWinamp", nullptr, nullptr, L"C:\\Machine Winamp", nullptr, L"C:\\Machine Winamp"},
    {"UserWinampBeforeMachine", nullptr, L"C:\\User Winamp", L"C:\\Machine Winamp", nullptr, L"C:\\User Winamp"},
    {"EarlierInstallBeforeWinamp", nullptr, L"C:\\User Winamp", nullptr, L"C:\\Old Winamp", L"C:\\Old Winamp"},
    {"CommandLineBeforeAll", L"C:\\Tools\\My Winamp", L"C:\\User Winamp", L"C:\\Machine Winamp",
     L"C:\\Old Winamp", L"C:\\Tools\\My Winamp"},
};

INSTANTIATE_TEST_SUITE_P(Setup, WinampFolder, testing::ValuesIn(kWinampCases),
                         [](const testing::TestParamInfo<TWinampCase>& info) { return info.param.name; });

}  // namespace
