#pragma once

#include <cstdint>

#include "simd_path.h"

// Floors per instruction set; see floor_kernels.h.
double sumFloor(SimdPath path, const double* xs, const double* rs, std::int32_t count);
double fillFloor(SimdPath path, const double* data, std::int64_t size, std::int64_t roots);
