#pragma once

#include <cstdint>

#include <cstddef>

#include "cell_grid.h"
#include "interrupt_check.h"
#include "random_source.h"
#include "sphere_table.h"

// Why a call of fillSpheres ended.
enum class FillOutcome {
    Complete,        // every sphere was placed
    AttemptCap,      // one sphere used kMaxAttemptsPerSphere attempts without success
    LimitNotFinite,  // the limit against an earlier sphere is NaN or +inf: nothing can pass
    EdgeNotFinite,   // a distance came out NaN, which happens exactly when L is NaN or infinite
    Interrupted,     // the caller's check said stop
};

struct FillStatus {
    std::int32_t placed;    // rows 0..placed-1 hold accepted spheres
    std::int64_t attempts;  // attempts spent on the last sphere worked on
    FillOutcome outcome;
    std::int32_t blocker;   // on a stop: the earlier sphere that rejected the last candidate; else -1
    std::int64_t mapRejected = 0;  // attempts, all told, that the map of dead blocks rejected
};

// The most attempts one sphere may use. Packings that users can wait for stay
// far below it: 2000 unit spheres filled to a volume fraction of 0.40 needed at
// most about 7e4 attempts for one sphere, so 1e7 leaves a margin of over 100.
// A sphere whose chance of fitting is 1 in 7e4 still fails all 1e7 attempts
// only with probability exp(-140). A rejected attempt costs at most one test
// per earlier sphere, so reaching the cap takes seconds, not a frozen session.
// A fuzzing build may lower it; shipped plug-ins never do.
#ifndef SPHEREFILL_MAX_ATTEMPTS
#define SPHEREFILL_MAX_ATTEMPTS 10000000
#endif
constexpr std::int64_t kMaxAttemptsPerSphere = SPHEREFILL_MAX_ATTEMPTS;

// Places table.rows spheres of the given diameters by random sequential
// addition in the cube [0, L]^3: each sphere takes random centres (three draws
// per attempt, x then y then z, each coordinate L * (draw / 32767.0)) until its
// surface keeps more than s from every sphere accepted before it. Writes
// x, y, z and the radius (diameter * 0.5) into columns 0..3 of each row and
// nothing else. The table's storage must hold 4 * rows doubles, zero-filled.
//
// On a stop (outcome other than Complete) rows 0..placed-1 hold the accepted
// spheres, row `placed` holds the last rejected candidate and later rows keep
// their zeros. A call that completes is unaffected by the stop rules.
//
// With a workspace of fillSpheresWorkspaceBytes bytes, the earlier spheres
// near each candidate are found through a cell grid where that pays; the
// table, the draws and the status are exactly those of the all-pairs test.
//
// The check is asked between attempts, about every kInterruptInterval tests;
// when it says stop, the call ends as Interrupted, with the table as it
// stands (as on any other stop). The draws taken so far stay taken.
FillStatus fillSpheres(const double* diameters, double L, double s, RandomSource& random,
                       SphereTable table, GridWorkspace workspace = {}, InterruptCheck check = {});

// Tests of a candidate against an earlier sphere between two questions to
// the check: a few milliseconds of work. An attempt in the grid counts as
// kGridAttemptTests.
constexpr std::int64_t kInterruptInterval = std::int64_t(1) << 22;
constexpr std::int64_t kGridAttemptTests = 64;

// The workspace the grid needs for this call, or 0 when this call would not
// use one (the cost rule, or values for which the grid's proof does not hold).
std::size_t fillSpheresWorkspaceBytes(const double* diameters, double L, double s, std::int32_t count);
