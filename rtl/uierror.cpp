#include "rtl/uierror.h"

#include <mutex>
#include <utility>

#include "rtl/exception.h"

namespace {
std::mutex sinkLock;
TUiErrorSink& Sink() {
    static TUiErrorSink sink;
    return sink;
}
}  // namespace

void HandleUiException() noexcept { ReportUiError(CurrentExceptionText()); }

void ReportUiError(const std::string& text) noexcept {
    try {
        TUiErrorSink sink;
        {
            std::lock_guard<std::mutex> guard(sinkLock);
            sink = Sink();
        }
        if (sink) {
            sink(text);
            return;
        }
    } catch (...) {
        // A failing test sink must not take the process down; fall back below.
    }
    ShowPlatformError(text);
}

TUiErrorSinkScope::TUiErrorSinkScope(TUiErrorSink sink) {
    std::lock_guard<std::mutex> guard(sinkLock);
    previous_ = std::exchange(Sink(), std::move(sink));
}

TUiErrorSinkScope::~TUiErrorSinkScope() {
    std::lock_guard<std::mutex> guard(sinkLock);
    Sink() = std::move(previous_);
}
