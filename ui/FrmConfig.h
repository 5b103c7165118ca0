#pragma once
// The configuration dialog: maps device buttons to player actions on the engine's live
// action list, in a simple mode (six fixed actions) or an extended one (every action,
// through the action editor), and shows what the HID parser says about one device.
// Every edit changes the engine at once; only OK stores the selection and the mode,
// writes the settings file and restarts the device handlers.
//
// The page control shows four pages, each a child dialog of its own template; a page
// whose tab is hidden is not offered. The reports of the HID page's port reach the UI
// thread through a ring: the reading thread takes no lock and allocates nothing, and a
// flood is shown in batches paced by a timer, so that input is never starved.
#include <windows.h>
#include <commctrl.h>

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "engine/hidprocessor.h"
#include "hid/kwhid.h"
#include "iocore/kwlinkbox.h"
#include "rtl/timer.h"
#include "rtl/uischeduler.h"
#include "ui/form.h"
#include "ui/imagelist.h"
#include "ui/linklabel.h"
#include "ui/reportring.h"
#include "ui/resource.h"

class TfmConfig : public TForm {
public:
    // Client area in pixels at 96 dots per inch; the page control's height.
    static constexpr int ClientWidth = 480;
    static constexpr int ClientHeight = 279;
    static constexpr int PagesHeight = 241;
    // How often a flood of reports is shown, a batch at a time.
    static constexpr uint32_t LogInterval = 50;

    static constexpr const char* CaptionText = "Clickwell - Orlanvale";
    static constexpr const char* ProductAddress = "https://www.orlanvale.example/clickwell/";
    static constexpr const char* LibraryAddress = "https://www.orlanvale.example/kwlink/";

    enum TPageIndex { pgActions = 0, pgActionsExt = 1, pgHid = 2, pgAbout = 3, PageCount = 4 };

    explicit TfmConfig(TComponent* owner);
    ~TfmConfig() override;

    // The engine; set before the run, not owned.
    THidProcessor* FProcessor = nullptr;

    // --- main window
    TControl Pages{*this, IDC_CF_PAGES};
    TControl Button1{*this, IDOK};
    TControl Button2{*this, IDCANCEL};
    TControl lPowered{*this, IDC_CF_POWERED};
    // --- simple page
    TControl bActPlay{*this, IDC_CF_ACTPLAY};
    TControl bActNext{*this, IDC_CF_ACTNEXT};
    TControl bActPrev{*this, IDC_CF_ACTPREV};
    TControl bActVolUp{*this, IDC_CF_ACTVOLUP};
    TControl bActVolDown{*this, IDC_CF_ACTVOLDOWN};
    TControl bActMute{*this, IDC_CF_ACTMUTE};
    TControl Label2{*this, IDC_CF_LABEL2};
    TControl Label3{*this, IDC_CF_LABEL3};
    TControl Label4{*this, IDC_CF_LABEL4};
    TControl Label8{*this, IDC_CF_LABEL8};
    TControl Label9{*this, IDC_CF_LABEL9};
    TControl Label12{*this, IDC_CF_LABEL12};
    TControl bMore{*this, IDC_CF_MORE};
    // --- extended page
    TControl lvActions{*this, IDC_CF_ACTIONS};
    TControl bAdd{*this, IDC_CF_ADD};
    TControl bEdit{*this, IDC_CF_EDIT};
    TControl dDelete{*this, IDC_CF_DELETE};
    TControl bSimple{*this, IDC_CF_SIMPLE};
    // --- HID page
    TControl Label1{*this, IDC_CF_LABEL1};
    TControl Button3{*this, IDC_CF_AUTODETECT};
    TControl TreeView1{*this, IDC_CF_TREE};
    TControl ListView1{*this, IDC_CF_PROPERTIES};
    TControl CheckBox1{*this, IDC_CF_OPEN};
    TControl Memo1{*this, IDC_CF_MEMO};
    // --- About page
    TControl Label7{*this, IDC_CF_LABEL7};
    TControl lVer{*this, IDC_CF_VERSION};
    TControl Label14{*this, IDC_CF_LABEL14};
    TControl Label6{*this, IDC_CF_LABEL6};

    std::unique_ptr<TkwHid> kwHid1;
    std::unique_ptr<TkwDeviceBox> kwDeviceBox1;
    TImageList img16;

    // Pages and their tabs.
    HWND Page(int index) const noexcept { return pages_[static_cast<size_t>(index)].window; }
    bool TabVisible(int index) const noexcept { return pages_[static_cast<size_t>(index)].tabVisible; }
    void SetTabVisible(int index, bool visible);
    int ActivePage() const noexcept { return activePage_; }
    void SetActivePage(int index);

    // --- simple and extended pages
    void UpdateSimpleLabels();
    void LearnAction(THidAction* action);
    void SetExtendedMode(bool extended);
    void FillActionList();
    void bActPlayClick() { SimpleButtonClick(1); }
    void bActNextClick() { SimpleButtonClick(2); }
    void bActPrevClick() { SimpleButtonClick(3); }
    void bActVolUpClick() { SimpleButtonClick(5); }
    void bActVolDownClick() { SimpleButtonClick(6); }
    void bActMuteClick() { SimpleButtonClick(13); }
    void bMoreClick() { SetExtendedMode(true); }
    void bSimpleClick() { SetExtendedMode(false); }
    void pgActionsExtShow() { FillActionList(); }
    void bAddClick();
    void bEditClick();
    void dDeleteClick();
    // The text colour of a cell of lvActions; CLR_DEFAULT for the default drawing.
    COLORREF lvActionsCustomDrawSubItem(const THidAction* action, int subItem) const;
    // The row's action; null when the row does not exist.
    THidAction* RowAction(int row) const;
    int SelectedRow() const;
    void lPoweredClick();
    void Label6Click();
    void lPoweredMouseEnter(TObject* sender);
    void lPoweredMouseLeave(TObject* sender);
    void Label7DblClick();
    void WMDeviceChange(WPARAM wParam, LPARAM lParam);

    // --- HID page
    void kwDeviceBox1Change(TObject* sender);
    void FillCapsTree();
    void TreeView1Change();
    void ShowNodeInfo();
    void ShowDeviceInfo();
    template <typename TCaps>
    void ShowCaps(const TCaps& caps);
    void AddProperty(const std::string& name, const std::string& value);
    void CheckBox1Click();
    void Button3Click();
    // Reading thread (or the thread that closes the port).
    void kwHid1Close(TObject* sender) noexcept;
    void kwHid1AfterReceive(TObject* sender, const uint8_t* buffer, uint32_t count) noexcept;
    // The report log line of one report, as kwHid1AfterReceive shows it.
    static void AppendReportLine(std::string& text, const uint8_t* buffer, uint32_t count);

    // Test seams; the plug-ins use the shell and the speaker.
    static void (*ShellOpenCall)(HWND owner, const char* address);
    static void (*BeepCall)();

protected:
    void FormCreate();
    void FormDestroy();
    void CreateChildren() override;
    void FormShow() override;
    void FormClose(int& result) override;
    bool Command(int id, int code, HWND control) override;
    bool Notify(const NMHDR& header, LRESULT& result) override;
    void DrawItem(const DRAWITEMSTRUCT& item) override;
    bool WindowMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    struct TPage {
        const char* caption;
        int templateId;
        HWND window = nullptr;
        bool tabVisible = true;
    };
    class TLogTask : public TUiTask {
    public:
        explicit TLogTask(TfmConfig& owner) : owner_(owner) {}
        void Run() override { owner_.ShowArrivedReports(); }

    private:
        TfmConfig& owner_;
    };

    void SimpleButtonClick(TActionCode code);
    // Runs the action editor on a copy of action; true when OK copied its result back.
    bool EditAction(THidAction& action);
    void Layout();
    void RebuildTabs();
    void MakeColumns();
    // UI thread: shows what the ring holds, then paces the rest by the log timer.
    void ShowArrivedReports();
    void logTimerTimer(TObject* sender);
    // UI thread: appends the waiting lines and carries out a close; true when there was any.
    bool TakeArrivedReports();

    std::array<TPage, PageCount> pages_{{{"Registered Actions", IDD_CFG_ACTIONS},
                                         {"Actions (Extended Mode)", IDD_CFG_ACTIONSEXT},
                                         {"HID Info", IDD_CFG_HID},
                                         {"A&bout", IDD_CFG_ABOUT}}};
    int activePage_ = pgActions;
    bool showing_ = false;
    TLinkLabel linkPowered_;
    TLinkLabel linkProduct_;
    std::vector<std::string> deviceNames_;

    std::shared_ptr<TUiScheduler> scheduler_;
    TReportRing ring_;
    std::atomic<bool> wake_{false};
    std::atomic<bool> closed_{false};
    std::unique_ptr<TTimer> logTimer_;
    std::string logText_;  // UI thread: the batch being appended, its room kept
    TLogTask logTask_{*this};
};

// The dialog while a host entry runs it, else null.
extern TfmConfig* fmConfig;

// What the host entries do: create the dialog without an owner, hand it the engine, run
// it modally and free it. Errors reach the caller.
void RunConfiguration(THidProcessor& engine);
