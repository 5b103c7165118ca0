#pragma once
// One RAII owner for every kind of Windows handle: the traits give the empty
// value and the close call. Closing resets the owner, so a second close is a no-op.
#include <windows.h>

#include <string>
#include <utility>

template <class Traits>
class TUniqueHandle {
public:
    using pointer = typename Traits::pointer;

    TUniqueHandle() noexcept = default;
    explicit TUniqueHandle(pointer value) noexcept : value_(value) {}
    TUniqueHandle(TUniqueHandle&& other) noexcept : value_(other.release()) {}
    TUniqueHandle& operator=(TUniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~TUniqueHandle() { reset(); }

    pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::Empty(); }
    pointer release() noexcept { return std::exchange(value_, Traits::Empty()); }
    void reset(pointer value = Traits::Empty()) noexcept {
        pointer old = std::exchange(value_, value);
        if (old != Traits::Empty()) Traits::Close(old);
    }
    // For APIs that return the handle through an out parameter.
    pointer* put() noexcept {
        reset();
        return &value_;
    }

private:
    pointer value_ = Traits::Empty();
};

struct THandleTraits {  // events, threads, mutexes: empty is null
    using pointer = HANDLE;
    static pointer Empty() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::CloseHandle(h); }
};
struct TFileHandleTraits {  // CreateFile: empty is INVALID_HANDLE_VALUE
    using pointer = HANDLE;
    static pointer Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(pointer h) noexcept { ::CloseHandle(h); }
};
struct TModuleTraits {
    using pointer = HMODULE;
    static pointer Empty() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::FreeLibrary(h); }
};
struct TRegKeyTraits {
    using pointer = HKEY;
    static pointer Empty() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::RegCloseKey(h); }
};
struct TWindowTraits {
    using pointer = HWND;
    static pointer Empty() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::DestroyWindow(h); }
};

using TUniqueEvent = TUniqueHandle<THandleTraits>;
using TUniqueThread = TUniqueHandle<THandleTraits>;
using TUniqueFile = TUniqueHandle<TFileHandleTraits>;
using TUniqueModule = TUniqueHandle<TModuleTraits>;
using TUniqueRegKey = TUniqueHandle<TRegKeyTraits>;
using TUniqueWindow = TUniqueHandle<TWindowTraits>;

// The text of a system error code, without the trailing CR LF.
std::string SystemErrorText(DWORD code);
