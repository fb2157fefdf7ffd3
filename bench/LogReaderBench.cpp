// The log viewer's reader over a folder of daily logs (see
// LogYearGenerator.cpp): one full load of every day, every kind.
//
// PLX_BENCH_LOGS names the folder that holds session/ and api/. Counters:
// the sessions loaded, the API lines attached, and the process's peak RSS
// in KiB after the load.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>

#include "client/LogFileReader.h"

namespace {

namespace fs = std::filesystem;

fs::path logFolder;

void loadEverything(benchmark::State& state) {
    plx::LogSettings folders;
    folders.sessionLogLocation = (logFolder / "session").string();
    folders.apiLogLocation = (logFolder / "api").string();
    std::size_t sessions = 0, attached = 0;
    for (auto _ : state) {
        plx::LogRecords records = plx::loadLogRecords(folders, {});
        sessions = records.sessionCount();
        attached = 0;
        for (std::size_t i = 0; i < sessions; ++i) attached += records.hasApi(i);
        benchmark::DoNotOptimize(records);
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["sessions"] = static_cast<double>(sessions);
    state.counters["attached"] = static_cast<double>(attached);
    state.counters["peak_rss_kib"] = static_cast<double>(usage.ru_maxrss);
    if (sessions == 0) state.SkipWithError("no session records: generate the logs first");
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const char* given = std::getenv("PLX_BENCH_LOGS");
    if (!given || !*given) {
        std::fprintf(stderr, "PLX_BENCH_LOGS must name a folder made by logyear_gen\n");
        return 1;
    }
    logFolder = given;
    benchmark::AddCustomContext("log_folder", logFolder.string());
    // One load of a year already takes long enough to measure, and keeps
    // the peak RSS that of a single load.
    benchmark::RegisterBenchmark("loadLogRecords/year", loadEverything)
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
