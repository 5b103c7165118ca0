// The fake HID platform answers as Windows does: what the device enumeration and the HID
// port rely on, through the bindings that load it.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "hid/kwhid.h"
#include "hid/kwhidw32.h"
#include "hid/kwwin32di.h"
#include "rtl/win32/handle.h"
#include "tests/fakeos/fakeos.h"

namespace {

// The bindings share their names with the system's declarations.
namespace di = kwwin32di;

constexpr GUID HidInterfaceGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

HIDP_CAPS Caps(USHORT inputLength = 8) {
    HIDP_CAPS caps{};
    caps.Usage = 1;
    caps.UsagePage = 0x0C;
    caps.InputReportByteLength = inputLength;
    caps.OutputReportByteLength = 2;
    caps.NumberInputButtonCaps = 2;
    caps.NumberOutputValueCaps = 1;
    return caps;
}

class FakeOs : public testing::Test {
protected:
    void SetUp() override {
        KwFake_Reset();
        ASSERT_TRUE(di::LoadSetupApi());
        ASSERT_TRUE(kwhidw32::LoadHidLibrary());
    }
    void TearDown() override {
        kwhidw32::FreeHidLibrary();
        di::FreeSetupApi();
        KwFake_Reset();
    }

    int Add(KwFakeDevice device) {
        if (!device.Caps.InputReportByteLength) device.Caps = Caps();
        const int id = KwFake_AddDevice(&device);
        EXPECT_GT(id, 0);
        return id;
    }
    static TUniqueFile Open(int device, DWORD access, DWORD flags = FILE_FLAG_OVERLAPPED) {
        return TUniqueFile(CreateFileA(KwFake_DevicePath(device), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, flags, nullptr));
    }
    static HDEVINFO HidDevices(DWORD flags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE) {
        return di::SetupDiGetClassDevsA(&HidInterfaceGuid, nullptr, nullptr, flags);
    }
    static FARPROC HidEntry(const char* name) { return GetProcAddress(kwhidw32::HidLibraryHandle(), name); }
};

// An overlapped read of one report, waited for.
struct TRead {
    TRead(HANDLE file, DWORD length)
        : file(file), buffer(length, 0xEE), event(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        overlapped.hEvent = event.get();
        issued = ReadFile(file, buffer.data(), length, nullptr, &overlapped) || GetLastError() == ERROR_IO_PENDING;
    }
    // The byte count, or -1 with the error in error.
    int Wait(DWORD timeoutMs = 5000) {
        if (WaitForSingleObject(event.get(), timeoutMs) != WAIT_OBJECT_0) {
            CancelIoEx(file, &overlapped);
            DWORD n = 0;
            GetOverlappedResult(file, &overlapped, &n, TRUE);
            error = WAIT_TIMEOUT;
            return -1;
        }
        DWORD n = 0;
        if (GetOverlappedResult(file, &overlapped, &n, FALSE)) return static_cast<int>(n);
        error = GetLastError();
        return -1;
    }
    HANDLE file;
    std::vector<uint8_t> buffer;
    TUniqueEvent event;
    OVERLAPPED overlapped{};
    bool issued = false;
    DWORD error = 0;
};

// ---- enumeration ----

TEST_F(FakeOs, EnumeratesElementsUntilNoMoreItems) {
    Add({.DevNode = 0x42});
    Add({});
    HDEVINFO set = HidDevices();
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof element;
    ASSERT_TRUE(di::SetupDiEnumDeviceInfo(set, 0, &element));
    EXPECT_EQ(element.DevInst, 0x42u);
    EXPECT_TRUE(di::SetupDiEnumDeviceInfo(set, 1, &element));
    EXPECT_FALSE(di::SetupDiEnumDeviceInfo(set, 2, &element));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    element.cbSize = 0;
    EXPECT_FALSE(di::SetupDiEnumDeviceInfo(set, 0, &element));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    EXPECT_EQ(KwFake_DeviceInfoSetCount(), 1);
    EXPECT_TRUE(di::SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(KwFake_DeviceInfoSetCount(), 0);
}

TEST_F(FakeOs, ReportsTheDetailSizeFirstThenThePath) {
    const int device = Add({});
    HDEVINFO set = HidDevices();
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof element;
    ASSERT_TRUE(di::SetupDiEnumDeviceInfo(set, 0, &element));
    SP_DEVICE_INTERFACE_DATA face{};
    face.cbSize = sizeof face;
    ASSERT_TRUE(di::SetupDiEnumDeviceInterfaces(set, &element, &HidInterfaceGuid, 0, &face));
    EXPECT_FALSE(di::SetupDiEnumDeviceInterfaces(set, &element, &HidInterfaceGuid, 1, &face));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));

    DWORD required = 0;
    EXPECT_FALSE(di::SetupDiGetDeviceInterfaceDetailA(set, &face, nullptr, 0, &required, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    const std::string path = KwFake_DevicePath(device);
    ASSERT_EQ(required, 4 + path.size() + 1);
    std::vector<char> buffer(required, 0);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = 5;
    ASSERT_TRUE(di::SetupDiGetDeviceInterfaceDetailA(set, &face, detail, required, nullptr, nullptr));
    EXPECT_EQ(std::string(detail->DevicePath), path);
    EXPECT_EQ(path.rfind("\\\\.\\pipe\\", 0), 0u) << path;
    di::SetupDiDestroyDeviceInfoList(set);
}

TEST_F(FakeOs, EnumeratesInterfacesAloneFillingTheirElements) {
    Add({.DevNode = 7});
    Add({.DevNode = 8});
    HDEVINFO set = HidDevices();
    SP_DEVICE_INTERFACE_DATA face{};
    face.cbSize = sizeof face;
    std::vector<DWORD> nodes;
    for (DWORD i = 0; di::SetupDiEnumDeviceInterfaces(set, nullptr, &HidInterfaceGuid, i, &face); ++i) {
        SP_DEVINFO_DATA element{};
        element.cbSize = sizeof element;
        DWORD required = 0;
        EXPECT_FALSE(di::SetupDiGetDeviceInterfaceDetailA(set, &face, nullptr, 0, &required, &element));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        nodes.push_back(element.DevInst);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(nodes, (std::vector<DWORD>{7, 8}));
    di::SetupDiDestroyDeviceInfoList(set);
}

TEST_F(FakeOs, FindsNothingOfAnotherClass) {
    Add({});
    const GUID zero{};
    HDEVINFO set = di::SetupDiGetClassDevsA(&zero, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof element;
    EXPECT_FALSE(di::SetupDiEnumDeviceInfo(set, 0, &element));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    di::SetupDiDestroyDeviceInfoList(set);
}

TEST_F(FakeOs, AnswersPropertiesWithTheirRequiredSize) {
    Add({.Description = "USB Input Device", .Service = "HidUsb"});
    HDEVINFO set = HidDevices();
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof element;
    ASSERT_TRUE(di::SetupDiEnumDeviceInfo(set, 0, &element));
    char buffer[512] = {};
    DWORD required = 0;
    DWORD type = 0;
    ASSERT_TRUE(di::SetupDiGetDeviceRegistryPropertyA(set, &element, SPDRP_DEVICEDESC, &type,
                                                  reinterpret_cast<PBYTE>(buffer), sizeof buffer, &required));
    EXPECT_STREQ(buffer, "USB Input Device");
    EXPECT_EQ(required, sizeof "USB Input Device");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_FALSE(di::SetupDiGetDeviceRegistryPropertyA(set, &element, SPDRP_SERVICE, nullptr,
                                                   reinterpret_cast<PBYTE>(buffer), 3, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, sizeof "HidUsb");
    EXPECT_FALSE(di::SetupDiGetDeviceRegistryPropertyA(set, &element, SPDRP_MFG, nullptr,
                                                   reinterpret_cast<PBYTE>(buffer), sizeof buffer, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    di::SetupDiDestroyDeviceInfoList(set);
}

TEST_F(FakeOs, OpensTheHardwareKeyOfThePrefix) {
    Add({.InstanceId = "HID\\VID_1234&PID_0001\\7&1", .SymbolicName = "\\\\?\\hid#vid_1234", .PortName = "COM9"});
    Add({.Flags = kwffNoRegistryKey});
    HDEVINFO set = HidDevices();
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof element;
    ASSERT_TRUE(di::SetupDiEnumDeviceInfo(set, 0, &element));
    TUniqueRegKey key(di::SetupDiOpenDevRegKey(set, &element, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE));
    ASSERT_NE(key.get(), INVALID_HANDLE_VALUE);
    char value[64] = {};
    DWORD size = sizeof value;
    ASSERT_EQ(RegQueryValueExA(key.get(), "PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(value, "COM9");
    TUniqueRegKey same;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            "SYSTEM\\CurrentControlSet\\Enum\\HID\\VID_1234&PID_0001\\7&1\\Device Parameters", 0,
                            KEY_QUERY_VALUE, same.put()),
              ERROR_SUCCESS);
    size = sizeof value;
    ASSERT_EQ(RegQueryValueExA(same.get(), "SymbolicName", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(value, "\\\\?\\hid#vid_1234");

    ASSERT_TRUE(di::SetupDiEnumDeviceInfo(set, 1, &element));
    EXPECT_EQ(di::SetupDiOpenDevRegKey(set, &element, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE),
              INVALID_HANDLE_VALUE);
    di::SetupDiDestroyDeviceInfoList(set);
}

TEST_F(FakeOs, AnswersInstanceIdsAndTheirRelations) {
    Add({.InstanceId = "HID\\VID_1234&PID_0001\\7&1", .BusRelations = "USB\\A\\1\0USB\\B\\2\0"});
    HDEVINFO set = HidDevices();
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof element;
    ASSERT_TRUE(di::SetupDiEnumDeviceInfo(set, 0, &element));
    char id[256] = {};
    DWORD required = 0;
    ASSERT_TRUE(di::SetupDiGetDeviceInstanceIdA(set, &element, id, sizeof id, &required));
    EXPECT_STREQ(id, "HID\\VID_1234&PID_0001\\7&1");
    EXPECT_EQ(required, sizeof "HID\\VID_1234&PID_0001\\7&1");
    di::SetupDiDestroyDeviceInfoList(set);

    ULONG length = 0;
    ASSERT_EQ(di::CM_Get_Device_ID_List_SizeA(&length, id, CM_GETIDLIST_FILTER_BUSRELATIONS), CR_SUCCESS);
    const std::string expected("USB\\A\\1\0USB\\B\\2\0", sizeof "USB\\A\\1\0USB\\B\\2\0");
    ASSERT_EQ(length, expected.size());
    std::vector<char> list(length);
    EXPECT_EQ(di::CM_Get_Device_ID_ListA(id, list.data(), length - 1, CM_GETIDLIST_FILTER_BUSRELATIONS),
              CR_BUFFER_SMALL);
    ASSERT_EQ(di::CM_Get_Device_ID_ListA(id, list.data(), length, CM_GETIDLIST_FILTER_BUSRELATIONS), CR_SUCCESS);
    EXPECT_EQ(std::string(list.data(), length), expected);
    ASSERT_EQ(di::CM_Get_Device_ID_List_SizeA(&length, id, CM_GETIDLIST_FILTER_REMOVALRELATIONS), CR_SUCCESS);
    EXPECT_EQ(length, 1u);
    EXPECT_EQ(di::CM_Get_Device_ID_List_SizeA(&length, "NO\\SUCH\\DEVICE", CM_GETIDLIST_FILTER_BUSRELATIONS),
              CR_NO_SUCH_DEVNODE);
}

TEST_F(FakeOs, AnUnpluggedDeviceIsPresentNoMore) {
    const int first = Add({.DevNode = 1});
    Add({.DevNode = 2});
    ASSERT_TRUE(KwFake_Unplug(first));
    auto nodes = [](DWORD flags) {
        HDEVINFO set = HidDevices(flags);
        SP_DEVINFO_DATA element{};
        element.cbSize = sizeof element;
        std::vector<DWORD> found;
        for (DWORD i = 0; di::SetupDiEnumDeviceInfo(set, i, &element); ++i) found.push_back(element.DevInst);
        di::SetupDiDestroyDeviceInfoList(set);
        return found;
    };
    EXPECT_EQ(nodes(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE), (std::vector<DWORD>{2}));
    EXPECT_EQ(nodes(DIGCF_DEVICEINTERFACE), (std::vector<DWORD>{1, 2}));
    ASSERT_TRUE(KwFake_Replug(first));
    EXPECT_EQ(nodes(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE), (std::vector<DWORD>{1, 2}));
}

TEST_F(FakeOs, AFailingEntryFailsWithTheErrorGiven) {
    Add({});
    KwFake_FailEntry("SetupDiGetClassDevsA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(HidDevices(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    KwFake_FailEntry("SetupDiGetClassDevsA", 0);
    KwFake_FailEntry("SetupDiEnumDeviceInfo", ERROR_NO_MORE_ITEMS);
    HDEVINFO set = HidDevices();
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof element;
    EXPECT_FALSE(di::SetupDiEnumDeviceInfo(set, 0, &element));
    SP_DEVICE_INTERFACE_DATA face{};
    face.cbSize = sizeof face;
    EXPECT_TRUE(di::SetupDiEnumDeviceInterfaces(set, nullptr, &HidInterfaceGuid, 0, &face));
    di::SetupDiDestroyDeviceInfoList(set);
    EXPECT_EQ(KwFake_CallCount("SetupDiGetClassDevsA"), 2);
}

// ---- access ----

struct TAccessCase {
    const char* Name;
    DWORD Access;
    const char* Opens;  // read+write, read, write, neither
    DWORD Refusal;      // the error of the first refused open
};

class FakeOsAccess : public FakeOs, public testing::WithParamInterface<TAccessCase> {};

TEST_P(FakeOsAccess, OpensWithTheAccessTheDeviceGrants) {
    const TAccessCase& c = GetParam();
    const int device = Add({.Access = c.Access});
    const DWORD attempts[] = {GENERIC_READ | GENERIC_WRITE, GENERIC_READ, GENERIC_WRITE, 0};
    std::string opens;
    DWORD refusal = 0;
    for (DWORD access : attempts) {
        TUniqueFile file = Open(device, access);
        if (!file && !refusal) refusal = GetLastError();
        opens += file ? '1' : '0';
    }
    EXPECT_EQ(opens, c.Opens);
    EXPECT_EQ(refusal, c.Refusal);
}

INSTANTIATE_TEST_SUITE_P(Grants, FakeOsAccess,
                         testing::Values(TAccessCase{"ReadWrite", kwfaReadWrite, "1111", 0},
                                         TAccessCase{"ReadOnly", kwfaReadOnly, "0101", ERROR_ACCESS_DENIED},
                                         TAccessCase{"WriteOnly", kwfaWriteOnly, "0011", ERROR_ACCESS_DENIED},
                                         TAccessCase{"QueryOnly", kwfaQueryOnly, "0001", ERROR_SHARING_VIOLATION},
                                         TAccessCase{"None", kwfaNone, "0000", ERROR_FILE_NOT_FOUND}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(FakeOs, OpensAgainRightAfterAProbe) {
    const int device = Add({});
    // As a device list load and a port do: open, ask, close, open again.
    HIDD_ATTRIBUTES attributes{};
    for (int i = 0; i < 40; ++i) {
        TUniqueFile probe = Open(device, 0, 0);
        ASSERT_TRUE(probe) << i << ": error " << GetLastError();
        EXPECT_TRUE(kwhidw32::HidD_GetAttributes(probe.get(), &attributes));
        probe.reset();
        TUniqueFile port = Open(device, GENERIC_READ | GENERIC_WRITE);
        ASSERT_TRUE(port) << i << ": error " << GetLastError();
        EXPECT_TRUE(kwhidw32::HidD_GetAttributes(port.get(), &attributes));
    }
}

// ---- HID calls ----

TEST_F(FakeOs, WritesHidStringsInUtf16) {
    const int device = Add({.Product = L"R\u00e9mote"});
    TUniqueFile file = Open(device, 0, 0);
    using TGetString = BOOLEAN(NTAPI*)(HANDLE, PVOID, ULONG);
    auto get = reinterpret_cast<TGetString>(reinterpret_cast<void (*)()>(HidEntry("HidD_GetProductString")));
    std::array<wchar_t, 16> text;
    text.fill(L'#');
    ASSERT_TRUE(get(file.get(), text.data(), sizeof text));
    EXPECT_EQ(std::wstring(text.data()), L"R\u00e9mote");
    auto serial = reinterpret_cast<TGetString>(reinterpret_cast<void (*)()>(HidEntry("HidD_GetSerialNumberString")));
    EXPECT_FALSE(serial(file.get(), text.data(), sizeof text));
}

TEST_F(FakeOs, AnswersAttributesAndCapsOfTheHandlesDevice) {
    Add({.VendorID = 1, .Caps = Caps(3)});
    const int device = Add({.VendorID = 0x1234, .ProductID = 0x5678, .VersionNumber = 0x0200, .Caps = Caps(8)});
    TUniqueFile file = Open(device, 0, 0);
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = 10;
    ASSERT_TRUE(kwhidw32::HidD_GetAttributes(file.get(), &attributes));
    EXPECT_EQ(attributes.VendorID, 0x1234);
    EXPECT_EQ(attributes.ProductID, 0x5678);
    EXPECT_EQ(attributes.VersionNumber, 0x0200);

    PHIDP_PREPARSED_DATA data = nullptr;
    ASSERT_TRUE(kwhidw32::HidD_GetPreparsedData(file.get(), &data));
    EXPECT_EQ(KwFake_PreparsedDataCount(), 1);
    HIDP_CAPS caps{};
    ASSERT_EQ(kwhidw32::HidP_GetCaps(data, &caps), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(caps.InputReportByteLength, 8);
    EXPECT_EQ(caps.NumberInputButtonCaps, 2);
    EXPECT_TRUE(kwhidw32::HidD_FreePreparsedData(data));
    EXPECT_EQ(KwFake_PreparsedDataCount(), 0);
    EXPECT_FALSE(kwhidw32::HidD_FreePreparsedData(data));
}

TEST_F(FakeOs, HandsOutCapabilityRecordsByReportType) {
    HIDP_VALUE_CAPS given{};
    given.UsagePage = 0xFF00;
    given.BitSize = 16;
    const int device = Add({.Caps = Caps(), .ValueCaps = {nullptr, &given, nullptr}});
    TUniqueFile file = Open(device, 0, 0);
    PHIDP_PREPARSED_DATA data = nullptr;
    ASSERT_TRUE(kwhidw32::HidD_GetPreparsedData(file.get(), &data));

    std::array<HIDP_BUTTON_CAPS, 2> buttons{};
    USHORT length = 2;
    ASSERT_EQ(kwhidw32::HidP_GetButtonCaps(HidP_Input, buttons.data(), &length, data), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(buttons[1].NotRange.Usage, 0x101);
    EXPECT_EQ(buttons[1].UsagePage, 0x0C);
    length = 1;
    EXPECT_EQ(kwhidw32::HidP_GetButtonCaps(HidP_Input, buttons.data(), &length, data),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 1);
    length = 2;
    EXPECT_EQ(kwhidw32::HidP_GetButtonCaps(HidP_Feature, buttons.data(), &length, data), HIDP_STATUS_USAGE_NOT_FOUND);
    EXPECT_EQ(length, 0);

    std::array<HIDP_VALUE_CAPS, 1> values{};
    length = 1;
    ASSERT_EQ(kwhidw32::HidP_GetValueCaps(HidP_Output, values.data(), &length, data), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(values[0].UsagePage, 0xFF00);
    EXPECT_EQ(values[0].BitSize, 16);
    kwhidw32::HidD_FreePreparsedData(data);
}

TEST_F(FakeOs, FailsTheHidCallsADeviceIsMadeToFail) {
    const int bad = Add({.Flags = kwffBadPreparsedData | kwffNoAttributes});
    const int none = Add({.Flags = kwffNoPreparsedData});
    TUniqueFile file = Open(bad, 0, 0);
    HIDD_ATTRIBUTES attributes{};
    EXPECT_FALSE(kwhidw32::HidD_GetAttributes(file.get(), &attributes));
    PHIDP_PREPARSED_DATA data = nullptr;
    ASSERT_TRUE(kwhidw32::HidD_GetPreparsedData(file.get(), &data));
    HIDP_CAPS caps{};
    EXPECT_EQ(kwhidw32::HidP_GetCaps(data, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);
    kwhidw32::HidD_FreePreparsedData(data);
    file = Open(none, 0, 0);
    EXPECT_FALSE(kwhidw32::HidD_GetPreparsedData(file.get(), &data));
    EXPECT_EQ(kwhidw32::HidP_GetCaps(nullptr, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);
}

TEST_F(FakeOs, AnswersOnAQueryOnlyDevice) {
    const int device = Add({.Product = L"Keyboard", .Access = kwfaQueryOnly});
    TUniqueFile file = Open(device, 0, 0);
    ASSERT_TRUE(file);
    EXPECT_EQ(kwhidw32::GetHidString(file.get(), "HidD_GetProductString"), "Keyboard");
}

// ---- reports ----

TEST_F(FakeOs, SendsEveryReaderEachReportPaddedToItsLength) {
    const int device = Add({.Caps = Caps(8)});
    TUniqueFile first = Open(device, GENERIC_READ | GENERIC_WRITE);
    TUniqueFile second = Open(device, GENERIC_READ);
    ASSERT_TRUE(first && second);
    TRead a(first.get(), 8);
    TRead b(second.get(), 8);
    ASSERT_TRUE(a.issued && b.issued);
    const uint8_t report[] = {0x01, 0xCD};
    EXPECT_EQ(KwFake_SendReport(device, report, sizeof report), 2);
    const std::vector<uint8_t> expected = {0x01, 0xCD, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(a.Wait(), 8);
    EXPECT_EQ(a.buffer, expected);
    EXPECT_EQ(b.Wait(), 8);
    EXPECT_EQ(b.buffer, expected);
}

TEST_F(FakeOs, ReadsOfTheReportLengthKeepReportsApart) {
    const int device = Add({.Caps = Caps(4)});
    TUniqueFile file = Open(device, GENERIC_READ);
    const uint8_t one[] = {1, 1, 1, 1, 1, 1};  // cut to 4
    const uint8_t two[] = {2};
    KwFake_SendReport(device, one, sizeof one);
    KwFake_SendReport(device, two, sizeof two);
    TRead first(file.get(), 4);
    EXPECT_EQ(first.Wait(), 4);
    EXPECT_EQ(first.buffer, (std::vector<uint8_t>{1, 1, 1, 1}));
    TRead second(file.get(), 4);
    EXPECT_EQ(second.Wait(), 4);
    EXPECT_EQ(second.buffer, (std::vector<uint8_t>{2, 0, 0, 0}));
}

TEST_F(FakeOs, SendsBytesUnpaddedOnRequest) {
    const int device = Add({.Caps = Caps(8)});
    TUniqueFile file = Open(device, GENERIC_READ);
    const uint8_t bytes[] = {7, 7};
    EXPECT_EQ(KwFake_SendBytes(device, bytes, sizeof bytes), 1);
    TRead read(file.get(), 8);
    EXPECT_EQ(read.Wait(), 2);
}

TEST_F(FakeOs, UnpluggingFailsThePendingReadAndEveryOpen) {
    const int device = Add({.Caps = Caps(8)});
    TUniqueFile file = Open(device, GENERIC_READ | GENERIC_WRITE);
    TRead read(file.get(), 8);
    ASSERT_TRUE(read.issued);

    ASSERT_TRUE(KwFake_Unplug(device));

    EXPECT_EQ(read.Wait(), -1);
    EXPECT_EQ(read.error, static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED));
    EXPECT_FALSE(Open(device, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    HIDD_ATTRIBUTES attributes{};
    EXPECT_FALSE(kwhidw32::HidD_GetAttributes(file.get(), &attributes));

    ASSERT_TRUE(KwFake_Replug(device));
    EXPECT_TRUE(Open(device, GENERIC_READ | GENERIC_WRITE));
}

TEST_F(FakeOs, KeepsWhatClientsWrite) {
    const int device = Add({.Access = kwfaWriteOnly});
    TUniqueFile file = Open(device, GENERIC_WRITE, 0);
    ASSERT_TRUE(file);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(file.get(), "\x05out", 4, &n, nullptr));
    char taken[8] = {};
    ASSERT_EQ(KwFake_TakeWritten(device, taken, 4, 5000), 4u);
    EXPECT_EQ(std::string(taken, 4), "\x05out");
    EXPECT_EQ(KwFake_TakeWritten(device, taken, 1, 0), 0u);
}

TEST_F(FakeOs, CountsTheHandlesOpenOnADevice) {
    const int device = Add({});
    EXPECT_EQ(KwFake_OpenHandleCount(device), 0);
    TUniqueFile first = Open(device, GENERIC_READ | GENERIC_WRITE);
    TUniqueFile probe = Open(device, 0, 0);
    EXPECT_TRUE(KwFake_WaitOpenHandles(device, 2, 5000));
    probe.reset();
    EXPECT_TRUE(KwFake_WaitOpenHandles(device, 1, 5000));
    first.reset();
    EXPECT_TRUE(KwFake_WaitOpenHandles(device, 0, 5000));
}

// ---- installation ----

TEST_F(FakeOs, RefusesToReplaceALoadedLibrary) {
    EXPECT_FALSE(KwFake_Install("hid", ""));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
    kwhidw32::FreeHidLibrary();
    EXPECT_TRUE(KwFake_Install("hid", "no-HidP_GetCaps"));
    EXPECT_TRUE(KwFake_Install("hid", ""));
    EXPECT_FALSE(KwFake_Install("hid", "no-such-build"));
    EXPECT_FALSE(KwFake_Install("kernel32", ""));
    EXPECT_TRUE(KwFake_Install("hid", ""));
}

}  // namespace
