// The Windows Media Player plug-in at work, without Windows and without the player: a
// simulated player loads the real kwhid_wmp.dll as COM loads an in-process server
// (DllGetClassObject, the class factory) and hands the plug-in its core through
// IWMPPluginUI::SetCore; a simulated remote control on the fake HID platform presses
// buttons the plug-in has learned, and every call the plug-in makes on the core is printed
// with its time.
//
//   demo_wmp <path of kwhid_wmp.dll>
//
// Runs under Wine in a private prefix (KW_WINE_PRIVATE_PREFIX=1 with tools/wine-run),
// with WINEDLLOVERRIDES=hid,setupapi,cfgmgr32=n and kwfakeos.dll beside it. Exit code 0
// when the core got what the presses should give and the unloaded plug-in left nothing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/hidaction.h"
#include "engine/kwcrc.h"
#include "rtl/format.h"
#include "tests/fakeos/fakeos.h"
#include "tests/hosts/wmp_host.h"
#include "tests/players/fake_wmp_core.h"

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

std::string Narrow(const std::wstring& text) {
    std::string result;
    for (wchar_t c : text) result += c < 128 ? static_cast<char>(c) : '?';
    return result;
}

class TApartment {
public:
    TApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~TApartment() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    TApartment(const TApartment&) = delete;
    TApartment& operator=(const TApartment&) = delete;

private:
    HRESULT hr_;
};

// A call on the core that changes something, in words; empty for the reads that come
// before it (the play state, the sub-objects, the volume and mute read).
std::string Describe(const std::string& entry) {
    if (entry.rfind("controls.", 0) == 0) return "the player's controls: " + entry.substr(9) + "()";
    if (entry.rfind("settings.put_volume(", 0) == 0)
        return "the player's settings: volume := " + entry.substr(20, entry.size() - 21);
    if (entry.rfind("settings.put_mute(", 0) == 0)
        return std::string("the player's settings: mute := ") + (entry == "settings.put_mute(0)" ? "off" : "on");
    if (entry.rfind("cdrom", 0) == 0 && entry.find(".eject") != std::string::npos) return "the player ejects the disc";
    return {};
}

class TDemo {
public:
    int Run(const std::wstring& pluginPath);

private:
    unsigned long long Now() const { return GetTickCount64() - start_; }
    void Say(const std::string& text) {
        std::printf("  %5llu ms  %s\n", Now(), text.c_str());
        std::fflush(stdout);
    }
    // Serves the player's UI thread for a while, printing each call on the core as it
    // comes and playing the player's part: play starts playing, pause and stop end it.
    void Wait(DWORD milliseconds) {
        Pump(milliseconds, [&] {
            while (shown_ < core_.State.Log.size()) {
                const std::string& entry = core_.State.Log[shown_++];
                if (entry == "controls.play") core_.State.PlayState = wmppsPlaying;
                if (entry == "controls.pause") core_.State.PlayState = wmppsPaused;
                if (entry == "controls.stop") core_.State.PlayState = wmppsStopped;
                const std::string text = Describe(entry);
                if (!text.empty()) Say(text);
            }
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
    size_t Count(const std::string& prefix) const {
        return static_cast<size_t>(std::count_if(core_.State.Log.begin(), core_.State.Log.end(),
                                                 [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }));
    }
    // The calls that change something, the reads before them left out.
    size_t Changes() const {
        return static_cast<size_t>(std::count_if(core_.State.Log.begin(), core_.State.Log.end(),
                                                 [](const std::string& e) { return !Describe(e).empty(); }));
    }

    TApartment apartment_;
    TFakeWmpCore core_;
    TWmpServer server_;
    int remote_ = -1;
    ULONGLONG start_ = 0;
    size_t shown_ = 0;
};

int TDemo::Run(const std::wstring& pluginPath) {
    std::printf("Clickwell demo: a simulated Windows Media Player loads the real plug-in, and a\n"
                "simulated remote control on a fake HID platform presses its buttons. Nothing here is\n"
                "a real player or a real device; the plug-in is the one that ships.\n\n");
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
    const std::string settings = WmpSettingsPath();
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

    const int threadsBefore = ProcessThreadCount();
    const std::string error = server_.Load(pluginPath);
    if (!error.empty()) {
        std::printf("FAILED: %s\n", error.c_str());
        return 1;
    }
    TComPtr<IWMPPluginUI> plugin;
    HRESULT hr = server_.CreatePlugin(plugin);
    std::printf("The player loaded %s\nand made the plug-in through DllGetClassObject: 0x%08lX\n",
                Narrow(pluginPath).c_str(), static_cast<unsigned long>(hr));
    if (FAILED(hr)) return 1;
    hr = plugin->SetCore(core_.Interface());
    std::printf("The player called IWMPPluginUI::SetCore with its core: 0x%08lX%s\n\n",
                static_cast<unsigned long>(hr), SUCCEEDED(hr) ? " (the plug-in runs)" : " (the plug-in failed)");
    if (FAILED(hr)) return 1;
    if (!KwFake_WaitOpenHandles(remote_, 1, 5000)) {
        std::printf("FAILED: the plug-in did not open the remote; HID.DLL must be the fake one\n"
                    "(WINEDLLOVERRIDES=hid,setupapi,cfgmgr32=n)\n");
        return 1;
    }

    start_ = GetTickCount64();
    bool sent = Press(PlayPause);
    Wait(1000);
    Say("remote: Volume Up pressed, and held");
    sent = Send(VolumeUp.report) && sent;
    // Released between two repeat ticks, and matched 300 ms later between the next two.
    Wait(1150);
    Say("remote: Volume Up released (the plug-in knows it once the 300 ms of quiet are over)");
    sent = Send(Released) && sent;
    Wait(1000);
    sent = Press(Mute) && sent;
    Wait(1000);
    const size_t before = Changes();
    sent = Press(Next) && sent;
    Wait(1000);
    const bool unlearnedQuiet = Changes() == before;
    if (unlearnedQuiet) Say("(nothing for Next: nobody taught the plug-in that button)");
    sent = Press(PlayPause) && sent;
    Wait(1000);

    // The player lets go of the plug-in; COM asks DllCanUnloadNow and unloads the library.
    plugin = {};
    hr = server_.CanUnloadNow();
    server_.Unload();
    const bool closed = KwFake_OpenHandleCount(remote_) == 0;
    const bool nothingRuns = !GetModuleHandleW(pluginPath.c_str()) && ProcessThreadCount() == threadsBefore;
    const bool released = core_.Refs() == 0 && core_.SubObjectRefs() == 0;
    std::printf("\nThe player released the plug-in, DllCanUnloadNow said 0x%08lX, and the library was\n"
                "unloaded: %s\n",
                static_cast<unsigned long>(hr),
                hr == S_OK && closed && nothingRuns && released
                    ? "the remote is closed, the core released, no thread of the plug-in left."
                    : "FAILED: something of the plug-in is still there.");

    const bool commandsRight = sent && unlearnedQuiet && Count("controls.play") == 1 &&
                               Count("controls.pause") == 1 && Count("settings.put_volume") >= 3 &&
                               Count("settings.put_mute(-1)") == 1;
    if (!commandsRight) std::printf("FAILED: the core did not get the calls these presses should give.\n");
    return hr == S_OK && closed && nothingRuns && released && commandsRight ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: demo_wmp <path of kwhid_wmp.dll>\n");
        return 2;
    }
    TDemo demo;
    return demo.Run(FullWindowsPath(argv[1]));
}
