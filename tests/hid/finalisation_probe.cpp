// A library of its own that binds HID.DLL, SetupAPI.dll and cfgmgr32.dll, as a plug-in
// does, so that a test can unload it and see what its unloading does to them.
#include "hid/kwhidw32.h"
#include "hid/kwwin32di.h"

extern "C" __declspec(dllexport) bool BindAll() noexcept {
    return kwhidw32::LoadHidLibrary() && kwwin32di::LoadSetupApi();
}

// The explicit teardown a host entry calls outside the loader lock.
extern "C" __declspec(dllexport) void UnbindAll() noexcept {
    kwhidw32::FreeHidLibrary();
    kwwin32di::FreeSetupApi();
}
