#pragma once
// Number, date and text helpers shared by the PDF engine.
#include <cstdint>
#include <string>
#include <string_view>

namespace lumipage {

// Local date and time as a day count since 30 December 1899, the time of day as the fraction.
using TDateTime = double;

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

[[nodiscard]] TDateTime NowLocal();
// Minutes east of UTC of the local zone now, daylight saving included.
[[nodiscard]] int LocalOffsetMinutes();
// "D:yyyymmddhhmmss" and the zone ("Z", or +hh'mm' / -hh'mm'); with SOURCE_DATE_EPOCH set,
// that time in UTC.
[[nodiscard]] std::string PDFDateNow();
// What a new file identifier is made from: the time now, or SOURCE_DATE_EPOCH when set, so that
// the same job gives the same identifier.
[[nodiscard]] std::string IdentifierSeed();
// The same text for t; with shift the zone offset is first added to t.
[[nodiscard]] std::string PDFDate(TDateTime t, bool shift);

// Windows-1252 text to a PDF text string (PDFDocEncoding); UTF-16BE with its mark unchanged.
[[nodiscard]] std::string EncodeTextString(std::string_view text);
// PDF text string to Windows-1252 text; UTF-16BE with its mark converted, '?' where 1252 has
// no character.
[[nodiscard]] std::string DecodeTextString(std::string_view bytes);

}  // namespace lumipage
