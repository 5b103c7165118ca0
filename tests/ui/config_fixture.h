#pragma once
// What the configuration dialog's tests share: an engine that records the commands it
// would send, on the real HID ports of the fake platform, its settings file in the test's
// own prefix, the dialog run as the host entries run it, and readers of its lists.
#include <windows.h>
#include <commctrl.h>

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/hidprocessor.h"
#include "hid/kwhid.h"
#include "players/HidProcessorWinamp.h"
#include "tests/ui/ui_fixture.h"
#include "ui/FrmConfig.h"

class TRecordingEngine : public THidProcessor {
public:
    TRecordingEngine() { SupportedActions = TWinampHidProcessor::WinampActions; }
    void DoCommand(TActionCode code) override { Commands.push_back(code); }
    std::vector<TActionCode> Commands;
};

class ConfigTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        UseHidPortsForEngine();
        engine = std::make_unique<TRecordingEngine>();
        engine->FileName = "kwhid-uitest.ini";
        ::DeleteFileA(engine->DefaultSettingsPath().c_str());
        opened().clear();
        beeps() = 0;
        shellOpen_ = TfmConfig::ShellOpenCall;
        beep_ = TfmConfig::BeepCall;
        TfmConfig::ShellOpenCall = [](HWND, const char* address) { opened().push_back(address); };
        TfmConfig::BeepCall = [] { ++beeps(); };
    }
    void TearDown() override {
        if (engine) engine->StopHandlers();
        engine.reset();
        TfmConfig::ShellOpenCall = shellOpen_;
        TfmConfig::BeepCall = beep_;
        UiTest::TearDown();
    }

    // Runs the dialog on the engine as the host entries do; script runs once it shows.
    void RunDialog(std::function<void(TfmConfig&)> script) {
        WhenShown([script](TForm& form) { script(static_cast<TfmConfig&>(form)); });
        RunConfiguration(*engine);
    }
    // A click on a button or check box as the user makes it.
    static void ClickOn(const TControl& control) { ::SendMessageA(control.Handle(), BM_CLICK, 0, 0); }
    // Inside a learning dialog: one press of a button and the quiet time that ends it.
    void PressAndWait(int device, std::vector<uint8_t> report) {
        Press(device, std::move(report));
        clock->Advance(500);
    }

    // The settings file as the engine wrote it; empty when there is none.
    std::string SettingsFile() const {
        std::ifstream in(engine->DefaultSettingsPath(), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // The cells of a report-style list view, row by row.
    static std::vector<std::vector<std::string>> Rows(HWND list) {
        const HWND header = reinterpret_cast<HWND>(::SendMessageA(list, LVM_GETHEADER, 0, 0));
        const int columns = static_cast<int>(::SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
        std::vector<std::vector<std::string>> rows;
        const int n = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        for (int r = 0; r < n; ++r) {
            std::vector<std::string> row;
            for (int c = 0; c < columns; ++c) {
                char text[256] = {};
                LVITEMA item{};
                item.iSubItem = c;
                item.pszText = text;
                item.cchTextMax = sizeof text;
                ::SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(r), reinterpret_cast<LPARAM>(&item));
                row.emplace_back(text);
            }
            rows.push_back(std::move(row));
        }
        return rows;
    }
    // The image a row shows; I_IMAGENONE (-2) for none.
    static int RowImage(HWND list, int row) {
        LVITEMA item{};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        ::SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        return item.iImage;
    }
    static void SelectRow(HWND list, int row) {
        LVITEMA state{};
        state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
        ::SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
    }
    // The captions of the tabs the page control offers, in order.
    static std::vector<std::string> Tabs(const TfmConfig& config) {
        std::vector<std::string> tabs;
        const HWND control = config.Pages.Handle();
        const int n = static_cast<int>(::SendMessageA(control, TCM_GETITEMCOUNT, 0, 0));
        for (int k = 0; k < n; ++k) {
            char text[64] = {};
            TCITEMA item{};
            item.mask = TCIF_TEXT;
            item.pszText = text;
            item.cchTextMax = sizeof text;
            ::SendMessageA(control, TCM_GETITEMA, static_cast<WPARAM>(k), reinterpret_cast<LPARAM>(&item));
            tabs.emplace_back(text);
        }
        return tabs;
    }
    // A learned action as the settings file and the engine hold it.
    static THidAction* Learned(TActionCode code, uint32_t press, int device) {
        auto* a = new THidAction;
        a->Code = code;
        a->PressSignature = press;
        a->DeviceIndex = device;
        return a;
    }

    static std::vector<std::string>& opened() {
        static std::vector<std::string> o;
        return o;
    }
    static int& beeps() {
        static int b = 0;
        return b;
    }

    std::unique_ptr<TRecordingEngine> engine;

private:
    void (*shellOpen_)(HWND, const char*) = nullptr;
    void (*beep_)() = nullptr;
};
