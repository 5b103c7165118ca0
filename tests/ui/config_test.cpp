// The configuration dialog on the fake HID platform, run as the host entries run it.
#include "tests/ui/config_fixture.h"

#include "tests/hosts/import_hook.h"
#include "ui/FrmHidActionEdit.h"
#include "util/kwwin32.h"

namespace {
const char* const Assigned = "Assigned. Click button for change";
const char* const NotDefined = "Not defined. Click button for change";
constexpr COLORREF Green = RGB(0, 128, 0);
constexpr COLORREF Navy = RGB(0, 0, 128);

// The six simple-page rows: button, state label, code.
struct TRow {
    TControl TfmConfig::*button;
    TControl TfmConfig::*label;
    TActionCode code;
};
const TRow SimpleRows[] = {
    {&TfmConfig::bActPlay, &TfmConfig::Label2, 1},     {&TfmConfig::bActNext, &TfmConfig::Label3, 2},
    {&TfmConfig::bActPrev, &TfmConfig::Label4, 3},     {&TfmConfig::bActVolUp, &TfmConfig::Label8, 5},
    {&TfmConfig::bActVolDown, &TfmConfig::Label9, 6}, {&TfmConfig::bActMute, &TfmConfig::Label12, 13},
};

std::string ThisProgram() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

class ConfigDialog : public ConfigTest {
protected:
    // The state labels of the simple page, in the page's order, with their drawn colours.
    static std::vector<std::pair<std::string, COLORREF>> Labels(TfmConfig& c) {
        std::vector<std::pair<std::string, COLORREF>> out;
        for (const TRow& row : SimpleRows) {
            const TControl& label = c.*row.label;
            out.emplace_back(label.Text(), DrawnColor(c.Page(TfmConfig::pgActions), label.Id()));
        }
        return out;
    }
    // The codes of the engine's actions, in list order.
    std::vector<int> Codes() const {
        std::vector<int> codes;
        for (int k = 0; k < engine->Count(); ++k) codes.push_back(engine->Items(k)->Code);
        return codes;
    }
    // Inside the action editor: picks the player action by name and accepts.
    static void PickAndAccept(TForm& form, const std::string& name) {
        const HWND dlg = form.Handle();
        const auto entries = Entries(dlg, IDC_AE_PLAYERACTION);
        const auto it = std::find(entries.begin(), entries.end(), name);
        ASSERT_NE(it, entries.end()) << name;
        Pick(dlg, IDC_AE_PLAYERACTION, static_cast<int>(it - entries.begin()));
        form.SetModalResult(mrOk);
    }
};
}  // namespace

TEST_F(ConfigDialog, OpensOnAnEmptySettingsFileWithSixUnassignedActionsAndOkWritesThem) {
    AddDevice(L"Remote");
    std::vector<std::pair<std::string, COLORREF>> labels;
    std::vector<std::string> tabs;
    int active = -1;
    RunDialog([&](TfmConfig& c) {
        labels = Labels(c);
        tabs = Tabs(c);
        active = c.ActivePage();
        c.SetModalResult(mrOk);
    });
    EXPECT_EQ(labels, (std::vector<std::pair<std::string, COLORREF>>(6, {NotDefined, Navy})));
    EXPECT_EQ(tabs, (std::vector<std::string>{"Registered Actions", "A&bout"}));
    EXPECT_EQ(active, TfmConfig::pgActions);
    EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 3, 5, 6, 13}));
    EXPECT_EQ(SettingsFile(),
              "HidIndex=-1\r\nMode=0\r\n"
              "Action00=BFFFFFFFFFFFFFFFF-1\r\nAction01=CFFFFFFFFFFFFFFFF-1\r\n"
              "Action02=DFFFFFFFFFFFFFFFF-1\r\nAction03=FFFFFFFFFFFFFFFFF-1\r\n"
              "Action04=GFFFFFFFFFFFFFFFF-1\r\nAction05=NFFFFFFFFFFFFFFFF-1\r\n");
    EXPECT_EQ(SettingsFile(), engine->SettingsText());
}

TEST_F(ConfigDialog, ASimpleButtonLearnsItsActionOrUnassignsItOnCancel) {
    AddDevice(L"Remote A");
    const int b = AddDevice(L"Remote B");
    for (const TRow& row : SimpleRows) {
        SCOPED_TRACE(static_cast<int>(row.code));
        engine->Clear();
        std::string afterLearn, afterCancel;
        COLORREF learnColor = 0, cancelColor = 0;
        THidAction learned;
        RunDialog([&](TfmConfig& c) {
            WhenShown([&](TForm&) {
                PressAndWait(b, {0x40, row.code});
                if (ActionInSet(RepeatableActions, row.code)) PressAndWait(b, {0x00});  // the release
            });
            ClickOn(c.*row.button);
            afterLearn = (c.*row.label).Text();
            learnColor = DrawnColor(c.Page(TfmConfig::pgActions), (c.*row.label).Id());
            learned.Assign(engine->FindAction(row.code));
            // The ten seconds pass without a press.
            WhenShown([&](TForm&) { clock->Advance(10000); });
            ClickOn(c.*row.button);
            afterCancel = (c.*row.label).Text();
            cancelColor = DrawnColor(c.Page(TfmConfig::pgActions), (c.*row.label).Id());
            c.Close();
        });
        EXPECT_EQ(afterLearn, Assigned);
        EXPECT_EQ(learnColor, Green);
        EXPECT_EQ(learned.PressSignature, SignatureOf({{0x40, row.code}}));
        EXPECT_EQ(learned.DeviceIndex, 1);
        EXPECT_EQ(afterCancel, NotDefined);
        EXPECT_EQ(cancelColor, Navy);
        EXPECT_FALSE(engine->FindAction(row.code)->IsAssigned());
    }
}

TEST_F(ConfigDialog, TheSimplePageShowsAndLearnsOnlyTheFirstActionOfACode) {
    const int a = AddDevice(L"Remote");
    engine->Add(new THidAction);
    engine->Items(0)->Code = 2;  // unassigned
    engine->Add(Learned(2, 0x1234, 0));
    std::string before, after;
    RunDialog([&](TfmConfig& c) {
        before = c.Label3.Text();
        WhenShown([&](TForm&) { PressAndWait(a, {0x07}); });
        ClickOn(c.bActNext);
        after = c.Label3.Text();
        c.Close();
    });
    EXPECT_EQ(before, NotDefined);
    EXPECT_EQ(after, Assigned);
    EXPECT_EQ(engine->Items(0)->PressSignature, SignatureOf({{0x07}}));
    EXPECT_EQ(engine->Items(1)->PressSignature, 0x1234u) << "the second action of the code was touched";
    EXPECT_EQ(engine->Items(1)->DeviceIndex, 0);
}

TEST_F(ConfigDialog, OkInExtendedModeStoresTheModeAndTheNextOpeningStartsThere) {
    AddDevice(L"Remote");
    std::vector<std::string> tabs;
    RunDialog([&](TfmConfig& c) {
        ClickOn(c.bMore);
        tabs = Tabs(c);
        EXPECT_EQ(c.ActivePage(), TfmConfig::pgActionsExt);
        c.SetModalResult(mrOk);
    });
    EXPECT_EQ(tabs, (std::vector<std::string>{"Actions (Extended Mode)", "A&bout"}));
    EXPECT_TRUE(engine->Mode);
    EXPECT_EQ(SettingsFile().rfind("HidIndex=-1\r\nMode=-1\r\nAction00=", 0), 0u) << SettingsFile();

    int active = -1;
    size_t rows = 0;
    RunDialog([&](TfmConfig& c) {
        active = c.ActivePage();
        tabs = Tabs(c);
        rows = Rows(c.lvActions.Handle()).size();
        ClickOn(c.bSimple);
        EXPECT_EQ(c.ActivePage(), TfmConfig::pgActions);
        EXPECT_EQ(Tabs(c), (std::vector<std::string>{"Registered Actions", "A&bout"}));
        c.SetModalResult(mrOk);
    });
    EXPECT_EQ(active, TfmConfig::pgActionsExt);
    EXPECT_EQ(tabs, (std::vector<std::string>{"Actions (Extended Mode)", "A&bout"}));
    EXPECT_EQ(rows, 6u);
    EXPECT_FALSE(engine->Mode);
}

TEST_F(ConfigDialog, TheExtendedListShowsNameIconStateAndDevice) {
    AddDevice(L"Remote A");
    AddDevice(L"Remote B");
    engine->Mode = true;
    engine->Add(Learned(14, 0x11, 1));
    engine->Add(Learned(15, 0x22, 0));
    auto* unknown = new THidAction;  // code 0, unassigned, no device
    engine->Add(unknown);
    engine->Add(Learned(1, 0x33, 7));  // a device the list no longer has
    std::vector<std::vector<std::string>> rows;
    std::vector<int> images;
    int imageCount = 0;
    RunDialog([&](TfmConfig& c) {
        const HWND list = c.lvActions.Handle();
        rows = Rows(list);
        for (size_t r = 0; r < rows.size(); ++r) images.push_back(RowImage(list, static_cast<int>(r)));
        imageCount = c.img16.Count();
        c.Close();
    });
    EXPECT_EQ(imageCount, 14);
    // The first refresh of the labels appended the missing codes before the list was filled.
    const std::vector<std::vector<std::string>> expected{
        {"Shuffle", "Assigned", "Remote B"},         {"Repeat", "Assigned", "Remote A"},
        {"Unknown", "Unassigned", "Not selected"},   {"Play/Pause", "Assigned", "Not selected"},
        {"Next", "Unassigned", "Not selected"},      {"Previous", "Unassigned", "Not selected"},
        {"Volume Up", "Unassigned", "Not selected"}, {"Volume Down", "Unassigned", "Not selected"},
        {"Mute", "Unassigned", "Not selected"}};
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(images, (std::vector<int>{13, I_IMAGENONE, I_IMAGENONE, 0, 1, 2, 4, 5, 12}));
}

TEST_F(ConfigDialog, TheStateColumnIsDrawnGreenOrRedAndTheOthersTheDefaultWay) {
    engine->Mode = true;
    engine->Add(Learned(2, 0x11, 0));
    engine->Add(new THidAction);
    struct TCell {
        int row, subItem;
        COLORREF color;
    };
    const COLORREF text = GetSysColor(COLOR_WINDOWTEXT);
    std::vector<COLORREF> drawn;
    std::vector<LRESULT> answers;
    const std::vector<TCell> cells{{0, 1, RGB(0, 127, 0)}, {1, 1, RGB(255, 0, 0)}, {0, 0, text},
                                   {0, 2, text},           {1, 2, text}};
    RunDialog([&](TfmConfig& c) {
        const HWND page = c.Page(TfmConfig::pgActionsExt);
        // What the list view asks before it draws each stage.
        for (DWORD stage : {DWORD(CDDS_PREPAINT), DWORD(CDDS_ITEMPREPAINT)}) {
            NMLVCUSTOMDRAW draw{};
            draw.nmcd.hdr = {c.lvActions.Handle(), IDC_CF_ACTIONS, NM_CUSTOMDRAW};
            draw.nmcd.dwDrawStage = stage;
            SendMessageA(page, WM_NOTIFY, IDC_CF_ACTIONS, reinterpret_cast<LPARAM>(&draw));
            answers.push_back(GetWindowLongPtrA(page, DWLP_MSGRESULT));
        }
        for (const TCell& cell : cells) {
            NMLVCUSTOMDRAW draw{};
            draw.nmcd.hdr = {c.lvActions.Handle(), IDC_CF_ACTIONS, NM_CUSTOMDRAW};
            draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT | CDDS_SUBITEM;
            draw.nmcd.dwItemSpec = static_cast<DWORD_PTR>(cell.row);
            draw.iSubItem = cell.subItem;
            draw.clrText = RGB(1, 2, 3);
            SendMessageA(page, WM_NOTIFY, IDC_CF_ACTIONS, reinterpret_cast<LPARAM>(&draw));
            drawn.push_back(draw.clrText);
        }
        c.Close();
    });
    EXPECT_EQ(answers, (std::vector<LRESULT>{CDRF_NOTIFYITEMDRAW, CDRF_NOTIFYSUBITEMDRAW}));
    ASSERT_EQ(drawn.size(), cells.size());
    for (size_t k = 0; k < cells.size(); ++k)
        EXPECT_EQ(drawn[k], cells[k].color) << "row " << cells[k].row << " column " << cells[k].subItem;
}

TEST_F(ConfigDialog, CancelAfterAddingKeepsTheActionsInTheEngineButNotInTheFile) {
    AddDevice(L"Remote");
    engine->Mode = true;
    engine->SaveToFile("");
    const std::string before = SettingsFile();
    ASSERT_FALSE(before.empty());
    RunDialog([&](TfmConfig& c) {
        WhenShown([&](TForm& editor) { PickAndAccept(editor, "Stop"); });
        ClickOn(c.bAdd);
        WhenShown([&](TForm& editor) { PickAndAccept(editor, "Forward"); });
        ClickOn(c.bAdd);
        c.SetModalResult(mrCancel);
    });
    EXPECT_EQ(SettingsFile(), before);
    EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 3, 5, 6, 13, 4, 7}));

    // While the host keeps the plug-in loaded, the next opening lists them.
    std::vector<std::vector<std::string>> rows;
    RunDialog([&](TfmConfig& c) {
        rows = Rows(c.lvActions.Handle());
        c.Close();
    });
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[6][0], "Stop");
    EXPECT_EQ(rows[7][0], "Forward");
}

TEST_F(ConfigDialog, AddCancelledAndEditOrDeleteWithoutARowChangeNothing) {
    engine->Mode = true;
    RunDialog([&](TfmConfig& c) {
        WhenShown([](TForm& editor) { editor.Close(); });
        ClickOn(c.bAdd);
        // No row selected: neither shows anything (an editor would find no script).
        ClickOn(c.bEdit);
        ClickOn(c.dDelete);
        EXPECT_EQ(Rows(c.lvActions.Handle()).size(), 6u);
        c.Close();
    });
    EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 3, 5, 6, 13}));
}

TEST_F(ConfigDialog, EditChangesTheSelectedActionAndKeepsTheSelection) {
    engine->Mode = true;
    std::string shownCode;
    std::vector<std::vector<std::string>> rows;
    int selected = -1;
    RunDialog([&](TfmConfig& c) {
        SelectRow(c.lvActions.Handle(), 2);
        WhenShown([&](TForm& editor) {
            shownCode = Entries(editor.Handle(), IDC_AE_PLAYERACTION)[static_cast<size_t>(Selected(editor.Handle(), IDC_AE_PLAYERACTION))];
            PickAndAccept(editor, "Pause");
        });
        ClickOn(c.bEdit);
        rows = Rows(c.lvActions.Handle());
        selected = c.SelectedRow();
        c.Close();
    });
    EXPECT_EQ(shownCode, "Previous");
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[2][0], "Pause");
    EXPECT_EQ(selected, 2);
    EXPECT_EQ(engine->Items(2)->Code, 10);
}

TEST_F(ConfigDialog, DeletingTheActionOfCode1BringsItBackUnassignedAtTheEndOfTheNextOpening) {
    engine->Mode = true;
    engine->Add(Learned(1, 0x55, 0));
    RunDialog([&](TfmConfig& c) {
        SelectRow(c.lvActions.Handle(), 0);
        ClickOn(c.dDelete);
        EXPECT_EQ(Rows(c.lvActions.Handle()).size(), 5u);
        c.Close();
    });
    EXPECT_EQ(Codes(), (std::vector<int>{2, 3, 5, 6, 13}));
    std::vector<std::vector<std::string>> rows;
    RunDialog([&](TfmConfig& c) {
        rows = Rows(c.lvActions.Handle());
        c.Close();
    });
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[5], (std::vector<std::string>{"Play/Pause", "Unassigned", "Not selected"}));
}

TEST_F(ConfigDialog, OkWritesOnlyTheFirst32ActionsButTheEngineKeepsThemAll) {
    engine->Mode = true;
    for (int k = 0; k < 40; ++k) engine->Add(Learned(static_cast<TActionCode>(1 + k % 14), 0x100u + static_cast<uint32_t>(k), -1));
    RunDialog([&](TfmConfig& c) {
        EXPECT_EQ(Rows(c.lvActions.Handle()).size(), 40u);
        c.SetModalResult(mrOk);
    });
    EXPECT_EQ(engine->Count(), 40);
    const std::string file = SettingsFile();
    EXPECT_NE(file.find("Action31="), std::string::npos);
    EXPECT_EQ(file.find("Action32="), std::string::npos);
}

TEST_F(ConfigDialog, OkWithADeviceThatCannotBeOpenedShowsTheErrorAndStaysOpen) {
    const int a = AddDevice(L"Remote A");
    AddDevice(L"Remote B");
    refusedDevicePath = KwFake_DevicePath(a);
    engine->Add(Learned(1, 0x77, 0));
    TImportHook hook(GetModuleHandleA(nullptr), "KERNEL32.dll", "CreateFileA",
                     reinterpret_cast<void*>(&RefusingCreateFileA));
    ASSERT_TRUE(hook.Installed());
    bool openAfterOk = false;
    std::string fileAfterOk;
    size_t boxesAfterOk = 0;
    const int result = [&] {
        WhenShown([&](TForm& form) {
            auto& c = static_cast<TfmConfig&>(form);
            ClickOn(c.bMore);
            c.SetModalResult(mrOk);
            openAfterOk = c.Showing() && c.ModalResult() == mrNone;
            boxesAfterOk = boxes().size();
            fileAfterOk = SettingsFile();
            c.SetModalResult(mrCancel);
        });
        TfmConfig dialog(nullptr);
        dialog.FProcessor = engine.get();
        return dialog.ShowModal();
    }();
    EXPECT_TRUE(openAfterOk) << "OK closed the dialog";
    ASSERT_EQ(boxesAfterOk, 1u);
    // The port's error: the system's text without its full stop.
    std::string denied = SystemErrorText(ERROR_ACCESS_DENIED);
    while (!denied.empty() && (denied.back() == '.' || static_cast<unsigned char>(denied.back()) <= ' ')) denied.pop_back();
    EXPECT_EQ(boxes()[0].text, denied);
    EXPECT_NE(boxes()[0].type & MB_ICONERROR, 0u);
    EXPECT_EQ(result, mrCancel);
    // The steps before the restart were done.
    EXPECT_TRUE(engine->Mode);
    EXPECT_EQ(fileAfterOk.rfind("HidIndex=-1\r\nMode=-1\r\n", 0), 0u) << fileAfterOk;
}

TEST_F(ConfigDialog, ALearnedButtonPressedWhileTheDialogIsOpenStillSendsItsCommand) {
    const int a = AddDevice(L"Remote");
    engine->Add(Learned(1, SignatureOf({{0x01}}), 0));
    engine->RestartHandlers();
    ASSERT_TRUE(KwFake_WaitOpenHandles(a, 1, 5000));
    std::vector<TActionCode> sent;
    RunDialog([&](TfmConfig& c) {
        Press(a, {0x01});
        clock->Advance(300);
        sent = engine->Commands;
        c.Close();
    });
    EXPECT_EQ(sent, (std::vector<TActionCode>{1}));
}

TEST_F(ConfigDialog, TheWindowIsLaidOutAsDrawn) {
    RECT client{}, pages{}, ok{}, cancel{}, link{};
    std::string caption, version;
    bool okDefault = false;
    RunDialog([&](TfmConfig& c) {
        caption = c.Caption();
        version = c.lVer.Text();
        GetClientRect(c.Handle(), &client);
        const auto inClient = [&](const TControl& control, RECT& r) {
            GetWindowRect(control.Handle(), &r);
            MapWindowPoints(nullptr, c.Handle(), reinterpret_cast<POINT*>(&r), 2);
        };
        inClient(c.Pages, pages);
        inClient(c.Button1, ok);
        inClient(c.Button2, cancel);
        inClient(c.lPowered, link);
        okDefault = (GetWindowLongA(c.Button1.Handle(), GWL_STYLE) & BS_DEFPUSHBUTTON) != 0;
        EXPECT_EQ(c.lPowered.Text(), "Powered by kwLink Lib");
        EXPECT_EQ(c.Button1.Text(), "&OK");
        EXPECT_EQ(c.Button2.Text(), "&Cancel");
        c.Close();
    });
    EXPECT_EQ(caption, "Clickwell - Orlanvale");
    EXPECT_EQ(version, "v." + GetVersionText(ThisProgram()));
    EXPECT_EQ(client.right, 480);
    EXPECT_EQ(client.bottom, 279);
    EXPECT_EQ(pages.top, 0);
    EXPECT_EQ(pages.bottom - pages.top, 241);
    EXPECT_EQ(pages.right - pages.left, 480);
    EXPECT_TRUE(okDefault);
    EXPECT_LT(ok.right, cancel.left) << "OK, then Cancel";
    EXPECT_GE(ok.top, pages.bottom);
    EXPECT_GT(cancel.right, 440);
    EXPECT_LE(cancel.right, 480);
    EXPECT_LT(link.left, 20);
    EXPECT_GE(link.top, pages.bottom);
}

TEST_F(ConfigDialog, LinksLightUpUnderTheMouseAndOpenTheirAddresses) {
    struct TLink {
        TControl TfmConfig::*label;
        const char* address;
    };
    std::vector<COLORREF> colors;
    RunDialog([&](TfmConfig& c) {
        for (const TLink& link : {TLink{&TfmConfig::lPowered, TfmConfig::LibraryAddress},
                                  TLink{&TfmConfig::Label6, TfmConfig::ProductAddress}}) {
            const TControl& label = c.*link.label;
            colors.push_back(c.TextColor(label.Id()));
            SendMessageA(label.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
            colors.push_back(c.TextColor(label.Id()));
            SendMessageA(label.Handle(), WM_MOUSELEAVE, 0, 0);
            colors.push_back(c.TextColor(label.Id()));
            // What the control sends its dialog when it is clicked.
            SendMessageA(GetParent(label.Handle()), WM_COMMAND, MAKEWPARAM(label.Id(), STN_CLICKED),
                         reinterpret_cast<LPARAM>(label.Handle()));
        }
        EXPECT_EQ(c.Label6.Text(), TfmConfig::ProductAddress);
        c.Close();
    });
    const COLORREF blue = RGB(0, 0, 255), yellow = RGB(255, 255, 0);
    EXPECT_EQ(colors, (std::vector<COLORREF>{blue, yellow, blue, blue, yellow, blue}));
    EXPECT_EQ(opened(), (std::vector<std::string>{TfmConfig::LibraryAddress, TfmConfig::ProductAddress}));
}

TEST_F(ConfigDialog, ADoubleClickOnTheTitleTogglesTheHidPageWithABeepAndEachOpeningHidesIt) {
    std::vector<std::vector<std::string>> tabs;
    RunDialog([&](TfmConfig& c) {
        const HWND title = c.Label7.Handle();
        for (int k = 0; k < 2; ++k) {
            SendMessageA(GetParent(title), WM_COMMAND, MAKEWPARAM(IDC_CF_LABEL7, STN_DBLCLK), reinterpret_cast<LPARAM>(title));
            tabs.push_back(Tabs(c));
        }
        SendMessageA(GetParent(title), WM_COMMAND, MAKEWPARAM(IDC_CF_LABEL7, STN_DBLCLK), reinterpret_cast<LPARAM>(title));
        c.Close();
    });
    EXPECT_EQ(tabs, (std::vector<std::vector<std::string>>{{"Registered Actions", "HID Info", "A&bout"},
                                                            {"Registered Actions", "A&bout"}}));
    EXPECT_EQ(beeps(), 3);
    RunDialog([&](TfmConfig& c) {
        tabs = {Tabs(c)};
        c.Close();
    });
    EXPECT_EQ(tabs[0], (std::vector<std::string>{"Registered Actions", "A&bout"}));
}
