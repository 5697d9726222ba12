#pragma once
// Limits that keep hostile PDF input from exhausting the stack, memory or time.
#include <cstddef>
#include <cstdint>

namespace lumipage {

// Deepest nesting of arrays and dictionaries the scanner follows; deeper values end there.
inline constexpr int kMaxParseDepth = 500;
// Deepest nesting written by ToText; deeper (or cyclic) parts are reported as a failed entry.
inline constexpr int kMaxTextDepth = 1000;
// Largest output of any stream decoder; decoding stops with what it has at this size.
inline constexpr size_t kMaxDecodedSize = size_t{1} << 30;

}  // namespace lumipage

namespace lumipage {

// Deepest chain of objects parsed on demand while another one is being parsed (a stream's
// /Length behind a reference, lookups from hooks); deeper lookups read nothing.
inline constexpr int kMaxObjectNesting = 32;

}  // namespace lumipage

namespace lumipage {

// Highest object number a loaded file may use (the implementation limit of the PDF
// Reference); entries above it are ignored, so that a saved table stays of sane size.
inline constexpr int32_t kMaxObjectNumber = 8388607;
// Deepest /Pages nesting followed; a deeper (or cyclic) tree yields no page below it.
inline constexpr int kMaxPageTreeDepth = 256;
// Cross-reference sections followed through /Prev and /XRefStm before the chain is cut.
inline constexpr int kMaxXRefSections = 512;

}  // namespace lumipage
