#pragma once

// Where points go in a cell grid, without any storage: size classes of radii,
// one grid of cells per class over a common cube, the cell of a point and the
// cells a query box meets. The cell grids of the routines (points kept in
// their cells, or rows sorted by cell) share it.

#include <algorithm>
#include <cstdint>
#include <limits>

class GridGeometry {
public:
    static constexpr int kClasses = 4;

    // The cells of one class's grid that meet a box around a query point:
    // cell (kx, ky, kz) for lo <= k <= hi on each axis is number
    // first + (kz * n + ky) * n + kx.
    struct Box {
        std::int64_t first, n;
        std::int32_t lo[3], hi[3];
    };

    // Sorts the radii of all points to come, radiusOf(0..count-1) (finite),
    // into classes: radii within a factor of 4 of each other.
    template <class RadiusOf>
    void classify(std::int32_t count, RadiusOf radiusOf);

    std::int32_t members(int c) const { return classes_[c].members; }
    // Class c's grid once placed: its cells per axis and its first cell.
    std::int32_t cellsPerAxis(int c) const { return classes_[c].n; }
    std::int64_t firstCell(int c) const { return classes_[c].first; }
    double largestRadius(int c) const { return classes_[c].largest; }
    int classOf(double r) const;

    // Cells per axis for `members` points over a span: about pointsPerCell
    // points a cell, or smallClassCells cells for a class of few points, but
    // no cell edge below `edge` (0: no such floor).
    static std::int64_t cellsPerAxisFor(std::int32_t members, double span, double edge, double pointsPerCell,
                                        std::int32_t smallClassCells);

    // Lays out a grid for every class that holds points over the cube
    // [lo, hi]^3, numbering the cells of all classes one after another, as
    // cellsPerAxisFor gives them for edges[c]. Returns the number of cells.
    std::int64_t place(double lo, double hi, const double* edges, double pointsPerCell,
                       std::int32_t smallClassCells);

    // The cell of class c's grid that holds (x, y, z); it lies in every box
    // around that point.
    std::int64_t cellOf(int c, double x, double y, double z) const {
        const Class& g = classes_[c];
        return g.first + (std::int64_t(axisCell(g, z)) * g.n + axisCell(g, y)) * g.n + axisCell(g, x);
    }
    // The cells of class c's grid within `reach` of (x, y, z) along each axis.
    Box box(int c, double x, double y, double z, double reach) const {
        const Class& g = classes_[c];
        return Box{g.first,
                   g.n,
                   {axisCell(g, x - reach), axisCell(g, y - reach), axisCell(g, z - reach)},
                   {axisCell(g, x + reach), axisCell(g, y + reach), axisCell(g, z + reach)}};
    }

private:
    struct Class {
        std::int32_t members = 0;  // points of this class, all told
        double largest = -std::numeric_limits<double>::infinity();
        std::int32_t n = 0;       // cells per axis
        double lo = 0, inv = 0;   // cell(v) = floor((v - lo) * inv), clamped to 0..n-1
        double last = 0;          // n - 1
        std::int64_t first = 0;   // index of its first cell
    };

    // floor((v - lo) * inv) clamped to 0..n-1: a monotone function of v, as
    // every step is (rounding, scaling by inv > 0, clamping, truncation).
    static std::int32_t axisCell(const Class& g, double v) {
        if (g.n == 1) return 0;
        const double u = (v - g.lo) * g.inv;
        return static_cast<std::int32_t>(std::min(std::max(u, 0.0), g.last));
    }

    double largest_ = -std::numeric_limits<double>::infinity();
    Class classes_[kClasses];
};

template <class RadiusOf>
void GridGeometry::classify(std::int32_t count, RadiusOf radiusOf) {
    // The radii are finite: plain comparisons do. Four running extremes
    // each, so that the comparisons do not wait on one another.
    double most[4] = {largest_, largest_, largest_, largest_};
    double least[4] = {-largest_, -largest_, -largest_, -largest_};
    std::int32_t i = 0;
    for (; i + 4 <= count; i += 4)
        for (int k = 0; k < 4; ++k) {
            const double r = radiusOf(i + k);
            most[k] = std::max(most[k], r), least[k] = std::min(least[k], r);
        }
    for (; i < count; ++i) most[0] = std::max(most[0], radiusOf(i)), least[0] = std::min(least[0], radiusOf(i));
    largest_ = std::max(std::max(most[0], most[1]), std::max(most[2], most[3]));
    const double smallest = std::min(std::min(least[0], least[1]), std::min(least[2], least[3]));
    if (count > 0 && classOf(smallest) == 0) {
        // Every radius within a factor of 4 of the largest: one class.
        classes_[0].members += count;
        classes_[0].largest = std::max(classes_[0].largest, largest_);
        return;
    }
    for (i = 0; i < count; ++i) {
        const double r = radiusOf(i);
        Class& g = classes_[classOf(r)];
        ++g.members;
        g.largest = std::max(g.largest, r);
    }
}
