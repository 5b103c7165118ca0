#pragma once
// A counted COM reference: holds one reference on its interface and gives it
// back when it is replaced or goes out of scope.
#include <unknwn.h>

#include <utility>

template <class T>
class TComPtr {
public:
    TComPtr() noexcept = default;
    // Takes a reference of its own; the caller keeps the one it has.
    explicit TComPtr(T* value) noexcept : value_(value) {
        if (value_) value_->AddRef();
    }
    TComPtr(const TComPtr& other) noexcept : TComPtr(other.value_) {}
    TComPtr(TComPtr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
    TComPtr& operator=(const TComPtr& other) noexcept {
        reset(other.value_);
        return *this;
    }
    TComPtr& operator=(TComPtr&& other) noexcept {
        if (this != &other) attach(std::exchange(other.value_, nullptr));
        return *this;
    }
    ~TComPtr() { attach(nullptr); }

    T* get() const noexcept { return value_; }
    T* operator->() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != nullptr; }

    // The new reference is taken before the old one goes, so resetting to the
    // interface already held cannot free it on the way.
    void reset(T* value = nullptr) noexcept {
        if (value) value->AddRef();
        attach(value);
    }
    // Adopts a reference the caller already owns.
    void attach(T* value) noexcept {
        T* old = std::exchange(value_, value);
        if (old) old->Release();
    }
    T* detach() noexcept { return std::exchange(value_, nullptr); }
    // For the out parameter of a call that hands over a reference.
    T** put() noexcept {
        attach(nullptr);
        return &value_;
    }

private:
    T* value_ = nullptr;
};
