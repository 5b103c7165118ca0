#include "iocore/kwclasses.h"

#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "rtl/exception.h"
#include "tests/iocore/test_port.h"
#include "tests/iocore/test_support.h"

namespace {
struct TEventLog {
    std::vector<std::string> entries;
    std::vector<DWORD> threads;
    bool raise = false;
    void operator()(TObject*) {
        entries.push_back("event");
        threads.push_back(GetCurrentThreadId());
        if (raise) throw Exception("handler failed");
    }
};

// --- open and close

TEST(TkwBaseIO, StartsClosedWithItsDefaults) {
    TTestPort port;
    EXPECT_FALSE(port.Active());
    EXPECT_EQ(port.Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(port.LogPrefix, "TkwBaseIO");
    EXPECT_TRUE(port.OwnsDevices);
    EXPECT_EQ(port.TerminalUsage(), tuNone);
    EXPECT_NE(port.ReadOverlapped.hEvent, nullptr);
    EXPECT_NE(port.WriteOverlapped.hEvent, nullptr);
    EXPECT_NE(port.SendOverlapped.hEvent, nullptr);
}

TEST(TkwBaseIO, InvalidHandleLeavesThePortClosedAndSilent) {
    TTestPort port;
    TEventLog opened;
    int notified = 0;
    auto listener = [&](TObject*, int) { ++notified; };
    port.AddNotify(TPortNotifyEvent::Of(&listener));
    port.OnOpen = TNotifyEvent::Of(&opened);
    port.openFails = true;
    port.SetActive(true);
    EXPECT_FALSE(port.Active());
    EXPECT_TRUE(opened.entries.empty());
    EXPECT_EQ(notified, 0);
}

TEST(TkwBaseIO, SettingActiveToItsValueDoesNothing) {
    TTestPort port;
    TEventLog opened, closed;
    port.OnOpen = TNotifyEvent::Of(&opened);
    port.OnClose = TNotifyEvent::Of(&closed);
    port.withThread = false;
    port.SetActive(false);
    EXPECT_TRUE(closed.entries.empty());
    port.SetActive(true);
    port.SetActive(true);
    EXPECT_EQ(port.opens, 1);
    EXPECT_EQ(opened.entries.size(), 1u);
    port.SetActive(false);
    port.SetActive(false);
    EXPECT_EQ(closed.entries.size(), 1u);
}

TEST(TkwBaseIO, RaisingOpenAndCloseHandlersAreDiscarded) {
    TTestPort port;
    TEventLog opened, closed;
    opened.raise = closed.raise = true;
    port.OnOpen = TNotifyEvent::Of(&opened);
    port.OnClose = TNotifyEvent::Of(&closed);
    EXPECT_NO_THROW(port.SetActive(true));
    EXPECT_TRUE(port.Active());
    EXPECT_NO_THROW(port.SetActive(false));
    EXPECT_FALSE(port.Active());
    EXPECT_EQ(closed.entries.size(), 1u);
}

TEST(TkwBaseIO, CloseWhileTheReaderIsBlockedWaitsForIt) {
    TTestPort port;
    TEventLog closed;
    port.OnClose = TNotifyEvent::Of(&closed);
    port.SetActive(true);
    ASSERT_TRUE(port.WaitUntilReading());
    port.SetActive(false);
    EXPECT_TRUE(port.readerExited.load()) << "Close returns only after the reader thread ended";
    EXPECT_EQ(closed.threads, (std::vector<DWORD>{GetCurrentThreadId()}));
    EXPECT_FALSE(port.Active());
}

TEST(TkwBaseIO, ReadFailureClosesThePortFromTheReaderThread) {
    TTestPort port;
    TUniqueEvent closedEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::atomic<DWORD> closedOn{0};
    std::atomic<int> closes{0};
    auto onClose = [&](TObject*) {
        closedOn = GetCurrentThreadId();
        ++closes;
        SetEvent(closedEvent.get());
    };
    port.OnClose = TNotifyEvent::Of(&onClose);
    port.SetActive(true);
    ASSERT_TRUE(port.WaitUntilReading());
    port.FailRead();
    ASSERT_EQ(WaitForSingleObject(closedEvent.get(), 5000), WAIT_OBJECT_0);
    EXPECT_FALSE(port.Active());
    EXPECT_EQ(closedOn.load(), port.readerThread.load());
    EXPECT_NE(closedOn.load(), GetCurrentThreadId());
    port.SetActive(false);  // closed already: nothing more happens
    EXPECT_EQ(closes.load(), 1);
    // The port can be opened again; the old reader is reclaimed.
    port.SetActive(true);
    EXPECT_TRUE(port.Active());
}

// A delivery handler that sends to a window of the UI thread while the UI thread
// closes the port: the close must keep serving sent messages, or both hang.
LRESULT CALLBACK CountingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_APP) {
        ++*reinterpret_cast<std::atomic<int>*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        return 1;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

TEST(TkwBaseIO, ClosingServesMessagesTheReaderSendsMeanwhile) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &CountingProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KwCountingWindow";
    RegisterClassA(&wc);
    TUniqueWindow window(CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                         wc.hInstance, nullptr));
    std::atomic<int> received{0};
    SetWindowLongPtrA(window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&received));

    TTestPort port;
    TUniqueEvent inHandler(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    auto deliver = [&](TObject*, const uint8_t*, uint32_t) {
        SetEvent(inHandler.get());
        SendMessageA(window.get(), WM_APP, 0, 0);
    };
    port.OnAfterReceive = TOnReceived::Of(&deliver);
    port.SetActive(true);
    port.Deliver();
    ASSERT_EQ(WaitForSingleObject(inHandler.get(), 5000), WAIT_OBJECT_0);
    port.SetActive(false);  // the reader is inside SendMessage to us right now
    EXPECT_EQ(received.load(), 1);
    EXPECT_TRUE(port.readerExited.load());
}

// --- delivery

class TOrderProcessor : public TkwCustomDataProcessor {
public:
    TOrderProcessor(std::vector<std::string>& order, TReceiveFlags flags)
        : TkwCustomDataProcessor(nullptr), order_(order), flags_(flags) {}
    void DoDataReceive(const void*, uint32_t count, TReceiveFlags& flags) override {
        order_.push_back("processor " + std::to_string(count));
        flags |= flags_;
    }

private:
    std::vector<std::string>& order_;
    TReceiveFlags flags_;
};

TEST(TkwBaseIO, DeliveryGoesToTheProcessorThenTheReceivedEvent) {
    std::vector<std::string> order;
    TTestPort port;
    EXPECT_FALSE(port.HasReceivers());
    port.DoReceive("abc", 3);  // nobody listens: dropped
    TOrderProcessor processor(order, 0);
    port.SetDataProcessor(&processor);
    EXPECT_EQ(processor.Port, &port);
    auto after = [&](TObject* com, const uint8_t* buffer, uint32_t count) {
        EXPECT_EQ(com, &port);
        order.push_back("after " + std::string(reinterpret_cast<const char*>(buffer), count));
    };
    port.OnAfterReceive = TOnReceived::Of(&after);
    EXPECT_TRUE(port.HasReceivers());
    port.DoReceive("abc", 3);
    EXPECT_EQ(order, (std::vector<std::string>{"processor 3", "after abc"}));
    port.SetDataProcessor(nullptr);
    EXPECT_EQ(processor.Port, nullptr);
}

TEST(TkwBaseIO, DestroyedProcessorAndLogAreForgotten) {
    TTestPort port;
    std::vector<std::string> order;
    auto* processor = new TOrderProcessor(order, 0);
    auto* log = new TRecordingLog();
    port.SetDataProcessor(processor);
    port.SetLog(log);
    delete processor;
    delete log;
    EXPECT_EQ(port.DataProcessor(), nullptr);
    EXPECT_EQ(port.Log(), nullptr);
    port.DoReceive("x", 1);
    port.WriteLog(1, "no log, no line");
}

TEST(TkwBaseIO, TerminalShowsReceivedTextUnlessTheProcessorSkipsIt) {
    TUniqueWindow edit(CreateWindowExA(0, "EDIT", "", WS_POPUP | ES_MULTILINE, 0, 0, 100, 100, nullptr, nullptr,
                                       GetModuleHandleA(nullptr), nullptr));
    ASSERT_TRUE(edit);
    TTestPort port;
    port.SetTerminal(edit.get());
    port.SetTerminalUsage(tuReceive);
    port.DoReceive("ab\0\0cd", 6);
    port.DoReceive("A", 1);
    char text[32] = {};
    GetWindowTextA(edit.get(), text, sizeof text);
    EXPECT_STREQ(text, "abcdA");

    std::vector<std::string> order;
    TOrderProcessor skipper(order, rfSkipTerminal);
    port.SetDataProcessor(&skipper);
    port.DoReceive("zz", 2);
    GetWindowTextA(edit.get(), text, sizeof text);
    EXPECT_STREQ(text, "abcdA");
    port.SetDataProcessor(nullptr);
    port.SetTerminal(nullptr);
}

// --- errors and log

TEST(TkwBaseIO, FatalErrorLogsWithoutPrefixAndRaisesUnlessLoading) {
    struct {
        bool withLog;
        bool loading;
        bool raises;
    } cases[] = {{true, false, true}, {false, false, true}, {true, true, false}, {false, true, false}};
    for (const auto& c : cases) {
        TTestPort port;
        TRecordingLog log;
        if (c.withLog) port.SetLog(&log);
        if (c.loading) port.BeginLoading();
        bool raised = false;
        try {
            port.FatalError(16, 2, "Device is not found");
        } catch (const Exception& e) {
            raised = true;
            EXPECT_EQ(e.Message(), "Device is not found");
        }
        EXPECT_EQ(raised, c.raises) << c.withLog << c.loading;
        EXPECT_EQ(log.lines, c.withLog ? std::vector<std::string>{"0:Fatal Error: 16, 2, Device is not found"}
                                       : std::vector<std::string>{});
        port.SetLog(nullptr);
    }
}

TEST(TkwBaseIO, LogLinesCarryThePrefix) {
    TTestPort port;
    TRecordingLog log;
    port.SetLog(&log);
    port.LogPrefix = "kwHID: ";
    port.WriteLog(1, "open");
    port.WriteLogFmt(2, "read %u bytes from %s", 8u, "dev");
    EXPECT_EQ(log.lines, (std::vector<std::string>{"1:kwHID: open", "2:kwHID: read 8 bytes from dev"}));
    port.SetLog(nullptr);
}

// --- loading

int loadErrors = 0;
void CountLoadError() { ++loadErrors; }

TEST(TkwBaseIO, WhileLoadingActiveIsOnlyRecorded) {
    TTestPort port;
    port.withThread = false;
    port.BeginLoading();
    port.SetActive(true);
    EXPECT_TRUE(port.Active());
    EXPECT_EQ(port.opens, 0);
    port.Loaded();
    EXPECT_EQ(port.opens, 1);
    EXPECT_TRUE(port.IsOpen());
}

TEST(TkwBaseIO, FailedOpenAfterLoadingShowsTheErrorBox) {
    auto* previous = TkwBaseIO::ShowLoadError;
    TkwBaseIO::ShowLoadError = &CountLoadError;
    loadErrors = 0;
    TTestPort port;
    port.raiseOnOpen = true;
    port.BeginLoading();
    port.SetActive(true);
    EXPECT_NO_THROW(port.Loaded());
    EXPECT_EQ(loadErrors, 1);
    EXPECT_FALSE(port.Active());
    TkwBaseIO::ShowLoadError = previous;
}

// --- listeners

struct TListener {
    std::vector<std::string>* calls;
    std::string name;
    void Notified(TObject*, int event) { calls->push_back(name + ":" + std::to_string(event)); }
};

TEST(TkwBaseIO, ListenersAreCalledOnceEachInRegistrationOrder) {
    std::vector<std::string> calls;
    TListener a{&calls, "A"}, b{&calls, "B"};
    TTestPort port;
    port.AddNotify(TPortNotifyEvent::Bind<&TListener::Notified>(&a));
    port.AddNotify(TPortNotifyEvent::Bind<&TListener::Notified>(&b));
    port.AddNotify(TPortNotifyEvent::Bind<&TListener::Notified>(&a));
    port.Notify(3);
    EXPECT_EQ(calls, (std::vector<std::string>{"A:3", "B:3"}));
    port.RemoveNotify(TPortNotifyEvent::Bind<&TListener::Notified>(&a));
    port.RemoveNotify(TPortNotifyEvent::Bind<&TListener::Notified>(&a));
    calls.clear();
    port.SetDeviceIndex(-1);  // notifies even though the index does not change
    port.SetDeviceIndex(-1);
    EXPECT_EQ(calls, (std::vector<std::string>{"B:3", "B:3"}));
    EXPECT_EQ(port.NotifyList->Count(), 1);
}

// --- device list

TEST(TkwBaseIO, InsertDeviceKeepsTheKeysInOrder) {
    struct {
        int32_t key;
        int result;
        std::vector<int32_t> keys;
    } cases[] = {{15, 1, {10, 15, 20, 30}}, {20, -1, {10, 20, 30}}, {40, 3, {10, 20, 30, 40}},
                 {5, 0, {5, 10, 20, 30}}};
    for (const auto& c : cases) {
        TTestPort port;
        for (int32_t key : {10, 20, 30}) {
            auto* d = new TkwDevice();
            d->Key = key;
            d->Name = std::to_string(key);
            port.InsertDevice(d);
        }
        auto* d = new TkwDevice();
        d->Key = c.key;
        d->Name = std::to_string(c.key);
        const int result = port.InsertDevice(d);
        if (result < 0) delete d;
        EXPECT_EQ(result, c.result) << c.key;
        std::vector<int32_t> keys;
        for (int i = 0; i < port.DeviceCount(); ++i) {
            keys.push_back(port.Devices(i)->Key);
            EXPECT_EQ(port.Devices(i)->Index, i);
            EXPECT_EQ(port.Devices(i)->Owner, &port);
            EXPECT_EQ(port.DeviceList[static_cast<size_t>(i)].first, std::to_string(port.Devices(i)->Key));
        }
        EXPECT_EQ(keys, c.keys) << c.key;
    }
}

TEST(TkwBaseIO, DevicesOutsideTheListAreNone) {
    TTestPort port;
    port.DeviceListLoad();
    EXPECT_EQ(port.Devices(-1), nullptr);
    EXPECT_EQ(port.Devices(port.DeviceCount()), nullptr);
    EXPECT_EQ(port.Devices(1)->Name, "second");
}

TEST(TkwBaseIO, GetDeviceNamesLoadsAnEmptyListOnce) {
    TTestPort port;
    TDeviceNames names{{"stale", nullptr}};
    port.GetDeviceNames(&names);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].first, "first");
    EXPECT_EQ(names[1].second, port.Devices(1));
    port.GetDeviceNames(&names);
    port.GetDeviceNames(nullptr);
    EXPECT_EQ(port.loads, 1);
    port.DeviceListClear();
    EXPECT_EQ(port.DeviceCount(), 0);
}

TEST(TkwBaseIO, DeviceChangeReloadsOnlyForItsEventsAndPorts) {
    struct {
        const char* name;
        UINT message;
        WPARAM event;
        int deviceType;  // -1: no broadcast header
        bool handled;
    } cases[] = {
        {"nodes changed", WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, -1, true},
        {"port arrived", WM_DEVICECHANGE, DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT, true},
        {"port removed", WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT, true},
        {"interface arrived", WM_DEVICECHANGE, DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, false},
        {"volume removed", WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME, false},
        {"query remove", WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE, DBT_DEVTYP_PORT, false},
        {"other message", WM_PAINT, DBT_DEVNODES_CHANGED, -1, false},
    };
    for (const auto& c : cases) {
        TTestPort port;
        int notified = 0;
        auto listener = [&](TObject*, int event) {
            EXPECT_EQ(event, NotifyDeviceChanged);
            ++notified;
        };
        port.AddNotify(TPortNotifyEvent::Of(&listener));
        DEV_BROADCAST_HDR header{};
        header.dbch_size = sizeof header;
        header.dbch_devicetype = static_cast<DWORD>(c.deviceType);
        const LPARAM lParam = c.deviceType < 0 ? 0 : reinterpret_cast<LPARAM>(&header);
        EXPECT_EQ(port.HandleDeviceChange(c.message, c.event, lParam), c.handled) << c.name;
        EXPECT_EQ(notified, c.handled ? 1 : 0) << c.name;
    }
}
}  // namespace
