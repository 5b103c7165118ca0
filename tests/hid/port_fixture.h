#pragma once
// What the HID port tests share: a log that takes lines from any thread, and a port on
// the fake HID platform with devices made to measure.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "hid/kwhid.h"
#include "tests/fakeos/fakeos.h"
#include "tests/hid/bindings_fixture.h"

// Log lines from any thread.
class TLines : public TkwCustomLogFile {
public:
    TLines() : TkwCustomLogFile(nullptr) {}
    void Add(int level, const std::string& text) override {
        if (!failOn.empty() && text.compare(0, failOn.size(), failOn) == 0) throw std::runtime_error("log failed");
        std::lock_guard<std::mutex> guard(lock_);
        lines_.push_back(std::to_string(level) + " " + text);
    }
    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> guard(lock_);
        return lines_;
    }
    bool Has(const std::string& line) const {
        const auto lines = Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    // A line that begins so raises instead of being kept. Set it before any thread writes.
    std::string failOn;

private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
};

inline HIDP_CAPS Caps(USHORT inputLength, USHORT outputLength = 0, USHORT inputButtons = 0, USHORT inputValues = 0) {
    HIDP_CAPS caps{};
    caps.UsagePage = 0x0C;
    caps.Usage = 1;
    caps.InputReportByteLength = inputLength;
    caps.OutputReportByteLength = outputLength;
    caps.NumberInputButtonCaps = inputButtons;
    caps.NumberInputValueCaps = inputValues;
    return caps;
}

class HidPortTest : public TBindingTest {
protected:
    void TearDown() override {
        port.reset();
        TBindingTest::TearDown();
    }
    int Add(const wchar_t* product, DWORD access = kwfaReadWrite, USHORT inputLength = 8,
            const char* description = "HID-compliant device") {
        KwFakeDevice d{};
        d.Product = product;
        d.Manufacturer = L"Orlanvale";
        d.VendorID = 0x1234;
        d.ProductID = 0x5678;
        d.Caps = Caps(inputLength, 4, 1, 2);
        d.Access = access;
        d.Description = description;
        return KwFake_AddDevice(&d);
    }
    TkwHid& Port() {
        if (!port) {
            port = std::make_unique<TkwHid>(nullptr);
            port->SetLog(&log);
        }
        return *port;
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const auto& entry : Port().DeviceList) names.push_back(entry.first);
        return names;
    }

    TLines log;
    std::unique_ptr<TkwHid> port;
};

