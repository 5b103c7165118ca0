// Runs a fixed number of 64-byte reports through the reading thread's path, for
// counting instructions per report under callgrind (tools/report-cost.sh).
#include <cstdio>
#include <cstdlib>

#include "tests/engine/report_fixture.h"

int main(int argc, char** argv) {
    const long reports = argc > 1 ? std::atol(argv[1]) : 100000;
    TReportFixture f(64);
    for (long i = 0; i < reports; ++i) {
        f.port->Receive(f.report);
        // The UI thread's pass, now and then, as in a burst.
        if (i % 16 == 15) f.clock->RunPending();
    }
    std::printf("%ld reports, signature %08X\n", reports, f.engine.Handlers.Items(0)->Signature());
    return 0;
}
