// A refused player call on the way a button press takes: quiet timer, match,
// command. The failure must reach the UI thread's generic error report and
// leave the held state untouched; the repeat keeps ticking through failures.
#include <gtest/gtest.h>

#include "players/HidProcessorWmp.h"
#include "rtl/virtualclock.h"
#include "tests/players/fake_wmp_core.h"
#include "tests/support/error_recorder.h"
#include "tests/support/fake_port.h"

namespace {
class WmpThroughTimers : public testing::Test {
protected:
    void SetUp() override {
        auto port = std::make_unique<TFakePort>(0);
        port_ = port.get();
        auto* h = new THidDevicehandler(std::move(port));
        engine.Handlers.Add(h);
        port_->SetOnAfterReceive(TOnReceived::Bind<&THidProcessor::ReportReceived>(&engine));
        h->QuietTimer->SetOnTimer(TNotifyEvent::Bind<&THidProcessor::QuietTimeout>(&engine));
        engine.SetCore(core.Interface());
    }
    void TearDown() override { engine.SetCore(nullptr); }

    THidAction* Learn(TActionCode code, const std::vector<uint8_t>& press, const std::vector<uint8_t>& release) {
        THidAction* a = engine.FindAction(code);
        a->DeviceIndex = 0;
        a->PressSignature = UpdateSignature(press.data(), press.size(), SignatureNone);
        if (!release.empty()) a->ReleaseSignature = UpdateSignature(release.data(), release.size(), SignatureNone);
        return a;
    }

    std::shared_ptr<TVirtualClock> clock = TVirtualClock::Install();
    TErrorRecorder errors;
    TFakeWmpCore core;
    TWmpHidProcessor engine;
    TFakePort* port_ = nullptr;
};

const std::vector<uint8_t> Press = {1, 0xE9}, Release = {1, 0};

TEST_F(WmpThroughTimers, RefusedPlayStateReachesTheErrorReportAndLeavesPressedAlone) {
    THidAction* up = Learn(5, Press, Release);
    core.State.Failures["playState"] = E_NOTIMPL;
    port_->Receive(Press);
    clock->Advance(300);
    ASSERT_EQ(errors.Reports().size(), 1u);
    EXPECT_FALSE(errors.Reports()[0].empty());
    EXPECT_FALSE(up->Pressed) << "the failing command skips the toggle";
    EXPECT_FALSE(engine.RepeatTimer->Enabled());
    EXPECT_EQ(core.SubObjectRefs(), 0u);
}

TEST_F(WmpThroughTimers, RepeatKeepsTickingWhileThePlayerRefusesTheVolume) {
    THidAction* up = Learn(5, Press, Release);
    port_->Receive(Press);
    clock->Advance(300);  // the press works: volume 50 -> 54, held
    ASSERT_TRUE(up->Pressed);
    EXPECT_EQ(core.State.Volume, 54);
    core.State.Failures["settings.get_volume"] = E_ACCESSDENIED;
    clock->Advance(1000);  // two refused repeat ticks
    EXPECT_EQ(errors.Reports().size(), 2u);
    EXPECT_TRUE(engine.RepeatTimer->Enabled()) << "a failing tick skips the stop test";
    EXPECT_EQ(core.State.Volume, 54);
    EXPECT_EQ(core.SubObjectRefs(), 0u);
}
}  // namespace
