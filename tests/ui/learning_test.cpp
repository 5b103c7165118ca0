// The learning dialog on the fake HID platform, its timers on the virtual clock.
#include <windows.h>

#include <commctrl.h>

#include <atomic>

#include "tests/ui/ui_fixture.h"
#include "ui/FrmHidAction.h"

namespace {
const char* const PressRelease = "Please PRESS and RELEASE needed button on remote control";
const char* const PressHold = "Please PRESS and HOLD needed button on remote control";
const char* const ReleaseNow = "Please RELEASE button on remote control now!";

class LearningTest : public UiTest {
protected:
    void TearDown() override {
        TfmHidAction::OpenSeam = nullptr;
        TfmHidAction::ClaimSeam = nullptr;
        UiTest::TearDown();
    }
    // Runs a learning dialog for code on device (-1: every device); script runs once it shows.
    int Learn(TfmHidAction& learn, TActionCode code, int device, std::function<void(TfmHidAction&)> script) {
        learn.FDeviceIndex = device;
        learn.FAction->Code = code;
        WhenShown([&learn, script](TForm&) { script(learn); });
        return learn.ShowModal();
    }
    static bool Open(const TfmHidAction& learn) { return learn.ModalResult() == mrNone; }
    static int Progress(TfmHidAction& learn) { return static_cast<int>(learn.pbTotal.Send(PBM_GETPOS)); }
};
}  // namespace

TEST_F(LearningTest, CaptionAndPromptFollowTheCode) {
    struct TCase {
        TActionCode code;
        const char* caption;
        const char* prompt;
    };
    AddDevice(L"Remote");
    for (const TCase& c : {TCase{0, "Detection an active HID", PressRelease}, TCase{1, "HID Action: Play/Pause", PressRelease},
                           TCase{5, "HID Action: Volume Up", PressHold}, TCase{6, "HID Action: Volume Down", PressHold},
                           TCase{7, "HID Action: Forward", PressHold}, TCase{8, "HID Action: Backward", PressHold},
                           TCase{13, "HID Action: Mute", PressRelease}}) {
        SCOPED_TRACE(c.caption);
        TfmHidAction learn(nullptr);
        std::string caption, prompt, footer;
        Learn(learn, c.code, -1, [&](TfmHidAction& f) {
            caption = f.Caption();
            prompt = f.lMessage.Text();
            footer = f.Label2.Text();
            f.Close();
        });
        EXPECT_EQ(caption, c.caption);
        EXPECT_EQ(prompt, c.prompt);
        EXPECT_EQ(footer, "(... or wait 10 second if you want to reset action ...)");
    }
}

TEST_F(LearningTest, OneBurstCompletesANonRepeatableAction) {
    AddDevice(L"Remote A");
    const int b = AddDevice(L"Remote B");
    TfmHidAction learn(nullptr);
    learn.FAction->ReleaseSignature = 0x1234;  // reset at showing
    bool openAfterGap = false;
    const int result = Learn(learn, 2, -1, [&](TfmHidAction& f) {
        EXPECT_EQ(f.FPorts.size(), 2u);
        Press(b, {0x10, 0x20});
        clock->Advance(499);  // each report restarts the full 500 ms
        Press(b, {0x00});
        clock->Advance(499);
        openAfterGap = Open(f);
        clock->Advance(1);
    });
    EXPECT_TRUE(openAfterGap);
    EXPECT_EQ(result, mrOk);
    EXPECT_EQ(learn.FAction->PressSignature, SignatureOf({{0x10, 0x20}, {0x00}}));
    EXPECT_EQ(learn.FAction->ReleaseSignature, SignatureNone);
    EXPECT_EQ(learn.FAction->DeviceIndex, 1);
    EXPECT_EQ(learn.FDeviceIndex, 1);
    EXPECT_EQ(learn.FAction->Code, 2);
    EXPECT_TRUE(learn.FPorts.empty());
    EXPECT_EQ(KwFake_OpenHandleCount(b), 0);
}

TEST_F(LearningTest, ARepeatableActionTakesAPressThenAReleaseAfterItsPrompt) {
    const int a = AddDevice(L"Remote");
    TfmHidAction learn(nullptr);
    std::string prompt;
    int progress = -1;
    const int result = Learn(learn, 5, 0, [&](TfmHidAction& f) {
        clock->Advance(3000);
        Press(a, {0x05});
        clock->Advance(500);
        prompt = f.lMessage.Text();
        progress = Progress(f);
        EXPECT_TRUE(Open(f));
        EXPECT_FALSE(f.FAction->Pressed);
        clock->Advance(9000);  // a fresh countdown for the release
        EXPECT_TRUE(Open(f));
        Press(a, {0x00});
        clock->Advance(500);
    });
    EXPECT_EQ(prompt, ReleaseNow);
    EXPECT_EQ(progress, 0);
    EXPECT_EQ(result, mrOk);
    EXPECT_EQ(learn.FAction->PressSignature, SignatureOf({{0x05}}));
    EXPECT_EQ(learn.FAction->ReleaseSignature, SignatureOf({{0x00}}));
    EXPECT_EQ(learn.FAction->DeviceIndex, 0);
}

TEST_F(LearningTest, TheTenSecondCountdownEndsWithCancel) {
    // The ticks of the countdown: from each phase's start; reports never hold it.
    struct TCase {
        const char* name;
        TActionCode code;
        // Steps: a report (press) at the given time; the run must end with Cancel at end.
        std::vector<uint64_t> reports;
        uint64_t end;
    };
    const int a = AddDevice(L"Remote");
    std::vector<uint64_t> burst;
    for (uint64_t t = 0; t < 10000; t += 400) burst.push_back(t);
    for (const TCase& c : {TCase{"no report", 1, {}, 10000}, TCase{"a burst all the time", 1, burst, 10000},
                           TCase{"a press at 9.8 s", 1, {9800}, 10000},
                           TCase{"no release", 6, {0}, 10500}}) {
        SCOPED_TRACE(c.name);
        TfmHidAction learn(nullptr);
        std::vector<int> ticks;
        uint64_t endedAt = 0;
        const uint64_t start = clock->Now();
        const int result = Learn(learn, c.code, -1, [&](TfmHidAction& f) {
            size_t next = 0;
            while (Open(f) && clock->Now() - start < 20000) {
                if (next < c.reports.size() && clock->Now() - start == c.reports[next]) {
                    Press(a, {0x01});
                    ++next;
                }
                clock->Advance(100);
            }
            endedAt = clock->Now() - start;
        });
        EXPECT_EQ(result, mrCancel);
        // The last step of 100 ms is the one in which it ended.
        EXPECT_EQ(endedAt, c.end);
        EXPECT_EQ(learn.FDeviceIndex, -1);
        EXPECT_TRUE(learn.FPorts.empty());
    }
}

TEST_F(LearningTest, DetectionListensOnEveryDeviceAndTakesTheLastSender) {
    const int a = AddDevice(L"Remote A");
    AddDevice(L"Remote B");
    const int c = AddDevice(L"Remote C");
    TfmHidAction learn(nullptr);
    const int result = Learn(learn, 0, -1, [&](TfmHidAction& f) {
        ASSERT_EQ(f.FPorts.size(), 3u);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(f.FPorts[static_cast<size_t>(i)]->DeviceIndex(), i);
        Press(a, {0xA1});
        clock->Advance(200);
        Press(c, {0xC3, 0x01});
        clock->Advance(500);
    });
    EXPECT_EQ(result, mrOk);
    EXPECT_EQ(learn.FAction->PressSignature, SignatureOf({{0xA1}, {0xC3, 0x01}}));
    EXPECT_EQ(learn.FAction->DeviceIndex, 2);
    EXPECT_EQ(learn.FDeviceIndex, 2);
}

TEST_F(LearningTest, ARunForOneDeviceOpensOnlyThatOne) {
    const int a = AddDevice(L"Remote A");
    const int b = AddDevice(L"Remote B");
    TfmHidAction learn(nullptr);
    learn.FAction->DeviceIndex = 3;
    const int result = Learn(learn, 1, 1, [&](TfmHidAction& f) {
        EXPECT_EQ(f.FPorts.size(), 1u);
        EXPECT_EQ(KwFake_OpenHandleCount(a), 0);
        Press(b, {0x42});
        clock->Advance(500);
    });
    EXPECT_EQ(result, mrOk);
    EXPECT_EQ(learn.FAction->DeviceIndex, 1);
    EXPECT_EQ(learn.FDeviceIndex, 1);
    EXPECT_EQ(learn.FAction->PressSignature, SignatureOf({{0x42}}));
}

TEST_F(LearningTest, APortThatFailsToOpenShowsItsErrorAndTheRunGoesOn) {
    const int a = AddDevice(L"Remote A");
    const int b = AddDevice(L"Remote B");
    const int c = AddDevice(L"Remote C");
    // Remote B goes between the enumeration of its port and the open.
    static int unplug;
    unplug = b;
    TfmHidAction::OpenSeam = [](TkwHid& port) {
        if (port.DeviceIndex() == 1) KwFake_Unplug(unplug);
    };
    TfmHidAction learn(nullptr);
    const int result = Learn(learn, 1, -1, [&](TfmHidAction& f) {
        ASSERT_EQ(boxes().size(), 1u);
        EXPECT_EQ(boxes()[0].caption, "Error!");
        EXPECT_FALSE(boxes()[0].text.empty());
        EXPECT_TRUE(boxes()[0].type & MB_ICONERROR);
        ASSERT_EQ(f.FPorts.size(), 2u);  // the failed one stays, closed; none after it
        EXPECT_TRUE(f.FPorts[0]->TkwBaseIO::Active());
        EXPECT_FALSE(f.FPorts[1]->TkwBaseIO::Active());
        EXPECT_EQ(KwFake_OpenHandleCount(c), 0);
        Press(a, {0x11});
        clock->Advance(500);
    });
    EXPECT_EQ(result, mrOk);
    EXPECT_EQ(learn.FDeviceIndex, 0);
}

TEST_F(LearningTest, NoDeviceSelectedShowsItsErrorAndEndsWithCancel) {
    AddDevice(L"Remote");
    TfmHidAction learn(nullptr);
    const int result = Learn(learn, 1, -2, [&](TfmHidAction& f) {
        ASSERT_EQ(boxes().size(), 1u);
        EXPECT_EQ(boxes()[0].text, "Active device is not selected");
        EXPECT_EQ(boxes()[0].caption, "Error!");
        clock->Advance(10000);
        EXPECT_FALSE(Open(f));
    });
    EXPECT_EQ(result, mrCancel);
}

TEST_F(LearningTest, DetectionWithoutDevicesOpensNothingAndCancelsAfterTenSeconds) {
    TfmHidAction learn(nullptr);
    const int result = Learn(learn, 0, -1, [&](TfmHidAction& f) {
        EXPECT_TRUE(f.FPorts.empty());
        EXPECT_TRUE(boxes().empty());
        clock->Advance(9999);
        EXPECT_TRUE(Open(f));
        clock->Advance(1);
    });
    EXPECT_EQ(result, mrCancel);
}

// Two reading threads at once: the first to take a slot of the ring is held before it
// publishes its report while the second publishes and posts. The UI thread must wait for
// the first, then fold both in the order their slots were taken.
TEST_F(LearningTest, ReportsOfTwoPortsAreFoldedInArrivalOrderWhenTheLaterOnePublishesFirst) {
    const int a = AddDevice(L"Remote A");
    const int b = AddDevice(L"Remote B");
    static HANDLE claimed, release;
    static std::atomic<TObject*> held;
    TUniqueEvent claimedEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    TUniqueEvent releaseEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    claimed = claimedEvent.get();
    release = releaseEvent.get();
    held = nullptr;
    TfmHidAction learn(nullptr);
    TfmHidAction::ClaimSeam = [](TObject* port) {
        // Only the first report is held.
        if (held.load() || WaitForSingleObject(claimed, 0) == WAIT_OBJECT_0) return;
        held = port;
        SetEvent(claimed);
        WaitForSingleObject(release, INFINITE);
    };
    uint32_t beforeRelease = 0;
    bool quietBeforeRelease = true;
    const int result = Learn(learn, 1, -1, [&](TfmHidAction& f) {
        const uint8_t first = 0xA1;
        ASSERT_GE(KwFake_SendReport(a, &first, 1), 1);
        ASSERT_EQ(WaitForSingleObject(claimed, 10000), WAIT_OBJECT_0);
        Press(b, {0xB2});  // published and posted while the first is held
        beforeRelease = f.FAction->PressSignature;
        quietBeforeRelease = !f.timerTimeout->Enabled();
        SetEvent(release);
        for (int i = 0; i < 10000 && !clock->HasPosted(); ++i) Sleep(1);
        clock->RunPending();
        clock->Advance(500);
    });
    TfmHidAction::ClaimSeam = nullptr;
    EXPECT_EQ(beforeRelease, SignatureNone);
    EXPECT_TRUE(quietBeforeRelease);
    EXPECT_EQ(result, mrOk);
    EXPECT_EQ(learn.FAction->PressSignature, SignatureOf({{0xA1}, {0xB2}}));
    EXPECT_EQ(learn.FAction->DeviceIndex, 1);
}
