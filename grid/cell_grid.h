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

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "grid_geometry.h"

// Memory for the grid, owned by the caller.
struct GridWorkspace {
    void* data = nullptr;
    std::size_t bytes = 0;
};

// Asks the system to back a large workspace with huge pages where it can: a
// query meets cells in several places at once, and at a million spheres each
// of them would otherwise cost a page-table walk as well as a cache miss.
// Only a hint; nothing depends on it being taken.
void adviseHugePages(void* data, std::size_t bytes);

// How the routines find the pairs they test: by the cost rule, all pairs
// always, or wherever its proof holds (for tests and benchmarks) the grid,
// the rows sorted by cell (the sum; the fill takes the grid for it), or the
// grid with the fill's map of dead blocks from the first sphere on (the sum
// takes the rows sorted by cell for it).
enum class SearchMode { Auto, AllPairs, Grid, Sorted, Map };

// The mode in use. Chosen on first use from the environment variable
// SPHEREFILL_SEARCH (auto, pairs, grid, sorted or map); auto when it is unset
// or unknown.
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
    static constexpr int kClasses = GridGeometry::kClasses;
    static constexpr int kSlots = 4;
    // A cell: x, y, z and radius of kSlots points, kSlots values each. An
    // empty slot has x = +inf (and 0 elsewhere), so a finite query point is
    // infinitely far from it and every test the routines make passes it.
    static constexpr int kCellDoubles = 4 * kSlots;

    // How a cell holds its points: their exact coordinates (kCellDoubles
    // doubles, two cache lines), or compact, the same values rounded to
    // float (one cache line), for a first test with a margin; the exact
    // values are then in the caller's table, behind the cell's row numbers.
    enum class Format { Exact, Compact };

    // The share of the cube [lo, lo + span]^3 that the cells searched around
    // a point cover, for `members` points of one class and a query reach:
    // the cost rule's measure of what a grid saves over all pairs. 1 when
    // the grid would search everything.
    static double searchedShare(std::int32_t members, double span, double reach);

    // Workspace bytes for `count` points, whatever their radii and places: at
    // most about 58 bytes per point.
    static std::size_t workspaceBytes(std::int32_t count, Format format = Format::Exact);

    // Step 1: sorts the radii of all points to come, radiusOf(0..count-1)
    // (finite), into classes.
    template <class RadiusOf>
    void classify(std::int32_t count, RadiusOf radiusOf) {
        geometry_.classify(count, radiusOf);
    }
    // Or takes the classes a grid geometry has sorted them into.
    void classifyAs(const GridGeometry& classes) { geometry_ = classes; }

    // Step 2: lays out the grid in `workspace` over the cube [lo, hi]^3 that
    // holds every point; `cellEdge(c)` is a wanted smallest cell edge for class
    // c (its own query reach). Returns false when the workspace is too small.
    template <class CellEdge>
    bool layout(GridWorkspace workspace, std::int32_t count, double lo, double hi, CellEdge cellEdge,
                Format format = Format::Exact);

    // The points of class c (0 when the class is empty), and its largest radius.
    std::int32_t members(int c) const { return geometry_.members(c); }
    double largestRadius(int c) const { return geometry_.largestRadius(c); }
    int classOf(double r) const { return geometry_.classOf(r); }
    const GridGeometry& geometry() const { return geometry_; }

    void insert(std::int32_t row, double x, double y, double z, double r);


    // The cells of class c's grid that meet the box of half-width `reach`
    // around (x, y, z).
    using Box = GridGeometry::Box;
    // The cell of class c's grid that holds (x, y, z); it lies in every box
    // around that point.
    std::int64_t cellOf(int c, double x, double y, double z) const { return geometry_.cellOf(c, x, y, z); }

    // Walks the cells of a box, but for one cell (-1: none), which a caller
    // may have looked at first.
    class BoxWalk {
    public:
        BoxWalk(const Box& b, std::int64_t skip) : b_(b), skip_(skip), kx_(b.lo[0] - 1), ky_(b.lo[1]), kz_(b.lo[2]) {}
        bool next(std::int64_t& cell) {
            for (;;) {
                if (++kx_ > b_.hi[0]) {
                    kx_ = b_.lo[0];
                    if (++ky_ > b_.hi[1]) {
                        ky_ = b_.lo[1];
                        if (++kz_ > b_.hi[2]) return false;
                    }
                }
                cell = b_.first + (kz_ * b_.n + ky_) * b_.n + kx_;
                if (cell != skip_) return true;
            }
        }

    private:
        const Box& b_;
        std::int64_t skip_;
        std::int32_t kx_, ky_, kz_;
    };
    Box box(int c, double x, double y, double z, double reach) const { return geometry_.box(c, x, y, z, reach); }
    // Asks the memory early for a box's cells, or for the cell of (x, y, z)
    // in class c's grid, which it returns.
    void prefetch(const Box& b) const;
    std::int64_t prefetchCell(int c, double x, double y, double z) const;
    // Calls block(cell data, cell rows) for every cell of the box, and row(j)
    // for every overflow point there; stops and returns true as soon as a
    // call returns true.
    template <class Block, class Row>
    bool visit(const Box& b, Block&& block, Row&& row) const;

    // A cell's kCellDoubles values (exact or compact) and kSlots row numbers, and its
    // overflow list: entries from overflowHead, following nextEntry to -1.
    const double* cellData(std::int64_t cell) const { return cells_ + cell * kCellDoubles; }
    const float* compactData(std::int64_t cell) const { return compact_ + cell * kCellDoubles; }
    const std::int32_t* cellRows(std::int64_t cell) const { return cellRows_ + cell * kSlots; }
    // A cell has an overflow list only when all its slots are taken.
    std::int32_t overflowHead(std::int64_t cell) const {
        const bool full = format_ == Format::Exact
                              ? cells_[cell * kCellDoubles + kSlots - 1] != std::numeric_limits<double>::infinity()
                              : compact_[cell * kCellDoubles + kSlots - 1] != std::numeric_limits<float>::infinity();
        return full ? overflow_[cell] : -1;
    }
    std::int32_t nextEntry(std::int32_t entry) const { return nextRow_[entry]; }
    std::int32_t entryRow(std::int32_t entry) const { return entryRow_[entry]; }

private:
    bool placeGrids(std::int32_t count, double lo, double hi, const double* edges);
    const char* cellAddress(std::int64_t cell) const;

    GridGeometry geometry_;
    Format format_ = Format::Exact;
    double* cells_ = nullptr;          // kCellDoubles per cell, exact
    float* compact_ = nullptr;         // kCellDoubles per cell, compact
    std::int32_t* cellRows_ = nullptr; // kSlots row numbers per cell
    std::int32_t* overflow_ = nullptr; // head of each cell's overflow list, -1 when none
    std::int32_t* nextRow_ = nullptr;  // overflow lists: next entry, by entry
    std::int32_t* entryRow_ = nullptr; // overflow lists: row number, by entry
    std::int32_t entries_ = 0;
    GridWorkspace workspace_;
    // Whether cells are asked for ahead: not where the grid stays in a
    // core's cache.
    bool prefetching_ = true;
};

template <class CellEdge>
bool CellGrid::layout(GridWorkspace workspace, std::int32_t count, double lo, double hi, CellEdge cellEdge,
                      Format format) {
    workspace_ = workspace;
    format_ = format;
    double edges[kClasses];
    for (int c = 0; c < kClasses; ++c) edges[c] = members(c) > 0 ? cellEdge(c) : 0.0;
    return placeGrids(count, lo, hi, edges);
}

template <class Block, class Row>
bool CellGrid::visit(const Box& b, Block&& block, Row&& row) const {
    BoxWalk walk(b, -1);
    for (std::int64_t cell; walk.next(cell);) {
        if (block(cellData(cell), cellRows(cell))) return true;
        for (std::int32_t e = overflowHead(cell); e >= 0; e = nextEntry(e))
            if (row(entryRow(e))) return true;
    }
    return false;
}
