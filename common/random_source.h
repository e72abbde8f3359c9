#pragma once

#include <cstdint>

// A source of integers uniformly distributed over 0..32767, drawn in sequence.
// It is a function and the state it works on, so any sequence (the plug-in's
// generator, the C runtime's rand, a scripted list in a test) binds the same way.
struct RandomSource {
    using DrawFunction = std::int32_t (*)(void* context);

    DrawFunction draw;
    void* context;

    // The next integer of the sequence; advances the source.
    std::int32_t next() { return draw(context); }
};
