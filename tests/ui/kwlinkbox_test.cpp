// The device selector box on a HID port of the fake platform, in a window of its own.
#include <windows.h>

#include "hid/kwhid.h"
#include "iocore/kwlinkbox.h"
#include "tests/ui/ui_fixture.h"

namespace {
constexpr int BoxId = 100;

LRESULT CALLBACK HostProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_COMMAND && TkwDeviceBox::ParentCommand(wParam, lParam)) return 0;
    return DefWindowProcA(wnd, msg, wParam, lParam);
}

class DeviceBoxTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        WNDCLASSA wc{};
        wc.lpfnWndProc = &HostProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "kwBoxHost";
        RegisterClassA(&wc);  // again for each test: already there then
        host.reset(CreateWindowExA(0, "kwBoxHost", "", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr,
                                   wc.hInstance, nullptr));
        ASSERT_TRUE(host);
        combo = CreateWindowExA(0, "COMBOBOX", "", WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST, 0, 0, 200, 100,
                                host.get(), reinterpret_cast<HMENU>(BoxId), wc.hInstance, nullptr);
        ASSERT_TRUE(combo);
        for (const wchar_t* name : {L"Remote A", L"Remote B", L"Remote C"}) devices.push_back(AddDevice(name));
        port = std::make_unique<TkwHid>(nullptr);
        port->SetDeviceIndex(1);
        box = std::make_unique<TkwDeviceBox>(nullptr);
        box->Attach(combo);
        box->OnChange = TNotifyEvent::Of(&onChange);
    }
    void TearDown() override {
        box.reset();
        port.reset();
        host.reset();
        UiTest::TearDown();
    }
    std::vector<std::string> Items() const {
        std::vector<std::string> out;
        for (int i = 0; i < box->ItemCount(); ++i) out.push_back(box->Item(i));
        return out;
    }
    void UserPicks(int index) {
        SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageA(host.get(), WM_COMMAND, MAKEWPARAM(BoxId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    }

    TUniqueWindow host;
    HWND combo = nullptr;
    std::vector<int> devices;
    std::unique_ptr<TkwHid> port;
    std::unique_ptr<TkwDeviceBox> box;
    int changes = 0;
    int indexAtChange = -2;
    std::function<void(TObject*)> onChange = [this](TObject*) {
        ++changes;
        indexAtChange = box->ItemIndex();
    };
};
}  // namespace

TEST_F(DeviceBoxTest, BindingListsThePortsDevicesAndSelectsItsIndexOnce) {
    for (int round = 0; round < 2; ++round) {  // the same port again changes nothing
        box->SetLink(port.get());
        EXPECT_EQ(Items(), (std::vector<std::string>{"Remote A", "Remote B", "Remote C"})) << round;
        EXPECT_EQ(box->ItemIndex(), 1);
        EXPECT_EQ(box->ItemObject(2), port->Devices(2));
        EXPECT_EQ(port->NotifyList->Count(), 1);
        EXPECT_EQ(box->kwLink(), port.get());
    }
    box->SetLink(nullptr);
    EXPECT_EQ(box->ItemCount(), 0);
    EXPECT_EQ(box->ItemIndex(), -1);
    EXPECT_EQ(port->NotifyList->Count(), 0);
    EXPECT_EQ(box->kwLink(), nullptr);
}

TEST_F(DeviceBoxTest, AnIndexOutsideTheEntriesSelectsNothing) {
    for (int index : {-1, 3, 7}) {
        port->SetDeviceIndex(index);
        box->SetLink(port.get());
        EXPECT_EQ(box->ItemIndex(), -1) << index;
    }
}

TEST_F(DeviceBoxTest, UserSelectionMovesThePortAndFiresOnChangeAfterTheRefill) {
    for (bool reset : {true, false}) {  // ResetOnChanged makes no difference
        SCOPED_TRACE(reset);
        box->ResetOnChanged = reset;
        port->SetDeviceIndex(1);
        box->SetLink(port.get());
        int notified = 0;
        std::function<void(TObject*, int)> count = [&](TObject*, int e) { notified += e == NotifyDeviceChanged; };
        const auto listener = TPortNotifyEvent::Of(&count);
        port->AddNotify(listener);
        changes = 0;
        UserPicks(2);
        port->RemoveNotify(listener);
        EXPECT_EQ(port->DeviceIndex(), 2);
        EXPECT_EQ(notified, 1);  // one refill
        EXPECT_EQ(changes, 1);
        EXPECT_EQ(indexAtChange, 2);
        EXPECT_EQ(box->ItemCount(), 3);
    }
}

TEST_F(DeviceBoxTest, RefillsWhenThePortReloadsItsList) {
    box->SetLink(port.get());
    ASSERT_TRUE(KwFake_Unplug(devices[0]));
    port->DeviceListRefresh();
    EXPECT_EQ(Items(), (std::vector<std::string>{"Remote B", "Remote C"}));
    EXPECT_EQ(box->ItemIndex(), port->DeviceIndex() < 2 ? port->DeviceIndex() : -1);
    ASSERT_TRUE(KwFake_Replug(devices[0]));
    port->DeviceListRefresh();
    EXPECT_EQ(Items(), (std::vector<std::string>{"Remote A", "Remote B", "Remote C"}));
}

TEST_F(DeviceBoxTest, TheBoundPortsDestructionUnbindsAndLeavesPicksInert) {
    box->SetLink(port.get());
    port.reset();
    EXPECT_EQ(box->kwLink(), nullptr);
    EXPECT_EQ(box->ItemIndex(), -1);
    EXPECT_EQ(box->ItemObject(0), nullptr);  // no record of the port that is gone
    changes = 0;
    UserPicks(2);
    EXPECT_EQ(changes, 0);
}

TEST_F(DeviceBoxTest, DestroyingTheBoxRemovesItsListener) {
    box->SetLink(port.get());
    ASSERT_EQ(port->NotifyList->Count(), 1);
    box.reset();
    EXPECT_EQ(port->NotifyList->Count(), 0);
    port->DeviceListRefresh();  // nobody left to call
}
