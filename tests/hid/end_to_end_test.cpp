// From a button on a (fake) HID device to the player, on real ports and real
// timers: settings file, device handlers, matching, repeat and the adapters.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/kwcrc.h"
#include "hid/kwhid.h"
#include "hid/kwhidw32.h"
#include "hid/kwwin32di.h"
#include "players/HidProcessorWinamp.h"
#include "players/HidProcessorWmp.h"
#include "rtl/files.h"
#include "rtl/format.h"
#include "tests/fakeos/fakeos.h"
#include "tests/hid/bindings_fixture.h"
#include "tests/players/fake_wmp_core.h"
#include "tests/support/temp_folder.h"

namespace {
constexpr USHORT ReportLength = 4;

// What the player's main window is posted, with the time it arrived.
struct TPosted {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    ULONGLONG at;
};

class TPlayerWindow {
public:
    TPlayerWindow() {
        static const ATOM atom = [] {
            WNDCLASSA wc{};
            wc.lpfnWndProc = &Proc;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.lpszClassName = "KwEndToEndPlayer";
            return RegisterClassA(&wc);
        }();
        window_.reset(CreateWindowExA(0, MAKEINTATOM(atom), "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      GetModuleHandleA(nullptr), nullptr));
        SetWindowLongPtrA(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    HWND Handle() const { return window_.get(); }
    std::vector<TPosted> posted;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<TPlayerWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (self && (msg == WM_COMMAND || (msg == WM_USER && lParam != 104))) {
            self->posted.push_back({msg, wParam, lParam, GetTickCount64()});
            return 0;
        }
        if (msg == WM_USER && lParam == 104) return 0;  // stopped: Play/Pause means Play
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
    TUniqueWindow window_;
};

// Serves this thread's messages (timers and the hand-over included) for a while.
template <class Done>
void Pump(DWORD milliseconds, Done done) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (!done()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
}

uint32_t SignatureOf(std::vector<uint8_t> report) {
    report.resize(ReportLength, 0);  // devices deliver whole reports
    return UpdateSignature(report.data(), report.size(), SignatureNone);
}

class EndToEnd : public TBindingTest {
protected:
    void SetUp() override {
        TBindingTest::SetUp();
        for (const wchar_t* name : {L"Remote", L"Keyboard"}) {
            KwFakeDevice d{};
            d.Product = name;
            d.Caps.InputReportByteLength = ReportLength;
            d.Caps.UsagePage = 0x0C;
            devices.push_back(KwFake_AddDevice(&d));
        }
        UseHidPortsForEngine();
        // Play/Pause and a held Volume Up on the remote, Next on the keyboard.
        settings = dir.Path("kwhid.ini");
        const std::string text =
            Format("HidIndex=0\r\nMode=-1\r\nAction00=B%08XFFFFFFFF0\r\nAction01=F%08X%08X0\r\nAction02=C%08XFFFFFFFF1\r\n",
                   SignatureOf(Play), SignatureOf(Up), SignatureOf(Release), SignatureOf(Next));
        ASSERT_TRUE(ReplaceFileContent(settings, text));
    }
    void TearDown() override {
        SetHidPortFactory(nullptr);
        TBindingTest::TearDown();
    }
    void Send(int device, const std::vector<uint8_t>& report) {
        ASSERT_GE(KwFake_SendReport(devices[static_cast<size_t>(device)], report.data(), static_cast<DWORD>(report.size())), 1);
    }

    const std::vector<uint8_t> Play{1, 0xCD}, Up{1, 0xE9}, Release{1, 0}, Next{2, 0xB5};
    std::vector<int> devices;
    TTempFolder dir;
    std::string settings;
};

TEST_F(EndToEnd, WinampGetsPressesRepeatsAndSurvivesAnUnplug) {
    TPlayerWindow winamp;
    TWinampHidProcessor engine(winamp.Handle());
    engine.LoadFromFile(settings);
    ASSERT_EQ(engine.Count(), 3);
    engine.RestartHandlers();
    ASSERT_EQ(engine.Handlers.Count(), 2);
    for (int d : devices) ASSERT_TRUE(KwFake_WaitOpenHandles(d, 1, 5000));

    Send(0, Play);
    Pump(3000, [&] { return !winamp.posted.empty(); });
    ASSERT_EQ(winamp.posted.size(), 1u);
    EXPECT_EQ(winamp.posted[0].wParam, 40045u);

    // Held Volume Up: a command at the press, one per repeat tick, one at the release.
    winamp.posted.clear();
    const ULONGLONG pressed = GetTickCount64();
    Send(0, Up);
    Pump(1900, [] { return false; });
    Send(0, Release);
    Pump(1500, [] { return false; });
    std::vector<ULONGLONG> times;
    for (const TPosted& p : winamp.posted) {
        EXPECT_EQ(p.wParam, 40058u);
        times.push_back(p.at - pressed);
    }
    ASSERT_EQ(times.size(), 5u);
    const ULONGLONG expected[] = {300, 800, 1300, 1800, 2200};
    for (size_t i = 0; i < times.size(); ++i) {
        // Real timers under emulation: never early, not late by much.
        EXPECT_GE(times[i] + 20, expected[i]) << i;
        EXPECT_LE(times[i], expected[i] + 400) << i;
    }
    std::printf("volume up posted at");
    for (ULONGLONG t : times) std::printf(" %llu", static_cast<unsigned long long>(t));
    std::printf(" ms\n");
    EXPECT_FALSE(engine.RepeatTimer->Enabled());

    // The keyboard goes; the remote keeps working.
    ASSERT_TRUE(KwFake_Unplug(devices[1]));
    Pump(500, [] { return false; });
    EXPECT_FALSE(engine.Handlers.Items(1)->Hid->Active());
    winamp.posted.clear();
    Send(0, Play);
    Pump(3000, [&] { return !winamp.posted.empty(); });
    ASSERT_EQ(winamp.posted.size(), 1u);
    EXPECT_EQ(winamp.posted[0].wParam, 40045u);
    engine.StopHandlers();
    EXPECT_TRUE(KwFake_WaitOpenHandles(devices[0], 0, 5000));
}

TEST_F(EndToEnd, MediaPlayerGetsItsControlsCalled) {
    TFakeWmpCore core;
    {
        TWmpHidProcessor engine;
        engine.SetCore(core.Interface());
        engine.LoadFromFile(settings);
        engine.RestartHandlers();
        for (int d : devices) ASSERT_TRUE(KwFake_WaitOpenHandles(d, 1, 5000));
        Send(1, Next);
        Pump(3000, [&] { return core.State.Log.size() >= 3; });
        EXPECT_EQ(core.State.Log, (std::vector<std::string>{"playState", "controls", "controls.next"}));
        engine.SetCore(nullptr);
    }
    EXPECT_EQ(core.SubObjectRefs(), 0u);
}
}  // namespace
