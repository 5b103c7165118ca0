// The platform scheduler on Windows: a hidden message-only window per UI thread.
// Window timers and posted messages reach it through whatever message loop the
// thread runs, a modal dialog's loop included (thread messages would be lost there).
#include <windows.h>

#include <mutex>
#include <vector>

#include "rtl/exception.h"
#include "rtl/format.h"
#include "rtl/timer.h"
#include "rtl/uischeduler.h"
#include "rtl/win32/handle.h"
#include "rtl/win32/messagewindow.h"
#include "rtl/win32/module.h"

namespace {
constexpr UINT WM_RUNPOSTED = WM_APP + 0x4B57;

class TWin32Scheduler final : public TUiScheduler {
public:
    TWin32Scheduler() { window_.reset(WindowClass().Create(this)); }

    ~TWin32Scheduler() override {
        window_.reset();
        WindowClass().Release();
    }

    void StartTimer(TTimer& timer, uint32_t interval) override {
        StopTimer(timer);
        // A fresh id per start: an expiry of an earlier start that is still
        // waiting in the queue then finds no timer and is dropped.
        size_t slot;
        if (!freeSlots_.empty()) {
            slot = freeSlots_.back();
            freeSlots_.pop_back();
        } else {
            slot = slots_.size();
            slots_.push_back(nullptr);
        }
        generation_ = (generation_ + 1) & 0x7FFF;
        if (generation_ == 0) generation_ = 1;
        const UINT_PTR id = (static_cast<UINT_PTR>(generation_) << 16) | (slot + 1);
        if (slot >= 0xFFFF || !SetTimer(window_.get(), id, interval, nullptr)) {
            freeSlots_.push_back(slot);
            throw Exception(Format("Cannot start a timer: %s", SystemErrorText(GetLastError()).c_str()));
        }
        slots_[slot] = &timer;
        timer.backendSlot = id;
    }

    void StopTimer(TTimer& timer) noexcept override {
        const UINT_PTR id = timer.backendSlot;
        if (id == 0) return;
        KillTimer(window_.get(), id);
        const size_t slot = (id & 0xFFFF) - 1;
        slots_[slot] = nullptr;
        freeSlots_.push_back(slot);
        timer.backendSlot = 0;
    }

private:
    // Fails when the thread's queue is full: the UI thread is not pumping, and
    // waiting here would only hold up the reading thread. The next post tries
    // again, and so does the next timer message (RecoverLostWake).
    bool Wake() noexcept override { return PostMessageA(window_.get(), WM_RUNPOSTED, 0, 0) != FALSE; }

    void OnTimerMessage(UINT_PTR id) noexcept {
        const size_t slot = (id & 0xFFFF) - 1;
        TTimer* timer = slot < slots_.size() ? slots_[slot] : nullptr;
        if (!timer || timer->backendSlot != id) {
            KillTimer(window_.get(), id);
            return;
        }
        Expire(*timer);
    }

    static TMessageWindowClass& WindowClass() {
        static auto* windowClass = new TMessageWindowClass("ClickwellUiThread", &WindowProc, "UI window");
        return *windowClass;
    }

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_NCCREATE) {
            auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        }
        auto* self = reinterpret_cast<TWin32Scheduler*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (self) {
            // Neither call lets an exception out: timer and task failures are reported inside.
            if (msg == WM_TIMER) {
                // Before the timer is looked up: a task run here may stop or free it.
                self->RecoverLostWake();
                self->OnTimerMessage(wParam);
                return 0;
            }
            if (msg == WM_RUNPOSTED) {
                self->RunPosted();
                return 0;
            }
        }
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }

    TUniqueWindow window_;
    std::vector<TTimer*> slots_;
    std::vector<size_t> freeSlots_;
    unsigned generation_ = 0;
};
}  // namespace

std::shared_ptr<TUiScheduler> CreatePlatformScheduler() { return std::make_shared<TWin32Scheduler>(); }
