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
        if (index < 0 || index >= Count()) Error(index);
        return items_[static_cast<size_t>(index)];
    }

    // Appends and returns the new position.
    int Add(T* item) {
        items_.push_back(item);
        return Count() - 1;
    }

    // Inserts before position index; index == Count appends.
    void Insert(int index, T* item) {
        if (index < 0 || index > Count()) Error(index);
        items_.insert(items_.begin() + index, item);
    }

    void Delete(int index) {
        if (index < 0 || index >= Count()) Error(index);
        items_.erase(items_.begin() + index);
    }

    virtual void Clear() { items_.clear(); }

    int IndexOf(const T* item) const noexcept {
        auto it = std::find(items_.begin(), items_.end(), item);
        return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
    }

protected:
    [[noreturn]] virtual void Error(int index) const {
        throw EListError(Format("List index out of bounds (%d)", index));
    }

private:
    std::vector<T*> items_;
};
