#pragma once

// The simple reference of the tests, compiled as a plain plug-in build would
// compile it (-O2, baseline x86-64, no -march): the speed to beat.

#include <cstdint>
#include <vector>

#include "random_source.h"

struct Spheres {
    std::vector<double> columns;  // column-major x, y, z, radius
    std::int32_t count = 0;
};

double oracleSum(const Spheres& spheres, double T);
// Fills and returns the packing; counts the distance tests it made.
Spheres oracleFill(const std::vector<double>& diameters, double L, double s, RandomSource& random,
                   std::int64_t& tests);
