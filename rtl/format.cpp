#include "rtl/format.h"

#include <cstdio>

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = FormatV(fmt, args);
    va_end(args);
    return text;
}

std::string FormatV(const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string text;
    if (needed > 0) {
        text.resize(static_cast<size_t>(needed));
        std::vsnprintf(text.data(), text.size() + 1, fmt, args);
    }
    return text;
}
