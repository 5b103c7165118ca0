#include <condition_variable>
#include <mutex>
#include <thread>

#include "rtl/exception.h"
#include "rtl/thread.h"

struct TThreadState {
    std::mutex lock;
    std::condition_variable ended;
    std::thread::id id;
    bool started = false;
    bool finished = false;
};

TThread::TThread() : handle_(std::make_shared<TThreadState>()) {}

TThread::~TThread() {
    bool own;
    {
        std::lock_guard<std::mutex> guard(handle_.state_->lock);
        own = handle_.state_->id == std::this_thread::get_id();
    }
    // On its own thread (FreeOnTerminate) the body has returned already.
    if (started_ && !own) {
        Terminate();
        WaitFor();
    }
}

void TThread::Start() {
    if (started_) return;
    std::shared_ptr<TThreadState> state = handle_.state_;
    state->started = true;
    // Before the launch: a thread that frees itself may be gone by the time it returns.
    started_ = true;
    try {
        std::thread([this, state] {
            {
                std::lock_guard<std::mutex> guard(state->lock);
                state->id = std::this_thread::get_id();
            }
            Run(this);
            std::lock_guard<std::mutex> guard(state->lock);
            state->finished = true;
            state->ended.notify_all();
        }).detach();
    } catch (const std::exception& e) {
        state->started = false;
        started_ = false;
        throw Exception(std::string("Cannot create thread: ") + e.what());
    }
}

bool TThreadHandle::Finished() const noexcept {
    if (!state_) return false;
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->finished;
}

void TThreadHandle::WaitFor() const noexcept {
    if (!state_ || !state_->started) return;
    std::unique_lock<std::mutex> guard(state_->lock);
    state_->ended.wait(guard, [this] { return state_->finished; });
}
