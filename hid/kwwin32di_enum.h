#pragma once
// Enumeration of installed devices through the device-installation services.
#include <windows.h>
#include <setupapi.h>

#include <string>
#include <utility>
#include <vector>

#include "iocore/kwclasses.h"

namespace kwwin32di {
// One record per device found, in the services' order; the caller owns the records.
using TDeviceRecords = std::vector<std::pair<std::string, TkwDevice*>>;

// Appends a new record for every device of classGuid (all classes when null): by
// device element (with registry key, instance id and bus relations) or by interface only.
void DiEnumInstalledDevices(const GUID* classGuid, bool presentOnly, bool byDevice, bool withInterface,
                            TDeviceRecords& list);
// A device registry property as text; empty when it cannot be read or exceeds 512 bytes.
std::string GetDevicePropertyString(HDEVINFO deviceSet, SP_DEVINFO_DATA& deviceInfo, DWORD property);
// The ids of a device's bus relations (or removal relations), joined with separator.
std::string GetDeviceIdList(const std::string& deviceId, const std::string& separator, bool busRelations);
}  // namespace kwwin32di
