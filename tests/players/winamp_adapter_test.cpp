// The Winamp adapter against real windows that stand in for Winamp's main window.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>
#include <vector>

#include "players/HidProcessorWinamp.h"
#include "players/winamp.h"
#include "rtl/files.h"
#include "rtl/virtualclock.h"
#include "rtl/win32/handle.h"
#include "tests/support/fake_port.h"
#include "tests/support/temp_folder.h"

namespace {
using TMessage = std::tuple<UINT, WPARAM, LPARAM>;
using TMessages = std::vector<TMessage>;

// Records what is posted to it and answers the play-state query.
class TFakeWinamp {
public:
    TFakeWinamp() {
        static const ATOM atom = [] {
            WNDCLASSA wc{};
            wc.lpfnWndProc = &Proc;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.lpszClassName = "KwFakeWinamp";
            return RegisterClassA(&wc);
        }();
        window_.reset(CreateWindowExA(0, MAKEINTATOM(atom), "Winamp", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      GetModuleHandleA(nullptr), this));
    }
    HWND Handle() const { return window_.get(); }

    // Serves the queue and returns what was posted since the last call.
    TMessages TakePosted() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            dispatching_ = msg.hwnd == Handle();
            DispatchMessageA(&msg);
            dispatching_ = false;
        }
        return std::exchange(posted_, {});
    }

    std::atomic<LRESULT> playState{0};
    std::atomic<int> queries{0};

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_NCCREATE)
            SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
        auto* self = reinterpret_cast<TFakeWinamp*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (self && (msg == WM_COMMAND || msg == WM_USER)) {
            // Posted messages come through the queue; a send from this thread
            // calls the procedure directly, one from another thread is InSendMessage.
            if (!self->dispatching_ || InSendMessage()) {
                // Only the play-state query may be sent, never a command.
                EXPECT_EQ(msg, static_cast<UINT>(WM_USER));
                EXPECT_EQ(wParam, 0u);
                EXPECT_EQ(lParam, winamp::IpcIsPlaying);
                ++self->queries;
                return self->playState.load();
            }
            self->posted_.emplace_back(msg, wParam, lParam);
            return 0;
        }
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }

    TUniqueWindow window_;
    TMessages posted_;
    bool dispatching_ = false;
};

TMessage Command(WPARAM id) { return {WM_COMMAND, id, 0}; }
TMessage Volume(WPARAM volume) { return {WM_USER, volume, winamp::IpcSetVolume}; }

class WinampAdapterTest : public testing::Test {
protected:
    TFakeWinamp winamp;
    TWinampHidProcessor engine{winamp.Handle()};
};

TEST_F(WinampAdapterTest, OffersItsActionsAndItsSettingsFile) {
    EXPECT_EQ(engine.SupportedActions, 0x27FF);
    EXPECT_EQ(engine.FileName, "kwhid.ini");
    EXPECT_FALSE(engine.Muted);
    EXPECT_EQ(engine.HostWindow, winamp.Handle());

    TTempFolder dir;
    const std::string file = dir.Path("kwhid.ini");
    ASSERT_TRUE(ReplaceFileContent(file, "Action00=MFFFFFFFFFFFFFFFF0\r\nAction01=BFFFFFFFFFFFFFFFF0\r\n"));
    engine.LoadFromFile(file);
    ASSERT_EQ(engine.Count(), 1) << "Eject is not offered to Winamp";
    EXPECT_EQ(engine.Items(0)->Code, 1);
}

struct TCommandCase {
    int code;
    LRESULT playState;
    TMessages posted;
    int queries;
};

class WinampCommands : public WinampAdapterTest, public testing::WithParamInterface<TCommandCase> {};

TEST_P(WinampCommands, PostTheButtonOfTheCode) {
    const TCommandCase& c = GetParam();
    winamp.playState = c.playState;
    engine.DoCommand(static_cast<TActionCode>(c.code));
    EXPECT_EQ(winamp.TakePosted(), c.posted) << "code " << c.code;
    EXPECT_EQ(winamp.queries.load(), c.queries);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WinampCommands,
    testing::Values(TCommandCase{1, 1, {Command(40046)}, 1},  // playing: Pause
                    TCommandCase{1, 0, {Command(40045)}, 1},  // stopped: Play
                    TCommandCase{1, 3, {Command(40045)}, 1},  // paused: Play
                    TCommandCase{2, 1, {Command(40048)}, 0}, TCommandCase{3, 1, {Command(40044)}, 0},
                    TCommandCase{4, 1, {Command(40047)}, 0}, TCommandCase{5, 1, {Command(40058)}, 0},
                    TCommandCase{6, 1, {Command(40059)}, 0}, TCommandCase{7, 1, {Command(40060)}, 0},
                    TCommandCase{8, 1, {Command(40061)}, 0}, TCommandCase{9, 1, {Command(40045)}, 0},
                    TCommandCase{10, 0, {Command(40046)}, 0}, TCommandCase{0, 1, {}, 0},
                    TCommandCase{11, 1, {}, 0}, TCommandCase{12, 1, {}, 0}, TCommandCase{14, 1, {}, 0},
                    TCommandCase{15, 1, {}, 0}));

TEST_F(WinampAdapterTest, MuteAlternatesBetweenSilenceAndHalfVolume) {
    for (int i = 0; i < 3; ++i) engine.DoCommand(13);
    EXPECT_EQ(winamp.TakePosted(), (TMessages{Volume(0), Volume(128), Volume(0)}));
    EXPECT_TRUE(engine.Muted);
    EXPECT_EQ(winamp.queries.load(), 0);
}

TEST_F(WinampAdapterTest, PostingToAWindowThatIsGoneFailsSilently) {
    TWinampHidProcessor orphan(nullptr);
    for (int code : {1, 2, 13}) EXPECT_NO_THROW(orphan.DoCommand(static_cast<TActionCode>(code)));
}

TEST_F(WinampAdapterTest, MatchedButtonPostsItsCommandFromTheQuietTimer) {
    auto clock = TVirtualClock::Install();
    TWinampHidProcessor timed(winamp.Handle());
    auto port = std::make_unique<TFakePort>(0);
    TFakePort& p = *port;
    auto* h = new THidDevicehandler(std::move(port));
    timed.Handlers.Add(h);
    p.SetOnAfterReceive(TOnReceived::Bind<&THidProcessor::ReportReceived>(&timed));
    h->QuietTimer->SetOnTimer(TNotifyEvent::Bind<&THidProcessor::QuietTimeout>(&timed));
    const std::vector<uint8_t> report = {3, 0xCD, 0};
    THidAction* next = timed.FindAction(2);
    next->PressSignature = UpdateSignature(report.data(), report.size(), SignatureNone);
    next->DeviceIndex = 0;

    p.Receive(report);
    clock->Advance(299);
    EXPECT_TRUE(winamp.TakePosted().empty());
    clock->Advance(1);
    EXPECT_EQ(winamp.TakePosted(), (TMessages{Command(40048)}));
}

// A Winamp whose thread is busy elsewhere and does not answer for a while.
TEST(WinampHungHost, PlayStateQueryIsBoundedAndChoosesPlay) {
    TUniqueEvent created(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    TUniqueEvent release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::atomic<HWND> hostWindow{nullptr};
    TMessages posted;
    std::thread host([&] {
        TFakeWinamp busy;
        busy.playState = 1;
        hostWindow = busy.Handle();
        SetEvent(created.get());
        WaitForSingleObject(release.get(), 10000);  // not serving its messages meanwhile
        posted = busy.TakePosted();
    });
    WaitForSingleObject(created.get(), 10000);

    TWinampHidProcessor engine(hostWindow.load());
    const ULONGLONG start = GetTickCount64();
    engine.DoCommand(1);
    const ULONGLONG waited = GetTickCount64() - start;
    SetEvent(release.get());
    host.join();

    EXPECT_LT(waited, 2000u) << "the UI thread must not hang on a silent player";
    std::printf("play-state query gave up after %llu ms\n", static_cast<unsigned long long>(waited));
    EXPECT_EQ(posted, (TMessages{Command(40045)})) << "no answer selects Play";
}
}  // namespace
