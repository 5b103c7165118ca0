#pragma once
// A static control that behaves as a link: a hand cursor, and notice when the mouse
// comes over it and leaves it. Its clicks reach the dialog as STN_CLICKED (the control
// needs SS_NOTIFY). UI thread only.
#include <windows.h>

#include "rtl/events.h"
#include "rtl/object.h"

class TLinkLabel : public TObject {
public:
    TLinkLabel() = default;
    ~TLinkLabel() override { Attach(nullptr); }

    // Takes over the control's messages; null gives them back.
    void Attach(HWND label);
    HWND Handle() const noexcept { return wnd_; }
    bool Hovered() const noexcept { return hovered_; }

    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;

private:
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT Message(UINT msg, WPARAM wParam, LPARAM lParam);

    HWND wnd_ = nullptr;
    WNDPROC old_ = nullptr;
    bool hovered_ = false;
};
