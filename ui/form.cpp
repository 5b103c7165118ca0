#include "ui/form.h"

#include <stdexcept>

#include "rtl/uierror.h"
#include "rtl/win32/module.h"
#include "ui/commoncontrols.h"

namespace {
int DefaultMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    return ::MessageBoxA(owner, text, caption, type);
}
constexpr UINT WM_KW_SHOWN = WM_APP + 0x4B;
}  // namespace

TForm::TMessageBoxCall TForm::MessageBoxCall = &DefaultMessageBox;
void (*TForm::ShownSeam)(TForm& form) = nullptr;

HWND TControl::Handle() const noexcept { return form_.Item(id_); }

std::string TControl::Text() const {
    const HWND h = Handle();
    if (!h) return {};
    std::string s(static_cast<size_t>(::GetWindowTextLengthA(h)) + 1, '\0');
    s.resize(static_cast<size_t>(::GetWindowTextA(h, s.data(), static_cast<int>(s.size()))));
    return s;
}

void TControl::SetText(const std::string& text) const {
    if (const HWND h = Handle()) ::SetWindowTextA(h, text.c_str());
}

LRESULT TControl::Send(UINT msg, WPARAM wParam, LPARAM lParam) const {
    const HWND h = Handle();
    return h ? ::SendMessageA(h, msg, wParam, lParam) : 0;
}

void TComboBox::Clear() const { Send(CB_RESETCONTENT); }

int TComboBox::Add(const std::string& text, LPARAM data) const {
    const int i = static_cast<int>(Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
    if (i >= 0) Send(CB_SETITEMDATA, static_cast<WPARAM>(i), data);
    return i;
}

int TComboBox::Count() const { return static_cast<int>(Send(CB_GETCOUNT)); }
int TComboBox::ItemIndex() const { return static_cast<int>(Send(CB_GETCURSEL)); }
void TComboBox::SetItemIndex(int index) const { Send(CB_SETCURSEL, static_cast<WPARAM>(index)); }
LPARAM TComboBox::Data(int index) const { return Send(CB_GETITEMDATA, static_cast<WPARAM>(index)); }

TForm::TForm(TComponent* owner, int templateId) : TComponent(owner), templateId_(templateId) {}

TForm::~TForm() = default;

HWND TForm::Item(int id) const noexcept {
    if (!handle_) return nullptr;
    if (const HWND h = ::GetDlgItem(handle_, id)) return h;
    for (const HWND page : pages_)
        if (const HWND h = ::GetDlgItem(page, id)) return h;
    return nullptr;
}

HWND TForm::CreatePage(int templateId) {
    const HWND page = ::CreateDialogParamA(ThisModule(), MAKEINTRESOURCEA(templateId), handle_, &PageProc,
                                           reinterpret_cast<LPARAM>(this));
    if (!page) throw std::runtime_error(SystemErrorText(::GetLastError()));
    pages_.push_back(page);
    return page;
}

bool TForm::Notify(const NMHDR& /*header*/, LRESULT& /*result*/) { return false; }

int TForm::ShowModal() {
    HWND parent = ParentWindow;
    if (auto* form = dynamic_cast<TForm*>(Owner()); form && form->Handle()) parent = form->Handle();
    modalResult_ = mrNone;
    closing_ = false;
    TActivation activation;
    InitCommonControlsOnce();
    const INT_PTR r = ::DialogBoxParamA(ThisModule(), MAKEINTRESOURCEA(templateId_), parent, &DialogProc,
                                        reinterpret_cast<LPARAM>(this));
    if (r == -1) throw std::runtime_error(SystemErrorText(::GetLastError()));
    return modalResult_;
}

void TForm::SetModalResult(int result) {
    if (!handle_ || closing_ || result == mrNone) return;
    closing_ = true;
    FormClose(result);
    if (result == mrNone) {  // FormClose withdrew it: the run goes on
        closing_ = false;
        return;
    }
    modalResult_ = result;
    ::EndDialog(handle_, result);
}

std::string TForm::Caption() const {
    if (!handle_) return caption_;
    std::string s(static_cast<size_t>(::GetWindowTextLengthA(handle_)) + 1, '\0');
    s.resize(static_cast<size_t>(::GetWindowTextA(handle_, s.data(), static_cast<int>(s.size()))));
    return s;
}

void TForm::SetCaption(const std::string& text) {
    caption_ = text;
    captionSet_ = true;
    if (handle_) ::SetWindowTextA(handle_, text.c_str());
}

COLORREF TForm::TextColor(int id) const {
    const auto it = colors_.find(id);
    return it == colors_.end() ? CLR_INVALID : it->second;
}

void TForm::SetTextColor(int id, COLORREF color) {
    colors_[id] = color;
    if (handle_)
        if (const HWND h = ::GetDlgItem(handle_, id)) ::InvalidateRect(h, nullptr, TRUE);
}

void TForm::SetBackColor(int id, int sysColor) { backColors_[id] = sysColor; }

void TForm::SetFont(int id, int pixels, bool bold) { fonts_[id] = TFontSpec{pixels, bold, {}}; }

int TForm::MessageBox(const std::string& text, const std::string& caption, UINT type) {
    return MessageBoxCall(handle_, text.c_str(), caption.c_str(), type);
}

bool TForm::Command(int id, int /*code*/, HWND /*control*/) {
    if (id == IDOK || id == IDCANCEL) {
        SetModalResult(id);
        return true;
    }
    return false;
}

void TForm::Center() {
    RECT r{};
    ::GetWindowRect(handle_, &r);
    RECT area{};
    const HWND owner = ::GetWindow(handle_, GW_OWNER);
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner))
        ::GetWindowRect(owner, &area);
    else
        ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    const int w = r.right - r.left, h = r.bottom - r.top;
    int x = area.left + (area.right - area.left - w) / 2;
    int y = area.top + (area.bottom - area.top - h) / 2;
    // Never off the work area, whatever the owner's place.
    RECT work{};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    if (x + w > work.right) x = work.right - w;
    if (y + h > work.bottom) y = work.bottom - h;
    if (x < work.left) x = work.left;
    if (y < work.top) y = work.top;
    ::SetWindowPos(handle_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK TForm::PageProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    TForm* form = nullptr;
    if (msg == WM_INITDIALOG) {
        ::SetWindowLongPtrA(wnd, DWLP_USER, lParam);
        return FALSE;
    }
    form = reinterpret_cast<TForm*>(::GetWindowLongPtrA(wnd, DWLP_USER));
    if (!form) return FALSE;
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrA(wnd, DWLP_USER, 0);
        std::erase(form->pages_, wnd);
        return FALSE;
    }
    INT_PTR r = FALSE;
    try {
        bool handled = false;
        r = form->ControlMessage(wnd, msg, wParam, lParam, handled);
        if (!handled) return FALSE;
    } catch (...) {
        HandleUiException();
    }
    return r;
}

INT_PTR CALLBACK TForm::DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    TForm* form = nullptr;
    if (msg == WM_INITDIALOG) {
        form = reinterpret_cast<TForm*>(lParam);
        ::SetWindowLongPtrA(wnd, DWLP_USER, lParam);
        form->handle_ = wnd;
    } else {
        form = reinterpret_cast<TForm*>(::GetWindowLongPtrA(wnd, DWLP_USER));
    }
    if (!form) return FALSE;
    INT_PTR r = FALSE;
    try {
        r = form->Message(msg, wParam, lParam);
    } catch (...) {
        HandleUiException();
    }
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrA(wnd, DWLP_USER, 0);
        form->handle_ = nullptr;
    }
    return r;
}

INT_PTR TForm::Message(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG: {
            CreateChildren();
            const HFONT base = reinterpret_cast<HFONT>(::SendMessageA(handle_, WM_GETFONT, 0, 0));
            LOGFONTA lf{};
            if (base) ::GetObjectA(base, sizeof(lf), &lf);
            for (auto& [id, face] : fonts_) {
                LOGFONTA f = lf;
                if (face.pixels) f.lfHeight = -face.pixels;
                f.lfWeight = face.bold ? FW_BOLD : FW_NORMAL;
                face.font.reset(::CreateFontIndirectA(&f));
                if (const HWND h = Item(id))
                    ::SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(face.font.get()), FALSE);
            }
            if (captionSet_) ::SetWindowTextA(handle_, caption_.c_str());
            Center();
            FormShow();
            if (ShownSeam) ::PostMessageA(handle_, WM_KW_SHOWN, 0, 0);
            return TRUE;  // focus on the first tab stop
        }
        case WM_KW_SHOWN:
            if (ShownSeam) ShownSeam(*this);
            return TRUE;
        case WM_CLOSE:
            Close();
            return TRUE;
        default: {
            bool handled = false;
            const INT_PTR r = ControlMessage(handle_, msg, wParam, lParam, handled);
            if (handled) return r;
            INT_PTR result = 0;
            if (WindowMessage(msg, wParam, lParam, result)) {
                ::SetWindowLongPtrA(handle_, DWLP_MSGRESULT, result);
                return TRUE;
            }
            return FALSE;
        }
    }
}

INT_PTR TForm::ControlMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = true;
    switch (msg) {
        case WM_COMMAND:
            return Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
        case WM_NOTIFY: {
            LRESULT result = 0;
            if (!Notify(*reinterpret_cast<const NMHDR*>(lParam), result)) {
                handled = false;
                return FALSE;
            }
            ::SetWindowLongPtrA(wnd, DWLP_MSGRESULT, result);
            return TRUE;
        }
        case WM_DRAWITEM:
            DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC: {
            // A page's own answer first (its themed background, where it has one); then
            // the colours set for the control.
            if (inDefault_) {
                handled = false;
                return FALSE;
            }
            const HDC dc = reinterpret_cast<HDC>(wParam);
            const int id = ::GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
            const auto color = colors_.find(id);
            const auto back = backColors_.find(id);
            if (color == colors_.end() && back == backColors_.end()) {
                handled = false;
                return FALSE;
            }
            if (back == backColors_.end() && wnd != handle_) {
                inDefault_ = true;
                const auto brush = static_cast<INT_PTR>(::DefDlgProcA(wnd, msg, wParam, lParam));
                inDefault_ = false;
                ::SetTextColor(dc, color->second);
                return brush;
            }
            if (color != colors_.end()) ::SetTextColor(dc, color->second);
            const int sys = back != backColors_.end() ? back->second : COLOR_BTNFACE;
            ::SetBkColor(dc, ::GetSysColor(sys));
            return reinterpret_cast<INT_PTR>(::GetSysColorBrush(sys));
        }
        default:
            handled = false;
            return FALSE;
    }
}
