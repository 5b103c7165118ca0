#include "hid/kwhidw32.h"

#include <array>
#include <cwchar>

#include "rtl/win32/handle.h"
#include "rtl/win32/module.h"

namespace kwhidw32 {
namespace {

static_assert(sizeof(HIDP_BUTTON_CAPS) == 72 && sizeof(HIDP_VALUE_CAPS) == 72, "the records devices fill in");

// Never destroyed: a static destructor runs under the loader lock while the plug-in
// unloads, where no library may be freed. FreeHidLibrary is the teardown.
TUniqueModule& HidLibrary() noexcept {
    static auto* library = new TUniqueModule;
    return *library;
}

// Looked up anew on every call, never cached.
template <class F>
F Entry(const char* name) noexcept {
    if (!LoadHidLibrary()) return nullptr;
    // Through void(*)(): FARPROC and F are unrelated function types.
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(HidLibrary().get(), name)));
}

using TGetString = BOOLEAN(NTAPI*)(HANDLE, PVOID, ULONG);

}  // namespace

bool LoadHidLibrary() noexcept {
    TUniqueModule& library = HidLibrary();
    if (!library) library.reset(LoadSystemLibrary("HID.DLL"));
    return static_cast<bool>(library);
}

void FreeHidLibrary() noexcept { HidLibrary().reset(); }

HMODULE HidLibraryHandle() noexcept { return HidLibrary().get(); }

void HidD_GetHidGuid(LPGUID hidGuid) noexcept {
    if (auto entry = Entry<decltype(&::HidD_GetHidGuid)>("HidD_GetHidGuid")) entry(hidGuid);
}

BOOLEAN HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData) noexcept {
    *preparsedData = nullptr;
    auto entry = Entry<decltype(&::HidD_GetPreparsedData)>("HidD_GetPreparsedData");
    if (!entry) return FALSE;
    PHIDP_PREPARSED_DATA data = nullptr;
    const BOOLEAN ok = entry(device, &data);
    // Whatever a failed call left in its out-value is not ours to free.
    if (ok) *preparsedData = data;
    return ok;
}

BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData) noexcept {
    auto entry = Entry<decltype(&::HidD_FreePreparsedData)>("HidD_FreePreparsedData");
    return entry ? entry(preparsedData) : FALSE;
}

BOOLEAN HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) noexcept {
    auto entry = Entry<decltype(&::HidD_GetAttributes)>("HidD_GetAttributes");
    return entry ? entry(device, attributes) : FALSE;
}

NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS caps) noexcept {
    auto entry = Entry<decltype(&::HidP_GetCaps)>("HidP_GetCaps");
    return entry ? entry(preparsedData, caps) : HIDP_STATUS_NULL;
}

NTSTATUS HidP_GetButtonCaps(HIDP_REPORT_TYPE reportType, PHIDP_BUTTON_CAPS buttonCaps, PUSHORT length,
                            PHIDP_PREPARSED_DATA preparsedData) noexcept {
    auto entry = Entry<decltype(&::HidP_GetButtonCaps)>("HidP_GetButtonCaps");
    return entry ? entry(reportType, buttonCaps, length, preparsedData) : HIDP_STATUS_NULL;
}

NTSTATUS HidP_GetValueCaps(HIDP_REPORT_TYPE reportType, PHIDP_VALUE_CAPS valueCaps, PUSHORT length,
                           PHIDP_PREPARSED_DATA preparsedData) noexcept {
    auto entry = Entry<decltype(&::HidP_GetValueCaps)>("HidP_GetValueCaps");
    return entry ? entry(reportType, valueCaps, length, preparsedData) : HIDP_STATUS_NULL;
}

std::string GetHidString(HANDLE device, const char* entryName) noexcept {
    std::string result;
    try {
        if (auto entry = Entry<TGetString>(entryName)) {
            std::array<wchar_t, 1024> buffer{};
            if (entry(device, buffer.data(), sizeof buffer)) {
                // A device that fills the buffer without a terminator gets no more than it.
                const int length = static_cast<int>(wcsnlen(buffer.data(), buffer.size()));
                const int size = WideCharToMultiByte(CP_ACP, 0, buffer.data(), length, nullptr, 0, nullptr, nullptr);
                if (size > 0) {
                    result.resize(static_cast<size_t>(size));
                    WideCharToMultiByte(CP_ACP, 0, buffer.data(), length, result.data(), size, nullptr, nullptr);
                }
            }
        }
    } catch (...) {
        result.clear();  // out of memory: the string counts as absent
    }
    if (result.size() < 3) result.clear();
    return result;
}

}  // namespace kwhidw32
