// Speed of the all-pairs loops on each instruction-set path, against the
// plain oracle (-O2, baseline x86-64) and against the floor of the same vector
// square roots and divisions. Prints Google Benchmark's table, then a summary
// of speed-ups and multiples of the floor.
//
//   build/bench/bench_paths [--benchmark_repetitions=5 ...]

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "fill_spheres.h"
#include "floors.h"
#include "oracle.h"
#include "sum_gap_cubes.h"
#include "test_support.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

double edgeFor(int count, double phi) { return std::cbrt(count * (kPi / 6) / phi); }

// 8000 unit spheres packed at a volume fraction of 0.3, filled once.
const Spheres& sumTable() {
    static const Spheres table = [] {
        SeededDraws draws(1);
        RandomSource source = draws.source();
        std::int64_t tests = 0;
        return oracleFill(std::vector<double>(8000, 1.0), edgeFor(8000, 0.3), 0.0, source, tests);
    }();
    return table;
}

double pairsOf(const Spheres& t) { return 0.5 * t.count * (t.count - 1.0); }

void setPerItem(benchmark::State& state, double items, const char* name) {
    state.counters[name] = benchmark::Counter(items, benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

void sumOracle(benchmark::State& state, double T) {
    for (auto _ : state) benchmark::DoNotOptimize(oracleSum(sumTable(), T));
    setPerItem(state, pairsOf(sumTable()), "s_per_pair");
}

void sumPath(benchmark::State& state, SimdPath path, double T) {
    if (!forceSimdPath(path)) return state.SkipWithError("path not supported here");
    const ConstSphereTable table{sumTable().columns.data(), sumTable().count};
    for (auto _ : state) benchmark::DoNotOptimize(sumGapCubes(table, T));
    setPerItem(state, pairsOf(sumTable()), "s_per_pair");
}

void sumFloorOf(benchmark::State& state, SimdPath path) {
    if (!simdPathSupported(path)) return state.SkipWithError("path not supported here");
    const Spheres& t = sumTable();
    for (auto _ : state) benchmark::DoNotOptimize(sumFloor(path, t.columns.data(), t.columns.data() + 3 * t.count, t.count));
    setPerItem(state, pairsOf(t), "s_per_pair");
}

// 3000 unit spheres at the volume fraction phi, from the same draws each time.
struct FillCase {
    std::vector<double> diameters = std::vector<double>(3000, 1.0);
    double L;
    std::int64_t tests = 0;
    std::vector<double> table;
};

FillCase& fillCase(double phi) {
    static std::map<double, FillCase> cases;
    FillCase& c = cases[phi];
    if (c.tests == 0) {
        c.L = edgeFor(3000, phi);
        SeededDraws draws(2);
        RandomSource source = draws.source();
        c.table = oracleFill(c.diameters, c.L, 0.0, source, c.tests).columns;
    }
    return c;
}

void fillOracle(benchmark::State& state, double phi) {
    FillCase& c = fillCase(phi);
    for (auto _ : state) {
        SeededDraws draws(2);
        RandomSource source = draws.source();
        std::int64_t tests;
        benchmark::DoNotOptimize(oracleFill(c.diameters, c.L, 0.0, source, tests));
    }
    setPerItem(state, double(c.tests), "s_per_test");
}

void fillPath(benchmark::State& state, SimdPath path, double phi) {
    if (!forceSimdPath(path)) return state.SkipWithError("path not supported here");
    FillCase& c = fillCase(phi);
    std::vector<double> table(c.table.size());
    for (auto _ : state) {
        SeededDraws draws(2);
        RandomSource source = draws.source();
        fillSpheres(c.diameters.data(), c.L, 0.0, source, SphereTable{table.data(), 3000});
        benchmark::DoNotOptimize(table.data());
    }
    if (table != c.table) state.SkipWithError("table differs from the oracle's");
    setPerItem(state, double(c.tests), "s_per_test");
}

void fillFloorOf(benchmark::State& state, SimdPath path, double phi) {
    if (!simdPathSupported(path)) return state.SkipWithError("path not supported here");
    FillCase& c = fillCase(phi);
    for (auto _ : state)
        benchmark::DoNotOptimize(fillFloor(path, c.table.data(), std::int64_t(c.table.size()), c.tests));
    setPerItem(state, double(c.tests), "s_per_test");
}

const SimdPath kPaths[] = {SimdPath::Plain, SimdPath::Avx2, SimdPath::Avx512};

void registerAll() {
    const double inf = INFINITY;
    for (double T : {0.1, inf}) {
        const std::string tag = T == 0.1 ? "T=0.1" : "T=inf";
        benchmark::RegisterBenchmark(("sum/" + tag + "/oracle").c_str(), sumOracle, T);
        for (SimdPath p : kPaths)
            benchmark::RegisterBenchmark(("sum/" + tag + "/" + simdPathName(p)).c_str(), sumPath, p, T);
        for (SimdPath p : kPaths)
            benchmark::RegisterBenchmark(("sum/" + tag + "/floor-" + simdPathName(p)).c_str(), sumFloorOf, p);
    }
    for (double phi : {0.25, 0.33}) {
        const std::string tag = phi == 0.25 ? "phi=0.25" : "phi=0.33";
        benchmark::RegisterBenchmark(("fill/" + tag + "/oracle").c_str(), fillOracle, phi);
        for (SimdPath p : kPaths)
            benchmark::RegisterBenchmark(("fill/" + tag + "/" + simdPathName(p)).c_str(), fillPath, p, phi);
        for (SimdPath p : kPaths)
            benchmark::RegisterBenchmark(("fill/" + tag + "/floor-" + simdPathName(p)).c_str(), fillFloorOf, p, phi);
    }
}

// Keeps each run's time per item, to print the ratios at the end.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;  // per pair or per test

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.error_occurred || (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median")) continue;
            for (const auto& [name, counter] : r.counters)
                if (name.rfind("s_per_", 0) == 0) seconds[r.run_name.function_name] = counter.value;
        }
    }
};

void printSummary(const std::map<std::string, double>& seconds) {
    std::printf("\n%-18s %-8s %12s %10s %10s\n", "case", "path", "ns per item", "speed-up", "x floor");
    for (const char* group : {"sum/T=0.1", "sum/T=inf", "fill/phi=0.25", "fill/phi=0.33"}) {
        const std::string g = group;
        auto at = [&](const std::string& name) {
            auto it = seconds.find(g + "/" + name);
            return it == seconds.end() ? NAN : it->second;
        };
        const double oracle = at("oracle");
        std::printf("%-18s %-8s %12.3f %10s %10s\n", group, "oracle", oracle * 1e9, "1.00", "");
        for (SimdPath p : kPaths) {
            const double t = at(simdPathName(p));
            if (std::isnan(t)) continue;
            std::printf("%-18s %-8s %12.3f %10.2f %10.2f\n", group, simdPathName(p), t * 1e9, oracle / t,
                        t / at(std::string("floor-") + simdPathName(p)));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    registerAll();
    // Build the inputs before any timing.
    sumTable();
    fillCase(0.25);
    fillCase(0.33);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(reporter.seconds);
    benchmark::Shutdown();
    return 0;
}
