#pragma once
// HID device access: the HID device-interface class and the HID port component.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/hidport.h"
#include "hid/kwhiddevice.h"
#include "iocore/kwclasses.h"
#include "rtl/win32/handle.h"

// Owns HID preparsed data: released through the binding.
struct TPreparsedDataTraits {
    using pointer = PHIDP_PREPARSED_DATA;
    static pointer Empty() noexcept { return nullptr; }
    static void Close(pointer data) noexcept;
};
using TUniquePreparsedData = TUniqueHandle<TPreparsedDataTraits>;

// All zero until the first HidD_GetHidGuid binding call writes the class into it; device
// enumeration refreshes it before every enumeration. Stays zero without HID.DLL.
extern GUID HidClassGuid;

// The HID port: opens the device its DeviceIndex selects with the best access
// the device grants and, with read access, reads one input report after another
// on its monitoring thread.
class TkwHid : public TkwBaseIO, public IHidPort {
public:
    explicit TkwHid(TComponent* owner);
    ~TkwHid() override;

    // The engine's view of a port.
    TComponent& Component() noexcept override { return *this; }
    void DeviceListRefresh() override;
    int DeviceCount() override { return TkwBaseIO::DeviceCount(); }
    int DeviceIndex() override { return GetDeviceIndex(); }
    void SetDeviceIndex(int value) override;
    void SetOnAfterReceive(const TOnReceived& handler) override { OnAfterReceive = handler; }
    bool Active() override { return TkwBaseIO::Active(); }
    void SetActive(bool value) override { TkwBaseIO::SetActive(value); }

    HANDLE OpenHandle() override;
    void ReleaseHandle(HANDLE handle) override;
    void Close() override;
    void ThreadExecute(TkwThreadIO* thread) override;
    void DoReceive(const void* buffer, uint32_t count) override;
    int GetDeviceIndex() const override { return deviceIndex_; }
    void DeviceListLoad() override;
    void SendChar(char c) override;
    void SendString(const std::string& s) override;
    bool SendBuffer(const void* buffer, int count) override;

    // Writes and waits for the write to end; false when the port is closed or the write failed.
    bool WriteData(const void* buffer, DWORD count);
    HANDLE OpenDeviceFile(const std::string& path, bool read, bool write, bool shared, bool overlapped);
    bool LoadDeviceInfo(TkwHidDevice* record);
    void AllocReportBuffers();
    void FreeReportBuffers();

    // The record selected now; borrowed from the device list, cleared before the list is.
    TkwHidDevice* Device = nullptr;
    std::vector<uint8_t> OutputBuffer, InputBuffer, FeatureBuffer;
    uint32_t OutputLength = 0, InputLength = 0, FeatureLength = 0;
    bool WriteAccess = false, ReadAccess = false;
    bool SharedMode = true;
    TUniqueEvent ReadEvent;
    bool ListLoading = false;

private:
    // One read of a whole report; false when the loop must end (stop request or failure).
    bool ReadReport(HANDLE handle, OVERLAPPED& overlapped);

    int deviceIndex_ = 0;
    // The preparsed data of the open handle. It belongs to the handle, not to the record
    // selected now: the list may be reloaded, or DeviceIndex changed, while the port is open.
    TUniquePreparsedData openPreparsedData_;
    // Writes and the release of the handle take turns: the reader thread may close the
    // port after a failed read while the UI thread writes.
    SRWLOCK writeLock_ = SRWLOCK_INIT;
    std::vector<uint8_t> sendBuffer_;  // the bytes of the write SendBuffer left running
};

// Makes TkwHid the port of the engine's device handlers and of its device counter. While
// the user has the log turned on (UserLogLevel), those ports write their lines to it.
void UseHidPortsForEngine();
