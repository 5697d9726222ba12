#pragma once
// Numbers as PDF text and back: written values, parsed tokens, object numbers.
#include <cstdint>
#include <string>
#include <string_view>

namespace lumipage {

// The number truncated (never rounded) to decimals places, '.' as separator whatever the
// locale, left-padded with '0' to width; numbers needing an exponent read as 0.
[[nodiscard]] std::string FormatNumber(int width, int decimals, double x);
// The text of a number value: FormatNumber(0, precision, x) without trailing zeros and point.
void AppendNumberText(std::string& out, double x, int precision);
// The general decimal text of x with 15 significant digits ("E" form when it needs one).
[[nodiscard]] std::string FormatGeneral(double x);
// Decimal text to double; 0 for text that is not a plain number.
[[nodiscard]] double ParseNumber(std::string_view text);
// Digits, at most one point and a leading minus only (after trimming); empty text counts.
[[nodiscard]] bool IsNumber(std::string_view text);
// An object number or generation from a run of at most 10 digits; 0 when the run is empty, holds
// anything else or exceeds 32 bits.
[[nodiscard]] int32_t DigitRunToInt(std::string_view run);

}  // namespace lumipage
