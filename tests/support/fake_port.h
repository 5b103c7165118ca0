#pragma once
// A HID port without a device: the test hands it reports as the reading thread would.
#include <cstdint>
#include <memory>
#include <stdexcept>
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
    void SetActive(bool value) override {
        if (value && !active_ && failOpen) throw std::runtime_error("Device is not found");
        if (value && !active_) ++opens;
        if (!value && active_) ++closes;
        active_ = value;
    }

    // Delivers one report, as the port's reading thread does.
    void Receive(const std::vector<uint8_t>& report) {
        if (onAfterReceive_) onAfterReceive_(this, report.data(), static_cast<uint32_t>(report.size()));
    }

    int refreshes = 0;
    int opens = 0;
    int closes = 0;
    bool failOpen = false;

private:
    int deviceIndex_;
    int deviceCount_;
    bool active_ = false;
    TOnReceived onAfterReceive_;
};

// Hands out fake ports as the engine asks for them, and keeps track of them.
class TFakePortFactory {
public:
    explicit TFakePortFactory(int deviceCount) : deviceCount_(deviceCount) {
        SetHidPortFactory([this] {
            auto port = std::make_unique<TFakePort>(-1, deviceCount_);
            // Ports are made in the order the engine needs them; a test marks one to fail.
            if (static_cast<int>(made.size()) == failingPort) port->failOpen = true;
            made.push_back(port.get());
            return std::unique_ptr<IHidPort>(std::move(port));
        });
    }
    ~TFakePortFactory() { SetHidPortFactory(nullptr); }
    TFakePortFactory(const TFakePortFactory&) = delete;
    TFakePortFactory& operator=(const TFakePortFactory&) = delete;

    std::vector<TFakePort*> made;  // not owned; valid while the engine keeps them
    int failingPort = -1;

private:
    int deviceCount_;
};
