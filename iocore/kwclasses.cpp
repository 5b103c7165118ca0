#include "iocore/kwclasses.h"

#include <dbt.h>

#include "rtl/exception.h"
#include "rtl/format.h"

// --- log and data processor

void TkwCustomLogFile::AddFmt(int level, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    try {
        AddFmtV(level, fmt, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
}

void TkwCustomLogFile::AddFmtV(int level, const char* fmt, va_list args) { Add(level, FormatV(fmt, args)); }

namespace {
// What ports and processors hand their log: their prefix, then the line, unless the log
// drops the level; then nothing is prefixed or formatted.
void LogLine(TkwCustomLogFile* log, int level, const std::string& prefix, const std::string& text) {
    if (log && log->Accepts(level)) log->Add(level, prefix + text);
}

void LogLineV(TkwCustomLogFile* log, int level, const std::string& prefix, const char* fmt, va_list args) {
    // The prefix becomes part of the format text.
    if (log && log->Accepts(level)) log->AddFmtV(level, (prefix + fmt).c_str(), args);
}
}  // namespace

TkwCustomDataProcessor::TkwCustomDataProcessor(TComponent* owner)
    : TComponent(owner), Timer(std::make_unique<TkwTimer>()) {
    Timer->SetEnabled(false);
    Timer->SetOnTimer(TNotifyEvent::Bind<&TkwCustomDataProcessor::TimerTick>(this));
}

TkwCustomDataProcessor::~TkwCustomDataProcessor() {
    // The port's removal notification comes only after this class is gone.
    SetPort(nullptr);
    Timer.reset();
}

void TkwCustomDataProcessor::PortNotify(TObject* /*sender*/, int event) {
    if (event == NotifyMediumClosed)
        MediumClosed();
    else if (event == NotifyMediumOpened)
        MediumOpened();
}

void TkwCustomDataProcessor::MediumClosed() { WriteLog(2, "Medium Closed"); }

void TkwCustomDataProcessor::MediumOpened() { WriteLog(2, "Medium Opened"); }

void TkwCustomDataProcessor::SetNextProcessor(TkwCustomDataProcessor* processor) {
    if (processor == this) return;
    NextProcessor = processor;
    if (!processor) return;
    processor->FreeNotification(this);
    processor->SetPort(Port);
}

void TkwCustomDataProcessor::SetPort(TkwBaseIO* port) {
    if (Port && Port != port) Port->RemoveNotify(Listener());
    Port = port;
    if (!port) return;
    port->FreeNotification(this);
    port->AddNotify(Listener());
}

void TkwCustomDataProcessor::DoDataSend(void* buffer, uint32_t count) {
    if (count == 0 || !buffer) return;
    try {
        bool handled = false;
        if (OnDataSend) OnDataSend(this, buffer, count, false, handled);
        if (handled) {
            Timer->SetEnabled(false);
            Timer->SetEnabled(true);
        } else if (Port) {
            Port->SendBuffer(buffer, static_cast<int>(count));
        }
        WriteLogFmt(2, "DoDataSend: %u bytes", count);
    } catch (...) {
    }
}

void TkwCustomDataProcessor::DoStringSend(std::string s) {
    // s is a copy of its own: what the handler changes in place is what goes out.
    if (s.empty()) return;
    try {
        bool handled = false;
        if (OnDataSend) OnDataSend(this, s.data(), static_cast<uint32_t>(s.size()), true, handled);
        if (!handled && Port) Port->SendString(s);
    } catch (...) {
    }
}

void TkwCustomDataProcessor::DoTimeout() {
    Timer->SetEnabled(false);
    bool flag = false;
    CheckState(flag);
}

void TkwCustomDataProcessor::TimerTick(TObject* /*sender*/) { DoTimeout(); }

void TkwCustomDataProcessor::SetTimeout(uint32_t milliseconds) {
    Timer->SetEnabled(false);
    if (milliseconds == 0) return;
    Timer->Interval = milliseconds;
    Timer->SetEnabled(true);
}

void TkwCustomDataProcessor::FatalError(uint32_t code, uint32_t param, const std::string& text) {
    if (TkwCustomLogFile* log = log_.load()) log->AddFmt(0, "Fatal Error: %u, %u, %s", code, param, text.c_str());
    throw Exception(text);
}

void TkwCustomDataProcessor::DoDataReceive(const void* buffer, uint32_t count, TReceiveFlags& flags) {
    if (NextProcessor) NextProcessor->DoDataReceive(buffer, count, flags);
}

void TkwCustomDataProcessor::DataReceive(const void* buffer, uint32_t count) {
    TReceiveFlags flags = 0;
    DoDataReceive(buffer, count, flags);
}

void TkwCustomDataProcessor::CheckState(bool& /*flag*/) {}

void TkwCustomDataProcessor::WriteLog(int level, const std::string& text) {
    LogLine(log_.load(), level, LogPrefix, text);
}

void TkwCustomDataProcessor::WriteLogFmt(int level, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    try {
        LogLineV(log_.load(), level, LogPrefix, fmt, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
}

void TkwCustomDataProcessor::SetLog(TkwCustomLogFile* log) {
    log_.store(log);
    if (log) log->FreeNotification(this);
}

void TkwCustomDataProcessor::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation != TOperation::opRemove) return;
    if (component == NextProcessor) SetNextProcessor(nullptr);
    // The port's listener list goes with the port: nothing to unregister.
    if (component == Port) Port = nullptr;
    if (component == log_.load()) log_.store(nullptr);
}

// --- listeners

int TkwNotifyList::Add(const TPortNotifyEvent& listener) {
    auto cell = std::make_unique<TPortNotifyEvent>(listener);
    const int index = TList::Add(cell.get());
    cell.release();
    return index;
}

void TkwNotifyList::Delete(int index) {
    TPortNotifyEvent* cell = Items(index);
    TList::Delete(index);
    delete cell;
}

void TkwNotifyList::Clear() {
    while (Count() > 0) Delete(0);
    TList::Clear();
}

int TkwNotifyList::IndexOf(const TPortNotifyEvent& listener) const {
    for (int i = 0; i < Count(); ++i)
        if (*Items(i) == listener) return i;
    return -1;
}

void TkwNotifyList::NotifyAll(TObject* sender, int event) {
    const int count = Count();
    for (int i = 0; i < count && i < Count(); ++i) {
        const TPortNotifyEvent listener = *Items(i);
        listener(sender, event);
    }
}

// --- reader thread

TkwThreadIO::~TkwThreadIO() {
    // The body uses this object: it must have ended before the object goes.
    Terminate();
    WaitFor();
}

void TkwThreadIO::Execute() {
    Port->readerThreadId_.store(GetCurrentThreadId());
    try {
        Port->ThreadExecute(this);
    } catch (...) {
        // An escaping error ends the thread quietly; the port stays open.
    }
}

// --- port

namespace {
void ShowLoadErrorBox() { MessageBoxA(GetForegroundWindow(), "error", "Error", MB_OK | MB_ICONERROR); }
}  // namespace

void (*TkwBaseIO::ShowLoadError)() = &ShowLoadErrorBox;
TkwIoSeam TkwBaseIO::Seam = nullptr;
BOOL(WINAPI* TkwBaseIO::CancelPendingIo)(HANDLE, LPOVERLAPPED) = &CancelIoEx;

void TkwBaseIO::EndPendingIo(HANDLE file, OVERLAPPED& overlapped) noexcept {
    if (HasOverlappedIoCompleted(&overlapped)) return;
    CancelPendingIo(file, &overlapped);
    // No time limit: until the system is done, the buffer and the record are still its own.
    while (!HasOverlappedIoCompleted(&overlapped)) {
        if (overlapped.hEvent) {
            WaitForSingleObject(overlapped.hEvent, INFINITE);
        } else {
            DWORD transferred = 0;
            GetOverlappedResult(file, &overlapped, &transferred, TRUE);
        }
    }
}

TkwBaseIO::TkwBaseIO(TComponent* owner)
    : TComponent(owner),
      NotifyList(std::make_unique<TkwNotifyList>()),
      LogPrefix("TkwBaseIO"),
      readEvent_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      writeEvent_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      sendEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    ReadOverlapped.hEvent = readEvent_.get();
    WriteOverlapped.hEvent = writeEvent_.get();
    SendOverlapped.hEvent = sendEvent_.get();
}

TkwBaseIO::~TkwBaseIO() {
    // Before any wait that serves messages: a key typed meanwhile would reach a port
    // whose class is gone.
    SetTerminal(nullptr);
    // A port class closes itself first; a reader thread that ended on its own
    // after a read failure is reclaimed here.
    WaitForReader();
    DeviceListClear();
}

bool TkwBaseIO::IsOpen() const { return handle_.load() != INVALID_HANDLE_VALUE; }

HANDLE TkwBaseIO::OpenHandle() { return INVALID_HANDLE_VALUE; }

void TkwBaseIO::ReleaseHandle(HANDLE handle) { TUniqueFile closing(handle); }

bool TkwBaseIO::HasReceivers() const { return Terminal() || OnAfterReceive || DataProcessor(); }

void TkwBaseIO::Open() {
    // The reader of the last open period may still be closing the port after a failed
    // read; it must be gone before a new open reuses what it reaches.
    WaitForReader();
    handle_.store(OpenHandle());
    if (!IsOpen()) return;
    if (UseThread) StartThread();
    if (OnOpen) {
        try {
            OnOpen(this);
        } catch (...) {
        }
    }
}

void TkwBaseIO::Close() {
    // Taken in one step, so that a close on the reader thread (after a read failure)
    // and one on any other thread release the handle exactly once.
    const HANDLE handle = handle_.exchange(INVALID_HANDLE_VALUE);
    if (!OnReaderThread() && thread_) {
        // The handle goes only after the reader has ended: it may be about to start a
        // read on it. A read in flight is cancelled now; one that starts after this
        // finds the stop request raised, which the reader looks at once it has started
        // a read.
        ThreadStop = true;
        if (handle != INVALID_HANDLE_VALUE) CancelPendingIo(handle, nullptr);
        StopThread();
    }
    // Nothing more when the reader closed the port itself: it released the handle
    // and called OnClose, and from here on it has ended.
    if (handle == INVALID_HANDLE_VALUE) return;
    ReleaseHandle(handle);
    if (OnClose) {
        try {
            OnClose(this);
        } catch (...) {
        }
    }
}

bool TkwBaseIO::OnReaderThread() const { return readerThreadId_.load() == GetCurrentThreadId(); }

void TkwBaseIO::StartThread() {
    WaitForReader();
    ThreadStop = false;
    thread_ = std::make_unique<TkwThreadIO>(this, handle_.load());
    thread_->Start();
}

void TkwBaseIO::StopThread() {
    if (!thread_ || OnReaderThread()) return;
    ThreadStop = true;
    thread_->Terminate();
    WaitForReader();
}

void TkwBaseIO::WaitForReader() {
    if (!thread_ || OnReaderThread()) return;
    AtSeam(this, TkwIoPoint::CloserWaits);
    thread_->WaitFor();
    thread_.reset();
    readerThreadId_.store(0);
}

void TkwBaseIO::ThreadExecute(TkwThreadIO* /*thread*/) {}

void TkwBaseIO::FatalError(uint32_t code, uint32_t param, const std::string& text) {
    if (TkwCustomLogFile* log = Log()) log->AddFmt(0, "Fatal Error: %u, %u, %s", code, param, text.c_str());
    if (!Loading()) throw Exception(text);
}

void TkwBaseIO::Notify(int event) { NotifyList->NotifyAll(this, event); }

void TkwBaseIO::DoReceive(const void* buffer, uint32_t count) {
    TReceiveFlags flags = 0;
    if (TkwCustomDataProcessor* processor = DataProcessor()) processor->DoDataReceive(buffer, count, flags);
    if (Terminal() && !(flags & rfSkipTerminal)) TerminalWrite(buffer, count);
    if (OnAfterReceive) OnAfterReceive(this, static_cast<const uint8_t*>(buffer), count);
}

void TkwBaseIO::SetDeviceIndex(int /*value*/) { Notify(NotifyDeviceChanged); }

int TkwBaseIO::AddDevice(TkwDevice* device) {
    DeviceList.emplace_back(device->Name, device);
    device->Index = DeviceCount() - 1;
    device->Owner = this;
    return device->Index;
}

int TkwBaseIO::InsertDevice(TkwDevice* device) {
    if (DeviceList.empty() || DeviceList.back().second->Key < device->Key) return AddDevice(device);
    for (int i = 0; i < DeviceCount(); ++i) {
        TkwDevice* at = DeviceList[static_cast<size_t>(i)].second;
        if (at->Key == device->Key) return -1;
        if (at->Key > device->Key) {
            DeviceList.insert(DeviceList.begin() + i, {device->Name, device});
            device->Index = i;
            device->Owner = this;
            for (int j = i + 1; j < DeviceCount(); ++j) DeviceList[static_cast<size_t>(j)].second->Index = j;
            return i;
        }
    }
    return -1;
}

void TkwBaseIO::DeviceListClear() {
    if (OwnsDevices)
        for (auto& entry : DeviceList) delete entry.second;
    DeviceList.clear();
}

void TkwBaseIO::DeviceListRefresh() { Notify(NotifyDeviceChanged); }

void TkwBaseIO::AddNotify(const TPortNotifyEvent& listener) {
    if (NotifyList->IndexOf(listener) < 0) NotifyList->Add(listener);
}

void TkwBaseIO::RemoveNotify(const TPortNotifyEvent& listener) {
    const int index = NotifyList->IndexOf(listener);
    if (index >= 0) NotifyList->Delete(index);
}

void TkwBaseIO::GetDeviceNames(TDeviceNames* strings) {
    if (DeviceList.empty()) DeviceListLoad();
    if (!strings) return;
    strings->clear();
    for (const auto& entry : DeviceList) strings->push_back(entry);
}

bool TkwBaseIO::HandleDeviceChange(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_DEVICECHANGE) return false;
    bool handled = wParam == DBT_DEVNODES_CHANGED;
    if (!handled && (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) && lParam) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        handled = header->dbch_devicetype == DBT_DEVTYP_PORT;
    }
    if (handled) DeviceListRefresh();
    return handled;
}

void TkwBaseIO::WriteLog(int level, const std::string& text) { LogLine(Log(), level, LogPrefix, text); }

void TkwBaseIO::WriteLogFmt(int level, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    try {
        LogLineV(Log(), level, LogPrefix, fmt, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
}

TkwDevice* TkwBaseIO::Devices(int index) const {
    if (index < 0 || index >= DeviceCount()) return nullptr;
    return DeviceList[static_cast<size_t>(index)].second;
}

bool TkwBaseIO::Active() const { return Loading() ? StreamedActive : IsOpen(); }

void TkwBaseIO::SetActive(bool value) {
    if (Loading()) {
        StreamedActive = value;
        return;
    }
    if (value == IsOpen()) {
        // Closed, seen from outside, means that the reader has ended too: it may be
        // closing the port itself after a failed read right now.
        if (!value) WaitForReader();
        return;
    }
    if (value)
        Open();
    else
        Close();
}

void TkwBaseIO::SetLog(TkwCustomLogFile* log) {
    log_.store(log);
    if (log) log->FreeNotification(this);
}

void TkwBaseIO::SetDataProcessor(TkwCustomDataProcessor* processor) {
    TkwCustomDataProcessor* attached = DataProcessor();
    if (!processor && attached) attached->SetPort(nullptr);
    dataProcessor_.store(processor);
    if (processor) {
        processor->SetPort(this);
        processor->FreeNotification(this);
    }
}

void TkwBaseIO::Loaded() {
    TComponent::Loaded();
    try {
        SetTerminal(Terminal());
        SetTerminalUsage(TerminalUsage());
        SetActive(StreamedActive);
    } catch (...) {
        ShowLoadError();
    }
}

void TkwBaseIO::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation != TOperation::opRemove) return;
    // A dying processor unbinds itself in its own destructor; here only the reference goes.
    if (component == DataProcessor()) dataProcessor_.store(nullptr);
    if (component == Log()) log_.store(nullptr);
}
