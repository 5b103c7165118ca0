#include "hid/kwwin32di.h"

#include <iterator>
#include <type_traits>
#include <utility>

#include "rtl/win32/handle.h"
#include "rtl/win32/module.h"

namespace kwwin32di {

decltype(&::SetupDiGetClassDevsA) SetupDiGetClassDevsA = nullptr;
decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList = nullptr;
decltype(&::SetupDiEnumDeviceInfo) SetupDiEnumDeviceInfo = nullptr;
decltype(&::SetupDiGetDeviceRegistryPropertyA) SetupDiGetDeviceRegistryPropertyA = nullptr;
decltype(&::SetupDiOpenDevRegKey) SetupDiOpenDevRegKey = nullptr;
decltype(&::SetupDiEnumDeviceInterfaces) SetupDiEnumDeviceInterfaces = nullptr;
decltype(&::SetupDiGetDeviceInterfaceDetailA) SetupDiGetDeviceInterfaceDetailA = nullptr;
decltype(&::SetupDiCreateDeviceInfoList) SetupDiCreateDeviceInfoList = nullptr;
decltype(&::SetupDiCreateDeviceInfoA) SetupDiCreateDeviceInfoA = nullptr;
decltype(&::SetupDiGetINFClassA) SetupDiGetINFClassA = nullptr;
decltype(&::SetupDiSetDeviceRegistryPropertyA) SetupDiSetDeviceRegistryPropertyA = nullptr;
decltype(&::SetupDiCallClassInstaller) SetupDiCallClassInstaller = nullptr;
decltype(&::SetupDiGetDeviceInstanceIdA) SetupDiGetDeviceInstanceIdA = nullptr;
decltype(&::SetupDiRemoveDevice) SetupDiRemoveDevice = nullptr;
decltype(&::SetupDiUnremoveDevice) SetupDiUnremoveDevice = nullptr;
decltype(&::SetupDiOpenDeviceInfoA) SetupDiOpenDeviceInfoA = nullptr;
decltype(&::CM_Locate_DevNodeA) CM_Locate_DevNodeA = nullptr;
decltype(&::CM_Get_DevNode_Registry_PropertyA) CM_Get_DevNode_Registry_PropertyA = nullptr;
decltype(&::CM_Get_Parent) CM_Get_Parent = nullptr;
decltype(&::CM_Get_Device_ID_List_SizeA) CM_Get_Device_ID_List_SizeA = nullptr;
decltype(&::CM_Get_Device_ID_ListA) CM_Get_Device_ID_ListA = nullptr;
decltype(&::CM_Get_Child) CM_Get_Child = nullptr;
decltype(&::CM_Get_Sibling) CM_Get_Sibling = nullptr;
decltype(&::CM_Request_Device_EjectA) CM_Request_Device_EjectA = nullptr;

namespace {

// Through void(*)(): FARPROC and the entries are unrelated function types.
template <auto* Slot>
void Store(FARPROC address) noexcept {
    *Slot = reinterpret_cast<std::remove_pointer_t<decltype(Slot)>>(reinterpret_cast<void (*)()>(address));
}
template <auto* Slot>
FARPROC Read() noexcept {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(*Slot));
}

struct TSlot {
    const char* name;
    bool required;
    bool configManager;
    void (*store)(FARPROC) noexcept;
    FARPROC (*read)() noexcept;
};

#define KW_SETUPDI(name, required) {#name, required, false, &Store<&name>, &Read<&name>}
#define KW_CM(name, required) {#name, required, true, &Store<&name>, &Read<&name>}
constexpr TSlot Slots[] = {
    KW_SETUPDI(SetupDiGetClassDevsA, true),
    KW_SETUPDI(SetupDiDestroyDeviceInfoList, true),
    KW_SETUPDI(SetupDiEnumDeviceInfo, true),
    KW_SETUPDI(SetupDiGetDeviceRegistryPropertyA, true),
    KW_SETUPDI(SetupDiOpenDevRegKey, true),
    KW_SETUPDI(SetupDiEnumDeviceInterfaces, true),
    KW_SETUPDI(SetupDiGetDeviceInterfaceDetailA, true),
    KW_SETUPDI(SetupDiCreateDeviceInfoList, true),
    KW_SETUPDI(SetupDiCreateDeviceInfoA, true),
    KW_SETUPDI(SetupDiGetINFClassA, true),
    KW_SETUPDI(SetupDiSetDeviceRegistryPropertyA, true),
    KW_SETUPDI(SetupDiCallClassInstaller, true),
    KW_SETUPDI(SetupDiGetDeviceInstanceIdA, true),
    KW_SETUPDI(SetupDiRemoveDevice, false),
    KW_SETUPDI(SetupDiUnremoveDevice, false),
    KW_SETUPDI(SetupDiOpenDeviceInfoA, false),
    KW_CM(CM_Locate_DevNodeA, true),
    KW_CM(CM_Get_DevNode_Registry_PropertyA, true),
    KW_CM(CM_Get_Parent, true),
    KW_CM(CM_Get_Device_ID_List_SizeA, true),
    KW_CM(CM_Get_Device_ID_ListA, true),
    KW_CM(CM_Get_Child, true),
    KW_CM(CM_Get_Sibling, true),
    KW_CM(CM_Request_Device_EjectA, false),
};
#undef KW_SETUPDI
#undef KW_CM
static_assert(std::size(Slots) == SetupApiEntryCount);

// Never destroyed: a static destructor runs under the loader lock while the plug-in
// unloads, where no library may be freed. FreeSetupApi is the teardown.
TUniqueModule& SetupApiLibrary() noexcept {
    static auto* library = new TUniqueModule;
    return *library;
}
TUniqueModule& ConfigManagerLibrary() noexcept {
    static auto* library = new TUniqueModule;
    return *library;
}

// Nothing may call into a library that is gone.
void ClearEntries() noexcept {
    for (const TSlot& slot : Slots) slot.store(nullptr);
}

}  // namespace

bool LoadSetupApi() noexcept {
    if (SetupApiLibrary()) return true;
    TUniqueModule setupApi(LoadSystemLibrary("SetupAPI.dll"));
    if (!setupApi) return false;

    // Some systems' SetupAPI.dll carries the configuration manager itself.
    HMODULE configManager = setupApi.get();
    if (!GetProcAddress(setupApi.get(), "CM_Locate_DevNodeA")) {
        if (!ConfigManagerLibrary()) ConfigManagerLibrary().reset(LoadSystemLibrary("cfgmgr32.dll"));
        configManager = ConfigManagerLibrary().get();
    }

    bool complete = true;
    for (const TSlot& slot : Slots) {
        const HMODULE source = slot.configManager ? configManager : setupApi.get();
        const FARPROC address = source ? GetProcAddress(source, slot.name) : nullptr;
        slot.store(address);
        if (slot.required && !address) complete = false;
    }
    if (!complete) {
        ClearEntries();
        ConfigManagerLibrary().reset();
        return false;  // setupApi goes with this scope
    }
    SetupApiLibrary() = std::move(setupApi);
    return true;
}

void FreeSetupApi() noexcept {
    ClearEntries();
    SetupApiLibrary().reset();
    ConfigManagerLibrary().reset();
}

HMODULE SetupApiHandle() noexcept { return SetupApiLibrary().get(); }

HMODULE ConfigManagerHandle() noexcept { return ConfigManagerLibrary().get(); }

std::array<TSetupApiEntry, SetupApiEntryCount> SetupApiEntries() noexcept {
    std::array<TSetupApiEntry, SetupApiEntryCount> entries{};
    for (size_t i = 0; i < SetupApiEntryCount; ++i)
        entries[i] = {Slots[i].name, Slots[i].required, Slots[i].configManager, Slots[i].read()};
    return entries;
}

}  // namespace kwwin32di
