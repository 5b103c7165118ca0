// A library of its own that binds HID.DLL, SetupAPI.dll and cfgmgr32.dll, so that a test
// can unload it and see its finalisation release them, as a plug-in's unloading does.
#include "hid/kwhidw32.h"
#include "hid/kwwin32di.h"

extern "C" __declspec(dllexport) bool BindAll() noexcept {
    return kwhidw32::LoadHidLibrary() && kwwin32di::LoadSetupApi();
}
