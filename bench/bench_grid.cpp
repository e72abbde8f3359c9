// Speed of the cell grids against the all-pairs loops, from 10^3 to 10^6
// spheres, and a check that both give the same bits wherever the all-pairs
// time is affordable. Prints Google Benchmark's table, then a summary.
//
//   build/bench/bench_grid [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "fill_spheres.h"
#include "pcg15.h"
#include "sum_gap_cubes.h"
#include "test_support.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Packing {
    std::vector<double> diameters;
    double L = 0, s = 0;
};

// Unit spheres at volume fraction phi, or diameters 1 and 10 with equal
// volume in each size (the large ones first, as they must come first to fit).
Packing packing(int count, double phi, bool twoSizes) {
    Packing p;
    if (twoSizes) {
        const int large = count / 1001;
        p.diameters.assign(large, 10.0);
        p.diameters.resize(count, 1.0);
    } else {
        p.diameters.assign(count, 1.0);
    }
    double volume = 0;
    for (double d : p.diameters) volume += kPi / 6 * d * d * d;
    p.L = std::cbrt(volume / phi);
    return p;
}

// Fresh memory, as a host's allocator hands it out: not yet touched.
struct Workspace {
    std::unique_ptr<char[]> data;
    std::size_t bytes;
    explicit Workspace(std::size_t n) : data(n ? new char[n] : nullptr), bytes(n) {}
    GridWorkspace view() const { return GridWorkspace{data.get(), bytes}; }
};

struct Fill {
    std::vector<double> table;
    std::uint64_t draws = 0;
    double seconds = 0;
    FillStatus status{};
};

// The generator of 1.x, the classic 32-bit congruential one, for comparison.
struct ClassicDraws {
    std::uint32_t state = 1;
    static std::int32_t drawNext(void* context) {
        auto* self = static_cast<ClassicDraws*>(context);
        self->state = self->state * 214013u + 2531011u;
        return static_cast<std::int32_t>((self->state >> 16) & 0x7FFF);
    }
};

// Draws from another generator (the classic one), counting them.
template <typename Generator>
struct CountedDraws {
    Generator generator;
    std::uint64_t taken = 0;
    static std::int32_t drawNext(void* context) {
        auto* self = static_cast<CountedDraws*>(context);
        ++self->taken;
        return Generator::drawNext(&self->generator);
    }
};

template <typename Generator = Pcg15>
Fill runFill(const Packing& p, SearchMode mode) {
    forceSearchMode(mode);
    const std::int32_t count = static_cast<std::int32_t>(p.diameters.size());
    CountedDraws<Generator> draws;
    RandomSource source{&CountedDraws<Generator>::drawNext, &draws};
    // The plug-in's generator as the plug-in binds it; its draws are counted
    // from its states.
    Pcg15 generator;
    if constexpr (std::is_same_v<Generator, Pcg15>)
        source = RandomSource{&Pcg15::drawNext, &generator, &Pcg15::skipDraws, &Pcg15::drawMany, &generator.state};
    Fill f;
    f.table.assign(4 * p.diameters.size(), 0.0);
    const auto start = std::chrono::steady_clock::now();
    const Workspace memory(fillSpheresWorkspaceBytes(p.diameters.data(), p.L, p.s, count));
    f.status = fillSpheres(p.diameters.data(), p.L, p.s, source, SphereTable{f.table.data(), count}, memory.view());
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    f.draws = std::is_same_v<Generator, Pcg15> ? Pcg15::drawsBetween(Pcg15::kInitialState, generator.state)
                                                : draws.taken;
    forceSearchMode(SearchMode::Auto);
    return f;
}

double runSum(const Fill& f, double T, SearchMode mode, double* seconds) {
    forceSearchMode(mode);
    const ConstSphereTable table{f.table.data(), static_cast<std::int32_t>(f.table.size() / 4)};
    const auto start = std::chrono::steady_clock::now();
    // As the plug-in calls it: one plan for the workspace and the sum.
    const GapSumPlan plan = planGapSum(table, T);
    const Workspace memory(sumGapCubesWorkspaceBytes(plan));
    const double S = sumGapCubesChecked(plan, memory.view(), InterruptCheck{}).sum;
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    forceSearchMode(SearchMode::Auto);
    return S;
}

// The packings, filled once under the cost rule.
struct Case {
    Packing packing;
    Fill grid;
};

std::map<std::string, Case>& cases() {
    static std::map<std::string, Case> all;
    return all;
}

Case& caseFor(const std::string& name, int count, double phi, bool twoSizes) {
    Case& c = cases()[name];
    if (c.packing.diameters.empty()) {
        c.packing = packing(count, phi, twoSizes);
        c.grid = runFill(c.packing, SearchMode::Auto);
    }
    return c;
}

// Up to this many spheres the all-pairs fill is run too, and compared.
constexpr int kCheckUpTo = 40000;

void fillBench(benchmark::State& state, std::string name, int count, double phi, bool twoSizes, SearchMode mode) {
    Case& c = caseFor(name, count, phi, twoSizes);
    Fill last;
    for (auto _ : state) {
        last = runFill(c.packing, mode);
        state.SetIterationTime(last.seconds);
    }
    if (last.table != c.grid.table || last.draws != c.grid.draws) state.SkipWithError("differs from the auto fill");
    const double attempts = last.draws / 3.0;
    state.counters["attempts_per_sphere"] = attempts / count;
    state.counters["ns_per_attempt"] = 1e9 * last.seconds / attempts;
}

// A packing's table with its rows sorted by x, as a user may sort it.
Fill sortedByX(const Fill& f) {
    const std::size_t n = f.table.size() / 4;
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&f](std::size_t a, std::size_t b) { return f.table[a] < f.table[b]; });
    Fill out = f;
    for (std::size_t i = 0; i < n; ++i)
        for (int c = 0; c < 4; ++c) out.table[c * n + i] = f.table[c * n + order[i]];
    return out;
}

// One pass that only reads the table and the copy of it a grid would hold:
// what a sum costs at the least.
double readFloor(const Fill& f, double* seconds) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<double> copy(f.table.size());
    double sum = 0;
    for (std::size_t k = 0; k < f.table.size(); ++k) copy[k] = f.table[k];
    for (double v : copy) sum += v;
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return sum;
}

void sumBench(benchmark::State& state, std::string fill, int count, bool twoSizes, bool byX, double T,
              SearchMode mode) {
    Case& c = caseFor(fill, count, 0.3, twoSizes);
    const Fill table = byX ? sortedByX(c.grid) : c.grid;
    double S = 0, seconds = 0, floor = 0;
    for (auto _ : state) {
        S = runSum(table, T, mode, &seconds);
        state.SetIterationTime(seconds);
    }
    // Once per case where all pairs are affordable: the same bits.
    if (count <= kCheckUpTo && mode != SearchMode::AllPairs) {
        double other;
        if (bitsOf(runSum(table, T, SearchMode::AllPairs, &other)) != bitsOf(S))
            state.SkipWithError("grid and all pairs differ");
    }
    readFloor(table, &floor);
    state.counters["sum"] = S;
    state.counters["floor_ms"] = 1e3 * floor;
}

// The cases of the dense-fill goals, each with the map by the cost rule and
// with the grid alone: unit spheres at a volume fraction, a shuffled mixture
// of diameters 1 and 2 with clearance 0.05, and 1:10 largest first.
enum class Mix { Unit, OneAndTwo, OneToTen };

Packing goalPacking(int count, double phi, Mix mix) {
    if (mix == Mix::OneToTen) return packing(count, phi, true);
    Packing p = packing(count, phi, false);
    if (mix == Mix::OneAndTwo) {
        Pcg15 order;
        for (double& d : p.diameters) d = Pcg15::drawNext(&order) & 1 ? 2.0 : 1.0;
        double volume = 0;
        for (double d : p.diameters) volume += kPi / 6 * d * d * d;
        p.L = std::cbrt(volume / phi);
        p.s = 0.05;
    }
    return p;
}

void goalBench(benchmark::State& state, int count, double phi, Mix mix, SearchMode mode) {
    const Packing p = goalPacking(count, phi, mix);
    Fill last;
    for (auto _ : state) {
        last = runFill(p, mode);
        state.SetIterationTime(last.seconds);
    }
    const double attempts = last.draws / 3.0;
    state.counters["attempts_per_sphere"] = attempts / count;
    state.counters["map_share"] = last.status.mapRejected / attempts;
    state.counters["ns_per_attempt"] = 1e9 * last.seconds / attempts;
    state.counters["outcome"] = static_cast<double>(last.status.outcome);
    state.counters["placed"] = last.status.placed;
}

void addGoals() {
    struct Goal {
        const char* name;
        int count;
        double phi;
        Mix mix;
    };
    const Goal goals[] = {
        {"N=10000/phi=0.30", 10000, 0.30, Mix::Unit},       {"N=100000/phi=0.30", 100000, 0.30, Mix::Unit},
        {"N=1000000/phi=0.30", 1000000, 0.30, Mix::Unit},   {"N=100000/phi=0.36", 100000, 0.36, Mix::Unit},
        {"N=100000/phi=0.37", 100000, 0.37, Mix::Unit},     {"N=1000000/phi=0.36", 1000000, 0.36, Mix::Unit},
        {"N=1000000/phi=0.37", 1000000, 0.37, Mix::Unit},   {"N=10000000/phi=0.30", 10000000, 0.30, Mix::Unit},
        {"N=10000/phi=0.45", 10000, 0.45, Mix::Unit},       {"1and2/N=100000/phi=0.30", 100000, 0.30, Mix::OneAndTwo},
        {"1:10/N=100000/phi=0.30", 100000, 0.30, Mix::OneToTen},
    };
    for (const Goal& g : goals)
        for (SearchMode mode : {SearchMode::Auto, SearchMode::Grid})
            benchmark::RegisterBenchmark((std::string("goal/") + g.name + "/" + searchModeName(mode)).c_str(),
                                         goalBench, g.count, g.phi, g.mix, mode)
                ->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
}

// A fill with the classic generator: its time against the plug-in's.
void classicFillBench(benchmark::State& state, int count) {
    const Packing p = packing(count, 0.30, false);
    Fill last;
    for (auto _ : state) {
        last = runFill<ClassicDraws>(p, SearchMode::Auto);
        state.SetIterationTime(last.seconds);
    }
    state.counters["ns_per_attempt"] = 1e9 * last.seconds / (last.draws / 3.0);
}

// One draw through RandomSource, as the fill makes it.
template <typename Generator>
void drawBench(benchmark::State& state) {
    Generator generator;
    RandomSource source{&Generator::drawNext, &generator};
    std::int32_t sum = 0;
    for (auto _ : state)
        for (int k = 0; k < 1000; ++k) sum += source.next();
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * 1000);
}

void addFill(const std::string& name, int count, double phi, bool twoSizes, SearchMode mode) {
    const int reps = count <= 10000 ? 5 : 1;
    benchmark::RegisterBenchmark((name + "/" + searchModeName(mode)).c_str(), fillBench, name, count, phi, twoSizes, mode)
        ->UseManualTime()->Iterations(reps)->Unit(benchmark::kMillisecond);
}

void addSum(const std::string& fill, int count, double T, SearchMode mode, bool twoSizes = false, bool byX = false) {
    const std::string tag = T == 0.1 ? "0.1" : T == 1 ? "1" : "inf";
    const std::string name = std::string("sum") + (twoSizes ? "/1:10" : "") + (byX ? "/rows-by-x" : "") + "/T=" +
                             tag + "/N=" + std::to_string(count) + "/" + searchModeName(mode);
    const int reps = count <= 10000 ? 5 : mode != SearchMode::AllPairs ? 3 : 1;
    benchmark::RegisterBenchmark(name.c_str(), sumBench, fill, count, twoSizes, byX, T, mode)
        ->UseManualTime()->Iterations(reps)->Unit(benchmark::kMillisecond);
}

// auto is the cost rule; grid and pairs are forced. Small sizes show the
// crossover, large ones the goals; the cases of the all-pairs benchmark
// (fills of 3000 at 0.25 and 0.33, sums over 8000) show that the rule makes
// none of them slower.
void registerAll() {
    for (int count : {250, 500, 1000, 3000, 10000, 32000, 100000, 1000000}) {
        const std::string fill = "fill/phi=0.30/N=" + std::to_string(count);
        addFill(fill, count, 0.30, false, SearchMode::Auto);
        if (count <= 3000) addFill(fill, count, 0.30, false, SearchMode::Grid);
        if (count <= kCheckUpTo) addFill(fill, count, 0.30, false, SearchMode::AllPairs);
        for (double T : {0.1, 1.0}) {
            addSum(fill, count, T, SearchMode::Auto);
            addSum(fill, count, T, SearchMode::Grid);
            if (count <= 3000) addSum(fill, count, T, SearchMode::Sorted);
            if (count <= 100000) addSum(fill, count, T, SearchMode::AllPairs);
        }
    }
    for (double phi : {0.25, 0.33}) {
        const std::string fill = std::string("fill/phi=") + (phi == 0.25 ? "0.25" : "0.33") + "/N=3000";
        addFill(fill, 3000, phi, false, SearchMode::Auto);
        addFill(fill, 3000, phi, false, SearchMode::AllPairs);
    }
    for (double T : {0.1, double(INFINITY)}) {
        addSum("fill/phi=0.30/N=8000", 8000, T, SearchMode::Auto);
        addSum("fill/phi=0.30/N=8000", 8000, T, SearchMode::AllPairs);
    }
    // Attempts per sphere against the volume fraction.
    for (double phi : {0.1, 0.2, 0.34, 0.36}) {
        char name[64];
        std::snprintf(name, sizeof name, "fill/phi=%.2f/N=10000", phi);
        addFill(name, 10000, phi, false, SearchMode::Auto);
    }
    // The generator: a draw, and whole fills with the classic one of 1.x.
    addGoals();
    benchmark::RegisterBenchmark("draws/pcg15", drawBench<Pcg15>);
    benchmark::RegisterBenchmark("draws/pcg15-bulk", [](benchmark::State& state) {
        Pcg15 generator;
        RandomSource source{&Pcg15::drawNext, &generator, &Pcg15::skipDraws, &Pcg15::drawMany};
        std::int32_t out[48];
        std::int32_t sum = 0;
        for (auto _ : state) {
            for (int k = 0; k < 1000; k += 48) {
                source.next(out, 48);
                sum += out[k % 48];
            }
        }
        benchmark::DoNotOptimize(sum);
        state.SetItemsProcessed(state.iterations() * 1008);
    });
    benchmark::RegisterBenchmark("draws/classic", drawBench<ClassicDraws>);
    for (int count : {10000, 100000})
        benchmark::RegisterBenchmark(("fill/phi=0.30/N=" + std::to_string(count) + "/classic").c_str(),
                                     classicFillBench, count)
            ->UseManualTime()->Iterations(count <= 10000 ? 5 : 3)->Unit(benchmark::kMillisecond);
    addFill("fill/phi=0.34/N=100000", 100000, 0.34, false, SearchMode::Auto);
    addFill("fill/1:10/phi=0.30/N=100000", 100000, 0.30, true, SearchMode::Auto);
    // Sums of a table whose rows a user sorted by x, and of two sizes.
    addSum("fill/phi=0.30/N=1000000", 1000000, 0.1, SearchMode::Auto, false, true);
    addSum("fill/phi=0.30/N=1000000", 1000000, 0.1, SearchMode::Grid, false, true);
    for (double T : {0.1, 1.0}) {
        addSum("fill/1:10/phi=0.30/N=100000", 100000, T, SearchMode::Auto, true);
        addSum("fill/1:10/phi=0.30/N=100000", 100000, T, SearchMode::Grid, true);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
