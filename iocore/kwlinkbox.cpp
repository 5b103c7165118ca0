#include "iocore/kwlinkbox.h"

namespace {
// Marks our combo boxes, so that ParentCommand finds its component.
constexpr const char* BoxProp = "kwDeviceBox";
}  // namespace

TkwDeviceBox::TkwDeviceBox(TComponent* owner) : TComponent(owner) {}

TkwDeviceBox::~TkwDeviceBox() {
    if (kwLink_) {
        kwLink_->RemoveNotify(Listener());
        RemoveFreeNotification(kwLink_);
    }
    Attach(nullptr);
}

void TkwDeviceBox::Attach(HWND combo) {
    if (handle_ && ::IsWindow(handle_)) ::RemovePropA(handle_, BoxProp);
    handle_ = combo;
    if (!handle_) return;
    ::SetPropA(handle_, BoxProp, reinterpret_cast<HANDLE>(this));
    RefreshItems();
}

void TkwDeviceBox::SetLink(TkwBaseIO* port) {
    if (handle_) ::SendMessageA(handle_, CB_RESETCONTENT, 0, 0);
    SetItemIndex(-1);
    if (port) {
        TDeviceNames names;
        port->GetDeviceNames(&names);
        if (handle_)
            for (const auto& [name, device] : names) {
                const LRESULT i = ::SendMessageA(handle_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
                if (i >= 0) ::SendMessageA(handle_, CB_SETITEMDATA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(device));
            }
        SetItemIndex(port->DeviceIndex());
        port->AddNotify(Listener());  // adds nothing when registered already
        FreeNotification(port);
        if (kwLink_ && kwLink_ != port) {
            kwLink_->RemoveNotify(Listener());
            RemoveFreeNotification(kwLink_);
        }
    } else if (kwLink_) {
        kwLink_->RemoveNotify(Listener());
        RemoveFreeNotification(kwLink_);
    }
    kwLink_ = port;
}

void TkwDeviceBox::RefreshItems() { SetLink(kwLink_); }

void TkwDeviceBox::LinkNotify(TObject* /*sender*/, int event) {
    if (event == NotifyDeviceChanged) RefreshItems();
}

void TkwDeviceBox::Change() {
    if (!kwLink_) return;
    kwLink_->SetDeviceIndex(ItemIndex());  // the port's notification refills the box
    if (OnChange) OnChange(this);
}

int TkwDeviceBox::ItemCount() const {
    return handle_ ? static_cast<int>(::SendMessageA(handle_, CB_GETCOUNT, 0, 0)) : 0;
}

int TkwDeviceBox::ItemIndex() const {
    return handle_ ? static_cast<int>(::SendMessageA(handle_, CB_GETCURSEL, 0, 0)) : -1;
}

std::string TkwDeviceBox::Item(int index) const {
    if (!handle_) return {};
    const LRESULT n = ::SendMessageA(handle_, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (n < 0) return {};
    std::string s(static_cast<size_t>(n) + 1, '\0');
    const LRESULT got = ::SendMessageA(handle_, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(s.data()));
    s.resize(got < 0 ? 0 : static_cast<size_t>(got));
    return s;
}

TkwDevice* TkwDeviceBox::ItemObject(int index) const {
    if (!handle_) return nullptr;
    const LRESULT data = ::SendMessageA(handle_, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
    return data == CB_ERR ? nullptr : reinterpret_cast<TkwDevice*>(data);
}

void TkwDeviceBox::SetItemIndex(int index) {
    // An index outside the entries (negative included) shows no selection.
    if (handle_) ::SendMessageA(handle_, CB_SETCURSEL, index >= 0 && index < ItemCount() ? static_cast<WPARAM>(index) : static_cast<WPARAM>(-1), 0);
}

bool TkwDeviceBox::ParentCommand(WPARAM wParam, LPARAM lParam) {
    if (HIWORD(wParam) != CBN_SELCHANGE || !lParam) return false;
    auto* box = reinterpret_cast<TkwDeviceBox*>(::GetPropA(reinterpret_cast<HWND>(lParam), BoxProp));
    if (!box) return false;
    box->Change();
    return true;
}

void TkwDeviceBox::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation != TOperation::opRemove || component != kwLink_) return;
    kwLink_ = nullptr;
    SetItemIndex(-1);
    // The names stay; the records they carried go with the port.
    for (int i = 0; i < ItemCount(); ++i) ::SendMessageA(handle_, CB_SETITEMDATA, static_cast<WPARAM>(i), 0);
}
