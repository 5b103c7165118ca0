// Work posted to the UI thread, on the virtual clock.
#include "rtl/uischeduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include "rtl/exception.h"
#include "rtl/timer.h"
#include "rtl/virtualclock.h"
#include "tests/support/error_recorder.h"

namespace {
struct TRecordingTask : TUiTask {
    TRecordingTask(std::vector<int>& log, int id) : log_(log), id_(id) {}
    void Run() override {
        log_.push_back(id_);
        if (fail) throw Exception("task failed");
        if (repost) repost->Post(*this);
    }
    std::vector<int>& log_;
    int id_;
    bool fail = false;
    TUiScheduler* repost = nullptr;
};

class UiTaskTest : public testing::Test {
protected:
    std::shared_ptr<TVirtualClock> clock = TVirtualClock::Install();
    std::vector<int> log;
};

TEST_F(UiTaskTest, PostedTasksRunInOrderWhenTheUiThreadGetsToThem) {
    TRecordingTask a(log, 1), b(log, 2);
    EXPECT_TRUE(clock->Post(a));
    EXPECT_TRUE(clock->Post(b));
    EXPECT_TRUE(log.empty());
    clock->RunPending();
    EXPECT_EQ(log, (std::vector<int>{1, 2}));
    EXPECT_FALSE(clock->HasPosted());
}

TEST_F(UiTaskTest, TaskPostedTwiceBeforeItRunsRunsOnce) {
    TRecordingTask a(log, 1);
    EXPECT_TRUE(clock->Post(a));
    EXPECT_FALSE(clock->Post(a));
    clock->Advance(10);
    clock->RunPending();
    EXPECT_EQ(log, (std::vector<int>{1}));
    EXPECT_TRUE(clock->Post(a));  // can be posted again once it has run
}

TEST_F(UiTaskTest, WithdrawnAndDestroyedTasksDoNotRun) {
    TRecordingTask a(log, 1), c(log, 3);
    auto b = std::make_unique<TRecordingTask>(log, 2);
    clock->Post(a);
    clock->Post(*b);
    clock->Post(c);
    clock->Withdraw(a);
    b.reset();
    clock->RunPending();
    EXPECT_EQ(log, (std::vector<int>{3}));
}

TEST_F(UiTaskTest, FailingTaskIsReportedAndTheOthersStillRun) {
    TErrorRecorder errors;
    TRecordingTask a(log, 1), b(log, 2);
    a.fail = true;
    clock->Post(a);
    clock->Post(b);
    clock->RunPending();
    EXPECT_EQ(log, (std::vector<int>{1, 2}));
    EXPECT_EQ(errors.Reports(), (std::vector<std::string>{"task failed"}));
}

TEST_F(UiTaskTest, TaskThatPostsItselfRunsOncePerPass) {
    TRecordingTask a(log, 1);
    a.repost = clock.get();
    clock->Post(a);
    clock->RunPending();
    clock->RunPending();
    EXPECT_EQ(log, (std::vector<int>{1, 1}));
    clock->Withdraw(a);
}

TEST_F(UiTaskTest, TaskRunningAModalLoopLetsTheRestOfThePassRunInside) {
    struct TModal : TRecordingTask {
        using TRecordingTask::TRecordingTask;
        void Run() override {
            log_.push_back(id_);
            clock->Post(*late);
            clock->RunPending();  // the modal loop
            log_.push_back(-id_);
        }
        TVirtualClock* clock = nullptr;
        TUiTask* late = nullptr;
    };
    TModal a(log, 1);
    TRecordingTask b(log, 2), c(log, 3), d(log, 4);
    a.clock = clock.get();
    a.late = &d;
    clock->Post(a);
    clock->Post(b);
    clock->Post(c);
    clock->RunPending();
    EXPECT_EQ(log, (std::vector<int>{1, 2, 3, 4, -1}));
    EXPECT_FALSE(clock->HasPosted());
}

TEST_F(UiTaskTest, TaskWithdrawnDuringAPassDoesNotRun) {
    struct TWithdrawing : TRecordingTask {
        using TRecordingTask::TRecordingTask;
        void Run() override {
            log_.push_back(id_);
            clock->Post(*posted);
            for (TUiTask* t : {queued, posted}) clock->Withdraw(*t);
        }
        TVirtualClock* clock = nullptr;
        TUiTask* queued = nullptr;  // in this pass, not run yet
        TUiTask* posted = nullptr;  // posted during the pass
    };
    TWithdrawing a(log, 1);
    TRecordingTask b(log, 2), c(log, 3), d(log, 4);
    a.clock = clock.get();
    a.queued = &b;
    a.posted = &d;
    clock->Post(a);
    clock->Post(b);
    clock->Post(c);
    clock->RunPending();
    clock->RunPending();
    EXPECT_EQ(log, (std::vector<int>{1, 3}));
    EXPECT_TRUE(clock->Post(b)) << "a withdrawn task can be posted again";
}

TEST_F(UiTaskTest, DestroyedSchedulerLeavesNoTaskPointingAtIt) {
    TRecordingTask a(log, 1), b(log, 2);
    {
        auto other = TVirtualClock::Install();
        other->Post(a);
        other->Post(b);
        other->Withdraw(a);
        other->Post(a);
    }
    EXPECT_TRUE(clock->Post(a));
    EXPECT_TRUE(clock->Post(b));
    clock->RunPending();
    EXPECT_EQ(log, (std::vector<int>{1, 2}));
}

TEST_F(UiTaskTest, PostsFromOtherThreadsAllArrive) {
    struct TCounter : TUiTask {
        void Run() override { ++runs; }
        int runs = 0;
    };
    constexpr int Threads = 4, Posts = 20000;
    std::vector<TCounter> counters(Threads);
    std::atomic<int> queued{0};
    std::vector<std::thread> posters;
    for (int t = 0; t < Threads; ++t)
        posters.emplace_back([&, t] {
            for (int i = 0; i < Posts; ++i)
                if (clock->Post(counters[t])) queued.fetch_add(1);
        });
    // The UI side drains while the posters run.
    while (queued.load() < Threads) clock->RunPending();
    for (auto& p : posters) p.join();
    clock->RunPending();
    int runs = 0;
    for (auto& c : counters) runs += c.runs;
    // Coalescing: every successful post ran exactly once.
    EXPECT_EQ(runs, queued.load());
}

// A backend whose wake-ups fail as often as the test says. A wake-up that gets
// through is what the UI thread finds in its queue when it next pumps.
class TFlakyWakeScheduler final : public TUiScheduler {
public:
    static std::shared_ptr<TFlakyWakeScheduler> Install() {
        std::shared_ptr<TFlakyWakeScheduler> s(new TFlakyWakeScheduler());
        s->InstallForCurrentThread();
        return s;
    }
    // The UI thread's message loop, once round.
    void Pump() {
        if (std::exchange(woken_, false)) RunPosted();
    }
    // A timer message, handled as the Win32 backend does.
    void Fire(TTimer& timer) {
        RecoverLostWake();
        ASSERT_NE(std::find(timers_.begin(), timers_.end(), &timer), timers_.end());
        Expire(timer);
    }
    void StartTimer(TTimer& timer, uint32_t) override { timers_.push_back(&timer); }
    void StopTimer(TTimer& timer) noexcept override {
        timers_.erase(std::remove(timers_.begin(), timers_.end(), &timer), timers_.end());
    }

    int failingWakes = 0;
    int wakes = 0;

private:
    TFlakyWakeScheduler() = default;
    bool Wake() noexcept override {
        ++wakes;
        if (failingWakes > 0) {
            --failingWakes;
            return false;
        }
        woken_ = true;
        return true;
    }

    bool woken_ = false;
    std::vector<TTimer*> timers_;
};

struct TLostWakeCase {
    const char* name;
    // What comes after the wake-up of task 1 has failed.
    void (*then)(TFlakyWakeScheduler& ui, TRecordingTask& first, TRecordingTask& second, TTimer& timer);
    std::vector<int> ran;
};

void PrintTo(const TLostWakeCase& c, std::ostream* os) { *os << c.name; }

class LostWakeTest : public testing::TestWithParam<TLostWakeCase> {};

TEST_P(LostWakeTest, TaskStillRuns) {
    auto ui = TFlakyWakeScheduler::Install();
    std::vector<int> log;
    TRecordingTask first(log, 1), second(log, 2);
    struct TLogExpiry {
        std::vector<int>& log;
        void operator()(TObject*) { log.push_back(9); }
    } expiry{log};
    TTimer timer(nullptr);
    timer.SetInterval(300);
    timer.SetOnTimer(TNotifyEvent::Of(&expiry));

    ui->failingWakes = 1;
    EXPECT_TRUE(ui->Post(first));
    ui->Pump();
    ASSERT_TRUE(log.empty()) << "no wake-up reached the UI thread";
    GetParam().then(*ui, first, second, timer);
    ui->Pump();
    EXPECT_EQ(log, GetParam().ran);
    EXPECT_FALSE(ui->HasPosted());
}

INSTANTIATE_TEST_SUITE_P(
    UiTask, LostWakeTest,
    testing::Values(
        TLostWakeCase{"NextPostOfTheQueuedTask",
                      [](TFlakyWakeScheduler& ui, TRecordingTask& first, TRecordingTask&, TTimer&) {
                          EXPECT_FALSE(ui.Post(first)) << "still queued";
                      },
                      {1}},
        TLostWakeCase{"NextPostOfAnotherTask",
                      [](TFlakyWakeScheduler& ui, TRecordingTask&, TRecordingTask& second, TTimer&) {
                          EXPECT_TRUE(ui.Post(second));
                      },
                      {1, 2}},
        // No post comes (the last report of a burst): the UI thread picks the task
        // up at its next timer expiry, before the expiry's handler.
        TLostWakeCase{"NextTimerExpiry",
                      [](TFlakyWakeScheduler& ui, TRecordingTask&, TRecordingTask&, TTimer& timer) {
                          ui.Fire(timer);
                      },
                      {1, 9}}),
    [](const testing::TestParamInfo<TLostWakeCase>& info) { return std::string(info.param.name); });
}  // namespace
