#pragma once
// COM failure results as exceptions.
#include <windows.h>

#include <string>

#include "rtl/exception.h"

class EOleException : public Exception {
public:
    EOleException(std::string message, HRESULT errorCode) : Exception(std::move(message)), ErrorCode(errorCode) {}
    HRESULT ErrorCode;
};

// The text for a failure of a call on object through iid: the description the
// object left in the thread's error information when it says it leaves one for
// that interface; otherwise the system's text for hr; "OLE error XXXXXXXX" when
// the system has none. object may be null.
std::string OleErrorText(HRESULT hr, IUnknown* object, REFIID iid);

// Raises EOleException for a failure result; success results, S_FALSE and the
// like included, pass.
void OleCheck(HRESULT hr, IUnknown* object, REFIID iid);
void OleCheck(HRESULT hr);
