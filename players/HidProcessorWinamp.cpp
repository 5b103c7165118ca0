#include "players/HidProcessorWinamp.h"

#include <utility>

winamp::GeneralPurposePlugin WinampPlugin{};

namespace {
// A plain pointer: a static owner would free the engine from the library's
// finalisation, under the loader lock, where its reading threads cannot be waited for.
TWinampHidProcessor* HidProcessor = nullptr;

// Stops the handlers first, so that an error there is swallowed here and not in the
// destructor, which must not raise.
void Release(TWinampHidProcessor* engine) noexcept {
    if (!engine) return;
    try {
        engine->StopHandlers();
    } catch (...) {
    }
    delete engine;
}
}  // namespace

TWinampHidProcessor* GetHidProcessor() noexcept {
    if (HidProcessor) return HidProcessor;
    try {
        HidProcessor = new TWinampHidProcessor(WinampPlugin.HostWindow);
        HidProcessor->LoadFromFile("");
        HidProcessor->RestartHandlers();
    } catch (...) {
        // The handlers started before the failure would keep reading for an engine
        // nobody can reach.
        Release(std::exchange(HidProcessor, nullptr));
    }
    return HidProcessor;
}

void FreeHidProcessor() noexcept {
    // Forgotten first: a message served while the reading threads are waited for must
    // not reach an engine half gone.
    Release(std::exchange(HidProcessor, nullptr));
}

TWinampHidProcessor::TWinampHidProcessor(HWND hostWindow) : HostWindow(hostWindow) {
    FileName = "kwhid.ini";
    SupportedActions = WinampActions;
}

bool TWinampHidProcessor::IsPlaying() const {
    // The one synchronous call into Winamp. Bounded: a player window that has
    // stopped answering must not hang the thread we share with it.
    DWORD_PTR answer = 0;
    const LRESULT sent = SendMessageTimeoutA(HostWindow, WM_USER, 0, winamp::IpcIsPlaying,
                                             SMTO_ABORTIFHUNG | SMTO_NORMAL, PlayStateTimeout, &answer);
    return sent != 0 && answer == static_cast<DWORD_PTR>(winamp::PlayStatePlaying);
}

void TWinampHidProcessor::DoCommand(TActionCode code) {
    THidProcessor::DoCommand(code);
    UINT message = WM_COMMAND;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    switch (code) {
        case 1: wParam = IsPlaying() ? winamp::CommandPause : winamp::CommandPlay; break;
        case 2: wParam = winamp::CommandNext; break;
        case 3: wParam = winamp::CommandPrevious; break;
        case 4: wParam = winamp::CommandStop; break;
        case 5: wParam = winamp::CommandVolumeUp; break;
        case 6: wParam = winamp::CommandVolumeDown; break;
        case 7: wParam = winamp::CommandFastForward; break;
        case 8: wParam = winamp::CommandRewind; break;
        case 9: wParam = winamp::CommandPlay; break;
        case 10: wParam = winamp::CommandPause; break;
        case 13:
            Muted = !Muted;
            message = WM_USER;
            wParam = Muted ? winamp::VolumeMuted : winamp::VolumeUnmuted;
            lParam = winamp::IpcSetVolume;
            break;
        default:
            return;  // codes Winamp is not offered: nothing to press
    }
    // Posted, not sent: Winamp carries the command out in its own time.
    PostMessageA(HostWindow, message, wParam, lParam);
}
