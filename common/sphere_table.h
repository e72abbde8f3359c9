#pragma once

#include <cstddef>
#include <cstdint>

// A non-owning view of a table of spheres stored column by column, one row per
// sphere: column 0 is x, 1 is y, 2 is z (the centre) and 3 is the radius.
// Element (row i, column c) sits at data[c * rows + i], so the row count is
// also the column stride. The view does not know how many columns exist.
template <typename Value>
struct SphereTableView {
    Value* data;
    std::int32_t rows;

    // First element of column c. The offset is formed in a pointer-wide signed
    // type after widening the 32-bit row count, so it cannot overflow for any
    // array the host can hold.
    Value* column(int c) const {
        return data + static_cast<std::ptrdiff_t>(c) * static_cast<std::ptrdiff_t>(rows);
    }
    Value& at(std::int32_t row, int c) const { return column(c)[row]; }
};

// Writable form, filled by fillSpheres.
using SphereTable = SphereTableView<double>;
// Read-only form, read by sumGapCubes.
using ConstSphereTable = SphereTableView<const double>;
