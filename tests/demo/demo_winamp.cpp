// The Winamp plug-in at work, without Windows and without Winamp: a simulated Winamp
// loads the real kwhid_gen.dll exactly as Winamp does, a simulated remote control on the
// fake HID platform presses buttons the plug-in has learned, and every command Winamp's
// window receives is printed with its time. Half-way, Winamp opens the plug-in's
// configuration dialog, as its Preferences do; the demo takes a picture of it and closes it
// with Cancel, and the remote goes on working.
//
//   demo_winamp <path of kwhid_gen.dll> [<picture.png>]
//
// The picture is taken from the window's surface (tools/demo.sh runs the demo on Xvfb with
// Wine's X11 driver when it can). Where the graphics driver draws nothing, the dialog still
// shows and closes, and the demo says that no picture could be taken.
//
// Runs under Wine in a private prefix (KW_WINE_PRIVATE_PREFIX=1 with tools/wine-run),
// with WINEDLLOVERRIDES=hid,setupapi,cfgmgr32=n and kwfakeos.dll beside it. Exit code 0
// when Winamp got what the presses should give and the plug-in left nothing running.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "engine/hidaction.h"
#include "engine/kwcrc.h"
#include "players/winamp.h"
#include "rtl/format.h"
#include "tests/fakeos/fakeos.h"
#include "tests/hosts/winamp_host.h"
#include "tests/support/window_picture.h"

namespace {
constexpr USHORT ReportLength = 4;

// The remote's buttons: the report each one sends.
struct TButton {
    const char* name;
    std::vector<uint8_t> report;
};
const TButton PlayPause{"Play/Pause", {1, 0xCD}};
const TButton VolumeUp{"Volume Up", {1, 0xE9}};
const TButton Mute{"Mute", {1, 0xE2}};
const TButton Next{"Next", {2, 0xB5}};
const std::vector<uint8_t> Released{1, 0};  // what the remote sends when a held button goes

uint32_t SignatureOf(std::vector<uint8_t> report) {
    report.resize(ReportLength, 0);  // the device delivers whole reports
    return UpdateSignature(report.data(), report.size(), SignatureNone);
}

std::string ActionText(TActionCode code, uint32_t press, uint32_t release) {
    THidAction action;
    action.Code = code;
    action.PressSignature = press;
    action.ReleaseSignature = release;
    action.DeviceIndex = 0;
    return action.AsText();
}

// Wine's drive for the Unix root, for a path given the Unix way.
std::string WindowsPath(std::string path) {
    if (path.empty() || path[0] != '/') return path;
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

std::string Describe(const TWinampCommand& c) {
    if (c.message == WM_COMMAND) {
        const char* name = "?";
        switch (c.wParam) {
            case winamp::CommandPrevious: name = "Previous"; break;
            case winamp::CommandPlay: name = "Play"; break;
            case winamp::CommandPause: name = "Pause"; break;
            case winamp::CommandStop: name = "Stop"; break;
            case winamp::CommandNext: name = "Next"; break;
            case winamp::CommandVolumeUp: name = "Volume Up"; break;
            case winamp::CommandVolumeDown: name = "Volume Down"; break;
            case winamp::CommandFastForward: name = "Forward"; break;
            case winamp::CommandRewind: name = "Rewind"; break;
        }
        return Format("WM_COMMAND %u (%s)", static_cast<unsigned>(c.wParam), name);
    }
    if (c.message == WM_USER && c.lParam == winamp::IpcSetVolume)
        return Format("WM_USER %u, %ld (set volume to %u: %s)", static_cast<unsigned>(c.wParam),
                      static_cast<long>(c.lParam), static_cast<unsigned>(c.wParam),
                      c.wParam == winamp::VolumeMuted ? "mute" : "sound back");
    return Format("message 0x%04X %u, %ld", c.message, static_cast<unsigned>(c.wParam), static_cast<long>(c.lParam));
}

// The configuration dialog's caption, and its look as the demo saw it.
constexpr const char* ConfigCaption = "Clickwell - Orlanvale";

// Plays the user at the configuration dialog that a call on this thread runs modally:
// a timer of this thread, served by the dialog's own loop, waits until the dialog shows,
// lets it paint, takes its picture and clicks Cancel. Any other dialog of this thread
// (an error box) is noted and closed, so that the demo cannot hang on it.
class TConfigVisitor {
public:
    explicit TConfigVisitor(std::string picturePath) : picturePath_(std::move(picturePath)) {}
    ~TConfigVisitor() { Stop(); }
    TConfigVisitor(const TConfigVisitor&) = delete;
    TConfigVisitor& operator=(const TConfigVisitor&) = delete;

    void Start() {
        active_ = this;
        timer_ = SetTimer(nullptr, 0, TickMs, &Tick);
    }
    void Stop() {
        if (timer_) KillTimer(nullptr, timer_);
        timer_ = 0;
        if (active_ == this) active_ = nullptr;
    }

    bool Seen = false;           // the dialog showed
    bool Cancelled = false;      // and was sent Cancel
    RECT Client{};               // its client area
    int Width = 0, Height = 0;   // its window, frame included
    bool PictureBlank = false;   // nothing was drawn
    bool PictureSaved = false;
    ULONGLONG SeenAt = 0, CancelledAt = 0;
    std::vector<std::string> Others;  // captions and texts of other dialogs closed

private:
    static constexpr UINT TickMs = 100;
    // Ticks the dialog stays on screen before its picture: time to paint and settle.
    static constexpr int SettleTicks = 3;
    // Ticks without the dialog before the visitor gives up: only a broken run gets there.
    static constexpr int GiveUpTicks = 600;

    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) noexcept {
        try {
            if (active_) active_->Visit();
        } catch (...) {
            if (active_) active_->Stop();
        }
    }
    static BOOL CALLBACK CloseOther(HWND window, LPARAM self) noexcept {
        char type[16] = {};
        GetClassNameA(window, type, sizeof type);
        if (!IsWindowVisible(window) || std::string(type) != "#32770") return TRUE;
        char caption[128] = {}, text[512] = {};
        GetWindowTextA(window, caption, sizeof caption);
        if (std::string(caption) == ConfigCaption) return TRUE;
        // A message box keeps its text in a static control, id 0xFFFF.
        GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
        try {
            reinterpret_cast<TConfigVisitor*>(self)->Others.push_back(Format("\"%s\": %s", caption, text));
        } catch (...) {
        }
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return TRUE;
    }
    void Visit() {
        EnumThreadWindows(GetCurrentThreadId(), &CloseOther, reinterpret_cast<LPARAM>(this));
        HWND dialog = FindWindowA("#32770", ConfigCaption);
        if (dialog && GetWindowThreadProcessId(dialog, nullptr) != GetCurrentThreadId()) dialog = nullptr;
        if (!dialog || !IsWindowVisible(dialog)) {
            if (!Seen && ++idleTicks_ >= GiveUpTicks) Stop();
            return;
        }
        if (!Seen) {
            Seen = true;
            SeenAt = GetTickCount64();
            GetClientRect(dialog, &Client);
            RECT frame{};
            GetWindowRect(dialog, &frame);
            Width = frame.right - frame.left;
            Height = frame.bottom - frame.top;
        }
        if (++shownTicks_ < SettleTicks) return;
        if (!picturePath_.empty()) {
            DeleteFileA(picturePath_.c_str());  // no picture of an earlier run stays behind
            RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
            const TWindowPicture picture = CaptureWindow(dialog);
            PictureBlank = picture.Blank();
            PictureSaved = !PictureBlank && WritePng(picturePath_, picture);
        }
        // The user clicks Cancel.
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
        Cancelled = true;
        CancelledAt = GetTickCount64();
        Stop();
    }

    static inline TConfigVisitor* active_ = nullptr;
    std::string picturePath_;
    UINT_PTR timer_ = 0;
    int idleTicks_ = 0, shownTicks_ = 0;
};

class TDemo {
public:
    int Run(const std::string& pluginPath, const std::string& picturePath, const std::string& pictureShown);

private:
    unsigned long long Now() const { return GetTickCount64() - start_; }
    void Say(const std::string& text) { std::printf("  %5llu ms  %s\n", Now(), text.c_str()); std::fflush(stdout); }
    // Serves Winamp's messages for a while, printing each command as it comes and playing
    // Winamp's part: Play starts playing, Pause and Stop end it.
    void Wait(DWORD milliseconds) {
        Pump(milliseconds, [&] {
            while (shown_ < winamp_.Commands.size()) {
                const TWinampCommand& c = winamp_.Commands[shown_++];
                std::printf("  %5llu ms  Winamp got %s\n", c.at - start_, Describe(c).c_str());
                if (c.message == WM_COMMAND && c.wParam == winamp::CommandPlay) winamp_.PlayState = 1;
                if (c.message == WM_COMMAND && (c.wParam == winamp::CommandPause || c.wParam == winamp::CommandStop))
                    winamp_.PlayState = 0;
            }
            std::fflush(stdout);
            return false;
        });
    }
    bool Send(const std::vector<uint8_t>& report) {
        return KwFake_SendReport(remote_, report.data(), static_cast<DWORD>(report.size())) > 0;
    }
    bool Press(const TButton& button) {
        Say(Format("remote: %s pressed", button.name));
        return Send(button.report);
    }
    // Winamp's Preferences open the plug-in's configuration: Config runs the dialog and
    // returns when it closes. Whether it showed and closed with Cancel, and nothing else.
    bool Configure(const std::string& picturePath, const std::string& pictureShown);
    size_t Count(UINT message, WPARAM wParam) const {
        return static_cast<size_t>(std::count_if(winamp_.Commands.begin(), winamp_.Commands.end(),
                                                 [&](const TWinampCommand& c) {
                                                     return c.message == message && c.wParam == wParam;
                                                 }));
    }

    TWinampWindow winamp_;
    TWinampPluginHost host_;
    int remote_ = -1;
    ULONGLONG start_ = 0;
    size_t shown_ = 0;
};

bool TDemo::Configure(const std::string& picturePath, const std::string& pictureShown) {
    Say("Winamp opens the plug-in's configuration (Preferences, Plug-ins, Configure)");
    TConfigVisitor visitor(picturePath);
    visitor.Start();
    host_.Record->Config();
    visitor.Stop();
    const auto at = [&](ULONGLONG tick) { return tick - start_; };
    if (visitor.Seen)
        std::printf("  %5llu ms  the dialog \"%s\" showed: %d x %d, client area %ld x %ld\n", at(visitor.SeenAt),
                    ConfigCaption, visitor.Width, visitor.Height, visitor.Client.right, visitor.Client.bottom);
    else
        Say(Format("FAILED: no dialog \"%s\" showed", ConfigCaption));
    for (const std::string& other : visitor.Others) Say("FAILED: another dialog showed and was closed: " + other);
    if (visitor.Cancelled) {
        if (picturePath.empty())
            std::printf("  %5llu ms  no picture asked for\n", at(visitor.CancelledAt));
        else if (visitor.PictureSaved)
            std::printf("  %5llu ms  picture of the dialog: %s\n", at(visitor.CancelledAt), pictureShown.c_str());
        else if (visitor.PictureBlank)
            std::printf("  %5llu ms  no picture: nothing was drawn (the graphics driver draws no window)\n",
                        at(visitor.CancelledAt));
        else
            std::printf("  %5llu ms  no picture: cannot write %s\n", at(visitor.CancelledAt), pictureShown.c_str());
        std::printf("  %5llu ms  clicked Cancel\n", at(visitor.CancelledAt));
    }
    const bool closed = visitor.Cancelled && !FindWindowA("#32770", ConfigCaption);
    Say(closed ? "the dialog closed; the plug-in goes on with what it had" : "FAILED: the dialog did not close");
    std::fflush(stdout);
    return visitor.Seen && closed && visitor.Others.empty();
}

int TDemo::Run(const std::string& pluginPath, const std::string& picturePath, const std::string& pictureShown) {
    std::printf("Clickwell demo: a simulated Winamp loads the real plug-in, and a simulated remote\n"
                "control on a fake HID platform presses its buttons. Nothing here is a real player\n"
                "or a real device; the plug-in is the one that ships.\n\n");
    if (!KwFake_InstallAll()) {
        std::printf("FAILED: cannot install the fake HID platform (error %lu): the demo needs a private\n"
                    "Wine prefix (KW_WINE_PRIVATE_PREFIX=1 with tools/wine-run)\n", GetLastError());
        return 1;
    }
    KwFakeDevice remote{};
    remote.Product = L"Clickwell demo remote";
    remote.VendorID = 0x1209;
    remote.ProductID = 0x0001;
    remote.Caps.InputReportByteLength = ReportLength;
    remote.Caps.UsagePage = 0x0C;  // consumer controls
    remote_ = KwFake_AddDevice(&remote);
    const std::string settings = WinampSettingsPath();
    const std::string text = Format(
        "HidIndex=0\r\nMode=-1\r\nAction00=%s\r\nAction01=%s\r\nAction02=%s\r\n",
        ActionText(1, SignatureOf(PlayPause.report), SignatureNone).c_str(),
        ActionText(5, SignatureOf(VolumeUp.report), SignatureOf(Released)).c_str(),
        ActionText(13, SignatureOf(Mute.report), SignatureNone).c_str());
    if (remote_ < 0 || settings.empty() || !WriteTextFile(settings, text)) {
        std::printf("FAILED: cannot set up the remote or the settings file (error %lu)\n", GetLastError());
        return 1;
    }
    std::printf("Remote \"Clickwell demo remote\": the plug-in has learned its buttons Play/Pause,\n"
                "Volume Up (repeats while held) and Mute, but not Next. Settings file:\n  %s\n\n",
                settings.c_str());

    const std::string error = host_.Load(pluginPath, winamp_.Handle());
    if (!error.empty()) {
        std::printf("FAILED: %s\n", error.c_str());
        return 1;
    }
    std::printf("Winamp loaded %s\nand found the plug-in \"%s\".\n", pluginPath.c_str(), host_.Record->Description);
    const int init = host_.Record->Init();
    std::printf("Winamp called init: %d%s\n\n", init, init == 0 ? " (the plug-in runs)" : " (the plug-in failed)");
    if (init != 0) return 1;
    if (!KwFake_WaitOpenHandles(remote_, 1, 5000)) {
        std::printf("FAILED: the plug-in did not open the remote; HID.DLL must be the fake one\n"
                    "(WINEDLLOVERRIDES=hid,setupapi,cfgmgr32=n)\n");
        host_.Record->Quit();
        return 1;
    }

    start_ = GetTickCount64();
    bool sent = Press(PlayPause);
    Wait(1000);
    Say("remote: Volume Up pressed, and held");
    sent = Send(VolumeUp.report) && sent;
    Wait(1300);
    Say("remote: Volume Up released");
    sent = Send(Released) && sent;
    Wait(1000);
    sent = Press(Mute) && sent;
    Wait(1000);
    const size_t before = winamp_.Commands.size();
    sent = Press(Next) && sent;
    Wait(1000);
    const bool unlearnedQuiet = winamp_.Commands.size() == before;
    if (unlearnedQuiet) Say("(nothing for Next: nobody taught the plug-in that button)");
    const bool configured = Configure(picturePath, pictureShown);
    Wait(500);
    sent = Press(PlayPause) && sent;
    Wait(1000);

    host_.Record->Quit();
    const bool closed = KwFake_WaitOpenHandles(remote_, 0, 5000);
    const bool nothingRuns =
        LiveThreadsIn(host_.Module()) == 0 && !SchedulerWindow(host_.Module()) && !SchedulerClassRegistered(host_.Module());
    std::printf("\nWinamp called quit: %s\n",
                closed && nothingRuns ? "the plug-in closed the remote and left no thread, timer or window running."
                                      : "FAILED: something of the plug-in is still running.");

    const bool commandsRight = sent && unlearnedQuiet && Count(WM_COMMAND, winamp::CommandPlay) == 1 &&
                               Count(WM_COMMAND, winamp::CommandPause) == 1 &&
                               Count(WM_COMMAND, winamp::CommandVolumeUp) >= 3 &&
                               Count(WM_USER, winamp::VolumeMuted) == 1;
    if (!commandsRight) std::printf("FAILED: Winamp did not get the commands these presses should give.\n");
    return closed && nothingRuns && commandsRight && configured ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: demo_winamp <path of kwhid_gen.dll> [<picture.png>]\n");
        return 2;
    }
    const std::string picture = argc == 3 ? argv[2] : "";
    TDemo demo;
    return demo.Run(WindowsPath(argv[1]), WindowsPath(picture), picture);
}
