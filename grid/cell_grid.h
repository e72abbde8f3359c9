#pragma once

// A cell grid over a cube of points, for finding the points near a query
// point without looking at all of them. It knows nothing of what the points
// are tested for: it hands the points of every cell that meets a query box to
// a visitor, and proves which points it may leave out.
//
// The points are spheres with a radius. They fall into up to kClasses size
// classes (radii within a factor of 4 of each other), each with a grid of its
// own, so that a small query is not flooded by small spheres in cells sized
// for large ones. Each cell holds up to kSlots points inline, coordinates
// included, so a visit reads the cell's own cache lines; further points of a
// crowded cell go to an overflow list of row numbers.
//
// All memory comes from a workspace the caller hands over (the plug-ins get it
// from the host); its size depends only on the number of points.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

// Memory for the grid, owned by the caller.
struct GridWorkspace {
    void* data = nullptr;
    std::size_t bytes = 0;
};

// How the routines find the pairs they test: by the cost rule, all pairs
// always, or the grid wherever its proof holds (for tests and benchmarks).
enum class SearchMode { Auto, AllPairs, Grid };

// The mode in use. Chosen on first use from the environment variable
// SPHEREFILL_SEARCH (auto, pairs or grid); auto when it is unset or unknown.
SearchMode activeSearchMode();
void forceSearchMode(SearchMode mode);
const char* searchModeName(SearchMode mode);

// The half-width of the box a query must search so that every point left
// outside it is proven farther than `bound` as the routines compute a
// distance, sqrt((dx*dx + dy*dy) + dz*dz) with each operation rounded.
// `magnitude` bounds the absolute value of every coordinate.
//
// Proof. Let u = 2^-53, P = max(bound, 2^-500) and
// R = P*(1 + 2^-30) + magnitude*2^-30, each operation rounded. A point at
// coordinate v along some axis is left out only when its cell along that axis
// lies outside [cell(fl(x - R)), cell(fl(x + R))] around the query's x. The
// cell of a coordinate is a clamped floor of fl(fl(v - lo) * inv) with inv > 0,
// a monotone function of v, so cell(v) > cell(fl(x + R)) means v > fl(x + R)
// >= x + R - u*|x + R|, and likewise on the other side: |v - x| > m with
// m = R - u*(|x| + R) >= R(1 - u) - u*magnitude >= P(1 + 2^-30)(1 - 2^-51),
// as the margin magnitude*2^-30 covers u*magnitude and the roundings of R.
// Then m > 2^-501, so the computed |dx| >= m(1 - u) is normal, dx*dx does not
// underflow (it may overflow to +inf, which only makes the distance larger),
// adding the other squares cannot lower the sum (monotone rounding of
// non-negative terms), and a correctly rounded square root loses at most
// another factor (1 - u)^2: dist >= m(1 - 2^-51) >= P(1 + 2^-30)(1 - 2^-50)
// > P(1 + 2^-31) > bound. The same margin is left over for callers that need
// dist to exceed bound by a relative 2^-40.
double searchReach(double bound, double magnitude);

class CellGrid {
public:
    static constexpr int kClasses = 4;
    static constexpr int kSlots = 4;
    // A cell: x, y, z and radius of kSlots points, each as kSlots doubles. An
    // empty slot has x = +inf (and 0 elsewhere), so a finite query point is
    // infinitely far from it and every test the routines make passes it.
    static constexpr int kCellDoubles = 4 * kSlots;

    // Workspace bytes for `count` points, whatever their radii and places: at
    // most about 58 bytes per point.
    static std::size_t workspaceBytes(std::int32_t count);

    // Step 1: sorts the radii of all points to come, radiusOf(0..count-1)
    // (finite), into classes.
    template <class RadiusOf>
    void classify(std::int32_t count, RadiusOf radiusOf);

    // Step 2: lays out the grid in `workspace` over the cube [lo, hi]^3 that
    // holds every point; `cellEdge(c)` is a wanted smallest cell edge for class
    // c (its own query reach). Returns false when the workspace is too small.
    template <class CellEdge>
    bool layout(GridWorkspace workspace, std::int32_t count, double lo, double hi, CellEdge cellEdge);

    // The classes that hold points, and the largest radius of each.
    int classCount() const { return kClasses; }
    std::int32_t members(int c) const { return classes_[c].members; }
    double largestRadius(int c) const { return classes_[c].largest; }
    // Cells per axis of class c's grid once laid out.
    std::int32_t cellsPerAxis(int c) const { return classes_[c].n; }
    int classOf(double r) const;

    void insert(std::int32_t row, double x, double y, double z, double r);

    // Calls block(cell, rows) for every cell of class c that meets the box of
    // half-width `reach` around (x, y, z), and row(j) for every overflow point
    // there; stops and returns true as soon as a call returns true.
    template <class Block, class Row>
    bool visit(int c, double x, double y, double z, double reach, Block&& block, Row&& row) const;

    // Asks the memory for the cells of such a box early.
    void prefetch(int c, double x, double y, double z, double reach) const;

private:
    struct Class {
        std::int32_t members = 0;    // points of this class, all told
        double largest = -std::numeric_limits<double>::infinity();
        std::int32_t n = 0;          // cells per axis
        double lo = 0, inv = 0;      // cell(v) = floor((v - lo) * inv), clamped to 0..n-1
        std::int64_t first = 0;      // index of its first cell
    };
    struct Range {
        std::int32_t lo[3], hi[3];
    };

    std::int32_t axisCell(const Class& g, double v) const {
        if (g.n == 1) return 0;
        const double u = (v - g.lo) * g.inv;
        if (!(u >= 0)) return 0;
        if (u >= g.n) return g.n - 1;
        return static_cast<std::int32_t>(u);
    }
    Range box(const Class& g, double x, double y, double z, double reach) const;
    bool placeGrids(std::int32_t count, double lo, double hi, const double* edges);

    double largest_ = -std::numeric_limits<double>::infinity();
    Class classes_[kClasses];
    double* cells_ = nullptr;          // kCellDoubles per cell
    std::int32_t* cellRows_ = nullptr; // kSlots row numbers per cell
    std::int32_t* overflow_ = nullptr; // head of each cell's overflow list, -1 when none
    std::int32_t* nextRow_ = nullptr;  // overflow lists: next entry, by entry
    std::int32_t* entryRow_ = nullptr; // overflow lists: row number, by entry
    std::int32_t entries_ = 0;
    GridWorkspace workspace_;
};

template <class RadiusOf>
void CellGrid::classify(std::int32_t count, RadiusOf radiusOf) {
    for (std::int32_t i = 0; i < count; ++i) largest_ = std::fmax(largest_, radiusOf(i));
    for (std::int32_t i = 0; i < count; ++i) {
        const double r = radiusOf(i);
        Class& g = classes_[classOf(r)];
        ++g.members;
        g.largest = std::fmax(g.largest, r);
    }
}

template <class CellEdge>
bool CellGrid::layout(GridWorkspace workspace, std::int32_t count, double lo, double hi, CellEdge cellEdge) {
    workspace_ = workspace;
    double edges[kClasses];
    for (int c = 0; c < kClasses; ++c) edges[c] = classes_[c].members > 0 ? cellEdge(c) : 0.0;
    return placeGrids(count, lo, hi, edges);
}

template <class Block, class Row>
bool CellGrid::visit(int c, double x, double y, double z, double reach, Block&& block, Row&& row) const {
    const Class& g = classes_[c];
    if (g.members == 0) return false;
    const Range r = box(g, x, y, z, reach);
    const std::int64_t n = g.n;
    for (std::int32_t kz = r.lo[2]; kz <= r.hi[2]; ++kz) {
        for (std::int32_t ky = r.lo[1]; ky <= r.hi[1]; ++ky) {
            const std::int64_t line = g.first + (kz * n + ky) * n;
            for (std::int32_t kx = r.lo[0]; kx <= r.hi[0]; ++kx) {
                const std::int64_t cell = line + kx;
                if (block(cells_ + cell * kCellDoubles, cellRows_ + cell * kSlots)) return true;
                for (std::int32_t e = overflow_[cell]; e >= 0; e = nextRow_[e])
                    if (row(entryRow_[e])) return true;
            }
        }
    }
    return false;
}
