// Work posted to the UI thread, on the virtual clock.
#include "rtl/uischeduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "rtl/exception.h"
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
}  // namespace
