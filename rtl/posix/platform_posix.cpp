// The portable build runs only under tests: there is no platform UI thread, so a
// test installs a virtual clock, and error reports go to stderr.
#include <cstdio>

#include "rtl/exception.h"
#include "rtl/uierror.h"
#include "rtl/uischeduler.h"

std::shared_ptr<TUiScheduler> CreatePlatformScheduler() {
    throw Exception("No UI scheduler on this thread: install a virtual clock");
}

void ShowPlatformError(const std::string& text) noexcept { std::fprintf(stderr, "UI error: %s\n", text.c_str()); }
