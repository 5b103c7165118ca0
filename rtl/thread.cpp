#include "rtl/thread.h"

// The platform parts (creating the thread, waiting for it) live in the backends.

void TThread::Run(TThread* self) noexcept {
    try {
        self->Execute();
    } catch (...) {
        // Nobody is there to hear it: a thread body must not end the process.
    }
    if (self->FreeOnTerminate) delete self;
}
