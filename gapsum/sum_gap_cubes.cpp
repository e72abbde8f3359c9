#include "sum_gap_cubes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "sum_gap_cubes_paths.h"
#include "strict_arithmetic.h"

namespace {

// The cost rule. Below this many spheres the all-pairs vector loop is as
// fast as the grid; from there on the grid wins as long as the cells
// searched around a row cover a small share of the cube. Measured, unit
// spheres at volume fraction 0.3 and T = 1: they break even at about 1000
// spheres with AVX-512, at about 250 with AVX2 (half as many pairs a
// vector, and the sorted route meets each pair once).
std::int32_t gridFromSphere(SimdPath path) { return path == SimdPath::Avx512 ? 1000 : 300; }
constexpr double kLargestSearchedShare = 0.1;
// The included terms of one row that are put in order before they are added;
// a row with more takes the plain loop over all earlier rows instead.
constexpr int kTermsPerRow = 512;

// From there on the grid's route takes the rows sorted by cell, as long as
// a row's boxes cover less than this share of the cube (measured, unit
// spheres at volume fraction 0.3: it beats all pairs up to a share of 0.42
// at 1000 spheres and 0.36 at 3000, and loses at 0.99).
constexpr double kSortedLargestSearchedShare = 0.3;
// A row's kept terms, added, count as this many pairs for the check.
constexpr std::int64_t kAddedRowPairs = 64;
// The sorted route's memory: all told, at most this many bytes a sphere and
// kSortedFixedBytes a call. It works with any workspace that leaves at least
// kSortedLeastScratch bytes beside the sorted copy for the terms it keeps.
constexpr std::size_t kSortedBytesPerSphere = 64;
constexpr std::size_t kSortedFixedBytes = 32768;
constexpr std::size_t kSortedLeastScratch = 8192;
static_assert(kSortedLeastScratch >= 12 * kTermsPerRow + 8, "room for one row's terms");
// Its cells: about this many points a cell, and an edge of at least the
// class's reach (a box of about 3 cells a side; measured at 10^6 unit
// spheres, T = 1: 282 ms, against 320 with half the reach).
constexpr double kSortedPointsPerCell = 2.0;
constexpr double kSortedEdgeDivisor = 1.0;

using SumRoute = GapSumRoute;
using SumPlan = GapSumPlan;

// Radii for which every step of the pair proof below stays in the normal
// range: +0.0, or within [2^-400, 2^400]. Not -0.0: two of them add up to
// -0.0, and a positive gap divided by it is -inf, which every T above -inf
// includes. On the bits: positive doubles order as their bits do, and a
// negative one (or NaN, or -0.0) lies above the bits of 2^400.
constexpr std::uint64_t kLeastGridRadiusBits = 0x26f0000000000000u;  // 2^-400
constexpr std::uint64_t kMostGridRadiusBits = 0x58f0000000000000u;   // 2^400
std::uint64_t bitsOf(double v) {
    std::uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    return u;
}
bool gridRadius(double r) {
    const std::uint64_t u = bitsOf(r);
    return u == 0 || u - kLeastGridRadiusBits <= kMostGridRadiusBits - kLeastGridRadiusBits;
}

// One pass over the radii: whether any has its sign bit set, and whether
// all are grid radii. No early exit, so that it runs at the speed of memory.
struct RadiiSigns {
    bool noNegative = true, allGrid = true;
};
RadiiSigns radiiSigns(const double* rs, std::int32_t count) {
    std::uint64_t negative = 0, outside = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint64_t u = bitsOf(rs[i]);
        negative |= u >> 63;
        outside |= static_cast<std::uint64_t>(!gridRadius(rs[i]));
    }
    return RadiiSigns{negative == 0, outside == 0};
}

// The least and largest value of a column into lo and hi; false when one is
// not finite. Four running extremes, so that the comparisons do not wait on
// one another.
bool finiteSpan(const double* v, std::int32_t count, double& lo, double& hi) {
    constexpr double kMost = std::numeric_limits<double>::max();
    double least[4] = {lo, lo, lo, lo}, most[4] = {hi, hi, hi, hi};
    bool finite = true;
    std::int32_t i = 0;
    for (; i + 4 <= count; i += 4)
        for (int k = 0; k < 4; ++k) {
            const double x = v[i + k];
            finite &= std::fabs(x) <= kMost;
            least[k] = std::min(least[k], x), most[k] = std::max(most[k], x);
        }
    for (; i < count; ++i) {
        finite &= std::fabs(v[i]) <= kMost;
        least[0] = std::min(least[0], v[i]), most[0] = std::max(most[0], v[i]);
    }
    lo = std::min(std::min(least[0], least[1]), std::min(least[2], least[3]));
    hi = std::max(std::max(most[0], most[1]), std::max(most[2], most[3]));
    return finite;
}

SumPlan planSum(ConstSphereTable table, double T) {
    SumPlan plan;
    plan.table = table, plan.T = T;
    const std::int32_t count = table.rows;
    const SearchMode mode = activeSearchMode();
    if (mode == SearchMode::AllPairs || count <= 1) return plan;
    const double* rs = table.column(3);
    const RadiiSigns radii = radiiSigns(rs, count);
    // A NaN threshold includes no pair. With no negative radius (nor -0.0,
    // see gridRadius), rel is never below -1 (or it is NaN), so T <= -1
    // includes none either: the loop's sum stays +0.0.
    if (std::isnan(T) || (T <= -1 && radii.noNegative)) {
        plan.route = SumRoute::Zero;
        return plan;
    }
    if (!(T < 0x1p400) || (mode == SearchMode::Auto && count < gridFromSphere(activeSimdPath())) || !radii.allGrid)
        return plan;
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (int c = 0; c < 3; ++c)
        if (!finiteSpan(table.column(c), count, lo, hi)) return plan;
    plan.lo = lo;
    plan.hi = hi;
    plan.magnitude = std::fmax(std::fabs(lo), std::fabs(hi));
    plan.onePlusT = 1 + (T > 0 ? T : 0.0);
    GridGeometry& grid = plan.classes;
    grid.classify(count, [rs](std::int32_t i) { return rs[i]; });
    if (mode != SearchMode::Auto) {
        plan.route = mode == SearchMode::Grid ? SumRoute::Grid : SumRoute::Sorted;
        return plan;
    }
    int crowded = 0;
    for (int c = 1; c < CellGrid::kClasses; ++c)
        if (grid.members(c) > grid.members(crowded)) crowded = c;
    const double largest = grid.largestRadius(crowded);
    const double reach = searchReach((largest + largest) * plan.onePlusT, plan.magnitude);
    const double share = CellGrid::searchedShare(grid.members(crowded), hi - lo, reach);
    if (share < kSortedLargestSearchedShare) plan.route = SumRoute::Sorted;
    else if (share < kLargestSearchedShare) plan.route = SumRoute::Grid;
    return plan;
}

// The reach of row i (radius r) into class c. A pair with centres farther
// apart than it along some axis is never included.
//
// Proof. Let B = r + r_c, with r_c the class's largest radius, so r_i + r_j
// <= B and r_i, r_j <= B; let T+ = max(T, 0) and u = 2^-53. The reach is
// searchReach of P = fl(fl(B) * fl(1 + T+)) >= B(1 + T+)(1 - u)^3, so every
// pair left out has dist >= P(1 + 2^-31) >= B(1 + T+)(1 + 2^-40). Then
// dist - r_i >= r_j + B*2^-40, and with the radii in range every step stays
// normal, so gap = fl(fl(dist - r_i) - r_j) >= (dist(1 - u) - B)(1 - u), and
// with sigma = fl(r_j + r_i) <= B(1 + u):
// gap / sigma >= (dist(1 - u) - B)(1 - u) / (B(1 + u)) >= T+(1 + u),
// so rel = fl(gap / sigma) >= T+ >= T and T > rel is false. (sigma = 0
// means both radii are +0.0; then rel is +inf or NaN and never included.)
template <class Grid>
double rowReach(const Grid& grid, int c, double r, const SumPlan& plan) {
    return searchReach((r + grid.largestRadius(c)) * plan.onePlusT, plan.magnitude);
}

// The squared distance from which a pair of row i (radius r) with a sphere
// of class c is proven not to be included: with E = fl(fl(B * fl(1 + T+)) *
// (1 + 2^-30)) >= B(1 + T+)(1 + 2^-40), a pair at distance >= E is not
// included (see rowReach), and d2 >= fl(fl(E * E) * (1 + 2^-40)) gives
// sqrt(d2) >= E(1 + 2^-42), whose rounding is at least E.
template <class Grid>
double farSquared(const Grid& grid, int c, double r, const SumPlan& plan) {
    const double E = ((r + grid.largestRadius(c)) * plan.onePlusT) * (1 + 0x1p-30);
    return (E * E) * (1 + 0x1p-40);
}

// The terms of a row, put in ascending j. Few as a rule: insertion sort.
void sortByRow(GridTerm* terms, int found) {
    for (int k = 1; k < found; ++k) {
        const GridTerm t = terms[k];
        int m = k;
        for (; m > 0 && terms[m - 1].j > t.j; --m) terms[m] = terms[m - 1];
        terms[m] = t;
    }
}

// Row i's term with every earlier row, in the loop's order, added to S.
double addRowByAllPairs(ConstSphereTable table, std::int32_t i, double T, double S) {
    const double* xs = table.column(0);
    const double* ys = table.column(1);
    const double* zs = table.column(2);
    const double* rs = table.column(3);
    for (std::int32_t j = 0; j < i; ++j) {
        double value;
        if (pairTerm(xs[i], ys[i], zs[i], rs[i], xs[j], ys[j], zs[j], rs[j], T, value)) S = value + S;
    }
    return S;
}

// Rows in ascending order, each against the earlier rows already in the
// grid; a row's included terms are put in ascending j and then added, so the
// sum takes the loop's terms in the loop's order.
double sumThroughGrid(ConstSphereTable table, double T, CellGrid& grid, const SumPlan& plan, GridRowTerms rowTerms,
                      InterruptPoll& poll) {
    // How many rows ahead the cells of a row are asked for.
    constexpr std::int32_t kAhead = 4;
    const std::int32_t count = table.rows;
    const double* xs = table.column(0);
    const double* ys = table.column(1);
    const double* zs = table.column(2);
    const double* rs = table.column(3);
    int classes[CellGrid::kClasses], classCount = 0;
    for (int c = 0; c < CellGrid::kClasses; ++c)
        if (grid.members(c)) classes[classCount++] = c;
    const auto boxesOf = [&](std::int32_t i, CellGrid::Box* boxes) {
        for (int k = 0; k < classCount; ++k)
            boxes[k] = grid.box(classes[k], xs[i], ys[i], zs[i], rowReach(grid, classes[k], rs[i], plan));
    };

    GridTerm terms[kTermsPerRow];
    CellGrid::Box boxes[kAhead][CellGrid::kClasses];  // row i's in slot i % kAhead
    double far[CellGrid::kClasses];
    GridRow row{&grid, classCount, nullptr, far, 0, 0, 0, 0, T, xs, ys, zs, rs, terms, kTermsPerRow};
    for (std::int32_t i = 0; i < kAhead && i < count; ++i) boxesOf(i, boxes[i]);
    double S = 0.0;
    for (std::int32_t i = 0; i < count; ++i) {
        if (poll.stop(kGridRowPairs)) break;
        row.boxes = boxes[i % kAhead];
        for (int k = 0; k < classCount; ++k) far[k] = farSquared(grid, classes[k], rs[i], plan);
        row.x = xs[i], row.y = ys[i], row.z = zs[i], row.r = rs[i];
        const int found = rowTerms(row);
        if (found < 0) {
            // More terms than the buffer holds: this row takes the plain loop.
            S = addRowByAllPairs(table, i, T, S);
        } else {
            sortByRow(terms, found);
            for (int k = 0; k < found; ++k) S = terms[k].value + S;
        }
        grid.insert(i, xs[i], ys[i], zs[i], rs[i]);
        if (i + kAhead < count) {
            CellGrid::Box* later = boxes[i % kAhead];
            boxesOf(i + kAhead, later);
            for (int k = 0; k < classCount; ++k) grid.prefetch(later[k]);
        }
    }
    return S;
}

// The sum over the rows sorted by cell, where the included pairs fit in
// the workspace at once: each pair is met once, from one of its two points
// (see ForwardRow), and its term goes on a list of the later row; the lists are then added, i
// ascending, each in ascending j, so the sum takes the loop's terms in the
// loop's order. A row with more than kTermsPerRow terms is added by the
// plain loop over all earlier rows. Returns false, with nothing added, when
// the terms expected (with a quarter to spare) or met do not fit.
bool sumForwardPairs(ConstSphereTable table, double T, const SortedCells& cells, const SumPlan& plan,
                     double expected, ForwardRowTerms rowTerms, InterruptPoll& poll, double& S) {
    struct Term {
        std::int32_t j, next;  // next: the row's next term, -1 after its last
        double value;
    };
    const std::int32_t count = table.rows;
    const GridWorkspace scratch = cells.rest();
    const std::size_t headBytes = (sizeof(std::int32_t) * std::size_t(count) + 7) / 8 * 8;
    if (!(double(scratch.bytes) >= double(headBytes) + sizeof(Term) * (1.25 * expected + kTermsPerRow)))
        return false;
    std::int32_t* heads = static_cast<std::int32_t*>(scratch.data);
    Term* terms = reinterpret_cast<Term*>(static_cast<char*>(scratch.data) + headBytes);
    const std::size_t capacity =
        std::min<std::size_t>((scratch.bytes - headBytes) / sizeof(Term), std::numeric_limits<std::int32_t>::max());
    std::fill(heads, heads + count, -1);

    const double* xs = cells.x();
    const double* ys = cells.y();
    const double* zs = cells.z();
    const double* rs = cells.r();
    const std::int32_t* rows = cells.rows();
    std::int32_t places[kTermsPerRow];
    double values[kTermsPerRow];
    ForwardRow row{&cells, {}, 0, 0, 0, 0, 0, 0, 0, 0, T, 0, places, values, kTermsPerRow};
    // A term goes on its row's list a few pairs after it is found, so that
    // the row's list head, asked for when it is found, is there by then.
    constexpr int kPending = 32;
    Term pending[kPending];
    std::int32_t pendingRow[kPending];
    std::size_t used = 0, met = 0;
    const auto link = [&](std::size_t k) {
        const std::int32_t i = pendingRow[k % kPending];
        terms[k] = pending[k % kPending];
        terms[k].next = heads[i];
        heads[i] = static_cast<std::int32_t>(k);
    };
    bool full = false;
    int classes[GridGeometry::kClasses], classCount = 0;
    for (int c = 0; c < GridGeometry::kClasses; ++c)
        if (cells.members(c)) classes[classCount++] = c;
    // A radius's class, and its reach and far value into each class, found
    // again only when the radius changes.
    double lastRadius = std::numeric_limits<double>::quiet_NaN();
    double reach[GridGeometry::kClasses], far[GridGeometry::kClasses];
    int own = 0;
    cells.visitInTiles([&](std::int32_t p, std::int32_t ky, std::int32_t kz) {
        if (poll.stop(kGridRowPairs)) return true;
        row.x = xs[p], row.y = ys[p], row.z = zs[p], row.i = rows[p];
        if (!(rs[p] == lastRadius)) {
            lastRadius = row.r = rs[p];
            own = cells.classOf(row.r);
            for (int k = 0; k < classCount; ++k) {
                reach[k] = rowReach(cells, classes[k], row.r, plan);
                far[k] = farSquared(cells, classes[k], row.r, plan);
            }
        }
        int found = 0;
        for (int k = 0; k < classCount; ++k) {
            const int c = classes[k];
            if (c < own) continue;  // met from the points of that class
            // Built in place: a copy of a box just written stalls on its stores.
            row.box = cells.box(c, row.x, row.y, row.z, reach[k]);
            const SortedCells::Box& b = row.box;
            if (c == own) {
                row.firstY = ky, row.firstZ = kz, row.first = p + 1;
            } else {
                row.firstY = b.lo[1], row.firstZ = b.lo[2];
                row.first = cells.start(b.first + (b.lo[2] * b.n + b.lo[1]) * b.n + b.lo[0]);
            }
            row.far = far[k];
            row.places = places + found, row.values = values + found, row.capacity = kTermsPerRow - found;
            const int more = rowTerms(row);
            if (more < 0) return full = true;
            found += more;
        }
        if (std::size_t(found) > capacity - met) return full = true;
        for (int k = 0; k < found; ++k, ++met) {
            const std::int32_t other = rows[places[k]];
            const std::int32_t i = std::max(row.i, other);
#if defined(__GNUC__)
            __builtin_prefetch(heads + i, 1);
#endif
            if (met >= used + kPending) link(used++);
            pending[met % kPending] = {std::min(row.i, other), -1, values[k]};
            pendingRow[met % kPending] = i;
        }
        return false;
    });
    if (poll.stopped()) return true;
    if (full) return false;
    for (; used < met; ++used) link(used);

    // The lists lie in the order the pairs were met: ask for them early.
    constexpr std::int32_t kAhead = 16;
    std::int32_t js[kTermsPerRow];
    double found[kTermsPerRow];
    for (std::int32_t i = 0; i < count; ++i) {
        if (poll.stop(kAddedRowPairs)) return true;
#if defined(__GNUC__)
        if (i + 2 * kAhead < count && heads[i + 2 * kAhead] >= 0) __builtin_prefetch(terms + heads[i + 2 * kAhead]);
        if (i + kAhead < count && heads[i + kAhead] >= 0 && terms[heads[i + kAhead]].next >= 0)
            __builtin_prefetch(terms + terms[heads[i + kAhead]].next);
#endif
        int n = 0;
        std::int32_t t = heads[i];
        for (; t >= 0 && n < kTermsPerRow; t = terms[t].next) js[n] = terms[t].j, found[n++] = terms[t].value;
        if (t >= 0) {
            if (poll.stop(i)) return true;
            S = addRowByAllPairs(table, i, T, S);
            continue;
        }
        sortTermsByRow(js, found, n);
        for (int k = 0; k < n; ++k) S = found[k] + S;
    }
    return true;
}

// A straight line through points (i, t) by least squares: the terms t a row
// i is expected to have.
class TermsLine {
public:
    void add(double i, double t) { n_ += 1, si_ += i, st_ += t, sii_ += i * i, sit_ += i * t; }
    // Fits the line to the points added since the last fit.
    void fit() {
        if (n_ == 0) return;
        const double spread = n_ * sii_ - si_ * si_;
        b_ = spread > 0 ? (n_ * sit_ - si_ * st_) / spread : 0.0;
        a_ = (st_ - b_ * si_) / n_;
        n_ = si_ = st_ = sii_ = sit_ = 0;
    }
    double at(double i) const { return std::max(a_ + b_ * i, 0.0); }

private:
    double n_ = 0, si_ = 0, st_ = 0, sii_ = 0, sit_ = 0, a_ = 0, b_ = 0;
};

// The sum over the rows sorted by cell. Each row's included terms are found
// where its neighbours lie in memory, walking the cells a tile at a time, and
// kept in ascending j; they are then added row by row, i ascending, so the
// sum takes the loop's terms in the loop's order.
//
// Where all the terms a sample of rows leads to expect fit at once, each
// pair is met only once instead (sumForwardPairs). Otherwise the kept terms
// must fit in the memory left over after the sorted copy, so the rows go in
// slices i0 .. i0 + length - 1, each one walk over the cells. A slice's
// length comes from the terms its rows are expected to have: a
// straight line through the terms of rows against their row numbers (in a
// packing as filled, a row has about as many terms as earlier rows, so the
// count grows with i; in a table sorted along an axis it stays the same),
// drawn first through a sample of rows spread over the cells, then through
// each slice. A row whose terms no longer fit is left for a later slice: the
// slice is added up to the first such row and the next one starts there.
// Its first row is found before the walk, so every slice adds at least one
// row. A row with more than kTermsPerRow terms is added by the plain loop
// over all earlier rows.
double sumInCellOrder(ConstSphereTable table, double T, const SortedCells& cells, const SumPlan& plan,
                      SortedRowTerms rowTerms, ForwardRowTerms forwardTerms, InterruptPoll& poll) {
    constexpr std::int32_t kNotDone = -2, kPlain = -1;
    const std::int32_t count = table.rows;
    // A sample of 1 row in 64, at least 16 and at most 1024.
    const std::int32_t sample = std::min<std::int32_t>(1024, std::max<std::int32_t>(16, count / 64));
    const double* xs = cells.x();
    const double* ys = cells.y();
    const double* zs = cells.z();
    const double* rs = cells.r();
    const std::int32_t* rows = cells.rows();
    int classes[GridGeometry::kClasses], classCount = 0;
    for (int c = 0; c < GridGeometry::kClasses; ++c)
        if (cells.members(c)) classes[classCount++] = c;

    std::int32_t js[kTermsPerRow + kRankedTerms];
    double unordered[kTermsPerRow], termValues[kTermsPerRow];
    SortedCells::Box boxes[GridGeometry::kClasses];
    double far[GridGeometry::kClasses];
    SortedRow row{&cells, classCount, boxes, far, 0, 0, 0, 0, T, 0, js, unordered, termValues, kTermsPerRow};
    // The row at sorted place p: its terms into termValues, -1 when too many.
    const auto termsOf = [&](std::int32_t p) {
        row.x = xs[p], row.y = ys[p], row.z = zs[p], row.r = rs[p], row.i = rows[p];
        for (int k = 0; k < classCount; ++k) {
            boxes[k] = cells.box(classes[k], row.x, row.y, row.z, rowReach(cells, classes[k], row.r, plan));
            far[k] = farSquared(cells, classes[k], row.r, plan);
        }
        return rowTerms(row);
    };

    TermsLine line;
    for (std::int32_t k = 0; k < sample && k < count; ++k) {
        const std::int32_t p = static_cast<std::int32_t>(std::int64_t(k) * count / std::min(sample, count));
        line.add(rows[p], std::max(termsOf(p), 0));
    }
    line.fit();
    double S = 0.0;
    // Every pair once, from one of its two points, where the terms fit.
    double expected = 0;
    for (int k = 0; k < 64; ++k) expected += line.at((k + 0.5) * count / 64) * count / 64;
    if (sumForwardPairs(table, T, cells, plan, expected, forwardTerms, poll, S)) return S;

    // The slices' memory: per row, where its terms start and how many there
    // are (8 bytes); per term, its value (8 bytes).
    const GridWorkspace scratch = cells.rest();
    const std::size_t rowBytes = 2 * sizeof(std::int32_t), termBytes = sizeof(double);
    const std::size_t bytes = scratch.bytes - termBytes * kTermsPerRow;  // room for one more row always
    for (std::int32_t i0 = 0; i0 < count;) {
        std::size_t length = 0;
        const std::size_t most = std::min<std::size_t>(std::size_t(count - i0), bytes / rowBytes);
        for (double room = double(bytes); length < most; ++length) {
            room -= rowBytes + termBytes * (1.25 * line.at(double(i0 + std::int64_t(length))) + 0.25);
            if (room < 0) break;
        }
        length = std::max<std::size_t>(length, 1);
        const std::size_t capacity = std::min<std::size_t>((scratch.bytes - rowBytes * length) / termBytes,
                                                           std::numeric_limits<std::int32_t>::max());
        double* values = static_cast<double*>(scratch.data);
        std::int32_t* firsts = reinterpret_cast<std::int32_t*>(values + capacity);
        std::int32_t* counts = firsts + length;
        for (std::size_t k = 0; k < length; ++k) counts[k] = kNotDone;

        std::size_t used = 0;
        bool full = false;
        const auto keep = [&](std::int32_t p) {
            const std::size_t k = static_cast<std::size_t>(rows[p] - i0);
            const int found = termsOf(p);
            if (found < 0) {
                counts[k] = kPlain;
                return;
            }
            if (used + std::size_t(found) > capacity) {
                full = true;
                return;
            }
            for (int t = 0; t < found; ++t) values[used + t] = termValues[t];
            firsts[k] = static_cast<std::int32_t>(used);
            counts[k] = found;
            used += found;
        };
        std::int32_t place0 = 0;
        while (rows[place0] != i0) ++place0;
        keep(place0);
        cells.visitInTiles([&](std::int32_t p, std::int32_t, std::int32_t) {
            if (static_cast<std::size_t>(std::int64_t(rows[p]) - i0) >= length || p == place0) return false;
            if (poll.stop(kGridRowPairs)) return true;
            keep(p);
            return full;
        });
        if (poll.stopped()) return S;

        // The runs lie in the order of the cells: ask for them early.
        constexpr std::int32_t kAhead = 16;
        const std::int32_t end = i0 + static_cast<std::int32_t>(length);
        // Only a slice that leaves rows for another one draws the line anew.
        const bool last = !full && end == count;
        std::int32_t i = i0;
        for (; i < end; ++i) {
            if (poll.stop(kAddedRowPairs)) return S;
            const std::int32_t k = i - i0;
            if (counts[k] == kNotDone) break;
#if defined(__GNUC__)
            if (i + kAhead < end && counts[k + kAhead] > 0) __builtin_prefetch(values + firsts[k + kAhead]);
#endif
            if (counts[k] == kPlain) {
                if (poll.stop(i)) return S;
                S = addRowByAllPairs(table, i, T, S);
                continue;
            }
            for (std::int32_t t = firsts[k]; t < firsts[k] + counts[k]; ++t) S = values[t] + S;
            if (!last) line.add(i, counts[k]);
        }
        line.fit();
        i0 = i;
    }
    return S;
}
}  // namespace

// The plain loop: the definition the vector paths must match bit for bit.
double sumGapCubesPlain(ConstSphereTable table, double T, InterruptPoll* poll) {
    double S = 0.0;
    const std::int32_t count = table.rows;
    if (count <= 1) return S;

    const double* xs = table.column(0);
    const double* ys = table.column(1);
    const double* zs = table.column(2);
    const double* rs = table.column(3);
    for (std::int32_t i = 1; i < count; ++i) {
        if (poll && poll->stop(i)) break;
        for (std::int32_t j = 0; j < i; ++j) {
            const double dx = xs[i] - xs[j];
            const double dy = ys[i] - ys[j];
            const double dz = zs[i] - zs[j];
            const double dist = std::sqrt((dx * dx + dy * dy) + dz * dz);
            const double gap = (dist - rs[i]) - rs[j];
            const double rel = gap / (rs[j] + rs[i]);
            if (T > rel) {
                const double h = gap * 0.5;
                S = (h * h) * h + S;
            }
        }
    }
    return S;
}

int gridRowTermsPlain(const GridRow& q) {
    int found = 0;
    const auto add = [&](std::int32_t j, double value) {
        if (found == q.capacity) return true;
        q.terms[found++] = {j, value};
        return false;
    };
    const auto cell = [&](const double* d, const std::int32_t* rows) {
        constexpr int slots = CellGrid::kSlots;
        for (int k = 0; k < slots; ++k) {
            double value;
            if (pairTerm(q.x, q.y, q.z, q.r, d[k], d[slots + k], d[2 * slots + k], d[3 * slots + k], q.T, value) &&
                add(rows[k], value))
                return true;
        }
        return false;
    };
    const auto row = [&](std::int32_t j) {
        double value;
        return pairTerm(q.x, q.y, q.z, q.r, q.xs[j], q.ys[j], q.zs[j], q.rs[j], q.T, value) && add(j, value);
    };
    for (int k = 0; k < q.boxCount; ++k)
        if (q.grid->visit(q.boxes[k], cell, row)) return -1;
    return found;
}

int sortedRowTermsPlain(const SortedRow& q) {
    const SortedCells& cells = *q.cells;
    const double *xs = cells.x(), *ys = cells.y(), *zs = cells.z(), *rs = cells.r();
    const std::int32_t* rows = cells.rows();
    int found = 0;
    for (int k = 0; k < q.boxCount; ++k) {
        const SortedCells::Box& b = q.boxes[k];
        for (std::int32_t kz = b.lo[2]; kz <= b.hi[2]; ++kz) {
            for (std::int32_t ky = b.lo[1]; ky <= b.hi[1]; ++ky) {
                const std::int64_t line = b.first + (kz * b.n + ky) * b.n;
                const std::int32_t to = cells.start(line + b.hi[0] + 1);
                for (std::int32_t p = cells.start(line + b.lo[0]); p < to; ++p) {
                    if (rows[p] >= q.i) continue;
                    const double dx = q.x - xs[p], dy = q.y - ys[p], dz = q.z - zs[p];
                    const double d2 = (dx * dx + dy * dy) + dz * dz;
                    double value;
                    if (!(d2 < q.far[k]) || !squareTerm(d2, q.r, rs[p], q.T, value)) continue;
                    if (found == q.capacity) return -1;
                    q.js[found] = rows[p], q.found[found++] = value;
                }
            }
        }
    }
    orderTermsByInsertion(q.js, q.found, found, q.values);
    return found;
}

int forwardRowTermsPlain(const ForwardRow& q) {
    const SortedCells& cells = *q.cells;
    const double *xs = cells.x(), *ys = cells.y(), *zs = cells.z(), *rs = cells.r();
    const std::int32_t* rows = cells.rows();
    const SortedCells::Box& b = q.box;
    int found = 0;
    for (std::int32_t kz = q.firstZ; kz <= b.hi[2]; ++kz) {
        for (std::int32_t ky = kz == q.firstZ ? q.firstY : b.lo[1]; ky <= b.hi[1]; ++ky) {
            const std::int64_t line = b.first + (kz * b.n + ky) * b.n;
            const std::int32_t to = cells.start(line + b.hi[0] + 1);
            for (std::int32_t p = kz == q.firstZ && ky == q.firstY ? q.first : cells.start(line + b.lo[0]); p < to;
                 ++p) {
                const double dx = q.x - xs[p], dy = q.y - ys[p], dz = q.z - zs[p];
                const double d2 = (dx * dx + dy * dy) + dz * dz;
                double value;
                if (!(d2 < q.far) || !eitherWayTerm(d2, q.r, q.i, rs[p], rows[p], q.T, value)) continue;
                if (found == q.capacity) return -1;
                q.places[found] = p, q.values[found++] = value;
            }
        }
    }
    return found;
}

namespace {

SortedRowTerms sortedRowTermsFor(SimdPath path) {
#ifdef SPHEREFILL_X86_SIMD
    if (path == SimdPath::Avx512) return &sortedRowTermsAvx512;
    if (path == SimdPath::Avx2) return &sortedRowTermsAvx2;
#endif
    (void)path;
    return &sortedRowTermsPlain;
}

ForwardRowTerms forwardRowTermsFor(SimdPath path) {
#ifdef SPHEREFILL_X86_SIMD
    if (path == SimdPath::Avx512) return &forwardRowTermsAvx512;
    if (path == SimdPath::Avx2) return &forwardRowTermsAvx2;
#endif
    (void)path;
    return &forwardRowTermsPlain;
}

std::size_t sortedWorkspaceBytes(std::int32_t count) {
    const std::size_t copy = SortedCells::workspaceBytes(count);
    return std::max(kSortedBytesPerSphere * static_cast<std::size_t>(count), copy) + kSortedFixedBytes;
}

}  // namespace

GapSumPlan planGapSum(ConstSphereTable table, double T) { return planSum(table, T); }

std::size_t sumGapCubesWorkspaceBytes(const GapSumPlan& plan) {
    switch (plan.route) {
    case SumRoute::Grid:
        return CellGrid::workspaceBytes(plan.table.rows);
    case SumRoute::Sorted:
        return sortedWorkspaceBytes(plan.table.rows);
    default:
        return 0;
    }
}

std::size_t sumGapCubesWorkspaceBytes(ConstSphereTable table, double T) {
    return sumGapCubesWorkspaceBytes(planSum(table, T));
}

SumResult sumGapCubesChecked(ConstSphereTable table, double T, GridWorkspace workspace, InterruptCheck check) {
    return sumGapCubesChecked(planSum(table, T), workspace, check);
}

SumResult sumGapCubesChecked(const GapSumPlan& plan, GridWorkspace workspace, InterruptCheck check) {
    InterruptPoll poll(check, kInterruptPairs);
    const auto result = [&poll](double S) { return SumResult{S, poll.stopped()}; };
    const ConstSphereTable table = plan.table;
    const double T = plan.T;
    if (plan.route == SumRoute::Zero) return result(0.0);
    if (plan.route == SumRoute::Sorted) {
        SortedCells cells;
        cells.classifyAs(plan.classes);
        const auto cellEdge = [&](int c) {
            return rowReach(cells, c, cells.largestRadius(c), plan) / kSortedEdgeDivisor;
        };
        if (cells.build(workspace, table.rows, table.column(0), table.column(1), table.column(2), table.column(3),
                        plan.lo, plan.hi, kSortedPointsPerCell, cellEdge) &&
            cells.rest().bytes >= kSortedLeastScratch)
            return result(sumInCellOrder(table, T, cells, plan, sortedRowTermsFor(activeSimdPath()),
                                         forwardRowTermsFor(activeSimdPath()), poll));
    }
    if (plan.route == SumRoute::Grid) {
        CellGrid grid;
        grid.classifyAs(plan.classes);
        const auto cellEdge = [&](int c) { return rowReach(grid, c, grid.largestRadius(c), plan); };
        if (grid.layout(workspace, table.rows, plan.lo, plan.hi, cellEdge)) {
#ifdef SPHEREFILL_X86_SIMD
            if (activeSimdPath() != SimdPath::Plain)
                return result(sumThroughGrid(table, T, grid, plan, &gridRowTermsAvx2, poll));
#endif
            return result(sumThroughGrid(table, T, grid, plan, &gridRowTermsPlain, poll));
        }
    }
#ifdef SPHEREFILL_X86_SIMD
    switch (activeSimdPath()) {
    case SimdPath::Avx512:
        return result(sumGapCubesAvx512(table, T, &poll));
    case SimdPath::Avx2:
        return result(sumGapCubesAvx2(table, T, &poll));
    case SimdPath::Plain:
        break;
    }
#endif
    return result(sumGapCubesPlain(table, T, &poll));
}

double sumGapCubes(ConstSphereTable table, double T, GridWorkspace workspace) {
    return sumGapCubesChecked(table, T, workspace, InterruptCheck{}).sum;
}
