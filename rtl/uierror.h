#pragma once
// The UI thread's generic error report: what escapes a timer handler or a task
// posted to the UI thread ends here. The platform shows a message box with the
// error text; tests install their own sink to see the reports.
#include <functional>
#include <string>

using TUiErrorSink = std::function<void(const std::string& text)>;

// Reports the exception being handled; call only inside a catch block.
void HandleUiException() noexcept;
void ReportUiError(const std::string& text) noexcept;

// Replaces the report for the lifetime of the scope (process-wide).
class TUiErrorSinkScope {
public:
    explicit TUiErrorSinkScope(TUiErrorSink sink);
    ~TUiErrorSinkScope();
    TUiErrorSinkScope(const TUiErrorSinkScope&) = delete;
    TUiErrorSinkScope& operator=(const TUiErrorSinkScope&) = delete;

private:
    TUiErrorSink previous_;
};

// The platform's own report (a message box on Windows).
void ShowPlatformError(const std::string& text) noexcept;
