#include "hid/kwwin32di_enum.h"

#include <cstddef>
#include <cstring>
#include <memory>

#include "hid/kwwin32di.h"
#include "util/kwwin32.h"

namespace kwwin32di {
namespace {
// The detail record of an interface, in a block of the size the services asked for.
std::string InterfaceDevicePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& intf, DWORD size, SP_DEVINFO_DATA* info) {
    // Checked before the size field is written: a required size the services got wrong
    // must not make us write past the block. Nor is there a path without room for one.
    const size_t offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    if (size <= offset) return {};
    std::vector<uint8_t> block(size, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.data());
    detail->cbSize = 5;  // the record's fixed part, as the ANSI services expect on 32-bit Windows
    if (!SetupDiGetDeviceInterfaceDetailA(set, &intf, detail, size, nullptr, info)) return {};
    // The path ends within the block even if the services wrote no terminator.
    const char* path = detail->DevicePath;
    return std::string(path, strnlen(path, size - offset));
}

void ReadProperties(HDEVINFO set, SP_DEVINFO_DATA& info, TkwDevice& device) {
    device.DriverKey = GetDevicePropertyString(set, info, SPDRP_DRIVER);
    device.Service = GetDevicePropertyString(set, info, SPDRP_SERVICE);
    device.PhysicalDeviceName = GetDevicePropertyString(set, info, SPDRP_PHYSICAL_DEVICE_OBJECT_NAME);
    device.Description = GetDevicePropertyString(set, info, SPDRP_DEVICEDESC);
    device.Manufacturer = GetDevicePropertyString(set, info, SPDRP_MFG);
}
}  // namespace

std::string GetDevicePropertyString(HDEVINFO deviceSet, SP_DEVINFO_DATA& deviceInfo, DWORD property) {
    char buffer[512];
    DWORD required = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(deviceSet, &deviceInfo, property, nullptr,
                                           reinterpret_cast<PBYTE>(buffer), sizeof buffer, &required))
        return {};
    // A size of 0, or one beyond the buffer, never turns into a copy.
    if (required == 0 || required > sizeof buffer) return {};
    return std::string(buffer, required - 1);
}

std::string GetDeviceIdList(const std::string& deviceId, const std::string& separator, bool busRelations) {
    const ULONG filter = busRelations ? CM_GETIDLIST_FILTER_BUSRELATIONS : CM_GETIDLIST_FILTER_REMOVALRELATIONS;
    ULONG length = 0;
    if (CM_Get_Device_ID_List_SizeA(&length, deviceId.c_str(), filter) != CR_SUCCESS || length == 0) return {};
    std::vector<char> buffer(length, '\0');
    if (CM_Get_Device_ID_ListA(deviceId.c_str(), buffer.data(), length, filter) != CR_SUCCESS) return {};
    return MultiStringToText(buffer.data(), static_cast<int>(length), separator);
}

void DiEnumInstalledDevices(const GUID* classGuid, bool presentOnly, bool byDevice, bool withInterface,
                            TDeviceRecords& list) {
    if (!LoadSetupApi()) return;
    DWORD flags = (presentOnly ? DIGCF_PRESENT : 0) | (withInterface ? DIGCF_DEVICEINTERFACE : 0) |
                  (classGuid ? 0 : DIGCF_ALLCLASSES);
    HDEVINFO set = SetupDiGetClassDevsA(classGuid, nullptr, nullptr, flags);
    if (set == INVALID_HANDLE_VALUE) return;
    struct TSetCloser {
        HDEVINFO set;
        ~TSetCloser() { SetupDiDestroyDeviceInfoList(set); }
    } closer{set};

    if (byDevice) {
        for (DWORD index = 0;; ++index) {
            SP_DEVINFO_DATA info{};
            info.cbSize = sizeof info;
            if (!SetupDiEnumDeviceInfo(set, index, &info)) break;
            auto device = std::make_unique<TkwDevice>();
            ReadProperties(set, info, *device);
            HKEY opened = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
            if (opened && opened != INVALID_HANDLE_VALUE) {
                TUniqueRegKey key(opened);
                HKEY root = nullptr;
                device->RegistryKey = GetRegistryKeyPath(key.get(), &root);
                key.reset();
                device->DevicePath = ReadRegistryString(HKEY_LOCAL_MACHINE, device->RegistryKey, "SymbolicName");
                device->PortName = ReadRegistryString(HKEY_LOCAL_MACHINE, device->RegistryKey, "PortName");
            }
            char id[256];
            DWORD required = 0;
            if (SetupDiGetDeviceInstanceIdA(set, &info, id, sizeof id, &required) && required > 0 &&
                required <= sizeof id) {
                device->InstanceId.assign(id, required - 1);
                device->DevNode = info.DevInst;
                device->BusRelations = GetDeviceIdList(device->InstanceId, ";", true);
            }
            if (withInterface) {
                SP_DEVICE_INTERFACE_DATA intf{};
                intf.cbSize = sizeof intf;
                if (SetupDiEnumDeviceInterfaces(set, &info, classGuid, 0, &intf)) {
                    DWORD size = 0;
                    SetupDiGetDeviceInterfaceDetailA(set, &intf, nullptr, 0, &size, nullptr);
                    if (size > 0) {
                        std::string path = InterfaceDevicePath(set, intf, size, nullptr);
                        if (!path.empty()) device->DevicePath = std::move(path);
                    }
                }
            }
            list.emplace_back(device->DriverKey, device.get());
            device.release();
        }
    } else {
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA intf{};
            intf.cbSize = sizeof intf;
            if (!SetupDiEnumDeviceInterfaces(set, nullptr, classGuid, index, &intf)) break;
            SP_DEVINFO_DATA info{};
            info.cbSize = sizeof info;
            DWORD size = 0;
            SetupDiGetDeviceInterfaceDetailA(set, &intf, nullptr, 0, &size, &info);
            if (size == 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER) continue;
            std::string path = InterfaceDevicePath(set, intf, size, &info);
            if (path.empty()) continue;
            auto device = std::make_unique<TkwDevice>();
            ReadProperties(set, info, *device);
            device->DevicePath = std::move(path);
            list.emplace_back(device->DriverKey, device.get());
            device.release();
        }
    }
}
}  // namespace kwwin32di
