#pragma once
// The loader of Windows 7 without its loader update, put in place of the one that
// LoadSystemLibrary calls: every LOAD_LIBRARY_SEARCH_ flag is refused with
// ERROR_INVALID_PARAMETER, anything else is loaded. Each call is recorded.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "rtl/win32/module.h"

class TOldLoader {
public:
    struct TCall {
        std::string Name;
        DWORD Flags;
    };

    TOldLoader() : previous_(LoadLibraryExCall) {
        Calls().clear();
        LoadLibraryExCall = &Refusing;
    }
    ~TOldLoader() { LoadLibraryExCall = previous_; }
    TOldLoader(const TOldLoader&) = delete;
    TOldLoader& operator=(const TOldLoader&) = delete;

    // The calls for one library file ("hid.dll"), by name or by a path ending in it.
    static std::vector<TCall> CallsFor(const std::string& file) {
        std::vector<TCall> calls;
        for (const TCall& call : Calls()) {
            const std::string& name = call.Name;
            if (name.size() >= file.size() && lstrcmpiA(name.c_str() + name.size() - file.size(), file.c_str()) == 0 &&
                (name.size() == file.size() || name[name.size() - file.size() - 1] == '\\'))
                calls.push_back(call);
        }
        return calls;
    }

private:
    static constexpr DWORD SearchFlags = 0x1F00;  // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR .. _DEFAULT_DIRS

    static std::vector<TCall>& Calls() {
        static std::vector<TCall> calls;
        return calls;
    }
    static HMODULE WINAPI Refusing(LPCSTR name, HANDLE file, DWORD flags) {
        Calls().push_back({name ? name : "", flags});
        if (flags & SearchFlags) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        return LoadLibraryExA(name, file, flags);
    }

    TLoadLibraryExA previous_;
};

inline std::string SystemFolderPath() {
    char path[MAX_PATH] = {};
    GetSystemDirectoryA(path, MAX_PATH);
    return path;
}
