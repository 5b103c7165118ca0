#pragma once
#include <windows.h>

#include <string>

// The module (DLL or EXE) that this code was linked into.
HMODULE ThisModule() noexcept;

// That module's own file, whoever loaded it under whatever name; empty when the path does
// not fit MAX_PATH.
std::string ThisModuleFileName();

// A library that is not one of the system's KnownDLLs, from the system folder only: the
// plug-ins run inside a player whose folder and current folder may hold a planted copy,
// and the default search order looks there first. Where the loader refuses
// LOAD_LIBRARY_SEARCH_SYSTEM32 (Windows 7 without its loader update), by the full path
// under the system folder. Null when it cannot be loaded; the caller owns the reference.
HMODULE LoadSystemLibrary(const char* name) noexcept;

// The loader entry LoadSystemLibrary calls, replaceable so that a test can play the loader
// of an older system.
using TLoadLibraryExA = HMODULE(WINAPI*)(LPCSTR name, HANDLE reserved, DWORD flags);
extern TLoadLibraryExA LoadLibraryExCall;
