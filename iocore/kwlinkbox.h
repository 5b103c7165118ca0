#pragma once
// The device selector box: a drop-down list bound to a port, listing its devices by
// name with the port's selected one, and making the user's pick the port's selection.
// It refills itself whenever the port reports a changed device list or selection.
// UI thread only.
#include <windows.h>

#include "iocore/kwclasses.h"
#include "rtl/component.h"
#include "rtl/events.h"

class TkwDeviceBox : public TComponent {
public:
    explicit TkwDeviceBox(TComponent* owner);
    ~TkwDeviceBox() override;

    // The combo box the component drives, e.g. a control of a dialog template; made
    // with CBS_DROPDOWNLIST, so that the user can only pick. Null detaches.
    void Attach(HWND combo);
    HWND Handle() const noexcept { return handle_; }

    TkwBaseIO* kwLink() const noexcept { return kwLink_; }
    void SetLink(TkwBaseIO* port);
    // Stored with the control; it has no effect.
    bool ResetOnChanged = true;
    TNotifyEvent OnChange;

    void RefreshItems();
    void LinkNotify(TObject* sender, int event);
    // The user picked an entry.
    virtual void Change();

    int ItemCount() const;
    int ItemIndex() const;
    std::string Item(int index) const;
    TkwDevice* ItemObject(int index) const;

    // For the window the box sits on, from its WM_COMMAND: a pick in one of our boxes
    // runs its Change. True when the message was such a pick.
    static bool ParentCommand(WPARAM wParam, LPARAM lParam);

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    TPortNotifyEvent Listener() { return TPortNotifyEvent::Bind<&TkwDeviceBox::LinkNotify>(this); }
    void SetItemIndex(int index);

    HWND handle_ = nullptr;
    TkwBaseIO* kwLink_ = nullptr;
};
