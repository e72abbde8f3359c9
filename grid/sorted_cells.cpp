#include "sorted_cells.h"

namespace {

constexpr std::size_t kAlign = 64;  // a cache line
// A class of few points gets up to this many cells all the same.
constexpr std::int32_t kSmallClassCells = 64;

std::size_t roundUp(std::size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

std::size_t cellBound(std::int32_t count) {
    return static_cast<std::size_t>(count / SortedCells::kFewestPointsPerCell) +
           std::size_t(GridGeometry::kClasses) * kSmallClassCells + 1;
}

}  // namespace

std::size_t SortedCells::workspaceBytes(std::int32_t count) {
    if (count < 0) count = 0;
    const std::size_t n = static_cast<std::size_t>(count) + SortedCells::kPadding;
    return kAlign + 4 * roundUp(n * sizeof(double)) + roundUp(n * sizeof(std::int32_t)) +
           roundUp(cellBound(count) * sizeof(std::int32_t));
}

bool SortedCells::sort(GridWorkspace workspace, std::int32_t count, const double* xs, const double* ys,
                       const double* zs, const double* rs, double lo, double hi, double pointsPerCell,
                       const double* edges) {
    if (!(pointsPerCell >= kFewestPointsPerCell)) return false;
    const std::int64_t cells = geometry_.place(lo, hi, edges, pointsPerCell, kSmallClassCells);
    if (static_cast<std::size_t>(cells) + 1 > cellBound(count)) return false;

    char* at = static_cast<char*>(workspace.data);
    if (!at) return false;
    char* const end = at + workspace.bytes;
    at += (kAlign - reinterpret_cast<std::uintptr_t>(at) % kAlign) % kAlign;
    auto take = [&](std::size_t bytes) {
        char* p = at;
        at += roundUp(bytes);
        return p;
    };
    const std::size_t n = static_cast<std::size_t>(count), padded = n + kPadding;
    x_ = reinterpret_cast<double*>(take(padded * sizeof(double)));
    y_ = reinterpret_cast<double*>(take(padded * sizeof(double)));
    z_ = reinterpret_cast<double*>(take(padded * sizeof(double)));
    r_ = reinterpret_cast<double*>(take(padded * sizeof(double)));
    rows_ = reinterpret_cast<std::int32_t*>(take(padded * sizeof(std::int32_t)));
    start_ = reinterpret_cast<std::int32_t*>(take((static_cast<std::size_t>(cells) + 1) * sizeof(std::int32_t)));
    if (at > end) return false;
    rest_ = GridWorkspace{at, static_cast<std::size_t>(end - at)};
    adviseHugePages(workspace.data, workspace.bytes);
    count_ = count;

    // A counting sort: how many points each cell gets, where each cell's
    // points start, then every row number to its place (rows of one cell
    // stay in ascending order), and last the copy, in place order. The cells
    // of the points are kept in the workspace left over, where it has room;
    // otherwise each is found again.
    std::int32_t* kept = rest_.bytes >= n * sizeof(std::int32_t) ? static_cast<std::int32_t*>(rest_.data) : nullptr;
    const auto cellOf = [&](std::int32_t i) {
        return kept ? kept[i] : static_cast<std::int32_t>(geometry_.cellOf(classOf(rs[i]), xs[i], ys[i], zs[i]));
    };
    for (std::int64_t c = 0; c <= cells; ++c) start_[c] = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::int64_t c = geometry_.cellOf(classOf(rs[i]), xs[i], ys[i], zs[i]);
        if (kept) kept[i] = static_cast<std::int32_t>(c);
        ++start_[c + 1];
    }
    for (std::int64_t c = 0; c < cells; ++c) start_[c + 1] += start_[c];
    // start_[c] is now the first place of cell c; each row takes the next
    // place of its cell, which moves start_[c] on to the first of cell c + 1.
    for (std::int32_t i = 0; i < count; ++i) rows_[start_[cellOf(i)]++] = i;
    // The copy is written in order and read from the table out of order;
    // the rows a few places on are asked for early.
    constexpr std::int32_t kAhead = 32;
    for (std::int32_t p = 0; p < count; ++p) {
#if defined(__GNUC__)
        if (p + kAhead < count) {
            const std::int32_t later = rows_[p + kAhead];
            __builtin_prefetch(xs + later), __builtin_prefetch(ys + later);
            __builtin_prefetch(zs + later), __builtin_prefetch(rs + later);
        }
#endif
        const std::int32_t i = rows_[p];
        x_[p] = xs[i], y_[p] = ys[i], z_[p] = zs[i], r_[p] = rs[i];
    }
    for (std::size_t p = n; p < padded; ++p) x_[p] = y_[p] = z_[p] = r_[p] = 0, rows_[p] = kPaddingRow;
    for (std::int64_t c = cells; c > 0; --c) start_[c] = start_[c - 1];
    start_[0] = 0;
    return true;
}
