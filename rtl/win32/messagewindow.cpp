#include "rtl/win32/messagewindow.h"

#include "rtl/exception.h"
#include "rtl/format.h"
#include "rtl/win32/handle.h"
#include "rtl/win32/module.h"

TMessageWindowClass::TMessageWindowClass(const char* prefix, WNDPROC proc, const char* what)
    : proc_(proc), name_(Format("%s_%p", prefix, static_cast<void*>(ThisModule()))), what_(what) {}

HWND TMessageWindowClass::Create(void* param) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (users_ == 0) {
            WNDCLASSEXA wc{};
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = proc_;
            wc.hInstance = ThisModule();
            wc.lpszClassName = name_.c_str();
            if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
                throw Exception(Format("Cannot register the %s class: %s", what_.c_str(),
                                       SystemErrorText(GetLastError()).c_str()));
        }
        ++users_;
    }
    HWND window = CreateWindowExA(0, name_.c_str(), "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), param);
    if (!window) {
        const DWORD error = GetLastError();
        Release();
        throw Exception(Format("Cannot create the %s: %s", what_.c_str(), SystemErrorText(error).c_str()));
    }
    return window;
}

void TMessageWindowClass::Release() noexcept {
    std::lock_guard<std::mutex> guard(lock_);
    if (--users_ == 0) UnregisterClassA(name_.c_str(), ThisModule());
}
