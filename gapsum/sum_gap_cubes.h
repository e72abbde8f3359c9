#pragma once

#include "sphere_table.h"

// Visits every unordered pair of rows (i, j), j < i, of the table and adds the
// cube of half the surface gap for each pair whose gap relative to the sum of
// the radii is below T:
//   dist = sqrt((dx*dx + dy*dy) + dz*dz), gap = (dist - r_i) - r_j,
//   rel = gap / (r_j + r_i); if T > rel: h = gap * 0.5, S = (h*h)*h + S.
// Terms are added with i ascending and, within i, j ascending, starting from
// +0.0. Only columns 0..3 are read; a table with no rows may have a null pointer.
double sumGapCubes(ConstSphereTable table, double T);
