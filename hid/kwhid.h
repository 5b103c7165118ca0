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
    void SendBuffer(const void* buffer, int count) override;

    bool WriteData(const void* buffer, DWORD count);
    HANDLE OpenDeviceFile(const std::string& path, bool read, bool write, bool shared, bool overlapped);
    bool LoadDeviceInfo(TkwHidDevice* record);
    void AllocReportBuffers();
    void FreeReportBuffers();

    TkwHidDevice* Device = nullptr;
    std::vector<uint8_t> OutputBuffer, InputBuffer, FeatureBuffer;
    uint32_t OutputLength = 0, InputLength = 0, FeatureLength = 0;
    bool WriteAccess = false, ReadAccess = false;
    bool SharedMode = true;
    TUniqueEvent ReadEvent;
    bool ListLoading = false;

private:
    int deviceIndex_ = 0;
};

// Makes TkwHid the port of the engine's device handlers and of its device counter.
void UseHidPortsForEngine();
