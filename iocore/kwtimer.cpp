#include "iocore/kwtimer.h"

#include <mutex>
#include <string>

#include "rtl/exception.h"
#include "rtl/format.h"
#include "rtl/win32/module.h"

namespace {
constexpr UINT_PTR TimerId = 1;

// Registered while any timer window of this module exists, so that unloading the
// library leaves no class behind that points into it. Never destroyed: the last
// timer may go while the library unloads.
std::mutex& ClassLock() {
    static auto* lock = new std::mutex;
    return *lock;
}
int classUsers = 0;

const char* ClassName() {
    static const std::string* name =
        new std::string(Format("ClickwellTimer_%p", static_cast<void*>(ThisModule())));
    return name->c_str();
}

void ReleaseClass() noexcept {
    std::lock_guard<std::mutex> guard(ClassLock());
    if (--classUsers == 0) UnregisterClassA(ClassName(), ThisModule());
}
}  // namespace

TkwTimer::TkwTimer() {
    {
        std::lock_guard<std::mutex> guard(ClassLock());
        if (classUsers == 0) {
            WNDCLASSEXA wc{};
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = &WindowProc;
            wc.hInstance = ThisModule();
            wc.lpszClassName = ClassName();
            if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
                throw Exception(Format("Cannot register the timer window class: %s",
                                       SystemErrorText(GetLastError()).c_str()));
        }
        ++classUsers;
    }
    window_.reset(CreateWindowExA(0, ClassName(), "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), this));
    if (!window_) {
        const DWORD error = GetLastError();
        ReleaseClass();
        throw Exception(Format("Cannot create the timer window: %s", SystemErrorText(error).c_str()));
    }
}

TkwTimer::~TkwTimer() {
    enabled_ = false;
    UpdateTimer();
    window_.reset();
    ReleaseClass();
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
