#pragma once
// Catches the UI thread's generic error reports for the lifetime of a test.
#include <mutex>
#include <string>
#include <vector>

#include "rtl/uierror.h"

class TErrorRecorder {
public:
    TErrorRecorder()
        : scope_([this](const std::string& text) {
              std::lock_guard<std::mutex> guard(lock_);
              reports_.push_back(text);
          }) {}

    std::vector<std::string> Reports() const {
        std::lock_guard<std::mutex> guard(lock_);
        return reports_;
    }

private:
    mutable std::mutex lock_;
    std::vector<std::string> reports_;
    TUiErrorSinkScope scope_;
};
