#pragma once
// The thread object: runs its body (Execute) once on a thread of its own. It is
// created suspended and runs from Start; it can be marked terminated (the body
// polls Terminated), waited for, and asked to free itself when the body returns.
#include <atomic>
#include <memory>

#include "rtl/object.h"

struct TThreadState;  // one per thread, defined by the platform backend

// Outlives the thread object, so a thread that has freed itself can still be
// waited for. Copies share one thread.
class TThreadHandle {
public:
    TThreadHandle() = default;
    explicit operator bool() const noexcept { return state_ != nullptr; }
    // True once the thread has ended (a thread never started has not).
    bool Finished() const noexcept;
    // Returns when the thread has ended. On a Windows UI thread the wait keeps
    // serving messages that other threads send to this thread's windows.
    void WaitFor() const noexcept;

private:
    friend class TThread;
    explicit TThreadHandle(std::shared_ptr<TThreadState> s) : state_(std::move(s)) {}
    std::shared_ptr<TThreadState> state_;
};

class TThread : public TObject {
public:
    TThread();
    // A thread that does not free itself must have ended before its object is
    // destroyed (Terminate, then WaitFor, in the descendant's destructor at the
    // latest): by the time this destructor runs, the descendant's part of the
    // object, which the body uses, is gone. As a last resort it still waits.
    ~TThread() override;

    // Starts the body; raises when the system cannot create the thread. Once only.
    void Start();
    bool Started() const noexcept { return started_; }

    void Terminate() noexcept { terminated_.store(true); }
    bool Terminated() const noexcept { return terminated_.load(); }

    // Set before Start: the object deletes itself when Execute returns. Then
    // nobody may touch the object after Start but through Handle().
    bool FreeOnTerminate = false;

    void WaitFor() const noexcept { handle_.WaitFor(); }
    TThreadHandle Handle() const noexcept { return handle_; }

protected:
    // The body. Exceptions that escape it are discarded.
    virtual void Execute() = 0;

private:
    // The backend runs this on the new thread.
    static void Run(TThread* self) noexcept;
    friend struct TThreadState;

    TThreadHandle handle_;
    std::atomic<bool> terminated_{false};
    bool started_ = false;
};
