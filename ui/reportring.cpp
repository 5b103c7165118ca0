#include "ui/reportring.h"

#include <algorithm>
#include <cstring>

void TReportRing::Prepare(uint32_t slotBytes, uint32_t slots) {
    slotBytes_ = std::max<uint32_t>(slotBytes, 1);
    // A power of two, so that positions keep their slot when the counter wraps.
    count_ = 1;
    while (count_ < slots) count_ <<= 1;
    slots_ = std::make_unique<TSlot[]>(count_);
    for (uint32_t k = 0; k < count_; ++k) slots_[k].sequence.store(k, std::memory_order_relaxed);
    bytes_.assign(static_cast<size_t>(count_) * slotBytes_, 0);
    tail_.store(0);
    head_ = 0;
    dropped_.store(0);
}

bool TReportRing::Push(int32_t source, const uint8_t* data, uint32_t count, void (*claimed)(TObject*),
                       TObject* who) noexcept {
    if (!slots_) return false;
    uint32_t pos = tail_.load(std::memory_order_relaxed);
    TSlot* slot = nullptr;
    for (;;) {
        slot = &slots_[pos % count_];
        const uint32_t seq = slot->sequence.load(std::memory_order_acquire);
        const auto diff = static_cast<int32_t>(seq - pos);
        if (diff == 0) {
            if (tail_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) break;
        } else if (diff < 0) {
            dropped_.fetch_add(1);
            return false;
        } else {
            pos = tail_.load(std::memory_order_relaxed);
        }
    }
    if (claimed) claimed(who);
    const uint32_t kept = std::min(count, slotBytes_);
    std::memcpy(&bytes_[static_cast<size_t>(pos % count_) * slotBytes_], data, kept);
    slot->source = source;
    slot->count = kept;
    slot->sequence.store(pos + 1, std::memory_order_release);
    return true;
}
