#include "pdf/PDFStreamData.h"

#include <algorithm>

#include "pdf/PDFLexer.h"

namespace lumipage {

bool LocateStreamData(std::string_view after, double declaredLength, size_t& start, size_t& length) {
  size_t s = pdflex::SkipWhiteAndComments(after, 0);
  if (after.substr(s, 6) != "stream") {
    // Junk between the dictionary and the keyword: the first "stream" that is no "endstream",
    // stands in no comment and comes before the object's end.
    auto inComment = [&](size_t at) {
      const size_t lineStart = after.find_last_of("\r\n", at);
      const size_t from = lineStart == std::string_view::npos ? 0 : lineStart + 1;
      return after.substr(from, at - from).find('%') != std::string_view::npos;
    };
    s = after.find("stream");
    while (s != std::string_view::npos && inComment(s)) s = after.find("stream", s + 6);
    const size_t endobj = after.find("endobj");
    if (s == std::string_view::npos || (endobj != std::string_view::npos && endobj < s) ||
        (s >= 3 && after.substr(s - 3, 3) == "end"))
      return false;
  }
  size_t p = s + 6;
  // The keyword's line end: CR LF, LF or a lone CR; spaces before it are tolerated.
  size_t q = p;
  while (q < after.size() && after[q] == ' ') ++q;
  if (q < after.size() && (after[q] == '\r' || after[q] == '\n')) {
    p = q;
    if (after[p] == '\r') {
      ++p;
      if (p < after.size() && after[p] == '\n') ++p;
    } else {
      ++p;
    }
  }
  start = p;
  const size_t available = after.size() - std::min(start, after.size());
  if (declaredLength >= 0 && declaredLength <= static_cast<double>(available)) {
    const auto n = static_cast<size_t>(declaredLength);
    if (after.substr(pdflex::SkipWhiteAndComments(after, start + n), 9) == "endstream") {
      length = n;
      return true;
    }
  }
  // The declared length is missing or wrong: the data ends where "endstream" stands. The line
  // end before it stays in the data, as qpdf recovers such streams (one byte more at
  // the end of content, an image or a compressed stream changes nothing they show).
  const size_t e = after.find("endstream", start);
  if (e != std::string_view::npos) {
    length = e - start;
    return true;
  }
  if (declaredLength >= 0) {
    length = declaredLength >= static_cast<double>(available) ? available : static_cast<size_t>(declaredLength);
    return true;
  }
  // Neither: up to the object's end.
  size_t end = std::min(after.find("endobj", start), after.size());
  end = pdflex::WhiteRunStart(after, end, start);
  length = end - start;
  return true;
}

}  // namespace lumipage
