#include "engine/hiddevicehandler.h"

#include "engine/kwcrc.h"

static_assert(std::atomic<uint64_t>::is_always_lock_free, "the burst state must be one atomic word");

namespace {
uint64_t Pack(uint32_t signature, uint32_t sequence, bool pending) {
    return (static_cast<uint64_t>(signature) << 32) | (static_cast<uint64_t>(sequence & 0x7FFFFFFF) << 1) |
           (pending ? 1u : 0u);
}
}  // namespace

THidDevicehandler::THidDevicehandler(std::unique_ptr<IHidPort> hid)
    : QuietTimer(std::make_unique<TTimer>(nullptr)),
      Hid(std::move(hid)),
      burst_(Pack(SignatureNone, 0, false)),
      scheduler_(TUiScheduler::Current()) {
    QuietTimer->SetEnabled(false);
    QuietTimer->SetInterval(QuietInterval);
    if (Hid) Hid->DeviceListRefresh();
}

THidDevicehandler::~THidDevicehandler() {
    Hid.reset();
    scheduler_->Withdraw(restart_);
    QuietTimer.reset();
}

uint32_t THidDevicehandler::Signature() const noexcept { return SignatureOf(burst_.load()); }

void THidDevicehandler::TRestart::Run() {
    THidDevicehandler& h = owner_;
    const uint64_t s = h.burst_.load();
    if (!(s & PendingBit)) return;
    h.restartedFor_ = SequenceOf(s);
    h.QuietTimer->SetEnabled(false);
    h.QuietTimer->SetEnabled(true);
}

bool THidDevicehandler::EndBurst(uint32_t& signature) noexcept {
    uint64_t s = burst_.load();
    // A report whose restart has not run yet: the burst goes on, and that
    // restart arms the timer again.
    if (!(s & PendingBit) || SequenceOf(s) != restartedFor_) return false;
    if (!burst_.compare_exchange_strong(s, s & ~PendingBit)) return false;
    signature = SignatureOf(s);
    return true;
}

void THidDevicehandler::CancelBurst() noexcept {
    scheduler_->Withdraw(restart_);
    QuietTimer->SetEnabled(false);
    uint64_t s = burst_.load();
    while ((s & PendingBit) && !burst_.compare_exchange_weak(s, s & ~PendingBit)) {
    }
}
