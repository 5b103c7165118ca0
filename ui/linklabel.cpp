#include "ui/linklabel.h"

#include "rtl/uierror.h"

namespace {
constexpr const char* PropName = "kwLinkLabel";
}

void TLinkLabel::Attach(HWND label) {
    if (wnd_) {
        ::SetWindowLongPtrA(wnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old_));
        ::RemovePropA(wnd_, PropName);
        wnd_ = nullptr;
        old_ = nullptr;
    }
    hovered_ = false;
    if (!label) return;
    ::SetPropA(label, PropName, this);
    old_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TLinkLabel::Proc)));
    wnd_ = label;
}

LRESULT CALLBACK TLinkLabel::Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<TLinkLabel*>(::GetPropA(wnd, PropName));
    if (!self) return ::DefWindowProcA(wnd, msg, wParam, lParam);
    try {
        return self->Message(msg, wParam, lParam);
    } catch (...) {
        HandleUiException();
        return 0;
    }
}

LRESULT TLinkLabel::Message(UINT msg, WPARAM wParam, LPARAM lParam) {
    const WNDPROC old = old_;
    const HWND wnd = wnd_;
    switch (msg) {
        case WM_SETCURSOR:
            ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)));  // IDC_HAND
            return TRUE;
        case WM_MOUSEMOVE:
            if (!hovered_) {
                hovered_ = true;
                TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, wnd_, 0};
                ::TrackMouseEvent(&track);
                if (OnMouseEnter) OnMouseEnter(this);
            }
            break;
        case WM_MOUSELEAVE:
            if (hovered_) {
                hovered_ = false;
                if (OnMouseLeave) OnMouseLeave(this);
            }
            break;
        case WM_NCDESTROY:
            Attach(nullptr);
            break;
        default:
            break;
    }
    return ::CallWindowProcA(old, wnd, msg, wParam, lParam);
}
