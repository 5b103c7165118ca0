#pragma once
// Method references for events. A reference is an object and a member function;
// two references are equal when both are the same, so listeners registered by
// reference can be found and removed again by an equal reference.
#include "rtl/object.h"

template <class Signature>
class TEvent;

template <class R, class... Args>
class TEvent<R(Args...)> {
public:
    TEvent() = default;

    // obj->Method(args...), e.g. TEvent<void(TObject*)>::Bind<&TEngine::Tick>(this).
    template <auto Method, class C>
    static TEvent Bind(C* obj) {
        return TEvent(obj, &CallMember<Method, C>, &TagOf<Method, C>);
    }

    // (*fn)(args...) for any callable object that outlives the reference (a lambda
    // in a test, say); its identity is the callable's address.
    template <class F>
    static TEvent Of(F* fn) {
        return TEvent(fn, &CallFunctor<F>, &TagOf<nullptr, F>);
    }

    explicit operator bool() const noexcept { return call_ != nullptr; }

    R operator()(Args... args) const { return call_(obj_, static_cast<Args>(args)...); }

    friend bool operator==(const TEvent& a, const TEvent& b) noexcept {
        return a.obj_ == b.obj_ && a.tag_ == b.tag_;
    }

    // The object the reference calls (the code half of Delphi's TMethod).
    void* Data() const noexcept { return obj_; }

private:
    using Thunk = R (*)(void*, Args...);

    TEvent(void* obj, Thunk call, const void* tag) : obj_(obj), call_(call), tag_(tag) {}

    template <auto Method, class C>
    static R CallMember(void* obj, Args... args) {
        return (static_cast<C*>(obj)->*Method)(static_cast<Args>(args)...);
    }

    template <class F>
    static R CallFunctor(void* fn, Args... args) {
        return (*static_cast<F*>(fn))(static_cast<Args>(args)...);
    }

    // One distinct address per bound method: function addresses alone could be
    // merged by the linker when two thunks have identical code.
    template <auto Method, class C>
    static inline const char TagOf = 0;

    void* obj_ = nullptr;
    Thunk call_ = nullptr;
    const void* tag_ = nullptr;
};

using TNotifyEvent = TEvent<void(TObject* sender)>;
