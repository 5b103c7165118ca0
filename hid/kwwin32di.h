#pragma once
// The device-installation library (SetupAPI.dll) and the configuration manager
// (cfgmgr32.dll), bound by name at run time: nothing links them. LoadSetupApi fills the
// entry table below, all or nothing; the table is valid only after it returned true, and
// then stays bound until FreeSetupApi. The names are the libraries' own, hence the
// namespace.
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include <array>
#include <cstddef>

namespace kwwin32di {

// Loads "SetupAPI.dll" from the system folder and looks up every entry of the table.
// The configuration-manager entries come from SetupAPI.dll when it exports
// CM_Locate_DevNodeA, otherwise from "cfgmgr32.dll". When a required entry is missing,
// both libraries are released and the result is false; the next call starts again.
// True at once when already bound.
bool LoadSetupApi() noexcept;
// Releases both libraries and clears the table. Nothing releases them by itself, not even
// unloading the plug-in: a host calls this outside the loader lock (never from DllMain),
// or the libraries stay until the process ends.
void FreeSetupApi() noexcept;
// The loaded libraries, or null.
HMODULE SetupApiHandle() noexcept;
HMODULE ConfigManagerHandle() noexcept;

// The entry table. Required unless marked optional; an optional entry may stay null.
extern decltype(&::SetupDiGetClassDevsA) SetupDiGetClassDevsA;
extern decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList;
extern decltype(&::SetupDiEnumDeviceInfo) SetupDiEnumDeviceInfo;
extern decltype(&::SetupDiGetDeviceRegistryPropertyA) SetupDiGetDeviceRegistryPropertyA;
extern decltype(&::SetupDiOpenDevRegKey) SetupDiOpenDevRegKey;
extern decltype(&::SetupDiEnumDeviceInterfaces) SetupDiEnumDeviceInterfaces;
extern decltype(&::SetupDiGetDeviceInterfaceDetailA) SetupDiGetDeviceInterfaceDetailA;
extern decltype(&::SetupDiCreateDeviceInfoList) SetupDiCreateDeviceInfoList;
extern decltype(&::SetupDiCreateDeviceInfoA) SetupDiCreateDeviceInfoA;
extern decltype(&::SetupDiGetINFClassA) SetupDiGetINFClassA;
extern decltype(&::SetupDiSetDeviceRegistryPropertyA) SetupDiSetDeviceRegistryPropertyA;
extern decltype(&::SetupDiCallClassInstaller) SetupDiCallClassInstaller;
extern decltype(&::SetupDiGetDeviceInstanceIdA) SetupDiGetDeviceInstanceIdA;
extern decltype(&::SetupDiRemoveDevice) SetupDiRemoveDevice;        // optional
extern decltype(&::SetupDiUnremoveDevice) SetupDiUnremoveDevice;    // optional
extern decltype(&::SetupDiOpenDeviceInfoA) SetupDiOpenDeviceInfoA;  // optional
extern decltype(&::CM_Locate_DevNodeA) CM_Locate_DevNodeA;
extern decltype(&::CM_Get_DevNode_Registry_PropertyA) CM_Get_DevNode_Registry_PropertyA;
extern decltype(&::CM_Get_Parent) CM_Get_Parent;
extern decltype(&::CM_Get_Device_ID_List_SizeA) CM_Get_Device_ID_List_SizeA;
extern decltype(&::CM_Get_Device_ID_ListA) CM_Get_Device_ID_ListA;
extern decltype(&::CM_Get_Child) CM_Get_Child;
extern decltype(&::CM_Get_Sibling) CM_Get_Sibling;
extern decltype(&::CM_Request_Device_EjectA) CM_Request_Device_EjectA;  // optional

// The table as data, in the order above, with what each slot holds now.
struct TSetupApiEntry {
    const char* Name;
    bool Required;
    bool ConfigManager;  // a configuration-manager entry
    FARPROC Address;     // null while unbound
};
constexpr size_t SetupApiEntryCount = 24;
std::array<TSetupApiEntry, SetupApiEntryCount> SetupApiEntries() noexcept;

}  // namespace kwwin32di
