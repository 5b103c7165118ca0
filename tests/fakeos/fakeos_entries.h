#pragma once
// What the three fake libraries forward to: kwfakeos.dll's own version of each entry,
// with the same parameters, under the prefix Fake_. The shims stay thin, so every build
// of them (one lacking an entry, say) answers from the same platform.
#include <windows.h>

extern "C" {
#include <hidsdi.h>
}
#include <setupapi.h>
#include <cfgmgr32.h>

extern "C" {

void Fake_HidD_GetHidGuid(LPGUID hidGuid);
BOOLEAN Fake_HidD_GetProductString(HANDLE device, PVOID buffer, ULONG length);
BOOLEAN Fake_HidD_GetManufacturerString(HANDLE device, PVOID buffer, ULONG length);
BOOLEAN Fake_HidD_GetSerialNumberString(HANDLE device, PVOID buffer, ULONG length);
BOOLEAN Fake_HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData);
BOOLEAN Fake_HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData);
BOOLEAN Fake_HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes);
NTSTATUS Fake_HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS caps);
NTSTATUS Fake_HidP_GetButtonCaps(HIDP_REPORT_TYPE type, PHIDP_BUTTON_CAPS caps, PUSHORT length,
                                 PHIDP_PREPARSED_DATA preparsedData);
NTSTATUS Fake_HidP_GetValueCaps(HIDP_REPORT_TYPE type, PHIDP_VALUE_CAPS caps, PUSHORT length,
                                PHIDP_PREPARSED_DATA preparsedData);

HDEVINFO Fake_SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags);
BOOL Fake_SetupDiDestroyDeviceInfoList(HDEVINFO set);
BOOL Fake_SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data);
BOOL Fake_SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, PDWORD type,
                                            PBYTE buffer, DWORD size, PDWORD required);
HKEY Fake_SetupDiOpenDevRegKey(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD scope, DWORD profile, DWORD keyType,
                               REGSAM access);
BOOL Fake_SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA data, const GUID* interfaceGuid, DWORD index,
                                      PSP_DEVICE_INTERFACE_DATA interfaceData);
BOOL Fake_SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                           PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD required,
                                           PSP_DEVINFO_DATA data);
HDEVINFO Fake_SetupDiCreateDeviceInfoList(const GUID* classGuid, HWND parent);
BOOL Fake_SetupDiCreateDeviceInfoA(HDEVINFO set, PCSTR name, const GUID* classGuid, PCSTR description, HWND parent,
                                   DWORD flags, PSP_DEVINFO_DATA data);
BOOL Fake_SetupDiGetINFClassA(PCSTR infName, LPGUID classGuid, PSTR className, DWORD size, PDWORD required);
BOOL Fake_SetupDiSetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, const BYTE* buffer,
                                            DWORD size);
BOOL Fake_SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data);
BOOL Fake_SetupDiGetDeviceInstanceIdA(HDEVINFO set, PSP_DEVINFO_DATA data, PSTR buffer, DWORD size, PDWORD required);
BOOL Fake_SetupDiRemoveDevice(HDEVINFO set, PSP_DEVINFO_DATA data);
BOOL Fake_SetupDiUnremoveDevice(HDEVINFO set, PSP_DEVINFO_DATA data);
BOOL Fake_SetupDiOpenDeviceInfoA(HDEVINFO set, PCSTR instanceId, HWND parent, DWORD flags, PSP_DEVINFO_DATA data);

CONFIGRET Fake_CM_Locate_DevNodeA(PDEVINST devInst, DEVINSTID_A deviceId, ULONG flags);
CONFIGRET Fake_CM_Get_DevNode_Registry_PropertyA(DEVINST devInst, ULONG property, PULONG type, PVOID buffer,
                                                 PULONG length, ULONG flags);
CONFIGRET Fake_CM_Get_Parent(PDEVINST parent, DEVINST devInst, ULONG flags);
CONFIGRET Fake_CM_Get_Device_ID_List_SizeA(PULONG length, PCSTR filter, ULONG flags);
CONFIGRET Fake_CM_Get_Device_ID_ListA(PCSTR filter, PCHAR buffer, ULONG length, ULONG flags);
CONFIGRET Fake_CM_Get_Child(PDEVINST child, DEVINST devInst, ULONG flags);
CONFIGRET Fake_CM_Get_Sibling(PDEVINST sibling, DEVINST devInst, ULONG flags);
CONFIGRET Fake_CM_Request_Device_EjectA(DEVINST devInst, PPNP_VETO_TYPE vetoType, LPSTR vetoName, ULONG nameLength,
                                        ULONG flags);
}
