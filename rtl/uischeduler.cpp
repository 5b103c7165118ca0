#include "rtl/uischeduler.h"

#include <algorithm>
#include <mutex>
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
    if (TUiScheduler* s = queuedOn_.load()) s->Withdraw(*this);
}

TUiScheduler::TUiScheduler() = default;

TUiScheduler::~TUiScheduler() {
    {
        std::lock_guard<std::mutex> guard(RegistryLock());
        auto& registry = Registry();
        registry.erase(std::remove_if(registry.begin(), registry.end(),
                                      [this](const TRegistration& r) { return r.raw == this; }),
                       registry.end());
    }
    TakePosted();
    for (TUiTask* list : {runHead_, waitingHead_})
        for (TUiTask* t = list; t;) {
            TUiTask* next = t->next_;
            t->next_ = nullptr;
            t->queuedOn_.store(nullptr);
            t = next;
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

bool TUiScheduler::PostSlow(TUiTask& task) noexcept {
    TUiScheduler* none = nullptr;
    const bool claimed = task.queuedOn_.compare_exchange_strong(none, this);
    if (claimed) {
        TUiTask* top = posted_.load();
        do task.next_ = top;
        while (!posted_.compare_exchange_weak(top, &task));
    }
    // A task queued already comes here too when the wake-up is not on its way:
    // the wake-up of its own post may have failed.
    if (!wakePending_.exchange(true) && !Wake()) wakePending_.store(false);
    return claimed;
}

void TUiScheduler::TakePosted() noexcept {
    if (!posted_.load()) return;
    TUiTask* newest = posted_.exchange(nullptr);
    // The stack holds the newest first: reverse it into post order.
    TUiTask* oldest = nullptr;
    for (TUiTask* t = newest; t;) {
        TUiTask* older = t->next_;
        t->next_ = oldest;
        oldest = t;
        t = older;
    }
    if (!oldest) return;
    (waitingTail_ ? waitingTail_->next_ : waitingHead_) = oldest;
    waitingTail_ = newest;
}

void TUiScheduler::Withdraw(TUiTask& task) noexcept {
    if (task.queuedOn_.load() != this) return;
    for (;;) {
        TakePosted();
        if (Unlink(runHead_, runTail_, &task, &TUiTask::next_) ||
            Unlink(waitingHead_, waitingTail_, &task, &TUiTask::next_))
            break;
        // Claimed by a post on another thread that has not pushed it yet: a
        // couple of instructions away.
        std::this_thread::yield();
    }
    task.next_ = nullptr;
    task.queuedOn_.store(nullptr);
}

bool TUiScheduler::HasPosted() const noexcept { return posted_.load() || runHead_ || waitingHead_; }

void TUiScheduler::RecoverLostWake() noexcept {
    if (!wakePending_.load() && HasPosted()) RunPosted();
}

void TUiScheduler::RunPosted() noexcept {
    // Cleared before the stack is taken: a post that the take misses wakes again.
    wakePending_.store(false);
    TakePosted();
    // A nested call appends to the pass under way and finishes it.
    if (waitingHead_) {
        (runTail_ ? runTail_->next_ : runHead_) = waitingHead_;
        runTail_ = waitingTail_;
        waitingHead_ = waitingTail_ = nullptr;
    }
    while (TUiTask* task = runHead_) {
        runHead_ = task->next_;
        if (!runHead_) runTail_ = nullptr;
        task->next_ = nullptr;
        task->queuedOn_.store(nullptr);
        try {
            task->Run();
        } catch (...) {
            HandleUiException();
        }
    }
}

void TUiScheduler::Expire(TTimer& timer) noexcept { timer.Expire(); }
