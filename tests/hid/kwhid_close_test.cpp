// Closing the HID port against its monitoring thread, with the interleavings forced: a
// seam holds one thread at the racy point while the other goes on. Each case fails on a
// port whose close returns while the reader still runs, closes the handle under it,
// gives up waiting for its read, or frees what the reader still uses.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "hid/kwhid.h"
#include "rtl/win32/handle.h"
#include "tests/fakeos/fakeos.h"
#include "tests/hid/port_fixture.h"

namespace {

const char* const ExitLine = "2 kwHID: ... exit monitoring thread.";

bool Signalled(const TUniqueEvent& event, DWORD ms) { return WaitForSingleObject(event.get(), ms) == WAIT_OBJECT_0; }

TUniqueEvent ManualEvent() { return TUniqueEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)); }

// Holds the first thread that reaches one seam point until the test lets it go (or, with
// hold false, only tells that one did), and tells when some thread begins to wait for a
// reader.
class TSeamGate {
public:
    explicit TSeamGate(TkwIoPoint point, bool hold = true) : point_(point), hold_(hold) {
        Active() = this;
        TkwBaseIO::Seam = &Hook;
    }
    ~TSeamGate() {
        Release();
        if (releaser_.joinable()) releaser_.join();
        TkwBaseIO::Seam = nullptr;
        Active() = nullptr;
    }
    TSeamGate(const TSeamGate&) = delete;
    TSeamGate& operator=(const TSeamGate&) = delete;

    bool WaitHeld() { return Signalled(held_, 10000); }
    void Release() { SetEvent(release_.get()); }
    // Lets the held thread go as soon as another thread waits for the reader; when
    // none does within two seconds (a close that returns without waiting), all the same.
    void ReleaseOnceSomeoneWaits() {
        releaser_ = std::thread([this] {
            closerWaited = Signalled(closerWaits_, 2000);
            Release();
        });
    }

    // Runs on the held thread as it goes on.
    std::function<void()> atRelease;
    std::atomic<bool> closerWaited{false};

private:
    static TSeamGate*& Active() {
        static TSeamGate* active = nullptr;
        return active;
    }
    static void Hook(TkwBaseIO*, TkwIoPoint point) {
        TSeamGate* gate = Active();
        if (!gate) return;
        if (point == TkwIoPoint::CloserWaits) SetEvent(gate->closerWaits_.get());
        if (point != gate->point_ || gate->taken_.exchange(true)) return;
        SetEvent(gate->held_.get());
        if (!gate->hold_) return;
        WaitForSingleObject(gate->release_.get(), INFINITE);
        if (gate->atRelease) gate->atRelease();
    }

    const TkwIoPoint point_;
    const bool hold_;
    std::atomic<bool> taken_{false};
    TUniqueEvent held_ = ManualEvent();
    TUniqueEvent release_ = ManualEvent();
    TUniqueEvent closerWaits_ = ManualEvent();
    std::thread releaser_;
};

// Cancellations of pending I/O do nothing while one of these lives: an operation then
// ends only when the device completes it.
class THeldCancellations {
public:
    THeldCancellations() { TkwBaseIO::CancelPendingIo = &Ignore; }
    ~THeldCancellations() { TkwBaseIO::CancelPendingIo = &CancelIoEx; }
    THeldCancellations(const THeldCancellations&) = delete;
    THeldCancellations& operator=(const THeldCancellations&) = delete;

private:
    static BOOL WINAPI Ignore(HANDLE, LPOVERLAPPED) { return TRUE; }
};

class HidPortClose : public HidPortTest {
protected:
    void SetUp() override {
        HidPortTest::SetUp();
        device = Add(L"Remote One", access);
        Add(L"Pad");
        Port().DeviceListRefresh();
    }
    void TearDown() override {
        port.reset();
        EXPECT_TRUE(KwFake_WaitOpenHandles(device, 0, 5000)) << "a device handle leaked";
        EXPECT_EQ(KwFake_PreparsedDataCount(), 0) << "preparsed data leaked";
        HidPortTest::TearDown();
    }
    void Open() {
        Port().SetActive(true);
        ASSERT_TRUE(KwFake_WaitOpenHandles(device, 1, 5000));
    }
    void SendReport() {
        const uint8_t report[] = {1, 2, 3};
        KwFake_SendReport(device, report, sizeof report);
    }

    DWORD access = kwfaReadWrite;
    int device = -1;
};

// The reader has cleared UseThread after a failed read and is about to close the port
// itself; the close from outside gets the handle first.
TEST_F(HidPortClose, CloseReturnsAfterTheReaderThatIsAboutToCloseItself) {
    TSeamGate gate(TkwIoPoint::ReadFailed);
    Open();
    ASSERT_TRUE(KwFake_Unplug(device));
    ASSERT_TRUE(gate.WaitHeld());
    gate.ReleaseOnceSomeoneWaits();
    Port().SetActive(false);
    EXPECT_TRUE(log.Has(ExitLine)) << "the close returned while the monitoring thread still ran";
    EXPECT_FALSE(Port().Active());
}

// The reader has taken the handle after a failed read and runs OnClose: from outside the
// port already reads closed. Neither a close nor the destructor may return (and free the
// buffers and events) before the reader has ended.
struct TOutsideCase {
    const char* name;
    bool destroy;
};

class HidPortCloseFromOutside : public HidPortClose, public testing::WithParamInterface<TOutsideCase> {};

TEST_P(HidPortCloseFromOutside, WaitsForTheReaderThatClosesThePortItself) {
    TSeamGate waits(TkwIoPoint::CloserWaits, false);
    const DWORD ui = GetCurrentThreadId();
    TUniqueEvent inOnClose = ManualEvent(), release = ManualEvent();
    std::atomic<bool> onCloseEnded{false};
    std::atomic<size_t> bufferSeen{0};
    TkwHid* p = &Port();
    auto onClose = [&](TObject*) {
        if (GetCurrentThreadId() == ui) return;
        SetEvent(inOnClose.get());
        WaitForSingleObject(release.get(), INFINITE);
        bufferSeen = p->InputBuffer.size();
        onCloseEnded = true;
    };
    p->OnClose = TNotifyEvent::Of(&onClose);
    Open();
    ASSERT_TRUE(KwFake_Unplug(device));
    ASSERT_TRUE(Signalled(inOnClose, 10000));
    EXPECT_FALSE(p->Active());

    std::thread releaser([&] {
        waits.WaitHeld();  // the outside begins to wait, or ten seconds pass
        SetEvent(release.get());
    });
    if (GetParam().destroy)
        port.reset();
    else
        p->SetActive(false);
    const bool ended = onCloseEnded;
    SetEvent(release.get());
    releaser.join();
    EXPECT_TRUE(ended) << GetParam().name << " returned while the reader was still in OnClose";
    EXPECT_EQ(bufferSeen.load(), 8u) << "the input buffer was freed under the reader";
    if (!GetParam().destroy) {
        EXPECT_TRUE(log.Has(ExitLine));
    }
}

INSTANTIATE_TEST_SUITE_P(Outside, HidPortCloseFromOutside,
                         testing::Values(TOutsideCase{"SetActive(false)", false}, TOutsideCase{"the destructor", true}),
                         [](const testing::TestParamInfo<TOutsideCase>& info) {
                             return info.param.destroy ? std::string("Destroy") : std::string("Deactivate");
                         });

// The reader has passed its stop test and is about to start a read when the close comes:
// the stop request and the wake-up both miss it. The handle must still be open when that
// read starts, and the read must end without anybody's help.
TEST_F(HidPortClose, AReadStartedAfterTheStopRequestFindsItsHandleAndEnds) {
    TSeamGate gate(TkwIoPoint::BeforeRead);
    std::atomic<int> handlesAtRead{-1};
    gate.atRelease = [&] { handlesAtRead = KwFake_OpenHandleCount(device); };
    Open();
    ASSERT_TRUE(gate.WaitHeld());
    gate.ReleaseOnceSomeoneWaits();

    TUniqueEvent closed = ManualEvent();
    std::atomic<bool> hung{false};
    std::thread watchdog([&] {
        if (Signalled(closed, 10000)) return;
        hung = true;
        SendReport();  // ends the read that nobody cancelled, so that the test goes on
    });
    Port().SetActive(false);
    SetEvent(closed.get());
    watchdog.join();
    EXPECT_EQ(handlesAtRead.load(), 1) << "the device handle was closed before the reader was done with it";
    EXPECT_FALSE(hung) << "the close waited for a read that nothing woke";
    EXPECT_TRUE(log.Has(ExitLine));
}

// The reader's read stays pending however long its cancellation takes: the close waits
// for the read to end, without a time limit, before the buffer and the record go.
TEST_F(HidPortClose, CloseWaitsForThePendingReadToEndHoweverLongItTakes) {
    THeldCancellations held;
    // The reader must be past its stop test, on its way into the read, before the close
    // comes: a reader that has not started yet would leave without any read.
    TSeamGate reading(TkwIoPoint::BeforeRead, false);
    Open();
    ASSERT_TRUE(reading.WaitHeld());
    TUniqueEvent closing = ManualEvent(), closed = ManualEvent();
    std::atomic<bool> returnedEarly{false}, exitedEarly{false};
    std::thread other([&] {
        WaitForSingleObject(closing.get(), INFINITE);
        // Longer than any give-up a close might have had.
        returnedEarly = Signalled(closed, 6000);
        exitedEarly = log.Has(ExitLine);
        SendReport();  // the read ends now
    });
    SetEvent(closing.get());
    Port().SetActive(false);
    SetEvent(closed.get());
    other.join();
    EXPECT_FALSE(returnedEarly) << "the close returned with the read still pending";
    EXPECT_FALSE(exitedEarly) << "the monitoring thread left with its read still pending";
    EXPECT_TRUE(log.Has(ExitLine));
}

// On an unplug the reader closes the port while the UI reloads the device list (as on the
// device-change broadcast): the reader must release the open handle's preparsed data, not
// whatever the record selected now holds.
TEST_F(HidPortClose, SelfCloseDuringAListReloadReleasesThePreparsedDataOfItsHandle) {
    TSeamGate gate(TkwIoPoint::ReadFailed);
    Open();
    EXPECT_EQ(Port().Device->PreparsedData, nullptr)
        << "the record holds the open handle's preparsed data, which a reload frees under the reader";
    ASSERT_TRUE(KwFake_Unplug(device));
    ASSERT_TRUE(gate.WaitHeld());
    Port().DeviceListRefresh();
    EXPECT_EQ(Port().DeviceCount(), 1);
    gate.Release();
    Port().SetActive(false);
    EXPECT_EQ(KwFake_PreparsedDataCount(), 0);
}

TEST_F(HidPortClose, ChangingTheDeviceWhileOpenLeaksNothing) {
    Open();
    Port().SetDeviceIndex(1);
    Port().SetActive(false);
    EXPECT_EQ(KwFake_PreparsedDataCount(), 0) << "the open handle's preparsed data outlived the close";
    Port().SetDeviceIndex(0);
    Open();
    Port().SetActive(false);
    EXPECT_EQ(KwFake_PreparsedDataCount(), 0);
}

TEST_F(HidPortClose, AnOpenThatFailsHalfwayKeepsNothing) {
    log.failOn = "kwHID: device has opened";
    EXPECT_THROW(Port().SetActive(true), std::runtime_error);
    EXPECT_FALSE(Port().Active());
    EXPECT_TRUE(KwFake_WaitOpenHandles(device, 0, 5000)) << "the device handle leaked";
    EXPECT_EQ(KwFake_PreparsedDataCount(), 0);
    log.failOn.clear();
    Open();
    Port().SetActive(false);
}

// --- writes

// On a device that only takes writes: no monitoring thread, only the writes.
class HidPortWrites : public HidPortClose {
protected:
    HidPortWrites() { access = kwfaWriteOnly; }
    // More than the pipe holds: with the device taking nothing, the write stays pending.
    std::vector<uint8_t> big = std::vector<uint8_t>(100000, 'A');
};

TEST_F(HidPortWrites, NothingIsWrittenOnAClosedPort) {
    const uint8_t bytes[] = {1, 2};
    EXPECT_FALSE(Port().SendBuffer(bytes, sizeof bytes));
    EXPECT_FALSE(Port().WriteData(bytes, sizeof bytes));
    Port().SendChar('x');
    Port().SendString("xy");
    Open();
    Port().SetActive(false);
    EXPECT_FALSE(Port().SendBuffer(bytes, sizeof bytes));
    uint8_t taken[4];
    EXPECT_EQ(KwFake_TakeWritten(device, taken, sizeof taken, 200), 0u);
}

TEST_F(HidPortWrites, ASendWaitsForTheLastOneBeforeItReusesItsRecord) {
    ASSERT_TRUE(KwFake_HoldWrites(device, TRUE));
    Open();
    ASSERT_TRUE(Port().SendBuffer(big.data(), static_cast<int>(big.size())));
    ASSERT_FALSE(HasOverlappedIoCompleted(&Port().SendOverlapped));
    std::atomic<bool> taking{false};
    std::thread other([&] {
        Sleep(300);
        taking = true;
        KwFake_HoldWrites(device, FALSE);
    });
    uint8_t next[] = {'B', 'B'};
    ASSERT_TRUE(Port().SendBuffer(next, sizeof next));
    EXPECT_TRUE(taking) << "the second send reused the record of one still pending";
    next[0] = next[1] = 'C';  // the caller's bytes are its own again
    std::vector<uint8_t> taken(big.size() + 2);
    const DWORD got = KwFake_TakeWritten(device, taken.data(), static_cast<DWORD>(taken.size()), 5000);
    other.join();
    ASSERT_EQ(got, taken.size());
    EXPECT_TRUE(std::equal(big.begin(), big.end(), taken.begin()));
    EXPECT_EQ(std::string(taken.end() - 2, taken.end()), "BB");
    Port().SetActive(false);
}

TEST_F(HidPortWrites, CloseEndsASendLeftRunning) {
    ASSERT_TRUE(KwFake_HoldWrites(device, TRUE));
    THeldCancellations held;
    Open();
    ASSERT_TRUE(Port().SendBuffer(big.data(), static_cast<int>(big.size())));
    TUniqueEvent closed = ManualEvent();
    std::atomic<bool> returnedEarly{false};
    std::thread other([&] {
        returnedEarly = Signalled(closed, 500);
        KwFake_HoldWrites(device, FALSE);  // the write can end now
    });
    Port().SetActive(false);
    SetEvent(closed.get());
    other.join();
    EXPECT_FALSE(returnedEarly) << "the close returned with the send still pending";
    EXPECT_TRUE(HasOverlappedIoCompleted(&Port().SendOverlapped));
}

}  // namespace
