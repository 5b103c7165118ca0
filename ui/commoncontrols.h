#pragma once
// Common controls version 6 for the dialogs of a plug-in, which cannot rely on the
// activation context of its host: our manifest (an RT_MANIFEST resource, id 2, of the
// module this code is linked into) activated around every dialog we create, and
// comctl32 loaded at run time from inside it, as it is no KnownDLL.
#include <windows.h>

// Activates our context for the scope's lifetime (on the calling thread).
class TActivation {
public:
    TActivation() noexcept;
    ~TActivation();
    TActivation(const TActivation&) = delete;
    TActivation& operator=(const TActivation&) = delete;
    bool Active() const noexcept { return active_; }

private:
    ULONG_PTR cookie_ = 0;
    bool active_ = false;
};

// Inside a TActivation: loads comctl32 and registers its classes, once per process.
// False when the library or its entry is missing; the dialogs then fail to create.
bool InitCommonControlsOnce() noexcept;

// The comctl32 our dialogs use (null before InitCommonControlsOnce succeeded).
HMODULE CommonControlsModule() noexcept;
