#pragma once
// A HID port without a device: the test hands it reports as the reading thread would.
#include <cstdint>
#include <vector>

#include "engine/hidport.h"

class TFakePort : public TComponent, public IHidPort {
public:
    explicit TFakePort(int deviceIndex = 0, int deviceCount = 8)
        : TComponent(nullptr), deviceIndex_(deviceIndex), deviceCount_(deviceCount) {}

    TComponent& Component() noexcept override { return *this; }
    void DeviceListRefresh() override { ++refreshes; }
    int DeviceCount() override { return deviceCount_; }
    int DeviceIndex() override { return deviceIndex_; }
    void SetDeviceIndex(int index) override { deviceIndex_ = index; }
    void SetOnAfterReceive(const TOnReceived& handler) override { onAfterReceive_ = handler; }
    bool Active() override { return active_; }
    void SetActive(bool value) override { active_ = value; }

    // Delivers one report, as the port's reading thread does.
    void Receive(const std::vector<uint8_t>& report) {
        if (onAfterReceive_) onAfterReceive_(this, report.data(), static_cast<uint32_t>(report.size()));
    }

    int refreshes = 0;

private:
    int deviceIndex_;
    int deviceCount_;
    bool active_ = false;
    TOnReceived onAfterReceive_;
};
