#pragma once
// Dates of the document information and metadata, and the seed of file identifiers.
#include <string>

namespace lumipage {

// Local date and time as a day count since 30 December 1899, the time of day as the fraction.
using TDateTime = double;

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

}  // namespace lumipage
