#include "util/kwwin32.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

#include "rtl/format.h"
#include "rtl/win32/handle.h"
#include "rtl/win32/module.h"

namespace {
template <class F>
F Entry(HMODULE module, const char* name) noexcept {
    // Through void(*)() so that GCC accepts the change of function type.
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// version.dll is not one of the KnownDLLs, so it is never imported: an import would be
// resolved through the player's search order.
class TVersionLibrary {
public:
    TVersionLibrary() : module_(LoadSystemLibrary("version.dll")) {
        if (!module_) return;
        BlockSize = Entry<decltype(&::GetFileVersionInfoSizeA)>(module_.get(), "GetFileVersionInfoSizeA");
        ReadBlock = Entry<decltype(&::GetFileVersionInfoA)>(module_.get(), "GetFileVersionInfoA");
        QueryValue = Entry<decltype(&::VerQueryValueA)>(module_.get(), "VerQueryValueA");
    }
    bool Bound() const { return BlockSize && ReadBlock && QueryValue; }

    decltype(&::GetFileVersionInfoSizeA) BlockSize = nullptr;
    decltype(&::GetFileVersionInfoA) ReadBlock = nullptr;
    decltype(&::VerQueryValueA) QueryValue = nullptr;

private:
    TUniqueModule module_;
};

// ntdll's key query; the user-mode headers declare neither it nor its name record
// (a 32-bit byte count, then the UTF-16 name, not terminated).
using TZwQueryKey = LONG(NTAPI*)(HANDLE key, int informationClass, void* information, ULONG length,
                                 ULONG* resultLength);
constexpr int KeyNameInformation = 3;
constexpr size_t NameOffset = sizeof(ULONG);
// UNICODE_STRING's limit, with ample room; anything larger is not a key name.
constexpr ULONG MaxNameRecord = 0x20000;

// Position of needle in text ignoring ASCII case: registry names are case-insensitive,
// and Wine spells the hive \REGISTRY\Machine.
size_t FindNoCase(const std::string& text, const char* needle) {
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    std::string a(text), b(needle);
    std::transform(a.begin(), a.end(), a.begin(), upper);
    std::transform(b.begin(), b.end(), b.begin(), upper);
    return a.find(b);
}

std::string ToAnsi(const std::wstring& text) {
    if (text.empty()) return {};
    const int count = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), count, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string result(static_cast<size_t>(size), '\0');
    const int written = WideCharToMultiByte(CP_ACP, 0, text.data(), count, result.data(), size, nullptr, nullptr);
    result.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return result;
}

std::string NativeKeyName(HKEY key) {
    TUniqueModule ntdll(LoadSystemLibrary("ntdll.dll"));
    if (!ntdll) return {};
    const auto query = Entry<TZwQueryKey>(ntdll.get(), "ZwQueryKey");
    if (!query) return {};

    ULONG length = 0;
    query(key, KeyNameInformation, nullptr, 0, &length);
    if (length < NameOffset || length > MaxNameRecord) return {};
    std::vector<BYTE> record(length + 2, 0);
    if (query(key, KeyNameInformation, record.data(), static_cast<ULONG>(record.size()), &length) < 0) return {};

    // The record's own count, never more than what arrived; a NUL ends the name early.
    ULONG nameBytes = 0;
    std::memcpy(&nameBytes, record.data(), sizeof nameBytes);
    nameBytes = std::min<ULONG>(nameBytes, static_cast<ULONG>(record.size() - NameOffset));
    std::wstring name(nameBytes / sizeof(wchar_t), L'\0');
    std::memcpy(name.data(), record.data() + NameOffset, name.size() * sizeof(wchar_t));
    name.resize(std::wcslen(name.c_str()));
    return ToAnsi(name);
}

void ClearStatusAndOffset(OVERLAPPED& overlapped) {
    overlapped.Internal = 0;
    overlapped.InternalHigh = 0;
    overlapped.Offset = 0;
    overlapped.OffsetHigh = 0;
}
}  // namespace

std::string GetVersionText(const std::string& fileName, const std::string& format) {
    if (fileName.empty()) return {};
    const TVersionLibrary version;
    if (!version.Bound()) return {};
    DWORD ignored = 0;
    const DWORD size = version.BlockSize(fileName.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<char> block(size);
    if (!version.ReadBlock(fileName.c_str(), 0, size, block.data())) return {};
    void* value = nullptr;
    UINT length = 0;
    if (!version.QueryValue(block.data(), "\\", &value, &length) || !value || length < sizeof(VS_FIXEDFILEINFO))
        return {};
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, value, sizeof info);
    const unsigned major = HIWORD(info.dwFileVersionMS), minor = LOWORD(info.dwFileVersionMS);
    const unsigned release = HIWORD(info.dwFileVersionLS), build = LOWORD(info.dwFileVersionLS);
    return Format(format.empty() ? "%u.%u.%u.%u" : format.c_str(), major, minor, release, build);
}

std::string RegistryPathFromKeyName(const std::string& fullName, HKEY& root) {
    // Positions count from the start of the name: the hive follows \REGISTRY.
    constexpr size_t HiveAt = 9;
    if (FindNoCase(fullName, "\\MACHINE\\") == HiveAt) {
        root = HKEY_LOCAL_MACHINE;
        return fullName.substr(HiveAt + 9);
    }
    if (FindNoCase(fullName, "\\USER\\") == HiveAt) {
        // What follows is the user's security identifier, then the path.
        root = HKEY_CURRENT_USER;
        std::string path = fullName.substr(HiveAt + 6);
        const size_t slash = path.find('\\');
        if (slash != std::string::npos) path.erase(0, slash + 1);
        return path;
    }
    root = nullptr;
    return fullName;
}

std::string GetRegistryKeyPath(HKEY key, HKEY* root) {
    if (root) *root = nullptr;
    if (key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) return {};
    const std::string fullName = NativeKeyName(key);
    return root ? RegistryPathFromKeyName(fullName, *root) : fullName;
}

std::string ReadRegistryString(HKEY root, const std::string& subKey, const std::string& valueName) {
    TUniqueRegKey key;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return {};
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
    try {
        std::string text(size_t{size} + 1, ' ');
        // The second query is told the first size: a value grown since then fails
        // with ERROR_MORE_DATA instead of overrunning, one that shrank reports less.
        DWORD got = size;
        if (RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                             &got) != ERROR_SUCCESS)
            return {};
        text.resize(std::min(got, size));
        if (type == REG_SZ && !text.empty() && text.back() == '\0') text.pop_back();
        return text;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

std::string MultiStringToText(const char* buffer, int length, const std::string& separator) {
    std::string text;
    if (!buffer || length < 2) return text;
    // The final NUL at length - 1 is never read; the one before it ends the last item.
    for (int i = 0; i <= length - 2; ++i) {
        if (buffer[i] != '\0')
            text += buffer[i];
        else if (i != length - 2)
            text += separator;
    }
    return text;
}

bool WaitOverlapped(HANDLE file, OVERLAPPED& overlapped, DWORD& transferred, DWORD& errorCode) {
    errorCode = GetLastError();
    if (errorCode != ERROR_IO_PENDING) return false;
    // The wait also ends when another thread signals the record's event, and Wine then
    // reports success for an operation still pending; a second look without waiting
    // tells the two apart (ERROR_IO_INCOMPLETE).
    if (GetOverlappedResult(file, &overlapped, &transferred, TRUE) &&
        GetOverlappedResult(file, &overlapped, &transferred, FALSE))
        return true;
    errorCode = GetLastError();
    return false;
}

bool OverlappedRead(HANDLE file, void* buffer, DWORD count, OVERLAPPED& overlapped) {
    ClearStatusAndOffset(overlapped);
    if (ReadFile(file, buffer, count, nullptr, &overlapped)) return true;
    DWORD transferred = 0;
    DWORD errorCode = 0;
    return WaitOverlapped(file, overlapped, transferred, errorCode);
}

bool OverlappedWrite(HANDLE file, const void* buffer, DWORD count, OVERLAPPED& overlapped) {
    ClearStatusAndOffset(overlapped);
    if (WriteFile(file, buffer, count, nullptr, &overlapped)) return true;
    DWORD transferred = 0;
    DWORD errorCode = 0;
    return WaitOverlapped(file, overlapped, transferred, errorCode);
}

bool OverlappedWriteNoWait(HANDLE file, const void* buffer, DWORD count, OVERLAPPED& overlapped) {
    ClearStatusAndOffset(overlapped);
    return WriteFile(file, buffer, count, nullptr, &overlapped) || GetLastError() == ERROR_IO_PENDING;
}
