#pragma once
// The fake HID platform's control, called by a test in its own process.
//
// kwfakeos.dll holds the platform: the devices and what our own HID.DLL, setupapi.dll and
// cfgmgr32.dll answer about them (those three are thin shims over it). A test program links
// kwfakeos.dll, installs the three into the system folder of its private Wine prefix
// (KwFake_Install), where the code under test loads them, and adds devices here.
//
// A device is a named pipe (a file for query-only devices): its path opens with CreateFile,
// and the HID calls on such a handle answer with the device's configuration. Reports sent
// here reach every handle open on the device, padded to its InputReportByteLength.
// Entries answer the way Windows does: required sizes with ERROR_INSUFFICIENT_BUFFER,
// ERROR_NO_MORE_ITEMS at the end of an enumeration, HIDP_STATUS_* codes.
#include <windows.h>

extern "C" {
#include <hidsdi.h>
}

// How a device's path opens.
enum KwFakeAccess : DWORD {
    kwfaReadWrite = 0,  // any access
    kwfaReadOnly = 1,   // GENERIC_WRITE refused (ERROR_ACCESS_DENIED)
    kwfaWriteOnly = 2,  // GENERIC_READ refused
    kwfaQueryOnly = 3,  // only an open without read or write access (ERROR_SHARING_VIOLATION)
    kwfaNone = 4,       // nothing opens, not even the probe (ERROR_FILE_NOT_FOUND)
};

// What a device's HID calls do wrong.
enum KwFakeFlags : DWORD {
    kwffNoPreparsedData = 1,   // HidD_GetPreparsedData fails
    kwffNoAttributes = 2,      // HidD_GetAttributes fails
    kwffBadPreparsedData = 4,  // the HidP_ calls answer HIDP_STATUS_INVALID_PREPARSED_DATA
    kwffNoRegistryKey = 8,     // SetupDiOpenDevRegKey fails
};

// One device. Null texts are absent: the query fails (HID strings: FALSE; registry
// properties: ERROR_INVALID_DATA). Use designated initialisers: everything left out is 0.
struct KwFakeDevice {
    const wchar_t* Product = nullptr;
    const wchar_t* Manufacturer = nullptr;
    const wchar_t* SerialNumber = nullptr;
    USHORT VendorID = 0;
    USHORT ProductID = 0;
    USHORT VersionNumber = 0;
    // Its counters say how many capability records each HidP_ query returns.
    HIDP_CAPS Caps = {};
    // Capability records by report type (HidP_Input, HidP_Output, HidP_Feature), each with
    // as many elements as its counter in Caps. Null: made up, zero but for UsagePage (that
    // of Caps) and NotRange.Usage = 0x100 * (report type + 1) + index; value records also
    // get BitSize 8, ReportCount 1 and LogicalMax 255.
    const HIDP_BUTTON_CAPS* ButtonCaps[3] = {};
    const HIDP_VALUE_CAPS* ValueCaps[3] = {};
    DWORD Access = 0;  // KwFakeAccess
    DWORD Flags = 0;   // KwFakeFlags
    // Device-installation properties: SPDRP_DEVICEDESC, SPDRP_SERVICE, SPDRP_DRIVER,
    // SPDRP_MFG, SPDRP_PHYSICAL_DEVICE_OBJECT_NAME.
    const char* Description = nullptr;
    const char* Service = nullptr;
    const char* DriverKey = nullptr;
    const char* Mfg = nullptr;
    const char* PhysicalDeviceName = nullptr;
    // Null: "HID\VID_xxxx&PID_xxxx\KWFAKE&<id>".
    const char* InstanceId = nullptr;
    // Values of the hardware key that SetupDiOpenDevRegKey opens:
    // HKLM\SYSTEM\CurrentControlSet\Enum\<InstanceId>\Device Parameters.
    const char* SymbolicName = nullptr;
    const char* PortName = nullptr;
    // Instance identifiers, each NUL-terminated, the list ended by one more NUL.
    const char* BusRelations = nullptr;
    const char* RemovalRelations = nullptr;
    DWORD DevNode = 0;  // 0: one is made up
    // The required size SetupDiGetDeviceInterfaceDetailA reports; 0: the true one.
    DWORD DetailSize = 0;
};

extern "C" {

// Appends a present device to the enumeration order. Its id (above 0), or -1.
int KwFake_AddDevice(const KwFakeDevice* device);
// The path CreateFile opens, as SetupDiGetDeviceInterfaceDetailA reports it; null for an
// unknown id. Valid until KwFake_Reset.
const char* KwFake_DevicePath(int device);
// One input report to every handle open on the device that can read, padded with zeros
// to InputReportByteLength (a longer one is cut). How many handles took it; handles
// opened without read access on a read-write device count too, as a pipe cannot tell.
int KwFake_SendReport(int device, const void* report, DWORD size);
// Bytes as they are, unpadded: a read of the report length then returns fewer, which no
// HID device does. For the reader's own handling of short reads.
int KwFake_SendBytes(int device, const void* bytes, DWORD size);
// Pulls the device out: pending reads fail (ERROR_PIPE_NOT_CONNECTED), nothing opens any
// more, enumerations with DIGCF_PRESENT skip it, HID calls on old handles fail (Wine
// cannot name a disconnected pipe handle: ERROR_INVALID_HANDLE). Done when it returns.
BOOL KwFake_Unplug(int device);
// Plugs it back in, at its old place in the enumeration order.
BOOL KwFake_Replug(int device);
// Takes up to size bytes that clients wrote to the device, in order, waiting up to
// timeoutMs for that many. How many were taken.
DWORD KwFake_TakeWritten(int device, void* buffer, DWORD size, DWORD timeoutMs);
// While hold is set, nothing takes what clients write to the device: a write larger than
// the pipe's buffer stays pending. Set it before the client opens. Releasing it takes in
// what was held back.
BOOL KwFake_HoldWrites(int device, BOOL hold);
// Handles open on a pipe device. Exact for devices that accept writes; a read-only
// device's closed handle counts until a report finds it closed. -1 for an unknown id.
int KwFake_OpenHandleCount(int device);
// Waits up to timeoutMs until KwFake_OpenHandleCount is count.
BOOL KwFake_WaitOpenHandles(int device, int count, DWORD timeoutMs);
// Preparsed data handed out and not freed; device information sets not destroyed.
int KwFake_PreparsedDataCount(void);
int KwFake_DeviceInfoSetCount(void);
// Calls of one entry of the three libraries since the last reset, e.g. "HidP_GetCaps".
int KwFake_CallCount(const char* entry);
// Makes an entry fail from now on without doing anything: HidD_ and SetupDi entries
// return FALSE (or INVALID_HANDLE_VALUE) with error as the last error, HidP_ entries
// return error as their status, CM_ entries as their CONFIGRET. 0 ends it.
void KwFake_FailEntry(const char* entry, DWORD error);
// Back to no devices: pipes closed, counters, failures and open sets cleared.
void KwFake_Reset(void);

// Puts one library ("hid", "setupapi" or "cfgmgr32") into the system folder: variant null
// or "" for the full one, "missing" for none, or one of the builds of FakeOs.cmake, such
// as "no-HidP_GetCaps". Refused unless the program runs in a private Wine prefix
// (KW_WINE_PRIVATE_PREFIX=1) and while the library is loaded (ERROR_BUSY).
BOOL KwFake_Install(const char* library, const char* variant);
// All three, full.
BOOL KwFake_InstallAll(void);
}
