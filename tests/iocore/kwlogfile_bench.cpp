// What a log line costs the reading thread that writes it, under Wine on this machine:
// the log as built (each line written to the file as it comes) against a bounded buffer
// emptied by a thread of its own, and against a flush to the disk per line. Figures are
// printed, never asserted; run alone (CTest label "bench").
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "iocore/kwlogfile.h"
#include "rtl/format.h"
#include "tests/support/temp_folder.h"

namespace {
constexpr int LinesPerThread = 3000;

double Microseconds(LONGLONG ticks) {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return 1e6 * static_cast<double>(ticks) / static_cast<double>(frequency);
}

LONGLONG Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

// The other design measured: lines go into a bounded buffer under a lock, a thread of the
// log's own writes them out. A full buffer drops the line rather than wait.
class TBufferedLog : public TkwCustomLogFile {
public:
    explicit TBufferedLog(const std::string& path)
        : TkwCustomLogFile(nullptr),
          file_(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {
        buffer_.reserve(Capacity);
        writer_ = std::thread([this] { Run(); });
    }
    ~TBufferedLog() override {
        stop_ = true;
        SetEvent(wake_.get());
        writer_.join();
    }
    void Add(int level, const std::string& text) override {
        SYSTEMTIME t;
        GetLocalTime(&t);
        char line[512];
        const int n = std::snprintf(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u.%03u %5lu %d %s\r\n", t.wYear,
                                    t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                                    GetCurrentThreadId(), level, text.c_str());
        AcquireSRWLockExclusive(&lock_);
        if (buffer_.size() + static_cast<size_t>(n) <= Capacity)
            buffer_.insert(buffer_.end(), line, line + n);
        else
            ++dropped;
        ReleaseSRWLockExclusive(&lock_);
        SetEvent(wake_.get());
    }
    // Bytes not yet in the file: what a crash at this moment loses.
    size_t Pending() {
        AcquireSRWLockExclusive(&lock_);
        const size_t n = buffer_.size() + inFlight_;
        ReleaseSRWLockExclusive(&lock_);
        return n;
    }
    std::atomic<int> dropped{0};

private:
    static constexpr size_t Capacity = 64 * 1024;
    void Run() {
        std::vector<char> out;
        out.reserve(Capacity);
        for (;;) {
            WaitForSingleObject(wake_.get(), INFINITE);
            AcquireSRWLockExclusive(&lock_);
            out.swap(buffer_);
            inFlight_ = out.size();
            ReleaseSRWLockExclusive(&lock_);
            DWORD written = 0;
            if (!out.empty()) WriteFile(file_.get(), out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
            out.clear();
            AcquireSRWLockExclusive(&lock_);
            inFlight_ = 0;
            const bool done = stop_ && buffer_.empty();
            ReleaseSRWLockExclusive(&lock_);
            if (done) return;
        }
    }
    TUniqueFile file_;
    TUniqueEvent wake_{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<char> buffer_;
    size_t inFlight_ = 0;
    std::atomic<bool> stop_{false};
    std::thread writer_;
};

// The log as built, with a flush to the disk after every line.
class TFlushingLog : public TkwFileLog {
public:
    explicit TFlushingLog(const std::string& path) : TkwFileLog(nullptr), path_(path) {
        Open(path);
        flush_.reset(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    }
    void AddFmtV(int level, const char* fmt, va_list args) override {
        TkwFileLog::AddFmtV(level, fmt, args);
        FlushFileBuffers(flush_.get());
    }

private:
    std::string path_;
    TUniqueFile flush_;
};

void Report(const char* name, std::vector<double> costs, const std::string& extra = "") {
    std::sort(costs.begin(), costs.end());
    auto at = [&](double q) { return costs[static_cast<size_t>(q * static_cast<double>(costs.size() - 1))]; };
    std::printf("%-44s lines %6zu  median %7.1f us  p99 %8.1f us  max %9.1f us%s\n", name, costs.size(), at(0.5),
                at(0.99), costs.back(), extra.c_str());
    std::fflush(stdout);
}

// Each of threads writers adds LinesPerThread report lines, as the port writes them; the
// first one calls afterLast right after its last line.
std::vector<double> Measure(TkwCustomLogFile& log, int threads, const std::function<void()>& afterLast = {}) {
    std::vector<std::vector<double>> costs(static_cast<size_t>(threads));
    TUniqueEvent go(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([&, t] {
            std::vector<double>& mine = costs[static_cast<size_t>(t)];
            mine.reserve(LinesPerThread);
            WaitForSingleObject(go.get(), INFINITE);
            for (int i = 0; i < LinesPerThread; ++i) {
                const LONGLONG start = Now();
                log.AddFmt(2, "kwHID: Do input data [%u] bytes ", 64u);
                mine.push_back(Microseconds(Now() - start));
            }
            if (t == 0 && afterLast) afterLast();
        });
    SetEvent(go.get());
    for (auto& w : writers) w.join();
    std::vector<double> all;
    for (auto& c : costs) all.insert(all.end(), c.begin(), c.end());
    return all;
}

TEST(LogCost, PerLineOnTheWritingThread) {
    TTempFolder dir;
    for (int threads : {1, 4}) {
        {
            TkwFileLog log(nullptr);
            ASSERT_TRUE(log.Open(dir.Path(Format("through%d.log", threads))));
            Report(Format("written per line, %d thread(s)", threads).c_str(), Measure(log, threads));
        }
        {
            TBufferedLog log(dir.Path(Format("buffered%d.log", threads)));
            size_t pending = 0;
            const std::vector<double> costs = Measure(log, threads, [&] { pending = log.Pending(); });
            Report(Format("bounded buffer + own thread, %d thread(s)", threads).c_str(), costs,
                   Format("  in memory after a last line: %zu bytes, dropped: %d lines", pending, log.dropped.load()));
        }
    }
    TFlushingLog log(dir.Path("flushed.log"));
    Report("written and flushed to the disk per line, 1", Measure(log, 1));
}
}  // namespace
