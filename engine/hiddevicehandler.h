#pragma once
// One device in use: its port, the quiet timer that ends a burst of reports, and
// the running signature of the current burst.
//
// Reports arrive on the port's reading thread, the timer lives on the UI thread.
// The reading thread folds each whole report into the burst state with one atomic
// step and posts the handler's restart task; the UI thread restarts the quiet
// timer when it runs the task, and an expiry ends the burst with one atomic step
// only when no report has come in since the last restart. So an expiry always
// sees the signature of whole reports, and every report restarts the quiet period.
#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/hidport.h"
#include "engine/kwcrc.h"
#include "rtl/timer.h"
#include "rtl/uischeduler.h"

class THidDevicehandler : public TObject {
public:
    static constexpr uint32_t QuietInterval = 300;

    // Takes the port and lets it build its own device list; creates the quiet
    // timer (disabled, 300 ms) on the calling thread.
    explicit THidDevicehandler(std::unique_ptr<IHidPort> hid);
    // Frees the port (which has ended its reading thread), then the timer.
    ~THidDevicehandler() override;

    std::unique_ptr<TTimer> QuietTimer;
    std::unique_ptr<IHidPort> Hid;

    // The running signature of the current (or last) burst.
    uint32_t Signature() const noexcept;

    // Reading thread: folds one report into the burst; starts a burst when none is pending.
    void ReportReceived(const uint8_t* buffer, uint32_t count) noexcept;
    // The received-data event of the handler's own port. Bound to the handler
    // itself, so that the reading thread reaches it without the engine's list,
    // which the UI thread may grow or empty meanwhile.
    void PortReceived(TObject* /*port*/, const uint8_t* buffer, uint32_t count) noexcept {
        ReportReceived(buffer, count);
    }
    // UI thread, at the quiet timer's expiry: ends the burst when it is really
    // over and gives its signature; false when a report has come in since.
    bool EndBurst(uint32_t& signature) noexcept;
    // UI thread: drops a pending burst, e.g. when the handler stops.
    void CancelBurst() noexcept;

private:
    // Burst state in one word: signature (high 32 bits), report sequence (31 bits), pending.
    static constexpr uint64_t PendingBit = 1;
    static uint32_t SignatureOf(uint64_t s) noexcept { return static_cast<uint32_t>(s >> 32); }
    static uint32_t SequenceOf(uint64_t s) noexcept { return static_cast<uint32_t>(s >> 1) & 0x7FFFFFFF; }

    class TRestart : public TUiTask {
    public:
        explicit TRestart(THidDevicehandler& owner) : owner_(owner) {}
        void Run() override;

    private:
        THidDevicehandler& owner_;
    };

    std::atomic<uint64_t> burst_;
    uint32_t restartedFor_ = 0;  // UI thread: the report sequence the timer was last restarted for
    std::shared_ptr<TUiScheduler> scheduler_;
    TRestart restart_{*this};
};

// Inline: the port's received-data event runs it for every report, and one call less
// there is a tenth of what the reading thread spends on a report besides the fold.
inline void THidDevicehandler::ReportReceived(const uint8_t* buffer, uint32_t count) noexcept {
    uint64_t s = burst_.load();
    for (;;) {
        // Only the UI thread's end of a burst can get in between; then the report
        // starts the next burst, and the fold is done again from the start value.
        const uint32_t start = (s & PendingBit) ? SignatureOf(s) : SignatureNone;
        // The sequence counts in steps of two in the low word, above the pending bit;
        // it wraps within the word.
        const uint32_t low = (static_cast<uint32_t>(s) + 2) | static_cast<uint32_t>(PendingBit);
        const uint64_t next = (static_cast<uint64_t>(UpdateSignature(buffer, count, start)) << 32) | low;
        if (burst_.compare_exchange_weak(s, next)) break;
    }
    scheduler_->Post(restart_);
}

