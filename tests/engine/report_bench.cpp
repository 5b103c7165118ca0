// Reports per second through ReportReceived and the hand-over to the UI thread.
#include <benchmark/benchmark.h>

#include "tests/engine/report_fixture.h"

namespace {
// The reading thread alone: the UI thread has not yet taken the posted restart,
// so every later report of the burst finds it queued (the common case in a burst).
void BM_ReportWithinBurst(benchmark::State& state) {
    TReportFixture f(static_cast<size_t>(state.range(0)));
    for (auto _ : state) f.port->Receive(f.report);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReportWithinBurst)->Arg(8)->Arg(64)->Arg(1024);

// Each report also handed over: the UI side runs the restart before the next
// report comes, so every report queues the task and restarts the quiet timer.
void BM_ReportHandedOverEachTime(benchmark::State& state) {
    TReportFixture f(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        f.port->Receive(f.report);
        f.clock->RunPending();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReportHandedOverEachTime)->Arg(8)->Arg(64)->Arg(1024);
}  // namespace
