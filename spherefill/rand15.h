#pragma once

#include <cstdint>

// The classic 15-bit linear congruential generator of the C runtimes whose
// RAND_MAX is 32767: state = state * 214013 + 2531011 (mod 2^32), and each
// draw is bits 16..30 of the new state. Its state starts at 1, as those
// runtimes' rand does before any srand, so a freshly loaded plug-in gives the
// same packings as a freshly started program there.
struct Rand15 {
    std::uint32_t state = 1;

    static std::int32_t drawNext(void* context) {
        Rand15* self = static_cast<Rand15*>(context);
        self->state = self->state * 214013u + 2531011u;
        return static_cast<std::int32_t>((self->state >> 16) & 0x7FFFu);
    }
};
