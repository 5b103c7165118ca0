#include "rtl/virtualclock.h"

#include <algorithm>

std::shared_ptr<TVirtualClock> TVirtualClock::Install() {
    std::shared_ptr<TVirtualClock> clock(new TVirtualClock());
    clock->InstallForCurrentThread();
    return clock;
}

void TVirtualClock::StartTimer(TTimer& timer, uint32_t interval) {
    StopTimer(timer);
    timers_.push_back({&timer, now_ + interval, interval, ++order_});
}

void TVirtualClock::StopTimer(TTimer& timer) noexcept {
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                                 [&](const TEntry& e) { return e.timer == &timer; }),
                  timers_.end());
}

int TVirtualClock::NextDueIndex(uint64_t time) const {
    int best = -1;
    for (size_t i = 0; i < timers_.size(); ++i) {
        const TEntry& e = timers_[i];
        if (e.due > time) continue;
        if (best < 0 || e.due < timers_[best].due ||
            (e.due == timers_[best].due && e.order < timers_[best].order))
            best = static_cast<int>(i);
    }
    return best;
}

std::optional<uint64_t> TVirtualClock::NextDue() const {
    const int i = NextDueIndex(UINT64_MAX);
    if (i < 0) return std::nullopt;
    return timers_[static_cast<size_t>(i)].due;
}

void TVirtualClock::Advance(uint64_t milliseconds) { AdvanceTo(now_ + milliseconds); }

void TVirtualClock::AdvanceTo(uint64_t time) {
    RunPosted();
    for (int i; (i = NextDueIndex(time)) >= 0;) {
        TEntry& e = timers_[static_cast<size_t>(i)];
        now_ = e.due;
        // Rescheduled before the handler runs: it may stop, restart or destroy the timer.
        e.due += e.interval;
        e.order = ++order_;
        Expire(*e.timer);
        RunPosted();
    }
    if (time > now_) now_ = time;
}
