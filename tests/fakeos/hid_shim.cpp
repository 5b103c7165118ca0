// HID.DLL of the fake platform.
#include "tests/fakeos/fakeos_entries.h"

extern "C" {

void NTAPI HidD_GetHidGuid(LPGUID hidGuid) { Fake_HidD_GetHidGuid(hidGuid); }
BOOLEAN NTAPI HidD_GetProductString(HANDLE device, PVOID buffer, ULONG length) {
    return Fake_HidD_GetProductString(device, buffer, length);
}
BOOLEAN NTAPI HidD_GetManufacturerString(HANDLE device, PVOID buffer, ULONG length) {
    return Fake_HidD_GetManufacturerString(device, buffer, length);
}
BOOLEAN NTAPI HidD_GetSerialNumberString(HANDLE device, PVOID buffer, ULONG length) {
    return Fake_HidD_GetSerialNumberString(device, buffer, length);
}
BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData) {
    return Fake_HidD_GetPreparsedData(device, preparsedData);
}
BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData) {
    return Fake_HidD_FreePreparsedData(preparsedData);
}
BOOLEAN NTAPI HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
    return Fake_HidD_GetAttributes(device, attributes);
}
NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS caps) {
    return Fake_HidP_GetCaps(preparsedData, caps);
}
NTSTATUS NTAPI HidP_GetButtonCaps(HIDP_REPORT_TYPE type, PHIDP_BUTTON_CAPS caps, PUSHORT length,
                                  PHIDP_PREPARSED_DATA preparsedData) {
    return Fake_HidP_GetButtonCaps(type, caps, length, preparsedData);
}
NTSTATUS NTAPI HidP_GetValueCaps(HIDP_REPORT_TYPE type, PHIDP_VALUE_CAPS caps, PUSHORT length,
                                 PHIDP_PREPARSED_DATA preparsedData) {
    return Fake_HidP_GetValueCaps(type, caps, length, preparsedData);
}
}
