#include "rtl/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "rtl/exception.h"

namespace {
using namespace std::chrono_literals;

// Runs until terminated, counting its loops.
class TSpinner : public TThread {
public:
    explicit TSpinner(std::atomic<int>& destroyed) : destroyed_(destroyed) {}
    ~TSpinner() override { destroyed_.fetch_add(1); }
    std::atomic<bool> running{false};
    std::atomic<bool> throwOnStart{false};

protected:
    void Execute() override {
        running.store(true);
        if (throwOnStart) throw Exception("body failed");
        while (!Terminated()) std::this_thread::sleep_for(1ms);
    }

private:
    std::atomic<int>& destroyed_;
};

TEST(TThread, CreatedSuspendedRunsOnlyAfterStart) {
    std::atomic<int> destroyed{0};
    TSpinner t(destroyed);
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(t.running.load());
    EXPECT_FALSE(t.Handle().Finished());
    t.Start();
    while (!t.running.load()) std::this_thread::sleep_for(1ms);
    EXPECT_FALSE(t.Handle().Finished());
    t.Terminate();
    EXPECT_TRUE(t.Terminated());
    t.WaitFor();
    EXPECT_TRUE(t.Handle().Finished());
}

TEST(TThread, FreeOnTerminateDeletesItselfAndStaysWaitable) {
    std::atomic<int> destroyed{0};
    auto* t = new TSpinner(destroyed);
    t->FreeOnTerminate = true;
    t->throwOnStart = true;  // the body's exception is discarded, the thread still ends
    TThreadHandle handle = t->Handle();
    t->Start();
    handle.WaitFor();
    EXPECT_TRUE(handle.Finished());
    EXPECT_EQ(destroyed.load(), 1);
}

TEST(TThread, NeverStartedThreadNeedsNoWait) {
    std::atomic<int> destroyed{0};
    { TSpinner t(destroyed); }
    EXPECT_EQ(destroyed.load(), 1);
}
}  // namespace
