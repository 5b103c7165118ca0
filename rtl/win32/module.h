#pragma once
#include <windows.h>

// The module (DLL or EXE) that this code was linked into.
HMODULE ThisModule() noexcept;
