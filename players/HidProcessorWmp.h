#pragma once
// The engine of the Windows Media Player plug-in: commands go to the player
// through the automation interfaces of the core object the player hands over.
// Also the plug-in's one engine.
#include <windows.h>
#include <wmp.h>

#include "engine/hidprocessor.h"
#include "rtl/win32/comptr.h"

// Every code but Full Screen (11), Shuffle (14) and Repeat (15).
inline constexpr TActionSet WmpSupportedActions = 0x37FF;

class TWmpHidProcessor : public THidProcessor {
public:
    TWmpHidProcessor();
    ~TWmpHidProcessor() override;

    // Raises EOleException when the player refuses a call; the command ends there.
    void DoCommand(TActionCode code) override;

    IWMPCore* Core() const noexcept { return core_.get(); }
    // Takes a reference on core and gives back the one on the former core; null clears it.
    void SetCore(IWMPCore* core) noexcept;

private:
    TComPtr<IWMPCore> core_;
};

// The plug-in's one engine. In a namespace of its own: the Winamp unit has functions of
// the same names, and tests link both.
namespace HidProcessorWmp {
// The engine, created on first use with the settings loaded and the device handlers
// started. None when that fails: the engine built so far is stopped and freed, and the
// next call starts again from the beginning. The ports of the device handlers must be
// chosen before the first call. UI thread only; raises nothing.
TWmpHidProcessor* GetHidProcessor() noexcept;
// The engine if there is one; creates none.
TWmpHidProcessor* HidProcessor() noexcept;
// Stops the handlers, releases the core and frees the engine, if there is one. Waits
// for the reading threads: never call it from DllMain. UI thread only; raises nothing.
void FreeHidProcessor() noexcept;
}  // namespace HidProcessorWmp
