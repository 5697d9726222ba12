#pragma once
// Text strings: Windows-1252 text to PDFDocEncoding or UTF-16BE and back.
#include <string>
#include <string_view>

namespace lumipage {

// Windows-1252 text to a PDF text string (PDFDocEncoding); UTF-16BE with its mark unchanged.
[[nodiscard]] std::string EncodeTextString(std::string_view text);
// PDF text string to Windows-1252 text; UTF-16BE with its mark converted, '?' where 1252 has
// no character.
[[nodiscard]] std::string DecodeTextString(std::string_view bytes);

}  // namespace lumipage
