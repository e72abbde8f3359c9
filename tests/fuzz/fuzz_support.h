#pragma once

// Turning a fuzzer's bytes into inputs: counts, edge-case doubles, draws.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "pcg15.h"
#include "random_source.h"
#include "test_support.h"

// Aborts with a message, which libFuzzer reports as a crash with its input.
#define FUZZ_CHECK(condition)                                                  \
    do {                                                                       \
        if (!(condition)) {                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                      \
        }                                                                      \
    } while (0)

class FuzzBytes {
public:
    FuzzBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte() {
        if (size_ == 0) return 0;
        --size_;
        return *data_++;
    }
    std::size_t left() const { return size_; }
    const std::uint8_t* rest() const { return data_; }

    // A double that is often an edge case: signed zeros, NaN, infinities,
    // subnormals, huge and tiny values, small numbers; otherwise raw bits.
    double value() {
        static constexpr double kPalette[] = {0.0, -0.0, 1.0, -1.0, 0.5, 2.0, 10.0, 0.001, 3.0, 100.0,
                                             std::numeric_limits<double>::quiet_NaN(),
                                             std::numeric_limits<double>::infinity(),
                                             -std::numeric_limits<double>::infinity(), 5e-324, 2.2250738585072014e-308,
                                             1e300, -1e300, 0x1p-500, 0x1p500, 1e-160};
        const std::uint8_t pick = byte();
        constexpr std::size_t count = sizeof kPalette / sizeof kPalette[0];
        if (pick < 3 * count) return kPalette[pick % count];
        if (pick < 240) return (pick - 3 * count) / 16.0;  // 0 .. about 11 in steps of 1/16
        std::uint64_t bits = 0;
        for (int k = 0; k < 8; ++k) bits = bits << 8 | byte();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// A replayable sequence of 15-bit draws: first from the given bytes, two per
// draw, then from the plug-in's generator, its state moved on by how many bytes
// there were.
struct ByteDraws {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position = 0;
    Pcg15 generator;
    std::uint64_t taken = 0;

    ByteDraws(const std::uint8_t* d, std::size_t n) : data(d), size(n) { generator.state += n; }

    static std::int32_t drawNext(void* context) {
        ByteDraws* self = static_cast<ByteDraws*>(context);
        ++self->taken;
        if (self->position + 1 < self->size) {
            const int v = self->data[self->position] << 8 | self->data[self->position + 1];
            self->position += 2;
            return v & 0x7FFF;
        }
        return Pcg15::drawNext(&self->generator);
    }
    RandomSource source() { return RandomSource{&ByteDraws::drawNext, this}; }
};
