#include "ui/FrmConfig.h"

#include <shellapi.h>

#include <cstdio>
#include <exception>

#include "rtl/win32/module.h"
#include "ui/FrmHidAction.h"
#include "ui/FrmHidActionEdit.h"
#include "ui/actionicons.h"
#include "util/kwwin32.h"

TfmConfig* fmConfig = nullptr;

namespace {
void ShellOpen(HWND owner, const char* address) {
    ::ShellExecuteA(owner, "open", address, nullptr, nullptr, SW_SHOWNORMAL);
}
void SimpleBeep() { ::MessageBeep(0xFFFFFFFF); }

constexpr COLORREF AssignedLabelColor = RGB(0, 128, 0);
constexpr COLORREF UnassignedLabelColor = RGB(0, 0, 128);
constexpr COLORREF AssignedCellColor = RGB(0, 127, 0);
constexpr COLORREF UnassignedCellColor = RGB(255, 0, 0);
constexpr COLORREF LinkColor = RGB(0, 0, 255);
constexpr COLORREF LinkHoverColor = RGB(255, 255, 0);

// The simple page's rows: button, state label and the action code both carry.
struct TSimpleRow {
    int button;
    int label;
    TActionCode code;
};
constexpr TSimpleRow SimpleRows[] = {
    {IDC_CF_ACTPLAY, IDC_CF_LABEL2, 1},    {IDC_CF_ACTNEXT, IDC_CF_LABEL3, 2},
    {IDC_CF_ACTPREV, IDC_CF_LABEL4, 3},    {IDC_CF_ACTVOLUP, IDC_CF_LABEL8, 5},
    {IDC_CF_ACTVOLDOWN, IDC_CF_LABEL9, 6}, {IDC_CF_ACTMUTE, IDC_CF_LABEL12, 13},
};

// Where each control goes, in pixels at 96 dots per inch, inside its parent: the window
// for the page control, the buttons and the link, else the page's client area. A
// negative x or y counts from the right or bottom edge; a width or height of 0 or less
// stretches to that far from the right or bottom edge.
struct TPlace {
    int id;
    int x, y, w, h;
};
constexpr TPlace WindowPlaces[] = {
    {IDC_CF_PAGES, 0, 0, TfmConfig::ClientWidth, TfmConfig::PagesHeight},
    {IDOK, -87, -8, 75, 25},
    {IDCANCEL, -8, -8, 75, 25},
    {IDC_CF_POWERED, 8, -13, 150, 15},
};
constexpr TPlace PagePlaces[] = {
    // simple page
    {IDC_CF_ACTPLAY, 8, 8, 121, 25},
    {IDC_CF_LABEL2, 137, 13, 0, 16},
    {IDC_CF_ACTNEXT, 8, 38, 121, 25},
    {IDC_CF_LABEL3, 137, 43, 0, 16},
    {IDC_CF_ACTPREV, 8, 68, 121, 25},
    {IDC_CF_LABEL4, 137, 73, 0, 16},
    {IDC_CF_ACTVOLUP, 8, 98, 121, 25},
    {IDC_CF_LABEL8, 137, 103, 0, 16},
    {IDC_CF_ACTVOLDOWN, 8, 128, 121, 25},
    {IDC_CF_LABEL9, 137, 133, 0, 16},
    {IDC_CF_ACTMUTE, 8, 158, 121, 25},
    {IDC_CF_LABEL12, 137, 163, -130, 16},
    {IDC_CF_MORE, -8, -8, 113, 25},
    // extended page
    {IDC_CF_ACTIONS, 8, 8, -129, 0},
    {IDC_CF_ADD, -8, 8, 113, 25},
    {IDC_CF_EDIT, -8, 38, 113, 25},
    {IDC_CF_DELETE, -8, 68, 113, 25},
    {IDC_CF_SIMPLE, -8, -8, 113, 25},
    // HID page
    {IDC_CF_LABEL1, 8, 11, 104, 16},
    {IDC_CF_DEVICEBOX, 112, 8, 241, 200},
    {IDC_CF_AUTODETECT, 359, 7, -8, 24},
    {IDC_CF_TREE, 8, 38, 121, 81},
    {IDC_CF_PROPERTIES, 133, 38, -9, 81},
    {IDC_CF_OPEN, 8, 124, -8, 17},
    {IDC_CF_MEMO, 8, 145, -8, -11},
    // About page
    {IDC_CF_LABEL7, 16, 16, -16, 28},
    {IDC_CF_VERSION, 16, 52, -16, 18},
    {IDC_CF_LABEL14, 16, 96, -16, 16},
    {IDC_CF_LABEL6, 16, 114, -16, 16},
};

void Place(HWND parent, const TPlace& p, int dpi) {
    const HWND control = ::GetDlgItem(parent, p.id);
    if (!control) return;
    RECT area{};
    ::GetClientRect(parent, &area);
    const auto px = [dpi](int v) { return ::MulDiv(v, dpi, 96); };
    const int width = area.right, height = area.bottom;
    const int w = p.w > 0 ? px(p.w) : width + px(p.w) - (p.x >= 0 ? px(p.x) : 0);
    const int h = p.h > 0 ? px(p.h) : height + px(p.h) - (p.y >= 0 ? px(p.y) : 0);
    const int x = p.x >= 0 ? px(p.x) : width + px(p.x) - w;
    const int y = p.y >= 0 ? px(p.y) : height + px(p.y) - h;
    ::MoveWindow(control, x, y, w, h, FALSE);
}

std::string Hex(unsigned value, int digits) {
    char s[16];
    std::snprintf(s, sizeof s, "%0*X", digits, value);
    return s;
}
std::string Dec(unsigned value) { return std::to_string(value); }
const char* Flag(bool set) { return set ? "True" : "False"; }
std::string Pair(unsigned a, unsigned b) { return Dec(a) + " / " + Dec(b); }
std::string UsagePageText(uint16_t page) { return Hex(page, 4) + " (" + UsagePageName(page) + ")"; }

// The list view and tree view calls the pages make.
int ListCount(HWND list) { return static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

int InsertRow(HWND list, int row, const std::string& caption, int image, LPARAM data) {
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
    item.iItem = row;
    item.pszText = const_cast<char*>(caption.c_str());
    item.iImage = image >= 0 ? image : I_IMAGENONE;
    item.lParam = data;
    return static_cast<int>(::SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

void SetCell(HWND list, int row, int column, const std::string& text) {
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text.c_str());
    ::SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void AddColumn(HWND list, int index, const char* caption, int width) {
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<char*>(caption);
    column.cx = width;
    column.iSubItem = index;
    ::SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
}

// The last column takes what the others leave of the list's width, with room kept for
// the vertical scroll bar that more rows bring, so that none horizontal ever shows.
void FillLastColumn(HWND list, int last) {
    RECT r{};
    ::GetClientRect(list, &r);
    if (!(::GetWindowLongA(list, GWL_STYLE) & WS_VSCROLL)) r.right -= ::GetSystemMetrics(SM_CXVSCROLL);
    int used = 0;
    for (int k = 0; k < last; ++k) used += static_cast<int>(::SendMessageA(list, LVM_GETCOLUMNWIDTH, k, 0));
    const int rest = r.right - used;
    ::SendMessageA(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(last), rest > 40 ? rest : 40);
}

HTREEITEM AddNode(HWND tree, HTREEITEM parent, const std::string& text, LPARAM data) {
    TVINSERTSTRUCTA insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    insert.item.pszText = const_cast<char*>(text.c_str());
    insert.item.lParam = data;
    return reinterpret_cast<HTREEITEM>(::SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

HTREEITEM TreeNext(HWND tree, HTREEITEM item, UINT relation) {
    return reinterpret_cast<HTREEITEM>(
        ::SendMessageA(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

LPARAM NodeData(HWND tree, HTREEITEM item) {
    TVITEMA data{};
    data.mask = TVIF_PARAM;
    data.hItem = item;
    ::SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&data));
    return data.lParam;
}

// The tree's groups: caption, prefix of their children, capability kind k of the record.
struct TCapsGroup {
    const char* caption;
    const char* child;
    int counter;  // position of its count in HIDP_CAPS
    int kind;     // k for GetButtonCaps / GetValueCaps
};
constexpr TCapsGroup CapsGroups[] = {
    {"Input Buttons", "Input Button ", 0, 0},       {"Input Values", "Input Values ", 1, 1},
    {"Output Buttons", "Output Button ", 3, 3},     {"Output Values", "Output Values ", 4, 4},
    {"Feature Buttons", "Feature Button ", 6, 6}, {"Feature Values", "Feature Values ", 7, 7},
};

std::string Trimmed(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
    return s.substr(a, b - a);
}

// uxtheme is no KnownDLL: the page texture is bound at run time, where there is one.
void UseTabTexture(HWND page) {
    using TEnable = HRESULT(WINAPI*)(HWND, DWORD);
    static const TEnable enable = [] {
        const HMODULE uxtheme = LoadSystemLibrary("uxtheme.dll");
        return uxtheme ? reinterpret_cast<TEnable>(
                             reinterpret_cast<void*>(::GetProcAddress(uxtheme, "EnableThemeDialogTexture")))
                       : nullptr;
    }();
    if (enable) enable(page, 6);  // ETDT_ENABLETAB
}
}  // namespace

void (*TfmConfig::ShellOpenCall)(HWND owner, const char* address) = &ShellOpen;
void (*TfmConfig::BeepCall)() = &SimpleBeep;

TfmConfig::TfmConfig(TComponent* owner) : TForm(owner, IDD_CONFIG), scheduler_(TUiScheduler::Current()) {
    kwHid1 = std::make_unique<TkwHid>(nullptr);
    kwHid1->SharedMode = true;
    kwHid1->SetTerminalUsage(tuNone);
    kwHid1->TerminalEcho = false;
    kwHid1->OnClose = TNotifyEvent::Bind<&TfmConfig::kwHid1Close>(this);
    kwHid1->OnAfterReceive = TOnReceived::Bind<&TfmConfig::kwHid1AfterReceive>(this);
    kwHid1->DeviceListRefresh();
    kwHid1->SetDeviceIndex(0);
    kwDeviceBox1 = std::make_unique<TkwDeviceBox>(nullptr);
    kwDeviceBox1->ResetOnChanged = false;
    kwDeviceBox1->OnChange = TNotifyEvent::Bind<&TfmConfig::kwDeviceBox1Change>(this);
    logTimer_ = std::make_unique<TTimer>(nullptr);
    logTimer_->SetEnabled(false);
    logTimer_->SetInterval(LogInterval);
    logTimer_->SetOnTimer(TNotifyEvent::Bind<&TfmConfig::logTimerTimer>(this));
    linkPowered_.OnMouseEnter = linkProduct_.OnMouseEnter = TNotifyEvent::Bind<&TfmConfig::lPoweredMouseEnter>(this);
    linkPowered_.OnMouseLeave = linkProduct_.OnMouseLeave = TNotifyEvent::Bind<&TfmConfig::lPoweredMouseLeave>(this);
    SetCaption(CaptionText);
    SetFont(IDC_CF_POWERED, 0, true);
    SetTextColor(IDC_CF_POWERED, LinkColor);
    SetFont(IDC_CF_MORE, 0, true);
    SetFont(IDC_CF_LABEL7, 21, true);
    SetFont(IDC_CF_VERSION, 13, true);
    SetTextColor(IDC_CF_LABEL6, LinkColor);
    FormCreate();
}

TfmConfig::~TfmConfig() {
    // The port's reader ends before the ring and the task it reaches go.
    kwHid1->TkwBaseIO::SetActive(false);
    kwDeviceBox1->Attach(nullptr);
    kwDeviceBox1->SetLink(nullptr);
    scheduler_->Withdraw(logTask_);
    FormDestroy();
}

void TfmConfig::FormCreate() {}

void TfmConfig::FormDestroy() {}

void TfmConfig::CreateChildren() {
    const HDC screen = ::GetDC(Handle());
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen) ::ReleaseDC(Handle(), screen);
    // The client area is fixed in pixels, whatever the dialog font's units make of it.
    RECT frame{0, 0, ::MulDiv(ClientWidth, dpi, 96), ::MulDiv(ClientHeight, dpi, 96)};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrA(Handle(), GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongPtrA(Handle(), GWL_EXSTYLE)));
    ::SetWindowPos(Handle(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (const TPlace& p : WindowPlaces) Place(Handle(), p, dpi);

    const HWND tabs = Pages.Handle();
    RECT display{};
    ::GetWindowRect(tabs, &display);
    ::MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&display), 2);
    for (TPage& page : pages_) {
        page.window = CreatePage(page.templateId);
        page.tabVisible = true;
    }
    RebuildTabs();
    ::SendMessageA(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    for (TPage& page : pages_) {
        // Above the page control, so that each paints over it.
        ::SetWindowPos(page.window, HWND_TOP, display.left, display.top, display.right - display.left,
                       display.bottom - display.top, SWP_NOACTIVATE);
        UseTabTexture(page.window);
        for (const TPlace& p : PagePlaces) Place(page.window, p, dpi);
    }
    linkPowered_.Attach(lPowered.Handle());
    linkProduct_.Attach(Label6.Handle());
    Label6.SetText(ProductAddress);
    kwDeviceBox1->Attach(::GetDlgItem(Page(pgHid), IDC_CF_DEVICEBOX));
    kwDeviceBox1->SetLink(kwHid1.get());
    kwDeviceBox1->RefreshItems();
    img16.LoadIcons(IDI_ACTION_FIRST, IDI_ACTION_COUNT);
    lvActions.Send(LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    lvActions.Send(LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(img16.Handle()));
    ListView1.Send(LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    // The tree is narrow: a small indent keeps its children's names in view.
    TreeView1.Send(TVM_SETINDENT, static_cast<WPARAM>(::MulDiv(12, dpi, 96)));
    MakeColumns();
    Memo1.Send(EM_SETLIMITTEXT, 0);
    activePage_ = -1;
    SetActivePage(pgActions);
}

void TfmConfig::MakeColumns() {
    AddColumn(lvActions.Handle(), 0, "Action", 98);
    AddColumn(lvActions.Handle(), 1, "State", 72);
    AddColumn(lvActions.Handle(), 2, "Device", 100);
    FillLastColumn(lvActions.Handle(), 2);
    AddColumn(ListView1.Handle(), 0, "Property", 100);
    AddColumn(ListView1.Handle(), 1, "Value", 100);
    FillLastColumn(ListView1.Handle(), 1);
}

// --- pages and tabs

void TfmConfig::RebuildTabs() {
    const HWND tabs = Pages.Handle();
    if (!tabs) return;
    ::SendMessageA(tabs, TCM_DELETEALLITEMS, 0, 0);
    int position = 0;
    for (int k = 0; k < PageCount; ++k) {
        if (!pages_[static_cast<size_t>(k)].tabVisible) continue;
        TCITEMA item{};
        item.mask = TCIF_TEXT | TCIF_PARAM;
        item.pszText = const_cast<char*>(pages_[static_cast<size_t>(k)].caption);
        item.lParam = k;
        ::SendMessageA(tabs, TCM_INSERTITEMA, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(&item));
        if (k == activePage_) ::SendMessageA(tabs, TCM_SETCURSEL, static_cast<WPARAM>(position), 0);
        ++position;
    }
}

void TfmConfig::SetTabVisible(int index, bool visible) {
    if (index < 0 || index >= PageCount) return;
    pages_[static_cast<size_t>(index)].tabVisible = visible;
    RebuildTabs();
}

void TfmConfig::SetActivePage(int index) {
    if (index < 0 || index >= PageCount) return;
    const bool changed = index != activePage_;
    activePage_ = index;
    for (int k = 0; k < PageCount; ++k)
        if (const HWND w = pages_[static_cast<size_t>(k)].window) ::ShowWindow(w, k == index ? SW_SHOW : SW_HIDE);
    RebuildTabs();
    if (changed && index == pgActionsExt && !showing_) pgActionsExtShow();
}

// --- showing and closing

void TfmConfig::FormShow() {
    if (!FProcessor) return;
    kwHid1->SetDeviceIndex(FProcessor->HidIndex);
    // The extended page shows its list once the window is up, after the steps below.
    activePage_ = -1;
    showing_ = true;
    SetExtendedMode(FProcessor->Mode);
    showing_ = false;
    SetTabVisible(pgHid, false);
    kwDeviceBox1Change(nullptr);
    UpdateSimpleLabels();
    lVer.SetText("v." + GetVersionText(ThisModuleFileName()));
    if (activePage_ == pgActionsExt) pgActionsExtShow();
}

void TfmConfig::FormClose(int& result) {
    if (result != mrOk) return;
    FProcessor->HidIndex = kwHid1->DeviceIndex();
    FProcessor->Mode = TabVisible(pgActionsExt);
    FProcessor->SaveToFile("");
    try {
        FProcessor->RestartHandlers();
    } catch (const std::exception& e) {
        MessageBox(e.what(), "Error!", MB_OK | MB_ICONERROR);
        result = mrNone;
    }
}

// --- simple page

void TfmConfig::UpdateSimpleLabels() {
    if (!FProcessor) return;
    for (const TSimpleRow& row : SimpleRows) {
        const THidAction* action = FProcessor->FindAction(row.code);
        const bool assigned = action && action->IsAssigned();
        SetTextColor(row.label, assigned ? AssignedLabelColor : UnassignedLabelColor);
        if (const HWND label = Item(row.label))
            ::SetWindowTextA(label, assigned ? "Assigned. Click button for change" : "Not defined. Click button for change");
    }
}

void TfmConfig::SimpleButtonClick(TActionCode code) {
    if (FProcessor) LearnAction(FProcessor->FindAction(code));
}

void TfmConfig::LearnAction(THidAction* action) {
    if (action) {
        try {
            TfmHidAction learn(this);
            learn.FDeviceIndex = -1;
            learn.FAction->Assign(action);
            if (learn.ShowModal() == mrOk)
                action->Assign(learn.FAction.get());
            else
                action->ResetSignatures();
        } catch (...) {
            // The action stays as it was.
        }
    }
    UpdateSimpleLabels();
}

void TfmConfig::SetExtendedMode(bool extended) {
    pages_[pgActionsExt].tabVisible = extended;
    pages_[pgActions].tabVisible = !extended;
    SetActivePage(extended ? pgActionsExt : pgActions);
}

void TfmConfig::DrawItem(const DRAWITEMSTRUCT& item) {
    if (item.CtlID != IDC_CF_MORE) return;
    // A push button with bold blue text.
    RECT r = item.rcItem;
    UINT state = DFCS_BUTTONPUSH;
    if (item.itemState & ODS_SELECTED) state |= DFCS_PUSHED;
    if (item.itemState & ODS_DISABLED) state |= DFCS_INACTIVE;
    ::DrawFrameControl(item.hDC, &r, DFC_BUTTON, state);
    char text[64] = {};
    ::GetWindowTextA(item.hwndItem, text, sizeof text);
    const int mode = ::SetBkMode(item.hDC, TRANSPARENT);
    const COLORREF color = ::SetTextColor(item.hDC, (item.itemState & ODS_DISABLED) ? ::GetSysColor(COLOR_GRAYTEXT) : LinkColor);
    const HGDIOBJ font = ::SelectObject(item.hDC, reinterpret_cast<HGDIOBJ>(::SendMessageA(item.hwndItem, WM_GETFONT, 0, 0)));
    if (item.itemState & ODS_SELECTED) ::OffsetRect(&r, 1, 1);
    ::DrawTextA(item.hDC, text, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    ::SelectObject(item.hDC, font);
    ::SetTextColor(item.hDC, color);
    ::SetBkMode(item.hDC, mode);
    if (item.itemState & ODS_FOCUS) {
        RECT focus = item.rcItem;
        ::InflateRect(&focus, -4, -4);
        ::DrawFocusRect(item.hDC, &focus);
    }
}

// --- extended page

THidAction* TfmConfig::RowAction(int row) const {
    if (row < 0 || row >= ListCount(lvActions.Handle())) return nullptr;
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    lvActions.Send(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return reinterpret_cast<THidAction*>(item.lParam);
}

int TfmConfig::SelectedRow() const {
    return static_cast<int>(lvActions.Send(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void TfmConfig::FillActionList() {
    const HWND list = lvActions.Handle();
    if (!list || !FProcessor) return;
    ::SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    const int selected = SelectedRow();
    ::SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    try {
        const int images = img16.Count();
        for (int k = 0; k < FProcessor->Count(); ++k) {
            THidAction* action = FProcessor->Items(k);
            const int image = action->Code >= 1 && action->Code - 1 < images ? action->Code - 1 : -1;
            const int row = InsertRow(list, k, action->ActionName(), image, reinterpret_cast<LPARAM>(action));
            SetCell(list, row, 1, action->IsAssigned() ? "Assigned" : "Unassigned");
            const int index = action->DeviceIndex;
            const TkwDevice* device = index >= 0 && index < kwHid1->TkwBaseIO::DeviceCount() ? kwHid1->Devices(index) : nullptr;
            SetCell(list, row, 2, device ? device->Name : "Not selected");
        }
        if (selected >= 0 && selected < ListCount(list)) {
            LVITEMA state{};
            state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
            ::SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(&state));
        }
    } catch (...) {
        // The rows added so far stay.
    }
    ::SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
}

COLORREF TfmConfig::lvActionsCustomDrawSubItem(const THidAction* action, int subItem) const {
    if (subItem != 1 || !action) return CLR_DEFAULT;
    return action->IsAssigned() ? AssignedCellColor : UnassignedCellColor;
}

bool TfmConfig::EditAction(THidAction& action) {
    TfmActionEdit editor(this);
    editor.SetAction(&action);
    deviceNames_.clear();
    for (int k = 0; k < kwDeviceBox1->ItemCount(); ++k) deviceNames_.push_back(kwDeviceBox1->Item(k));
    editor.FDeviceNames = &deviceNames_;
    editor.FSupportedActions = FProcessor->SupportedActions;
    if (editor.ShowModal() != mrOk) return false;
    action.Assign(editor.FAction.get());
    return true;
}

void TfmConfig::bAddClick() {
    auto action = std::make_unique<THidAction>();
    action->Code = 0;
    action->ResetSignatures();
    action->DeviceIndex = -1;
    if (EditAction(*action)) {
        FProcessor->Add(action.get());
        action.release();
    }
    FillActionList();
}

void TfmConfig::bEditClick() {
    THidAction* action = RowAction(SelectedRow());
    if (!action) return;
    EditAction(*action);
    FillActionList();
}

void TfmConfig::dDeleteClick() {
    const int row = SelectedRow();
    THidAction* action = RowAction(row);
    if (!action || row >= FProcessor->Count() || FProcessor->Items(row) != action) return;
    FProcessor->Delete(row);
    delete action;
    FillActionList();
}

// --- links, the title, device changes

void TfmConfig::lPoweredClick() { ShellOpenCall(Handle(), LibraryAddress); }

void TfmConfig::Label6Click() { ShellOpenCall(Handle(), ProductAddress); }

void TfmConfig::lPoweredMouseEnter(TObject* sender) {
    const auto* link = static_cast<TLinkLabel*>(sender);
    if (link && link->Handle()) SetTextColor(::GetDlgCtrlID(link->Handle()), LinkHoverColor);
}

void TfmConfig::lPoweredMouseLeave(TObject* sender) {
    const auto* link = static_cast<TLinkLabel*>(sender);
    if (link && link->Handle()) SetTextColor(::GetDlgCtrlID(link->Handle()), LinkColor);
}

void TfmConfig::Label7DblClick() {
    SetTabVisible(pgHid, !TabVisible(pgHid));
    BeepCall();
}

void TfmConfig::WMDeviceChange(WPARAM wParam, LPARAM lParam) {
    const int index = kwHid1->DeviceIndex();
    kwHid1->HandleDeviceChange(WM_DEVICECHANGE, wParam, lParam);
    if (index < kwHid1->TkwBaseIO::DeviceCount()) {
        kwHid1->SetDeviceIndex(index);
        kwDeviceBox1Change(nullptr);
    } else {
        FillCapsTree();
    }
}

// --- messages

bool TfmConfig::Command(int id, int code, HWND control) {
    if (id == IDC_CF_DEVICEBOX)
        return TkwDeviceBox::ParentCommand(MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
    if (code == BN_CLICKED) {
        for (const TSimpleRow& row : SimpleRows)
            if (row.button == id) {
                SimpleButtonClick(row.code);
                return true;
            }
        switch (id) {
            case IDC_CF_MORE: bMoreClick(); return true;
            case IDC_CF_SIMPLE: bSimpleClick(); return true;
            case IDC_CF_ADD: bAddClick(); return true;
            case IDC_CF_EDIT: bEditClick(); return true;
            case IDC_CF_DELETE: dDeleteClick(); return true;
            case IDC_CF_AUTODETECT: Button3Click(); return true;
            case IDC_CF_OPEN: CheckBox1Click(); return true;
            default: break;
        }
    }
    // Statics with SS_NOTIFY: STN_CLICKED is 0 as BN_CLICKED is, STN_DBLCLK 1.
    if (code == STN_CLICKED && id == IDC_CF_POWERED) {
        lPoweredClick();
        return true;
    }
    if (code == STN_CLICKED && id == IDC_CF_LABEL6) {
        Label6Click();
        return true;
    }
    if (code == STN_DBLCLK && id == IDC_CF_LABEL7) {
        Label7DblClick();
        return true;
    }
    return TForm::Command(id, code, control);
}

bool TfmConfig::Notify(const NMHDR& header, LRESULT& result) {
    switch (header.idFrom) {
        case IDC_CF_PAGES:
            if (header.code == TCN_SELCHANGE) {
                const int position = static_cast<int>(Pages.Send(TCM_GETCURSEL));
                TCITEMA item{};
                item.mask = TCIF_PARAM;
                if (Pages.Send(TCM_GETITEMA, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(&item)))
                    SetActivePage(static_cast<int>(item.lParam));
                result = 0;
                return true;
            }
            return false;
        case IDC_CF_ACTIONS:
            if (header.code == NM_DBLCLK) {
                bEditClick();
                result = 0;
                return true;
            }
            if (header.code == NM_CUSTOMDRAW) {
                const auto& draw = reinterpret_cast<const NMLVCUSTOMDRAW&>(header);
                auto& mutableDraw = const_cast<NMLVCUSTOMDRAW&>(draw);
                switch (draw.nmcd.dwDrawStage) {
                    case CDDS_PREPAINT: result = CDRF_NOTIFYITEMDRAW; return true;
                    case CDDS_ITEMPREPAINT: result = CDRF_NOTIFYSUBITEMDRAW; return true;
                    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
                        const COLORREF color = lvActionsCustomDrawSubItem(
                            RowAction(static_cast<int>(draw.nmcd.dwItemSpec)), draw.iSubItem);
                        mutableDraw.clrText = color == CLR_DEFAULT ? ::GetSysColor(COLOR_WINDOWTEXT) : color;
                        result = CDRF_NEWFONT;
                        return true;
                    }
                    default: result = CDRF_DODEFAULT; return true;
                }
            }
            return false;
        case IDC_CF_TREE:
            if (header.code == TVN_SELCHANGEDA || header.code == TVN_SELCHANGEDW) {
                TreeView1Change();
                result = 0;
                return true;
            }
            return false;
        default:
            return false;
    }
}

bool TfmConfig::WindowMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    if (msg != WM_DEVICECHANGE) return false;
    WMDeviceChange(wParam, lParam);
    result = TRUE;
    return true;
}

// --- HID page

void TfmConfig::kwDeviceBox1Change(TObject* /*sender*/) {
    FillCapsTree();
    UpdateSimpleLabels();
}

void TfmConfig::FillCapsTree() {
    const HWND tree = TreeView1.Handle();
    if (!tree) return;
    ::SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    if (const TkwHidDevice* device = kwHid1->Device) {
        const HTREEITEM general = AddNode(tree, TVI_ROOT, "General HID Info", 0);
        for (size_t g = 0; g < std::size(CapsGroups); ++g) {
            const TCapsGroup& group = CapsGroups[g];
            const int count = device->CapsCount(group.counter);
            if (count <= 0) continue;
            const HTREEITEM node = AddNode(tree, TVI_ROOT, group.caption, static_cast<LPARAM>(g));
            for (int n = 0; n < count; ++n) AddNode(tree, node, group.child + std::to_string(n), static_cast<LPARAM>(g));
        }
        ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(general));
    }
    ShowNodeInfo();
}

void TfmConfig::TreeView1Change() { ShowNodeInfo(); }

void TfmConfig::ShowNodeInfo() {
    const HWND tree = TreeView1.Handle();
    ListView1.Send(LVM_DELETEALLITEMS);
    if (!tree) return;
    const HTREEITEM selected = TreeNext(tree, nullptr, TVGN_CARET);
    const TkwHidDevice* device = kwHid1->Device;
    if (!selected || !device) return;
    if (selected == TreeNext(tree, nullptr, TVGN_ROOT)) ShowDeviceInfo();
    const HTREEITEM parent = TreeNext(tree, selected, TVGN_PARENT);
    if (!parent) return;
    const auto g = static_cast<size_t>(NodeData(tree, parent));
    if (g >= std::size(CapsGroups)) return;
    int n = 0;
    for (HTREEITEM sibling = TreeNext(tree, parent, TVGN_CHILD); sibling && sibling != selected;
         sibling = TreeNext(tree, sibling, TVGN_NEXT))
        ++n;
    if (g % 2 == 0) {
        HIDP_BUTTON_CAPS caps{};
        device->GetButtonCaps(n, CapsGroups[g].kind, caps);
        ShowCaps(caps);
    } else {
        HIDP_VALUE_CAPS caps{};
        device->GetValueCaps(n, CapsGroups[g].kind, caps);
        ShowCaps(caps);
    }
}

void TfmConfig::ShowDeviceInfo() {
    const TkwHidDevice* device = kwHid1->Device;
    if (!device) return;
    AddProperty("Friendly Name", device->Name);
    AddProperty("Description", device->Description);
    AddProperty("Manufacturer", device->Manufacturer);
    AddProperty("Service", device->Service);
    AddProperty("VendorID", Hex(device->Attributes.VendorID, 4));
    AddProperty("ProductID", Hex(device->Attributes.ProductID, 4));
    AddProperty("Ver", Dec(device->Attributes.VersionNumber) + " [" + Hex(device->Attributes.VersionNumber, 4) + "h]");
    AddProperty("Usage Page", UsagePageText(device->Caps.UsagePage));
    if (kwHid1->TkwBaseIO::Active())
        AddProperty("R/W modes:", std::string(Flag(kwHid1->ReadAccess)) + " / " + Flag(kwHid1->WriteAccess));
}

template <typename TCaps>
void TfmConfig::ShowCaps(const TCaps& caps) {
    AddProperty("Usage Page", UsagePageText(caps.UsagePage));
    AddProperty("Report ID", Hex(caps.ReportID, 2));
    AddProperty("Bit Field", Hex(caps.BitField, 4));
    AddProperty("Is Range", Flag(caps.IsRange != 0));
    AddProperty("Is Designator Range", Flag(caps.IsDesignatorRange != 0));
    if (caps.IsRange) {
        AddProperty("Usage Min/Max", Pair(caps.Range.UsageMin, caps.Range.UsageMax));
        AddProperty("String Min/Max", Pair(caps.Range.StringMin, caps.Range.StringMax));
        AddProperty("Designator Min/Max", Pair(caps.Range.DesignatorMin, caps.Range.DesignatorMax));
        AddProperty("Data Index Min/Max", Pair(caps.Range.DataIndexMin, caps.Range.DataIndexMax));
    } else {
        AddProperty("Usage", Dec(caps.NotRange.Usage) + " [" + Hex(caps.NotRange.Usage, 4) + "h]");
        AddProperty("String", Dec(caps.NotRange.StringIndex));
        AddProperty("Designator", Dec(caps.NotRange.DesignatorIndex));
        AddProperty("Data Index", Dec(caps.NotRange.DataIndex));
    }
}

template void TfmConfig::ShowCaps(const HIDP_BUTTON_CAPS&);
template void TfmConfig::ShowCaps(const HIDP_VALUE_CAPS&);

void TfmConfig::AddProperty(const std::string& name, const std::string& value) {
    if (Trimmed(value).empty()) return;
    const HWND list = ListView1.Handle();
    if (!list) return;
    const int row = InsertRow(list, ListCount(list), name, -1, 0);
    SetCell(list, row, 1, value);
}

void TfmConfig::CheckBox1Click() {
    const bool open = CheckBox1.Send(BM_GETCHECK) == BST_CHECKED;
    if (open && !kwHid1->TkwBaseIO::Active()) {
        // The ring holds whole reports of the device about to open; nothing reads it now.
        TakeArrivedReports();
        uint32_t longest = 1;
        for (int k = 0; k < kwHid1->TkwBaseIO::DeviceCount(); ++k)
            if (const auto* record = dynamic_cast<const TkwHidDevice*>(kwHid1->Devices(k)))
                longest = std::max<uint32_t>(longest, record->Caps.InputReportByteLength);
        ring_.Prepare(longest);
        closed_.store(false);
    }
    try {
        kwHid1->TkwBaseIO::SetActive(open);
    } catch (const std::exception& e) {
        MessageBox(e.what(), "Error!", MB_OK | MB_ICONERROR);
    }
    CheckBox1.Send(BM_SETCHECK, kwHid1->TkwBaseIO::Active() ? BST_CHECKED : BST_UNCHECKED);
    ShowNodeInfo();
}

void TfmConfig::Button3Click() {
    try {
        TfmHidAction learn(this);
        learn.FDeviceIndex = -1;
        if (learn.ShowModal() == mrOk) {
            kwHid1->SetDeviceIndex(learn.FDeviceIndex);
            kwDeviceBox1Change(nullptr);
        }
    } catch (...) {
        // The selection stays.
    }
    UpdateSimpleLabels();
}

void TfmConfig::kwHid1Close(TObject* /*sender*/) noexcept {
    closed_.store(true);
    if (!wake_.exchange(true)) scheduler_->Post(logTask_);
}

void TfmConfig::kwHid1AfterReceive(TObject* /*sender*/, const uint8_t* buffer, uint32_t count) noexcept {
    // Full: the UI thread already has a wake-up on its way; the report is counted.
    if (ring_.Push(0, buffer, count) && !wake_.exchange(true)) scheduler_->Post(logTask_);
}

void TfmConfig::AppendReportLine(std::string& text, const uint8_t* buffer, uint32_t count) {
    static constexpr char digits[] = "0123456789ABCDEF";
    text += "HID Report is received: ";
    text += std::to_string(count);
    text += " bytes ";
    for (uint32_t k = 0; k < count; ++k) {
        text += digits[buffer[k] >> 4];
        text += digits[buffer[k] & 15];
        text += ' ';
    }
    text += "\r\n";
}

bool TfmConfig::TakeArrivedReports() {
    logText_.clear();
    bool any = false;
    ring_.Drain([this, &any](int32_t, const uint8_t* data, uint32_t count) {
        AppendReportLine(logText_, data, count);
        any = true;
    });
    if (const uint32_t dropped = ring_.TakeDropped()) {
        logText_ += "(" + std::to_string(dropped) + " reports came too fast to be shown)\r\n";
        any = true;
    }
    if (!logText_.empty()) {
        if (const HWND memo = Memo1.Handle()) {
            const auto end = static_cast<WPARAM>(::GetWindowTextLengthA(memo));
            ::SendMessageA(memo, EM_SETSEL, end, static_cast<LPARAM>(end));
            ::SendMessageA(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(logText_.c_str()));
        }
    }
    if (closed_.exchange(false)) {
        CheckBox1.Send(BM_SETCHECK, BST_UNCHECKED);
        any = true;
    }
    return any;
}

void TfmConfig::ShowArrivedReports() {
    TakeArrivedReports();
    // What comes next is shown by the timer, whose messages come after the user's input.
    logTimer_->SetEnabled(true);
}

void TfmConfig::logTimerTimer(TObject* /*sender*/) {
    if (TakeArrivedReports()) return;
    logTimer_->SetEnabled(false);
    // From here a new report wakes the UI thread again; one that came just before is
    // taken now, as its writer saw the wake-up still pending and posted nothing.
    wake_.exchange(false);
    if (TakeArrivedReports() && !wake_.exchange(true)) logTimer_->SetEnabled(true);
}

void RunConfiguration(THidProcessor& engine) {
    struct TInstance {
        TfmConfig* previous = fmConfig;
        ~TInstance() { fmConfig = previous; }
    } instance;
    TfmConfig dialog(nullptr);
    fmConfig = &dialog;
    dialog.FProcessor = &engine;
    dialog.ShowModal();
}
