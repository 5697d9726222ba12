#pragma once
// Small edits to PDF files written by other tools, keeping them readable without repair: what a
// test needs to make a file as some other writer would have made it.
#include <cstdio>
#include <regex>
#include <string>

namespace lumipage::testing {

// Replaces the first `from` by `to` in a file with classic cross-reference tables and moves
// every table entry and startxref that point past the change by the difference. Empty when
// `from` is not there.
inline std::string ReplaceInPdf(const std::string& bytes, const std::string& from, const std::string& to) {
  const size_t at = bytes.find(from);
  if (at == std::string::npos) return {};
  const long delta = static_cast<long>(to.size()) - static_cast<long>(from.size());
  std::string text = bytes.substr(0, at) + to + bytes.substr(at + from.size());
  const auto moved = [&](const std::string& digits) {
    const long offset = std::stol(digits);
    return offset > static_cast<long>(at) ? offset + delta : offset;
  };
  static const std::regex entry("(\\d{10}) (\\d{5}) n");
  static const std::regex start("startxref(\\s+)(\\d+)");
  std::string out;
  auto last = text.cbegin();
  for (std::sregex_iterator it(text.cbegin(), text.cend(), entry), end; it != end; ++it) {
    out.append(last, (*it)[0].first);
    char line[24];
    std::snprintf(line, sizeof line, "%010ld %s n", moved((*it)[1].str()), (*it)[2].str().c_str());
    out += line;
    last = (*it)[0].second;
  }
  out.append(last, text.cend());
  text.swap(out);
  out.clear();
  last = text.cbegin();
  for (std::sregex_iterator it(text.cbegin(), text.cend(), start), end; it != end; ++it) {
    out.append(last, (*it)[0].first);
    out += "startxref" + (*it)[1].str() + std::to_string(moved((*it)[2].str()));
    last = (*it)[0].second;
  }
  out.append(last, text.cend());
  return out;
}

}  // namespace lumipage::testing
