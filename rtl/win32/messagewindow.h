#pragma once
// A window class of this module for hidden message-only windows, registered while any
// window of it exists, so that unloading the library leaves no class behind that points
// into it. Keep each one in storage that is never destroyed: its last window may go
// while the library unloads.
#include <windows.h>

#include <mutex>
#include <string>

class TMessageWindowClass {
public:
    // The class is named prefix + "_" + this module's address; what names the window in
    // error texts ("Cannot register the <what> class", "Cannot create the <what>").
    TMessageWindowClass(const char* prefix, WNDPROC proc, const char* what);
    TMessageWindowClass(const TMessageWindowClass&) = delete;
    TMessageWindowClass& operator=(const TMessageWindowClass&) = delete;

    const char* Name() const noexcept { return name_.c_str(); }
    // A new window of the class; param reaches WM_NCCREATE. Raises when it cannot be made.
    HWND Create(void* param);
    // After a window that Create made has been destroyed.
    void Release() noexcept;

private:
    std::mutex lock_;
    int users_ = 0;
    const WNDPROC proc_;
    const std::string name_;
    const std::string what_;
};
