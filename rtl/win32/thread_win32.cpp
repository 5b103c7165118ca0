#include <windows.h>

#include "rtl/exception.h"
#include "rtl/format.h"
#include "rtl/thread.h"
#include "rtl/win32/handle.h"

struct TThreadState {
    TUniqueThread thread;
    DWORD id = 0;

    static DWORD WINAPI Proc(void* param) {
        TThread::Run(static_cast<TThread*>(param));
        return 0;
    }
};

TThread::TThread() : handle_(std::make_shared<TThreadState>()) {}

TThread::~TThread() {
    // On its own thread (FreeOnTerminate) the body has returned already.
    if (started_ && handle_.state_->id != GetCurrentThreadId()) {
        Terminate();
        WaitFor();
    }
}

void TThread::Start() {
    if (started_) return;
    TThreadState& s = *handle_.state_;
    // Suspended first, so the id is stored before the body can look at it.
    s.thread.reset(CreateThread(nullptr, 0, &TThreadState::Proc, this, CREATE_SUSPENDED, &s.id));
    if (!s.thread) throw Exception(Format("Cannot create thread: %s", SystemErrorText(GetLastError()).c_str()));
    started_ = true;
    ResumeThread(s.thread.get());
}

bool TThreadHandle::Finished() const noexcept {
    return state_ && state_->thread && WaitForSingleObject(state_->thread.get(), 0) == WAIT_OBJECT_0;
}

void TThreadHandle::WaitFor() const noexcept {
    if (!state_ || !state_->thread) return;
    HANDLE h = state_->thread.get();
    // Serve messages sent to this thread's windows meanwhile: the thread we wait
    // for may be blocked in a SendMessage to one of them.
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjects(1, &h, FALSE, INFINITE, QS_SENDMESSAGE);
        if (r != WAIT_OBJECT_0 + 1) return;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}
