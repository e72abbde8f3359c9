#pragma once

// A table of points sorted by the cell they fall in: a copy of their
// coordinates and radii in cell order, each with its row number, and where
// each cell's points start. The points of neighbouring cells then lie side
// by side in memory, so a walk over the cells in order reads the copy
// straight through, and the cells of one line of a query box (consecutive
// along x) are one stretch of it. Like the cell grid it knows nothing of
// what the points are tested for.
//
// All memory comes from a workspace the caller hands over; its size depends
// only on the number of points.

#include <cstddef>
#include <cstdint>

#include "cell_grid.h"
#include "grid_geometry.h"

class SortedCells {
public:
    using Box = GridGeometry::Box;

    // Workspace bytes for `count` points and pointsPerCell >= kFewestPointsPerCell:
    // 36 bytes a point for the copy, at most 4 / kFewestPointsPerCell for the
    // cells, and a few kB.
    static constexpr double kFewestPointsPerCell = 1.0;
    static std::size_t workspaceBytes(std::int32_t count);

    // Step 1: the size classes of the radii, as a grid geometry has sorted them.
    void classifyAs(const GridGeometry& classes) { geometry_ = classes; }
    std::int32_t members(int c) const { return geometry_.members(c); }
    std::int32_t cellsPerAxis(int c) const { return geometry_.cellsPerAxis(c); }
    std::int64_t firstCell(int c) const { return geometry_.firstCell(c); }

    // Calls visit(p, ky, kz) for every place p, with the cell coordinates
    // along y and z of its line, a few lines of cells at a time along y,
    // plane by plane along z: the places near each one visited stay in the
    // caches while the nearby ones are visited. Stops and returns true as
    // soon as a call does.
    template <class Visit>
    bool visitInTiles(Visit&& visit) const;
    double largestRadius(int c) const { return geometry_.largestRadius(c); }

    // Step 2: lays out a grid per class over the cube [lo, hi]^3 that holds
    // every point, about pointsPerCell points a cell and no cell edge below
    // cellEdge(c), and sorts the points (finite) into it. Returns false when
    // the workspace is too small; otherwise the workspace left over after
    // the sorted table is rest().
    template <class CellEdge>
    bool build(GridWorkspace workspace, std::int32_t count, const double* xs, const double* ys, const double* zs,
               const double* rs, double lo, double hi, double pointsPerCell, CellEdge cellEdge) {
        double edges[GridGeometry::kClasses];
        for (int c = 0; c < GridGeometry::kClasses; ++c) edges[c] = members(c) > 0 ? cellEdge(c) : 0.0;
        return sort(workspace, count, xs, ys, zs, rs, lo, hi, pointsPerCell, edges);
    }

    // The sorted copy: position p holds the point of row rows()[p]. Each
    // array may be read kPadding places past its end: those places hold
    // zeros and the row number kPaddingRow, above every row.
    static constexpr int kPadding = 8;
    static constexpr std::int32_t kPaddingRow = 2147483647;
    const double* x() const { return x_; }
    const double* y() const { return y_; }
    const double* z() const { return z_; }
    const double* r() const { return r_; }
    const std::int32_t* rows() const { return rows_; }
    std::int32_t count() const { return count_; }

    // The positions of cells first..last (numbers as a Box gives them) are
    // start(first) up to start(last + 1).
    std::int32_t start(std::int64_t cell) const { return start_[cell]; }
    // The size class of a radius, and the cells of class c within `reach`
    // of (x, y, z) along each axis (every point left out is proven farther:
    // see searchReach).
    int classOf(double r) const { return geometry_.classOf(r); }
    Box box(int c, double x, double y, double z, double reach) const { return geometry_.box(c, x, y, z, reach); }

    GridWorkspace rest() const { return rest_; }

private:
    bool sort(GridWorkspace workspace, std::int32_t count, const double* xs, const double* ys, const double* zs,
              const double* rs, double lo, double hi, double pointsPerCell, const double* edges);

    GridGeometry geometry_;
    double *x_ = nullptr, *y_ = nullptr, *z_ = nullptr, *r_ = nullptr;
    std::int32_t* rows_ = nullptr;
    std::int32_t* start_ = nullptr;  // cells + 1 entries
    std::int32_t count_ = 0;
    GridWorkspace rest_;
};

template <class Visit>
bool SortedCells::visitInTiles(Visit&& visit) const {
    constexpr std::int32_t kTileLines = 8;
    for (int c = 0; c < GridGeometry::kClasses; ++c) {
        if (members(c) == 0) continue;
        const std::int64_t n = cellsPerAxis(c), first = firstCell(c);
        for (std::int64_t y0 = 0; y0 < n; y0 += kTileLines)
            for (std::int64_t kz = 0; kz < n; ++kz)
                for (std::int64_t ky = y0; ky < y0 + kTileLines && ky < n; ++ky) {
                    const std::int64_t line = first + (kz * n + ky) * n;
                    for (std::int32_t p = start(line), end = start(line + n); p < end; ++p)
                        if (visit(p, static_cast<std::int32_t>(ky), static_cast<std::int32_t>(kz))) return true;
                }
    }
    return false;
}
