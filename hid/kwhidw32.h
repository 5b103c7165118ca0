#pragma once
// The HID class library (HID.DLL), bound by name at run time: nothing links it, so the
// plug-ins load on a system without it and then simply see no devices.
//
// Every binding loads the library on first use and looks its entry up by name on every
// call. A missing library or entry yields the binding's fallback result; no binding
// raises. The names are the library's own, hence the namespace.
#include <windows.h>

extern "C" {
#include <hidsdi.h>
}

#include <string>

namespace kwhidw32 {

// Loads "HID.DLL" from the system folder unless already loaded; a failed load is tried
// again on the next call. True when the library is loaded.
bool LoadHidLibrary() noexcept;
// Releases the library; the next binding call loads it again. Nothing releases it by
// itself, not even unloading the plug-in: a host calls this outside the loader lock
// (never from DllMain), or the library stays until the process ends.
void FreeHidLibrary() noexcept;
// The loaded library, or null.
HMODULE HidLibraryHandle() noexcept;

// Fallback: nothing is written.
void HidD_GetHidGuid(LPGUID hidGuid) noexcept;
// Sets *preparsedData to null first. Fallback: FALSE, *preparsedData null. On success the
// caller owns the data until it passes it to HidD_FreePreparsedData.
BOOLEAN HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData) noexcept;
// Fallback: FALSE.
BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData) noexcept;
// Fallback: FALSE.
BOOLEAN HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) noexcept;
// Fallback: HIDP_STATUS_NULL.
NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS caps) noexcept;
// *length is the array's length in elements. Fallback: HIDP_STATUS_NULL.
NTSTATUS HidP_GetButtonCaps(HIDP_REPORT_TYPE reportType, PHIDP_BUTTON_CAPS buttonCaps, PUSHORT length,
                            PHIDP_PREPARSED_DATA preparsedData) noexcept;
NTSTATUS HidP_GetValueCaps(HIDP_REPORT_TYPE reportType, PHIDP_VALUE_CAPS valueCaps, PUSHORT length,
                           PHIDP_PREPARSED_DATA preparsedData) noexcept;

// One of the string entries "HidD_GetProductString", "HidD_GetManufacturerString" or
// "HidD_GetSerialNumberString" on an open device, in the ANSI code page. Empty when the
// entry is unavailable or fails, and for texts shorter than 3 characters, which devices
// report in place of a missing string.
std::string GetHidString(HANDLE device, const char* entryName) noexcept;

}  // namespace kwhidw32
