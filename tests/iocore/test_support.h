#pragma once
// What the framework's tests share: a log that keeps its lines, and a message pump.
#include <windows.h>

#include <string>
#include <vector>

#include "iocore/kwclasses.h"

class TRecordingLog : public TkwCustomLogFile {
public:
    TRecordingLog() : TkwCustomLogFile(nullptr) {}
    void Add(int level, const std::string& text) override { lines.push_back(std::to_string(level) + ":" + text); }
    std::vector<std::string> lines;
};

// Serves this thread's messages until done() holds, for at most limit milliseconds (a
// guard against a hang, not a measure).
template <class Done>
bool PumpUntil(Done done, DWORD limit = 5000) {
    const ULONGLONG end = GetTickCount64() + limit;
    while (!done()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
    return true;
}

// Stops system timer 1 of the window; true when it was running.
inline bool StopSystemTimer(HWND window) { return KillTimer(window, 1) != FALSE; }
