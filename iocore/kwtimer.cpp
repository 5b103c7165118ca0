#include "iocore/kwtimer.h"

#include "rtl/win32/messagewindow.h"

namespace {
constexpr UINT_PTR TimerId = 1;

}  // namespace

TMessageWindowClass& TkwTimer::WindowClass() {
    static auto* windowClass = new TMessageWindowClass("ClickwellTimer", &WindowProc, "timer window");
    return *windowClass;
}

TkwTimer::TkwTimer() { window_.reset(WindowClass().Create(this)); }

TkwTimer::~TkwTimer() {
    enabled_ = false;
    UpdateTimer();
    window_.reset();
    WindowClass().Release();
}

void TkwTimer::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    UpdateTimer();
}

void TkwTimer::SetOnTimer(const TNotifyEvent& handler) {
    onTimer_ = handler;
    UpdateTimer();
}

void TkwTimer::UpdateTimer() {
    KillTimer(window_.get(), TimerId);
    if (Interval != 0 && enabled_ && onTimer_) SetTimer(window_.get(), TimerId, Interval, nullptr);
}

void TkwTimer::DoTimer() noexcept {
    if (!enabled_ || !onTimer_) return;
    try {
        // May free this timer: nothing of it is touched afterwards.
        onTimer_(this);
    } catch (...) {
    }
}

LRESULT CALLBACK TkwTimer::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    if (msg == WM_TIMER) {
        if (auto* self = reinterpret_cast<TkwTimer*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA))) {
            self->DoTimer();
            return 0;
        }
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}
