#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "iocore/kwclasses.h"
#include "iocore/kwtimer.h"
#include "rtl/exception.h"
#include "tests/iocore/test_port.h"
#include "tests/iocore/test_support.h"

namespace {
// Records what the base lets through to the overridable steps.
class TProbe : public TkwCustomDataProcessor {
public:
    explicit TProbe(std::string name = "") : TkwCustomDataProcessor(nullptr), name_(std::move(name)) {}
    void DoDataReceive(const void* buffer, uint32_t count, TReceiveFlags& flags) override {
        received.push_back(name_ + ":" + std::string(static_cast<const char*>(buffer), count));
        TkwCustomDataProcessor::DoDataReceive(buffer, count, flags);
    }
    void CheckState(bool& flag) override {
        checks.push_back(flag);
        flag = true;
    }
    std::vector<std::string> received;
    std::vector<bool> checks;

private:
    std::string name_;
};

struct TSendHandler {
    bool handle = false;
    bool raise = false;
    char replaceFirst = 0;
    std::vector<std::string> calls;
    void operator()(TObject*, void* data, uint32_t count, bool isText, bool& handled) {
        calls.push_back(std::string(isText ? "text " : "data ") + std::string(static_cast<char*>(data), count));
        if (replaceFirst) static_cast<char*>(data)[0] = replaceFirst;
        handled = handle;
        if (raise) throw Exception("handler failed");
    }
};

TEST(TkwCustomDataProcessor, StartsUnboundWithItsTimeoutStopped) {
    TProbe processor;
    EXPECT_EQ(processor.Port, nullptr);
    EXPECT_EQ(processor.NextProcessor, nullptr);
    EXPECT_EQ(processor.Log(), nullptr);
    EXPECT_EQ(processor.LogPrefix, "");
    ASSERT_TRUE(processor.Timer);
    EXPECT_FALSE(processor.Timer->Enabled());
    EXPECT_TRUE(processor.Timer->OnTimer());
    EXPECT_FALSE(StopSystemTimer(processor.Timer->TimerWindow()));
}

TEST(TkwCustomDataProcessor, DataSendGoesToThePortUnlessTheHandlerTakesIt) {
    struct {
        const char* name;
        bool handle;
        bool raise;
        const char* sent;
        bool timerRestarted;
        std::vector<std::string> lines;
    } cases[] = {
        {"not handled", false, false, "[Xbcd]", false, {"2:DoDataSend: 4 bytes"}},
        {"handled", true, false, "", true, {"2:DoDataSend: 4 bytes"}},
        {"raising handler", false, true, "", false, {}},
    };
    for (const auto& c : cases) {
        TTestPort port;
        TProbe processor;
        TRecordingLog log;
        processor.SetLog(&log);
        port.SetDataProcessor(&processor);
        TSendHandler handler;
        handler.handle = c.handle;
        handler.raise = c.raise;
        handler.replaceFirst = 'X';
        processor.OnDataSend = TOnDataSend::Of(&handler);
        char block[] = {'a', 'b', 'c', 'd'};
        processor.DoDataSend(block, 4);
        EXPECT_EQ(handler.calls, std::vector<std::string>{"data abcd"}) << c.name;
        EXPECT_EQ(port.sent, c.sent) << c.name;
        EXPECT_EQ(processor.Timer->Enabled(), c.timerRestarted) << c.name;
        EXPECT_EQ(StopSystemTimer(processor.Timer->TimerWindow()), c.timerRestarted) << c.name;
        EXPECT_EQ(log.lines, c.lines) << c.name;
        port.SetDataProcessor(nullptr);
    }
}

TEST(TkwCustomDataProcessor, EmptySendsDoNothingAtAll) {
    TTestPort port;
    TProbe processor;
    TRecordingLog log;
    processor.SetLog(&log);
    processor.SetPort(&port);
    TSendHandler handler;
    processor.OnDataSend = TOnDataSend::Of(&handler);
    char byte = 'a';
    processor.DoDataSend(&byte, 0);
    processor.DoDataSend(nullptr, 4);
    processor.DoStringSend("");
    EXPECT_TRUE(handler.calls.empty());
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(port.sent, "");
}

TEST(TkwCustomDataProcessor, StringSendNeitherLogsNorTouchesTheTimer) {
    for (bool handle : {false, true}) {
        TTestPort port;
        TProbe processor;
        TRecordingLog log;
        processor.SetLog(&log);
        processor.SetPort(&port);
        TSendHandler handler;
        handler.handle = handle;
        handler.replaceFirst = 'H';
        processor.OnDataSend = TOnDataSend::Of(&handler);
        const std::string text = "hello";
        processor.DoStringSend(text);
        EXPECT_EQ(text, "hello") << "the caller's string is not changed";
        EXPECT_EQ(handler.calls, std::vector<std::string>{"text hello"});
        EXPECT_EQ(port.sent, handle ? "" : "[Hello]");
        EXPECT_TRUE(log.lines.empty());
        EXPECT_FALSE(processor.Timer->Enabled());
    }
}

TEST(TkwCustomDataProcessor, SendsWithoutAPortGoNowhere) {
    TProbe processor;
    char block[] = {'a', 'b'};
    EXPECT_NO_THROW(processor.DoDataSend(block, 2));
    EXPECT_NO_THROW(processor.DoStringSend("ab"));
}

TEST(TkwCustomDataProcessor, SetTimeoutArmsOnceAndZeroStopsIt) {
    TProbe processor;
    processor.SetTimeout(250);
    EXPECT_TRUE(processor.Timer->Enabled());
    EXPECT_EQ(processor.Timer->Interval, 250u);
    processor.SetTimeout(0);
    EXPECT_FALSE(processor.Timer->Enabled());
    EXPECT_EQ(processor.Timer->Interval, 250u) << "0 leaves the interval alone";
    EXPECT_FALSE(StopSystemTimer(processor.Timer->TimerWindow()));
}

TEST(TkwCustomDataProcessor, TimeoutFiresOncePerArmingAndChecksTheState) {
    TProbe processor;
    processor.SetTimeout(1);
    ASSERT_TRUE(PumpUntil([&] { return !processor.checks.empty(); }));
    EXPECT_EQ(processor.checks, std::vector<bool>{false});
    EXPECT_FALSE(processor.Timer->Enabled());
    EXPECT_FALSE(StopSystemTimer(processor.Timer->TimerWindow()));
    // A tick already queued when the timeout stopped is dropped.
    SendMessageA(processor.Timer->TimerWindow(), WM_TIMER, 1, 0);
    EXPECT_EQ(processor.checks.size(), 1u);
}

TEST(TkwCustomDataProcessor, ChainedProcessorsShareThePortAndItsNotifications) {
    TTestPort port;
    TProbe a("A"), b("B");
    TRecordingLog logA, logB;
    a.SetLog(&logA);
    b.SetLog(&logB);
    port.SetDataProcessor(&a);
    a.SetNextProcessor(&b);
    EXPECT_EQ(b.Port, &port);
    port.DoReceive("xy", 2);
    EXPECT_EQ(a.received, std::vector<std::string>{"A:xy"});
    EXPECT_EQ(b.received, std::vector<std::string>{"B:xy"});
    port.Notify(NotifyMediumClosed);
    port.Notify(NotifyMediumOpened);
    port.Notify(NotifyDeviceChanged);
    const std::vector<std::string> heard{"2:Medium Closed", "2:Medium Opened"};
    EXPECT_EQ(logA.lines, heard);
    EXPECT_EQ(logB.lines, heard);
    a.DataReceive("z", 1);
    EXPECT_EQ(b.received.back(), "B:z");
    port.SetDataProcessor(nullptr);
    b.SetPort(nullptr);
    EXPECT_EQ(port.NotifyList->Count(), 0);
}

TEST(TkwCustomDataProcessor, ChainingItselfChangesNothing) {
    TTestPort port;
    TProbe a;
    a.SetPort(&port);
    a.SetNextProcessor(&a);
    EXPECT_EQ(a.NextProcessor, nullptr);
    EXPECT_EQ(port.NotifyList->Count(), 1);
}

TEST(TkwCustomDataProcessor, BindingIsRegisteredOnceAndMovesWithThePort) {
    TTestPort first, second;
    TProbe processor;
    processor.SetPort(&first);
    processor.SetPort(&first);
    EXPECT_EQ(first.NotifyList->Count(), 1);
    processor.SetPort(&second);
    EXPECT_EQ(first.NotifyList->Count(), 0);
    EXPECT_EQ(second.NotifyList->Count(), 1);
    processor.SetPort(nullptr);
    EXPECT_EQ(second.NotifyList->Count(), 0);
    EXPECT_EQ(processor.Port, nullptr);
}

TEST(TkwCustomDataProcessor, RemovalIsNotifiedBothWays) {
    // What goes first: the next processor, the port, the log, the processor itself.
    {
        TProbe a;
        auto b = std::make_unique<TProbe>();
        a.SetNextProcessor(b.get());
        b.reset();
        EXPECT_EQ(a.NextProcessor, nullptr);
    }
    {
        TProbe a;
        auto port = std::make_unique<TTestPort>();
        port->SetDataProcessor(&a);
        port.reset();
        EXPECT_EQ(a.Port, nullptr);
    }
    {
        TProbe a;
        auto log = std::make_unique<TRecordingLog>();
        a.SetLog(log.get());
        log.reset();
        EXPECT_EQ(a.Log(), nullptr);
        a.WriteLog(1, "no log, no line");
    }
    {
        TTestPort port;
        auto a = std::make_unique<TProbe>();
        port.SetDataProcessor(a.get());
        a.reset();
        EXPECT_EQ(port.DataProcessor(), nullptr);
        EXPECT_EQ(port.NotifyList->Count(), 0) << "its listener went with it";
    }
}

TEST(TkwCustomDataProcessor, FatalErrorLogsAndRaisesEvenWhileLoading) {
    for (bool loading : {false, true}) {
        TProbe processor;
        TRecordingLog log;
        processor.SetLog(&log);
        processor.LogPrefix = "P: ";
        if (loading) processor.BeginLoading();
        try {
            processor.FatalError(7, 4294967295u, "broken");
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "broken");
        }
        EXPECT_EQ(log.lines, std::vector<std::string>{"0:Fatal Error: 7, 4294967295, broken"});
    }
}

TEST(TkwCustomDataProcessor, LogLinesCarryItsPrefix) {
    TProbe processor;
    TRecordingLog log;
    processor.SetLog(&log);
    processor.LogPrefix = "proc: ";
    processor.WriteLog(1, "a");
    processor.WriteLogFmt(2, "%s=%d", "b", -3);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"1:proc: a", "2:proc: b=-3"}));
}

// --- the window-message timer

TEST(TkwTimer, RunsASystemTimerOnlyWithIntervalEnabledAndHandler) {
    struct {
        const char* name;
        uint32_t interval;
        bool enabled;
        bool handler;
        bool runs;
    } cases[] = {
        {"all set", 1000, true, true, true},
        {"interval 0", 0, true, true, false},
        {"disabled", 1000, false, true, false},
        {"no handler", 1000, true, false, false},
    };
    for (const auto& c : cases) {
        TkwTimer timer;
        EXPECT_EQ(timer.Interval, 1000u);
        EXPECT_TRUE(timer.Enabled());
        int ticks = 0;
        auto tick = [&](TObject*) { ++ticks; };
        timer.Interval = c.interval;
        timer.SetEnabled(c.enabled);
        timer.SetOnTimer(c.handler ? TNotifyEvent::Of(&tick) : TNotifyEvent());
        EXPECT_EQ(StopSystemTimer(timer.TimerWindow()), c.runs) << c.name;
    }
}

TEST(TkwTimer, TickCallsTheHandlerOnlyWhileEnabledAndDiscardsItsErrors) {
    TkwTimer timer;
    std::vector<TObject*> senders;
    bool raise = false;
    auto tick = [&](TObject* sender) {
        senders.push_back(sender);
        if (raise) throw Exception("tick failed");
    };
    timer.SetOnTimer(TNotifyEvent::Of(&tick));
    SendMessageA(timer.TimerWindow(), WM_TIMER, 1, 0);
    EXPECT_EQ(senders, std::vector<TObject*>{&timer});
    raise = true;
    EXPECT_EQ(SendMessageA(timer.TimerWindow(), WM_TIMER, 1, 0), 0);
    EXPECT_EQ(senders.size(), 2u);
    timer.SetEnabled(false);
    SendMessageA(timer.TimerWindow(), WM_TIMER, 1, 0);
    EXPECT_EQ(senders.size(), 2u);
    // Anything else goes to the default handler.
    EXPECT_EQ(SendMessageA(timer.TimerWindow(), WM_GETTEXTLENGTH, 0, 0), 0);
}

TEST(TkwTimer, TicksThroughTheThreadsMessageLoop) {
    TkwTimer timer;
    int ticks = 0;
    auto tick = [&](TObject*) { ++ticks; };
    timer.Interval = 1;
    timer.SetOnTimer(TNotifyEvent::Of(&tick));
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 2; })) << "periodic until disabled";
    timer.SetEnabled(false);
    const int seen = ticks;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    EXPECT_EQ(ticks, seen);
}

TEST(TkwTimer, AHandlerMayFreeItsTimer) {
    auto* timer = new TkwTimer;
    const HWND window = timer->TimerWindow();
    bool freed = false;
    auto tick = [&](TObject* sender) {
        delete static_cast<TkwTimer*>(sender);
        freed = true;
    };
    timer->SetOnTimer(TNotifyEvent::Of(&tick));
    timer->Interval = 1;
    timer->UpdateTimer();
    ASSERT_TRUE(PumpUntil([&] { return freed; }));
    EXPECT_FALSE(IsWindow(window));
}
}  // namespace
