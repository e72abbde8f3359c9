#include "oracle.h"

#include "test_support.h"

double oracleSum(const Spheres& spheres, double T) {
    std::vector<RefSphere> rows(spheres.count);
    const std::int32_t n = spheres.count;
    for (std::int32_t i = 0; i < n; ++i)
        rows[i] = {spheres.columns[i], spheres.columns[n + i], spheres.columns[2 * n + i], spheres.columns[3 * n + i]};
    return referenceSum(rows, T);
}

Spheres oracleFill(const std::vector<double>& diameters, double L, double s, RandomSource& random,
                   std::int64_t& tests) {
    std::vector<RefSphere> out;
    std::uint64_t counted = 0;
    referenceFill(diameters, L, s, random, out, UINT64_MAX, &counted);
    tests = static_cast<std::int64_t>(counted);
    Spheres result;
    result.count = static_cast<std::int32_t>(out.size());
    result.columns = toColumns(out);
    return result;
}
