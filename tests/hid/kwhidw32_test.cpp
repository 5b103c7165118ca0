// The HID class library's bindings on the fake platform: each entry found, left out of
// the library, and the library missing.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "hid/kwhid.h"
#include "hid/kwhidw32.h"
#include "rtl/format.h"
#include "rtl/win32/handle.h"
#include "tests/fakeos/fakeos.h"
#include "tests/fakeos/fakeos_entries.h"
#include "tests/hid/bindings_fixture.h"

namespace {

constexpr GUID HidInterfaceGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

std::string GuidText(const GUID& g) {
    return Format("%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1, g.Data2, g.Data3, g.Data4[0],
                  g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}

std::string Status(NTSTATUS status) { return Format("%08lX", static_cast<unsigned long>(status)); }

KwFakeDevice Remote(const wchar_t* product = L"Media Remote") {
    HIDP_CAPS caps{};
    caps.Usage = 1;
    caps.UsagePage = 0x0C;
    caps.InputReportByteLength = 4;
    caps.NumberInputButtonCaps = 2;
    caps.NumberInputValueCaps = 1;
    return {.Product = product,
            .Manufacturer = L"Clickwell Labs",
            .SerialNumber = L"SN-0042",
            .VendorID = 0x1234,
            .ProductID = 0x5678,
            .VersionNumber = 0x0100,
            .Caps = caps};
}

TUniqueFile OpenForQuery(int device) {
    return TUniqueFile(CreateFileA(KwFake_DevicePath(device), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
}

// One binding: the entry it calls, a call on an open device with its preparsed data that
// tells what came back, and what comes back as the fallback.
struct THidCase {
    const char* Entry;
    std::string (*Call)(HANDLE device, PHIDP_PREPARSED_DATA data);
    const char* Fallback;
};
void PrintTo(const THidCase& c, std::ostream* os) { *os << c.Entry; }

const THidCase HidCases[] = {
    {"HidD_GetHidGuid",
     [](HANDLE, PHIDP_PREPARSED_DATA) {
         GUID guid;
         std::memset(&guid, 0xAB, sizeof guid);
         kwhidw32::HidD_GetHidGuid(&guid);
         return GuidText(guid);
     },
     "ABABABAB-ABAB-ABAB-ABAB-ABABABABABAB"},
    {"HidD_GetProductString",
     [](HANDLE device, PHIDP_PREPARSED_DATA) { return kwhidw32::GetHidString(device, "HidD_GetProductString"); }, ""},
    {"HidD_GetManufacturerString",
     [](HANDLE device, PHIDP_PREPARSED_DATA) {
         return kwhidw32::GetHidString(device, "HidD_GetManufacturerString");
     },
     ""},
    {"HidD_GetSerialNumberString",
     [](HANDLE device, PHIDP_PREPARSED_DATA) {
         return kwhidw32::GetHidString(device, "HidD_GetSerialNumberString");
     },
     ""},
    {"HidD_GetPreparsedData",
     [](HANDLE device, PHIDP_PREPARSED_DATA) {
         // Not none beforehand, to see the binding set it.
         auto data = reinterpret_cast<PHIDP_PREPARSED_DATA>(1);
         const BOOLEAN ok = kwhidw32::HidD_GetPreparsedData(device, &data);
         return Format("%d %s", ok, data ? "data" : "none");
     },
     "0 none"},
    {"HidD_FreePreparsedData",
     [](HANDLE, PHIDP_PREPARSED_DATA data) { return Format("%d", kwhidw32::HidD_FreePreparsedData(data)); }, "0"},
    {"HidD_GetAttributes",
     [](HANDLE device, PHIDP_PREPARSED_DATA) {
         HIDD_ATTRIBUTES attributes{};
         attributes.Size = 10;
         const BOOLEAN ok = kwhidw32::HidD_GetAttributes(device, &attributes);
         return Format("%d %04X:%04X", ok, attributes.VendorID, attributes.ProductID);
     },
     "0 0000:0000"},
    {"HidP_GetCaps",
     [](HANDLE, PHIDP_PREPARSED_DATA data) {
         HIDP_CAPS caps{};
         return Status(kwhidw32::HidP_GetCaps(data, &caps));
     },
     "80110001"},
    {"HidP_GetButtonCaps",
     [](HANDLE, PHIDP_PREPARSED_DATA data) {
         std::array<HIDP_BUTTON_CAPS, 4> caps{};
         USHORT length = caps.size();
         return Status(kwhidw32::HidP_GetButtonCaps(HidP_Input, caps.data(), &length, data));
     },
     "80110001"},
    {"HidP_GetValueCaps",
     [](HANDLE, PHIDP_PREPARSED_DATA data) {
         std::array<HIDP_VALUE_CAPS, 4> caps{};
         USHORT length = caps.size();
         return Status(kwhidw32::HidP_GetValueCaps(HidP_Input, caps.data(), &length, data));
     },
     "80110001"},
};

enum TSystem { EntryFound, EntryMissing, LibraryMissing };
const char* const SystemNames[] = {"EntryFound", "EntryMissing", "LibraryMissing"};

class HidBinding : public TBindingTest, public testing::WithParamInterface<std::tuple<THidCase, TSystem>> {
protected:
    void SetUp() override {
        TBindingTest::SetUp();
        device_ = KwFake_AddDevice(&remote_);
        ASSERT_GT(device_, 0);
    }
    // An open device and its preparsed data, taken from the platform itself: the installed
    // library may lack the entry.
    void Open(TUniqueFile& file, PHIDP_PREPARSED_DATA& data) {
        file = OpenForQuery(device_);
        ASSERT_TRUE(file) << "error " << GetLastError();
        ASSERT_TRUE(Fake_HidD_GetPreparsedData(file.get(), &data));
    }

    KwFakeDevice remote_ = Remote();
    int device_ = 0;
};

TEST_P(HidBinding, CallsTheEntryOrGivesTheFallback) {
    const auto& [binding, system] = GetParam();
    if (system == EntryMissing) Install("hid", (std::string("no-") + binding.Entry).c_str());
    if (system == LibraryMissing) Install("hid", "missing");
    TUniqueFile file;
    PHIDP_PREPARSED_DATA data = nullptr;
    ASSERT_NO_FATAL_FAILURE(Open(file, data));

    const int before = KwFake_CallCount(binding.Entry);
    const std::string result = binding.Call(file.get(), data);
    const int calls = KwFake_CallCount(binding.Entry) - before;

    EXPECT_EQ(kwhidw32::LoadHidLibrary(), system != LibraryMissing);
    if (system == EntryFound) {
        EXPECT_NE(result, binding.Fallback);
        EXPECT_EQ(calls, 1);
    } else {
        EXPECT_EQ(result, binding.Fallback);
        EXPECT_EQ(calls, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Entries, HidBinding,
                         testing::Combine(testing::ValuesIn(HidCases),
                                          testing::Values(EntryFound, EntryMissing, LibraryMissing)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).Entry) + "_" +
                                    SystemNames[std::get<1>(info.param)];
                         });

class HidLookup : public HidBinding {};

TEST_P(HidLookup, LooksTheEntryUpOnEveryCall) {
    const THidCase& binding = std::get<0>(GetParam());
    TLookupCounter lookups;
    ASSERT_TRUE(lookups.Installed());
    TUniqueFile file;
    PHIDP_PREPARSED_DATA data = nullptr;
    ASSERT_NO_FATAL_FAILURE(Open(file, data));
    ASSERT_TRUE(kwhidw32::LoadHidLibrary());

    binding.Call(file.get(), data);
    binding.Call(file.get(), data);

    EXPECT_EQ(lookups.Count(kwhidw32::HidLibraryHandle(), binding.Entry), 2);
}

INSTANTIATE_TEST_SUITE_P(Entries, HidLookup,
                         testing::Combine(testing::ValuesIn(HidCases), testing::Values(EntryFound)),
                         [](const auto& info) { return std::string(std::get<0>(info.param).Entry); });

// ---- the strings ----

struct TStringCase {
    const char* Name;
    bool Absent;
    std::wstring Text;
    std::string Expected;  // in code page 1252
};
void PrintTo(const TStringCase& c, std::ostream* os) { *os << c.Name; }

std::vector<TStringCase> StringCases() {
    return {
        {"Absent", true, L"", ""},
        {"Empty", false, L"", ""},
        {"OneCharacter", false, L"A", ""},
        {"TwoCharacters", false, L"AB", ""},
        {"ThreeCharacters", false, L"ABC", "ABC"},
        {"Longer", false, L"Media Remote", "Media Remote"},
        {"TwoAccented", false, L"\u00e9\u00e8", ""},
        {"ThreeAccented", false, L"\u00e9t\u00e9", "\xE9t\xE9"},
        // The fake fills the 2048-byte buffer without a terminator.
        {"LongerThanTheBuffer", false, std::wstring(1100, L'x'), std::string(1024, 'x')},
    };
}

class HidString : public TBindingTest, public testing::WithParamInterface<TStringCase> {};

TEST_P(HidString, ShorterThanThreeCharactersIsEmpty) {
    const TStringCase& c = GetParam();
    if (GetACP() != 1252) GTEST_SKIP() << "ANSI code page " << GetACP();
    const KwFakeDevice remote = Remote(c.Absent ? nullptr : c.Text.c_str());
    const int device = KwFake_AddDevice(&remote);
    TUniqueFile file = OpenForQuery(device);
    ASSERT_TRUE(file);

    EXPECT_EQ(kwhidw32::GetHidString(file.get(), "HidD_GetProductString"), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, HidString, testing::ValuesIn(StringCases()),
                         [](const auto& info) { return std::string(info.param.Name); });

using HidStrings = TBindingTest;

TEST_F(HidStrings, EachEntryReadsItsOwnString) {
    const KwFakeDevice remote = Remote();
    const int device = KwFake_AddDevice(&remote);
    TUniqueFile file = OpenForQuery(device);
    ASSERT_TRUE(file);

    EXPECT_EQ(kwhidw32::GetHidString(file.get(), "HidD_GetProductString"), "Media Remote");
    EXPECT_EQ(kwhidw32::GetHidString(file.get(), "HidD_GetManufacturerString"), "Clickwell Labs");
    EXPECT_EQ(kwhidw32::GetHidString(file.get(), "HidD_GetSerialNumberString"), "SN-0042");
}

// ---- the class GUID and the library ----

using HidLibrary = TBindingTest;

TEST_F(HidLibrary, WritesTheClassIntoHidClassGuid) {
    HidClassGuid = GUID{};
    kwhidw32::HidD_GetHidGuid(&HidClassGuid);
    EXPECT_EQ(GuidText(HidClassGuid), GuidText(HidInterfaceGuid));
}

TEST_F(HidLibrary, HidClassGuidStaysZeroWithoutTheLibrary) {
    Install("hid", "missing");
    HidClassGuid = GUID{};
    kwhidw32::HidD_GetHidGuid(&HidClassGuid);
    EXPECT_EQ(GuidText(HidClassGuid), GuidText(GUID{}));
}

TEST_F(HidLibrary, AFailedLoadIsTriedAgain) {
    Install("hid", "missing");
    EXPECT_FALSE(kwhidw32::LoadHidLibrary());
    EXPECT_EQ(kwhidw32::HidLibraryHandle(), nullptr);

    Install("hid", "");
    EXPECT_TRUE(kwhidw32::LoadHidLibrary());
    EXPECT_NE(kwhidw32::HidLibraryHandle(), nullptr);
}

TEST_F(HidLibrary, LoadsTheSystemFoldersLibraryOnceAndFreeReleasesIt) {
    ASSERT_TRUE(kwhidw32::LoadHidLibrary());
    const HMODULE loaded = kwhidw32::HidLibraryHandle();
    ASSERT_TRUE(kwhidw32::LoadHidLibrary());
    EXPECT_EQ(kwhidw32::HidLibraryHandle(), loaded);
    char path[MAX_PATH] = {};
    char system[MAX_PATH] = {};
    GetModuleFileNameA(loaded, path, MAX_PATH);
    GetSystemDirectoryA(system, MAX_PATH);
    EXPECT_EQ(lstrcmpiA(path, (std::string(system) + "\\hid.dll").c_str()), 0) << path;

    kwhidw32::FreeHidLibrary();
    EXPECT_EQ(kwhidw32::HidLibraryHandle(), nullptr);
    // Nothing else holds it: the library is gone from the process.
    EXPECT_FALSE(Loaded("hid.dll"));
}

TEST_F(HidLibrary, AFailedEntryPassesNoPreparsedDataOn) {
    KwFakeDevice remote = Remote();
    remote.Flags = kwffNoPreparsedData;
    const int device = KwFake_AddDevice(&remote);
    TUniqueFile file = OpenForQuery(device);
    ASSERT_TRUE(file);
    PHIDP_PREPARSED_DATA data = nullptr;
    EXPECT_FALSE(kwhidw32::HidD_GetPreparsedData(file.get(), &data));
    EXPECT_EQ(data, nullptr);
}

}  // namespace
