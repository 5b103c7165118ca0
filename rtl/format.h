#pragma once
#include <cstdarg>
#include <string>

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);
