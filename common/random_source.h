#pragma once

#include <cstdint>

// A source of integers uniformly distributed over 0..32767, drawn in sequence.
// It is a function and the state it works on, so any sequence (the plug-in's
// generator, the C runtime's rand, a scripted list in a test) binds the same way.
// A source may also give a function that moves it on by n draws at once
// (jumping ahead) and one that hands out n draws in one call; without them,
// both are done one draw at a time.
struct RandomSource {
    using DrawFunction = std::int32_t (*)(void* context);
    using SkipFunction = void (*)(void* context, std::uint64_t draws);
    using DrawManyFunction = void (*)(void* context, std::int32_t* out, int n);

    DrawFunction draw;
    void* context;
    SkipFunction skipAhead = nullptr;
    DrawManyFunction drawMany = nullptr;
    // Where the source is the plug-in's own generator (Pcg15), its state: a
    // caller may then step it itself, many draws at a time, leaving it as
    // those draws would. Null for every other source.
    std::uint64_t* pcg15State = nullptr;

    // The next integer of the sequence; advances the source.
    std::int32_t next() { return draw(context); }
    // The next n integers, in order, into out.
    void next(std::int32_t* out, int n) {
        if (drawMany) {
            drawMany(context, out, n);
            return;
        }
        for (int k = 0; k < n; ++k) out[k] = next();
    }
    // Advances the source by n draws, as n calls of next would.
    void skip(std::uint64_t n) {
        if (skipAhead) {
            skipAhead(context, n);
            return;
        }
        for (; n > 0; --n) next();
    }
};
