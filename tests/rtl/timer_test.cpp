// Timer semantics on the virtual clock: exact times, no sleeping.
#include "rtl/timer.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "rtl/exception.h"
#include "rtl/virtualclock.h"
#include "tests/support/error_recorder.h"

namespace {
class TimerTest : public testing::Test {
protected:
    // A timer of interval ms whose expiries are recorded as clock times.
    std::unique_ptr<TTimer> MakeTimer(uint32_t interval, std::vector<uint64_t>& fired,
                                      std::function<void(TTimer&)> also = nullptr) {
        auto timer = std::make_unique<TTimer>(nullptr);
        timer->SetEnabled(false);
        timer->SetInterval(interval);
        handlers_.push_back(std::make_unique<THandler>(THandler{clock.get(), &fired, std::move(also)}));
        timer->SetOnTimer(TNotifyEvent::Of(handlers_.back().get()));
        return timer;
    }

    struct THandler {
        TVirtualClock* clock;
        std::vector<uint64_t>* fired;
        std::function<void(TTimer&)> also;
        void operator()(TObject* sender) {
            fired->push_back(clock->Now());
            if (also) also(*static_cast<TTimer*>(sender));
        }
    };

    std::shared_ptr<TVirtualClock> clock = TVirtualClock::Install();
    std::vector<std::unique_ptr<THandler>> handlers_;
};

using Times = std::vector<uint64_t>;

TEST_F(TimerTest, EnabledTimerFiresEveryInterval) {
    Times fired;
    auto t = MakeTimer(300, fired);
    t->SetEnabled(true);
    clock->Advance(299);
    EXPECT_TRUE(fired.empty());
    clock->Advance(1);
    clock->Advance(650);
    EXPECT_EQ(fired, (Times{300, 600, 900}));
}

// Each row: a script of (time, action) steps; the expected expiry times up to 2000 ms.
struct TScriptStep {
    uint64_t at;
    enum { Enable, Disable, Interval } what;
    uint32_t value = 0;
};
struct TScript {
    const char* name;
    std::vector<TScriptStep> steps;
    Times expected;
};

class TimerScript : public TimerTest, public testing::WithParamInterface<TScript> {};

TEST_P(TimerScript, FiresAtExactTimes) {
    Times fired;
    auto t = MakeTimer(500, fired);
    for (const TScriptStep& s : GetParam().steps) {
        clock->AdvanceTo(s.at);
        if (s.what == TScriptStep::Enable) t->SetEnabled(true);
        if (s.what == TScriptStep::Disable) t->SetEnabled(false);
        if (s.what == TScriptStep::Interval) t->SetInterval(s.value);
    }
    clock->AdvanceTo(2000);
    EXPECT_EQ(fired, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Semantics, TimerScript,
    testing::Values(
        TScript{"EnablingStartsAFullInterval", {{100, TScriptStep::Enable}}, {600, 1100, 1600}},
        TScript{"DisablingCancelsThePendingExpiry",
                {{0, TScriptStep::Enable}, {499, TScriptStep::Disable}}, {}},
        TScript{"ReenablingRestartsTheInterval",
                {{0, TScriptStep::Enable}, {400, TScriptStep::Disable}, {400, TScriptStep::Enable}},
                {900, 1400, 1900}},
        TScript{"EnablingAnEnabledTimerChangesNothing",
                {{0, TScriptStep::Enable}, {400, TScriptStep::Enable}}, {500, 1000, 1500, 2000}},
        TScript{"ChangingTheIntervalRestartsIt",
                {{0, TScriptStep::Enable}, {700, TScriptStep::Interval, 200}},
                {500, 900, 1100, 1300, 1500, 1700, 1900}},
        TScript{"IntervalZeroNeverFires", {{0, TScriptStep::Interval, 0}, {0, TScriptStep::Enable}}, {}},
        TScript{"DisabledTimerIgnoresIntervalChanges",
                {{0, TScriptStep::Interval, 100}, {50, TScriptStep::Interval, 300}}, {}}),
    [](const testing::TestParamInfo<TScript>& info) { return info.param.name; });

TEST_F(TimerTest, HandlerThatDisablesItsTimerMakesAOneShot) {
    Times fired;
    auto t = MakeTimer(300, fired, [](TTimer& self) { self.SetEnabled(false); });
    t->SetEnabled(true);
    clock->Advance(5000);
    EXPECT_EQ(fired, (Times{300}));
    EXPECT_FALSE(t->Enabled());
}

TEST_F(TimerTest, HandlerMayDestroyItsTimer) {
    Times fired;
    std::unique_ptr<TTimer> t;
    t = MakeTimer(300, fired, [&](TTimer&) { t.reset(); });
    t->SetEnabled(true);
    clock->Advance(1000);
    EXPECT_EQ(fired, (Times{300}));
    EXPECT_EQ(clock->RunningTimers(), 0u);
}

TEST_F(TimerTest, DestroyingARunningTimerCancelsIt) {
    Times fired;
    auto t = MakeTimer(300, fired);
    t->SetEnabled(true);
    t.reset();
    clock->Advance(1000);
    EXPECT_TRUE(fired.empty());
}

TEST_F(TimerTest, TimersDueTogetherFireInTheOrderTheyWereStarted) {
    std::vector<int> order;
    Times ignored;
    auto a = MakeTimer(200, ignored, [&](TTimer&) { order.push_back(1); });
    auto b = MakeTimer(100, ignored, [&](TTimer&) { order.push_back(2); });
    auto c = MakeTimer(200, ignored, [&](TTimer&) { order.push_back(3); });
    c->SetEnabled(true);
    a->SetEnabled(true);
    b->SetEnabled(true);
    clock->Advance(200);
    // 100: b; 200: c and a (started in that order), then b (rescheduled at 100).
    EXPECT_EQ(order, (std::vector<int>{2, 3, 1, 2}));
}

TEST_F(TimerTest, ExceptionFromHandlerGoesToTheErrorReportAndTheTimerKeepsRunning) {
    TErrorRecorder errors;
    Times fired;
    auto t = MakeTimer(100, fired, [](TTimer&) { throw Exception("player refused"); });
    t->SetEnabled(true);
    clock->Advance(250);
    EXPECT_EQ(fired, (Times{100, 200}));
    EXPECT_EQ(errors.Reports(), (std::vector<std::string>{"player refused", "player refused"}));
    EXPECT_TRUE(t->Enabled());
}

TEST_F(TimerTest, TimerWithoutHandlerDoesNotRun) {
    TTimer t(nullptr);
    EXPECT_TRUE(t.Enabled());
    EXPECT_EQ(t.Interval(), 1000u);
    EXPECT_EQ(clock->RunningTimers(), 0u);
}

TEST(TimerScheduler, TimerBelongsToTheSchedulerOfItsThread) {
    auto first = TVirtualClock::Install();
    TTimer onFirst(nullptr);
    auto second = TVirtualClock::Install();
    TTimer onSecond(nullptr);
    int fired = 0;
    auto count = [&](TObject*) { ++fired; };
    onFirst.SetInterval(100);
    onSecond.SetInterval(100);
    onFirst.SetOnTimer(TNotifyEvent::Of(&count));
    onSecond.SetOnTimer(TNotifyEvent::Of(&count));
    EXPECT_EQ(first->RunningTimers(), 1u);
    EXPECT_EQ(second->RunningTimers(), 1u);
    second->Advance(100);
    EXPECT_EQ(fired, 1);
}
}  // namespace
