#pragma once
// Reports handed from reading threads to the UI thread: a bounded ring of fixed-size
// slots, many writers and one reader. A writer claims the slot at the tail whose
// sequence says it is free, fills it and publishes it by its sequence; it takes no lock
// and allocates nothing. The UI thread takes the published slots in arrival order.
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "rtl/object.h"

class TReportRing {
public:
    static constexpr uint32_t DefaultSlots = 256;

    // Sized before the first writer starts; slotBytes is the longest report kept whole.
    void Prepare(uint32_t slotBytes, uint32_t slots = DefaultSlots);
    bool Prepared() const noexcept { return slots_ != nullptr; }

    // Any thread. False when the ring is full (the report is counted as dropped). The
    // hook, when given, runs between claiming the slot and publishing it.
    bool Push(int32_t source, const uint8_t* data, uint32_t count, void (*claimed)(TObject*) = nullptr,
              TObject* who = nullptr) noexcept;

    // UI thread: hands every published report, oldest first, to take(source, data, count).
    // Stops at the first slot not yet published: its writer posts again when it has.
    template <typename F>
    void Drain(F&& take) {
        if (!slots_) return;
        for (;;) {
            TSlot& slot = slots_[head_ % count_];
            if (slot.sequence.load(std::memory_order_acquire) != head_ + 1) return;
            take(slot.source, &bytes_[static_cast<size_t>(head_ % count_) * slotBytes_], slot.count);
            slot.sequence.store(head_ + count_, std::memory_order_release);
            ++head_;
        }
    }

    // Reports the ring had no room for.
    uint32_t Dropped() const noexcept { return dropped_.load(); }
    // UI thread: the count so far, and zero from now on.
    uint32_t TakeDropped() noexcept { return dropped_.exchange(0); }

private:
    struct TSlot {
        std::atomic<uint32_t> sequence{0};
        int32_t source = -1;
        uint32_t count = 0;
    };
    std::unique_ptr<TSlot[]> slots_;
    std::vector<uint8_t> bytes_;
    uint32_t count_ = 0;
    uint32_t slotBytes_ = 0;
    std::atomic<uint32_t> tail_{0};
    uint32_t head_ = 0;  // UI thread
    std::atomic<uint32_t> dropped_{0};
};
