#pragma once
// The engine of the Winamp plug-in: commands become window messages posted to
// Winamp's main window. Also the plug-in's one engine and the record Winamp reads.
#include <windows.h>

#include "engine/hidprocessor.h"
#include "players/winamp.h"

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

// The plug-in record, zero until the export fills it in; Winamp writes its window and
// our module into it.
extern winamp::GeneralPurposePlugin WinampPlugin;

// The plug-in's engine, created on first use for the window in WinampPlugin, with
// the settings loaded and the device handlers started. None when that fails: the
// engine built so far is stopped and freed, and the next call starts again from the
// beginning. The ports of the device handlers must be chosen before the first call.
// UI thread only; raises nothing.
TWinampHidProcessor* GetHidProcessor() noexcept;
// Stops the handlers and frees the engine, if there is one. Waits for the reading
// threads: never call it from DllMain. UI thread only; raises nothing.
void FreeHidProcessor() noexcept;
