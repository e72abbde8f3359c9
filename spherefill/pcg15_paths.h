#pragma once

#include <cstdint>

// The generator's bulk draws on a wider instruction set: the same draws, in
// the same order, and the same state after them, as Pcg15::drawManyPlain.
void pcg15DrawManyAvx512(std::uint64_t& state, std::int32_t* out, int n);
