#include "players/HidProcessorWinamp.h"

#include "players/winamp.h"

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
