#include <windows.h>

#include "rtl/uierror.h"

void ShowPlatformError(const std::string& text) noexcept {
    MessageBoxA(GetActiveWindow(), text.c_str(), "Error", MB_OK | MB_ICONERROR);
}
