#pragma once
// The action editor: the player action of one action and, through the learning
// dialog, its button and device. It works on a copy of the action.
#include <memory>
#include <string>
#include <vector>

#include "engine/hidaction.h"
#include "ui/form.h"
#include "ui/resource.h"

class TfmActionEdit : public TForm {
public:
    explicit TfmActionEdit(TComponent* owner);
    ~TfmActionEdit() override;

    TControl Label1{*this, IDC_AE_LABEL1};
    TComboBox ePlayerAction{*this, IDC_AE_PLAYERACTION};
    TControl Label2{*this, IDC_AE_LABEL2};
    TComboBox eActiveHid{*this, IDC_AE_ACTIVEHID};
    TControl Label3{*this, IDC_AE_LABEL3};
    TControl eStatus{*this, IDC_AE_STATUS};
    TControl bAssign{*this, IDC_AE_ASSIGN};
    TControl Bevel1{*this, IDC_AE_BEVEL1};
    TControl bOK{*this, IDOK};
    TControl bCancel{*this, IDCANCEL};

    std::unique_ptr<THidAction> FAction;
    TActionSet FSupportedActions = AllActions;
    // Borrowed from the caller: one name per device, in device-index order.
    const std::vector<std::string>* FDeviceNames = nullptr;

    void SetAction(const THidAction* action);
    void UpdateStatus();
    void ePlayerActionChange();
    void bAssignClick();

protected:
    void FormCreate();
    void FormDestroy();
    void FormShow() override;
    bool Command(int id, int code, HWND control) override;
};
