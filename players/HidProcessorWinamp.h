#pragma once
// The engine of the Winamp plug-in: commands become window messages posted to
// Winamp's main window.
#include <windows.h>

#include "engine/hidprocessor.h"

class TWinampHidProcessor : public THidProcessor {
public:
    // Codes 0 to 10 and 13: Winamp has no Full Screen, Eject, Shuffle or Repeat here.
    static constexpr TActionSet WinampActions = 0x27FF;
    // How long the play-state query waits for Winamp before choosing Play.
    static constexpr UINT PlayStateTimeout = 250;

    explicit TWinampHidProcessor(HWND hostWindow = nullptr);

    void DoCommand(TActionCode code) override;

    // The mute state as this adapter last set it; Winamp is never asked.
    bool Muted = false;
    HWND HostWindow = nullptr;

private:
    // True when Winamp answers that it plays; false also when it does not answer in time.
    bool IsPlaying() const;
};
