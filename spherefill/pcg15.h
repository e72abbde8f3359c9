#pragma once

#include <cstdint>

// PCG32 (XSH-RR) reduced to 15-bit draws: a 64-bit linear congruential state,
// state = state * 6364136223846793005 + 0xda3e39cb94b95bdb (mod 2^64), and an
// output that mixes the old state's high bits (xorshift, then a rotation by
// its top five bits); a draw is the top 15 bits of that 32-bit output.
// Its period is 2^64 draws, and consecutive triples of draws fill space
// evenly, with none of the planes of a 32-bit congruential generator.
// The state starts at a constant, so a freshly loaded plug-in always gives
// the same packings; it is never seeded.
struct Pcg15 {
    static constexpr std::uint64_t kMultiplier = 6364136223846793005u;
    static constexpr std::uint64_t kIncrement = 0xda3e39cb94b95bdbu;
    static constexpr std::uint64_t kInitialState = 0x853c49e6748fea9bu;

    std::uint64_t state = kInitialState;

    // The draw of a state.
    static std::int32_t output(std::uint64_t old) {
        const std::uint32_t mixed = static_cast<std::uint32_t>(((old >> 18) ^ old) >> 27);
        const unsigned rotation = static_cast<unsigned>(old >> 59);
        const std::uint32_t out = (mixed >> rotation) | (mixed << ((32 - rotation) & 31));
        return static_cast<std::int32_t>(out >> 17);
    }

    static std::int32_t drawNext(void* context) {
        Pcg15* self = static_cast<Pcg15*>(context);
        const std::uint64_t old = self->state;
        self->state = old * kMultiplier + kIncrement;
        return output(old);
    }

    // n steps of x -> m x + c in one: x -> multiplier x + increment.
    struct Jump {
        std::uint64_t multiplier, increment;
        std::uint64_t apply(std::uint64_t x) const { return multiplier * x + increment; }
    };
    static constexpr Jump jumpOf(std::uint64_t n) {
        // Built one step at a time: only ever for a few steps, at compile time.
        Jump total{1, 0};
        for (; n > 0; --n) total = {total.multiplier * kMultiplier, total.increment * kMultiplier + kIncrement};
        return total;
    }

    // n draws at once, the same as n calls of drawNext: on the widest
    // instruction set in use, many of the sequence's steps at a time.
    static void drawMany(void* context, std::int32_t* out, int n);

    // The same, one instruction at a time: four interleaved sequences, each
    // four steps at a time, so that four multiplications are under way at
    // once instead of one after another.
    static void drawManyPlain(std::uint64_t& state, std::int32_t* out, int n) {
        constexpr Jump one = jumpOf(1), two = jumpOf(2), three = jumpOf(3), four = jumpOf(4);
        std::uint64_t s0 = state;
        int k = 0;
        if (n >= 4) {
            std::uint64_t s1 = one.apply(s0), s2 = two.apply(s0), s3 = three.apply(s0);
            for (; k + 4 <= n; k += 4) {
                out[k] = output(s0), out[k + 1] = output(s1), out[k + 2] = output(s2), out[k + 3] = output(s3);
                s0 = four.apply(s0), s1 = four.apply(s1), s2 = four.apply(s2), s3 = four.apply(s3);
            }
        }
        for (; k < n; ++k) {
            out[k] = output(s0);
            s0 = one.apply(s0);
        }
        state = s0;
    }

    // The number of draws that lead from state `from` to state `to`. The
    // sequence has period 2^64, and its states modulo 2^(k+1) repeat every
    // 2^(k+1) draws, so a jump of 2^k draws keeps the low k bits of a state
    // and flips bit k: the count is found a bit at a time, low bits first.
    static std::uint64_t drawsBetween(std::uint64_t from, std::uint64_t to) {
        std::uint64_t n = 0, multiplier = kMultiplier, increment = kIncrement;
        for (std::uint64_t bit = 1; bit != 0; bit <<= 1) {
            if ((from ^ to) & bit) {
                from = multiplier * from + increment;
                n |= bit;
            }
            increment = (multiplier + 1) * increment;
            multiplier *= multiplier;
        }
        return n;
    }

    // Moves the state on by n draws in O(log n) steps: n steps of
    // x -> m x + c compose to x -> M x + C, built up by squaring.
    static void skipDraws(void* context, std::uint64_t n) {
        Pcg15* self = static_cast<Pcg15*>(context);
        std::uint64_t totalMultiplier = 1, totalIncrement = 0;
        std::uint64_t multiplier = kMultiplier, increment = kIncrement;
        for (; n > 0; n >>= 1) {
            if (n & 1) {
                totalMultiplier *= multiplier;
                totalIncrement = totalIncrement * multiplier + increment;
            }
            increment = (multiplier + 1) * increment;
            multiplier *= multiplier;
        }
        self->state = totalMultiplier * self->state + totalIncrement;
    }
};
