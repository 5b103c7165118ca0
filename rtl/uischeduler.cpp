#include "rtl/uischeduler.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "rtl/timer.h"
#include "rtl/uierror.h"

namespace {
struct TRegistration {
    std::thread::id thread;
    std::weak_ptr<TUiScheduler> scheduler;
    const TUiScheduler* raw;
};

// A plain registry instead of thread_local storage: thread-local destructors
// would run at thread exit, possibly after our library has been unloaded. Never
// destroyed, so that a scheduler freed late during unload still finds it.
std::mutex& RegistryLock() {
    static auto* lock = new std::mutex;
    return *lock;
}
std::vector<TRegistration>& Registry() {
    static auto* registry = new std::vector<TRegistration>;
    return *registry;
}

// Unlinks task from the list head..tail; returns whether it was there.
bool Unlink(TUiTask*& head, TUiTask*& tail, TUiTask* task, TUiTask* TUiTask::*next) {
    TUiTask* previous = nullptr;
    for (TUiTask* t = head; t; previous = t, t = t->*next) {
        if (t != task) continue;
        (previous ? previous->*next : head) = t->*next;
        if (tail == t) tail = previous;
        return true;
    }
    return false;
}
}  // namespace

TUiTask::~TUiTask() {
    // Nobody posts any more (the poster's contract); a queued task must not dangle.
    if (queued_.load())
        if (TUiScheduler* s = queuedOn_) s->Withdraw(*this);
}

TUiScheduler::TUiScheduler() = default;

TUiScheduler::~TUiScheduler() {
    std::lock_guard<std::mutex> guard(RegistryLock());
    auto& registry = Registry();
    registry.erase(std::remove_if(registry.begin(), registry.end(),
                                  [this](const TRegistration& r) { return r.raw == this; }),
                   registry.end());
    std::lock_guard<std::mutex> queueGuard(queueLock_);
    for (TUiTask* list : {head_, runHead_})
        for (TUiTask* t = list; t; t = t->next_) {
            t->queuedOn_ = nullptr;
            t->queued_.store(false);
        }
}

std::shared_ptr<TUiScheduler> TUiScheduler::Current() {
    const auto self = std::this_thread::get_id();
    {
        std::lock_guard<std::mutex> guard(RegistryLock());
        auto& registry = Registry();
        for (auto it = registry.rbegin(); it != registry.rend(); ++it)
            if (it->thread == self)
                if (auto scheduler = it->scheduler.lock()) return scheduler;
    }
    auto scheduler = CreatePlatformScheduler();
    scheduler->InstallForCurrentThread();
    return scheduler;
}

void TUiScheduler::InstallForCurrentThread() {
    if (installed_) return;
    installed_ = true;
    std::lock_guard<std::mutex> guard(RegistryLock());
    Registry().push_back({std::this_thread::get_id(), weak_from_this(), this});
}

bool TUiScheduler::Post(TUiTask& task) noexcept {
    // Sequentially consistent on both sides: what the poster wrote before this
    // load is seen by a Run that starts after the flag is cleared.
    if (task.queued_.load()) return false;
    {
        std::lock_guard<std::mutex> guard(queueLock_);
        if (task.queuedOn_) return false;
        task.queuedOn_ = this;
        task.queued_.store(true);
        task.next_ = nullptr;
        (tail_ ? tail_->next_ : head_) = &task;
        tail_ = &task;
    }
    if (!wakePending_.exchange(true)) Wake();
    return true;
}

void TUiScheduler::Withdraw(TUiTask& task) noexcept {
    std::lock_guard<std::mutex> guard(queueLock_);
    if (task.queuedOn_ != this) return;
    if (!Unlink(head_, tail_, &task, &TUiTask::next_)) Unlink(runHead_, runTail_, &task, &TUiTask::next_);
    task.queuedOn_ = nullptr;
    task.next_ = nullptr;
    task.queued_.store(false);
}

bool TUiScheduler::HasPosted() const noexcept {
    std::lock_guard<std::mutex> guard(queueLock_);
    return head_ || runHead_;
}

void TUiScheduler::RunPosted() noexcept {
    wakePending_.store(false);
    {
        // Take what is queued now; a task that posts itself again runs next time,
        // so a self-posting task cannot keep this loop going for ever. A nested
        // call (a task running a modal loop) appends to the same run list.
        std::lock_guard<std::mutex> guard(queueLock_);
        if (head_) {
            (runTail_ ? runTail_->next_ : runHead_) = head_;
            runTail_ = tail_;
            head_ = tail_ = nullptr;
        }
    }
    for (;;) {
        TUiTask* task;
        {
            std::lock_guard<std::mutex> guard(queueLock_);
            task = runHead_;
            if (!task) return;
            runHead_ = task->next_;
            if (!runHead_) runTail_ = nullptr;
            task->next_ = nullptr;
            task->queuedOn_ = nullptr;
            task->queued_.store(false);
        }
        try {
            task->Run();
        } catch (...) {
            HandleUiException();
        }
    }
}

void TUiScheduler::Expire(TTimer& timer) noexcept { timer.Expire(); }
