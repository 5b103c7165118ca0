// Runs a fixed number of 64-byte reports through the reading thread's path, for
// counting instructions per report under callgrind (tools/report-cost.sh): the port's
// received-data event into the device handler, the fold, the burst state and the
// hand-over to the UI thread, bound as the engine binds a handler's port.
//
//   report_cost [reports] [table|auto]   table forces the table fold
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/hidprocessor.h"
#include "engine/kwcrc.h"
#include "rtl/virtualclock.h"
#include "tests/support/fake_port.h"

// What the reading thread runs for one report; callgrind counts it inclusively.
__attribute__((noinline)) void DeliverReport(TFakePort& port, const std::vector<uint8_t>& report) {
    port.Receive(report);
}

int main(int argc, char** argv) {
    const long reports = argc > 1 ? std::atol(argv[1]) : 100000;
    const bool table = argc > 2 && std::strcmp(argv[2], "table") == 0;
    if (table && !SelectSignatureFold(TSignatureFold::Table)) return 2;

    auto clock = TVirtualClock::Install();
    THidProcessor engine;
    auto owned = std::make_unique<TFakePort>(0);
    TFakePort& port = *owned;
    auto* handler = new THidDevicehandler(std::move(owned));
    engine.Handlers.Add(handler);
    port.SetOnAfterReceive(TOnReceived::Bind<&THidDevicehandler::PortReceived>(handler));
    handler->QuietTimer->SetOnTimer(TNotifyEvent::Bind<&THidProcessor::QuietTimeout>(&engine));
    std::vector<uint8_t> report(64);
    for (size_t i = 0; i < report.size(); ++i) report[i] = static_cast<uint8_t>(i * 13 + 5);

    for (long i = 0; i < reports; ++i) {
        DeliverReport(port, report);
        // The UI thread's pass, now and then, as in a burst.
        if (i % 16 == 15) clock->RunPending();
    }
    const char* path = SignatureFold() == TSignatureFold::Table ? "table" : "carry-less";
    std::printf("%ld reports, %s fold, signature %08X\n", reports, path, handler->Signature());
    return 0;
}
