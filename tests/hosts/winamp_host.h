#pragma once
// A stand-in for Winamp, shared by the plug-in entry's tests and the demo: it loads a
// general-purpose plug-in the way Winamp does (the export, the record, its window and
// module written in) and plays Winamp's main window, recording what it is sent.
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

#include "players/winamp.h"
#include "rtl/format.h"
#include "rtl/win32/handle.h"

// One command or request Winamp's main window got, with the tick it arrived.
struct TWinampCommand {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    ULONGLONG at;
};

// Winamp's main window: hidden, top-level (so that it can own a message box), recording
// every WM_COMMAND and WM_USER request and answering the play-state query.
class TWinampWindow {
public:
    TWinampWindow() {
        static const ATOM atom = [] {
            WNDCLASSA wc{};
            wc.lpfnWndProc = &Proc;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.lpszClassName = "KwSimulatedWinamp";
            return RegisterClassA(&wc);
        }();
        window_.reset(CreateWindowExA(0, MAKEINTATOM(atom), "Winamp", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                      nullptr, nullptr, GetModuleHandleA(nullptr), this));
    }
    HWND Handle() const { return window_.get(); }

    // What the play-state query (WM_USER, 104) answers: 1 while playing.
    LRESULT PlayState = 0;
    // Posted and sent requests, the play-state query left out.
    std::vector<TWinampCommand> Commands;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_NCCREATE)
            SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
        auto* self = reinterpret_cast<TWinampWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (self && msg == WM_USER && lParam == winamp::IpcIsPlaying) return self->PlayState;
        if (self && (msg == WM_COMMAND || msg == WM_USER)) {
            self->Commands.push_back({msg, wParam, lParam, GetTickCount64()});
            return 0;
        }
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
    TUniqueWindow window_;
};

// A general-purpose plug-in library loaded as Winamp loads one.
class TWinampPluginHost {
public:
    TWinampPluginHost() = default;
    TWinampPluginHost(const TWinampPluginHost&) = delete;
    TWinampPluginHost& operator=(const TWinampPluginHost&) = delete;
    ~TWinampPluginHost() { Unload(); }

    using TGetPlugin = winamp::GeneralPurposePlugin*(__cdecl*)();

    // Loads the library from its full path, calls its export and writes the host's window
    // and the module into the record. Empty on success, else what went wrong.
    std::string Load(const std::string& path, HWND hostWindow) {
        Unload();
        module_.reset(LoadLibraryA(path.c_str()));
        if (!module_) return Format("cannot load %s (error %lu)", path.c_str(), GetLastError());
        GetPlugin = reinterpret_cast<TGetPlugin>(
            reinterpret_cast<void*>(GetProcAddress(module_.get(), "winampGetGeneralPurposePlugin")));
        if (!GetPlugin) return "no export winampGetGeneralPurposePlugin";
        Record = GetPlugin();
        if (!Record) return "the export gave no record";
        Record->HostWindow = hostWindow;
        Record->Module = module_.get();
        return {};
    }
    void Unload() {
        Record = nullptr;
        GetPlugin = nullptr;
        module_.reset();
    }
    HMODULE Module() const { return module_.get(); }

    TGetPlugin GetPlugin = nullptr;
    winamp::GeneralPurposePlugin* Record = nullptr;

private:
    TUniqueModule module_;
};

// Serves this thread's messages, as Winamp's main thread does, until done() holds or the
// time is up; whether done() held.
template <class Done>
bool Pump(DWORD milliseconds, Done done) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        if (done()) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
}

// Threads of this process still running that started inside module's image.
inline int LiveThreadsIn(HMODULE module) {
    using TQuery = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    constexpr int ThreadQuerySetWin32StartAddress = 9;
    static const auto query = reinterpret_cast<TQuery>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const BYTE* end = base + nt->OptionalHeader.SizeOfImage;

    TUniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot || !query) return -1;
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
        TUniqueEvent thread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID));
        if (!thread) continue;
        DWORD exitCode = 0;
        const BYTE* start = nullptr;
        if (!GetExitCodeThread(thread.get(), &exitCode) || exitCode != STILL_ACTIVE) continue;
        if (query(thread.get(), ThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) != 0) continue;
        if (start >= base && start < end) ++count;
    }
    return count;
}

// The class of the hidden window in which module's code runs its timers and the
// hand-over from its reading threads, one window per UI thread.
inline std::string SchedulerClassName(HMODULE module) {
    return Format("ClickwellUiThread_%p", static_cast<void*>(module));
}
inline HWND SchedulerWindow(HMODULE module) {
    return FindWindowExA(HWND_MESSAGE, nullptr, SchedulerClassName(module).c_str(), nullptr);
}
inline bool SchedulerClassRegistered(HMODULE module) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    return GetClassInfoExA(module, SchedulerClassName(module).c_str(), &wc) != FALSE;
}

// Where the Winamp plug-in keeps its settings: "Clickwell\kwhid.ini" in the user's local
// application-data folder, which is created when missing. Empty when the shell has none.
inline std::string WinampSettingsPath() {
    char folder[MAX_PATH];
    if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_LOCAL_APPDATA, TRUE)) return {};
    std::string path = std::string(folder) + "\\Clickwell";
    CreateDirectoryA(path.c_str(), nullptr);
    return path + "\\kwhid.ini";
}

inline bool WriteTextFile(const std::string& path, const std::string& text) {
    TUniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}
