#include "cell_grid.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

// -1 until the first use; a plain int, so a plug-in keeps no state that
// outlives its unloading.
int chosenMode = -1;

constexpr std::size_t kAlign = 64;  // a cache line
// Bytes per cell: its coordinates, its row numbers and its overflow head.
constexpr std::size_t kCellBytes =
    CellGrid::kCellDoubles * sizeof(double) + CellGrid::kSlots * sizeof(std::int32_t) + sizeof(std::int32_t);
// Points per cell aimed at: few enough that most cells keep every point
// inline, many enough that the cells stay within the memory bound.
constexpr std::int32_t kPointsPerCell = 3;

std::size_t roundUp(std::size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

std::int64_t cellBudget(std::int32_t count) {
    return std::int64_t(count) / kPointsPerCell + CellGrid::kClasses;
}

}  // namespace

SearchMode activeSearchMode() {
    if (chosenMode < 0) {
        chosenMode = static_cast<int>(SearchMode::Auto);
        if (const char* wanted = std::getenv("SPHEREFILL_SEARCH")) {
            for (SearchMode m : {SearchMode::Auto, SearchMode::AllPairs, SearchMode::Grid})
                if (std::strcmp(wanted, searchModeName(m)) == 0) chosenMode = static_cast<int>(m);
        }
    }
    return static_cast<SearchMode>(chosenMode);
}

void forceSearchMode(SearchMode mode) { chosenMode = static_cast<int>(mode); }

const char* searchModeName(SearchMode mode) {
    switch (mode) {
    case SearchMode::Auto:
        return "auto";
    case SearchMode::AllPairs:
        return "pairs";
    case SearchMode::Grid:
        return "grid";
    }
    return "unknown";
}

double searchReach(double bound, double magnitude) {
    const double P = bound > 0x1p-500 ? bound : 0x1p-500;
    return P * (1 + 0x1p-30) + magnitude * 0x1p-30;
}

std::size_t CellGrid::workspaceBytes(std::int32_t count) {
    if (count < 0) count = 0;
    const std::size_t cells = static_cast<std::size_t>(cellBudget(count));
    return kAlign + roundUp(cells * kCellDoubles * sizeof(double)) + roundUp(cells * kSlots * sizeof(std::int32_t)) +
           roundUp(cells * sizeof(std::int32_t)) + 2 * roundUp(std::size_t(count) * sizeof(std::int32_t));
}

int CellGrid::classOf(double r) const {
    if (r > largest_ * 0.25) return 0;
    if (r > largest_ * 0.0625) return 1;
    if (r > largest_ * 0.015625) return 2;
    return 3;
}

bool CellGrid::placeGrids(std::int32_t count, double lo, double hi, const double* edges) {
    const double span = hi - lo;
    std::int64_t total = 0;
    for (int c = 0; c < kClasses; ++c) {
        Class& g = classes_[c];
        if (g.members == 0) continue;
        // About kPointsPerCell points per cell, but cells no smaller than the
        // class's own query reach, so that a query meets few cells.
        const std::int64_t target = g.members / kPointsPerCell > 1 ? g.members / kPointsPerCell : 1;
        std::int64_t n = static_cast<std::int64_t>(std::cbrt(double(target)));
        while ((n + 1) * (n + 1) * (n + 1) <= target) ++n;
        while (n > 1 && n * n * n > target) --n;
        if (edges[c] > 0 && span / edges[c] < double(n)) n = static_cast<std::int64_t>(span / edges[c]);
        if (!(span > 0) || !(span < std::numeric_limits<double>::infinity()) || n < 1) n = 1;
        g.n = static_cast<std::int32_t>(n);
        g.lo = lo;
        g.inv = n > 1 ? double(n) / span : 0.0;
        g.first = total;
        total += n * n * n;
    }
    if (total > cellBudget(count)) return false;

    // Carve the workspace, aligned to cache lines.
    const std::size_t cells = static_cast<std::size_t>(total);
    char* at = static_cast<char*>(workspace_.data);
    char* end = at + workspace_.bytes;
    if (!at) return false;
    at += (kAlign - reinterpret_cast<std::uintptr_t>(at) % kAlign) % kAlign;
    auto take = [&](std::size_t bytes) {
        char* p = at;
        at += roundUp(bytes);
        return p;
    };
    cells_ = reinterpret_cast<double*>(take(cells * kCellDoubles * sizeof(double)));
    cellRows_ = reinterpret_cast<std::int32_t*>(take(cells * kSlots * sizeof(std::int32_t)));
    overflow_ = reinterpret_cast<std::int32_t*>(take(cells * sizeof(std::int32_t)));
    nextRow_ = reinterpret_cast<std::int32_t*>(take(std::size_t(count) * sizeof(std::int32_t)));
    entryRow_ = reinterpret_cast<std::int32_t*>(take(std::size_t(count) * sizeof(std::int32_t)));
    if (at > end) return false;

    const double infinity = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < cells; ++k) {
        double* cell = cells_ + k * kCellDoubles;
        for (int slot = 0; slot < kSlots; ++slot) cell[slot] = infinity;
        for (int slot = kSlots; slot < kCellDoubles; ++slot) cell[slot] = 0.0;
        overflow_[k] = -1;
    }
    entries_ = 0;
    return true;
}

CellGrid::Range CellGrid::box(const Class& g, double x, double y, double z, double reach) const {
    const double centre[3] = {x, y, z};
    Range r;
    for (int a = 0; a < 3; ++a) {
        r.lo[a] = axisCell(g, centre[a] - reach);
        r.hi[a] = axisCell(g, centre[a] + reach);
    }
    return r;
}

void CellGrid::insert(std::int32_t row, double x, double y, double z, double r) {
    const Class& g = classes_[classOf(r)];
    const std::int64_t n = g.n;
    const std::int64_t cell = g.first + (std::int64_t(axisCell(g, z)) * n + axisCell(g, y)) * n + axisCell(g, x);
    double* slots = cells_ + cell * kCellDoubles;
    for (int k = 0; k < kSlots; ++k) {
        if (slots[k] == std::numeric_limits<double>::infinity()) {
            slots[k] = x;
            slots[kSlots + k] = y;
            slots[2 * kSlots + k] = z;
            slots[3 * kSlots + k] = r;
            cellRows_[cell * kSlots + k] = row;
            return;
        }
    }
    entryRow_[entries_] = row;
    nextRow_[entries_] = overflow_[cell];
    overflow_[cell] = entries_++;
}

void CellGrid::prefetch(int c, double x, double y, double z, double reach) const {
#if defined(__GNUC__)
    const Class& g = classes_[c];
    if (g.members == 0) return;
    const Range r = box(g, x, y, z, reach);
    const std::int64_t n = g.n;
    for (std::int32_t kz = r.lo[2]; kz <= r.hi[2]; ++kz) {
        for (std::int32_t ky = r.lo[1]; ky <= r.hi[1]; ++ky) {
            const double* line = cells_ + (g.first + (kz * n + ky) * n) * kCellDoubles;
            for (std::int32_t kx = r.lo[0]; kx <= r.hi[0]; ++kx) {
                __builtin_prefetch(line + kx * kCellDoubles);
                __builtin_prefetch(line + kx * kCellDoubles + kCellDoubles / 2);
            }
        }
    }
#else
    (void)c, (void)x, (void)y, (void)z, (void)reach;
#endif
}
