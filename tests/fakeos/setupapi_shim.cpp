// setupapi.dll of the fake platform; one build also exports the configuration-manager
// entries, as some systems' SetupAPI.dll does. Defined first: the headers then declare
// the entries as ours, not as imports.
#define _SETUPAPI_
#define _CFGMGR32_
#include "tests/fakeos/fakeos_entries.h"

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags) {
    return Fake_SetupDiGetClassDevsA(classGuid, enumerator, parent, flags);
}
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) { return Fake_SetupDiDestroyDeviceInfoList(set); }
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data) {
    return Fake_SetupDiEnumDeviceInfo(set, index, data);
}
BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, PDWORD type,
                                              PBYTE buffer, DWORD size, PDWORD required) {
    return Fake_SetupDiGetDeviceRegistryPropertyA(set, data, property, type, buffer, size, required);
}
HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD scope, DWORD profile, DWORD keyType,
                                 REGSAM access) {
    return Fake_SetupDiOpenDevRegKey(set, data, scope, profile, keyType, access);
}
BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA data, const GUID* interfaceGuid, DWORD index,
                                        PSP_DEVICE_INTERFACE_DATA interfaceData) {
    return Fake_SetupDiEnumDeviceInterfaces(set, data, interfaceGuid, index, interfaceData);
}
BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD required,
                                             PSP_DEVINFO_DATA data) {
    return Fake_SetupDiGetDeviceInterfaceDetailA(set, interfaceData, detail, size, required, data);
}
HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* classGuid, HWND parent) {
    return Fake_SetupDiCreateDeviceInfoList(classGuid, parent);
}
BOOL WINAPI SetupDiCreateDeviceInfoA(HDEVINFO set, PCSTR name, const GUID* classGuid, PCSTR description, HWND parent,
                                     DWORD flags, PSP_DEVINFO_DATA data) {
    return Fake_SetupDiCreateDeviceInfoA(set, name, classGuid, description, parent, flags, data);
}
BOOL WINAPI SetupDiGetINFClassA(PCSTR infName, LPGUID classGuid, PSTR className, DWORD size, PDWORD required) {
    return Fake_SetupDiGetINFClassA(infName, classGuid, className, size, required);
}
BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, const BYTE* buffer,
                                              DWORD size) {
    return Fake_SetupDiSetDeviceRegistryPropertyA(set, data, property, buffer, size);
}
BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data) {
    return Fake_SetupDiCallClassInstaller(function, set, data);
}
BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO set, PSP_DEVINFO_DATA data, PSTR buffer, DWORD size,
                                        PDWORD required) {
    return Fake_SetupDiGetDeviceInstanceIdA(set, data, buffer, size, required);
}
BOOL WINAPI SetupDiRemoveDevice(HDEVINFO set, PSP_DEVINFO_DATA data) { return Fake_SetupDiRemoveDevice(set, data); }
BOOL WINAPI SetupDiUnremoveDevice(HDEVINFO set, PSP_DEVINFO_DATA data) {
    return Fake_SetupDiUnremoveDevice(set, data);
}
BOOL WINAPI SetupDiOpenDeviceInfoA(HDEVINFO set, PCSTR instanceId, HWND parent, DWORD flags, PSP_DEVINFO_DATA data) {
    return Fake_SetupDiOpenDeviceInfoA(set, instanceId, parent, flags, data);
}
}

#include "tests/fakeos/cm_shim.inc"
