// Waiting for a thread on a UI thread serves the messages the thread sends meanwhile,
// also one that was already waiting when the wait began and that the UI thread had
// looked at before: otherwise the two threads wait for each other for ever.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

#include "rtl/thread.h"
#include "rtl/win32/handle.h"

namespace {
// Sends one message to a window of the UI thread, then ends.
class TSender : public TThread {
public:
    explicit TSender(HWND target) : target_(target) {}
    ~TSender() override {
        Terminate();
        WaitFor();
    }
    std::atomic<bool> answered{false};

protected:
    void Execute() override { answered = SendMessageA(target_, WM_USER, 0, 0) == 42; }

private:
    HWND target_;
};

DWORD WINAPI Watchdog(void* done) {
    if (WaitForSingleObject(static_cast<HANDLE>(done), 10000) != WAIT_OBJECT_0) {
        std::fputs("the wait for the thread slept through the message it sent\n", stderr);
        std::fflush(stderr);
        ExitProcess(3);
    }
    return 0;
}

LRESULT CALLBACK Answer(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return msg == WM_USER ? 42 : DefWindowProcA(hwnd, msg, wParam, lParam);
}

TEST(ThreadWait, ServesASentMessageTheWaitingThreadHadAlreadySeen) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &Answer;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KwThreadWaitTarget";
    RegisterClassA(&wc);
    TUniqueWindow window(CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                         wc.hInstance, nullptr));
    ASSERT_TRUE(window);

    TSender sender(window.get());
    sender.Start();
    // The message is in the queue, and this thread has seen it arrive.
    bool pending = false;
    for (int tries = 0; tries < 5000 && !pending; ++tries) {
        pending = (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
        if (!pending) Sleep(1);
    }
    ASSERT_TRUE(pending);

    // A wait that never wakes would hang the run: the watchdog ends the program instead,
    // which fails the case.
    TUniqueEvent done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    TUniqueThread watchdog(CreateThread(nullptr, 0, &Watchdog, done.get(), 0, nullptr));
    ASSERT_TRUE(watchdog);
    TThreadHandle handle = sender.Handle();
    handle.WaitFor();
    SetEvent(done.get());
    WaitForSingleObject(watchdog.get(), INFINITE);
    EXPECT_TRUE(sender.answered);
}
}  // namespace
