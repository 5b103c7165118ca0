// The HID port on the fake HID platform: the device list, the four access
// combinations, the monitoring thread, unplugging and closing.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "hid/kwhid.h"
#include "hid/kwhidw32.h"
#include "hid/kwwin32di.h"
#include "rtl/exception.h"
#include "tests/fakeos/fakeos.h"
#include "tests/hid/port_fixture.h"

namespace {

TEST_F(HidPortTest, StartsWithIndexZeroAndNoDevice) {
    EXPECT_EQ(Port().DeviceIndex(), 0);
    EXPECT_EQ(Port().Device, nullptr);
    EXPECT_TRUE(Port().SharedMode);
    EXPECT_EQ(Port().LogPrefix, "kwHID: ");
}

TEST_F(HidPortTest, ListKeepsEnumerationOrderWithoutDevicesThatCannotBeProbed) {
    Add(L"Remote One");
    Add(L"Broken", kwfaNone);
    Add(L"Pad");
    Add(L"Xy", kwfaReadWrite, 8, "USB Input Device");  // too short a product string
    Port().DeviceListRefresh();
    EXPECT_EQ(Names(), (std::vector<std::string>{"Remote One", "Pad", "USB Input Device"}));
    for (int i = 0; i < Port().DeviceCount(); ++i) EXPECT_EQ(Port().Devices(i)->Index, i);
    EXPECT_EQ(Port().Device, Port().Devices(0)) << "the first load selects the first device";
    EXPECT_TRUE(log.Has("2 kwHID: Load device info:   FAILED!")) << "no name yet when the open failed";
    EXPECT_TRUE(log.Has("1 kwHID: Detected devices: 3 "));
    EXPECT_EQ(KwFake_PreparsedDataCount(), 0) << "the probe frees what it took";
}

TEST_F(HidPortTest, CapabilityArraysExistExactlyWhenCounted) {
    Add(L"Remote One");
    Port().DeviceListRefresh();
    auto* d = static_cast<TkwHidDevice*>(Port().Devices(0));
    EXPECT_EQ(d->InputButtonCaps.size(), 1u);
    EXPECT_EQ(d->InputValueCaps.size(), 2u);
    EXPECT_TRUE(d->OutputButtonCaps.empty());
    EXPECT_TRUE(d->FeatureValueCaps.empty());
    EXPECT_EQ(d->VendorID(), 0x1234);
    EXPECT_EQ(d->UsagePage(), 0x0C);
    EXPECT_EQ(UsagePageName(d->UsagePage()), "Consumer");
    HIDP_VALUE_CAPS value;
    EXPECT_NO_THROW(d->GetValueCaps(1, 1, value));
    EXPECT_THROW(d->GetValueCaps(2, 1, value), ERangeError);
    HIDP_BUTTON_CAPS button;
    EXPECT_THROW(d->GetButtonCaps(-1, 0, button), ERangeError);
}

TEST_F(HidPortTest, InterfacesOnlyWhenTheDeviceEnumerationFindsNothing) {
    Add(L"Remote One");
    KwFake_FailEntry("SetupDiEnumDeviceInfo", ERROR_NO_MORE_ITEMS);
    Port().DeviceListRefresh();
    EXPECT_TRUE(log.Has("2 kwHID: DiEnumInstalledDevices() returns 0, trying enum interfaces only ..."));
    EXPECT_EQ(Names(), (std::vector<std::string>{"Remote One"}));
}

TEST_F(HidPortTest, RefreshDuringALoadDoesNothing) {
    Add(L"Remote One");
    int notified = 0;
    auto listener = [&](TObject*, int) { ++notified; };
    Port().AddNotify(TPortNotifyEvent::Of(&listener));
    Port().ListLoading = true;
    Port().DeviceListRefresh();
    EXPECT_EQ(Port().DeviceCount(), 0);
    EXPECT_EQ(notified, 0);
    Port().ListLoading = false;
    Port().DeviceListRefresh();
    EXPECT_EQ(Port().DeviceCount(), 1);
    EXPECT_GE(notified, 1);
}

TEST_F(HidPortTest, NoDeviceSelectedCannotOpen) {
    Add(L"Remote One");
    Port().DeviceListRefresh();
    Port().SetDeviceIndex(-1);
    try {
        Port().SetActive(true);
        FAIL() << "opened without a device";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Active device is not selected");
    }
    EXPECT_FALSE(Port().Active());
    EXPECT_TRUE(log.Has("0 Fatal Error: 16, 2, Active device is not selected"));
}

struct TAccessCase {
    DWORD access;
    const char* rw;
    bool reads;
};

class HidPortAccess : public HidPortTest, public testing::WithParamInterface<TAccessCase> {};

TEST_P(HidPortAccess, OpensWithTheBestAccessTheDeviceGrants) {
    const int id = Add(L"Remote One", GetParam().access);
    Port().DeviceListRefresh();
    Port().SetActive(true);
    EXPECT_TRUE(Port().Active());
    const std::string path = Port().Device->DevicePath;
    EXPECT_TRUE(log.Has(std::string("1 kwHID: device has opened ") + path + " " + GetParam().rw + " in:8 out:4"));
    EXPECT_EQ(Port().ReadAccess, GetParam().reads);
    Port().SetActive(false);
    EXPECT_EQ(log.Has("2 kwHID: ... exit monitoring thread."), GetParam().reads);
    (void)id;
}

INSTANTIATE_TEST_SUITE_P(Grants, HidPortAccess,
                         testing::Values(TAccessCase{kwfaReadWrite, "R:1 W:1", true},
                                         TAccessCase{kwfaReadOnly, "R:1 W:0", true},
                                         TAccessCase{kwfaWriteOnly, "R:0 W:1", false},
                                         TAccessCase{kwfaQueryOnly, "R:0 W:0", false}));

TEST_F(HidPortTest, ShortReportArrivesAtFullLengthWithZeros) {
    const int id = Add(L"Remote One");
    Port().DeviceListRefresh();
    std::vector<std::vector<uint8_t>> reports;
    std::mutex lock;
    HANDLE got = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    auto receive = [&](TObject*, const uint8_t* buffer, uint32_t count) {
        std::lock_guard<std::mutex> guard(lock);
        reports.emplace_back(buffer, buffer + count);
        SetEvent(got);
    };
    Port().OnAfterReceive = TOnReceived::Of(&receive);
    Port().SetActive(true);
    // Fewer bytes than the report length arrive: the rest stays zero.
    const uint8_t report[] = {1, 0xE9, 7};
    ASSERT_EQ(KwFake_SendBytes(id, report, sizeof report), 1);
    ASSERT_EQ(WaitForSingleObject(got, 5000), WAIT_OBJECT_0);
    Port().SetActive(false);
    CloseHandle(got);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], (std::vector<uint8_t>{1, 0xE9, 7, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(log.Has("2 kwHID: Do input data [8] bytes "));
}

TEST_F(HidPortTest, UnpluggingClosesThePortFromTheMonitoringThread) {
    const int id = Add(L"Remote One");
    Port().DeviceListRefresh();
    std::atomic<DWORD> closedOn{0};
    HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    auto onClose = [&](TObject*) {
        closedOn = GetCurrentThreadId();
        SetEvent(closed);
    };
    Port().OnClose = TNotifyEvent::Of(&onClose);
    Port().SetActive(true);
    ASSERT_TRUE(KwFake_WaitOpenHandles(id, 1, 5000));
    ASSERT_TRUE(KwFake_Unplug(id));
    ASSERT_EQ(WaitForSingleObject(closed, 5000), WAIT_OBJECT_0);
    EXPECT_NE(closedOn.load(), GetCurrentThreadId());
    EXPECT_FALSE(Port().Active());
    CloseHandle(closed);
}

DWORD WINAPI UnplugThread(void* device) {
    KwFake_Unplug(static_cast<int>(reinterpret_cast<INT_PTR>(device)));
    return 0;
}

// Races of the closing UI thread against a device that fails or delivers at
// that very moment: the handle goes exactly once, nothing hangs, and the read's
// buffer is never written after the port has gone (the port is freed each round).
TEST_F(HidPortTest, CloseRacesUnplugAndReportsWithoutHarm) {
    const int id = Add(L"Remote One");
    for (int round = 0; round < 200; ++round) {
        auto p = std::make_unique<TkwHid>(nullptr);
        p->DeviceListRefresh();
        std::atomic<int> received{0};
        auto receive = [&](TObject*, const uint8_t*, uint32_t) { ++received; };
        p->OnAfterReceive = TOnReceived::Of(&receive);
        p->SetActive(true);
        const uint8_t report[] = {1, 2};
        if (round % 2 == 0) {
            KwFake_SendReport(id, report, sizeof report);
            KwFake_SendReport(id, report, sizeof report);
            p->SetActive(false);
        } else {
            // Unplug on another thread while this one closes.
            HANDLE unplugger = CreateThread(nullptr, 0, &UnplugThread,
                                            reinterpret_cast<void*>(static_cast<INT_PTR>(id)), 0, nullptr);
            p->SetActive(false);
            WaitForSingleObject(unplugger, 5000);
            CloseHandle(unplugger);
            KwFake_Replug(id);
        }
        EXPECT_FALSE(p->Active());
        p.reset();
        ASSERT_TRUE(KwFake_WaitOpenHandles(id, 0, 5000)) << "round " << round << ": a handle leaked";
    }
    EXPECT_EQ(KwFake_PreparsedDataCount(), 0);
}
}  // namespace
