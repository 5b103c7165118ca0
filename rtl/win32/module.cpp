#include "rtl/win32/module.h"

#include <cstring>

HMODULE ThisModule() noexcept {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

std::string ThisModuleFileName() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(ThisModule(), path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

TLoadLibraryExA LoadLibraryExCall = &LoadLibraryExA;

HMODULE LoadSystemLibrary(const char* name) noexcept {
    if (!name || !*name) return nullptr;
    if (HMODULE module = LoadLibraryExCall(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
    if (GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;

    // The same folder by its full path. The library's own imports are then looked for
    // beside it first, not in the player's folder.
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    const size_t nameLength = std::strlen(name);
    if (length == 0 || length + 1 + nameLength >= MAX_PATH) return nullptr;
    path[length] = '\\';
    std::memcpy(path + length + 1, name, nameLength + 1);
    return LoadLibraryExCall(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
