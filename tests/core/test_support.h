#pragma once

// Helpers shared by the core tests: bit patterns, scripted and pseudo-random
// draw sequences, and a deliberately simple reference of both routines.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "random_source.h"

inline std::uint64_t bitsOf(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

inline std::vector<std::uint64_t> bitsOf(const std::vector<double>& values) {
    std::vector<std::uint64_t> out;
    for (double v : values) out.push_back(bitsOf(v));
    return out;
}

// Equal bits, or both NaN: the sign and payload of a NaN are not promised.
inline bool sameResult(double a, double b) { return bitsOf(a) == bitsOf(b) || (std::isnan(a) && std::isnan(b)); }

// A list of draws handed out in order, counting how many were taken. Running
// past the end hands out 0 and is visible through `overrun`.
struct ScriptedDraws {
    std::vector<std::int32_t> draws;
    std::size_t taken = 0;
    bool overrun = false;

    static std::int32_t drawNext(void* context) {
        auto* self = static_cast<ScriptedDraws*>(context);
        if (self->taken >= self->draws.size()) {
            self->overrun = true;
            return 0;
        }
        return self->draws[self->taken++];
    }
    RandomSource source() { return RandomSource{&ScriptedDraws::drawNext, this}; }
};

// An endless 15-bit sequence from a seed, counting its draws.
struct SeededDraws {
    std::uint64_t state;
    std::uint64_t taken = 0;

    explicit SeededDraws(std::uint64_t seed) : state(seed) {}
    static std::int32_t drawNext(void* context) {
        auto* self = static_cast<SeededDraws*>(context);
        self->state = self->state * 6364136223846793005ULL + 1442695040888963407ULL;
        ++self->taken;
        return static_cast<std::int32_t>((self->state >> 33) & 0x7FFF);
    }
    RandomSource source() { return RandomSource{&SeededDraws::drawNext, this}; }
};

// The reference works on rows of structs, the way the algorithm reads in
// prose, with no early exits shared with the code under test.
struct RefSphere {
    double x, y, z, r;
};

// Random sequential addition without any stop rule; gives up (returns false)
// after maxDraws draws so that a test of an impossible case cannot hang.
// Counts the distance tests it makes into *tests when given.
inline bool referenceFill(const std::vector<double>& diameters, double L, double s,
                          RandomSource& random, std::vector<RefSphere>& out,
                          std::uint64_t maxDraws = 300000000, std::uint64_t* tests = nullptr) {
    out.clear();
    std::uint64_t draws = 0;
    for (double d : diameters) {
        const double r = d * 0.5;
        for (;;) {
            if (draws >= maxDraws) return false;
            RefSphere c;
            c.x = L * (double(random.next()) / 32767.0);
            c.y = L * (double(random.next()) / 32767.0);
            c.z = L * (double(random.next()) / 32767.0);
            c.r = r;
            draws += 3;
            bool clear = true;
            for (const RefSphere& o : out) {
                if (tests) ++*tests;
                double dx = c.x - o.x, dy = c.y - o.y, dz = c.z - o.z;
                double sum = dx * dx;
                sum = sum + dy * dy;
                sum = sum + dz * dz;
                double limit = c.r + o.r;
                limit = limit + s;
                if (!(std::sqrt(sum) > limit)) {
                    clear = false;
                    break;
                }
            }
            if (clear) {
                out.push_back(c);
                break;
            }
        }
    }
    return true;
}

inline double referenceSum(const std::vector<RefSphere>& spheres, double T) {
    double S = 0.0;
    for (std::size_t i = 0; i < spheres.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            const RefSphere& a = spheres[i];
            const RefSphere& b = spheres[j];
            double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
            double sum = dx * dx;
            sum = sum + dy * dy;
            sum = sum + dz * dz;
            double gap = std::sqrt(sum) - a.r;
            gap = gap - b.r;
            double rel = gap / (b.r + a.r);
            if (T > rel) {
                double h = gap * 0.5;
                double cube = h * h;
                cube = cube * h;
                S = cube + S;
            }
        }
    }
    return S;
}

// Column-major storage of a list of spheres, with `extraColumns` zero columns.
inline std::vector<double> toColumns(const std::vector<RefSphere>& spheres, int extraColumns = 0) {
    const std::size_t n = spheres.size();
    std::vector<double> data(n * (4 + extraColumns), 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        data[i] = spheres[i].x;
        data[n + i] = spheres[i].y;
        data[2 * n + i] = spheres[i].z;
        data[3 * n + i] = spheres[i].r;
    }
    return data;
}
