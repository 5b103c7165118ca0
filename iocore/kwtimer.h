#pragma once
// The window-message timer of the port framework: a hidden window of the thread that
// makes the timer receives system timer 1 and calls OnTimer. It ticks only on that
// thread, through whatever message loop the thread runs, and is destroyed there.
#include <windows.h>

#include <cstdint>
#include <string>

#include "rtl/events.h"
#include "rtl/object.h"
#include "rtl/win32/handle.h"
#include "rtl/win32/messagewindow.h"

class TkwTimer : public TObject {
public:
    TkwTimer();
    ~TkwTimer() override;

    bool Enabled() const noexcept { return enabled_; }
    void SetEnabled(bool value);
    const TNotifyEvent& OnTimer() const noexcept { return onTimer_; }
    void SetOnTimer(const TNotifyEvent& handler);
    // Stops system timer 1, then starts it again with Interval when the timer is
    // enabled, has an interval and a handler.
    void UpdateTimer();
    // One tick: OnTimer, when enabled and assigned. Its exceptions are discarded.
    void DoTimer() noexcept;

    // Milliseconds; takes effect the next time the timer is armed.
    uint32_t Interval = 1000;
    HWND TimerWindow() const noexcept { return window_.get(); }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static TMessageWindowClass& WindowClass();

    TUniqueWindow window_;
    TNotifyEvent onTimer_;
    bool enabled_ = true;
};
