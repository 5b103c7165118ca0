#include "iocore/kwlogfile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {
class TSharedLock {
public:
    explicit TSharedLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockShared(&lock_); }
    ~TSharedLock() { ReleaseSRWLockShared(&lock_); }
    TSharedLock(const TSharedLock&) = delete;
    TSharedLock& operator=(const TSharedLock&) = delete;

private:
    SRWLOCK& lock_;
};

class TExclusiveLock {
public:
    explicit TExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~TExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    TExclusiveLock(const TExclusiveLock&) = delete;
    TExclusiveLock& operator=(const TExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

// Lines up to this size are put together on the stack: no allocation on a reading
// thread for the lines the ports write.
constexpr size_t StackLine = 512;
}  // namespace

void(WINAPI* TkwFileLog::LocalTime)(LPSYSTEMTIME) = &GetLocalTime;

TkwFileLog::TkwFileLog(TComponent* owner) : TkwCustomLogFile(owner) {}

TkwFileLog::~TkwFileLog() { Close(); }

bool TkwFileLog::Open(const std::string& path) {
    TExclusiveLock guard(lock_);
    file_.reset();
    fileName_ = path;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
        ((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) > RolloverSize)
        MoveFileExA(path.c_str(), (path + ".old").c_str(), MOVEFILE_REPLACE_EXISTING);
    // Append access only: every write goes to the end of the file, after what another
    // program (an editor, a second player) may have added.
    file_.reset(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file_);
}

void TkwFileLog::Close() noexcept {
    TExclusiveLock guard(lock_);
    file_.reset();
}

bool TkwFileLog::IsOpen() const noexcept {
    TSharedLock guard(lock_);
    return static_cast<bool>(file_);
}

std::string TkwFileLog::FileName() const {
    TSharedLock guard(lock_);
    return fileName_;
}

void TkwFileLog::Add(int level, const std::string& text) {
    if (Accepts(level)) Write(level, text.data(), text.size());
}

void TkwFileLog::AddFmtV(int level, const char* fmt, va_list args) {
    if (!Accepts(level)) return;
    char stack[StackLine];
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(stack, sizeof stack, fmt, copy);
    va_end(copy);
    if (length < 0) return;
    if (static_cast<size_t>(length) < sizeof stack) {
        Write(level, stack, static_cast<size_t>(length));
        return;
    }
    std::unique_ptr<char[]> heap(new (std::nothrow) char[static_cast<size_t>(length) + 1]);
    if (!heap) return;
    std::vsnprintf(heap.get(), static_cast<size_t>(length) + 1, fmt, args);
    Write(level, heap.get(), static_cast<size_t>(length));
}

void TkwFileLog::Write(int level, const char* text, size_t length) noexcept {
    SYSTEMTIME t{};
    LocalTime(&t);
    char head[80];
    const int headLength = std::snprintf(head, sizeof head, "%04u-%02u-%02u %02u:%02u:%02u.%03u %5lu %d ", t.wYear,
                                         t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                                         static_cast<unsigned long>(GetCurrentThreadId()), level);
    if (headLength <= 0) return;
    const size_t total = static_cast<size_t>(headLength) + length + 2;
    if (total > 0x7FFFFFFF) return;
    char stack[StackLine];
    std::unique_ptr<char[]> heap;
    char* line = stack;
    if (total > sizeof stack) {
        heap.reset(new (std::nothrow) char[total]);
        if (!heap) return;
        line = heap.get();
    }
    std::memcpy(line, head, static_cast<size_t>(headLength));
    char* body = line + headLength;
    std::memcpy(body, text, length);
    // One message, one line.
    for (size_t i = 0; i < length; ++i)
        if (body[i] == '\r' || body[i] == '\n') body[i] = ' ';
    line[total - 2] = '\r';
    line[total - 1] = '\n';
    // Writers take turns for the write alone: an append from several threads at once
    // is not one piece everywhere (under Wine, lines overwrite each other).
    TExclusiveLock guard(lock_);
    if (!file_) return;
    DWORD written = 0;
    WriteFile(file_.get(), line, static_cast<DWORD>(total), &written, nullptr);
}

int UserLogLevel(const char* keyPath) {
    TUniqueRegKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return -1;
    DWORD type = 0;
    BYTE data[32] = {};
    DWORD size = sizeof data - 1;
    if (RegQueryValueExA(key.get(), LogSwitchValue, nullptr, &type, data, &size) != ERROR_SUCCESS) return -1;
    long level = 0;
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD value = 0;
        std::memcpy(&value, data, sizeof value);
        level = value > 2 ? 2 : static_cast<long>(value);
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
        data[size] = 0;
        const char* text = reinterpret_cast<const char*>(data);
        char* end = nullptr;
        level = std::strtol(text, &end, 10);
        if (end == text || (*end != 0 && *end != ' ')) return -1;
        if (level > 2) level = 2;
    } else {
        return -1;
    }
    return level <= 0 ? -1 : static_cast<int>(level);
}
