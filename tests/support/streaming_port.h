#pragma once
// A fake HID port whose device never stops sending: from the moment it is opened a
// thread of its own delivers one report after another, as the port's reading thread
// would, until the port is closed.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "tests/support/fake_port.h"

class TStreamingPort : public TFakePort {
public:
    TStreamingPort(int deviceCount, std::vector<uint8_t> report)
        : TFakePort(-1, deviceCount), report_(std::move(report)) {}
    ~TStreamingPort() override { StopReading(); }

    // True starts the reading thread, false stops it and returns once it has ended.
    void SetActive(bool value) override {
        if (value == Active()) return;
        if (value) {
            TFakePort::SetActive(true);
            stop_.store(false);
            reader_ = std::thread([this] {
                while (!stop_.load()) {
                    Receive(report_);
                    delivered_.fetch_add(1);
                }
            });
        } else {
            StopReading();
            TFakePort::SetActive(false);
        }
    }

    // Returns once the reading thread has delivered a report after this call began.
    void AwaitReport() const {
        const uint64_t from = delivered_.load();
        while (delivered_.load() == from) std::this_thread::yield();
    }

    uint64_t Delivered() const { return delivered_.load(); }

private:
    void StopReading() {
        stop_.store(true);
        if (reader_.joinable()) reader_.join();
    }

    std::vector<uint8_t> report_;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> delivered_{0};
};

// Hands out streaming ports, each with a report of its own. Opening a port returns
// only after every port open by then, itself included, has delivered a report
// since: the ports opened before are sure to be reading while the next one opens.
class TStreamingPortFactory {
public:
    explicit TStreamingPortFactory(int deviceCount) {
        SetHidPortFactory([this, deviceCount] {
            const auto n = static_cast<uint8_t>(++made_);
            return std::unique_ptr<IHidPort>(
                std::make_unique<TOpeningPort>(*this, deviceCount, std::vector<uint8_t>{n, 0x5A, n, 0xA5}));
        });
    }
    ~TStreamingPortFactory() { SetHidPortFactory(nullptr); }
    TStreamingPortFactory(const TStreamingPortFactory&) = delete;
    TStreamingPortFactory& operator=(const TStreamingPortFactory&) = delete;

    int Made() const { return made_; }
    // The ports open now, in the order they were opened.
    const std::vector<TStreamingPort*>& Open() const { return open_; }

private:
    class TOpeningPort : public TStreamingPort {
    public:
        TOpeningPort(TStreamingPortFactory& ports, int deviceCount, std::vector<uint8_t> report)
            : TStreamingPort(deviceCount, std::move(report)), ports_(ports) {}
        ~TOpeningPort() override { SetActive(false); }
        void SetActive(bool value) override {
            if (value == Active()) return;
            TStreamingPort::SetActive(value);
            auto& open = ports_.open_;
            if (!value) {
                open.erase(std::find(open.begin(), open.end(), this));
                return;
            }
            open.push_back(this);
            for (TStreamingPort* port : open) port->AwaitReport();
        }

    private:
        TStreamingPortFactory& ports_;
    };

    int made_ = 0;
    std::vector<TStreamingPort*> open_;
};
