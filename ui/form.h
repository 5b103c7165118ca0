#pragma once
// The thin form base of our dialogs: a dialog template from our resources, an owner,
// a modal run with its result, the named handlers, and colours and fonts for the
// controls. Every control is a real window of the template, so that screen readers,
// UI automation and the tests can read it.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "rtl/component.h"
#include "rtl/win32/handle.h"

constexpr int mrNone = 0;
constexpr int mrOk = IDOK;
constexpr int mrCancel = IDCANCEL;

struct TFontTraits {
    using pointer = HFONT;
    static pointer Empty() noexcept { return nullptr; }
    static void Close(pointer f) noexcept { ::DeleteObject(f); }
};

class TForm;

// A control of a form's template, found by its id while the dialog exists.
class TControl {
public:
    TControl(TForm& form, int id) : form_(form), id_(id) {}
    int Id() const noexcept { return id_; }
    HWND Handle() const noexcept;
    std::string Text() const;
    void SetText(const std::string& text) const;
    LRESULT Send(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;

private:
    TForm& form_;
    int id_;
};

// A drop-down list (a combo box without free text).
class TComboBox : public TControl {
public:
    using TControl::TControl;
    void Clear() const;
    int Add(const std::string& text, LPARAM data = 0) const;
    int Count() const;
    int ItemIndex() const;
    void SetItemIndex(int index) const;
    LPARAM Data(int index) const;
};

class TForm : public TComponent {
public:
    // The template is a dialog resource of the module this code is linked into.
    TForm(TComponent* owner, int templateId);
    ~TForm() override;

    // The window the dialog belongs to: the owner form's while it runs, else this one,
    // e.g. the host's; none centres the dialog on the screen.
    HWND ParentWindow = nullptr;

    // Runs the dialog until a result ends it; the owner is disabled meanwhile.
    int ShowModal();
    // Ends the modal run with result (FormClose sees it first).
    void SetModalResult(int result);
    int ModalResult() const noexcept { return modalResult_; }
    // Closing by the title bar (or Esc) ends the run with Cancel.
    void Close() { SetModalResult(mrCancel); }

    HWND Handle() const noexcept { return handle_; }
    // A control of the dialog or of one of its pages, by id; null while no window exists.
    HWND Item(int id) const noexcept;
    // Whether the form is visible (its modal run is under way).
    bool Showing() const noexcept { return handle_ != nullptr; }

    // The caption of the dialog's window.
    std::string Caption() const;
    void SetCaption(const std::string& text);

    // The colour a control's text is drawn in; CLR_INVALID for the default.
    COLORREF TextColor(int id) const;
    void SetTextColor(int id, COLORREF color);

    // Message boxes go through here, so that tests see them instead of a window.
    using TMessageBoxCall = int (*)(HWND owner, const char* text, const char* caption, UINT type);
    static TMessageBoxCall MessageBoxCall;
    int MessageBox(const std::string& text, const std::string& caption, UINT type);

    // Test seam, null in the plug-ins: runs inside the modal loop once the form shows.
    static void (*ShownSeam)(TForm& form);

protected:
    // Named as the forms name them. FormCreate and FormDestroy are called by the
    // derived constructor and destructor; FormShow when the window exists, before it
    // shows; FormClose when the run ends, with the window still there.
    virtual void FormShow() {}
    virtual void FormClose(int& /*result*/) {}
    // A command from a control; ids IDOK and IDCANCEL end the run unless handled.
    virtual bool Command(int id, int code, HWND control);
    // A notification from a control (WM_NOTIFY); true when handled, with its result.
    virtual bool Notify(const NMHDR& header, LRESULT& result);
    // An owner-drawn control asks to be drawn.
    virtual void DrawItem(const DRAWITEMSTRUCT& /*item*/) {}
    // Any other message of the dialog; true when handled, with its result.
    virtual bool WindowMessage(UINT /*msg*/, WPARAM /*wParam*/, LPARAM /*lParam*/, INT_PTR& /*result*/) {
        return false;
    }
    // The window exists, before fonts and FormShow: where a form makes its pages.
    virtual void CreateChildren() {}
    // A child dialog of this form from a template, whose controls' messages reach this
    // form as if they were its own; destroyed with the form's window.
    HWND CreatePage(int templateId);
    // Bold (or not) type of the given pixel height for a control; 0 keeps the height.
    void SetFont(int id, int pixels, bool bold);
    // The background brush a static control is drawn on; null for the dialog's.
    void SetBackColor(int id, int sysColor);

private:
    static INT_PTR CALLBACK DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK PageProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR Message(UINT msg, WPARAM wParam, LPARAM lParam);
    // The messages a page and the dialog share; handled says whether one was ours.
    INT_PTR ControlMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    void Center();

    int templateId_;
    HWND handle_ = nullptr;
    int modalResult_ = mrNone;
    bool closing_ = false;
    std::string caption_;
    bool captionSet_ = false;
    std::map<int, COLORREF> colors_;
    std::map<int, int> backColors_;
    struct TFontSpec {
        int pixels;
        bool bold;
        TUniqueHandle<TFontTraits> font;
    };
    std::map<int, TFontSpec> fonts_;
    std::vector<HWND> pages_;
    bool inDefault_ = false;
};
