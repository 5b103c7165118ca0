#pragma once
// What the engine needs of a HID port: the device handlers point one at a device,
// open it and take its reports. The HID port component implements it on Windows;
// tests use a fake. A port is a component: its Tag tells its device handler.
#include <cstdint>
#include <functional>
#include <memory>

#include "rtl/component.h"
#include "rtl/events.h"

// The received-data event: the port (a component), the bytes (valid only during
// the call) and their count. Fired on the port's reading thread.
using TOnReceived = TEvent<void(TObject* com, const uint8_t* buffer, uint32_t received)>;

class IHidPort {
public:
    virtual ~IHidPort() = default;

    // The port as a component: the sender of its events, and the holder of Tag.
    virtual TComponent& Component() noexcept = 0;
    // Rebuilds the port's own list of the devices present.
    virtual void DeviceListRefresh() = 0;
    virtual int DeviceCount() = 0;
    virtual int DeviceIndex() = 0;
    virtual void SetDeviceIndex(int index) = 0;
    virtual void SetOnAfterReceive(const TOnReceived& handler) = 0;
    virtual bool Active() = 0;
    // True opens the device (raising when it cannot) and starts the reading
    // thread; false closes it and returns once the reading thread has ended.
    virtual void SetActive(bool value) = 0;
};

// Makes the ports of the device handlers and the engine's device counter: the
// HID port component on Windows, fakes in tests. Set once, before engines exist.
using THidPortFactory = std::function<std::unique_ptr<IHidPort>()>;
void SetHidPortFactory(THidPortFactory factory);
// A new port from the factory; none when no factory is set.
std::unique_ptr<IHidPort> CreateHidPort();
