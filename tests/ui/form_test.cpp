// The form base: common controls version 6 inside our context, the keys a user
// expects of a dialog, its place, and its owner disabled while it runs.
#include <windows.h>

#include <shlwapi.h>

#include <string>

#include "tests/ui/ui_fixture.h"
#include "ui/FrmHidAction.h"
#include "ui/FrmHidActionEdit.h"
#include "ui/commoncontrols.h"

namespace {
DWORD MajorVersion(HMODULE module) {
    using TGetVersion = HRESULT(CALLBACK*)(DLLVERSIONINFO*);
    const auto get = reinterpret_cast<TGetVersion>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetVersion")));
    if (!get) return 0;
    DLLVERSIONINFO info{};
    info.cbSize = sizeof(info);
    return SUCCEEDED(get(&info)) ? info.dwMajorVersion : 0;
}
}  // namespace

using FormTest = UiTest;

TEST_F(FormTest, CommonControlsAreVersion6InsideOurContext) {
    TActivation activation;
    ASSERT_TRUE(activation.Active()) << "no activation context from our manifest";
    ASSERT_TRUE(InitCommonControlsOnce());
    // Wine's version 6 answers DllGetVersion with 5; its file tells it.
    char path[MAX_PATH] = {};
    GetModuleFileNameA(CommonControlsModule(), path, MAX_PATH);
    const std::string file = CharLowerA(path);
    const bool sideBySide6 = file.find("microsoft.windows.common-controls_") != std::string::npos &&
                             file.find("_6.0.") != std::string::npos;
    EXPECT_TRUE(MajorVersion(CommonControlsModule()) == 6 || sideBySide6) << path;
}

TEST_F(FormTest, TabMovesThroughTheControlsInVisualOrder) {
    TfmActionEdit editor(nullptr);
    std::vector<int> order;
    WhenShown([&](TForm& form) {
        const HWND dlg = form.Handle();
        SetForegroundWindow(dlg);
        HWND at = GetFocus();
        for (int i = 0; i < 6 && at; ++i) {
            order.push_back(GetDlgCtrlID(at));
            Key(at, VK_TAB);
            Pump(dlg);
            at = GetFocus();
        }
        form.Close();
    });
    editor.ShowModal();
    // Wrapping round to the first.
    EXPECT_EQ(order, (std::vector<int>{IDC_AE_PLAYERACTION, IDC_AE_ACTIVEHID, IDC_AE_ASSIGN, IDOK, IDCANCEL,
                                       IDC_AE_PLAYERACTION}));
}

TEST_F(FormTest, EnterIsTheDefaultButtonAndEscCancels) {
    struct TCase {
        WPARAM key;
        int result;
    };
    for (const TCase c : {TCase{VK_RETURN, mrOk}, TCase{VK_ESCAPE, mrCancel}}) {
        SCOPED_TRACE(c.key);
        TfmActionEdit editor(nullptr);
        WhenShown([&](TForm& form) {
            Key(GetFocus(), c.key);
            Pump(form.Handle());
        });
        EXPECT_EQ(editor.ShowModal(), c.result);
    }
}

TEST_F(FormTest, EscAndTheTitleBarCloseTheLearningDialogWithCancel) {
    AddDevice(L"Remote");
    for (int how = 0; how < 2; ++how) {
        TfmHidAction learn(nullptr);
        WhenShown([&](TForm& form) {
            if (how == 0) {
                Key(form.Handle(), VK_ESCAPE);
                Pump(form.Handle());
            } else {
                SendMessageA(form.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
            }
        });
        EXPECT_EQ(learn.ShowModal(), mrCancel) << how;
        EXPECT_TRUE(learn.FPorts.empty());
    }
}

TEST_F(FormTest, OpensCentredOnItsOwnerWhichItDisablesWhileItRuns) {
    const HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, 40, 30, 700, 500, nullptr,
                                       nullptr, nullptr, nullptr);
    ASSERT_TRUE(owner);
    TUniqueWindow ownerWindow(owner);
    TfmActionEdit editor(nullptr);
    editor.ParentWindow = owner;
    bool ownerEnabled = true;
    RECT r{};
    WhenShown([&](TForm& form) {
        ownerEnabled = IsWindowEnabled(owner) != FALSE;
        GetWindowRect(form.Handle(), &r);
        form.Close();
    });
    editor.ShowModal();
    EXPECT_FALSE(ownerEnabled);
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_NEAR((r.left + r.right) / 2, 40 + 350, 1);
    EXPECT_NEAR((r.top + r.bottom) / 2, 30 + 250, 1);
}
