#include "rtl/timer.h"

#include "rtl/uierror.h"
#include "rtl/uischeduler.h"

TTimer::TTimer(TComponent* owner) : TComponent(owner), scheduler_(TUiScheduler::Current()) {}

TTimer::~TTimer() {
    if (running_) scheduler_->StopTimer(*this);
}

void TTimer::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    Update();
}

void TTimer::SetInterval(uint32_t value) {
    if (value == interval_) return;
    interval_ = value;
    Update();
}

void TTimer::SetOnTimer(TNotifyEvent handler) {
    onTimer_ = handler;
    Update();
}

void TTimer::Update() {
    if (running_) {
        scheduler_->StopTimer(*this);
        running_ = false;
    }
    if (enabled_ && interval_ != 0 && onTimer_) {
        scheduler_->StartTimer(*this, interval_);
        running_ = true;
    }
}

void TTimer::Expire() noexcept {
    const TNotifyEvent handler = onTimer_;
    try {
        if (handler) handler(this);
    } catch (...) {
        HandleUiException();
    }
}
