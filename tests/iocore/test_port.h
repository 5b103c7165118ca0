#pragma once
// A port over no real medium: its "reads" are events the test sets, so a test can
// deliver a block, fail a read (as an unplugged device does) or leave the reader
// blocked, and watch the base class's protocol around it.
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "iocore/kwclasses.h"

class TTestPort : public TkwBaseIO {
public:
    TTestPort() : TkwBaseIO(nullptr) {}
    ~TTestPort() override {
        if (IsOpen()) Close();
        WaitForReader();  // the reader uses the events below
    }

    HANDLE OpenHandle() override {
        ++opens;
        if (raiseOnOpen) FatalError(16, 2, "cannot open");
        if (openFails) return INVALID_HANDLE_VALUE;
        UseThread = withThread;
        return CreateEventA(nullptr, TRUE, FALSE, nullptr);  // stands in for the device file
    }
    int GetDeviceIndex() const override { return index_; }
    void SetDeviceIndex(int value) override {
        index_ = value;
        TkwBaseIO::SetDeviceIndex(value);
    }
    void DeviceListLoad() override {
        ++loads;
        for (const char* name : {"first", "second"}) {
            auto* d = new TkwDevice();
            d->Name = name;
            AddDevice(d);
        }
    }
    // What reached the device, each send in brackets: "[x]".
    void SendChar(char c) override { sent += "[" + std::string(1, c) + "]"; }
    void SendString(const std::string& s) override { sent += "[" + s + "]"; }
    bool SendBuffer(const void* buffer, int count) override {
        sent += "[" + std::string(static_cast<const char*>(buffer), static_cast<size_t>(count)) + "]";
        return IsOpen();
    }

    void Close() override {
        // Wake the reader before the base waits for it.
        if (!OnReaderThread()) {
            ThreadStop = true;
            SetEvent(wake_.get());
        }
        TkwBaseIO::Close();
    }

    void ThreadExecute(TkwThreadIO*) override {
        readerThread = GetCurrentThreadId();
        HANDLE events[] = {data_.get(), fail_.get(), wake_.get()};
        SetEvent(readerBlocked_.get());
        while (!ThreadStop) {
            const DWORD r = WaitForMultipleObjects(3, events, FALSE, INFINITE);
            if (r == WAIT_OBJECT_0) {
                DoReceive(block.data(), static_cast<uint32_t>(block.size()));
            } else if (r == WAIT_OBJECT_0 + 1) {
                // A failed read closes the port from here, without waiting for itself.
                UseThread = false;
                Close();
                break;
            }
        }
        ThreadStop = true;
        readerExited = true;
    }

    // The test's side of the medium.
    void Deliver() { SetEvent(data_.get()); }
    void FailRead() { SetEvent(fail_.get()); }
    bool WaitUntilReading() { return WaitForSingleObject(readerBlocked_.get(), 5000) == WAIT_OBJECT_0; }

    std::vector<uint8_t> block{1, 2, 3};
    std::string sent;
    bool withThread = true;
    bool openFails = false;
    bool raiseOnOpen = false;
    int opens = 0;
    int loads = 0;
    std::atomic<DWORD> readerThread{0};
    std::atomic<bool> readerExited{false};

    using TkwBaseIO::Handle;

private:
    int index_ = -1;
    TUniqueEvent data_{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    TUniqueEvent fail_{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    TUniqueEvent wake_{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    TUniqueEvent readerBlocked_{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};
