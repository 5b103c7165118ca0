#pragma once
// A scheduler for tests: time stands still until the test advances it, and then
// every timer that falls due fires at its exact time, in order of due time
// (timers due together in the order they were started). Work posted from other
// threads runs when the test advances the clock or calls RunPending.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "rtl/uischeduler.h"

class TVirtualClock final : public TUiScheduler {
public:
    // Creates a clock and makes it the calling thread's scheduler for as long as
    // it lives: timers created on this thread from now on run on it.
    static std::shared_ptr<TVirtualClock> Install();

    uint64_t Now() const noexcept { return now_; }
    void Advance(uint64_t milliseconds);
    void AdvanceTo(uint64_t time);
    void RunPending() { RunPosted(); }
    // Due time of the next expiry, if any timer runs.
    std::optional<uint64_t> NextDue() const;
    size_t RunningTimers() const noexcept { return timers_.size(); }

    void StartTimer(TTimer& timer, uint32_t interval) override;
    void StopTimer(TTimer& timer) noexcept override;

private:
    struct TEntry {
        TTimer* timer;
        uint64_t due;
        uint32_t interval;
        uint64_t order;
    };
    TVirtualClock() = default;
    bool Wake() noexcept override { return true; }
    // Index of the earliest entry due at or before time, or -1.
    int NextDueIndex(uint64_t time) const;

    std::vector<TEntry> timers_;
    uint64_t now_ = 0;
    uint64_t order_ = 0;
};
