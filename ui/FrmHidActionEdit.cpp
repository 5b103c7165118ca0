#include "ui/FrmHidActionEdit.h"

#include "ui/FrmHidAction.h"

TfmActionEdit::TfmActionEdit(TComponent* owner) : TForm(owner, IDD_ACTIONEDIT) {
    SetFont(IDC_AE_STATUS, 0, true);
    SetBackColor(IDC_AE_STATUS, COLOR_INFOBK);
    FormCreate();
}

TfmActionEdit::~TfmActionEdit() { FormDestroy(); }

void TfmActionEdit::FormCreate() { FAction = std::make_unique<THidAction>(); }

void TfmActionEdit::FormDestroy() { FAction.reset(); }

void TfmActionEdit::SetAction(const THidAction* action) {
    if (action) FAction->Assign(action);
}

void TfmActionEdit::FormShow() {
    eActiveHid.Clear();
    eActiveHid.Add("Autodetect!");
    if (FDeviceNames)
        for (const std::string& name : *FDeviceNames) eActiveHid.Add(name);
    ePlayerAction.Clear();
    for (unsigned code = 0; code < ActionNames.size(); ++code) {
        if (!ActionInSet(FSupportedActions, code)) continue;
        const int i = ePlayerAction.Add(std::string(ActionNames[code]), static_cast<LPARAM>(code));
        if (code == FAction->Code) ePlayerAction.SetItemIndex(i);
    }
    UpdateStatus();
}

void TfmActionEdit::UpdateStatus() {
    const int entry = FAction->DeviceIndex + 1;
    eActiveHid.SetItemIndex(entry >= 0 && entry < eActiveHid.Count() ? entry : -1);
    if (FAction->IsAssigned()) {
        eStatus.SetText("Assigned");
        SetTextColor(IDC_AE_STATUS, RGB(0, 128, 0));
    } else {
        eStatus.SetText("Unassigned");
        SetTextColor(IDC_AE_STATUS, RGB(255, 0, 0));
    }
}

void TfmActionEdit::ePlayerActionChange() {
    const int i = ePlayerAction.ItemIndex();
    if (i >= 0) FAction->Code = static_cast<TActionCode>(ePlayerAction.Data(i));
}

void TfmActionEdit::bAssignClick() {
    if (FAction->Code == 0) {
        MessageBox("Please select Action Type before ...", "Unknown Action", MB_OK | MB_ICONWARNING);
        return;
    }
    try {
        TfmHidAction learn(this);
        learn.FDeviceIndex = eActiveHid.ItemIndex() - 1;
        learn.FAction->Assign(FAction.get());
        if (learn.ShowModal() == mrOk)
            FAction->Assign(learn.FAction.get());
        else
            FAction->ResetSignatures();
    } catch (...) {
        // Shown to nobody: the working action keeps what it held.
    }
    UpdateStatus();
}

bool TfmActionEdit::Command(int id, int code, HWND control) {
    if (id == IDC_AE_PLAYERACTION && code == CBN_SELCHANGE) {
        ePlayerActionChange();
        return true;
    }
    if (id == IDC_AE_ASSIGN && code == BN_CLICKED) {
        bAssignClick();
        return true;
    }
    return TForm::Command(id, code, control);
}
