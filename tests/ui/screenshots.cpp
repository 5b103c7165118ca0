// Saves a picture of each dialog as a person sees it, for a look by eye: run under a
// real display (tools/ui-screenshots.sh). Usage: ui_screenshots.exe <folder>
//
// Runs on the fake HID platform, in a private Wine prefix (KW_WINE_PRIVATE_PREFIX=1,
// WINEDLLOVERRIDES=hid,setupapi,cfgmgr32=n), with three devices named as real ones are,
// so that the device lists and the HID page show what a user's machine would.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "engine/hidprocessor.h"
#include "rtl/virtualclock.h"
#include "tests/fakeos/fakeos.h"
#include "tests/support/window_picture.h"
#include "ui/FrmConfig.h"
#include "ui/FrmHidAction.h"
#include "ui/FrmHidActionEdit.h"

namespace {
std::string folder = ".";
std::function<void(TForm&)> prepare;
std::string current;
bool allSaved = true;

void Capture(HWND wnd, const std::string& name) {
    RECT client{};
    GetClientRect(wnd, &client);
    const TWindowPicture picture = CaptureWindow(wnd);
    const bool saved = !picture.Blank() && WritePng(folder + "\\" + name + ".png", picture);
    allSaved = allSaved && saved;
    std::printf("%s %dx%d, client area %ldx%ld: %s\n", name.c_str(), picture.Width, picture.Height, client.right,
                client.bottom, saved ? "saved" : picture.Blank() ? "FAILED (nothing was drawn)" : "FAILED");
}

void Pump(int ms) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    while (GetTickCount() < end) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        Sleep(10);
    }
}

void Shown(TForm& form) {
    if (prepare) prepare(form);
    // The modal loop shows the dialog once its queue is empty; this runs before that.
    ShowWindow(form.Handle(), SW_SHOW);
    RedrawWindow(form.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    Pump(600);
    Capture(form.Handle(), current);
    form.Close();
}

// --- the devices

HIDP_BUTTON_CAPS ButtonRange(USAGE page, UCHAR reportId, USAGE first, USAGE last, USHORT firstIndex) {
    HIDP_BUTTON_CAPS c{};
    c.UsagePage = page;
    c.ReportID = reportId;
    c.BitField = 0x00;  // an array of usages
    c.IsRange = TRUE;
    c.IsAbsolute = TRUE;
    c.Range.UsageMin = first;
    c.Range.UsageMax = last;
    c.Range.DataIndexMin = firstIndex;
    c.Range.DataIndexMax = static_cast<USHORT>(firstIndex + last - first);
    return c;
}
HIDP_VALUE_CAPS Value(USAGE page, UCHAR reportId, USAGE usage, USHORT index, LONG max) {
    HIDP_VALUE_CAPS c{};
    c.UsagePage = page;
    c.ReportID = reportId;
    c.BitField = 0x02;  // data, variable, absolute
    c.IsAbsolute = TRUE;
    c.BitSize = 8;
    c.ReportCount = 1;
    c.LogicalMax = max;
    c.NotRange.Usage = usage;
    c.NotRange.DataIndex = index;
    return c;
}

// A remote's receiver: consumer-control keys in report 1, a numeric key pad in report 2.
const HIDP_BUTTON_CAPS RemoteButtons[] = {ButtonRange(0x0C, 1, 0x000, 0x23C, 0), ButtonRange(0x09, 2, 1, 10, 0x23D)};
const HIDP_VALUE_CAPS RemoteValues[] = {Value(0x0C, 3, 0x0E0, 0x247, 100)};  // volume
// A keyboard's extra keys: the consumer page, and its lock lights.
const HIDP_BUTTON_CAPS KeyboardButtons[] = {ButtonRange(0x0C, 1, 0x000, 0x29C, 0)};
const HIDP_BUTTON_CAPS KeyboardLights[] = {ButtonRange(0x08, 2, 1, 3, 0)};
// A game pad: twelve buttons and two axes.
const HIDP_BUTTON_CAPS PadButtons[] = {ButtonRange(0x09, 0, 1, 12, 0)};
const HIDP_VALUE_CAPS PadAxes[] = {Value(0x01, 0, 0x30, 12, 255), Value(0x01, 0, 0x31, 13, 255)};

HIDP_CAPS Caps(USAGE page, USAGE usage, USHORT inputLength, USHORT inButtons, USHORT inValues, USHORT outButtons) {
    HIDP_CAPS c{};
    c.UsagePage = page;
    c.Usage = usage;
    c.InputReportByteLength = inputLength;
    c.OutputReportByteLength = outButtons ? 2 : 0;
    c.NumberInputButtonCaps = inButtons;
    c.NumberInputValueCaps = inValues;
    c.NumberOutputButtonCaps = outButtons;
    return c;
}

int AddDevices() {
    KwFakeDevice remote{};
    remote.Product = L"USB Receiver for Remote Control";
    remote.Manufacturer = L"Orlanvale";
    remote.VendorID = 0x1209;
    remote.ProductID = 0x4B57;
    remote.VersionNumber = 0x0110;
    remote.Caps = Caps(0x0C, 0x01, 4, 2, 1, 0);
    remote.ButtonCaps[0] = RemoteButtons;
    remote.ValueCaps[0] = RemoteValues;
    remote.Description = "HID-compliant consumer control device";
    remote.Service = "HidUsb";
    remote.Mfg = "(Standard system devices)";
    const int id = KwFake_AddDevice(&remote);

    KwFakeDevice keyboard{};
    keyboard.Product = L"Multimedia Keyboard";
    keyboard.Manufacturer = L"Tessary";
    keyboard.VendorID = 0x1C4F;
    keyboard.ProductID = 0x0026;
    keyboard.VersionNumber = 0x0200;
    keyboard.Caps = Caps(0x0C, 0x01, 3, 1, 0, 1);
    keyboard.ButtonCaps[0] = KeyboardButtons;
    keyboard.ButtonCaps[1] = KeyboardLights;
    keyboard.Description = "HID Keyboard Device";
    keyboard.Service = "kbdhid";
    KwFake_AddDevice(&keyboard);

    KwFakeDevice pad{};
    pad.Product = L"Game Pad";
    pad.Manufacturer = L"Brightfold";
    pad.VendorID = 0x0810;
    pad.ProductID = 0x0001;
    pad.VersionNumber = 0x0106;
    pad.Caps = Caps(0x01, 0x05, 5, 1, 2, 0);
    pad.ButtonCaps[0] = PadButtons;
    pad.ValueCaps[0] = PadAxes;
    pad.Description = "HID-compliant game controller";
    pad.Service = "HidUsb";
    KwFake_AddDevice(&pad);
    return id;
}

int ReportLines(const TfmConfig& config) {
    const std::string text = config.Memo1.Text();
    int n = 0;
    for (size_t at = text.find("HID Report"); at != std::string::npos; at = text.find("HID Report", at + 1)) ++n;
    return n;
}

// Sends a report and has the dialog show it: the reading thread's post, then the log
// timer for what came after it. The cap only stops a broken run.
bool ShowReport(TVirtualClock& clock, TfmConfig& config, int device, std::vector<uint8_t> report) {
    const int before = ReportLines(config);
    if (KwFake_SendReport(device, report.data(), static_cast<DWORD>(report.size())) < 1) return false;
    for (int i = 0; i < 10000; ++i) {
        if (clock.HasPosted()) clock.RunPending();
        clock.Advance(TfmConfig::LogInterval);
        if (ReportLines(config) > before) return true;
        Sleep(1);
    }
    return false;
}

HTREEITEM Node(HWND tree, HTREEITEM item, UINT relation) {
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

std::string NodeText(HWND tree, HTREEITEM item) {
    char text[64] = {};
    TVITEMA data{};
    data.mask = TVIF_TEXT;
    data.hItem = item;
    data.pszText = text;
    data.cchTextMax = sizeof text;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&data));
    return text;
}

// Selects a node by its caption as a click would, its group opened and the focus in the
// tree; false when absent.
bool SelectNode(HWND tree, const std::string& caption) {
    SetFocus(tree);
    for (HTREEITEM group = Node(tree, nullptr, TVGN_ROOT); group; group = Node(tree, group, TVGN_NEXT)) {
        if (NodeText(tree, group) == caption) return SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(group));
        for (HTREEITEM child = Node(tree, group, TVGN_CHILD); child; child = Node(tree, child, TVGN_NEXT))
            if (NodeText(tree, child) == caption) {
                SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(group));
                return SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(child));
            }
    }
    return false;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) folder = argv[1];
    CreateDirectoryA(folder.c_str(), nullptr);
    if (!KwFake_InstallAll()) {
        std::fprintf(stderr,
                     "cannot install the fake HID platform (error %lu): it needs a private Wine prefix "
                     "(KW_WINE_PRIVATE_PREFIX=1)\n",
                     GetLastError());
        return 1;
    }
    const int remote = AddDevices();
    // The pointer rests in a corner: in the middle of the screen it would light up what
    // lies under it in the centred dialogs.
    SetCursorPos(0, 0);
    const auto clock = TVirtualClock::Install();  // the countdowns stand still
    TForm::ShownSeam = &Shown;
    TForm::MessageBoxCall = [](HWND, const char*, const char*, UINT) { return IDOK; };

    {
        current = "learning-volume-up";
        TfmHidAction learn(nullptr);
        learn.FAction->Code = 5;
        prepare = [&](TForm&) { clock->Advance(3000); };
        learn.ShowModal();
    }
    {
        current = "learning-release";
        TfmHidAction learn(nullptr);
        learn.FAction->Code = 7;
        prepare = [&](TForm& f) {
            static_cast<TfmHidAction&>(f).lMessage.SetText("Please RELEASE button on remote control now!");
            clock->Advance(1000);
        };
        learn.ShowModal();
    }
    {
        current = "learning-detection";
        TfmHidAction learn(nullptr);
        prepare = nullptr;
        learn.ShowModal();
    }
    const std::vector<std::string> names{"USB Receiver for Remote Control", "Multimedia Keyboard", "Game Pad"};
    {
        current = "editor-unassigned";
        TfmActionEdit edit(nullptr);
        edit.FDeviceNames = &names;
        edit.FSupportedActions = 0x27FF;
        prepare = nullptr;
        edit.ShowModal();
    }
    {
        current = "editor-assigned";
        TfmActionEdit edit(nullptr);
        edit.FDeviceNames = &names;
        edit.FSupportedActions = 0x37FF;
        THidAction a;
        a.Code = 6;
        a.PressSignature = 0x12345678;
        a.DeviceIndex = 0;
        edit.SetAction(&a);
        edit.ShowModal();
    }
    {
        // Learned on the remote mostly, a few keys of the keyboard and the pad; Previous and
        // Shuffle not yet.
        THidProcessor engine;
        engine.HidIndex = 0;
        const struct {
            TActionCode code;
            int device;
        } actions[] = {{1, 0}, {2, 0}, {3, -1}, {4, 0}, {5, 1}, {6, 1}, {13, 0}, {7, 2}, {8, 2}, {14, -1}};
        for (const auto& a : actions) {
            auto* action = new THidAction;
            action->Code = a.code;
            if (a.device >= 0) action->PressSignature = 0x1000u + a.code;
            action->DeviceIndex = a.device;
            engine.Add(action);
        }
        // The HID page, shown by a double click on the About page's title, with the
        // remote's port open and a few of its reports logged.
        const auto hidPage = [&](const std::string& node) {
            return [&clock, remote, node](TForm& f) {
                auto& c = static_cast<TfmConfig&>(f);
                c.SetTabVisible(TfmConfig::pgHid, true);
                c.SetActivePage(TfmConfig::pgHid);
                SendMessageA(c.CheckBox1.Handle(), BM_CLICK, 0, 0);
                // Play/Pause pressed and released, Volume Up pressed: as many lines as show.
                const std::vector<std::vector<uint8_t>> presses{{1, 0xCD, 0x00}, {1, 0x00, 0x00}, {1, 0xE9, 0x00}};
                bool shown = SendMessageA(c.CheckBox1.Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
                for (const auto& report : presses) shown = shown && ShowReport(*clock, c, remote, report);
                if (!shown) std::printf("%s: the remote's reports did not show\n", current.c_str());
                if (!SelectNode(c.TreeView1.Handle(), node)) std::printf("%s: no node %s\n", current.c_str(), node.c_str());
            };
        };
        const struct {
            const char* name;
            bool extended;
            std::function<void(TForm&)> prepare;
        } pages[] = {
            {"config-simple", false, nullptr},
            {"config-extended", true, nullptr},
            {"config-hid", false, hidPage("General HID Info")},
            {"config-hid-button", false, hidPage("Input Button 0")},
            {"config-about", false, [](TForm& f) { static_cast<TfmConfig&>(f).SetActivePage(TfmConfig::pgAbout); }},
        };
        for (const auto& page : pages) {
            current = page.name;
            engine.Mode = page.extended;
            TfmConfig config(nullptr);
            config.FProcessor = &engine;
            prepare = page.prepare;
            config.ShowModal();
        }
    }
    return allSaved ? 0 : 1;
}
