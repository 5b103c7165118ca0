// The Win32 backend on real window timers: what the operating system does is the
// point here, so times are checked only loosely.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "rtl/thread.h"
#include "rtl/timer.h"
#include "rtl/uischeduler.h"

namespace {
// Serves this thread's messages until done() or the deadline.
template <class Done>
bool PumpUntil(Done done, DWORD timeoutMs = 5000) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}

struct TExpiryLog {
    std::vector<DWORD> threads;
    std::vector<ULONGLONG> times;
    int stopAfter = 3;
    HWND endDialog = nullptr;
    void operator()(TObject* sender) {
        threads.push_back(GetCurrentThreadId());
        times.push_back(GetTickCount64());
        if (static_cast<int>(threads.size()) == stopAfter) {
            static_cast<TTimer*>(sender)->SetEnabled(false);
            if (endDialog) EndDialog(endDialog, 1);
        }
    }
};

TEST(Win32Timer, FiresOnTheThreadThatCreatedIt) {
    TExpiryLog log;
    TTimer timer(nullptr);
    timer.SetInterval(50);
    const ULONGLONG start = GetTickCount64();
    timer.SetOnTimer(TNotifyEvent::Of(&log));
    ASSERT_TRUE(PumpUntil([&] { return log.threads.size() == 3; }));
    for (DWORD id : log.threads) EXPECT_EQ(id, GetCurrentThreadId());
    // Never early (the tick count is coarse, hence the slack); never late by much.
    EXPECT_GE(log.times[0] - start, 40u);
    EXPECT_GE(log.times[2] - start, 140u);
    PumpUntil([] { return false; }, 120);
    EXPECT_EQ(log.threads.size(), 3u) << "disabled in its handler, it fires no more";
}

TEST(Win32Timer, DisablingDropsAnExpiryAlreadyDue) {
    TExpiryLog log;
    TTimer timer(nullptr);
    timer.SetInterval(10);
    timer.SetOnTimer(TNotifyEvent::Of(&log));
    Sleep(60);  // the expiry is due now, but nobody has looked at the queue yet
    timer.SetEnabled(false);
    timer.SetEnabled(true);  // a fresh interval: the stale expiry must not count for it
    const ULONGLONG restarted = GetTickCount64();
    ASSERT_TRUE(PumpUntil([&] { return !log.times.empty(); }));
    EXPECT_GE(log.times[0] - restarted, 5u);
}

// A modal dialog from an in-memory template (no resource needed): the header,
// then empty menu, class and title.
struct alignas(4) TDialogTemplate {
    WORD words[12] = {};
    TDialogTemplate() {
        const DWORD style = WS_POPUP | DS_MODALFRAME;
        words[0] = LOWORD(style);
        words[1] = HIWORD(style);
        words[7] = 100;  // cx
        words[8] = 50;   // cy
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words); }
};

struct TModalRun {
    TExpiryLog* log;
    std::atomic<DWORD>* taskThread;
};

INT_PTR CALLBACK ModalProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        auto* run = reinterpret_cast<TModalRun*>(lParam);
        run->log->endDialog = hwnd;
        SetTimer(hwnd, 1, 5000, nullptr);  // a safety net, should the test fail
        return TRUE;
    }
    if (msg == WM_TIMER && wParam == 1) {
        EndDialog(hwnd, 2);
        return TRUE;
    }
    return FALSE;
}

TEST(Win32Timer, KeepsFiringWhileAModalDialogRunsAndPostedWorkArrives) {
    TExpiryLog log;
    std::atomic<DWORD> taskThread{0};
    struct TMarkTask : TUiTask {
        std::atomic<DWORD>* thread;
        void Run() override { thread->store(GetCurrentThreadId()); }
    } task;
    task.thread = &taskThread;

    TTimer timer(nullptr);
    timer.SetInterval(40);
    timer.SetOnTimer(TNotifyEvent::Of(&log));
    log.stopAfter = 3;

    auto scheduler = TUiScheduler::Current();
    std::thread poster([&] {
        Sleep(30);
        scheduler->Post(task);
    });
    TDialogTemplate tpl;
    TModalRun run{&log, &taskThread};
    const INT_PTR result = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), tpl.Get(), nullptr, &ModalProc,
                                                   reinterpret_cast<LPARAM>(&run));
    poster.join();
    EXPECT_EQ(result, 1) << "the timer, not the safety net, ended the dialog";
    EXPECT_EQ(log.threads.size(), 3u);
    PumpUntil([&] { return taskThread.load() != 0; }, 1000);
    EXPECT_EQ(taskThread.load(), GetCurrentThreadId());
}

LRESULT CALLBACK EchoProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_APP) return static_cast<LRESULT>(wParam + 1);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

TEST(Win32Thread, WaitingServesMessagesTheThreadSendsToUs) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &EchoProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KwEchoWindow";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);

    struct TSender : TThread {
        HWND target;
        LRESULT answer = 0;
        void Execute() override { answer = SendMessageA(target, WM_APP, 41, 0); }
    } sender;
    sender.target = window;
    sender.Start();
    sender.WaitFor();  // would deadlock if the wait did not serve the sent message
    EXPECT_EQ(sender.answer, 42);
    DestroyWindow(window);
    UnregisterClassA(wc.lpszClassName, wc.hInstance);
}
}  // namespace
