#pragma once
// A stand-in for Windows Media Player, shared by the COM server's tests and the demo: it
// loads the plug-in library by its path and reaches the plug-in the way COM does for an
// in-process server (DllGetClassObject, the class factory), without the registry.
#include <windows.h>
#include <ole2.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <vector>

#include "hosts/wmp/kwhid_wmp_TLB.h"
#include "rtl/format.h"
#include "rtl/win32/comptr.h"
#include "rtl/win32/handle.h"

// The server library and its four exports.
class TWmpServer {
public:
    using TGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using TNoArguments = HRESULT(STDAPICALLTYPE*)();

    TWmpServer() = default;
    TWmpServer(const TWmpServer&) = delete;
    TWmpServer& operator=(const TWmpServer&) = delete;
    ~TWmpServer() { Unload(); }

    // Empty on success, else what went wrong.
    std::string Load(const std::wstring& path) {
        Unload();
        module_ = LoadLibraryW(path.c_str());
        if (!module_) return Format("cannot load the server (error %lu)", GetLastError());
        GetClassObject = Export<TGetClassObject>("DllGetClassObject");
        CanUnloadNow = Export<TNoArguments>("DllCanUnloadNow");
        RegisterServer = Export<TNoArguments>("DllRegisterServer");
        UnregisterServer = Export<TNoArguments>("DllUnregisterServer");
        if (!GetClassObject || !CanUnloadNow || !RegisterServer || !UnregisterServer) return "an export is missing";
        return {};
    }
    // FreeLibrary, as COM does after DllCanUnloadNow said S_OK, or as a careless host does.
    void Unload() {
        GetClassObject = nullptr;
        CanUnloadNow = RegisterServer = UnregisterServer = nullptr;
        if (HMODULE module = module_) {
            module_ = nullptr;
            FreeLibrary(module);
        }
    }
    HMODULE Module() const { return module_; }

    // A new plug-in object through the class factory, as CoCreateInstance makes it.
    HRESULT CreatePlugin(TComPtr<IWMPPluginUI>& plugin) const {
        TComPtr<IClassFactory> factory;
        HRESULT hr = GetClassObject(CLSID_CoWMPPlugin, IID_IClassFactory, reinterpret_cast<void**>(factory.put()));
        if (FAILED(hr)) return hr;
        return factory->CreateInstance(nullptr, IID_IWMPPluginUI, reinterpret_cast<void**>(plugin.put()));
    }

    TGetClassObject GetClassObject = nullptr;
    TNoArguments CanUnloadNow = nullptr;
    TNoArguments RegisterServer = nullptr;
    TNoArguments UnregisterServer = nullptr;

private:
    template <class F>
    F Export(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
    }
    HMODULE module_ = nullptr;
};

// A path as Windows spells it in full. The build gives Unix paths: Wine's drive Z: is
// the Unix root.
inline std::wstring FullWindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') {
        std::replace(path.begin(), path.end(), '/', '\\');
        path = "Z:" + path;
    }
    const std::wstring wide(path.begin(), path.end());
    wchar_t full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameW(wide.c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? std::wstring(full, length) : wide;
}

// Serves this thread's messages, as the player's UI thread does, until done() holds or
// the time is up; whether done() held.
template <class Done>
bool Pump(DWORD milliseconds, Done done) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        if (done()) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
}

// Where the plug-in keeps its settings: "Clickwell\kwhid-wmp.ini" in the user's local
// application-data folder, which is created when missing. Empty when the shell has none.
inline std::string WmpSettingsPath() {
    char folder[MAX_PATH];
    if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_LOCAL_APPDATA, TRUE)) return {};
    std::string path = std::string(folder) + "\\Clickwell";
    CreateDirectoryA(path.c_str(), nullptr);
    return path + "\\kwhid-wmp.ini";
}

inline bool WriteTextFile(const std::string& path, const std::string& text) {
    TUniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

// Threads of this process, ours and the system's.
inline int ProcessThreadCount() {
    TUniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return -1;
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    return count;
}

