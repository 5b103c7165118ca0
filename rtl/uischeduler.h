#pragma once
// The UI thread's scheduler: runs the thread's timers and the work that other
// threads post to it. Each UI thread has one, found through Current(): the
// platform's (a hidden message-only window on Windows) unless a test has
// installed a virtual clock for the thread.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class TTimer;
class TUiScheduler;

// A unit of work for the UI thread. The poster owns it and posts it again and
// again: posting allocates nothing, and a task posted while it is still queued
// runs once. It must not be destroyed while another thread may post it.
class TUiTask {
public:
    TUiTask() = default;
    TUiTask(const TUiTask&) = delete;
    TUiTask& operator=(const TUiTask&) = delete;
    virtual ~TUiTask();

    // Runs on the UI thread. An exception goes to the generic error report.
    virtual void Run() = 0;

private:
    friend class TUiScheduler;
    TUiTask* next_ = nullptr;
    TUiScheduler* queuedOn_ = nullptr;  // guarded by the scheduler's queue lock
    // Mirrors queuedOn_ so that posting a task already queued (the common case
    // while reports stream in) takes no lock.
    std::atomic<bool> queued_{false};
};

class TUiScheduler : public std::enable_shared_from_this<TUiScheduler> {
public:
    TUiScheduler(const TUiScheduler&) = delete;
    TUiScheduler& operator=(const TUiScheduler&) = delete;
    virtual ~TUiScheduler();

    // The calling thread's scheduler, created on first use.
    static std::shared_ptr<TUiScheduler> Current();

    // Any thread. Queues task unless it is queued already; returns whether it queued it.
    bool Post(TUiTask& task) noexcept;
    // UI thread. Takes a queued task out of the queue.
    void Withdraw(TUiTask& task) noexcept;
    // UI thread. Runs what is queued now; tasks posted meanwhile run too.
    void RunPosted() noexcept;
    bool HasPosted() const noexcept;

    // UI thread, for TTimer: (re)starts a periodic timer with a full interval,
    // or stops it. A stopped timer never expires, not even from an expiry that was due.
    virtual void StartTimer(TTimer& timer, uint32_t interval) = 0;
    virtual void StopTimer(TTimer& timer) noexcept = 0;

protected:
    TUiScheduler();
    // Any thread: make the UI thread call RunPosted soon. A backend that cannot
    // deliver the wake-up clears wakePending_ so that the next post tries again.
    virtual void Wake() noexcept = 0;
    std::atomic<bool> wakePending_{false};
    // Makes this the calling thread's scheduler until it is destroyed.
    void InstallForCurrentThread();
    // The backend's way into TTimer's expiry.
    static void Expire(TTimer& timer) noexcept;

private:
    mutable std::mutex queueLock_;
    // Posted tasks, and those taken by a RunPosted that has not reached them yet.
    TUiTask* head_ = nullptr;
    TUiTask* tail_ = nullptr;
    TUiTask* runHead_ = nullptr;
    TUiTask* runTail_ = nullptr;
    bool installed_ = false;
};

// Provided by the platform backend: the scheduler of a thread without a test clock.
std::shared_ptr<TUiScheduler> CreatePlatformScheduler();
