// sumGapCubes on arbitrary tables and thresholds, on every path this CPU
// runs and through the cell grid, against the simple reference.

#include <vector>

#include "fuzz_support.h"
#include "sum_gap_cubes.h"
#include "sum_gap_cubes_paths.h"
#include "test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzBytes bytes(data, size);
    const int count = bytes.byte() % 40;
    const double T = bytes.value();
    std::vector<RefSphere> spheres(count);
    for (RefSphere& s : spheres) s = {bytes.value(), bytes.value(), bytes.value(), bytes.value()};
    const std::vector<double> columns = toColumns(spheres);
    const ConstSphereTable table{columns.data(), count};

    const double want = referenceSum(spheres, T);
    FUZZ_CHECK(sameResult(sumGapCubesPlain(table, T), want));
#ifdef SPHEREFILL_X86_SIMD
    if (simdPathSupported(SimdPath::Avx2)) FUZZ_CHECK(sameResult(sumGapCubesAvx2(table, T), want));
    if (simdPathSupported(SimdPath::Avx512)) FUZZ_CHECK(sameResult(sumGapCubesAvx512(table, T), want));
#endif
    // Through the grid and the rows sorted by cell, forced at any size, on
    // every path.
    for (SearchMode mode : {SearchMode::Grid, SearchMode::Sorted}) {
        forceSearchMode(mode);
        for (SimdPath path : {SimdPath::Plain, SimdPath::Avx2, SimdPath::Avx512}) {
            if (!forceSimdPath(path)) continue;
            std::vector<unsigned char> memory(sumGapCubesWorkspaceBytes(table, T));
            FUZZ_CHECK(sameResult(sumGapCubes(table, T, GridWorkspace{memory.data(), memory.size()}), want));
        }
    }
    forceSearchMode(SearchMode::Auto);
    return 0;
}
