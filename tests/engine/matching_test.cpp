// Bursts, matching and repeat on the virtual clock, with exact times.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "engine/hidprocessor.h"
#include "rtl/exception.h"
#include "rtl/virtualclock.h"
#include "tests/support/error_recorder.h"
#include "tests/support/fake_port.h"

namespace {
using TReport = std::vector<uint8_t>;
using TCommands = std::vector<std::pair<uint64_t, int>>;  // (time, code)

uint32_t Fold(std::initializer_list<TReport> reports) {
    uint32_t s = SignatureNone;
    for (const TReport& r : reports) s = UpdateSignature(r.data(), r.size(), s);
    return s;
}

const TReport Press = {0x01, 0xE9, 0x00};
const TReport Release = {0x01, 0x00, 0x00};
const TReport Other = {0x02, 0x40};

class TRecordingEngine : public THidProcessor {
public:
    explicit TRecordingEngine(TVirtualClock& clock) : clock_(clock) {}
    void DoCommand(TActionCode code) override {
        commands.emplace_back(clock_.Now(), code);
        if (code == failingCode) throw Exception("command " + std::to_string(code) + " failed");
    }
    TCommands commands;
    int failingCode = -1;

private:
    TVirtualClock& clock_;
};

class MatchingTest : public testing::Test {
protected:
    // A handler for device, wired as the engine wires its handlers.
    TFakePort& AddHandler(int device) {
        auto port = std::make_unique<TFakePort>(device);
        TFakePort& p = *port;
        auto* h = new THidDevicehandler(std::move(port));
        const int position = engine.Handlers.Add(h);
        p.SetTag(position);
        h->QuietTimer->SetTag(position);
        p.SetOnAfterReceive(TOnReceived::Bind<&THidProcessor::ReportReceived>(&engine));
        h->QuietTimer->SetOnTimer(TNotifyEvent::Bind<&THidProcessor::QuietTimeout>(&engine));
        return p;
    }

    THidAction* AddAction(int code, uint32_t press, uint32_t release = SignatureNone, int device = 0) {
        auto* a = new THidAction();
        a->Code = static_cast<TActionCode>(code);
        a->PressSignature = press;
        a->ReleaseSignature = release;
        a->DeviceIndex = device;
        engine.Add(a);
        return a;
    }

    void At(uint64_t time, TFakePort& port, const TReport& report) {
        clock->AdvanceTo(time);
        port.Receive(report);
    }

    std::shared_ptr<TVirtualClock> clock = TVirtualClock::Install();
    TRecordingEngine engine{*clock};
};

TEST_F(MatchingTest, ReportsCloserThanTheQuietTimeFormOneBurst) {
    TFakePort& dev = AddHandler(0);
    AddAction(2, Fold({Press}));
    AddAction(1, Fold({Press, Release}));
    At(0, dev, Press);
    At(200, dev, Release);
    clock->AdvanceTo(499);
    EXPECT_TRUE(engine.commands.empty());
    clock->AdvanceTo(3000);
    EXPECT_EQ(engine.commands, (TCommands{{500, 1}}));
    EXPECT_EQ(engine.Handlers.Items(0)->Signature(), Fold({Press, Release})) << "kept until the next burst";
}

TEST_F(MatchingTest, ReportsFurtherApartFormTwoBursts) {
    TFakePort& dev = AddHandler(0);
    AddAction(2, Fold({Press}));
    AddAction(3, Fold({Release}));
    At(0, dev, Press);
    At(400, dev, Release);
    clock->AdvanceTo(3000);
    EXPECT_EQ(engine.commands, (TCommands{{300, 2}, {700, 3}}));
}

TEST_F(MatchingTest, EveryReportRestartsTheQuietPeriod) {
    TFakePort& dev = AddHandler(0);
    AddAction(4, Fold({Press, Press, Press, Press}));
    for (uint64_t t : {0, 299, 598, 897}) At(t, dev, Press);
    clock->AdvanceTo(5000);
    EXPECT_EQ(engine.commands, (TCommands{{1197, 4}}));
}

TEST_F(MatchingTest, BurstOnlySelectsActionsOfItsOwnDevice) {
    TFakePort& dev0 = AddHandler(0);
    TFakePort& dev1 = AddHandler(1);
    AddAction(2, Fold({Press}), SignatureNone, 1);
    At(0, dev0, Press);
    clock->AdvanceTo(1000);
    EXPECT_TRUE(engine.commands.empty());
    At(1000, dev1, Press);
    clock->AdvanceTo(2000);
    EXPECT_EQ(engine.commands, (TCommands{{1300, 2}}));
}

TEST_F(MatchingTest, DevicesHaveBurstsOfTheirOwn) {
    TFakePort& dev0 = AddHandler(0);
    TFakePort& dev1 = AddHandler(1);
    AddAction(2, Fold({Press}), SignatureNone, 0);
    AddAction(3, Fold({Other}), SignatureNone, 1);
    At(0, dev0, Press);
    At(100, dev1, Other);
    At(200, dev0, Release);  // continues device 0's burst only
    clock->AdvanceTo(2000);
    EXPECT_EQ(engine.commands, (TCommands{{400, 3}}));
}

// Two actions of code 1 where only the second matches; then two codes, one signature.
struct TModeCase {
    const char* name;
    bool extended;
    std::vector<std::pair<int, uint32_t>> actions;  // (code, press signature)
    std::vector<int> fired;
};

class ModeRules : public MatchingTest, public testing::WithParamInterface<TModeCase> {};

TEST_P(ModeRules, SelectTheActionTheModeAllows) {
    TFakePort& dev = AddHandler(0);
    engine.Mode = GetParam().extended;
    for (auto [code, press] : GetParam().actions) AddAction(code, press);
    At(0, dev, Press);
    clock->AdvanceTo(1000);
    std::vector<int> fired;
    for (auto [time, code] : engine.commands) fired.push_back(code);
    EXPECT_EQ(fired, GetParam().fired);
}

const uint32_t P = Fold({Press});
INSTANTIATE_TEST_SUITE_P(
    Matching, ModeRules,
    testing::Values(TModeCase{"SimpleModeOnlyTheFirstOfACode", false, {{1, 0x12345678}, {1, P}}, {}},
                    TModeCase{"ExtendedModeAnyActionOfACode", true, {{1, 0x12345678}, {1, P}}, {1}},
                    TModeCase{"SimpleModeEarlierCodeWins", false, {{2, P}, {3, P}}, {2}},
                    TModeCase{"ExtendedModeEarlierCodeWins", true, {{2, P}, {3, P}}, {2}},
                    TModeCase{"SimpleModeFirstOfEachCodeTakesPart", false, {{3, 0x1}, {2, P}, {3, P}}, {2}},
                    TModeCase{"CodeZeroSendsNothing", true, {{0, P}, {2, P}}, {}}),
    [](const testing::TestParamInfo<TModeCase>& info) { return info.param.name; });

TEST_F(MatchingTest, RepeatableActionWithoutReleaseFiresOncePerBurst) {
    TFakePort& dev = AddHandler(0);
    THidAction* up = AddAction(5, Fold({Press}));
    At(0, dev, Press);
    At(1000, dev, Press);
    clock->AdvanceTo(5000);
    EXPECT_EQ(engine.commands, (TCommands{{300, 5}, {1300, 5}}));
    EXPECT_FALSE(up->Pressed);
    EXPECT_FALSE(engine.RepeatTimer->Enabled());
}

TEST_F(MatchingTest, HeldButtonRepeatsEveryHalfSecondUntilReleased) {
    TFakePort& dev = AddHandler(0);
    THidAction* up = AddAction(5, Fold({Press}), Fold({Release}));
    At(0, dev, Press);
    At(1900, dev, Release);
    clock->AdvanceTo(2199);
    EXPECT_TRUE(up->Pressed);
    clock->AdvanceTo(2200);
    EXPECT_FALSE(engine.RepeatTimer->Enabled());
    clock->AdvanceTo(10000);
    EXPECT_EQ(engine.commands, (TCommands{{300, 5}, {800, 5}, {1300, 5}, {1800, 5}, {2200, 5}}));
    EXPECT_FALSE(up->Pressed);
}

TEST_F(MatchingTest, RepeatEndsAfterSixtyFourTicksButTheReleaseStillCounts) {
    TFakePort& dev = AddHandler(0);
    THidAction* back = AddAction(8, Fold({Press}), Fold({Release}));
    At(0, dev, Press);
    clock->AdvanceTo(40000);
    ASSERT_EQ(engine.commands.size(), 1u + 64u);
    EXPECT_EQ(engine.commands.back(), (std::pair<uint64_t, int>{800 + 63 * 500, 8}));
    EXPECT_FALSE(engine.RepeatTimer->Enabled());
    EXPECT_TRUE(back->Pressed);
    At(40000, dev, Release);
    clock->AdvanceTo(41000);
    EXPECT_EQ(engine.commands.back(), (std::pair<uint64_t, int>{40300, 8}));
    EXPECT_FALSE(back->Pressed);
}

TEST_F(MatchingTest, MissedReleaseKeepsTheActionHeldUntilTheNextRelease) {
    TFakePort& dev = AddHandler(0);
    THidAction* up = AddAction(6, Fold({Press}), Fold({Release}));
    At(0, dev, Press);  // its release report is lost
    At(1000, dev, Press);
    clock->AdvanceTo(1350);
    EXPECT_EQ(engine.commands, (TCommands{{300, 6}, {800, 6}, {1300, 6}})) << "the second press only repeats";
    At(1400, dev, Release);
    clock->AdvanceTo(3000);
    EXPECT_EQ(engine.commands.back(), (std::pair<uint64_t, int>{1700, 6}));
    EXPECT_FALSE(up->Pressed);
    EXPECT_FALSE(engine.RepeatTimer->Enabled());
}

TEST_F(MatchingTest, TwoHeldActionsRepeatTogetherAndTheSecondPressResetsTheCount) {
    TFakePort& dev0 = AddHandler(0);
    TFakePort& dev1 = AddHandler(1);
    AddAction(5, Fold({Press}), Fold({Release}), 0);
    AddAction(7, Fold({Other}), Fold({Release}), 1);
    At(0, dev0, Press);
    At(600, dev1, Other);
    clock->AdvanceTo(1300);
    EXPECT_EQ(engine.commands, (TCommands{{300, 5}, {800, 5}, {900, 7}, {1300, 5}, {1300, 7}}));
    EXPECT_EQ(engine.RepeatCount, 1) << "reset by the press at 900";
}

TEST_F(MatchingTest, FailingCommandInTheQuietTimeoutLeavesPressedAlone) {
    TErrorRecorder errors;
    TFakePort& dev = AddHandler(0);
    THidAction* up = AddAction(5, Fold({Press}), Fold({Release}));
    engine.failingCode = 5;
    At(0, dev, Press);
    clock->AdvanceTo(1000);
    EXPECT_EQ(engine.commands, (TCommands{{300, 5}}));
    EXPECT_FALSE(up->Pressed);
    EXPECT_FALSE(engine.RepeatTimer->Enabled());
    EXPECT_EQ(errors.Reports(), (std::vector<std::string>{"command 5 failed"}));
}

TEST_F(MatchingTest, FailingCommandInARepeatTickSkipsTheRestAndKeepsTheTimerRunning) {
    TErrorRecorder errors;
    TFakePort& dev0 = AddHandler(0);
    TFakePort& dev1 = AddHandler(1);
    AddAction(6, Fold({Press}), Fold({Release}), 0);
    AddAction(7, Fold({Other}), Fold({Release}), 1);
    At(0, dev0, Press);
    At(0, dev1, Other);
    clock->AdvanceTo(400);
    engine.failingCode = 6;
    clock->AdvanceTo(1300);
    EXPECT_EQ(engine.commands, (TCommands{{300, 6}, {300, 7}, {800, 6}, {1300, 6}})) << "7 skipped in failing ticks";
    EXPECT_TRUE(engine.RepeatTimer->Enabled());
    EXPECT_EQ(errors.Reports().size(), 2u);
    // Once nothing is held and nothing fails, the next tick stops the timer.
    engine.failingCode = -1;
    for (int i = 0; i < engine.Count(); ++i) engine.Items(i)->Pressed = false;
    clock->AdvanceTo(1800);
    EXPECT_FALSE(engine.RepeatTimer->Enabled());
}

TEST_F(MatchingTest, BurstCancelledWhileItsTimerRunsIsNeverMatched) {
    TFakePort& dev = AddHandler(0);
    AddAction(2, Fold({Press}));
    At(0, dev, Press);
    clock->AdvanceTo(100);
    engine.Handlers.Items(0)->CancelBurst();
    clock->AdvanceTo(2000);
    EXPECT_TRUE(engine.commands.empty());
    At(2000, dev, Press);
    clock->AdvanceTo(2300);
    EXPECT_EQ(engine.commands, (TCommands{{2300, 2}}));
}
}  // namespace
