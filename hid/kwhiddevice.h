#pragma once
// The record of one HID device in a port's device list: its HID strings,
// attributes and capabilities, as the probe read them.
#include <windows.h>
#include <hidsdi.h>
#include <hidpi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "iocore/kwclasses.h"

class TkwHidDevice : public TkwDevice {
public:
    // Copies the text fields and DevNode of source (not Index and Owner).
    explicit TkwHidDevice(const TkwDevice* source = nullptr);
    ~TkwHidDevice() override;

    // The capability counter at position k of HIDP_CAPS (0 input buttons ... 8 feature data indices).
    uint16_t CapsCount(int k) const;
    // Element index of the output (k 3), feature (k 6) or input (otherwise) button
    // capabilities; raises "Index is out of range" outside the array.
    void GetButtonCaps(int index, int k, HIDP_BUTTON_CAPS& record) const;
    // The same for value capabilities: output (k 4), feature (k 7), input (otherwise).
    void GetValueCaps(int index, int k, HIDP_VALUE_CAPS& record) const;
    uint16_t VendorID() const { return Attributes.VendorID; }
    uint16_t ProductID() const { return Attributes.ProductID; }
    uint16_t VersionNumber() const { return Attributes.VersionNumber; }
    uint16_t UsagePage() const { return Caps.UsagePage; }
    // 0 output, 1 input, anything else feature report byte length.
    uint16_t ReportLength(int kind) const;

    std::string SerialNumber;
    PHIDP_PREPARSED_DATA PreparsedData = nullptr;
    HIDD_ATTRIBUTES Attributes{};
    HIDP_CAPS Caps{};
    // Each present exactly when its counter in Caps is above 0 (and the probe got that far).
    std::vector<HIDP_BUTTON_CAPS> InputButtonCaps, OutputButtonCaps, FeatureButtonCaps;
    std::vector<HIDP_VALUE_CAPS> InputValueCaps, OutputValueCaps, FeatureValueCaps;
};

// The name of a HID usage page; "Unknown" beyond the table.
std::string UsagePageName(uint16_t code);
