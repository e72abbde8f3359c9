// The cell grid and the rows sorted by cell against the all-pairs loops: for
// a table of packings and thresholds, the fill's table, draws and status and
// every sum must be the same bits with each search forced as with all pairs
// forced. The same table also pins the bits across machines, through a
// recorded digest.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "fill_spheres.h"
#include "pcg15.h"
#include "sorted_cells.h"
#include "sum_gap_cubes.h"
#include "test_support.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
constexpr double kPi = 3.14159265358979323846;

// Draws from another source, optionally bent: to the faces of the cube
// (0 and 32767 half the time), or onto a lattice of 8 values per axis, where
// distances equal to a limit are common.
struct BentDraws {
    enum Bend { None, Faces, Lattice };
    RandomSource base;
    Bend bend;
    std::uint64_t taken = 0;

    static std::int32_t drawNext(void* context) {
        auto* self = static_cast<BentDraws*>(context);
        ++self->taken;
        const std::int32_t d = self->base.next();
        switch (self->bend) {
        case Faces:
            return d % 4 == 0 ? 0 : d % 4 == 1 ? 32767 : d;
        case Lattice:
            return 4681 * (d % 8);
        case None:
            break;
        }
        return d;
    }
};

struct FillCase {
    std::string name;
    std::vector<double> diameters;
    double L, s;
    BentDraws::Bend bend = BentDraws::None;
};

std::vector<double> sizes(std::initializer_list<std::pair<int, double>> runs) {
    std::vector<double> out;
    for (const auto& [count, d] : runs) out.insert(out.end(), count, d);
    return out;
}

double edgeFor(const std::vector<double>& diameters, double phi) {
    double volume = 0;
    for (double d : diameters) volume += kPi / 6 * d * d * d;
    // On a grid of 2^-16, so that every machine has the same L: cbrt is not
    // correctly rounded, and C runtimes differ in its last bit.
    return std::ldexp(std::round(std::ldexp(std::cbrt(volume / phi), 16)), -16);
}

// A mixture dense for its large spheres only: by the cost rule the map
// serves those alone.
const char* const kLargeServed = "1:2 shuffled, dense for the large";

std::vector<FillCase> fillCases() {
    std::vector<FillCase> cases;
    auto add = [&cases](std::string name, std::vector<double> d, double phi, double s,
                        BentDraws::Bend bend = BentDraws::None) {
        const double L = edgeFor(d, phi);
        cases.push_back({std::move(name), std::move(d), L, s, bend});
    };
    add("equal sizes, dense", sizes({{3000, 1.0}}), 0.3, 0.0);
    add("1:10, large first", sizes({{12, 10.0}, {2500, 1.0}}), 0.25, 0.01);
    add("1:100, giant first", sizes({{1, 100.0}, {1500, 1.0}}), 0.3, 0.0);
    add("1:10, small first", sizes({{1500, 1.0}, {6, 10.0}}), 0.02, 0.0);
    std::vector<double> shuffled;
    SeededDraws pick(3);
    for (int k = 0; k < 1200; ++k) shuffled.push_back(SeededDraws::drawNext(&pick) % 5 == 0 ? 3.0 : 1.0);
    add("1:3, shuffled", shuffled, 0.15, 0.02);
    std::vector<double> mixed;
    for (int k = 0; k < 1500; ++k) mixed.push_back(SeededDraws::drawNext(&pick) & 1 ? 2.0 : 1.0);
    add(kLargeServed, mixed, 0.28, 0.05);
    add("negative clearance, crowded cells", sizes({{2000, 1.0}}), 0.8, -0.45);
    add("large clearance", sizes({{800, 1.0}}), 0.01, 2.5);
    add("zero and negative diameters", sizes({{300, 1.0}, {300, 0.0}, {300, -0.5}, {300, 1.0}}), 0.2, 0.1);
    add("giant last", sizes({{1000, 1.0}, {1, 8.0}}), 0.02, 0.0);
    add("ties on a lattice", sizes({{300, 1.0}}), 0.3, 0.0, BentDraws::Lattice);
    cases.back().L = 7.0;  // lattice sites one apart; limits of exactly 1
    add("candidates on the faces", sizes({{1500, 1.0}}), 0.1, 0.0, BentDraws::Faces);
    cases.push_back({"L an exact multiple of the cell edge", sizes({{1536, 1.0}}), 32.0, 0.0});
    cases.push_back({"negative L", sizes({{1500, 1.0}}), -30.0, 0.0});
    cases.push_back({"huge sparse cube", sizes({{600, 1.0}}), 1e6, 0.0});
    cases.push_back({"tiny cube", sizes({{40, 0.1}}), 1.0, 0.0});
    cases.push_back({"a subnormal cube", sizes({{30, 0.0}}), 5e-324, -1.0});
    cases.push_back({"NaN edge", sizes({{5, 1.0}}), kNaN, 0.0});
    cases.push_back({"infinite clearance", sizes({{5, 1.0}}), 10.0, kInf});
    cases.push_back({"infinite diameter", sizes({{3, 1.0}, {1, kInf}, {3, 1.0}}), 10.0, 0.0});
    cases.push_back({"NaN diameter", sizes({{3, 1.0}, {1, kNaN}, {3, 1.0}}), 10.0, 0.0});
    cases.push_back({"a cube too small stops at the cap", sizes({{3, 10.0}}), 1.0, 0.0});
    return cases;
}

struct Filled {
    std::vector<double> table;
    FillStatus status;
    std::uint64_t draws;
    bool grid;  // whether the call was given a workspace
};

// Draws from `base`, or else from a sequence seeded by the case's size.
Filled fill(const FillCase& c, SearchMode mode, RandomSource* base = nullptr) {
    forceSearchMode(mode);
    const std::int32_t count = static_cast<std::int32_t>(c.diameters.size());
    SeededDraws seeded(count);
    BentDraws draws{base ? *base : seeded.source(), c.bend};
    RandomSource source{&BentDraws::drawNext, &draws};
    std::vector<unsigned char> memory(fillSpheresWorkspaceBytes(c.diameters.data(), c.L, c.s, count));
    Filled out;
    out.table.assign(4 * c.diameters.size(), 0.0);
    out.status = fillSpheres(c.diameters.data(), c.L, c.s, source, SphereTable{out.table.data(), count},
                             GridWorkspace{memory.data(), memory.size()});
    out.draws = draws.taken;
    out.grid = !memory.empty();
    forceSearchMode(SearchMode::Auto);
    return out;
}

// The sum with a search forced, given the workspace it asks for, or
// `workspaceBytes` bytes.
double sumWith(SearchMode mode, ConstSphereTable table, double T, std::size_t workspaceBytes = 0) {
    forceSearchMode(mode);
    std::vector<unsigned char> memory(workspaceBytes ? workspaceBytes : sumGapCubesWorkspaceBytes(table, T));
    const double got = sumGapCubes(table, T, GridWorkspace{memory.data(), memory.size()});
    forceSearchMode(SearchMode::Auto);
    return got;
}

TEST(CellGrid, FillsAndSumsAreThoseOfTheAllPairsLoops) {
    const double thresholds[] = {-kInf, -1.0, 0.0, 1e-3, 0.1, 1.0, 10.0, 1e300, kInf, kNaN};
    for (const FillCase& c : fillCases()) {
        SCOPED_TRACE(c.name);
        const Filled pairs = fill(c, SearchMode::AllPairs);
        bool finite = std::isfinite(c.L) && std::isfinite(c.s);
        for (double d : c.diameters) finite &= std::isfinite(d);
        for (SearchMode mode : {SearchMode::Grid, SearchMode::Map, SearchMode::Auto}) {
            SCOPED_TRACE(searchModeName(mode));
            const Filled grid = fill(c, mode);
            if (mode == SearchMode::Auto && c.name == kLargeServed) {
                EXPECT_GT(grid.status.mapRejected, 0);
            }
            if (mode != SearchMode::Auto) {
                EXPECT_EQ(grid.grid, finite) << "the grid runs wherever every value is finite";
            }
            EXPECT_EQ(bitsOf(grid.table), bitsOf(pairs.table));
            EXPECT_EQ(grid.draws, pairs.draws);
            EXPECT_EQ(grid.status.outcome, pairs.status.outcome);
            EXPECT_EQ(grid.status.placed, pairs.status.placed);
            EXPECT_EQ(grid.status.attempts, pairs.status.attempts);
            EXPECT_EQ(grid.status.blocker, pairs.status.blocker);
        }

        const ConstSphereTable table{pairs.table.data(), static_cast<std::int32_t>(c.diameters.size())};
        for (double T : thresholds) {
            forceSearchMode(SearchMode::AllPairs);
            const double want = sumGapCubes(table, T);
            for (SearchMode mode : {SearchMode::Grid, SearchMode::Sorted}) {
                const double got = sumWith(mode, table, T);
                EXPECT_TRUE(sameResult(got, want)) << searchModeName(mode) << ", T " << T << ": " << got
                                                   << " against " << want;
            }
        }
    }
}

// Tables the fill does not make: centres outside any cube, NaN and infinite
// coordinates, huge and tiny radii, coincident centres, and a lattice whose
// cell faces pass through its points, radii for which a pair's term depends
// on which row is i, with a threshold that includes the pairs one spacing
// apart by a hair.
// Where the source is the plug-in's generator, the map may draw and test the
// attempts itself: the same fill, to the generator's last state, as the
// generator drawn through the source.
TEST(CellGrid, TheMapScanningTheGeneratorsDrawsGivesTheSameFill) {
    std::vector<FillCase> cases = fillCases();
    // More than fit: nearly every block dies, and the last sphere runs to the cap.
    const std::vector<double> many = sizes({{200, 1.0}});
    cases.push_back({"more spheres than fit", many, edgeFor(many, 0.5), 0.0});
    // A few large spheres close the cube while the map scans: the last one
    // proves every block dead, with attempts drawn ahead.
    for (double d : {1.6, 1.75, 1.9}) cases.push_back({"closed by " + std::to_string(d), sizes({{1, d}, {40, 1.0}}), 1.0, 0.0});
    for (const FillCase& c : cases) {
        if (c.bend != BentDraws::None) continue;
        SCOPED_TRACE(c.name);
        const std::int32_t count = static_cast<std::int32_t>(c.diameters.size());
        Pcg15 scanned, drawn;
        RandomSource sources[2] = {
            {&Pcg15::drawNext, &scanned, &Pcg15::skipDraws, &Pcg15::drawMany, &scanned.state},
            {&Pcg15::drawNext, &drawn, &Pcg15::skipDraws, &Pcg15::drawMany}};
        std::vector<double> tables[2];
        FillStatus status[2];
        forceSearchMode(SearchMode::Map);
        for (int k = 0; k < 2; ++k) {
            std::vector<unsigned char> memory(fillSpheresWorkspaceBytes(c.diameters.data(), c.L, c.s, count));
            tables[k].assign(4 * c.diameters.size(), 0.0);
            status[k] = fillSpheres(c.diameters.data(), c.L, c.s, sources[k], SphereTable{tables[k].data(), count},
                                    GridWorkspace{memory.data(), memory.size()});
        }
        forceSearchMode(SearchMode::Auto);
        EXPECT_EQ(bitsOf(tables[0]), bitsOf(tables[1]));
        EXPECT_EQ(scanned.state, drawn.state);
        EXPECT_EQ(status[0].outcome, status[1].outcome);
        EXPECT_EQ(status[0].placed, status[1].placed);
        EXPECT_EQ(status[0].attempts, status[1].attempts);
        EXPECT_EQ(status[0].blocker, status[1].blocker);
    }
}

TEST(CellGrid, SumsOfOddTablesAreThoseOfTheAllPairsLoop) {
    SeededDraws seeded(11);
    auto uniform = [&seeded] { return SeededDraws::drawNext(&seeded) / 32767.0; };
    using Table = std::vector<RefSphere>;
    auto generate = [](int count, const std::function<RefSphere(int)>& make) {
        Table out;
        for (int k = 0; k < count; ++k) out.push_back(make(k));
        return out;
    };
    // 9 x 9 x 9 sites one apart, each taken twice or more: 1536 spheres give
    // 8 cells of edge exactly 1 per axis.
    const Table lattice = generate(1536, [](int k) {
        const int site = k % 729;
        return RefSphere{double(site % 9), double(site / 9 % 9), double(site / 81), 0.25};
    });
    const std::vector<std::pair<std::string, Table>> tables = {
        {"spread over 1e9", generate(400, [&](int) { return RefSphere{1e9 * uniform(), uniform(), -1e9 * uniform(), 1.0}; })},
        {"coincident pairs", generate(400, [&](int k) { return RefSphere{double(k / 2), 0, 0, 0.5}; })},
        {"a NaN coordinate", generate(400, [&](int k) { return RefSphere{k == 7 ? kNaN : 20 * uniform(), 20 * uniform(), 0, 1}; })},
        {"an infinite coordinate", generate(400, [&](int k) { return RefSphere{k == 3 ? kInf : 20 * uniform(), 0, 0, 1}; })},
        {"tiny radii", generate(400, [&](int) { return RefSphere{uniform(), uniform(), uniform(), 1e-300}; })},
        {"huge radii", generate(400, [&](int) { return RefSphere{1e200 * uniform(), 0, 0, 1e150}; })},
        {"zero radii", generate(400, [&](int k) { return RefSphere{double(k % 5), 0, 0, k % 2 ? 0.0 : 0.5}; })},
        {"-0.0 radii", generate(400, [&](int k) { return RefSphere{double(k % 7), 0, 0, k % 3 ? -0.0 : 1.0}; })},
        {"a negative radius", generate(400, [&](int k) { return RefSphere{10 * uniform(), 10 * uniform(), 0, k == 9 ? -1.0 : 1.0}; })},
        {"a lattice on the cell faces", lattice},
        {"radii 4 apart: two size classes", generate(400, [&](int k) { return RefSphere{8 * uniform(), 8 * uniform(), 8 * uniform(), k % 2 ? 1.0 : 0.25}; })},
        {"radii just under 4 apart: one size class", generate(400, [&](int k) {
             return RefSphere{8 * uniform(), 8 * uniform(), 8 * uniform(), k % 2 ? 1.0 : std::nextafter(0.25, 1.0)};
         })},
        {"radii of many bits, whose two orders of subtraction round apart", generate(400, [&](int) {
             return RefSphere{16 * uniform(), 16 * uniform(), 16 * uniform(), 0.3 + 0.7 * uniform() * uniform()};
         })},
        {"a dense cluster: rows with hundreds of terms", generate(1200, [&](int k) {
             return k < 700 ? RefSphere{uniform(), uniform(), uniform(), 0.5} : RefSphere{30 * uniform(), 30 * uniform(), 30 * uniform(), 0.5};
         })},
    };
    for (const auto& [name, spheres] : tables) {
        SCOPED_TRACE(name);
        const std::vector<double> data = toColumns(spheres);
        const ConstSphereTable table{data.data(), static_cast<std::int32_t>(spheres.size())};
        for (double T : {-1.0, -0.5, 0.0, 0.1, 1.0, 1 + 0x1p-40, 1e300}) {
            const double want = referenceSum(spheres, T);
            for (SearchMode mode : {SearchMode::Grid, SearchMode::Sorted})
                EXPECT_TRUE(sameResult(sumWith(mode, table, T), want)) << searchModeName(mode) << ", T " << T;
        }
    }
}

// A row's terms are put in ascending j before they are added, by rank up to
// a few vectors of them and by insertion beyond, and a row with more than
// fit is added by the plain loop: a last row with k earlier neighbours on a
// half shell above it, in rows that lie in no order of space, for k on either
// side of each of those bounds. Alone, and followed by a wide lattice of
// spheres that meet none (so the sum is the shell's): there the terms are
// few enough to be kept all at once, and from 1100 on, more pairs than a
// row may keep are met from the last row.
TEST(CellGrid, SumsAddEachRowsTermsInOrderWhateverTheirNumber) {
    SeededDraws seeded(5);
    auto uniform = [&seeded] { return SeededDraws::drawNext(&seeded) / 32767.0; };
    std::vector<RefSphere> lattice;
    for (int a = 0; a < 62; ++a)
        for (int b = 0; b < 62; ++b)
            for (int c = 0; c < 62; ++c) lattice.push_back({10.0 + 3 * a, 3.0 * b, 3.0 * c, 0.5});
    for (int k : {1, 2, 3, 4, 5, 8, 9, 16, 17, 31, 32, 33, 34, 64, 511, 512, 513, 700, 1100}) {
        std::vector<RefSphere> spheres;
        while (static_cast<int>(spheres.size()) < k) {
            const double x = 2 * uniform() - 1, y = 2 * uniform() - 1, z = uniform();
            const double norm = std::sqrt(x * x + y * y + z * z);
            if (!(norm > 0.1 && norm <= 1)) continue;
            const double distance = 1.05 + 0.1 * uniform();
            spheres.push_back({distance * x / norm, distance * y / norm, distance * z / norm, 0.5});
        }
        spheres.push_back({0, 0, 0, 0.5});
        const double want = referenceSum(spheres, 0.2);
        std::vector<RefSphere> widened = spheres;
        widened.insert(widened.end(), lattice.begin(), lattice.end());
        for (const std::vector<RefSphere>* rows : {&spheres, &widened}) {
            const std::vector<double> data = toColumns(*rows);
            const ConstSphereTable table{data.data(), static_cast<std::int32_t>(rows->size())};
            EXPECT_TRUE(sameResult(sumWith(SearchMode::Sorted, table, 0.2), want)) << k << " terms, " << rows->size();
        }
    }
}

// The grid's proof holds for radii of +0.0 and from 2^-400 to 2^400; any
// other radius sends the sum to all pairs (no workspace asked for).
TEST(CellGrid, SumsTakeTheGridOnlyForRadiiInItsRange) {
    const double least = 0x1p-400, most = 0x1p400;
    const std::vector<std::pair<double, bool>> radii = {
        {0.0, true},   {least, true},  {1.0, true},           {most, true},
        {-0.0, false}, {-1.0, false},  {std::nextafter(least, 0.0), false},
        {kNaN, false}, {kInf, false},  {std::nextafter(most, kInf), false},
    };
    for (const auto& [r, grid] : radii) {
        const std::vector<double> data = toColumns({{0, 0, 0, 1}, {3, 0, 0, r}});
        forceSearchMode(SearchMode::Sorted);
        EXPECT_EQ(sumGapCubesWorkspaceBytes(ConstSphereTable{data.data(), 2}, 0.1) > 0, grid) << r;
        forceSearchMode(SearchMode::Auto);
    }
}

// The order of the rows is the order of the sum, whatever the order of the
// cells: a packing with its rows sorted by x, reversed and shuffled, summed
// in cell order against all pairs. With the workspace cut to little more
// than the sorted copy, the kept terms fill up many times and the rows go in
// short slices, whose boundaries fall between rows with terms.
TEST(CellGrid, SumsInCellOrderKeepTheOrderOfTheRows) {
    SeededDraws draws(5);
    RandomSource source = draws.source();
    std::vector<RefSphere> packing;
    ASSERT_TRUE(referenceFill(std::vector<double>(2500, 1.0), 18.0, 0.0, source, packing));
    std::vector<RefSphere> byX = packing, reversed(packing.rbegin(), packing.rend()), shuffled = packing;
    std::sort(byX.begin(), byX.end(), [](const RefSphere& a, const RefSphere& b) { return a.x < b.x; });
    for (std::size_t k = shuffled.size() - 1; k > 0; --k)
        std::swap(shuffled[k], shuffled[SeededDraws::drawNext(&draws) % (k + 1)]);
    const std::vector<std::pair<std::string, std::vector<RefSphere>>> orders = {
        {"as filled", packing}, {"sorted by x", byX}, {"reversed", reversed}, {"shuffled", shuffled}};
    for (const auto& [name, spheres] : orders) {
        SCOPED_TRACE(name);
        const std::vector<double> data = toColumns(spheres);
        const ConstSphereTable table{data.data(), static_cast<std::int32_t>(spheres.size())};
        forceSearchMode(SearchMode::Sorted);
        const std::size_t full = sumGapCubesWorkspaceBytes(table, 1.0);
        EXPECT_LE(full, 64 * spheres.size() + 40000) << "the bound the README gives";
        for (double T : {0.1, 1.0, 3.0}) {
            const double want = referenceSum(spheres, T);
            for (std::size_t bytes : {full, SortedCells::workspaceBytes(table.rows) + 64 + 8200})
                EXPECT_TRUE(sameResult(sumWith(SearchMode::Sorted, table, T, bytes), want))
                    << "T " << T << ", " << bytes << " bytes";
        }
    }
}

// The same packings and sums, as the entry points run them (the cost rule
// chooses the search) and drawing from a freshly loaded plug-in's source,
// reduced to one digest of their bits. The recorded digests come from x86-64
// Linux: one for the plug-in's own generator, one for the C runtime's rand
// where RAND_MAX is 32767 (Windows); every other machine, compiler and
// instruction-set path must give the one of its source. NaN counts as one
// value, since its sign and payload are not promised.
TEST(SameBitsEverywhere, FillsAndSumsGiveTheRecordedDigest) {
#if RAND_MAX == 32767
    constexpr std::uint64_t kRecorded = 0x8819dbe7a19f3304;
    std::srand(1);  // the runtime's rand from its start, whatever ran before
    RandomSource plugin{[](void*) { return static_cast<std::int32_t>(std::rand()); }, nullptr};
#else
    constexpr std::uint64_t kRecorded = 0x4dbf0639a20662cc;
    Pcg15 generator;
    RandomSource plugin{&Pcg15::drawNext, &generator};
#endif
    std::uint64_t digest = 14695981039346656037u;  // FNV-1a, 64 bits
    auto add = [&digest](std::uint64_t word) {
        for (int byte = 0; byte < 8; ++byte) digest = (digest ^ ((word >> (8 * byte)) & 0xff)) * 1099511628211u;
    };
    auto addValue = [&add](double v) { add(std::isnan(v) ? 0x7ff8000000000000u : bitsOf(v)); };
    for (const FillCase& c : fillCases()) {
        // The three long ones would cost a minute under an emulator.
        if (c.name == "a cube too small stops at the cap" || c.name == "ties on a lattice" ||
            c.name == "large clearance" || c.name == kLargeServed)
            continue;
        const Filled filled = fill(c, SearchMode::Auto, &plugin);
        for (double v : filled.table) addValue(v);
        add(filled.draws);
        add(static_cast<std::uint64_t>(filled.status.outcome));
        add(static_cast<std::uint64_t>(filled.status.placed));
        add(static_cast<std::uint64_t>(filled.status.attempts));
        add(static_cast<std::uint64_t>(filled.status.blocker));
        const ConstSphereTable table{filled.table.data(), static_cast<std::int32_t>(c.diameters.size())};
        for (double T : {-1.0, 0.0, 0.1, 1.0}) {
            std::vector<unsigned char> memory(sumGapCubesWorkspaceBytes(table, T));
            addValue(sumGapCubes(table, T, GridWorkspace{memory.data(), memory.size()}));
        }
    }
    EXPECT_EQ(digest, kRecorded) << std::hex << digest;
}

// The grid's memory grows with the number of spheres only, and stays within
// the bound the README gives for the fill's (36 bytes a sphere, and a few
// kB a call); the exact grid of the sum's forced grid route, within 58.
TEST(CellGrid, WorkspaceStaysWithinItsBound) {
    for (std::int32_t count : {1, 1000, 100000, 1000000, 2147483647}) {
        EXPECT_LE(CellGrid::workspaceBytes(count, CellGrid::Format::Compact), 36.0 * count + 40000) << count;
        EXPECT_LE(CellGrid::workspaceBytes(count), 58.0 * count + 40000) << count;
    }
}

}  // namespace
