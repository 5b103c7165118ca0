#pragma once
// The engine of the Windows Media Player plug-in: commands go to the player
// through the automation interfaces of the core object the player hands over.
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
