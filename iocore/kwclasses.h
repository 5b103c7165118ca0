#pragma once
// The base of the port components: the open/close protocol behind Active, the
// reader thread, delivery of received blocks, the device list, listeners, error
// reports and log lines. A port class (the HID port) supplies the medium.
#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "iocore/kwtimer.h"
#include "rtl/component.h"
#include "rtl/events.h"
#include "rtl/list.h"
#include "rtl/thread.h"
#include "rtl/win32/handle.h"

class TkwBaseIO;

enum TTerminalUsage : uint8_t { tuNone = 0, tuSend = 1, tuReceive = 2, tuBoth = 3 };

// Listener events.
constexpr int NotifyMediumClosed = 1;
constexpr int NotifyMediumOpened = 2;
constexpr int NotifyDeviceChanged = 3;  // the device list was reloaded or the selection changed

// The received-data event: the port, the bytes (valid only during the call), their count.
using TOnReceived = TEvent<void(TObject* com, const uint8_t* buffer, uint32_t received)>;
using TPortNotifyEvent = TEvent<void(TObject* sender, int event)>;

// Flags a data processor returns for a received block.
using TReceiveFlags = uint8_t;
constexpr TReceiveFlags rfSkipTerminal = 1 << 0;

// The generic device record a port's device list holds.
class TkwDevice : public TObject {
public:
    int32_t Index = -1;
    TkwBaseIO* Owner = nullptr;
    std::string Name;
    std::string PhysicalDeviceName;
    std::string DevicePath;
    std::string RegistryKey;
    std::string Description;
    std::string Service;
    std::string DriverKey;
    std::string InstanceId;
    std::string BusRelations;
    std::string PortName;
    std::string Manufacturer;
    uint32_t DevNode = 0;
    int32_t Key = 0;  // ordering key, for InsertDevice only
};

// The sink of diagnostic lines. The system itself attaches none.
class TkwCustomLogFile : public TComponent {
public:
    using TComponent::TComponent;
    virtual void Add(int level, const std::string& text) = 0;
    // Formats with the runtime's printf rules, then adds.
    void AddFmt(int level, const char* fmt, ...) __attribute__((format(gnu_printf, 3, 4)));
    virtual void AddFmtV(int level, const char* fmt, va_list args);
    // False for a level the log would drop: senders then neither prefix nor format the line.
    virtual bool Accepts(int /*level*/) const noexcept { return true; }
};

// Offered every outgoing block of a processor: the bytes may be changed in place, and
// Handled keeps them from the port.
using TOnDataSend = TEvent<void(TObject* sender, void* data, uint32_t count, bool isText, bool& handled)>;

// Sits between a port and the application: sees every received block before anything
// else does, and sends through the port. Processors can be chained. The system attaches
// none.
class TkwCustomDataProcessor : public TComponent {
public:
    explicit TkwCustomDataProcessor(TComponent* owner);
    ~TkwCustomDataProcessor() override;

    // Its listener at the port.
    virtual void PortNotify(TObject* sender, int event);
    virtual void MediumClosed();
    virtual void MediumOpened();
    virtual void SetNextProcessor(TkwCustomDataProcessor* processor);
    virtual void SetPort(TkwBaseIO* port);
    // Both discard every error: the caller learns nothing.
    virtual void DoDataSend(void* buffer, uint32_t count);
    virtual void DoStringSend(std::string s);
    // The timeout's tick: stops it (one tick per arming), then CheckState.
    virtual void DoTimeout();
    // Stops the timeout and, unless milliseconds is 0, arms it once with that interval.
    virtual void SetTimeout(uint32_t milliseconds);
    // Logs (when a log is attached) and raises Text, also while loading.
    virtual void FatalError(uint32_t code, uint32_t param, const std::string& text);
    // On the reader thread. The base passes the block on down the chain.
    virtual void DoDataReceive(const void* buffer, uint32_t count, TReceiveFlags& flags);
    void DataReceive(const void* buffer, uint32_t count);
    virtual void CheckState(bool& flag);

    void WriteLog(int level, const std::string& text);
    void WriteLogFmt(int level, const char* fmt, ...) __attribute__((format(gnu_printf, 3, 4)));

    TkwCustomLogFile* Log() const noexcept { return log_.load(); }
    void SetLog(TkwCustomLogFile* log);

    TkwBaseIO* Port = nullptr;
    TkwCustomDataProcessor* NextProcessor = nullptr;
    TOnDataSend OnDataSend;
    std::unique_ptr<TkwTimer> Timer;
    std::string LogPrefix;

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    void TimerTick(TObject* sender);
    TPortNotifyEvent Listener() { return TPortNotifyEvent::Bind<&TkwCustomDataProcessor::PortNotify>(this); }

    std::atomic<TkwCustomLogFile*> log_{nullptr};
};

// The registered listeners of a port, each entry a cell of its own.
class TkwNotifyList : public TList<TPortNotifyEvent> {
public:
    ~TkwNotifyList() override { Clear(); }
    int Add(const TPortNotifyEvent& listener);
    void Delete(int index);
    void Clear() override;
    TPortNotifyEvent GetItem(int index) const { return *Items(index); }
    int IndexOf(const TPortNotifyEvent& listener) const;
    void NotifyAll(TObject* sender, int event);
};

// The reader thread of one open period of a port.
class TkwThreadIO : public TThread {
public:
    TkwThreadIO(TkwBaseIO* port, HANDLE medium) : Port(port), Medium(medium) {}
    ~TkwThreadIO() override;
    TkwBaseIO* Port;
    // The handle of this open period. The port closes it only after this thread has
    // ended, or this thread closes it itself after a failed read.
    const HANDLE Medium;

protected:
    void Execute() override;
};

using TDeviceNames = std::vector<std::pair<std::string, TkwDevice*>>;

// Points of the open/close protocol where a test can hold a thread, to force an
// interleaving that the scheduler produces only rarely. No seam is set in the plug-ins.
enum class TkwIoPoint {
    BeforeRead,     // reader: the stop request was not raised; the next read is about to start
    ReadFailed,     // reader: a read failed, UseThread is cleared, the port not yet closed
    CloserWaits,    // another thread begins to wait for the reader to end (a close, a destructor)
};
using TkwIoSeam = void (*)(TkwBaseIO* port, TkwIoPoint point);

class TkwBaseIO : public TComponent {
public:
    explicit TkwBaseIO(TComponent* owner);
    ~TkwBaseIO() override;

    // --- medium
    virtual bool IsOpen() const;
    virtual HANDLE OpenHandle();
    virtual void ReleaseHandle(HANDLE handle);
    virtual bool HasReceivers() const;
    virtual void Open();
    virtual void Close();
    virtual void StartThread();
    virtual void StopThread();
    // The reader thread's body; must return soon after ThreadStop is set.
    virtual void ThreadExecute(TkwThreadIO* thread);
    // Logs (when a log is attached) and raises Text, unless loading.
    virtual void FatalError(uint32_t code, uint32_t param, const std::string& text);
    virtual void Notify(int event);
    // Delivery of one received block, on the reader thread: data processor,
    // terminal, then OnAfterReceive.
    virtual void DoReceive(const void* buffer, uint32_t count);
    virtual void SetDeviceIndex(int value);
    virtual int GetDeviceIndex() const = 0;

    // --- device list
    virtual int AddDevice(TkwDevice* device);
    virtual int InsertDevice(TkwDevice* device);
    virtual void DeviceListLoad() = 0;
    virtual void DeviceListClear();
    virtual void TerminalWrite(const void* buffer, uint32_t count);
    virtual void DeviceListRefresh();
    virtual void AddNotify(const TPortNotifyEvent& listener);
    virtual void RemoveNotify(const TPortNotifyEvent& listener);
    virtual void SendChar(char c) = 0;
    virtual void SendString(const std::string& s) = 0;
    // Starts the write and returns; false when the port is closed or the write failed.
    virtual bool SendBuffer(const void* buffer, int count) = 0;
    virtual void GetDeviceNames(TDeviceNames* strings);
    // The device-change broadcast, forwarded by a window: reloads the list when
    // devices came or went.
    virtual bool HandleDeviceChange(UINT message, WPARAM wParam, LPARAM lParam);

    void WriteLog(int level, const std::string& text);
    void WriteLogFmt(int level, const char* fmt, ...) __attribute__((format(gnu_printf, 3, 4)));
    TkwDevice* Devices(int index) const;
    int DeviceCount() const { return static_cast<int>(DeviceList.size()); }

    // --- properties
    bool Active() const;
    void SetActive(bool value);
    int DeviceIndex() const { return GetDeviceIndex(); }
    TkwCustomLogFile* Log() const { return log_.load(); }
    void SetLog(TkwCustomLogFile* log);
    TkwCustomDataProcessor* DataProcessor() const { return dataProcessor_.load(); }
    void SetDataProcessor(TkwCustomDataProcessor* processor);
    HWND Terminal() const noexcept { return terminal_.load(); }
    // Hooks the edit control, whose messages then pass through the port first, and gives
    // the one hooked before back its own handler. Null unhooks. On the control's thread.
    void SetTerminal(HWND edit);
    TTerminalUsage TerminalUsage() const noexcept { return terminalUsage_; }
    void SetTerminalUsage(TTerminalUsage usage);

    void Loaded() override;

    TNotifyEvent OnOpen;
    TNotifyEvent OnClose;
    TOnReceived OnAfterReceive;

    // The message box Loaded shows when re-applying its stored state fails;
    // replaceable so that tests see it.
    static void (*ShowLoadError)();

    std::unique_ptr<TkwNotifyList> NotifyList;
    TDeviceNames DeviceList;
    // The terminal's window while received data is to be shown there, else null.
    std::atomic<HWND> TerminalHandle{nullptr};
    // A key typed in the terminal and sent to the device reaches the terminal too.
    bool TerminalEcho = false;
    std::atomic<bool> InTerminalWrite{false};
    bool StreamedActive = false;
    std::string LogPrefix;
    bool OwnsDevices = true;
    OVERLAPPED ReadOverlapped{};
    OVERLAPPED WriteOverlapped{};
    // Has an event of its own, so that the end of a write left running can be waited for.
    OVERLAPPED SendOverlapped{};
    // Written by the reader thread too (after a read failure), hence atomic.
    std::atomic<bool> UseThread{false};
    std::atomic<bool> ThreadStop{false};

    // Test seams; null in the plug-ins. Set them before a port opens, clear them after it closed.
    static TkwIoSeam Seam;
    // How pending I/O is cancelled: CancelIoEx, unless a test holds cancellations back.
    static BOOL(WINAPI* CancelPendingIo)(HANDLE file, LPOVERLAPPED overlapped);

    // Cancels an operation still pending on the record and returns once the system has
    // finished with it (and with its buffer), however long that takes.
    static void EndPendingIo(HANDLE file, OVERLAPPED& overlapped) noexcept;

protected:
    void Notification(TComponent* component, TOperation operation) override;
    HANDLE Handle() const { return handle_.load(); }
    // True on the reader thread of the current open period.
    bool OnReaderThread() const;
    // Returns once the reader thread, if there is one, has ended (serving sent messages
    // meanwhile), and frees it. Nothing on the reader thread itself. Every destructor in
    // the hierarchy whose members the reader uses calls it before they go.
    void WaitForReader();
    static void AtSeam(TkwBaseIO* port, TkwIoPoint point) {
        if (const TkwIoSeam seam = Seam) seam(port, point);
    }

private:
    friend class TkwThreadIO;
    friend struct TTerminalHook;

    // From the terminal's hook, on its thread: true when the message is consumed.
    bool TerminalMessage(UINT msg, WPARAM wParam);
    // The hooked control is being destroyed.
    void TerminalDestroyed() noexcept;

    std::atomic<HANDLE> handle_{INVALID_HANDLE_VALUE};
    std::unique_ptr<TkwThreadIO> thread_;
    std::atomic<DWORD> readerThreadId_{0};
    // Read by the reader thread at every block.
    std::atomic<TkwCustomLogFile*> log_{nullptr};
    std::atomic<TkwCustomDataProcessor*> dataProcessor_{nullptr};
    std::atomic<HWND> terminal_{nullptr};
    TTerminalUsage terminalUsage_ = tuNone;
    TUniqueEvent readEvent_;
    TUniqueEvent writeEvent_;
    TUniqueEvent sendEvent_;
};
