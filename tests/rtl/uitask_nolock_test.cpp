// Posting takes no lock on the posting thread, from its first post on. Every
// pthread mutex locked in this program goes through the counter below, std::mutex
// included (glibc: the program's own definition comes first).
#include <dlfcn.h>
#include <pthread.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "rtl/uischeduler.h"
#include "rtl/virtualclock.h"

namespace {
thread_local int locksOnThisThread = 0;

using TLockFunction = int (*)(pthread_mutex_t*);
TLockFunction RealLock() {
    static std::atomic<TLockFunction> real{nullptr};
    TLockFunction f = real.load();
    if (!f) {
        f = reinterpret_cast<TLockFunction>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
        real.store(f);
    }
    return f;
}
}  // namespace

extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) {
    ++locksOnThisThread;
    return RealLock()(mutex);
}

namespace {
struct TCounter : TUiTask {
    void Run() override { runs.fetch_add(1); }
    std::atomic<int> runs{0};
};

TEST(PostingThread, CountsTheLocksItTakes) {
    std::mutex m;
    const int before = locksOnThisThread;
    m.lock();
    m.unlock();
    EXPECT_EQ(locksOnThisThread - before, 1) << "the counter must see std::mutex, or the next test proves nothing";
}

TEST(PostingThread, TakesNoLockFromItsFirstPostOn) {
    constexpr int Rounds = 100;
    auto clock = TVirtualClock::Install();
    TCounter a, b;
    std::atomic<int> rounds{0};
    std::atomic<int> locks{-1};
    std::thread poster([&] {
        const int before = locksOnThisThread;
        for (int i = 0; i < Rounds; ++i) {
            // The UI side runs only between rounds: the second post finds a queued.
            EXPECT_TRUE(clock->Post(a));
            EXPECT_FALSE(clock->Post(a));
            EXPECT_TRUE(clock->Post(b));
            rounds.store(i + 1);
            // b runs last in the pass.
            while (b.runs.load() == i) std::this_thread::yield();
        }
        locks.store(locksOnThisThread - before);
    });
    for (int i = 0; i < Rounds; ++i) {
        while (rounds.load() == i) std::this_thread::yield();
        clock->RunPending();
    }
    poster.join();
    EXPECT_EQ(locks.load(), 0);
    EXPECT_EQ(a.runs.load(), Rounds);
    EXPECT_EQ(b.runs.load(), Rounds);
}
}  // namespace
