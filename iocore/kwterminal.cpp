// The port's terminal: an edit control that shows received bytes as text and whose
// typed keys can go to the device. The port hooks the control's window procedure.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "iocore/kwclasses.h"
#include "rtl/exception.h"

namespace {
const char* const HookProperty = "ClickwellTerminalHook";
}

// One per hooked control, however many ports hook it: the handler the control had
// before and the ports, the latest last. A property of the control; all of it lives on
// the control's thread.
struct TTerminalHook {
    WNDPROC saved = nullptr;
    bool unicode = false;
    std::vector<TkwBaseIO*> ports;

    static TTerminalHook* Of(HWND hwnd) noexcept { return static_cast<TTerminalHook*>(GetPropA(hwnd, HookProperty)); }

    WNDPROC Current(HWND hwnd) const noexcept {
        return reinterpret_cast<WNDPROC>(unicode ? GetWindowLongPtrW(hwnd, GWLP_WNDPROC)
                                                 : GetWindowLongPtrA(hwnd, GWLP_WNDPROC));
    }
    void SetProc(HWND hwnd, WNDPROC proc) const noexcept {
        if (unicode)
            SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
        else
            SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
    }

    static void Attach(HWND hwnd, TkwBaseIO* port) {
        TTerminalHook* hook = Of(hwnd);
        if (!hook) {
            if (!IsWindow(hwnd)) throw Exception("The terminal has no window");
            auto owned = std::make_unique<TTerminalHook>();
            owned->unicode = IsWindowUnicode(hwnd) != FALSE;
            owned->ports.reserve(2);
            if (!SetPropA(hwnd, HookProperty, owned.get())) throw Exception("Cannot hook the terminal");
            hook = owned.release();
            SetLastError(0);
            const LONG_PTR proc = reinterpret_cast<LONG_PTR>(&Proc);
            hook->saved = reinterpret_cast<WNDPROC>(hook->unicode ? SetWindowLongPtrW(hwnd, GWLP_WNDPROC, proc)
                                                                  : SetWindowLongPtrA(hwnd, GWLP_WNDPROC, proc));
            if (!hook->saved) {
                RemovePropA(hwnd, HookProperty);
                delete hook;
                throw Exception("Cannot hook the terminal");
            }
        }
        if (std::find(hook->ports.begin(), hook->ports.end(), port) == hook->ports.end()) hook->ports.push_back(port);
    }

    static void Detach(HWND hwnd, TkwBaseIO* port) noexcept {
        TTerminalHook* hook = Of(hwnd);
        if (!hook) return;
        hook->ports.erase(std::remove(hook->ports.begin(), hook->ports.end(), port), hook->ports.end());
        if (!hook->ports.empty()) return;
        // With ours on top the control gets its own handler back. A hook set after ours
        // still calls ours: then ours stays and only passes messages on, until the
        // control goes.
        if (hook->Current(hwnd) != &Proc) return;
        hook->SetProc(hwnd, hook->saved);
        RemovePropA(hwnd, HookProperty);
        delete hook;
    }

    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        TTerminalHook* hook = Of(hwnd);
        if (!hook) {
            return IsWindowUnicode(hwnd) ? DefWindowProcW(hwnd, msg, wParam, lParam)
                                         : DefWindowProcA(hwnd, msg, wParam, lParam);
        }
        const WNDPROC saved = hook->saved;
        const bool unicode = hook->unicode;
        if (msg == WM_NCDESTROY) {
            for (TkwBaseIO* port : hook->ports) port->TerminalDestroyed();
            if (hook->Current(hwnd) == &Proc) hook->SetProc(hwnd, saved);
            RemovePropA(hwnd, HookProperty);
            delete hook;
        } else if (msg == WM_CHAR) {
            // The latest port first. A port may unhook, or go, while it sends the key.
            for (size_t i = hook->ports.size(); i-- > 0;) {
                if (i >= hook->ports.size()) continue;
                if (hook->ports[i]->TerminalMessage(msg, wParam)) return 0;
                hook = Of(hwnd);
                if (!hook) break;
            }
        }
        return unicode ? CallWindowProcW(saved, hwnd, msg, wParam, lParam)
                       : CallWindowProcA(saved, hwnd, msg, wParam, lParam);
    }
};

void TkwBaseIO::SetTerminal(HWND edit) {
    if (Loading()) {
        // Loaded hooks it: the control may not be ready before.
        terminal_.store(edit);
        return;
    }
    if (HWND hooked = terminal_.load()) TTerminalHook::Detach(hooked, this);
    TerminalHandle.store(nullptr);
    terminal_.store(nullptr);
    if (edit) {
        TTerminalHook::Attach(edit, this);
        terminal_.store(edit);
    }
    SetTerminalUsage(terminalUsage_);
}

void TkwBaseIO::SetTerminalUsage(TTerminalUsage usage) {
    terminalUsage_ = usage;
    if (Loading()) return;
    if (HWND terminal = terminal_.load())
        TerminalHandle.store(usage == tuReceive || usage == tuBoth ? terminal : nullptr);
}

bool TkwBaseIO::TerminalMessage(UINT msg, WPARAM wParam) {
    if (msg != WM_CHAR || InTerminalWrite) return false;
    if (terminalUsage_ != tuSend && terminalUsage_ != tuBoth) return false;
    try {
        SendChar(static_cast<char>(wParam & 0xFF));
    } catch (...) {
        // A window procedure lets nothing out; the key is treated as sent.
    }
    return !TerminalEcho;
}

void TkwBaseIO::TerminalDestroyed() noexcept {
    TerminalHandle.store(nullptr);
    terminal_.store(nullptr);
}

void TkwBaseIO::TerminalWrite(const void* buffer, uint32_t count) {
    HWND terminal = TerminalHandle.load();
    if (!terminal) return;
    InTerminalWrite = true;
    const auto* bytes = static_cast<const char*>(buffer);
    if (count == 1) {
        SendMessageA(terminal, WM_CHAR, static_cast<unsigned char>(bytes[0]), 1);
    } else {
        // Text in pieces separated by zero bytes, each inserted at the caret.
        std::string piece;
        for (uint32_t start = 0; start < count;) {
            uint32_t end = start;
            while (end < count && bytes[end] != 0) ++end;
            if (end > start) {
                piece.assign(bytes + start, end - start);
                SendMessageA(terminal, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(piece.c_str()));
            }
            start = end + 1;
        }
    }
    InTerminalWrite = false;
}
