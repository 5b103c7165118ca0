#include <windows.h>

#include "rtl/files.h"
#include "rtl/win32/handle.h"

bool ReadWholeFile(const std::string& path, std::string& content) {
    TUniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER size;
    // A settings file is small; anything past 16 MB is not one.
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > (16 << 20)) return false;
    std::string data(static_cast<size_t>(size.QuadPart), '\0');
    DWORD done = 0;
    if (!data.empty() && (!ReadFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &done, nullptr) ||
                          done != data.size()))
        return false;
    content = std::move(data);
    return true;
}

bool ReplaceFileContent(const std::string& path, const std::string& content) {
    const std::string temporary = TemporaryNameFor(path);
    {
        TUniqueFile file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD done = 0;
        const bool written =
            WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &done, nullptr) &&
            done == content.size() && FlushFileBuffers(file.get());
        if (!written) {
            file.reset();
            DeleteFileA(temporary.c_str());
            return false;
        }
    }
    if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

bool DirectoryExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceDirectories(const std::string& path) {
    std::string dir = path;
    while (dir.size() > 1 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
    if (dir.empty() || DirectoryExists(dir)) return !dir.empty();
    const size_t cut = dir.find_last_of("\\/");
    // Stop at the root ("C:", "\\server\share" or a bare name).
    if (cut != std::string::npos && cut > 0 && dir[cut - 1] != ':' && dir[cut - 1] != '\\' &&
        dir[cut - 1] != '/')
        ForceDirectories(dir.substr(0, cut));
    return CreateDirectoryA(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}
