#pragma once
// Where a stream's data lies in the text that follows its dictionary, also when its /Length is
// wrong: read by the document parsing its objects and by the repair scanning a damaged file.
#include <cstddef>
#include <string_view>

namespace lumipage {

// declaredLength is the /Length value (negative when there is none or it cannot be resolved).
// The declared length is taken when "endstream" follows it; otherwise the data runs up to
// "endstream" (with the line end before it, as qpdf recovers it). False when no "stream"
// keyword follows the dictionary.
[[nodiscard]] bool LocateStreamData(std::string_view after, double declaredLength, size_t& start, size_t& length);

}  // namespace lumipage
