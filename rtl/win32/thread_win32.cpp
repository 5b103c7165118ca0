#include <windows.h>

#include <memory>

#include "rtl/exception.h"
#include "rtl/format.h"
#include "rtl/thread.h"
#include "rtl/win32/handle.h"

struct TThreadState {
    TUniqueThread thread;
    DWORD id = 0;

    // What the new thread needs before the body runs: the body may free the thread
    // object, and the reference on our module must outlive the body's last instruction.
    struct TLaunch {
        TThread* thread;
        HMODULE module;
    };

    static DWORD WINAPI Proc(void* param) {
        const TLaunch launch = *static_cast<TLaunch*>(param);
        delete static_cast<TLaunch*>(param);
        TThread::Run(launch.thread);
        // A host may free our library while this thread still runs in it; the thread's
        // own reference keeps it mapped until the thread has left our code.
        if (launch.module) FreeLibraryAndExitThread(launch.module, 0);
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
    auto launch = std::make_unique<TThreadState::TLaunch>(TThreadState::TLaunch{this, nullptr});
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&TThreadState::Proc),
                            &launch->module))
        launch->module = nullptr;
    // Suspended first, so the id is stored before the body can look at it.
    s.thread.reset(CreateThread(nullptr, 0, &TThreadState::Proc, launch.get(), CREATE_SUSPENDED, &s.id));
    if (!s.thread) {
        const DWORD error = GetLastError();
        if (launch->module) FreeLibrary(launch->module);
        throw Exception(Format("Cannot create thread: %s", SystemErrorText(error).c_str()));
    }
    launch.release();
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
    // MWMO_INPUTAVAILABLE: a message already in the queue wakes the wait too, also one
    // whose arrival the thread has seen before (GetQueueStatus, PeekMessage), which a
    // plain wait takes for old news and sleeps through.
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjectsEx(1, &h, INFINITE, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
        if (r != WAIT_OBJECT_0 + 1) return;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}
