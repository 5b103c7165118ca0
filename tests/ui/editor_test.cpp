// The action editor, with the learning dialog it runs, on the fake HID platform.
#include <windows.h>

#include "players/HidProcessorWinamp.h"
#include "players/HidProcessorWmp.h"
#include "tests/ui/ui_fixture.h"
#include "ui/FrmHidAction.h"
#include "ui/FrmHidActionEdit.h"

namespace {
class EditorTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        devices = {AddDevice(L"Remote A"), AddDevice(L"Remote B"), AddDevice(L"Remote C")};
        editor = std::make_unique<TfmActionEdit>(nullptr);
        editor->FDeviceNames = &names;
        editor->FSupportedActions = TWinampHidProcessor::WinampActions;
    }
    void TearDown() override {
        editor.reset();
        UiTest::TearDown();
    }
    static void Assigned(THidAction& a, TActionCode code, int device) {
        a.Code = code;
        a.PressSignature = 0x01020304;
        a.DeviceIndex = device;
    }
    // The player action the user picks, by name.
    static void PickAction(HWND dlg, const std::string& name) {
        const auto entries = Entries(dlg, IDC_AE_PLAYERACTION);
        const auto it = std::find(entries.begin(), entries.end(), name);
        ASSERT_NE(it, entries.end()) << name;
        Pick(dlg, IDC_AE_PLAYERACTION, static_cast<int>(it - entries.begin()));
    }

    std::vector<std::string> names{"Remote A", "Remote B", "Remote C"};
    std::vector<int> devices;
    std::unique_ptr<TfmActionEdit> editor;
};
}  // namespace

TEST_F(EditorTest, OffersTheAdaptersSupportedActions) {
    struct TCase {
        const char* adapter;
        TActionSet set;
        std::vector<std::string> entries;
    };
    const std::vector<std::string> common{"Unknown", "Play/Pause", "Next",        "Previous", "Stop",
                                          "Volume Up", "Volume Down", "Forward", "Backward", "Play", "Pause"};
    auto winamp = common, wmp = common;
    winamp.push_back("Mute");
    wmp.push_back("Eject");
    wmp.push_back("Mute");
    for (const TCase& c : {TCase{"Winamp", TWinampHidProcessor::WinampActions, winamp},
                           TCase{"Windows Media Player", WmpSupportedActions, wmp}}) {
        SCOPED_TRACE(c.adapter);
        TfmActionEdit e(nullptr);
        e.FSupportedActions = c.set;
        std::vector<std::string> got;
        WhenShown([&](TForm& form) {
            got = Entries(form.Handle(), IDC_AE_PLAYERACTION);
            form.Close();
        });
        e.ShowModal();
        EXPECT_EQ(got, c.entries);
    }
    EXPECT_EQ(winamp.size(), 12u);
}

TEST_F(EditorTest, ANewActionShowsAutodetectUnknownAndUnassignedInRed) {
    std::vector<std::string> hids;
    int action = -1, hid = -1;
    std::string status, caption;
    COLORREF color = 0;
    WhenShown([&](TForm& form) {
        const HWND dlg = form.Handle();
        caption = form.Caption();
        hids = Entries(dlg, IDC_AE_ACTIVEHID);
        action = Selected(dlg, IDC_AE_PLAYERACTION);
        hid = Selected(dlg, IDC_AE_ACTIVEHID);
        status = TextOf(dlg, IDC_AE_STATUS);
        color = DrawnColor(dlg, IDC_AE_STATUS);
        form.Close();
    });
    editor->SetAction(nullptr);
    editor->ShowModal();
    EXPECT_EQ(caption, "Action");
    EXPECT_EQ(hids, (std::vector<std::string>{"Autodetect!", "Remote A", "Remote B", "Remote C"}));
    EXPECT_EQ(action, 0);
    EXPECT_EQ(hid, 0);
    EXPECT_EQ(status, "Unassigned");
    EXPECT_EQ(color, RGB(255, 0, 0));
}

TEST_F(EditorTest, StatusOfAnAssignedActionIsGreenWithItsDeviceSelected) {
    struct TCase {
        int device;
        int entry;
    };
    for (const TCase c : {TCase{1, 2}, TCase{7, -1}}) {  // past the end: no entry
        SCOPED_TRACE(c.device);
        TfmActionEdit e(nullptr);
        e.FDeviceNames = &names;
        THidAction a;
        Assigned(a, 3, c.device);
        e.SetAction(&a);
        int hid = -2, action = -2;
        std::string status;
        COLORREF color = 0;
        WhenShown([&](TForm& form) {
            hid = Selected(form.Handle(), IDC_AE_ACTIVEHID);
            action = Selected(form.Handle(), IDC_AE_PLAYERACTION);
            status = TextOf(form.Handle(), IDC_AE_STATUS);
            color = DrawnColor(form.Handle(), IDC_AE_STATUS);
            form.Close();
        });
        e.ShowModal();
        EXPECT_EQ(hid, c.entry);
        EXPECT_EQ(action, 3);
        EXPECT_EQ(status, "Assigned");
        EXPECT_EQ(color, RGB(0, 128, 0));
    }
}

TEST_F(EditorTest, AssignWithUnknownWarnsAndShowsNoLearningDialog) {
    std::string status;
    WhenShown([&](TForm& form) {
        Click(form.Handle(), IDC_AE_ASSIGN);
        status = TextOf(form.Handle(), IDC_AE_STATUS);
        form.Close();
    });
    editor->ShowModal();
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, "Please select Action Type before ...");
    EXPECT_EQ(boxes()[0].caption, "Unknown Action");
    EXPECT_EQ(boxes()[0].type, static_cast<UINT>(MB_OK | MB_ICONWARNING));
    EXPECT_EQ(status, "Unassigned");
}

TEST_F(EditorTest, AssignWithAutodetectLearnsOnEveryDeviceAndSelectsTheSender) {
    size_t ports = 0;
    int hid = -2;
    std::string status;
    WhenShown([&](TForm& form) {
        PickAction(form.Handle(), "Next");
        WhenShown([&](TForm& learnForm) {
            auto& learn = static_cast<TfmHidAction&>(learnForm);
            ports = learn.FPorts.size();
            EXPECT_EQ(learn.Caption(), "HID Action: Next");
            EXPECT_EQ(learn.Owner(), editor.get());
            EXPECT_FALSE(IsWindowEnabled(editor->Handle()));
            Press(devices[2], {0x33});
            clock->Advance(500);
        });
        Click(form.Handle(), IDC_AE_ASSIGN);
        hid = Selected(form.Handle(), IDC_AE_ACTIVEHID);
        status = TextOf(form.Handle(), IDC_AE_STATUS);
        Click(form.Handle(), IDOK);
    });
    EXPECT_EQ(editor->ShowModal(), mrOk);
    EXPECT_EQ(ports, 3u);
    EXPECT_EQ(hid, 3);
    EXPECT_EQ(status, "Assigned");
    EXPECT_EQ(editor->FAction->Code, 2);
    EXPECT_EQ(editor->FAction->DeviceIndex, 2);
    EXPECT_EQ(editor->FAction->PressSignature, SignatureOf({{0x33}}));
}

TEST_F(EditorTest, AssignOnOneDeviceListensOnItAlone) {
    size_t ports = 0;
    int hid = -2;
    WhenShown([&](TForm& form) {
        PickAction(form.Handle(), "Play/Pause");
        Pick(form.Handle(), IDC_AE_ACTIVEHID, 3);  // device 2
        WhenShown([&](TForm& learnForm) {
            auto& learn = static_cast<TfmHidAction&>(learnForm);
            ports = learn.FPorts.size();
            EXPECT_EQ(learn.FDeviceIndex, 2);
            Press(devices[2], {0x44});
            clock->Advance(500);
        });
        Click(form.Handle(), IDC_AE_ASSIGN);
        hid = Selected(form.Handle(), IDC_AE_ACTIVEHID);
        Click(form.Handle(), IDOK);
    });
    editor->ShowModal();
    EXPECT_EQ(ports, 1u);
    EXPECT_EQ(hid, 3);
    EXPECT_EQ(editor->FAction->DeviceIndex, 2);
}

TEST_F(EditorTest, ACountdownThatRunsOutLeavesTheActionUnassignedOnItsDevice) {
    THidAction a;
    Assigned(a, 6, 1);
    editor->SetAction(&a);
    int hid = -2;
    std::string status;
    WhenShown([&](TForm& form) {
        WhenShown([&](TForm&) { clock->Advance(10000); });
        Click(form.Handle(), IDC_AE_ASSIGN);
        hid = Selected(form.Handle(), IDC_AE_ACTIVEHID);
        status = TextOf(form.Handle(), IDC_AE_STATUS);
        form.Close();
    });
    EXPECT_EQ(editor->ShowModal(), mrCancel);
    EXPECT_EQ(hid, 2);
    EXPECT_EQ(status, "Unassigned");
    EXPECT_EQ(editor->FAction->PressSignature, SignatureNone);
    EXPECT_EQ(editor->FAction->Code, 6);
    EXPECT_EQ(editor->FAction->DeviceIndex, 1);
}

TEST_F(EditorTest, OkHandsAnUnassignedActionBackUnchanged) {
    THidAction a;
    a.Code = 4;
    editor->SetAction(&a);
    WhenShown([&](TForm& form) { Click(form.Handle(), IDOK); });
    EXPECT_EQ(editor->ShowModal(), mrOk);
    EXPECT_EQ(editor->FAction->AsText(), a.AsText());
}
