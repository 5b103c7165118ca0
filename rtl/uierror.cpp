#include "rtl/uierror.h"

#include <mutex>
#include <utility>

#include "rtl/exception.h"

namespace {
// Never destroyed: a report may come while the library unloads.
std::mutex& SinkLock() {
    static auto* lock = new std::mutex;
    return *lock;
}
TUiErrorSink& Sink() {
    static auto* sink = new TUiErrorSink;
    return *sink;
}
}  // namespace

void HandleUiException() noexcept { ReportUiError(CurrentExceptionText()); }

void ReportUiError(const std::string& text) noexcept {
    try {
        TUiErrorSink sink;
        {
            std::lock_guard<std::mutex> guard(SinkLock());
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
    std::lock_guard<std::mutex> guard(SinkLock());
    previous_ = std::exchange(Sink(), std::move(sink));
}

TUiErrorSinkScope::~TUiErrorSinkScope() {
    std::lock_guard<std::mutex> guard(SinkLock());
    Sink() = std::move(previous_);
}
