#pragma once
// The log of our own: every message a line of its own, with the local time, the thread
// and the level, appended to a file. Reading threads call it at once: each line goes to
// the file in one write as it comes, so a host that crashes the next moment has it
// already. A thread waits only while another one hands its line to the system's file
// cache, never for the disk.
#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <string>

#include "iocore/kwclasses.h"
#include "rtl/win32/handle.h"

class TkwFileLog : public TkwCustomLogFile {
public:
    explicit TkwFileLog(TComponent* owner);
    ~TkwFileLog() override;

    // Opens the file for appending, creating it (not its folder) when missing. A file
    // grown beyond RolloverSize moves aside to <path>.old first. False when it cannot be
    // opened; the log then drops every line.
    bool Open(const std::string& path);
    // Waits for lines being written, then closes the file.
    void Close() noexcept;
    bool IsOpen() const noexcept;
    std::string FileName() const;

    // Neither raises: a line that cannot be written is dropped.
    void Add(int level, const std::string& text) override;
    void AddFmtV(int level, const char* fmt, va_list args) override;
    bool Accepts(int level) const noexcept override { return level <= MaxLevel.load(std::memory_order_relaxed); }

    // Lines of a higher level are dropped: 0 fatal errors, 1 milestones, 2 detail.
    std::atomic<int> MaxLevel{2};

    static constexpr uint64_t RolloverSize = 4u << 20;
    // The clock of the time stamps; a test puts a fixed one in place.
    static void(WINAPI* LocalTime)(LPSYSTEMTIME time);

private:
    void Write(int level, const char* text, size_t length) noexcept;

    // Held for one write, an open or a close.
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    TUniqueFile file_;
    std::string fileName_;
};

// Where a user turns the log of the plug-ins on, below HKEY_CURRENT_USER.
inline constexpr const char* LogSwitchKey = "Software\\Orlanvale\\Clickwell";
inline constexpr const char* LogSwitchValue = "Log";

// The highest level the user asked for with the switch (a number, as a DWORD or as
// text), 2 at most; -1 when the log is off: no key, no value, 0 or not a number.
int UserLogLevel(const char* keyPath = LogSwitchKey);
