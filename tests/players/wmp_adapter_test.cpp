// The Windows Media Player adapter against a core of ours that logs every call,
// and against the player control Wine ships.
#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "players/HidProcessorWmp.h"
#include "rtl/uierror.h"
#include "rtl/win32/comptr.h"
#include "rtl/win32/olecheck.h"
#include "tests/players/fake_wmp_core.h"
#include "tests/support/error_recorder.h"
#include "tests/support/temp_folder.h"

namespace {
using TLog = std::vector<std::string>;

// CreateErrorInfo and the player's control want an apartment.
class WmpAdapter : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override {
        ClearErrorInfo();
        CoUninitialize();
    }
    static void ClearErrorInfo() {
        TComPtr<IErrorInfo> stale;
        GetErrorInfo(0, stale.put());
    }
};

// The HRESULT that DoCommand raised, S_OK when it raised nothing.
HRESULT RaisedBy(TWmpHidProcessor& engine, TActionCode code, std::string* message = nullptr) {
    try {
        engine.DoCommand(code);
    } catch (const EOleException& e) {
        if (message) *message = e.Message();
        return e.ErrorCode;
    }
    return S_OK;
}

std::vector<TActionCode> OfferedCodes() {
    std::vector<TActionCode> codes;
    for (unsigned code = 0; code < 16; ++code)
        if (ActionInSet(WmpSupportedActions, code)) codes.push_back(static_cast<TActionCode>(code));
    return codes;
}

std::string Hex(HRESULT hr) {
    char text[16];
    snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(hr));
    return text;
}
}  // namespace

// --- The engine class itself ---------------------------------------------------------

TEST(WmpHidProcessor, OffersEveryActionButFullScreenShuffleAndRepeat) {
    TWmpHidProcessor engine;
    EXPECT_EQ(engine.SupportedActions, 0x37FF);
    EXPECT_EQ(engine.FileName, "kwhid-wmp.ini");
    EXPECT_EQ(engine.Core(), nullptr);
    for (unsigned code : {11u, 14u, 15u}) EXPECT_FALSE(ActionInSet(engine.SupportedActions, code)) << code;
}

TEST(WmpHidProcessor, ASettingsFileWithFullScreenLoadsWithoutIt) {
    TTempFolder folder;
    const std::string file = folder.Path("kwhid-wmp.ini");
    std::ofstream(file, std::ios::binary) << "HidIndex=0\r\nMode=0\r\n"
                                             "Action00=B00000001FFFFFFFF0\r\n"
                                             "Action01=L00000002FFFFFFFF0\r\n"
                                             "Action02=M00000003FFFFFFFF0\r\n";
    TWmpHidProcessor engine;
    engine.LoadFromFile(file);
    ASSERT_EQ(engine.Count(), 2);
    EXPECT_EQ(engine.Items(0)->Code, 1);
    EXPECT_EQ(engine.Items(1)->Code, 12);
}

TEST(WmpHidProcessor, WithoutACoreNoCodeSendsOrRaisesAnything) {
    TWmpHidProcessor engine;
    for (unsigned code = 0; code < 16; ++code) EXPECT_NO_THROW(engine.DoCommand(static_cast<TActionCode>(code)));
}

TEST(WmpHidProcessor, SetCoreHoldsOneReferenceAndGivesBackTheFormer) {
    TFakeWmpCore first, second;
    {
        TWmpHidProcessor engine;
        engine.SetCore(first.Interface());
        EXPECT_EQ(engine.Core(), first.Interface());
        EXPECT_EQ(first.Refs(), 1u);
        engine.SetCore(first.Interface());
        EXPECT_EQ(first.Refs(), 1u);

        engine.SetCore(second.Interface());
        EXPECT_EQ(first.Refs(), 0u);
        EXPECT_EQ(second.Refs(), 1u);

        engine.SetCore(nullptr);
        EXPECT_EQ(engine.Core(), nullptr);
        EXPECT_EQ(second.Refs(), 0u);
        EXPECT_NO_THROW(engine.DoCommand(1));

        engine.SetCore(second.Interface());
    }
    EXPECT_EQ(second.Refs(), 0u);
    EXPECT_FALSE(first.State.OverReleased);
    EXPECT_FALSE(second.State.OverReleased);
    EXPECT_TRUE(first.State.Log.empty());
    EXPECT_TRUE(second.State.Log.empty());
}

// --- Each code and the calls it makes -------------------------------------------------

struct TCommandCase {
    const char* name;
    TActionCode code;
    TLog log;
    WMPPlayState playState = wmppsStopped;
    LONG volume = 50;
    VARIANT_BOOL mute = VARIANT_FALSE;
    int drives = 0;
};

// Named in the test list, not dumped byte by byte.
void PrintTo(const TCommandCase& c, std::ostream* os) { *os << c.name; }

class WmpCommands : public WmpAdapter, public testing::WithParamInterface<TCommandCase> {};

TEST_P(WmpCommands, MakeTheirCallsAndHoldNothingAfterwards) {
    const TCommandCase& c = GetParam();
    TFakeWmpCore core(c.drives);
    core.State.PlayState = c.playState;
    core.State.Volume = c.volume;
    core.State.Mute = c.mute;
    {
        TWmpHidProcessor engine;
        engine.SetCore(core.Interface());
        EXPECT_NO_THROW(engine.DoCommand(c.code));
        EXPECT_EQ(core.State.Log, c.log);
        EXPECT_EQ(core.SubObjectRefs(), 0u);
        EXPECT_EQ(core.Refs(), 1u);
    }
    EXPECT_EQ(core.Refs(), 0u);
    EXPECT_FALSE(core.State.OverReleased);
}

const TLog PlayCalls{"playState", "controls", "controls.play"};

INSTANTIATE_TEST_SUITE_P(
    Codes, WmpCommands,
    testing::Values(
        TCommandCase{"PlayPauseWhilePlayingPauses", 1, {"playState", "controls", "controls.pause"}, wmppsPlaying},
        TCommandCase{"PlayPauseWhileStoppedPlays", 1, PlayCalls, wmppsStopped},
        TCommandCase{"PlayPauseWhilePausedPlays", 1, PlayCalls, wmppsPaused},
        TCommandCase{"PlayPauseWhileBufferingPlays", 1, PlayCalls, wmppsBuffering},
        TCommandCase{"Next", 2, {"playState", "controls", "controls.next"}},
        TCommandCase{"Previous", 3, {"playState", "controls", "controls.previous"}},
        TCommandCase{"Stop", 4, {"playState", "controls", "controls.stop"}, wmppsPlaying},
        TCommandCase{"VolumeUpAt98Writes102",
                     5,
                     {"playState", "settings", "settings.get_volume", "settings", "settings.put_volume(102)"},
                     wmppsPlaying,
                     98},
        TCommandCase{"VolumeDownAt2WritesMinus2",
                     6,
                     {"playState", "settings", "settings.get_volume", "settings", "settings.put_volume(-2)"},
                     wmppsStopped,
                     2},
        TCommandCase{"VolumeUpStopsAtTheTopOfTheInteger",
                     5,
                     {"playState", "settings", "settings.get_volume", "settings",
                      "settings.put_volume(" + std::to_string(LONG_MAX) + ")"},
                     wmppsPlaying,
                     LONG_MAX - 1},
        TCommandCase{"Forward", 7, {"playState", "controls", "controls.fastForward"}, wmppsPlaying},
        TCommandCase{"Backward", 8, {"playState", "controls", "controls.fastReverse"}, wmppsPlaying},
        TCommandCase{"PlayOnlyReadsThePlayState", 9, {"playState"}},
        TCommandCase{"PauseOnlyReadsThePlayState", 10, {"playState"}, wmppsPlaying},
        TCommandCase{"EjectWithoutDrivesOnlyCounts", 12, {"playState", "cdromCollection", "cdromCollection.count"}},
        TCommandCase{"EjectEjectsTheFirstOfTwoDrives",
                     12,
                     {"playState", "cdromCollection", "cdromCollection.count", "cdromCollection",
                      "cdromCollection.item(0)", "cdrom0.eject"},
                     wmppsStopped,
                     50,
                     VARIANT_FALSE,
                     2},
        TCommandCase{"MuteWhenNotMutedWritesTrue",
                     13,
                     {"playState", "settings", "settings.get_mute", "settings", "settings.put_mute(-1)"}},
        TCommandCase{"MuteWhenMutedWritesFalse",
                     13,
                     {"playState", "settings", "settings.get_mute", "settings", "settings.put_mute(0)"},
                     wmppsStopped,
                     50,
                     VARIANT_TRUE},
        TCommandCase{"AnyNonZeroMuteCountsAsMuted",
                     13,
                     {"playState", "settings", "settings.get_mute", "settings", "settings.put_mute(0)"},
                     wmppsStopped,
                     50,
                     VARIANT_BOOL(1)}),
    [](const testing::TestParamInfo<TCommandCase>& info) { return std::string(info.param.name); });

TEST_F(WmpAdapter, TheVolumeStepIsAppliedToTheValueJustRead) {
    TFakeWmpCore core;
    TWmpHidProcessor engine;
    engine.SetCore(core.Interface());
    core.State.Volume = 98;
    engine.DoCommand(5);
    EXPECT_EQ(core.State.Volume, 102);
    core.State.Volume = 10;  // changed in the player meanwhile
    engine.DoCommand(6);
    EXPECT_EQ(core.State.Volume, 6);
}

TEST_F(WmpAdapter, TwoMutesBringBackTheStateThePlayerHad) {
    for (VARIANT_BOOL before : {VARIANT_FALSE, VARIANT_TRUE}) {
        TFakeWmpCore core;
        core.State.Mute = before;
        TWmpHidProcessor engine;
        engine.SetCore(core.Interface());
        engine.DoCommand(13);
        EXPECT_NE(core.State.Mute, before);
        engine.DoCommand(13);
        EXPECT_EQ(core.State.Mute, before);
    }
}

// --- Refused calls --------------------------------------------------------------------

struct TFailureCase {
    const char* name;
    TActionCode code;
    std::string failing;  // the log entry of the refused call
    TLog log;             // the calls made, the refused one last
    int drives = 0;
};

void PrintTo(const TFailureCase& c, std::ostream* os) { *os << c.name; }

class WmpRefusals : public WmpAdapter, public testing::WithParamInterface<TFailureCase> {};

TEST_P(WmpRefusals, RaiseTheResultAndMakeNoLaterCall) {
    const TFailureCase& c = GetParam();
    constexpr HRESULT Refused = static_cast<HRESULT>(0x80040201);
    TFakeWmpCore core(c.drives);
    core.State.Volume = 50;
    core.State.Failures[c.failing] = Refused;
    {
        TWmpHidProcessor engine;
        engine.SetCore(core.Interface());
        EXPECT_EQ(RaisedBy(engine, c.code), Refused);
        EXPECT_EQ(core.State.Log, c.log);
        EXPECT_EQ(core.SubObjectRefs(), 0u);
        EXPECT_EQ(core.Refs(), 1u);
    }
    EXPECT_EQ(core.Refs(), 0u);
    EXPECT_FALSE(core.State.OverReleased);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, WmpRefusals,
    testing::Values(
        TFailureCase{"PlayState", 2, "playState", {"playState"}},
        TFailureCase{"Controls", 2, "controls", {"playState", "controls"}},
        TFailureCase{"Play", 1, "controls.play", {"playState", "controls", "controls.play"}},
        TFailureCase{"Next", 2, "controls.next", {"playState", "controls", "controls.next"}},
        TFailureCase{"Settings", 5, "settings", {"playState", "settings"}},
        TFailureCase{"GetVolume", 5, "settings.get_volume", {"playState", "settings", "settings.get_volume"}},
        TFailureCase{"PutVolume",
                     6,
                     "settings.put_volume(46)",
                     {"playState", "settings", "settings.get_volume", "settings", "settings.put_volume(46)"}},
        TFailureCase{"GetMute", 13, "settings.get_mute", {"playState", "settings", "settings.get_mute"}},
        TFailureCase{"PutMute",
                     13,
                     "settings.put_mute(-1)",
                     {"playState", "settings", "settings.get_mute", "settings", "settings.put_mute(-1)"}},
        TFailureCase{"CdromCollection", 12, "cdromCollection", {"playState", "cdromCollection"}},
        TFailureCase{"Count", 12, "cdromCollection.count", {"playState", "cdromCollection", "cdromCollection.count"}},
        TFailureCase{"Item",
                     12,
                     "cdromCollection.item(0)",
                     {"playState", "cdromCollection", "cdromCollection.count", "cdromCollection",
                      "cdromCollection.item(0)"},
                     1},
        TFailureCase{"Eject",
                     12,
                     "cdrom0.eject",
                     {"playState", "cdromCollection", "cdromCollection.count", "cdromCollection",
                      "cdromCollection.item(0)", "cdrom0.eject"},
                     1}),
    [](const testing::TestParamInfo<TFailureCase>& info) { return std::string(info.param.name); });

TEST_F(WmpAdapter, ACoreThatFailsPlayStateFailsEveryCommand) {
    TFakeWmpCore core(1);
    core.State.Failures["playState"] = E_UNEXPECTED;
    TWmpHidProcessor engine;
    engine.SetCore(core.Interface());
    for (TActionCode code : OfferedCodes()) {
        if (code == 0) continue;
        core.State.Log.clear();
        EXPECT_EQ(RaisedBy(engine, code), E_UNEXPECTED) << int(code);
        EXPECT_EQ(core.State.Log, TLog{"playState"}) << int(code);
    }
    EXPECT_EQ(core.SubObjectRefs(), 0u);
}

TEST_F(WmpAdapter, ACoreThatRefusesTheVolumeFailsOnlyTheVolumeCommands) {
    TFakeWmpCore core(1);
    core.State.Volume = 40;
    core.State.Failures["settings.get_volume"] = E_ACCESSDENIED;
    TWmpHidProcessor engine;
    engine.SetCore(core.Interface());
    for (TActionCode code : OfferedCodes()) {
        if (code == 0) continue;
        const HRESULT expected = code == 5 || code == 6 ? E_ACCESSDENIED : S_OK;
        EXPECT_EQ(RaisedBy(engine, code), expected) << int(code);
    }
    EXPECT_EQ(core.State.Volume, 40);
    EXPECT_EQ(core.SubObjectRefs(), 0u);
    EXPECT_EQ(core.Refs(), 1u);
}

// --- The error text -------------------------------------------------------------------

TEST_F(WmpAdapter, ThePlayersErrorDescriptionBecomesTheMessage) {
    constexpr HRESULT Refused = static_cast<HRESULT>(0x80040202);
    TFakeWmpCore core;
    core.State.ErrorDescription = L"The volume is locked by policy.\r\n";
    core.State.Failures["settings.put_volume(54)"] = Refused;
    TWmpHidProcessor engine;
    engine.SetCore(core.Interface());
    std::string message;
    EXPECT_EQ(RaisedBy(engine, 5, &message), Refused);
    EXPECT_EQ(message, "The volume is locked by policy.");
    EXPECT_EQ(core.SubObjectRefs(), 0u);
}

TEST_F(WmpAdapter, ErrorInformationIsNotTakenFromAnObjectThatDoesNotVouchForIt) {
    // Left over from some other call on this thread.
    SetFakeErrorInfo(L"stale description", __uuidof(IWMPSettings));
    constexpr HRESULT Refused = static_cast<HRESULT>(0x80041234);
    TFakeWmpCore core;
    core.State.Failures["settings.get_volume"] = Refused;
    TWmpHidProcessor engine;
    engine.SetCore(core.Interface());
    std::string message;
    EXPECT_EQ(RaisedBy(engine, 5, &message), Refused);
    EXPECT_EQ(message, "OLE error 80041234");
}

TEST_F(WmpAdapter, AnObjectWithoutADescriptionGetsTheSystemsText) {
    TFakeWmpCore core;
    core.State.Failures["controls.next"] = E_ACCESSDENIED;
    TWmpHidProcessor engine;
    engine.SetCore(core.Interface());
    std::string message;
    EXPECT_EQ(RaisedBy(engine, 2, &message), E_ACCESSDENIED);
    EXPECT_EQ(message, OleErrorText(E_ACCESSDENIED, nullptr, GUID_NULL));
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(message.find("OLE error"), std::string::npos) << message;
    EXPECT_NE(message.back(), '\n');
}

TEST(OleCheck, PassesSuccessResults) {
    EXPECT_NO_THROW(OleCheck(S_OK));
    EXPECT_NO_THROW(OleCheck(S_FALSE));
    EXPECT_NO_THROW(OleCheck(static_cast<HRESULT>(0x000D1105)));
    EXPECT_THROW(OleCheck(E_FAIL), EOleException);
}

TEST(OleCheck, IsAnExceptionOfTheSystem) {
    try {
        OleCheck(static_cast<HRESULT>(0x8004ABCD));
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "OLE error 8004ABCD");
    }
}

// What escapes DoCommand in a timer handler ends in the UI thread's error report.
TEST_F(WmpAdapter, TheRaisedMessageIsWhatTheUiErrorReportShows) {
    TErrorRecorder recorder;
    TFakeWmpCore core;
    core.State.ErrorDescription = L"Player is busy";
    core.State.Failures["controls"] = E_FAIL;
    TWmpHidProcessor engine;
    engine.SetCore(core.Interface());
    try {
        engine.DoCommand(4);
    } catch (...) {
        HandleUiException();
    }
    // The core answers for IWMPCore only, which is where controls was read.
    EXPECT_EQ(recorder.Reports(), std::vector<std::string>{"Player is busy"});
}

// --- Wine's own player control ----------------------------------------------------------

class WinePlayerControl : public WmpAdapter {
protected:
    void SetUp() override {
        WmpAdapter::SetUp();
        TComPtr<IUnknown> control;
        const HRESULT created = CoCreateInstance(__uuidof(WindowsMediaPlayer), nullptr, CLSCTX_INPROC_SERVER,
                                                 IID_IUnknown, reinterpret_cast<void**>(control.put()));
        if (FAILED(created))
            GTEST_SKIP() << "the player control cannot be created in this prefix: " << Hex(created) << " "
                         << OleErrorText(created, nullptr, GUID_NULL);
        ASSERT_EQ(control->QueryInterface(__uuidof(IWMPCore), reinterpret_cast<void**>(core.put())), S_OK);
    }
    void TearDown() override {
        core.reset();
        WmpAdapter::TearDown();
    }
    ULONG Refs() const {
        core->AddRef();
        return core->Release();
    }
    // Read through the control's settings, not through the adapter.
    HRESULT Volume(LONG& volume) const {
        TComPtr<IWMPSettings> settings;
        const HRESULT hr = core->get_settings(settings.put());
        if (FAILED(hr) || !settings) return FAILED(hr) ? hr : E_POINTER;
        return settings->get_volume(&volume);
    }

    TComPtr<IWMPCore> core;
};

// Wine 8's control answers E_NOTIMPL for playState, so there every command has to
// fail on its first call; a control that answers it must take the volume steps.
TEST_F(WinePlayerControl, CommandsFailCleanlyOrSucceedAsThePlayStateAnswers) {
    WMPPlayState state = wmppsUndefined;
    const HRESULT stateResult = core->get_playState(&state);
    LONG volumeBefore = 0;
    const HRESULT volumeResult = Volume(volumeBefore);
    const ULONG refsBefore = Refs();
    {
        TWmpHidProcessor engine;
        engine.SetCore(core.get());
        EXPECT_EQ(Refs(), refsBefore + 1);
        if (FAILED(stateResult)) {
            for (TActionCode code : OfferedCodes()) {
                if (code == 0) continue;
                std::string message;
                EXPECT_EQ(RaisedBy(engine, code, &message), stateResult) << int(code);
                EXPECT_EQ(message, OleErrorText(stateResult, core.get(), __uuidof(IWMPCore))) << int(code);
                EXPECT_FALSE(message.empty()) << int(code);
            }
        } else if (SUCCEEDED(volumeResult)) {
            EXPECT_EQ(RaisedBy(engine, 5), S_OK);
            EXPECT_EQ(RaisedBy(engine, 6), S_OK);
        }
        EXPECT_EQ(Refs(), refsBefore + 1);
    }
    EXPECT_EQ(Refs(), refsBefore);
    if (SUCCEEDED(volumeResult)) {
        LONG volumeAfter = -1;
        ASSERT_EQ(Volume(volumeAfter), S_OK);
        if (FAILED(stateResult)) {
            EXPECT_EQ(volumeAfter, volumeBefore);
        }
        // The control may clamp either step; put its own value back.
        TComPtr<IWMPSettings> settings;
        ASSERT_EQ(core->get_settings(settings.put()), S_OK);
        settings->put_volume(volumeBefore);
    }
}
