// The device-installation binding on the fake platform: all or nothing, and where each
// entry comes from.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "hid/kwwin32di.h"
#include "hid/kwwin32di_enum.h"
#include "tests/fakeos/fakeos.h"
#include "tests/hid/bindings_fixture.h"

namespace {

constexpr GUID HidInterfaceGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct TEntry {
    const char* Name;
    bool Required;
    bool ConfigManager;
};
// The table the binding must hold, in its order.
const TEntry Entries[] = {
    {"SetupDiGetClassDevsA", true, false},
    {"SetupDiDestroyDeviceInfoList", true, false},
    {"SetupDiEnumDeviceInfo", true, false},
    {"SetupDiGetDeviceRegistryPropertyA", true, false},
    {"SetupDiOpenDevRegKey", true, false},
    {"SetupDiEnumDeviceInterfaces", true, false},
    {"SetupDiGetDeviceInterfaceDetailA", true, false},
    {"SetupDiCreateDeviceInfoList", true, false},
    {"SetupDiCreateDeviceInfoA", true, false},
    {"SetupDiGetINFClassA", true, false},
    {"SetupDiSetDeviceRegistryPropertyA", true, false},
    {"SetupDiCallClassInstaller", true, false},
    {"SetupDiGetDeviceInstanceIdA", true, false},
    {"SetupDiRemoveDevice", false, false},
    {"SetupDiUnremoveDevice", false, false},
    {"SetupDiOpenDeviceInfoA", false, false},
    {"CM_Locate_DevNodeA", true, true},
    {"CM_Get_DevNode_Registry_PropertyA", true, true},
    {"CM_Get_Parent", true, true},
    {"CM_Get_Device_ID_List_SizeA", true, true},
    {"CM_Get_Device_ID_ListA", true, true},
    {"CM_Get_Child", true, true},
    {"CM_Get_Sibling", true, true},
    {"CM_Request_Device_EjectA", false, true},
};

HMODULE ModuleOf(FARPROC address) {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(address), &module);
    return module;
}

using SetupApiBinding = TBindingTest;

TEST_F(SetupApiBinding, HoldsTheTwentyFourEntries) {
    const auto entries = kwwin32di::SetupApiEntries();
    ASSERT_EQ(entries.size(), std::size(Entries));
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_STREQ(entries[i].Name, Entries[i].Name);
        EXPECT_EQ(entries[i].Required, Entries[i].Required) << Entries[i].Name;
        EXPECT_EQ(entries[i].ConfigManager, Entries[i].ConfigManager) << Entries[i].Name;
    }
}

// One system: the builds of the two libraries installed, and what LoadSetupApi makes of it.
struct TSystemCase {
    std::string Name;
    std::string SetupApi;   // build of setupapi.dll, as KwFake_Install takes it
    std::string CfgMgr32;   // build of cfgmgr32.dll
    std::string LeftOut;    // the entry the builds lack, if any
    bool Bound;
    bool ConfigManagerLoaded;
};
void PrintTo(const TSystemCase& c, std::ostream* os) { *os << c.Name; }

std::vector<TSystemCase> Systems() {
    std::vector<TSystemCase> systems = {
        {"Full", "", "", "", true, true},
        {"NoSetupApi", "missing", "", "", false, false},
        {"NoCfgMgr32", "", "missing", "", false, false},
        {"SetupApiWithConfigManager", "with-cm", "", "", true, false},
        {"SetupApiWithConfigManagerAndNoCfgMgr32", "with-cm", "missing", "", true, false},
        {"SetupApiWithConfigManagerLackingCM_Get_Child", "with-cm-no-CM_Get_Child", "", "CM_Get_Child", false, false},
    };
    for (const TEntry& e : Entries) {
        const std::string build = std::string("no-") + e.Name;
        systems.push_back({std::string("Lacking") + e.Name, e.ConfigManager ? "" : build, e.ConfigManager ? build : "",
                           e.Name, !e.Required, !e.Required});
    }
    return systems;
}

std::vector<TSystemCase> FailingSystems() {
    std::vector<TSystemCase> failing;
    for (const TSystemCase& c : Systems())
        if (!c.Bound) failing.push_back(c);
    return failing;
}

class SetupApiSystem : public TBindingTest, public testing::WithParamInterface<TSystemCase> {};
class FailingSetupApiSystem : public SetupApiSystem {};

TEST_P(SetupApiSystem, BindsAllOrNothing) {
    const TSystemCase& c = GetParam();
    Install("setupapi", c.SetupApi.c_str());
    Install("cfgmgr32", c.CfgMgr32.c_str());

    EXPECT_EQ(kwwin32di::LoadSetupApi(), c.Bound);

    EXPECT_EQ(kwwin32di::SetupApiHandle() != nullptr, c.Bound);
    EXPECT_EQ(kwwin32di::ConfigManagerHandle() != nullptr, c.ConfigManagerLoaded);
    EXPECT_EQ(Loaded("setupapi.dll"), c.Bound);
    EXPECT_EQ(Loaded("cfgmgr32.dll"), c.ConfigManagerLoaded);
    for (const kwwin32di::TSetupApiEntry& entry : kwwin32di::SetupApiEntries()) {
        if (!c.Bound || c.LeftOut == entry.Name) {
            EXPECT_EQ(entry.Address, nullptr) << entry.Name;
            continue;
        }
        const HMODULE from = entry.ConfigManager && c.ConfigManagerLoaded ? kwwin32di::ConfigManagerHandle()
                                                                         : kwwin32di::SetupApiHandle();
        EXPECT_EQ(ModuleOf(entry.Address), from) << entry.Name;
    }
}

TEST_P(FailingSetupApiSystem, IsTriedAgainFromTheStart) {
    const TSystemCase& c = GetParam();
    Install("setupapi", c.SetupApi.c_str());
    Install("cfgmgr32", c.CfgMgr32.c_str());
    ASSERT_FALSE(kwwin32di::LoadSetupApi());

    Install("setupapi", "");
    Install("cfgmgr32", "");
    EXPECT_TRUE(kwwin32di::LoadSetupApi());
    EXPECT_TRUE(Loaded("cfgmgr32.dll"));
}

INSTANTIATE_TEST_SUITE_P(Systems, SetupApiSystem, testing::ValuesIn(Systems()),
                         [](const auto& info) { return info.param.Name; });
INSTANTIATE_TEST_SUITE_P(Systems, FailingSetupApiSystem, testing::ValuesIn(FailingSystems()),
                         [](const auto& info) { return info.param.Name; });

TEST_F(SetupApiBinding, LooksEachEntryUpOnceAndNothingWhenBound) {
    TLookupCounter lookups;
    ASSERT_TRUE(lookups.Installed());
    ASSERT_TRUE(kwwin32di::LoadSetupApi());
    const HMODULE setupApi = kwwin32di::SetupApiHandle();
    const HMODULE configManager = kwwin32di::ConfigManagerHandle();
    for (const TEntry& e : Entries)
        EXPECT_EQ(lookups.Count(e.ConfigManager ? configManager : setupApi, e.Name), 1) << e.Name;
    const int before = lookups.Total(setupApi) + lookups.Total(configManager);

    EXPECT_TRUE(kwwin32di::LoadSetupApi());

    EXPECT_EQ(lookups.Total(setupApi) + lookups.Total(configManager), before);
    EXPECT_EQ(kwwin32di::SetupApiHandle(), setupApi);
    EXPECT_EQ(kwwin32di::ConfigManagerHandle(), configManager);
}

TEST_F(SetupApiBinding, FreeReleasesBothLibraries) {
    ASSERT_TRUE(kwwin32di::LoadSetupApi());
    kwwin32di::FreeSetupApi();
    EXPECT_EQ(kwwin32di::SetupApiHandle(), nullptr);
    EXPECT_EQ(kwwin32di::ConfigManagerHandle(), nullptr);
    EXPECT_FALSE(Loaded("setupapi.dll"));
    EXPECT_FALSE(Loaded("cfgmgr32.dll"));
    for (const kwwin32di::TSetupApiEntry& entry : kwwin32di::SetupApiEntries())
        EXPECT_EQ(entry.Address, nullptr) << entry.Name;
}

TEST_F(SetupApiBinding, TheBoundEntriesReachTheLibraries) {
    const KwFakeDevice remote{.InstanceId = "HID\\VID_1234&PID_5678\\1", .BusRelations = "USB\\CHILD\\1\0"};
    ASSERT_GT(KwFake_AddDevice(&remote), 0);
    ASSERT_TRUE(kwwin32di::LoadSetupApi());

    HDEVINFO set = kwwin32di::SetupDiGetClassDevsA(&HidInterfaceGuid, nullptr, nullptr,
                                                   DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof element;
    EXPECT_TRUE(kwwin32di::SetupDiEnumDeviceInfo(set, 0, &element));
    EXPECT_TRUE(kwwin32di::SetupDiDestroyDeviceInfoList(set));
    ULONG length = 0;
    EXPECT_EQ(kwwin32di::CM_Get_Device_ID_List_SizeA(&length, "HID\\VID_1234&PID_5678\\1",
                                                     CM_GETIDLIST_FILTER_BUSRELATIONS),
              CR_SUCCESS);
    EXPECT_EQ(length, sizeof "USB\\CHILD\\1" + 1);
}

// The detail record's size field is written only into a block that holds it: a required
// size the services report too small for it is not taken as a block size. A query with
// such a block would mean its size field had been written past the end.
TEST_F(SetupApiBinding, ADetailSizeTooSmallForTheRecordIsNeverUsed) {
    const struct {
        DWORD DetailSize;  // reported; 0: the true one
        bool ByDevice;
        int DetailCalls;  // the size query, and the query with the block if any
        bool DetailPath;
    } cases[] = {
        {1, true, 1, false}, {2, true, 1, false}, {3, true, 1, false}, {4, true, 1, false},
        {1, false, 1, false}, {3, false, 1, false}, {4, false, 1, false},
        {0, true, 2, true},  {0, false, 2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "detail size " << c.DetailSize
                                        << (c.ByDevice ? ", by device" : ", by interface"));
        KwFake_Reset();
        const KwFakeDevice device{
            .Description = "Remote", .SymbolicName = "\\\\?\\symbolic", .DetailSize = c.DetailSize};
        const int id = KwFake_AddDevice(&device);
        ASSERT_GT(id, 0);

        kwwin32di::TDeviceRecords records;
        kwwin32di::DiEnumInstalledDevices(&HidInterfaceGuid, true, c.ByDevice, true, records);
        std::vector<std::unique_ptr<TkwDevice>> owned;
        for (auto& record : records) owned.emplace_back(record.second);

        EXPECT_EQ(KwFake_CallCount("SetupDiGetDeviceInterfaceDetailA"), c.DetailCalls);
        if (c.DetailPath) {
            ASSERT_EQ(owned.size(), 1u);
            EXPECT_EQ(owned[0]->DevicePath, KwFake_DevicePath(id));
        } else if (c.ByDevice) {
            ASSERT_EQ(owned.size(), 1u);
            EXPECT_EQ(owned[0]->DevicePath, "\\\\?\\symbolic") << "the registry's path stays";
        } else {
            EXPECT_TRUE(owned.empty());
        }
    }
}

}  // namespace
