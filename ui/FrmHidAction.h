#pragma once
// The learning dialog: records what one button of a HID device sends, folding the
// reports of a press burst (and, for a repeatable action, of a release burst) into
// the signatures of a working action, and notes the device that sent them.
//
// Reports arrive on the reading threads of its ports, one thread per port. Each
// report is copied into one fixed ring shared by all ports, which keeps their
// arrival order, and a task of the dialog's posts itself to the UI thread; there the
// reports are folded in ring order, between the timers' expiries. The reading thread
// takes no lock and allocates nothing.
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/hidaction.h"
#include "hid/kwhid.h"
#include "rtl/timer.h"
#include "rtl/uischeduler.h"
#include "ui/form.h"
#include "ui/reportring.h"
#include "ui/resource.h"

class TfmHidAction : public TForm {
public:
    static constexpr uint32_t ProgressInterval = 1000;
    static constexpr uint32_t QuietInterval = 500;
    static constexpr int ProgressMax = 10;
    static constexpr uint32_t RingSlots = 256;

    explicit TfmHidAction(TComponent* owner);
    ~TfmHidAction() override;

    TControl lMessage{*this, IDC_HA_MESSAGE};
    TControl Animate1{*this, IDC_HA_ANIMATE};
    TControl pbTotal{*this, IDC_HA_TOTAL};
    TControl Label2{*this, IDC_HA_LABEL2};
    std::unique_ptr<TTimer> timerProgress;
    std::unique_ptr<TTimer> timerTimeout;

    std::unique_ptr<THidAction> FAction;
    int32_t FDeviceIndex = -1;
    std::vector<std::unique_ptr<TkwHid>> FPorts;

    // Reading thread of any port: hands the report to the UI thread.
    void kwHid1AfterReceive(TObject* com, const uint8_t* buffer, uint32_t received) noexcept;
    void timerProgressTimer(TObject* sender);
    void timerTimeoutTimer(TObject* sender);

    // Test seams, null in the plug-ins; set them before the run, clear them after it.
    // Runs just before each port opens.
    static void (*OpenSeam)(TkwHid& port);
    // Runs on a reading thread between taking a slot of the ring and publishing it.
    static void (*ClaimSeam)(TObject* port);

    // Reports the ring had no room for (the UI thread fell that far behind).
    uint32_t DroppedReports() const noexcept { return ring_.Dropped(); }

protected:
    void FormCreate();
    void FormShow() override;
    void FormClose(int& result) override;
    void FormDestroy();

private:
    class TDrain : public TUiTask {
    public:
        explicit TDrain(TfmHidAction& owner) : owner_(owner) {}
        void Run() override { owner_.DrainReports(); }

    private:
        TfmHidAction& owner_;
    };

    void OpenPorts();
    void ClosePorts();
    // UI thread: folds what the ring holds, in arrival order.
    void DrainReports();
    void ReportArrived(int32_t port, const uint8_t* buffer, uint32_t count);
    int PortIndex(TObject* com) const noexcept;

    std::shared_ptr<TUiScheduler> scheduler_;
    TReportRing ring_;
    bool listening_ = false;  // UI thread: from showing to closing
    TDrain drain_{*this};
};
