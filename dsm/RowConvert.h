#pragma once
// Row conversions of the SANE bridge, kept apart so that tests can hold the fast paths to the
// plain loops.
#include <cstddef>
#include <cstdint>

namespace lumipage::dsm {

// Red-green-blue samples (SANE's order) into blue-green-red (a DIB's order); src and dst must
// not overlap. Uses SSSE3 where the processor has it.
void RgbToBgrRow(const std::uint8_t* src, std::uint8_t* dst, std::size_t pixels);
// The same, one pixel at a time: the reference the fast path must match byte for byte.
void RgbToBgrRowPlain(const std::uint8_t* src, std::uint8_t* dst, std::size_t pixels);

}  // namespace lumipage::dsm
