#include "hid/kwhid.h"

#include <algorithm>
#include <memory>

#include "engine/hidprocessor.h"
#include "hid/kwhidw32.h"
#include "hid/kwwin32di_enum.h"
#include "iocore/kwlogfile.h"
#include "rtl/files.h"
#include "rtl/shellfolders.h"
#include "rtl/win32/module.h"
#include "util/kwwin32.h"

GUID HidClassGuid{};

namespace {
// The log the user turned on (UserLogLevel), shared by the engine's ports: opened for the
// first of them, closed with the last on the thread that frees it, never while the
// library unloads. It goes beside the settings file, named after the plug-in's own file.
std::shared_ptr<TkwFileLog> EngineLog() noexcept {
    try {
        // Never destroyed: the library's finalisation has no business with it.
        static auto* shared = new std::weak_ptr<TkwFileLog>;
        if (std::shared_ptr<TkwFileLog> log = shared->lock()) return log;
        const int level = UserLogLevel();
        if (level < 0) return nullptr;
        char module[MAX_PATH];
        const DWORD length = GetModuleFileNameA(ThisModule(), module, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return nullptr;
        std::string name(module, length);
        name.erase(0, name.find_last_of("\\/:") + 1);
        name = name.substr(0, name.rfind('.')) + ".log";
        const std::string folder = SpecialFolderPath(CSIDL_LOCAL_APPDATA_ID) + SettingsFolderName;
        ForceDirectories(folder);
        auto log = std::make_shared<TkwFileLog>(nullptr);
        log->MaxLevel = level;
        if (!log->Open(folder + "\\" + name)) return nullptr;
        log->AddFmt(1, "log opened: %s %s, process %lu, level %d", module, GetVersionText(module).c_str(),
                    static_cast<unsigned long>(GetCurrentProcessId()), level);
        *shared = log;
        return log;
    } catch (...) {
        // Without its log the port works all the same.
        return nullptr;
    }
}

// A port of the engine: carries the user's log when it is on.
class TkwEngineHid final : public TkwHid {
public:
    TkwEngineHid() : TkwHid(nullptr), log_(EngineLog()) {
        if (log_) SetLog(log_.get());
    }
    ~TkwEngineHid() override {
        // Here, not in the base: the lines of the close still reach the log, and the
        // reader is gone before the log may go.
        if (IsOpen()) Close();
        WaitForReader();
    }

private:
    std::shared_ptr<TkwFileLog> log_;
};
}  // namespace

void UseHidPortsForEngine() {
    SetHidPortFactory([] { return std::unique_ptr<IHidPort>(std::make_unique<TkwEngineHid>()); });
}

// --- the HID port

TkwHid::TkwHid(TComponent* owner)
    : TkwBaseIO(owner), ReadEvent(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    LogPrefix = "kwHID: ";
}

void TPreparsedDataTraits::Close(pointer data) noexcept { kwhidw32::HidD_FreePreparsedData(data); }

TkwHid::~TkwHid() {
    if (IsOpen()) Close();
    // A reader that is closing the port itself after a failed read still uses the
    // buffers and ReadEvent.
    WaitForReader();
    FreeReportBuffers();
}

void TkwHid::SetDeviceIndex(int value) {
    deviceIndex_ = value;
    Device = value < 0 ? nullptr : static_cast<TkwHidDevice*>(Devices(value));
    TkwBaseIO::SetDeviceIndex(value);
}

void TkwHid::DeviceListRefresh() {
    if (ListLoading) return;
    DeviceListLoad();
    TkwBaseIO::DeviceListRefresh();
}

HANDLE TkwHid::OpenDeviceFile(const std::string& path, bool read, bool write, bool shared, bool overlapped) {
    const DWORD access = (read ? GENERIC_READ : 0) | (write ? GENERIC_WRITE : 0);
    const DWORD share = shared ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
    return CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0,
                       nullptr);
}

namespace {
// The system's text for an error, without trailing blanks, line ends and full stops.
std::string OpenErrorText(DWORD error) {
    char buffer[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, buffer,
                   sizeof buffer - 1, nullptr);
    std::string text(buffer);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.')) text.pop_back();
    return text;
}
}  // namespace

HANDLE TkwHid::OpenHandle() {
    if (!Device) {
        FatalError(16, 2, "Active device is not selected");
        return INVALID_HANDLE_VALUE;
    }
    WriteLogFmt(1, "try to open device %s", Device->DevicePath.c_str());
    static constexpr bool attempts[4][2] = {{true, true}, {true, false}, {false, true}, {false, false}};
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (const auto& attempt : attempts) {
        ReadAccess = attempt[0];
        WriteAccess = attempt[1];
        handle = OpenDeviceFile(Device->DevicePath, ReadAccess, WriteAccess, SharedMode, true);
        if (handle != INVALID_HANDLE_VALUE) break;
    }
    TUniqueFile file(handle);
    if (!file) {
        const DWORD error = GetLastError();
        FatalError(16, error, OpenErrorText(error));
        return INVALID_HANDLE_VALUE;
    }
    // Both stay ours until the open has succeeded as a whole: the buffers or the log may raise.
    TUniquePreparsedData preparsed;
    if (!kwhidw32::HidD_GetPreparsedData(file.get(), preparsed.put())) preparsed.reset();
    AllocReportBuffers();
    UseThread = ReadAccess;
    WriteLogFmt(1, "device has opened %s R:%d W:%d in:%u out:%u", Device->DevicePath.c_str(), ReadAccess ? 1 : 0,
                WriteAccess ? 1 : 0, InputLength, OutputLength);
    openPreparsedData_ = std::move(preparsed);
    return file.release();
}

namespace {
class TExclusive {
public:
    explicit TExclusive(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~TExclusive() { ReleaseSRWLockExclusive(&lock_); }
    TExclusive(const TExclusive&) = delete;
    TExclusive& operator=(const TExclusive&) = delete;

private:
    SRWLOCK& lock_;
};

// Waits, without cancelling, until an operation the record may still carry has ended.
void WaitForEnd(HANDLE file, OVERLAPPED& overlapped) {
    while (!HasOverlappedIoCompleted(&overlapped)) {
        DWORD transferred = 0;
        if (!GetOverlappedResult(file, &overlapped, &transferred, TRUE) && GetLastError() != ERROR_IO_INCOMPLETE)
            break;
    }
}
}  // namespace

void TkwHid::ReleaseHandle(HANDLE handle) {
    {
        TExclusive writing(writeLock_);
        // A send left running ends before the handle and its bytes go.
        EndPendingIo(handle, SendOverlapped);
        TkwBaseIO::ReleaseHandle(handle);
    }
    openPreparsedData_.reset();
}

void TkwHid::Close() {
    WriteLog(1, "close device.");
    // The stop request first, so that the woken thread takes its failed wait for a stop.
    ThreadStop = true;
    PulseEvent(ReadEvent.get());
    TkwBaseIO::Close();
}

bool TkwHid::ReadReport(HANDLE handle, OVERLAPPED& overlapped) {
    overlapped.Internal = overlapped.InternalHigh = 0;
    overlapped.Offset = overlapped.OffsetHigh = 0;
    bool done = ReadFile(handle, InputBuffer.data(), InputLength, nullptr, &overlapped);
    if (!done && GetLastError() == ERROR_IO_PENDING) {
        // A stop request raised before the read started found no read to cancel; from
        // here on the closing thread's cancellation reaches it.
        if (!ThreadStop) {
            DWORD transferred = 0;
            // Woken also by the pulse of ReadEvent, with the read still pending.
            done = GetOverlappedResult(handle, &overlapped, &transferred, TRUE) &&
                   HasOverlappedIoCompleted(&overlapped);
        }
        // The buffer and the record are the system's until the read has ended.
        EndPendingIo(handle, overlapped);
    }
    if (ThreadStop) return false;
    if (done) return true;
    // The device was removed or the handle went bad: close from here, without
    // waiting for this very thread.
    UseThread = false;
    AtSeam(this, TkwIoPoint::ReadFailed);
    Close();
    return false;
}

void TkwHid::ThreadExecute(TkwThreadIO* thread) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = ReadEvent.get();
    const HANDLE handle = thread->Medium;
    WriteLogFmt(2, "Start monitoring thread ... InRepLen= %u", InputLength);
    try {
        while (!ThreadStop) {
            AtSeam(this, TkwIoPoint::BeforeRead);
            std::fill(InputBuffer.begin(), InputBuffer.end(), 0);
            if (!ReadReport(handle, overlapped)) break;
            DoReceive(InputBuffer.data(), InputLength);
        }
    } catch (...) {
        // From delivery: the read had ended.
        ThreadStop = true;
        WriteLog(2, "... exit monitoring thread.");
        throw;
    }
    ThreadStop = true;
    WriteLog(2, "... exit monitoring thread.");
}

void TkwHid::DoReceive(const void* buffer, uint32_t count) {
    WriteLogFmt(2, "Do input data [%u] bytes ", count);
    if (HasReceivers()) TkwBaseIO::DoReceive(buffer, count);
}

void TkwHid::SendChar(char c) { WriteData(&c, 1); }

void TkwHid::SendString(const std::string& s) {
    if (!s.empty()) WriteData(s.data(), static_cast<DWORD>(s.size()));
}

bool TkwHid::SendBuffer(const void* buffer, int count) {
    if (count < 0) return false;
    TExclusive writing(writeLock_);
    const HANDLE handle = Handle();
    if (handle == INVALID_HANDLE_VALUE) return false;
    // The record and the bytes of the last send stay the system's until it has ended.
    WaitForEnd(handle, SendOverlapped);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    sendBuffer_.assign(bytes, bytes + count);
    return OverlappedWriteNoWait(handle, sendBuffer_.data(), static_cast<DWORD>(count), SendOverlapped);
}

bool TkwHid::WriteData(const void* buffer, DWORD count) {
    TExclusive writing(writeLock_);
    const HANDLE handle = Handle();
    if (handle == INVALID_HANDLE_VALUE) return false;
    if (OverlappedWrite(handle, buffer, count, WriteOverlapped)) return true;
    // A write still running uses the caller's bytes: it ends before this returns.
    EndPendingIo(handle, WriteOverlapped);
    return false;
}

void TkwHid::AllocReportBuffers() {
    FreeReportBuffers();
    OutputLength = Device->Caps.OutputReportByteLength;
    InputLength = Device->Caps.InputReportByteLength;
    FeatureLength = Device->Caps.FeatureReportByteLength;
    InputBuffer.assign(InputLength, 0);
    OutputBuffer.assign(OutputLength, 0);
    FeatureBuffer.assign(FeatureLength, 0);
}

void TkwHid::FreeReportBuffers() {
    std::vector<uint8_t>().swap(InputBuffer);
    std::vector<uint8_t>().swap(OutputBuffer);
    std::vector<uint8_t>().swap(FeatureBuffer);
}

// --- the device list

bool TkwHid::LoadDeviceInfo(TkwHidDevice* record) {
    // Query access only: the probe reads strings and capabilities, never reports.
    TUniqueFile file(OpenDeviceFile(record->DevicePath, false, false, true, false));
    if (!file) {
        WriteLogFmt(2, "Open device FAILED %s ", record->DevicePath.c_str());
        return false;
    }
    WriteLogFmt(2, "Open device OK %s ", record->DevicePath.c_str());
    record->Name = kwhidw32::GetHidString(file.get(), "HidD_GetProductString");
    record->Manufacturer = kwhidw32::GetHidString(file.get(), "HidD_GetManufacturerString");
    record->SerialNumber = kwhidw32::GetHidString(file.get(), "HidD_GetSerialNumberString");
    if (record->Name.empty()) record->Name = record->Description;

    bool loaded = false;
    if (!kwhidw32::HidD_GetPreparsedData(file.get(), &record->PreparsedData) || !record->PreparsedData) {
        record->PreparsedData = nullptr;
        WriteLog(2, "ERROR: dev.fPpd = 0 ");
    } else if (!kwhidw32::HidD_GetAttributes(file.get(), &record->Attributes)) {
        WriteLog(2, "ERROR: not HidD_GetAttributes");
    } else if (kwhidw32::HidP_GetCaps(record->PreparsedData, &record->Caps) != HIDP_STATUS_SUCCESS) {
        WriteLog(2, "ERROR: HidP_GetCaps() <> HIDP_STATUS_SUCCESS");
    } else {
        const HIDP_CAPS& caps = record->Caps;
        auto buttons = [&](std::vector<HIDP_BUTTON_CAPS>& array, USHORT count, HIDP_REPORT_TYPE type) {
            if (count == 0) return;
            array.assign(count, HIDP_BUTTON_CAPS{});
            USHORT length = count;
            kwhidw32::HidP_GetButtonCaps(type, array.data(), &length, record->PreparsedData);
        };
        auto values = [&](std::vector<HIDP_VALUE_CAPS>& array, USHORT count, HIDP_REPORT_TYPE type) {
            if (count == 0) return;
            array.assign(count, HIDP_VALUE_CAPS{});
            USHORT length = count;
            kwhidw32::HidP_GetValueCaps(type, array.data(), &length, record->PreparsedData);
        };
        buttons(record->InputButtonCaps, caps.NumberInputButtonCaps, HidP_Input);
        values(record->InputValueCaps, caps.NumberInputValueCaps, HidP_Input);
        buttons(record->OutputButtonCaps, caps.NumberOutputButtonCaps, HidP_Output);
        values(record->OutputValueCaps, caps.NumberOutputValueCaps, HidP_Output);
        buttons(record->FeatureButtonCaps, caps.NumberFeatureButtonCaps, HidP_Feature);
        values(record->FeatureValueCaps, caps.NumberFeatureValueCaps, HidP_Feature);
        loaded = true;
    }
    if (record->PreparsedData) {
        kwhidw32::HidD_FreePreparsedData(record->PreparsedData);
        record->PreparsedData = nullptr;
    }
    return loaded;
}

void TkwHid::DeviceListLoad() {
    if (ListLoading) return;
    WriteLog(1, "DeviceListLoad ...");
    ListLoading = true;
    struct TLoadingFlag {
        bool& flag;
        ~TLoadingFlag() { flag = false; }
    } loading{ListLoading};

    // The selection goes before the records it points into.
    Device = nullptr;
    DeviceListClear();
    const int remembered = GetDeviceIndex();
    kwhidw32::HidD_GetHidGuid(&HidClassGuid);

    kwwin32di::TDeviceRecords found;
    struct TRecordsOwner {
        kwwin32di::TDeviceRecords& records;
        ~TRecordsOwner() {
            for (auto& entry : records) delete entry.second;
        }
    } owner{found};
    kwwin32di::DiEnumInstalledDevices(&HidClassGuid, true, true, true, found);
    if (found.empty()) {
        WriteLog(2, "DiEnumInstalledDevices() returns 0, trying enum interfaces only ...");
        kwwin32di::DiEnumInstalledDevices(&HidClassGuid, true, false, true, found);
    }
    WriteLogFmt(2, "Get detail info for device (intf) list: %u ", static_cast<unsigned>(found.size()));
    for (auto& entry : found) {
        auto record = std::make_unique<TkwHidDevice>(entry.second);
        if (LoadDeviceInfo(record.get())) {
            WriteLogFmt(2, "Load device info: %s  OK!", record->Name.c_str());
            AddDevice(record.release());
        } else {
            WriteLogFmt(2, "Load device info: %s  FAILED!", record->Name.c_str());
        }
    }
    if (remembered >= 0 && remembered < TkwBaseIO::DeviceCount()) SetDeviceIndex(remembered);
    WriteLogFmt(1, "Detected devices: %u ", static_cast<unsigned>(TkwBaseIO::DeviceCount()));
}
