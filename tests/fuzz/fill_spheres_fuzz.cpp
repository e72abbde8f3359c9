// fillSpheres on arbitrary diameters, edges, clearances and draws, on every
// path this CPU runs, with and without the cell grid: the same table, status
// and draws every way, the
// reference's packing whenever the fill completes, and a sound stop otherwise.

#include <vector>

#include "fill_spheres.h"
#include "fuzz_support.h"
#include "simd_path.h"
#include "test_support.h"

namespace {

struct Run {
    std::vector<double> table;
    FillStatus status;
    std::uint64_t draws;
};

Run fill(const std::vector<double>& diameters, double L, double s, const std::uint8_t* draws, std::size_t size) {
    ByteDraws stream(draws, size);
    RandomSource source = stream.source();
    Run run;
    const std::int32_t count = static_cast<std::int32_t>(diameters.size());
    run.table.assign(4 * diameters.size(), 0.0);
    std::vector<unsigned char> memory(fillSpheresWorkspaceBytes(diameters.data(), L, s, count));
    run.status = fillSpheres(diameters.data(), L, s, source, SphereTable{run.table.data(), count},
                             GridWorkspace{memory.data(), memory.size()});
    run.draws = stream.taken;
    return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzBytes bytes(data, size);
    const int count = bytes.byte() % 24;
    const double L = bytes.value();
    const double s = bytes.value();
    std::vector<double> diameters(count);
    for (double& d : diameters) d = bytes.value();

    forceSimdPath(SimdPath::Plain);
    forceSearchMode(SearchMode::AllPairs);
    const Run plain = fill(diameters, L, s, bytes.rest(), bytes.left());
    // Every other path, then every path through the grid and through the
    // grid with the map, forced at any size.
    for (int run = 1; run < 9; ++run) {
        forceSearchMode(run < 3 ? SearchMode::AllPairs : run < 6 ? SearchMode::Grid : SearchMode::Map);
        if (!forceSimdPath(run % 3 == 0 ? SimdPath::Plain : run % 3 == 1 ? SimdPath::Avx2 : SimdPath::Avx512))
            continue;
        const Run other = fill(diameters, L, s, bytes.rest(), bytes.left());
        FUZZ_CHECK(other.draws == plain.draws);
        FUZZ_CHECK(other.status.outcome == plain.status.outcome);
        FUZZ_CHECK(other.status.placed == plain.status.placed);
        FUZZ_CHECK(other.status.attempts == plain.status.attempts);
        FUZZ_CHECK(other.status.blocker == plain.status.blocker);
        for (std::size_t k = 0; k < plain.table.size(); ++k) FUZZ_CHECK(bitsOf(other.table[k]) == bitsOf(plain.table[k]));
    }
    forceSearchMode(SearchMode::Auto);

    // The reference places the same spheres with the same draws: all of them
    // when the fill completed, else those before the stop.
    const std::int32_t placed = plain.status.placed;
    const std::vector<double> prefix(diameters.begin(), diameters.begin() + placed);
    ByteDraws stream(bytes.rest(), bytes.left());
    RandomSource source = stream.source();
    std::vector<RefSphere> expected;
    FUZZ_CHECK(referenceFill(prefix, L, s, source, expected, plain.draws));
    const std::vector<double> columns = toColumns(expected);
    for (std::int32_t i = 0; i < placed; ++i)
        for (int c = 0; c < 4; ++c)
            FUZZ_CHECK(bitsOf(plain.table[c * count + i]) == bitsOf(columns[c * placed + i]));

    if (plain.status.outcome == FillOutcome::Complete) {
        FUZZ_CHECK(placed == count);
        FUZZ_CHECK(stream.taken == plain.draws);
        return 0;
    }
    // A stop: the last candidate in row `placed`, zeros after it, and a reason that holds.
    FUZZ_CHECK(placed < count && placed >= 1);
    FUZZ_CHECK(bitsOf(plain.table[3 * count + placed]) == bitsOf(diameters[placed] * 0.5));
    for (std::int32_t i = placed + 1; i < count; ++i)
        for (int c = 0; c < 4; ++c) FUZZ_CHECK(bitsOf(plain.table[c * count + i]) == 0);
    const std::int32_t j = plain.status.blocker;
    FUZZ_CHECK(j >= 0 && j < placed);
    const double limit = (diameters[placed] * 0.5 + plain.table[3 * count + j]) + s;
    switch (plain.status.outcome) {
    case FillOutcome::LimitNotFinite:
        FUZZ_CHECK(!(limit < std::numeric_limits<double>::infinity()));
        break;
    case FillOutcome::EdgeNotFinite:
        FUZZ_CHECK(!std::isfinite(L));
        break;
    case FillOutcome::AttemptCap:
        FUZZ_CHECK(plain.status.attempts == kMaxAttemptsPerSphere);
        break;
    case FillOutcome::Interrupted:
        FUZZ_CHECK(false);  // no check was given
        break;
    case FillOutcome::Complete:
        break;
    }
    return 0;
}
