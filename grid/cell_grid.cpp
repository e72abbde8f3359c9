#include "cell_grid.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <type_traits>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

// -1 until the first use; a plain int, so a plug-in keeps no state that
// outlives its unloading.
int chosenMode = -1;

constexpr std::size_t kAlign = 64;  // a cache line
// Points per cell aimed at: few enough that most cells keep every point
// inline, many enough that the cells stay within the memory bound.
constexpr std::int32_t kPointsPerCell = 3;
// A class of few points gets up to this many cells all the same: a few kB,
// and its cells then hold about one point each.
constexpr std::int32_t kSmallClassCells = 64;

// Grids up to this size stay in a core's cache: their cells are not asked
// for ahead.
constexpr std::size_t kCachedGridBytes = std::size_t(512) << 10;

std::size_t roundUp(std::size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

std::int64_t cellBudget(std::int32_t count) {
    return std::int64_t(count) / kPointsPerCell + std::int64_t(CellGrid::kClasses) * kSmallClassCells;
}

}  // namespace

void adviseHugePages(void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kPage = 4096;
    const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kPage - 1);
    if (end > start + (std::uintptr_t(2) << 20)) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)data, (void)bytes;
#endif
}

SearchMode activeSearchMode() {
    if (chosenMode < 0) {
        chosenMode = static_cast<int>(SearchMode::Auto);
        if (const char* wanted = std::getenv("SPHEREFILL_SEARCH")) {
            for (SearchMode m :
                 {SearchMode::Auto, SearchMode::AllPairs, SearchMode::Grid, SearchMode::Sorted, SearchMode::Map})
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
    case SearchMode::Sorted:
        return "sorted";
    case SearchMode::Map:
        return "map";
    }
    return "unknown";
}

double searchReach(double bound, double magnitude) {
    const double P = bound > 0x1p-500 ? bound : 0x1p-500;
    return P * (1 + 0x1p-30) + magnitude * 0x1p-30;
}

std::size_t CellGrid::workspaceBytes(std::int32_t count, Format format) {
    if (count < 0) count = 0;
    const std::size_t cells = static_cast<std::size_t>(cellBudget(count));
    const std::size_t value = format == Format::Exact ? sizeof(double) : sizeof(float);
    return kAlign + roundUp(cells * kCellDoubles * value) + roundUp(cells * kSlots * sizeof(std::int32_t)) +
           roundUp(cells * sizeof(std::int32_t)) + 2 * roundUp(std::size_t(count) * sizeof(std::int32_t));
}

// Cells per axis for `members` points: about kPointsPerCell points a cell
// (or one, for a class of few points), but no cell smaller than `edge` (the
// class's own query reach), so that a query meets few cells.
static std::int64_t cellsPerAxisFor(std::int32_t members, double span, double edge) {
    return GridGeometry::cellsPerAxisFor(members, span, edge, kPointsPerCell, kSmallClassCells);
}

double CellGrid::searchedShare(std::int32_t members, double span, double reach) {
    const std::int64_t n = cellsPerAxisFor(members, span, reach);
    if (n < 3) return 1.0;
    const double side = std::min(1.0, (2 * reach + span / double(n)) / span);
    return side * side * side;
}

bool CellGrid::placeGrids(std::int32_t count, double lo, double hi, const double* edges) {
    const std::int64_t total = geometry_.place(lo, hi, edges, kPointsPerCell, kSmallClassCells);
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
    cells_ = nullptr;
    compact_ = nullptr;
    if (format_ == Format::Exact)
        cells_ = reinterpret_cast<double*>(take(cells * kCellDoubles * sizeof(double)));
    else
        compact_ = reinterpret_cast<float*>(take(cells * kCellDoubles * sizeof(float)));
    cellRows_ = reinterpret_cast<std::int32_t*>(take(cells * kSlots * sizeof(std::int32_t)));
    overflow_ = reinterpret_cast<std::int32_t*>(take(cells * sizeof(std::int32_t)));
    nextRow_ = reinterpret_cast<std::int32_t*>(take(std::size_t(count) * sizeof(std::int32_t)));
    entryRow_ = reinterpret_cast<std::int32_t*>(take(std::size_t(count) * sizeof(std::int32_t)));
    if (at > end) return false;
    adviseHugePages(workspace_.data, workspace_.bytes);
    prefetching_ = std::size_t(at - static_cast<char*>(workspace_.data)) > kCachedGridBytes;

    const double infinity = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < cells; ++k) {
        if (cells_) {
            double* cell = cells_ + k * kCellDoubles;
            for (int slot = 0; slot < kSlots; ++slot) cell[slot] = infinity;
            for (int slot = kSlots; slot < kCellDoubles; ++slot) cell[slot] = 0.0;
        } else {
            float* cell = compact_ + k * kCellDoubles;
            for (int slot = 0; slot < kSlots; ++slot) cell[slot] = std::numeric_limits<float>::infinity();
            for (int slot = kSlots; slot < kCellDoubles; ++slot) cell[slot] = 0.0f;
        }
        overflow_[k] = -1;
    }
    entries_ = 0;
    return true;
}

void CellGrid::insert(std::int32_t row, double x, double y, double z, double r) {
    const std::int64_t cell = cellOf(classOf(r), x, y, z);
    const auto place = [&](auto* slots) {
        using Value = std::remove_pointer_t<decltype(slots)>;
        for (int k = 0; k < kSlots; ++k) {
            if (slots[k] == std::numeric_limits<Value>::infinity()) {
                slots[k] = static_cast<Value>(x);
                slots[kSlots + k] = static_cast<Value>(y);
                slots[2 * kSlots + k] = static_cast<Value>(z);
                slots[3 * kSlots + k] = static_cast<Value>(r);
                cellRows_[cell * kSlots + k] = row;
                return true;
            }
        }
        return false;
    };
    if (cells_ ? place(cells_ + cell * kCellDoubles) : place(compact_ + cell * kCellDoubles)) return;
    entryRow_[entries_] = row;
    nextRow_[entries_] = overflow_[cell];
    overflow_[cell] = entries_++;
}

std::int64_t CellGrid::prefetchCell(int c, double x, double y, double z) const {
    const std::int64_t cell = cellOf(c, x, y, z);
    if (!prefetching_) return cell;
#if defined(__GNUC__)
    __builtin_prefetch(cellAddress(cell));
    if (cells_) __builtin_prefetch(cellAddress(cell) + 64);
    __builtin_prefetch(overflow_ + cell);
#endif
    return cell;
}

const char* CellGrid::cellAddress(std::int64_t cell) const {
    return cells_ ? reinterpret_cast<const char*>(cells_ + cell * kCellDoubles)
                  : reinterpret_cast<const char*>(compact_ + cell * kCellDoubles);
}

void CellGrid::prefetch(const Box& b) const {
    if (!prefetching_) return;
#if defined(__GNUC__)
    // A row of the box is one stretch of memory: every cache line of it.
    for (std::int32_t kz = b.lo[2]; kz <= b.hi[2]; ++kz) {
        for (std::int32_t ky = b.lo[1]; ky <= b.hi[1]; ++ky) {
            const std::int64_t line = b.first + (kz * b.n + ky) * b.n;
            for (const char* at = cellAddress(line + b.lo[0]); at < cellAddress(line + b.hi[0] + 1); at += 64)
                __builtin_prefetch(at);
        }
    }
#else
    (void)b;
#endif
}
