#pragma once
// The UI-thread timer. Its expiry handler runs on the thread that created it,
// every Interval milliseconds while it is enabled. Enabling it (or changing the
// interval or handler of an enabled one) starts a full interval; disabling it
// cancels the pending expiry. Use it from its own thread only.
#include <cstdint>
#include <memory>

#include "rtl/component.h"
#include "rtl/events.h"

class TUiScheduler;

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner = nullptr);
    ~TTimer() override;

    bool Enabled() const noexcept { return enabled_; }
    void SetEnabled(bool value);
    uint32_t Interval() const noexcept { return interval_; }
    void SetInterval(uint32_t value);
    const TNotifyEvent& OnTimer() const noexcept { return onTimer_; }
    void SetOnTimer(TNotifyEvent handler);

    // Slot for the backend's bookkeeping (the Win32 backend keeps its timer id here).
    uintptr_t backendSlot = 0;

private:
    friend class TUiScheduler;
    // The timer runs only when enabled, with a non-zero interval and a handler.
    void Update();
    // Called by the scheduler at expiry. The handler may destroy the timer.
    void Expire() noexcept;

    std::shared_ptr<TUiScheduler> scheduler_;
    TNotifyEvent onTimer_;
    uint32_t interval_ = 1000;
    bool enabled_ = true;
    bool running_ = false;
};
