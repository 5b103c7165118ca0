#include "rtl/exception.h"

std::string CurrentExceptionText() noexcept {
    try {
        throw;
    } catch (const std::exception& e) {
        try {
            return e.what();
        } catch (...) {
        }
    } catch (...) {
    }
    return "Unknown exception";
}
