#include <windows.h>

#include "rtl/files.h"
#include "rtl/win32/handle.h"

namespace {
// Enough for the leftovers of many crashed processes that had our id before.
constexpr int MaxTemporaryAttempts = 64;

// Puts the written temporary file in the file's place.
bool Publish(const std::string& temporary, const std::string& path, const std::string& aside) {
    if (MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    // A file that is open cannot be replaced, even when every handle shares deletion (a
    // load in another player, say), but it can be renamed: it steps aside and goes when
    // its last handle closes. A handle without that sharing, a read-only file or a
    // folder still stops the save.
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    if (!MoveFileExA(path.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) return false;
    if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        // Back in its place; only a newer one another saver has put there meanwhile
        // makes it go.
        if (!MoveFileExA(aside.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH) &&
            GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            DeleteFileA(aside.c_str());
        return false;
    }
    DeleteFileA(aside.c_str());
    return true;
}
}  // namespace

unsigned long ThisProcessId() noexcept { return GetCurrentProcessId(); }

bool ReadWholeFile(const std::string& path, std::string& content) {
    // Sharing deletion lets a save replace the file while it is read here; this handle
    // goes on reading the old content.
    TUniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    FileStep(TFileStep::Reading, path);
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
    unsigned serial = 0;
    std::string temporary;
    {
        TUniqueFile file;
        // Only a file made here: one of that name already there is someone else's.
        for (int attempt = 0; attempt < MaxTemporaryAttempts && !file; ++attempt) {
            serial = NewTemporarySerial();
            temporary = TemporaryNameFor(path, serial);
            file.reset(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
            if (!file && GetLastError() != ERROR_FILE_EXISTS) return false;
        }
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
    FileStep(TFileStep::Replacing, temporary);
    if (!Publish(temporary, path, AsideNameFor(path, serial))) {
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
