#pragma once
// What the dialog tests share: the fake HID platform with devices made to measure, a
// virtual clock for the dialogs' timers, message boxes recorded instead of shown, and
// scripts that run inside a dialog's modal loop once it shows.
#include <windows.h>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/kwcrc.h"
#include "rtl/virtualclock.h"
#include "tests/fakeos/fakeos.h"
#include "tests/hid/bindings_fixture.h"
#include "ui/form.h"

struct TShownBox {
    std::string text, caption;
    UINT type;
};

class UiTest : public TBindingTest {
protected:
    void SetUp() override {
        TBindingTest::SetUp();
        clock = TVirtualClock::Install();
        boxes().clear();
        scripts().clear();
        TForm::MessageBoxCall = &RecordBox;
        TForm::ShownSeam = &RunScript;
    }
    void TearDown() override {
        TForm::ShownSeam = nullptr;
        EXPECT_TRUE(scripts().empty()) << "a dialog the test expected did not show";
        scripts().clear();
        clock.reset();
        TBindingTest::TearDown();
    }

    static HIDP_CAPS Caps(USHORT inputLength) {
        HIDP_CAPS caps{};
        caps.UsagePage = 0x0C;
        caps.Usage = 1;
        caps.InputReportByteLength = inputLength;
        return caps;
    }
    static int AddDevice(const wchar_t* product, DWORD access = kwfaReadWrite, USHORT inputLength = 8) {
        KwFakeDevice d{};
        d.Product = product;
        d.VendorID = 0x1234;
        d.ProductID = 0x5678;
        d.Caps = Caps(inputLength);
        d.Access = access;
        d.Description = "HID-compliant device";
        return KwFake_AddDevice(&d);
    }

    // The next dialog to show runs script inside its modal loop.
    static void WhenShown(std::function<void(TForm&)> script) { scripts().push_back(std::move(script)); }

    // Sends one report and runs what its reading thread handed to the UI thread.
    void Press(int device, std::vector<uint8_t> report) {
        ASSERT_GE(KwFake_SendReport(device, report.data(), static_cast<DWORD>(report.size())), 1);
        // The reading thread's post is the event; the cap only stops a broken run.
        for (int i = 0; i < 10000 && !clock->HasPosted(); ++i) Sleep(1);
        ASSERT_TRUE(clock->HasPosted()) << "no report reached the UI thread";
        clock->RunPending();
    }
    // The signature of reports as the port delivers them: padded to the report length.
    static uint32_t SignatureOf(std::vector<std::vector<uint8_t>> reports, size_t length = 8,
                                uint32_t start = SignatureNone) {
        for (auto& r : reports) {
            r.resize(length, 0);
            start = UpdateSignature(r.data(), r.size(), start);
        }
        return start;
    }

    // Keys as a user types them, through the dialog manager of the modal loop.
    static void Key(HWND target, WPARAM vk) {
        PostMessageA(target, WM_KEYDOWN, vk, 1);
        PostMessageA(target, WM_KEYUP, vk, 0xC0000001);
    }
    static void Pump(HWND dialog) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (!IsDialogMessageA(dialog, &m)) {
                TranslateMessage(&m);
                DispatchMessageA(&m);
            }
        }
    }
    // The text colour the dialog gives a static control when it draws.
    static COLORREF DrawnColor(HWND dialog, int id) {
        struct TDc {
            HDC dc = CreateCompatibleDC(nullptr);
            ~TDc() { DeleteDC(dc); }
        } dc;
        ::SetTextColor(dc.dc, RGB(1, 2, 3));
        SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.dc),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
        return GetTextColor(dc.dc);
    }
    static std::string TextOf(HWND dialog, int id) {
        char s[256] = {};
        GetDlgItemTextA(dialog, id, s, sizeof(s));
        return s;
    }
    static void Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
    // A pick in a drop-down list, as the user makes it: the selection, then the notification.
    static void Pick(HWND dialog, int id, int index) {
        const HWND combo = GetDlgItem(dialog, id);
        SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    }
    static std::vector<std::string> Entries(HWND dialog, int id) {
        std::vector<std::string> out;
        const HWND combo = GetDlgItem(dialog, id);
        const int n = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < n; ++i) {
            char s[256] = {};
            SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(s));
            out.emplace_back(s);
        }
        return out;
    }
    static int Selected(HWND dialog, int id) {
        return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0));
    }

    static std::vector<TShownBox>& boxes() {
        static std::vector<TShownBox> b;
        return b;
    }

    std::shared_ptr<TVirtualClock> clock;

private:
    static std::deque<std::function<void(TForm&)>>& scripts() {
        static std::deque<std::function<void(TForm&)>> s;
        return s;
    }
    static int RecordBox(HWND, const char* text, const char* caption, UINT type) {
        boxes().push_back({text, caption, type});
        return IDOK;
    }
    static void RunScript(TForm& form) {
        if (scripts().empty()) {
            ADD_FAILURE() << "a dialog showed that the test did not expect: " << form.Caption();
            form.Close();
            return;
        }
        auto script = std::move(scripts().front());
        scripts().pop_front();
        script(form);
        // A script that leaves its dialog open would hang the test.
        if (form.Showing() && form.ModalResult() == mrNone) {
            ADD_FAILURE() << "the script left its dialog open: " << form.Caption();
            form.Close();
        }
    }
};
