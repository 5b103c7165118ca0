#include "hid/kwhiddevice.h"

#include <array>

#include "hid/kwhidw32.h"
#include "rtl/exception.h"

static_assert(sizeof(HIDP_BUTTON_CAPS) == 72 && sizeof(HIDP_VALUE_CAPS) == 72, "capability records are 72 bytes");

namespace {
template <class T>
const T& At(const std::vector<T>& caps, int index, uint16_t count) {
    if (index < 0 || index >= count || static_cast<size_t>(index) >= caps.size())
        throw ERangeError("Index is out of range");
    return caps[static_cast<size_t>(index)];
}
}  // namespace

TkwHidDevice::TkwHidDevice(const TkwDevice* source) {
    if (source) {
        Name = source->Name;
        PhysicalDeviceName = source->PhysicalDeviceName;
        DevicePath = source->DevicePath;
        RegistryKey = source->RegistryKey;
        Description = source->Description;
        Service = source->Service;
        DriverKey = source->DriverKey;
        InstanceId = source->InstanceId;
        BusRelations = source->BusRelations;
        PortName = source->PortName;
        Manufacturer = source->Manufacturer;
        DevNode = source->DevNode;
    }
    Attributes.Size = 10;
}

TkwHidDevice::~TkwHidDevice() {
    if (PreparsedData) kwhidw32::HidD_FreePreparsedData(PreparsedData);
}

uint16_t TkwHidDevice::CapsCount(int k) const {
    switch (k) {
        case 0: return Caps.NumberInputButtonCaps;
        case 1: return Caps.NumberInputValueCaps;
        case 2: return Caps.NumberInputDataIndices;
        case 3: return Caps.NumberOutputButtonCaps;
        case 4: return Caps.NumberOutputValueCaps;
        case 5: return Caps.NumberOutputDataIndices;
        case 6: return Caps.NumberFeatureButtonCaps;
        case 7: return Caps.NumberFeatureValueCaps;
        case 8: return Caps.NumberFeatureDataIndices;
        default: return 0;
    }
}

void TkwHidDevice::GetButtonCaps(int index, int k, HIDP_BUTTON_CAPS& record) const {
    const auto& caps = k == 3 ? OutputButtonCaps : k == 6 ? FeatureButtonCaps : InputButtonCaps;
    record = At(caps, index, CapsCount(k));
}

void TkwHidDevice::GetValueCaps(int index, int k, HIDP_VALUE_CAPS& record) const {
    const auto& caps = k == 4 ? OutputValueCaps : k == 7 ? FeatureValueCaps : InputValueCaps;
    record = At(caps, index, CapsCount(k));
}

uint16_t TkwHidDevice::ReportLength(int kind) const {
    if (kind == 0) return Caps.OutputReportByteLength;
    if (kind == 1) return Caps.InputReportByteLength;
    return Caps.FeatureReportByteLength;
}

std::string UsagePageName(uint16_t code) {
    static constexpr std::array<const char*, 21> names = {
        "Undefined", "Generic",  "Simulation", "VR",        "Sport",     "Game",    "Unknown",
        "Keyboard",  "LED",      "Button",     "Ordinal",   "Telephony", "Consumer", "Digitizer",
        "Unknown",   "Unknown",  "Unicode",    "Unknown",   "Unknown",   "Unknown", "Alphanumeric"};
    return code < names.size() ? names[code] : "Unknown";
}
