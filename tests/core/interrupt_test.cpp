// The check that stops long calls: asked while a call runs, it changes no bit
// of a call it lets finish, and a stop keeps the table as it stands.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "fill_spheres.h"
#include "sum_gap_cubes.h"
#include "test_support.h"

namespace {

// Says stop at its `stopAt`-th question (never when 0), counting them.
struct Countdown {
    long stopAt;
    long asked = 0;
    static bool ask(void* context) {
        auto* self = static_cast<Countdown*>(context);
        return ++self->asked == self->stopAt;
    }
    InterruptCheck check() { return InterruptCheck{&Countdown::ask, this}; }
};

struct Filled {
    std::vector<double> table;
    FillStatus status;
    std::uint64_t draws;
};

Filled fill(const std::vector<double>& diameters, double L, InterruptCheck check) {
    const std::int32_t count = static_cast<std::int32_t>(diameters.size());
    SeededDraws draws(5);
    RandomSource source = draws.source();
    std::vector<unsigned char> memory(fillSpheresWorkspaceBytes(diameters.data(), L, 0.0, count));
    Filled out;
    out.table.assign(4 * diameters.size(), 0.0);
    out.status = fillSpheres(diameters.data(), L, 0.0, source, SphereTable{out.table.data(), count},
                             GridWorkspace{memory.data(), memory.size()}, check);
    out.draws = draws.taken;
    return out;
}

TEST(Interrupt, AFillStopsWhenTheCheckSaysAndKeepsItsTable) {
    // Enough spheres for the check to be asked three times in either search.
    const struct {
        SearchMode mode;
        int count;
    } cases[] = {{SearchMode::AllPairs, 6000}, {SearchMode::Grid, 20000}, {SearchMode::Map, 50000}};
    for (const auto& [mode, count] : cases) {
        SCOPED_TRACE(searchModeName(mode));
        forceSearchMode(mode);
        const std::vector<double> diameters(count, 1.0);
        const double L = std::cbrt(count * (3.14159265358979323846 / 6) / 0.3);
        const Filled plain = fill(diameters, L, InterruptCheck{});
        Countdown never{0};
        const Filled asked = fill(diameters, L, never.check());
        EXPECT_GT(never.asked, 2);
        EXPECT_EQ(bitsOf(asked.table), bitsOf(plain.table));
        EXPECT_EQ(asked.draws, plain.draws);

        Countdown third{3};
        const Filled stopped = fill(diameters, L, third.check());
        EXPECT_EQ(stopped.status.outcome, FillOutcome::Interrupted);
        const std::int32_t placed = stopped.status.placed;
        ASSERT_LT(placed, count);
        EXPECT_LT(stopped.draws, plain.draws);
        // Row `placed` holds the candidate of its last attempt, if any: a
        // fill of the spheres before it takes the draws before that sphere
        // (nothing is drawn ahead past the last sphere).
        double last[4] = {0, 0, 0, 0};
        if (stopped.status.attempts > 0) {
            const std::vector<double> before(diameters.begin(), diameters.begin() + placed);
            const std::uint64_t skip = fill(before, L, InterruptCheck{}).draws + 3 * (stopped.status.attempts - 1);
            SeededDraws replay(5);
            for (std::uint64_t k = 0; k < skip; ++k) SeededDraws::drawNext(&replay);
            for (int c = 0; c < 3; ++c) last[c] = L * (SeededDraws::drawNext(&replay) / 32767.0);
            last[3] = 0.5;
        }
        for (int c = 0; c < 4; ++c) {
            for (std::int32_t i = 0; i < count; ++i) {
                const double want = i < placed ? plain.table[c * count + i] : i == placed ? last[c] : 0.0;
                ASSERT_EQ(bitsOf(stopped.table[c * count + i]), bitsOf(want)) << "row " << i << " column " << c;
            }
        }
    }
    forceSearchMode(SearchMode::Auto);
}

TEST(Interrupt, ASumStopsWhenTheCheckSays) {
    // Enough rows for the check to be asked twice in either search; in cell
    // order, at T = 0.1 the terms are kept all at once, at 0.5 in slices.
    const struct {
        SearchMode mode;
        std::int32_t count;
        double T;
    } cases[] = {{SearchMode::AllPairs, 20000, 0.5},
                 {SearchMode::Grid, 40000, 0.5},
                 {SearchMode::Sorted, 40000, 0.5},
                 {SearchMode::Sorted, 40000, 0.1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(searchModeName(c.mode)) + " T " + std::to_string(c.T));
        forceSearchMode(c.mode);
        SeededDraws seeded(3);
        std::vector<RefSphere> spheres(c.count);
        for (RefSphere& s : spheres)
            s = {50 * (SeededDraws::drawNext(&seeded) / 32767.0), 50 * (SeededDraws::drawNext(&seeded) / 32767.0),
                 50 * (SeededDraws::drawNext(&seeded) / 32767.0), 0.5};
        const std::vector<double> data = toColumns(spheres);
        const ConstSphereTable table{data.data(), c.count};
        std::vector<unsigned char> memory(sumGapCubesWorkspaceBytes(table, c.T));
        const GridWorkspace workspace{memory.data(), memory.size()};
        Countdown never{0}, second{2};
        const SumResult full = sumGapCubesChecked(table, c.T, workspace, never.check());
        EXPECT_GE(never.asked, 2);
        EXPECT_FALSE(full.interrupted);
        EXPECT_EQ(bitsOf(full.sum), bitsOf(sumGapCubes(table, c.T, workspace)));
        const SumResult stopped = sumGapCubesChecked(table, c.T, workspace, second.check());
        EXPECT_TRUE(stopped.interrupted);
        EXPECT_EQ(second.asked, 2);
    }
    forceSearchMode(SearchMode::Auto);
}

}  // namespace
