#include "engine/kwcrc.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

// One report fold, as the reader thread does it per received report, by each way of folding.
static void BM_FoldReport(benchmark::State& state, TSignatureFold fold)
{
    if (!SelectSignatureFold(fold)) {
        state.SkipWithError("this processor cannot run this fold");
        return;
    }
    std::vector<uint8_t> report(static_cast<size_t>(state.range(0)));
    for (size_t i = 0; i < report.size(); ++i)
        report[i] = static_cast<uint8_t>(i * 7 + 1);
    for (auto _ : state) {
        uint32_t signature = UpdateSignature(report.data(), report.size(), SignatureNone);
        benchmark::DoNotOptimize(signature);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(report.size()));
    SelectSignatureFold(TSignatureFold::Auto);
}
BENCHMARK_CAPTURE(BM_FoldReport, table, TSignatureFold::Table)->Arg(8)->Arg(64)->Arg(1024);
BENCHMARK_CAPTURE(BM_FoldReport, carryless, TSignatureFold::CarryLess)->Arg(8)->Arg(64)->Arg(1024);

BENCHMARK_MAIN();
