#pragma once
// HID device access: the HID device-interface class.
#include <windows.h>

// All zero until the first HidD_GetHidGuid binding call writes the class into it; device
// enumeration refreshes it before every enumeration. Stays zero without HID.DLL.
extern GUID HidClassGuid;
