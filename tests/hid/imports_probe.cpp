// Links every binding into a program whose imports a test reads: none may bring in
// HID.DLL, SetupAPI.dll or cfgmgr32.dll, nor anything that is not a KnownDLL (version.dll
// of the version text among them). Never run.
#include "hid/kwhid.h"
#include "hid/kwhidw32.h"
#include "hid/kwwin32di.h"
#include "util/kwwin32.h"

int main(int argc, char**) {
    if (argc < 100) return 0;
    PHIDP_PREPARSED_DATA data = nullptr;
    HIDP_CAPS caps{};
    HIDD_ATTRIBUTES attributes{};
    USHORT length = 0;
    kwhidw32::HidD_GetHidGuid(&HidClassGuid);
    kwhidw32::HidD_GetPreparsedData(nullptr, &data);
    kwhidw32::HidD_GetAttributes(nullptr, &attributes);
    kwhidw32::HidP_GetCaps(data, &caps);
    kwhidw32::HidP_GetButtonCaps(HidP_Input, nullptr, &length, data);
    kwhidw32::HidP_GetValueCaps(HidP_Input, nullptr, &length, data);
    kwhidw32::HidD_FreePreparsedData(data);
    const bool named = !kwhidw32::GetHidString(nullptr, "HidD_GetProductString").empty();
    const bool bound = kwwin32di::LoadSetupApi() && kwwin32di::SetupApiEntries()[0].Address;
    kwwin32di::FreeSetupApi();
    kwhidw32::FreeHidLibrary();
    const bool versioned = !GetVersionText("kernel32.dll").empty() || !GetRegistryKeyPath(HKEY_CURRENT_USER).empty();
    return named || bound || versioned;
}
