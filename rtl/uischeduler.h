#pragma once
// The UI thread's scheduler: runs the thread's timers and the work that other
// threads post to it. Each UI thread has one, found through Current(): the
// platform's (a hidden message-only window on Windows) unless a test has
// installed a virtual clock for the thread.
#include <atomic>
#include <cstdint>
#include <memory>

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
    // The scheduler the task is queued on, from the post that claims it until
    // just before it runs or is withdrawn: a post that finds it set queues nothing.
    std::atomic<TUiScheduler*> queuedOn_{nullptr};
    // Next older task on the posted stack, or next task on a UI-thread list.
    TUiTask* next_ = nullptr;
};

class TUiScheduler : public std::enable_shared_from_this<TUiScheduler> {
public:
    TUiScheduler(const TUiScheduler&) = delete;
    TUiScheduler& operator=(const TUiScheduler&) = delete;
    virtual ~TUiScheduler();

    // The calling thread's scheduler, created on first use.
    static std::shared_ptr<TUiScheduler> Current();

    // Any thread. Queues task unless it is queued already; returns whether it queued
    // it. Takes no lock and allocates nothing. A wake-up that failed earlier is
    // tried again, also when the task is queued already.
    bool Post(TUiTask& task) noexcept {
        // Within a burst: queued, and the wake-up on its way. Sequentially
        // consistent on both sides: what the poster wrote before this load is seen
        // by a Run that starts after queuedOn_ is cleared.
        if (task.queuedOn_.load() && wakePending_.load()) return false;
        return PostSlow(task);
    }
    // UI thread. Takes a queued task out of the queue.
    void Withdraw(TUiTask& task) noexcept;
    // UI thread. Runs what is queued now, in post order. A task posted meanwhile
    // (a task that posts itself, say) runs on the next pass; a nested call (a task
    // running a modal loop) runs the rest of this pass and what has come since.
    void RunPosted() noexcept;
    // UI thread.
    bool HasPosted() const noexcept;

    // UI thread, for TTimer: (re)starts a periodic timer with a full interval,
    // or stops it. A stopped timer never expires, not even from an expiry that was due.
    virtual void StartTimer(TTimer& timer, uint32_t interval) = 0;
    virtual void StopTimer(TTimer& timer) noexcept = 0;

protected:
    TUiScheduler();
    // Any thread: make the UI thread call RunPosted soon; false when the wake-up
    // could not be delivered (the next post tries again).
    virtual bool Wake() noexcept = 0;
    // Makes this the calling thread's scheduler until it is destroyed.
    void InstallForCurrentThread();
    // UI thread, from the backend before it handles a timer message: runs the
    // tasks whose wake-up was lost, so that such a task waits at most until the
    // thread's next timer expiry when no post comes to try the wake-up again.
    void RecoverLostWake() noexcept;
    // The backend's way into TTimer's expiry.
    static void Expire(TTimer& timer) noexcept;

private:
    bool PostSlow(TUiTask& task) noexcept;
    // UI thread: moves the posted stack, in post order, to the end of waiting_.
    void TakePosted() noexcept;

    // Set from the wake-up that was delivered until RunPosted begins.
    std::atomic<bool> wakePending_{false};
    // Posted tasks, newest first; any thread pushes, the UI thread takes them all.
    std::atomic<TUiTask*> posted_{nullptr};
    // UI thread only, in post order: the pass under way, then what was taken off
    // the stack since (by Withdraw, say) for the next pass.
    TUiTask* runHead_ = nullptr;
    TUiTask* runTail_ = nullptr;
    TUiTask* waitingHead_ = nullptr;
    TUiTask* waitingTail_ = nullptr;
    bool installed_ = false;
};

// Provided by the platform backend: the scheduler of a thread without a test clock.
std::shared_ptr<TUiScheduler> CreatePlatformScheduler();
