#pragma once
// The ordered list of object references. It owns nothing by itself: Delete and
// Clear only drop references; descendants that own their items override Clear.
#include <algorithm>
#include <vector>

#include "rtl/exception.h"
#include "rtl/format.h"
#include "rtl/object.h"

template <class T>
class TList : public TObject {
public:
    ~TList() override = default;

    int Count() const noexcept { return static_cast<int>(items_.size()); }

    T* Items(int index) const {
        if (!InRange(index, items_.size())) Error(index);
        return items_[static_cast<size_t>(index)];
    }

    // Appends and returns the new position.
    int Add(T* item) {
        items_.push_back(item);
        return Count() - 1;
    }

    // Inserts before position index; index == Count appends.
    void Insert(int index, T* item) {
        if (!InRange(index, items_.size() + 1)) Error(index);
        // Append and rotate: vector::insert trips a false -Warray-bounds of GCC 12.
        items_.push_back(item);
        std::rotate(items_.begin() + index, items_.end() - 1, items_.end());
    }

    void Delete(int index) {
        if (!InRange(index, items_.size())) Error(index);
        std::move(items_.begin() + index + 1, items_.end(), items_.begin() + index);
        items_.pop_back();
    }

    virtual void Clear() { items_.clear(); }

    int IndexOf(const T* item) const noexcept {
        auto it = std::find(items_.begin(), items_.end(), item);
        return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
    }

protected:
    [[noreturn]] static void Error(int index) { throw EListError(Format("List index out of bounds (%d)", index)); }

private:
    // One unsigned comparison also rules out negative positions.
    static bool InRange(int index, size_t limit) noexcept { return static_cast<size_t>(index) < limit; }

    std::vector<T*> items_;
};
