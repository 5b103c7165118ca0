#include "ui/FrmHidAction.h"

#include <commctrl.h>

#include <algorithm>
#include <exception>

#include "engine/kwcrc.h"
#include "rtl/win32/module.h"

void (*TfmHidAction::OpenSeam)(TkwHid& port) = nullptr;
void (*TfmHidAction::ClaimSeam)(TObject* port) = nullptr;

TfmHidAction::TfmHidAction(TComponent* owner)
    : TForm(owner, IDD_HIDACTION), scheduler_(TUiScheduler::Current()) {
    timerProgress = std::make_unique<TTimer>(nullptr);
    timerProgress->SetEnabled(false);
    timerProgress->SetInterval(ProgressInterval);
    timerProgress->SetOnTimer(TNotifyEvent::Bind<&TfmHidAction::timerProgressTimer>(this));
    timerTimeout = std::make_unique<TTimer>(nullptr);
    timerTimeout->SetEnabled(false);
    timerTimeout->SetInterval(QuietInterval);
    timerTimeout->SetOnTimer(TNotifyEvent::Bind<&TfmHidAction::timerTimeoutTimer>(this));
    SetFont(IDC_HA_MESSAGE, 13, true);
    FormCreate();
}

TfmHidAction::~TfmHidAction() {
    // The ports' readers end before the ring and the task they reach go.
    ClosePorts();
    scheduler_->Withdraw(drain_);
    FormDestroy();
}

void TfmHidAction::FormCreate() {
    FAction = std::make_unique<THidAction>();
    FPorts.clear();
}

void TfmHidAction::FormDestroy() {
    FPorts.clear();
    FAction.reset();
}

void TfmHidAction::FormShow() {
    FAction->ResetSignatures();
    if (FAction->Code != 0)
        SetCaption("HID Action: " + FAction->ActionName());
    else
        SetCaption("Detection an active HID");
    lMessage.SetText(FAction->IsRepeatable() ? "Please PRESS and HOLD needed button on remote control"
                                             : "Please PRESS and RELEASE needed button on remote control");
    FAction->Pressed = true;
    listening_ = true;
    OpenPorts();
    pbTotal.Send(PBM_SETRANGE32, 0, ProgressMax);
    pbTotal.Send(PBM_SETSTEP, 1);
    pbTotal.Send(PBM_SETPOS, 0);
    timerProgress->SetEnabled(true);
}

void TfmHidAction::OpenPorts() {
    if (Animate1.Send(ACM_OPENA, reinterpret_cast<WPARAM>(ThisModule()), reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(IDR_BUSY))))
        Animate1.Send(ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF));
    int i = FDeviceIndex == -1 ? 0 : FDeviceIndex;
    for (;;) {
        auto port = std::make_unique<TkwHid>(nullptr);
        port->DeviceListRefresh();
        if (i >= port->TkwBaseIO::DeviceCount()) return;
        if (!ring_.Prepared()) {
            // Every report of a device has its input report length; the ring's slots
            // take the longest of all present devices.
            uint32_t longest = 1;
            for (int k = 0; k < port->TkwBaseIO::DeviceCount(); ++k)
                if (const auto* record = dynamic_cast<const TkwHidDevice*>(port->Devices(k)))
                    longest = std::max<uint32_t>(longest, record->Caps.InputReportByteLength);
            ring_.Prepare(longest, RingSlots);
        }
        port->SetDeviceIndex(i);
        port->SetTag(FDeviceIndex == -1 ? static_cast<intptr_t>(FPorts.size()) : FDeviceIndex);
        port->OnAfterReceive = TOnReceived::Bind<&TfmHidAction::kwHid1AfterReceive>(this);
        TkwHid* opened = port.get();
        FPorts.push_back(std::move(port));
        try {
            if (OpenSeam) OpenSeam(*opened);
            opened->TkwBaseIO::SetActive(true);
        } catch (const std::exception& e) {
            MessageBox(e.what(), "Error!", MB_OK | MB_ICONERROR);
            return;
        }
        if (FDeviceIndex != -1) return;
        if (++i >= opened->TkwBaseIO::DeviceCount()) return;
    }
}

void TfmHidAction::ClosePorts() {
    for (auto& port : FPorts) {
        port->TkwBaseIO::SetActive(false);  // returns after its reader ended
        port.reset();
    }
    FPorts.clear();
    Animate1.Send(ACM_STOP);
}

void TfmHidAction::kwHid1AfterReceive(TObject* com, const uint8_t* buffer, uint32_t received) noexcept {
    const auto port = static_cast<int32_t>(static_cast<TComponent*>(static_cast<TkwHid*>(com))->Tag());
    if (ring_.Push(port, buffer, received, ClaimSeam, com)) scheduler_->Post(drain_);
}

void TfmHidAction::DrainReports() {
    ring_.Drain([this](int32_t port, const uint8_t* data, uint32_t count) {
        if (listening_) ReportArrived(port, data, count);
    });
}

void TfmHidAction::ReportArrived(int32_t port, const uint8_t* buffer, uint32_t count) {
    timerTimeout->SetEnabled(false);
    for (uint32_t k = 0; k < count; ++k) FAction->AddByte(buffer[k], FAction->Pressed);
    FAction->DeviceIndex = port;
    timerTimeout->SetEnabled(true);
}

void TfmHidAction::timerProgressTimer(TObject* /*sender*/) {
    pbTotal.Send(PBM_STEPIT);
    if (pbTotal.Send(PBM_GETPOS) >= ProgressMax) {
        timerProgress->SetEnabled(false);
        SetModalResult(mrCancel);
    }
}

void TfmHidAction::timerTimeoutTimer(TObject* /*sender*/) {
    timerProgress->SetEnabled(false);
    timerTimeout->SetEnabled(false);
    if (FAction->IsRepeatable() && FAction->Pressed) {
        lMessage.SetText("Please RELEASE button on remote control now!");
        FAction->Pressed = false;
        pbTotal.Send(PBM_SETPOS, 0);
        timerProgress->SetEnabled(true);
    } else {
        SetModalResult(mrOk);
    }
}

void TfmHidAction::FormClose(int& result) {
    listening_ = false;
    timerProgress->SetEnabled(false);
    timerTimeout->SetEnabled(false);
    if (result == mrOk && FDeviceIndex == -1) FDeviceIndex = FAction->DeviceIndex;
    ClosePorts();
}
