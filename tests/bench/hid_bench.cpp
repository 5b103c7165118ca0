// Figures of the HID port and the engine on the fake HID platform, printed for the record:
// the time to build the device list, the report-to-command latency on real timers with
// where it goes (the device's pipe, the hand-over's wake-up, the quiet timer), and the
// monitoring thread's CPU time under a steady stream of reports. The cases assert only that
// each measurement ran. They mean something only when nothing else runs beside them.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "engine/hidport.h"
#include "engine/hidprocessor.h"
#include "engine/kwcrc.h"
#include "hid/kwhid.h"
#include "hid/kwhidw32.h"
#include "hid/kwwin32di.h"
#include "rtl/uischeduler.h"
#include "rtl/win32/handle.h"
#include "tests/fakeos/fakeos.h"

namespace {
constexpr USHORT ReportLength = 8;

int64_t Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

double Ms(int64_t ticks) {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    return 1000.0 * static_cast<double>(ticks) / frequency;
}

// Nearest rank: the smallest sample with at least p of them at or below it.
double Percentile(std::vector<double> samples, double p) {
    std::sort(samples.begin(), samples.end());
    size_t rank = static_cast<size_t>(p * static_cast<double>(samples.size()) + 0.999999);
    rank = std::clamp<size_t>(rank, 1, samples.size());
    return samples[rank - 1];
}

double Median(const std::vector<double>& samples) {
    std::vector<double> s = samples;
    std::sort(s.begin(), s.end());
    const size_t n = s.size();
    return n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
}

// 100 ns units.
uint64_t Ticks(const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

// User plus kernel time of a thread, in ms; negative when it cannot be read.
double ThreadCpuMs(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) return -1;
    return static_cast<double>(Ticks(kernel) + Ticks(user)) / 10000.0;
}

double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
    return static_cast<double>(Ticks(kernel) + Ticks(user)) / 10000.0;
}

int AddDevice(int n) {
    KwFakeDevice d{};
    static const wchar_t* const names[] = {L"Remote One", L"Remote Two", L"Media Pad", L"Button Box"};
    d.Product = names[n % 4];
    d.Manufacturer = L"Orlanvale";
    d.VendorID = 0x1234;
    d.ProductID = static_cast<USHORT>(0x5678 + n);
    d.Caps.UsagePage = 0x0C;
    d.Caps.Usage = 1;
    d.Caps.InputReportByteLength = ReportLength;
    d.Caps.OutputReportByteLength = 4;
    d.Caps.NumberInputButtonCaps = 1;
    d.Caps.NumberInputValueCaps = 2;
    d.Description = "HID-compliant device";
    return KwFake_AddDevice(&d);
}

class HidBench : public testing::Test {
protected:
    void SetUp() override {
        kwhidw32::FreeHidLibrary();
        kwwin32di::FreeSetupApi();
        KwFake_Reset();
        ASSERT_TRUE(KwFake_InstallAll()) << GetLastError();
    }
    void TearDown() override {
        kwhidw32::FreeHidLibrary();
        kwwin32di::FreeSetupApi();
        KwFake_Reset();
    }
};

TEST_F(HidBench, DeviceListRefresh) {
    constexpr int Runs = 5;
    int measured = 0;
    for (int devices : {1, 8, 32}) {
        KwFake_Reset();
        for (int i = 0; i < devices; ++i) ASSERT_GT(AddDevice(i), 0);
        TkwHid port(nullptr);
        port.DeviceListRefresh();  // binds the libraries: not part of the figure
        ASSERT_EQ(port.DeviceCount(), devices);
        std::vector<double> times;
        for (int run = 0; run < Runs; ++run) {
            const int64_t start = Now();
            port.DeviceListRefresh();
            times.push_back(Ms(Now() - start));
            ASSERT_EQ(port.DeviceCount(), devices);
        }
        std::printf("[bench] DeviceListRefresh, %2d devices: median %8.2f ms (min %.2f, max %.2f, %d runs)\n",
                    devices, Median(times), *std::min_element(times.begin(), times.end()),
                    *std::max_element(times.begin(), times.end()), Runs);
        ++measured;
    }
    EXPECT_EQ(measured, 3);
}

// Records when the engine sends its command.
class TTimedProcessor : public THidProcessor {
public:
    void DoCommand(TActionCode code) override {
        CommandTime = Now();
        LastCode = code;
        ++Commands;
        SetEvent(Done.get());
    }
    TUniqueEvent Done{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    int64_t CommandTime = 0;
    TActionCode LastCode = 0;
    int Commands = 0;
};

// Runs the calling thread's messages until the event is set or the time is up.
bool PumpUntil(HANDLE event, DWORD timeoutMs) {
    const int64_t end = Now();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (WaitForSingleObject(event, 0) == WAIT_OBJECT_0) return true;
        const double left = timeoutMs - Ms(Now() - end);
        if (left <= 0) return false;
        MsgWaitForMultipleObjects(1, &event, FALSE, static_cast<DWORD>(left) + 1, QS_ALLINPUT);
    }
}

void PrintStats(const char* what, const std::vector<double>& samples) {
    std::printf("[bench] %s, %zu samples: min %.2f ms, median %.2f ms, p99 %.2f ms, max %.2f ms\n", what,
                samples.size(), *std::min_element(samples.begin(), samples.end()), Median(samples),
                Percentile(samples, 0.99), *std::max_element(samples.begin(), samples.end()));
}

// Stamps each report as the monitoring thread delivers it, then hands it to the handler
// as the engine's own binding does.
struct TArrival {
    THidDevicehandler* handler;
    std::atomic<int64_t> at{0};
    void operator()(TObject*, const uint8_t* buffer, uint32_t count) {
        at = Now();
        handler->ReportReceived(buffer, count);
    }
};

// One press after another on a device the engine listens to, on real timers: from the
// report's send (the fake platform's pipe included) and from its arrival on the
// monitoring thread to the command, beyond the quiet time.
TEST_F(HidBench, ReportToCommandLatency) {
    constexpr int Presses = 200;
    const int id = AddDevice(0);
    ASSERT_GT(id, 0);
    TTimedProcessor engine;
    const uint8_t report[] = {1, 0xCD, 0};
    uint8_t padded[ReportLength] = {};
    std::copy(std::begin(report), std::end(report), padded);
    THidAction* action = engine.FindAction(2);
    action->PressSignature = UpdateSignature(padded, sizeof padded, SignatureNone);
    action->DeviceIndex = 0;

    // The engine's handler, wired as StartHandlers wires it, with a stamp in between.
    auto port = std::make_unique<TkwHid>(nullptr);
    TkwHid* hid = port.get();
    auto* handler = new THidDevicehandler(std::move(port));
    engine.Handlers.Add(handler);
    hid->SetDeviceIndex(0);
    hid->SetTag(0);
    handler->QuietTimer->SetTag(0);
    handler->QuietTimer->SetOnTimer(TNotifyEvent::Bind<&THidProcessor::QuietTimeout>(&engine));
    TArrival arrival{handler};
    hid->OnAfterReceive = TOnReceived::Of(&arrival);
    hid->SetActive(true);

    std::vector<double> fromSend, fromArrival, toArrival;
    for (int press = 0; press < Presses; ++press) {
        const int64_t sent = Now();
        ASSERT_EQ(KwFake_SendReport(id, report, sizeof report), 1);
        if (!PumpUntil(engine.Done.get(), 3000)) break;
        fromSend.push_back(Ms(engine.CommandTime - sent) - THidDevicehandler::QuietInterval);
        fromArrival.push_back(Ms(engine.CommandTime - arrival.at) - THidDevicehandler::QuietInterval);
        toArrival.push_back(Ms(arrival.at - sent));
    }
    engine.StopHandlers();
    ASSERT_EQ(static_cast<int>(fromSend.size()), Presses) << "a press found no command";
    EXPECT_EQ(engine.Commands, Presses);
    EXPECT_EQ(engine.LastCode, 2);
    PrintStats("report arrival on the monitoring thread to command, beyond the 300 ms quiet time", fromArrival);
    PrintStats("report send to command (the fake device's pipe included), beyond the quiet time", fromSend);
    PrintStats("report send to its arrival on the monitoring thread", toArrival);
}

// The hand-over's wake-up alone: a task posted from another thread until it runs on this one.
class TStampedTask : public TUiTask {
public:
    void Run() override {
        ranAt = Now();
        SetEvent(ran.get());
    }
    TUniqueEvent ran{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    int64_t ranAt = 0;
};

TEST_F(HidBench, PostToUiThreadLatency) {
    constexpr int Posts = 500;
    auto scheduler = TUiScheduler::Current();
    TStampedTask task;
    std::vector<double> samples;
    for (int i = 0; i < Posts; ++i) {
        std::atomic<int64_t> postedAt{0};
        // Posted while this thread waits in its message loop, as the UI thread does.
        std::thread poster([&] {
            Sleep(2);
            postedAt = Now();
            scheduler->Post(task);
        });
        const bool ran = PumpUntil(task.ran.get(), 3000);
        poster.join();
        if (!ran) break;
        samples.push_back(Ms(task.ranAt - postedAt));
    }
    ASSERT_EQ(static_cast<int>(samples.size()), Posts);
    PrintStats("post from another thread to the task's run on the UI thread", samples);
}

struct TSender {
    int device;
    const uint8_t* report;
    DWORD size;
    int perSecond;
    DWORD durationMs;
    int sent = 0;
    int delivered = 0;
    int64_t start = 0, end = 0;
};

// Paces reports on the QPC clock for the duration: sleeps while ahead, sends at once while
// behind. One send of the fake costs milliseconds under emulation, so the reports go in
// batches of whole reports written at once: the reader still reads them one at a time.
constexpr int Batch = 10;

DWORD WINAPI SendReports(void* param) {
    auto& s = *static_cast<TSender*>(param);
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    std::vector<uint8_t> batch(static_cast<size_t>(ReportLength) * Batch, 0);
    for (int r = 0; r < Batch; ++r)
        std::copy(s.report, s.report + s.size, batch.begin() + static_cast<ptrdiff_t>(r) * ReportLength);
    s.start = Now();
    const int64_t stop = s.start + f.QuadPart * s.durationMs / 1000;
    for (int i = 0;; i += Batch) {
        const int64_t due = s.start + f.QuadPart * i / s.perSecond;
        if (due >= stop) break;
        while (Now() < due) Sleep(1);
        if (Now() >= stop) break;
        s.sent += Batch;
        if (KwFake_SendBytes(s.device, batch.data(), static_cast<DWORD>(batch.size())) > 0) s.delivered += Batch;
    }
    s.end = Now();
    return 0;
}

TEST_F(HidBench, MonitoringThreadCpuAtAThousandReportsASecond) {
    constexpr int Rate = 1000;
    constexpr DWORD DurationMs = 2000;
    const int id = AddDevice(0);
    ASSERT_GT(id, 0);
    TkwHid port(nullptr);
    port.DeviceListRefresh();
    ASSERT_EQ(port.DeviceCount(), 1);

    std::atomic<int> received{0};
    std::atomic<DWORD> readerId{0};
    TUniqueThread reader;
    TUniqueEvent first{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    auto receive = [&](TObject*, const uint8_t*, uint32_t) {
        if (readerId.load() == 0) {
            readerId = GetCurrentThreadId();
            reader.reset(OpenThread(THREAD_QUERY_INFORMATION, FALSE, readerId));
            SetEvent(first.get());
        }
        ++received;
    };
    port.OnAfterReceive = TOnReceived::Of(&receive);
    port.SetActive(true);
    const uint8_t report[] = {1, 0xE9, 7};
    ASSERT_EQ(KwFake_SendReport(id, report, sizeof report), 1);
    ASSERT_EQ(WaitForSingleObject(first.get(), 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(reader) << GetLastError();
    ASSERT_NE(readerId.load(), GetCurrentThreadId());

    const double cpu0 = ThreadCpuMs(reader.get());
    const double process0 = ProcessCpuMs();
    TSender sender{id, report, sizeof report, Rate, DurationMs};
    TUniqueThread sending{CreateThread(nullptr, 0, &SendReports, &sender, 0, nullptr)};
    ASSERT_TRUE(sending);
    ASSERT_EQ(WaitForSingleObject(sending.get(), 60000), WAIT_OBJECT_0);
    // The last reports may still be on their way.
    for (int i = 0; i < 500 && received.load() < 1 + sender.delivered; ++i) Sleep(10);
    const int64_t end = Now();
    const double cpu1 = ThreadCpuMs(reader.get());
    const double process1 = ProcessCpuMs();
    port.SetActive(false);

    const int arrived = received.load() - 1;
    const double wallMs = Ms(end - sender.start);
    const double sendMs = Ms(sender.end - sender.start);
    std::printf("[bench] monitoring thread: %d of %d reports arrived, sent in %.0f ms (%.0f/s, paced for %d/s), "
                "%.0f ms wall\n",
                arrived, sender.sent, sendMs, 1000.0 * sender.sent / sendMs, Rate, wallMs);
    if (cpu0 < 0 || cpu1 < 0) {
        std::printf("[bench] monitoring thread CPU time: GetThreadTimes failed (%lu)\n", GetLastError());
    } else {
        const double cpu = cpu1 - cpu0;
        std::printf("[bench] monitoring thread CPU: %.1f ms in all, %.1f ms per second of wall time, "
                    "%.1f us per report\n",
                    cpu, 1000.0 * cpu / wallMs, arrived > 0 ? 1000.0 * cpu / arrived : 0.0);
    }
    std::printf("[bench] whole process CPU meanwhile (sender and fake included): %.1f ms per second of wall time\n",
                1000.0 * (process1 - process0) / wallMs);
    EXPECT_EQ(sender.delivered, sender.sent);
    EXPECT_GE(sender.sent, 100);
    EXPECT_EQ(arrived, sender.delivered) << "every report sent should have arrived";
}
}  // namespace
