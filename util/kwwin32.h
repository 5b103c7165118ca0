#pragma once
// Small stateless helpers over Windows services that the HID port, the device list
// and the plug-in entries share. None of them raises on a system failure: they give
// an empty text or false instead.
#include <windows.h>

#include <string>

// The file version of a module file, its four 16-bit parts given to a printf-style
// format (empty: "%u.%u.%u.%u"). Empty when the file has no version block.
std::string GetVersionText(const std::string& fileName, const std::string& format = {});

// The registry path of an open key. With root given, a key below HKEY_LOCAL_MACHINE or
// a user's hive comes back relative to HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER with
// *root set to that; any other key (and any failure) gives the full native name and
// *root = 0. Empty when the key's name cannot be read.
std::string GetRegistryKeyPath(HKEY key, HKEY* root = nullptr);

// The root split of GetRegistryKeyPath for a native key name (\REGISTRY\MACHINE\...).
std::string RegistryPathFromKeyName(const std::string& fullName, HKEY& root);

// One value below root\subKey as text: a string without its terminating NUL, any other
// type as its raw bytes. Empty when the key or the value cannot be read.
std::string ReadRegistryString(HKEY root, const std::string& subKey, const std::string& valueName);

// A NUL-separated list (length counts its characters with the final extra NUL) joined
// with separator. Reads only buffer[0 .. length - 2].
std::string MultiStringToText(const char* buffer, int length, const std::string& separator);

// After an overlapped call that failed: true once the operation completes successfully.
// errorCode is the last error on entry (997 when the operation is pending), or the
// error of the wait. The wait has no limit, but ends early when someone else signals
// the record's event; the result is then false with errorCode 996 (ERROR_IO_INCOMPLETE).
bool WaitOverlapped(HANDLE file, OVERLAPPED& overlapped, DWORD& transferred, DWORD& errorCode);

// Overlapped read and write at offset 0 (devices ignore it), waiting for completion.
// The record's event is kept; its status and offset fields are cleared first.
bool OverlappedRead(HANDLE file, void* buffer, DWORD count, OVERLAPPED& overlapped);
bool OverlappedWrite(HANDLE file, const void* buffer, DWORD count, OVERLAPPED& overlapped);

// Starts the write and returns: true when it completed or is pending. The caller keeps
// buffer and overlapped alive until it completes.
bool OverlappedWriteNoWait(HANDLE file, const void* buffer, DWORD count, OVERLAPPED& overlapped);
