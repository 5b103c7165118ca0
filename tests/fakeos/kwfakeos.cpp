// The fake HID platform: its devices, and what the three fake libraries answer about them.
#include "tests/fakeos/fakeos.h"
#include "tests/fakeos/fakeos_entries.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "rtl/win32/handle.h"

namespace {

constexpr GUID HidInterfaceGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr GUID HidSetupClassGuid = {0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};

// Server ends kept waiting for clients: a port may open a device right after its probe
// closed it, before the worker has replaced the end the probe took. (The HID calls that
// follow an open replace it at once, too.)
constexpr int SpareListeners = 16;
constexpr DWORD PipeBufferSize = 65536;
constexpr DWORD ReportWriteTimeoutMs = 2000;

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

using TText = std::optional<std::string>;
using TWideText = std::optional<std::wstring>;

TText Text(const char* s) { return s ? TText(s) : std::nullopt; }
TWideText WideText(const wchar_t* s) { return s ? TWideText(s) : std::nullopt; }

std::vector<std::string> MultiString(const char* s) {
    std::vector<std::string> items;
    while (s && *s) {
        items.emplace_back(s);
        s += items.back().size() + 1;
    }
    return items;
}

bool SameText(const std::string& a, const char* b) { return b && lstrcmpiA(a.c_str(), b) == 0; }

// One server end of a device's pipe.
struct TInstance {
    enum TOperation { None, Connect, Read };
    TUniqueFile pipe;
    TUniqueEvent event;
    OVERLAPPED overlapped{};
    TOperation operation = None;
    bool connected = false;
    bool dead = false;
    std::array<uint8_t, 1024> buffer{};
};

struct TDevice {
    int id = 0;
    TWideText product, manufacturer, serialNumber;
    HIDD_ATTRIBUTES attributes{};
    HIDP_CAPS caps{};
    std::vector<HIDP_BUTTON_CAPS> buttonCaps[3];
    std::vector<HIDP_VALUE_CAPS> valueCaps[3];
    DWORD access = kwfaReadWrite;
    DWORD flags = 0;
    TText description, service, driverKey, mfg, physicalDeviceName, symbolicName, portName;
    std::string instanceId;
    std::vector<std::string> busRelations, removalRelations;
    DEVINST devNode = 0;
    DWORD detailSize = 0;
    std::string path;
    bool present = true;

    // Pipe devices: the server ends, and the worker thread that waits on them. Only the
    // worker closes an end, so that it never waits on a closed handle.
    std::list<std::unique_ptr<TInstance>> instances;
    TUniqueEvent wake;
    TUniqueThread worker;
    bool stop = false;
    unsigned requested = 0;  // passes asked of the worker ...
    unsigned serviced = 0;   // ... and done
    std::vector<uint8_t> written;
    bool holdWrites = false;  // while set, nothing takes what clients write

    // Query-only devices: a file held open without sharing.
    TUniqueFile hold;

    bool IsPipe() const { return access != kwfaQueryOnly && access != kwfaNone; }
    bool GivesReads() const { return access == kwfaReadWrite || access == kwfaReadOnly; }
    bool TakesWrites() const { return access == kwfaReadWrite || access == kwfaWriteOnly; }
};

struct TPreparsed {
    bool valid = true;
    HIDP_CAPS caps{};
    std::vector<HIDP_BUTTON_CAPS> buttonCaps[3];
    std::vector<HIDP_VALUE_CAPS> valueCaps[3];
};

struct TDeviceSet {
    std::vector<int> ids;
};

struct TPlatform {
    std::mutex lock;  // guards everything here and in the devices
    std::condition_variable changed;
    std::vector<std::unique_ptr<TDevice>> devices;
    std::map<const void*, std::unique_ptr<TPreparsed>> preparsed;
    std::map<const void*, std::unique_ptr<TDeviceSet>> sets;
    std::map<std::string, int> calls;
    std::map<std::string, DWORD> failures;
    int nextId = 1;  // never reused, so an old handle cannot name a new device
};

// Never destroyed: at process exit its worker threads are gone already.
TPlatform& Platform() {
    static TPlatform* platform = new TPlatform;
    return *platform;
}

using TGuard = std::unique_lock<std::mutex>;

// Runs one entry: nothing thrown gets out, and the last error is set after the lock is
// released, which could change it.
template <class R, class F>
R Answer(R failed, F&& body) noexcept {
    DWORD error = ERROR_SUCCESS;
    R result = failed;
    try {
        result = body(error);
    } catch (...) {
        result = failed;
        error = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (error != ERROR_SUCCESS) SetLastError(error);
    return result;
}

// Counts the call; the failure set for the entry, or 0.
DWORD Enter(TPlatform& p, const char* entry) {
    ++p.calls[entry];
    const auto found = p.failures.find(entry);
    return found == p.failures.end() ? 0 : found->second;
}

TDevice* FindDevice(TPlatform& p, int id) {
    for (auto& d : p.devices)
        if (d->id == id) return d.get();
    return nullptr;
}

void Replenish(TDevice& d);

// A client handle back to its device, by the name the handle was opened with.
TDevice* DeviceOfHandle(TPlatform& p, HANDLE handle, DWORD& error) {
    alignas(FILE_NAME_INFO) std::array<unsigned char, sizeof(FILE_NAME_INFO) + 2 * MAX_PATH> info{};
    error = ERROR_INVALID_HANDLE;
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, info.data(), static_cast<DWORD>(info.size())))
        return nullptr;
    const auto* name = reinterpret_cast<const FILE_NAME_INFO*>(info.data());
    const std::wstring text(name->FileName, name->FileNameLength / sizeof(wchar_t));
    const size_t at = text.find(L"kwfakeos-");
    unsigned long pid = 0;
    int id = 0;
    if (at == std::wstring::npos || swscanf(text.c_str() + at, L"kwfakeos-%lu-%d", &pid, &id) != 2 ||
        pid != GetCurrentProcessId())
        return nullptr;
    TDevice* d = FindDevice(p, id);
    if (!d) return nullptr;
    if (!d->present) {
        error = ERROR_DEVICE_NOT_CONNECTED;
        return nullptr;
    }
    error = ERROR_SUCCESS;
    Replenish(*d);
    return d;
}

// ---- pipes ----

// Keeps a read outstanding on a connected end, for what its client writes.
void StartRead(TDevice& d, TInstance& in) {
    while (d.TakesWrites() && !d.holdWrites && in.connected && !in.dead && in.operation == TInstance::None) {
        if (ReadFile(in.pipe.get(), in.buffer.data(), static_cast<DWORD>(in.buffer.size()), nullptr,
                     &in.overlapped)) {
            DWORD n = 0;
            GetOverlappedResult(in.pipe.get(), &in.overlapped, &n, FALSE);
            d.written.insert(d.written.end(), in.buffer.begin(), in.buffer.begin() + n);
            continue;
        }
        if (GetLastError() == ERROR_IO_PENDING)
            in.operation = TInstance::Read;
        else
            in.dead = true;  // the client has gone
    }
}

void Listen(TDevice& d) {
    if (!d.IsPipe() || !d.present || d.stop) return;
    int listening = 0;
    for (auto& in : d.instances)
        if (!in->connected && !in->dead) ++listening;
    const DWORD mode = d.access == kwfaReadOnly    ? PIPE_ACCESS_OUTBOUND
                       : d.access == kwfaWriteOnly ? PIPE_ACCESS_INBOUND
                                                   : PIPE_ACCESS_DUPLEX;
    while (listening < SpareListeners) {
        auto in = std::make_unique<TInstance>();
        in->pipe.reset(CreateNamedPipeA(d.path.c_str(), mode | FILE_FLAG_OVERLAPPED,
                                        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                                        PipeBufferSize, PipeBufferSize, 0, nullptr));
        in->event.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!in->pipe || !in->event) return;
        in->overlapped.hEvent = in->event.get();
        if (!ConnectNamedPipe(in->pipe.get(), &in->overlapped)) {
            const DWORD error = GetLastError();
            if (error == ERROR_IO_PENDING)
                in->operation = TInstance::Connect;
            else if (error == ERROR_PIPE_CONNECTED)
                in->connected = true;
            else
                return;
        }
        if (in->connected)
            StartRead(d, *in);
        else
            ++listening;
        d.instances.push_back(std::move(in));
    }
}

// Takes in what completed. Closes nothing: only the worker does.
void Service(TDevice& d) {
    for (auto& in : d.instances) {
        if (in->dead || in->operation == TInstance::None) continue;
        DWORD n = 0;
        const BOOL done = GetOverlappedResult(in->pipe.get(), &in->overlapped, &n, FALSE);
        const DWORD error = done ? ERROR_SUCCESS : GetLastError();
        if (error == ERROR_IO_INCOMPLETE) continue;
        const TInstance::TOperation finished = in->operation;
        in->operation = TInstance::None;
        if (finished == TInstance::Connect && (done || error == ERROR_PIPE_CONNECTED)) {
            in->connected = true;
        } else if (finished == TInstance::Read && done) {
            d.written.insert(d.written.end(), in->buffer.begin(), in->buffer.begin() + n);
        } else {
            in->dead = true;
            continue;
        }
        StartRead(d, *in);
    }
    Listen(d);
}

// By the worker only.
void DropDead(TDevice& d) {
    for (auto it = d.instances.begin(); it != d.instances.end();) {
        TInstance& in = **it;
        if (!in.dead) {
            ++it;
            continue;
        }
        if (in.operation != TInstance::None) {
            CancelIoEx(in.pipe.get(), &in.overlapped);
            DWORD n = 0;
            GetOverlappedResult(in.pipe.get(), &in.overlapped, &n, TRUE);
        }
        it = d.instances.erase(it);
    }
}

DWORD WINAPI Worker(void* parameter) noexcept {
    TDevice& d = *static_cast<TDevice*>(parameter);
    TPlatform& p = Platform();
    try {
        std::vector<HANDLE> waits;
        for (;;) {
            {
                TGuard guard(p.lock);
                if (d.stop)
                    for (auto& in : d.instances) in->dead = true;
                else
                    Service(d);
                DropDead(d);
                d.serviced = d.requested;
                p.changed.notify_all();
                if (d.stop) return 0;
                waits.assign(1, d.wake.get());
                for (auto& in : d.instances)
                    if (in->operation != TInstance::None && waits.size() < MAXIMUM_WAIT_OBJECTS)
                        waits.push_back(in->event.get());
            }
            // With more ends than one wait takes, the rest are polled.
            WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE,
                                   waits.size() == MAXIMUM_WAIT_OBJECTS ? 20 : INFINITE);
        }
    } catch (...) {
        return 1;
    }
}

// Waits until the worker has made one pass after now: the ends marked dead are closed
// and new ones listen.
void Sync(TPlatform& p, TGuard& guard, TDevice& d) {
    if (!d.worker) return;
    const unsigned ticket = ++d.requested;
    SetEvent(d.wake.get());
    p.changed.wait(guard, [&] { return d.serviced >= ticket; });
}

// Wakes the worker after others changed the ends it waits on.
void Poke(TDevice& d) {
    if (d.wake) SetEvent(d.wake.get());
}

// Takes in what completed and puts new ends in the place of those taken, on the caller's
// thread, without waiting for the worker.
void Replenish(TDevice& d) {
    Service(d);
    Poke(d);
}

DWORD WriteReport(TInstance& in, const std::vector<uint8_t>& report) {
    TUniqueEvent done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!done) return GetLastError();
    OVERLAPPED overlapped{};
    overlapped.hEvent = done.get();
    if (!WriteFile(in.pipe.get(), report.data(), static_cast<DWORD>(report.size()), nullptr, &overlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) return error;
        if (WaitForSingleObject(done.get(), ReportWriteTimeoutMs) != WAIT_OBJECT_0)
            CancelIoEx(in.pipe.get(), &overlapped);
    }
    DWORD n = 0;
    if (!GetOverlappedResult(in.pipe.get(), &overlapped, &n, TRUE)) return GetLastError();
    return n == report.size() ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

bool OpenHold(TDevice& d) {
    d.hold.reset(CreateFileA(d.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return static_cast<bool>(d.hold);
}

// ---- configuration ----

template <class T>
std::vector<T> Records(const T* given, USHORT count, int type, USAGE usagePage) {
    std::vector<T> records(count);
    for (USHORT i = 0; i < count; ++i) {
        if (given) {
            records[i] = given[i];
            continue;
        }
        T& r = records[i];
        r.UsagePage = usagePage;
        r.NotRange.Usage = static_cast<USAGE>(0x100 * (type + 1) + i);
        if constexpr (std::is_same_v<T, HIDP_VALUE_CAPS>) {
            r.BitSize = 8;
            r.ReportCount = 1;
            r.LogicalMax = 255;
        }
    }
    return records;
}

std::unique_ptr<TDevice> MakeDevice(const KwFakeDevice& c, int id) {
    auto d = std::make_unique<TDevice>();
    d->id = id;
    d->product = WideText(c.Product);
    d->manufacturer = WideText(c.Manufacturer);
    d->serialNumber = WideText(c.SerialNumber);
    d->attributes.Size = sizeof(HIDD_ATTRIBUTES);
    d->attributes.VendorID = c.VendorID;
    d->attributes.ProductID = c.ProductID;
    d->attributes.VersionNumber = c.VersionNumber;
    d->caps = c.Caps;
    const USHORT buttons[3] = {c.Caps.NumberInputButtonCaps, c.Caps.NumberOutputButtonCaps,
                               c.Caps.NumberFeatureButtonCaps};
    const USHORT values[3] = {c.Caps.NumberInputValueCaps, c.Caps.NumberOutputValueCaps,
                              c.Caps.NumberFeatureValueCaps};
    for (int t = 0; t < 3; ++t) {
        d->buttonCaps[t] = Records(c.ButtonCaps[t], buttons[t], t, c.Caps.UsagePage);
        d->valueCaps[t] = Records(c.ValueCaps[t], values[t], t, c.Caps.UsagePage);
    }
    d->access = c.Access;
    d->flags = c.Flags;
    d->description = Text(c.Description);
    d->service = Text(c.Service);
    d->driverKey = Text(c.DriverKey);
    d->mfg = Text(c.Mfg);
    d->physicalDeviceName = Text(c.PhysicalDeviceName);
    d->symbolicName = Text(c.SymbolicName);
    d->portName = Text(c.PortName);
    char buffer[MAX_PATH];
    if (c.InstanceId) {
        d->instanceId = c.InstanceId;
    } else {
        std::snprintf(buffer, sizeof buffer, "HID\\VID_%04X&PID_%04X\\KWFAKE&%04X", c.VendorID, c.ProductID,
                      static_cast<unsigned>(id));
        d->instanceId = buffer;
    }
    d->busRelations = MultiString(c.BusRelations);
    d->removalRelations = MultiString(c.RemovalRelations);
    d->devNode = c.DevNode ? c.DevNode : static_cast<DEVINST>(0x100 + id);
    d->detailSize = c.DetailSize;
    const unsigned long pid = GetCurrentProcessId();
    if (d->access == kwfaQueryOnly) {
        char temp[MAX_PATH];
        const DWORD length = GetTempPathA(MAX_PATH, temp);
        if (length == 0 || length >= MAX_PATH) return nullptr;
        std::snprintf(buffer, sizeof buffer, "%skwfakeos-%lu-%d.dev", temp, pid, id);
    } else {
        std::snprintf(buffer, sizeof buffer, "\\\\.\\pipe\\kwfakeos-%lu-%d", pid, id);
    }
    d->path = buffer;
    return d;
}

TPreparsed* PreparsedOf(TPlatform& p, PHIDP_PREPARSED_DATA data) {
    const auto found = p.preparsed.find(data);
    return found == p.preparsed.end() ? nullptr : found->second.get();
}

// ---- device information sets ----

TDeviceSet* SetOf(TPlatform& p, HDEVINFO set, DWORD& error) {
    const auto found = p.sets.find(set);
    if (found != p.sets.end()) return found->second.get();
    error = ERROR_INVALID_HANDLE;
    return nullptr;
}

// The element of a set that SP_DEVINFO_DATA names (its Reserved field holds the position).
TDevice* ElementOf(TPlatform& p, const TDeviceSet& s, const SP_DEVINFO_DATA* data, size_t& index, DWORD& error) {
    if (!data) {
        error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    if (data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        error = ERROR_INVALID_USER_BUFFER;
        return nullptr;
    }
    if (data->Reserved == 0 || data->Reserved > s.ids.size()) {
        error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    index = data->Reserved - 1;
    TDevice* d = FindDevice(p, s.ids[index]);
    if (!d) error = ERROR_NO_SUCH_DEVINST;
    return d;
}

void FillElement(SP_DEVINFO_DATA& data, const TDevice& d, size_t index) {
    data.ClassGuid = HidSetupClassGuid;
    data.DevInst = d.devNode;
    data.Reserved = index + 1;
}

// A text with its NUL into a caller's buffer of size bytes; the size it needs in required.
BOOL CopyText(const std::string& text, char* buffer, DWORD size, PDWORD required, DWORD& error) {
    const DWORD need = static_cast<DWORD>(text.size() + 1);
    if (required) *required = need;
    if (!buffer || size < need) {
        error = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    std::memcpy(buffer, text.c_str(), need);
    return TRUE;
}

// ---- configuration manager ----

TDevice* DeviceOfInstanceId(TPlatform& p, const char* id) {
    for (auto& d : p.devices)
        if (SameText(d->instanceId, id)) return d.get();
    return nullptr;
}

CONFIGRET IdList(TPlatform& p, PCSTR filter, ULONG flags, std::string& list) {
    std::vector<std::string> ids;
    if (flags == CM_GETIDLIST_FILTER_BUSRELATIONS || flags == CM_GETIDLIST_FILTER_REMOVALRELATIONS) {
        TDevice* d = DeviceOfInstanceId(p, filter);
        if (!d) return CR_NO_SUCH_DEVNODE;
        ids = flags == CM_GETIDLIST_FILTER_BUSRELATIONS ? d->busRelations : d->removalRelations;
    } else if (flags == CM_GETIDLIST_FILTER_NONE) {
        for (auto& d : p.devices) ids.push_back(d->instanceId);
    } else {
        return CR_INVALID_FLAG;
    }
    list.clear();
    for (const std::string& id : ids) list.append(id).push_back('\0');
    list.push_back('\0');
    return CR_SUCCESS;
}

// ---- entries shared by several names ----

BOOLEAN HidString(const char* entry, TWideText TDevice::*field, HANDLE handle, PVOID buffer, ULONG length) {
    return Answer<BOOLEAN>(FALSE, [&](DWORD& error) -> BOOLEAN {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if ((error = Enter(p, entry))) return FALSE;
        TDevice* d = DeviceOfHandle(p, handle, error);
        if (!d) return FALSE;
        const TWideText& text = d->*field;
        if (!text) {
            error = ERROR_GEN_FAILURE;
            return FALSE;
        }
        // As some devices do: a text longer than the buffer fills it, without a terminator.
        const size_t need = (text->size() + 1) * sizeof(wchar_t);
        std::memcpy(buffer, text->c_str(), std::min<size_t>(need, length));
        return TRUE;
    });
}

int OpenHandles(TDevice& d) {
    Service(d);
    return static_cast<int>(
        std::count_if(d.instances.begin(), d.instances.end(), [](auto& in) { return in->connected && !in->dead; }));
}

template <class T>
NTSTATUS CapsQuery(const char* entry, std::vector<T> (TPreparsed::*records)[3], HIDP_REPORT_TYPE type, T* caps,
                   PUSHORT length, PHIDP_PREPARSED_DATA preparsedData) {
    return Answer<NTSTATUS>(HIDP_STATUS_INTERNAL_ERROR, [&](DWORD&) -> NTSTATUS {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if (DWORD failure = Enter(p, entry)) return static_cast<NTSTATUS>(failure);
        const TPreparsed* data = PreparsedOf(p, preparsedData);
        if (!data || !data->valid) return HIDP_STATUS_INVALID_PREPARSED_DATA;
        if (type < HidP_Input || type > HidP_Feature) return HIDP_STATUS_INVALID_REPORT_TYPE;
        if (!length) return HIDP_STATUS_NULL;
        const std::vector<T>& all = (data->*records)[type];
        if (all.empty()) {
            *length = 0;
            return HIDP_STATUS_USAGE_NOT_FOUND;
        }
        const USHORT copied = static_cast<USHORT>(std::min<size_t>(*length, all.size()));
        std::copy_n(all.begin(), copied, caps);
        *length = copied;
        return copied < all.size() ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
    });
}

// The entries this system binds but never calls.
template <class R>
R NotImplemented(const char* entry, R failed) {
    return Answer<R>(failed, [&](DWORD& error) -> R {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if (!(error = Enter(p, entry))) error = ERROR_CALL_NOT_IMPLEMENTED;
        return failed;
    });
}
CONFIGRET CmNotImplemented(const char* entry) {
    return Answer<CONFIGRET>(CR_FAILURE, [&](DWORD&) -> CONFIGRET {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if (DWORD failure = Enter(p, entry)) return failure;
        return CR_CALL_NOT_IMPLEMENTED;
    });
}

int Send(int device, const void* data, DWORD size, bool pad, DWORD& error) {
    TPlatform& p = Platform();
    TGuard guard(p.lock);
    TDevice* d = FindDevice(p, device);
    if (!d || !d->present || !d->IsPipe() || !d->GivesReads()) {
        error = ERROR_DEVICE_NOT_CONNECTED;
        return 0;
    }
    Service(*d);
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::vector<uint8_t> report(bytes, bytes + size);
    if (pad) report.resize(d->caps.InputReportByteLength, 0);
    if (report.empty()) return 0;
    int delivered = 0;
    for (auto& in : d->instances) {
        if (in->dead) continue;
        const DWORD written = WriteReport(*in, report);
        if (written == ERROR_SUCCESS) {
            // The connect may not have been taken in yet: the write tells first.
            in->connected = true;
            ++delivered;
        } else if (written != ERROR_PIPE_LISTENING) {
            in->dead = true;
        }
    }
    Poke(*d);
    return delivered;
}

bool InPrivatePrefix() {
    char prefix[4096];
    const DWORD length = GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    return length > 0 && length < sizeof prefix && std::strstr(prefix, "/private-");
}

// The builds of the three libraries, put there by the build (a Unix path: Wine's Z: drive
// is the Unix root).
std::string LibrariesFolder() {
    std::string folder = KW_FAKEOS_LIBS_DIR;
    std::replace(folder.begin(), folder.end(), '/', '\\');
    return "Z:" + folder;
}

}  // namespace

extern "C" {

// ---- control ----

int KwFake_AddDevice(const KwFakeDevice* device) {
    return Answer<int>(-1, [&](DWORD& error) -> int {
        if (!device) {
            error = ERROR_INVALID_PARAMETER;
            return -1;
        }
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        std::unique_ptr<TDevice> d = MakeDevice(*device, p.nextId++);
        if (!d) {
            error = ERROR_BUFFER_OVERFLOW;
            return -1;
        }
        if (d->access == kwfaQueryOnly && !OpenHold(*d)) {
            error = GetLastError();
            return -1;
        }
        if (d->IsPipe()) {
            // Listening before we return: the test may open the device at once.
            Listen(*d);
            d->wake.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
            d->worker.reset(CreateThread(nullptr, 0, Worker, d.get(), 0, nullptr));
            if (!d->wake || !d->worker) {
                error = GetLastError();
                // The pending connects write into the ends: cancelled before they go.
                for (auto& in : d->instances) in->dead = true;
                DropDead(*d);
                return -1;
            }
        }
        p.devices.push_back(std::move(d));
        return p.devices.back()->id;
    });
}

const char* KwFake_DevicePath(int device) {
    return Answer<const char*>(nullptr, [&](DWORD&) -> const char* {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        TDevice* d = FindDevice(p, device);
        return d ? d->path.c_str() : nullptr;
    });
}

int KwFake_SendReport(int device, const void* report, DWORD size) {
    return Answer<int>(0, [&](DWORD& error) { return Send(device, report, size, true, error); });
}

int KwFake_SendBytes(int device, const void* bytes, DWORD size) {
    return Answer<int>(0, [&](DWORD& error) { return Send(device, bytes, size, false, error); });
}

BOOL KwFake_Unplug(int device) {
    return Answer<BOOL>(FALSE, [&](DWORD& error) -> BOOL {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        TDevice* d = FindDevice(p, device);
        if (!d || !d->present) {
            error = ERROR_DEVICE_NOT_CONNECTED;
            return FALSE;
        }
        d->present = false;
        for (auto& in : d->instances) {
            DisconnectNamedPipe(in->pipe.get());
            in->dead = true;
        }
        Sync(p, guard, *d);
        d->hold.reset();
        return TRUE;
    });
}

BOOL KwFake_Replug(int device) {
    return Answer<BOOL>(FALSE, [&](DWORD& error) -> BOOL {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        TDevice* d = FindDevice(p, device);
        if (!d || d->present) {
            error = ERROR_INVALID_PARAMETER;
            return FALSE;
        }
        d->present = true;
        if (d->access == kwfaQueryOnly && !OpenHold(*d)) {
            error = GetLastError();
            return FALSE;
        }
        Sync(p, guard, *d);
        return TRUE;
    });
}

DWORD KwFake_TakeWritten(int device, void* buffer, DWORD size, DWORD timeoutMs) {
    return Answer<DWORD>(0, [&](DWORD& error) -> DWORD {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        TDevice* d = FindDevice(p, device);
        if (!d) {
            error = ERROR_INVALID_PARAMETER;
            return 0;
        }
        p.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
            Service(*d);
            return d->written.size() >= size;
        });
        Poke(*d);
        const DWORD taken = static_cast<DWORD>(std::min<size_t>(size, d->written.size()));
        std::memcpy(buffer, d->written.data(), taken);
        d->written.erase(d->written.begin(), d->written.begin() + taken);
        return taken;
    });
}

BOOL KwFake_HoldWrites(int device, BOOL hold) {
    return Answer<BOOL>(FALSE, [&](DWORD& error) -> BOOL {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        TDevice* d = FindDevice(p, device);
        if (!d || !d->TakesWrites()) {
            error = ERROR_INVALID_PARAMETER;
            return FALSE;
        }
        d->holdWrites = hold != FALSE;
        if (!d->holdWrites)
            for (auto& in : d->instances) StartRead(*d, *in);
        Poke(*d);
        return TRUE;
    });
}

int KwFake_OpenHandleCount(int device) {
    return Answer<int>(-1, [&](DWORD&) -> int {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        TDevice* d = FindDevice(p, device);
        if (!d) return -1;
        const int count = OpenHandles(*d);
        Poke(*d);
        return count;
    });
}

BOOL KwFake_WaitOpenHandles(int device, int count, DWORD timeoutMs) {
    return Answer<BOOL>(FALSE, [&](DWORD&) -> BOOL {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        TDevice* d = FindDevice(p, device);
        if (!d) return FALSE;
        const bool reached = p.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                                [&] { return OpenHandles(*d) == count; });
        Poke(*d);
        return reached;
    });
}

int KwFake_PreparsedDataCount(void) {
    return Answer<int>(-1, [&](DWORD&) -> int {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        return static_cast<int>(p.preparsed.size());
    });
}

int KwFake_DeviceInfoSetCount(void) {
    return Answer<int>(-1, [&](DWORD&) -> int {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        return static_cast<int>(p.sets.size());
    });
}

int KwFake_CallCount(const char* entry) {
    return Answer<int>(0, [&](DWORD&) -> int {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        const auto found = p.calls.find(entry ? entry : "");
        return found == p.calls.end() ? 0 : found->second;
    });
}

void KwFake_FailEntry(const char* entry, DWORD error) {
    Answer<int>(0, [&](DWORD&) -> int {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if (error)
            p.failures[entry] = error;
        else
            p.failures.erase(entry);
        return 0;
    });
}

void KwFake_Reset(void) {
    Answer<int>(0, [&](DWORD&) -> int {
        TPlatform& p = Platform();
        std::vector<std::unique_ptr<TDevice>> old;
        {
            TGuard guard(p.lock);
            old.swap(p.devices);
            for (auto& d : old) {
                d->stop = true;
                Poke(*d);
            }
            p.preparsed.clear();
            p.sets.clear();
            p.calls.clear();
            p.failures.clear();
        }
        for (auto& d : old)
            if (d->worker) WaitForSingleObject(d->worker.get(), INFINITE);
        return 0;
    });
}

// ---- HID.DLL ----

void Fake_HidD_GetHidGuid(LPGUID hidGuid) {
    Answer<int>(0, [&](DWORD&) -> int {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if (Enter(p, "HidD_GetHidGuid")) return 0;
        *hidGuid = HidInterfaceGuid;
        return 0;
    });
}

BOOLEAN Fake_HidD_GetProductString(HANDLE device, PVOID buffer, ULONG length) {
    return HidString("HidD_GetProductString", &TDevice::product, device, buffer, length);
}

BOOLEAN Fake_HidD_GetManufacturerString(HANDLE device, PVOID buffer, ULONG length) {
    return HidString("HidD_GetManufacturerString", &TDevice::manufacturer, device, buffer, length);
}

BOOLEAN Fake_HidD_GetSerialNumberString(HANDLE device, PVOID buffer, ULONG length) {
    return HidString("HidD_GetSerialNumberString", &TDevice::serialNumber, device, buffer, length);
}

BOOLEAN Fake_HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData) {
    return Answer<BOOLEAN>(FALSE, [&](DWORD& error) -> BOOLEAN {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if ((error = Enter(p, "HidD_GetPreparsedData"))) return FALSE;
        TDevice* d = DeviceOfHandle(p, device, error);
        if (!d) return FALSE;
        if (d->flags & kwffNoPreparsedData) {
            error = ERROR_GEN_FAILURE;
            return FALSE;
        }
        auto data = std::make_unique<TPreparsed>();
        data->valid = !(d->flags & kwffBadPreparsedData);
        data->caps = d->caps;
        for (int t = 0; t < 3; ++t) {
            data->buttonCaps[t] = d->buttonCaps[t];
            data->valueCaps[t] = d->valueCaps[t];
        }
        *preparsedData = reinterpret_cast<PHIDP_PREPARSED_DATA>(data.get());
        p.preparsed.emplace(data.get(), std::move(data));
        return TRUE;
    });
}

BOOLEAN Fake_HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData) {
    return Answer<BOOLEAN>(FALSE, [&](DWORD& error) -> BOOLEAN {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if ((error = Enter(p, "HidD_FreePreparsedData"))) return FALSE;
        if (p.preparsed.erase(preparsedData) == 0) {
            error = ERROR_INVALID_PARAMETER;
            return FALSE;
        }
        return TRUE;
    });
}

BOOLEAN Fake_HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
    return Answer<BOOLEAN>(FALSE, [&](DWORD& error) -> BOOLEAN {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if ((error = Enter(p, "HidD_GetAttributes"))) return FALSE;
        TDevice* d = DeviceOfHandle(p, device, error);
        if (!d) return FALSE;
        if (d->flags & kwffNoAttributes) {
            error = ERROR_GEN_FAILURE;
            return FALSE;
        }
        attributes->VendorID = d->attributes.VendorID;
        attributes->ProductID = d->attributes.ProductID;
        attributes->VersionNumber = d->attributes.VersionNumber;
        return TRUE;
    });
}

NTSTATUS Fake_HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS caps) {
    return Answer<NTSTATUS>(HIDP_STATUS_INTERNAL_ERROR, [&](DWORD&) -> NTSTATUS {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if (DWORD failure = Enter(p, "HidP_GetCaps")) return static_cast<NTSTATUS>(failure);
        const TPreparsed* data = PreparsedOf(p, preparsedData);
        if (!data || !data->valid) return HIDP_STATUS_INVALID_PREPARSED_DATA;
        *caps = data->caps;
        return HIDP_STATUS_SUCCESS;
    });
}

NTSTATUS Fake_HidP_GetButtonCaps(HIDP_REPORT_TYPE type, PHIDP_BUTTON_CAPS caps, PUSHORT length,
                                 PHIDP_PREPARSED_DATA preparsedData) {
    return CapsQuery("HidP_GetButtonCaps", &TPreparsed::buttonCaps, type, caps, length, preparsedData);
}

NTSTATUS Fake_HidP_GetValueCaps(HIDP_REPORT_TYPE type, PHIDP_VALUE_CAPS caps, PUSHORT length,
                                PHIDP_PREPARSED_DATA preparsedData) {
    return CapsQuery("HidP_GetValueCaps", &TPreparsed::valueCaps, type, caps, length, preparsedData);
}

// ---- setupapi.dll ----

HDEVINFO Fake_SetupDiGetClassDevsA(const GUID* classGuid, PCSTR, HWND, DWORD flags) {
    return Answer<HDEVINFO>(INVALID_HANDLE_VALUE, [&](DWORD& error) -> HDEVINFO {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if ((error = Enter(p, "SetupDiGetClassDevsA"))) return INVALID_HANDLE_VALUE;
        const bool allClasses = flags & DIGCF_ALLCLASSES;
        if (!allClasses && !classGuid) {
            error = ERROR_INVALID_PARAMETER;
            return INVALID_HANDLE_VALUE;
        }
        // Every device is a HID device: of the HIDClass setup class, with one interface of
        // the HID interface class.
        const GUID& wanted = (flags & DIGCF_DEVICEINTERFACE) ? HidInterfaceGuid : HidSetupClassGuid;
        auto set = std::make_unique<TDeviceSet>();
        if (allClasses || SameGuid(*classGuid, wanted))
            for (auto& d : p.devices)
                if (d->present || !(flags & DIGCF_PRESENT)) set->ids.push_back(d->id);
        HDEVINFO handle = set.get();
        p.sets.emplace(handle, std::move(set));
        return handle;
    });
}

BOOL Fake_SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    return Answer<BOOL>(FALSE, [&](DWORD& error) -> BOOL {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if ((error = Enter(p, "SetupDiDestroyDeviceInfoList"))) return FALSE;
        if (p.sets.erase(set) == 0) {
            error = ERROR_INVALID_HANDLE;
            return FALSE;
        }
        return TRUE;
    });
}

BOOL Fake_SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data) {
    return Answer<BOOL>(FALSE, [&](DWORD& error) -> BOOL {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if ((error = Enter(p, "SetupDiEnumDeviceInfo"))) return FALSE;
        TDeviceSet* s = SetOf(p, set, error);
        if (!s) return FALSE;
        if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
            error = ERROR_INVALID_USER_BUFFER;
            return FALSE;
        }
        if (index >= s->ids.size()) {
            error = ERROR_NO_MORE_ITEMS;
            return FALSE;
        }
        TDevice* d = FindDevice(p, s->ids[index]);
        if (!d) {
            error = ERROR_NO_SUCH_DEVINST;
            return FALSE;
        }
        FillElement(*data, *d, index);
        return TRUE;
    });
}

BOOL Fake_SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, PDWORD type,
                                            PBYTE buffer, DWORD size, PDWORD required) {
    return Answer<BOOL>(FALSE, [&](DWORD& error) -> BOOL {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if ((error = Enter(p, "SetupDiGetDeviceRegistryPropertyA"))) return FALSE;
        TDeviceSet* s = SetOf(p, set, error);
        size_t index = 0;
        TDevice* d = s ? ElementOf(p, *s, data, index, error) : nullptr;
        if (!d) return FALSE;
        const TText* value = nullptr;
        switch (property) {
            case SPDRP_DEVICEDESC: value = &d->description; break;
            case SPDRP_SERVICE: value = &d->service; break;
            case SPDRP_DRIVER: value = &d->driverKey; break;
            case SPDRP_MFG: value = &d->mfg; break;
            case SPDRP_PHYSICAL_DEVICE_OBJECT_NAME: value = &d->physicalDeviceName; break;
            default: break;
        }
        if (!value || !*value) {
            error = ERROR_INVALID_DATA;
            return FALSE;
        }
        if (type) *type = REG_SZ;
        return CopyText(**value, reinterpret_cast<char*>(buffer), size, required, error);
    });
}

HKEY Fake_SetupDiOpenDevRegKey(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD, DWORD, DWORD keyType, REGSAM access) {
    return Answer<HKEY>(static_cast<HKEY>(INVALID_HANDLE_VALUE), [&](DWORD& error) -> HKEY {
        const HKEY none = static_cast<HKEY>(INVALID_HANDLE_VALUE);
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if ((error = Enter(p, "SetupDiOpenDevRegKey"))) return none;
        TDeviceSet* s = SetOf(p, set, error);
        size_t index = 0;
        TDevice* d = s ? ElementOf(p, *s, data, index, error) : nullptr;
        if (!d) return none;
        if (keyType != DIREG_DEV) {
            error = ERROR_INVALID_FLAGS;
            return none;
        }
        if (d->flags & kwffNoRegistryKey) {
            error = ERROR_KEY_DOES_NOT_EXIST;
            return none;
        }
        // A real key of the prefix, so that its path and values read as a device's do.
        const std::string path = "SYSTEM\\CurrentControlSet\\Enum\\" + d->instanceId + "\\Device Parameters";
        TUniqueRegKey key;
        LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                      key.put(), nullptr);
        if (status != ERROR_SUCCESS) {
            error = static_cast<DWORD>(status);
            return none;
        }
        const std::pair<const char*, const TText*> values[] = {{"SymbolicName", &d->symbolicName},
                                                               {"PortName", &d->portName}};
        for (const auto& [name, value] : values) {
            if (*value)
                RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>((*value)->c_str()),
                               static_cast<DWORD>((*value)->size() + 1));
            else
                RegDeleteValueA(key.get(), name);
        }
        HKEY opened = nullptr;
        status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &opened);
        if (status != ERROR_SUCCESS) {
            error = static_cast<DWORD>(status);
            return none;
        }
        return opened;
    });
}

BOOL Fake_SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA data, const GUID* interfaceGuid, DWORD index,
                                      PSP_DEVICE_INTERFACE_DATA interfaceData) {
    return Answer<BOOL>(FALSE, [&](DWORD& error) -> BOOL {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if ((error = Enter(p, "SetupDiEnumDeviceInterfaces"))) return FALSE;
        TDeviceSet* s = SetOf(p, set, error);
        if (!s) return FALSE;
        if (!interfaceGuid) {
            error = ERROR_INVALID_PARAMETER;
            return FALSE;
        }
        if (!interfaceData || interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
            error = ERROR_INVALID_USER_BUFFER;
            return FALSE;
        }
        size_t element = index;
        TDevice* d = nullptr;
        if (data) {
            // One interface per device.
            d = ElementOf(p, *s, data, element, error);
            if (!d) return FALSE;
            if (index > 0) d = nullptr;
        } else if (index < s->ids.size()) {
            d = FindDevice(p, s->ids[index]);
        }
        if (!d || !SameGuid(*interfaceGuid, HidInterfaceGuid)) {
            error = ERROR_NO_MORE_ITEMS;
            return FALSE;
        }
        interfaceData->InterfaceClassGuid = HidInterfaceGuid;
        interfaceData->Flags = d->present ? SPINT_ACTIVE : 0;
        interfaceData->Reserved = element + 1;
        return TRUE;
    });
}

BOOL Fake_SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                           PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD required,
                                           PSP_DEVINFO_DATA data) {
    return Answer<BOOL>(FALSE, [&](DWORD& error) -> BOOL {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if ((error = Enter(p, "SetupDiGetDeviceInterfaceDetailA"))) return FALSE;
        TDeviceSet* s = SetOf(p, set, error);
        if (!s) return FALSE;
        if (!interfaceData) {
            error = ERROR_INVALID_PARAMETER;
            return FALSE;
        }
        if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || interfaceData->Reserved == 0 ||
            interfaceData->Reserved > s->ids.size()) {
            error = ERROR_INVALID_USER_BUFFER;
            return FALSE;
        }
        const size_t index = interfaceData->Reserved - 1;
        TDevice* d = FindDevice(p, s->ids[index]);
        if (!d) {
            error = ERROR_NO_SUCH_DEVINST;
            return FALSE;
        }
        const DWORD need = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                              d->path.size() + 1);
        if (required) *required = d->detailSize ? d->detailSize : need;
        // The element is filled in also when only the size is asked for.
        if (data) {
            if (data->cbSize != sizeof(SP_DEVINFO_DATA)) {
                error = ERROR_INVALID_USER_BUFFER;
                return FALSE;
            }
            FillElement(*data, *d, index);
        }
        if (!detail) {
            error = size ? ERROR_INVALID_USER_BUFFER : ERROR_INSUFFICIENT_BUFFER;
            return FALSE;
        }
        if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            error = ERROR_INVALID_USER_BUFFER;
            return FALSE;
        }
        if (size < need) {
            error = ERROR_INSUFFICIENT_BUFFER;
            return FALSE;
        }
        std::memcpy(detail->DevicePath, d->path.c_str(), d->path.size() + 1);
        return TRUE;
    });
}

BOOL Fake_SetupDiGetDeviceInstanceIdA(HDEVINFO set, PSP_DEVINFO_DATA data, PSTR buffer, DWORD size,
                                      PDWORD required) {
    return Answer<BOOL>(FALSE, [&](DWORD& error) -> BOOL {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if ((error = Enter(p, "SetupDiGetDeviceInstanceIdA"))) return FALSE;
        TDeviceSet* s = SetOf(p, set, error);
        size_t index = 0;
        TDevice* d = s ? ElementOf(p, *s, data, index, error) : nullptr;
        if (!d) return FALSE;
        return CopyText(d->instanceId, buffer, size, required, error);
    });
}

HDEVINFO Fake_SetupDiCreateDeviceInfoList(const GUID*, HWND) {
    return NotImplemented<HDEVINFO>("SetupDiCreateDeviceInfoList", INVALID_HANDLE_VALUE);
}
BOOL Fake_SetupDiCreateDeviceInfoA(HDEVINFO, PCSTR, const GUID*, PCSTR, HWND, DWORD, PSP_DEVINFO_DATA) {
    return NotImplemented<BOOL>("SetupDiCreateDeviceInfoA", FALSE);
}
BOOL Fake_SetupDiGetINFClassA(PCSTR, LPGUID, PSTR, DWORD, PDWORD) {
    return NotImplemented<BOOL>("SetupDiGetINFClassA", FALSE);
}
BOOL Fake_SetupDiSetDeviceRegistryPropertyA(HDEVINFO, PSP_DEVINFO_DATA, DWORD, const BYTE*, DWORD) {
    return NotImplemented<BOOL>("SetupDiSetDeviceRegistryPropertyA", FALSE);
}
BOOL Fake_SetupDiCallClassInstaller(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA) {
    return NotImplemented<BOOL>("SetupDiCallClassInstaller", FALSE);
}
BOOL Fake_SetupDiRemoveDevice(HDEVINFO, PSP_DEVINFO_DATA) {
    return NotImplemented<BOOL>("SetupDiRemoveDevice", FALSE);
}
BOOL Fake_SetupDiUnremoveDevice(HDEVINFO, PSP_DEVINFO_DATA) {
    return NotImplemented<BOOL>("SetupDiUnremoveDevice", FALSE);
}
BOOL Fake_SetupDiOpenDeviceInfoA(HDEVINFO, PCSTR, HWND, DWORD, PSP_DEVINFO_DATA) {
    return NotImplemented<BOOL>("SetupDiOpenDeviceInfoA", FALSE);
}

// ---- cfgmgr32.dll ----

CONFIGRET Fake_CM_Locate_DevNodeA(PDEVINST devInst, DEVINSTID_A deviceId, ULONG) {
    return Answer<CONFIGRET>(CR_FAILURE, [&](DWORD&) -> CONFIGRET {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if (DWORD failure = Enter(p, "CM_Locate_DevNodeA")) return failure;
        if (!devInst) return CR_INVALID_POINTER;
        TDevice* d = DeviceOfInstanceId(p, deviceId);
        if (!d) return CR_NO_SUCH_DEVNODE;
        *devInst = d->devNode;
        return CR_SUCCESS;
    });
}

CONFIGRET Fake_CM_Get_Device_ID_List_SizeA(PULONG length, PCSTR filter, ULONG flags) {
    return Answer<CONFIGRET>(CR_FAILURE, [&](DWORD&) -> CONFIGRET {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if (DWORD failure = Enter(p, "CM_Get_Device_ID_List_SizeA")) return failure;
        if (!length) return CR_INVALID_POINTER;
        *length = 0;
        std::string list;
        const CONFIGRET result = IdList(p, filter, flags, list);
        if (result == CR_SUCCESS) *length = static_cast<ULONG>(list.size());
        return result;
    });
}

CONFIGRET Fake_CM_Get_Device_ID_ListA(PCSTR filter, PCHAR buffer, ULONG length, ULONG flags) {
    return Answer<CONFIGRET>(CR_FAILURE, [&](DWORD&) -> CONFIGRET {
        TPlatform& p = Platform();
        TGuard guard(p.lock);
        if (DWORD failure = Enter(p, "CM_Get_Device_ID_ListA")) return failure;
        if (!buffer) return CR_INVALID_POINTER;
        std::string list;
        const CONFIGRET result = IdList(p, filter, flags, list);
        if (result != CR_SUCCESS) return result;
        if (length < list.size()) return CR_BUFFER_SMALL;
        std::memcpy(buffer, list.data(), list.size());
        return CR_SUCCESS;
    });
}

CONFIGRET Fake_CM_Get_DevNode_Registry_PropertyA(DEVINST, ULONG, PULONG, PVOID, PULONG, ULONG) {
    return CmNotImplemented("CM_Get_DevNode_Registry_PropertyA");
}
CONFIGRET Fake_CM_Get_Parent(PDEVINST, DEVINST, ULONG) { return CmNotImplemented("CM_Get_Parent"); }
CONFIGRET Fake_CM_Get_Child(PDEVINST, DEVINST, ULONG) { return CmNotImplemented("CM_Get_Child"); }
CONFIGRET Fake_CM_Get_Sibling(PDEVINST, DEVINST, ULONG) { return CmNotImplemented("CM_Get_Sibling"); }
CONFIGRET Fake_CM_Request_Device_EjectA(DEVINST, PPNP_VETO_TYPE, LPSTR, ULONG, ULONG) {
    return CmNotImplemented("CM_Request_Device_EjectA");
}

// ---- installation ----

BOOL KwFake_Install(const char* library, const char* variant) {
    return Answer<BOOL>(FALSE, [&](DWORD& error) -> BOOL {
        const char* const known[] = {"hid", "setupapi", "cfgmgr32"};
        if (!library || std::none_of(std::begin(known), std::end(known),
                                     [&](const char* name) { return std::strcmp(name, library) == 0; })) {
            error = ERROR_INVALID_PARAMETER;
            return FALSE;
        }
        // Only a prefix of our own: the shared one serves other programs at the same time.
        if (!InPrivatePrefix()) {
            error = ERROR_ACCESS_DENIED;
            return FALSE;
        }
        const std::string file = std::string(library) + ".dll";
        if (GetModuleHandleA(file.c_str())) {
            error = ERROR_BUSY;
            return FALSE;
        }
        char system[MAX_PATH];
        const UINT length = GetSystemDirectoryA(system, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            error = ERROR_PATH_NOT_FOUND;
            return FALSE;
        }
        const std::string target = std::string(system) + "\\" + file;
        // The prefix's files are hard links into its template: replaced, never written into.
        if (!DeleteFileA(target.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
            error = GetLastError();
            return FALSE;
        }
        if (variant && std::strcmp(variant, "missing") == 0) return TRUE;
        std::string source = LibrariesFolder() + "\\" + library;
        if (variant && *variant) source += std::string("-") + variant;
        source += ".dll";
        if (!CopyFileA(source.c_str(), target.c_str(), TRUE)) {
            error = GetLastError();
            return FALSE;
        }
        return TRUE;
    });
}

BOOL KwFake_InstallAll(void) {
    return KwFake_Install("hid", nullptr) && KwFake_Install("setupapi", nullptr) &&
           KwFake_Install("cfgmgr32", nullptr);
}

}  // extern "C"
