// A library of its own that starts one of our threads, so that a test can free the
// library while the thread still runs in it, as a host may.
#include <windows.h>

#include "rtl/thread.h"

namespace {
class TWaiter : public TThread {
public:
    explicit TWaiter(HANDLE go) : go_(go) { FreeOnTerminate = true; }

protected:
    void Execute() override {
        WaitForSingleObject(go_, INFINITE);
        // Still our code after the wait: it runs only while the library is mapped.
        Sleep(50);
    }

private:
    HANDLE go_;
};
}  // namespace

// Starts a self-freeing thread that ends once go is signalled.
extern "C" __declspec(dllexport) bool StartWaiter(HANDLE go) noexcept {
    try {
        (new TWaiter(go))->Start();
        return true;
    } catch (...) {
        return false;
    }
}
