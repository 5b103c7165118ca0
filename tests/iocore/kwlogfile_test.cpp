#include "iocore/kwlogfile.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "rtl/files.h"
#include "rtl/format.h"
#include "tests/iocore/test_port.h"
#include "tests/support/temp_folder.h"

namespace {
std::vector<std::string> LinesOf(const std::string& path) {
    std::string content;
    if (!ReadWholeFile(path, content)) return {};
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(content.substr(start, end - start));
    if (start < content.size()) lines.push_back("unterminated: " + content.substr(start));
    return lines;
}

void WINAPI FixedTime(LPSYSTEMTIME time) {
    *time = SYSTEMTIME{2026, 12, 5, 11, 9, 7, 5, 42};
}

class TFixedClock {
public:
    TFixedClock() : previous_(TkwFileLog::LocalTime) { TkwFileLog::LocalTime = &FixedTime; }
    ~TFixedClock() { TkwFileLog::LocalTime = previous_; }

private:
    void(WINAPI* previous_)(LPSYSTEMTIME);
};

std::string Head(int level) { return Format("2026-12-11 09:07:05.042 %5lu %d ", GetCurrentThreadId(), level); }

TEST(TkwFileLog, EachMessageIsALineWithTimeThreadAndLevel) {
    TTempFolder dir;
    TFixedClock clock;
    const std::string path = dir.Path("a.log");
    {
        TkwFileLog log(nullptr);
        ASSERT_TRUE(log.Open(path));
        EXPECT_EQ(log.FileName(), path);
        log.Add(1, "kwHID: open");
        log.AddFmt(2, "kwHID: read %u bytes from %s, %d", 8u, "dev", -1);
        log.Add(0, "two\r\nlines");
        log.AddFmt(1, "%s", std::string(2000, 'x').c_str());  // longer than a line on the stack
    }
    EXPECT_EQ(LinesOf(path), (std::vector<std::string>{Head(1) + "kwHID: open",
                                                        Head(2) + "kwHID: read 8 bytes from dev, -1",
                                                        Head(0) + "two  lines", Head(1) + std::string(2000, 'x')}));
    // Opened again, it appends.
    TkwFileLog log(nullptr);
    ASSERT_TRUE(log.Open(path));
    log.Add(1, "again");
    EXPECT_EQ(LinesOf(path).size(), 5u);
    EXPECT_EQ(LinesOf(path).back(), Head(1) + "again");
}

TEST(TkwFileLog, DropsLevelsAboveItsFilterBeforeFormatting) {
    TTempFolder dir;
    TFixedClock clock;
    struct {
        int maxLevel;
        std::vector<int> kept;
    } cases[] = {{0, {0}}, {1, {0, 1}}, {2, {0, 1, 2}}};
    for (const auto& c : cases) {
        const std::string path = dir.Path(Format("level%d.log", c.maxLevel));
        TkwFileLog log(nullptr);
        ASSERT_TRUE(log.Open(path));
        log.MaxLevel = c.maxLevel;
        std::vector<std::string> expected;
        for (int level = 0; level <= 2; ++level) {
            EXPECT_EQ(log.Accepts(level), level <= c.maxLevel);
            log.Add(level, "add");
            // A %s without its argument would crash were it formatted.
            if (level > c.maxLevel) log.AddFmt(level, "%s", reinterpret_cast<const char*>(1));
            else log.AddFmt(level, "fmt %d", level);
        }
        for (int level : c.kept) {
            expected.push_back(Head(level) + "add");
            expected.push_back(Head(level) + Format("fmt %d", level));
        }
        log.Close();
        EXPECT_EQ(LinesOf(path), expected) << c.maxLevel;
    }
}

TEST(TkwFileLog, SendersSkipLinesItWouldDrop) {
    // The prefix is put in front only of lines the log takes.
    class TCountingLog : public TkwFileLog {
    public:
        TCountingLog() : TkwFileLog(nullptr) {}
        void Add(int level, const std::string& text) override {
            ++adds;
            TkwFileLog::Add(level, text);
        }
        void AddFmtV(int level, const char* fmt, va_list args) override {
            ++adds;
            TkwFileLog::AddFmtV(level, fmt, args);
        }
        int adds = 0;
    };
    TCountingLog log;
    log.MaxLevel = 1;
    TTestPort port;
    port.SetLog(&log);
    port.WriteLog(2, "detail");
    port.WriteLogFmt(2, "detail %u", 1u);
    EXPECT_EQ(log.adds, 0);
    port.WriteLog(1, "milestone");
    port.WriteLogFmt(1, "milestone %u", 1u);
    EXPECT_EQ(log.adds, 2);
    port.SetLog(nullptr);
}

TEST(TkwFileLog, WithoutAFileItDropsEverything) {
    TTempFolder dir;
    TkwFileLog log(nullptr);
    EXPECT_FALSE(log.IsOpen());
    EXPECT_NO_THROW(log.Add(0, "nowhere"));
    EXPECT_FALSE(log.Open(dir.Path("missing\\folder\\a.log")));
    EXPECT_FALSE(log.IsOpen());
    EXPECT_NO_THROW(log.AddFmt(0, "nowhere %d", 1));
}

TEST(TkwFileLog, ABigFileMovesAsideAtOpen) {
    TTempFolder dir;
    const std::string path = dir.Path("big.log");
    ASSERT_TRUE(ReplaceFileContent(path, std::string(TkwFileLog::RolloverSize + 1, 'o')));
    ASSERT_TRUE(ReplaceFileContent(path + ".old", "older"));
    TkwFileLog log(nullptr);
    ASSERT_TRUE(log.Open(path));
    log.Add(1, "fresh");
    EXPECT_EQ(LinesOf(path).size(), 1u);
    std::string old;
    ASSERT_TRUE(ReadWholeFile(path + ".old", old));
    EXPECT_EQ(old.size(), TkwFileLog::RolloverSize + 1);
}

// Several reading threads at once: every line whole, none lost, each thread's in order.
TEST(TkwFileLog, ThreadsWritingAtOnceKeepTheirLinesWhole) {
    TTempFolder dir;
    const std::string path = dir.Path("threads.log");
    constexpr int Threads = 4, Lines = 500;
    TkwFileLog log(nullptr);
    ASSERT_TRUE(log.Open(path));
    TUniqueEvent go(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t)
        writers.emplace_back([&, t] {
            WaitForSingleObject(go.get(), INFINITE);
            for (int i = 0; i < Lines; ++i) log.AddFmt(2, "writer %d line %04d %s", t, i, std::string(40, 'a' + t).c_str());
        });
    SetEvent(go.get());
    for (auto& w : writers) w.join();
    log.Close();
    const std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} +\d+ 2 writer (\d) line (\d{4}) ([a-d]{40}))");
    std::vector<int> next(Threads, 0);
    int whole = 0;
    for (const std::string& line : LinesOf(path)) {
        std::smatch m;
        if (!std::regex_match(line, m, shape)) {
            ADD_FAILURE() << "torn line: " << line;
            continue;
        }
        const int t = std::stoi(m[1]);
        EXPECT_EQ(std::stoi(m[2]), next[t]++) << "writer " << t;
        EXPECT_EQ(m[3].str(), std::string(40, static_cast<char>('a' + t)));
        ++whole;
    }
    EXPECT_EQ(whole, Threads * Lines);
}

// A closing thread waits for lines being written, and lines after the close go nowhere.
TEST(TkwFileLog, CloseWhileThreadsWrite) {
    TTempFolder dir;
    const std::string path = dir.Path("closing.log");
    TkwFileLog log(nullptr);
    ASSERT_TRUE(log.Open(path));
    std::atomic<bool> stop{false};
    std::atomic<int> written{0};
    std::thread writer([&] {
        while (!stop) {
            log.Add(2, "line");
            ++written;
        }
    });
    while (written < 50) Sleep(0);
    log.Close();
    const size_t lines = LinesOf(path).size();
    while (written < 100) Sleep(0);
    stop = true;
    writer.join();
    EXPECT_EQ(LinesOf(path).size(), lines);
    for (const std::string& line : LinesOf(path)) EXPECT_NE(line.find(" 2 line"), std::string::npos) << line;
}

// The lines written before the host crashes are in the file: the process is ended on the
// spot, as a crash ends it, right after its last line.
constexpr const char* CrashChildFile = "KW_LOG_CRASH_FILE";
constexpr int CrashLines = 300;

TEST(TkwFileLog, CrashChild) {
    const char* path = std::getenv(CrashChildFile);
    if (!path) GTEST_SKIP() << "run by LinesBeforeACrashAreKept";
    TkwFileLog* log = new TkwFileLog(nullptr);  // never freed: the crash comes first
    if (!log->Open(path)) TerminateProcess(GetCurrentProcess(), 2);
    for (int i = 0; i < CrashLines; ++i) log->AddFmt(2, "before the crash %d", i);
    TerminateProcess(GetCurrentProcess(), 3);
}

TEST(TkwFileLog, LinesBeforeACrashAreKept) {
    TTempFolder dir;
    const std::string path = dir.Path("crash.log");
    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    std::string command = Format("\"%s\" --gtest_filter=TkwFileLog.CrashChild", self);
    ASSERT_TRUE(SetEnvironmentVariableA(CrashChildFile, path.c_str()));
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableA(CrashChildFile, nullptr);
    ASSERT_TRUE(started) << GetLastError();
    TUniqueThread thread(pi.hThread);
    TUniqueEvent process(pi.hProcess);
    ASSERT_EQ(WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 3u);
    const std::vector<std::string> lines = LinesOf(path);
    ASSERT_EQ(lines.size(), static_cast<size_t>(CrashLines));
    EXPECT_NE(lines.back().find(Format("before the crash %d", CrashLines - 1)), std::string::npos);
}

// --- the user's switch

class UserLogSwitch : public testing::Test {
protected:
    // A key of this test's own: other programs may read the real one meanwhile.
    const std::string key = Format("Software\\Orlanvale\\ClickwellTests\\log-%lu", GetCurrentProcessId());
    void TearDown() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Orlanvale\\ClickwellTests");  // when it holds no other
    }
    void Set(DWORD type, const void* data, DWORD size) {
        TUniqueRegKey k;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, k.put(),
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(k.get(), LogSwitchValue, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }
};

TEST_F(UserLogSwitch, TheValueGivesTheLevel) {
    EXPECT_EQ(UserLogLevel(key.c_str()), -1) << "no key";
    struct {
        const char* name;
        DWORD type;
        std::string data;
        int level;
    } cases[] = {
        {"0", REG_DWORD, std::string("\0\0\0\0", 4), -1},
        {"1", REG_DWORD, std::string("\1\0\0\0", 4), 1},
        {"2", REG_DWORD, std::string("\2\0\0\0", 4), 2},
        {"9", REG_DWORD, std::string("\x09\0\0\0", 4), 2},
        {"text 1", REG_SZ, std::string("1\0", 2), 1},
        {"text 2", REG_SZ, std::string("2", 1), 2},
        {"text 0", REG_SZ, std::string("0\0", 2), -1},
        {"text on", REG_SZ, std::string("on\0", 3), -1},
        {"empty text", REG_SZ, std::string("\0", 1), -1},
        {"binary", REG_BINARY, std::string("\1", 1), -1},
    };
    for (const auto& c : cases) {
        Set(c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
        EXPECT_EQ(UserLogLevel(key.c_str()), c.level) << c.name;
    }
    TUniqueRegKey k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_SET_VALUE, k.put()), ERROR_SUCCESS);
    RegDeleteValueA(k.get(), LogSwitchValue);
    EXPECT_EQ(UserLogLevel(key.c_str()), -1) << "no value";
}
}  // namespace
