#include "pdf/PDFTextString.h"

#include <array>
#include <cstdint>
#include <utility>

namespace lumipage {

namespace {

// Windows-1252 to PDFDocEncoding: the 34 codes that differ; all others map to themselves.
constexpr std::array<std::pair<uint8_t, uint8_t>, 34> kPermutation{{
    {0x1A, 0x9F}, {0x1F, 0x87}, {0x80, 0xA0}, {0x81, 0x8A}, {0x82, 0x91}, {0x83, 0x86}, {0x84, 0x8C},
    {0x85, 0x83}, {0x86, 0x81}, {0x87, 0x82}, {0x88, 0x1A}, {0x89, 0x8B}, {0x8A, 0x97}, {0x8B, 0x88},
    {0x8C, 0x96}, {0x8D, 0x93}, {0x8E, 0x99}, {0x8F, 0x94}, {0x90, 0x95}, {0x91, 0x8F}, {0x92, 0x90},
    {0x93, 0x8D}, {0x94, 0x8E}, {0x95, 0x80}, {0x96, 0x85}, {0x97, 0x84}, {0x98, 0x1F}, {0x99, 0x92},
    {0x9A, 0x9D}, {0x9B, 0x89}, {0x9D, 0xAD}, {0x9F, 0x98}, {0xA0, 0x9A}, {0xAD, 0x9B},
}};

struct Tables {
  std::array<uint8_t, 256> encode{};
  std::array<uint8_t, 256> decode{};
  Tables() {
    for (int i = 0; i < 256; ++i) encode[static_cast<size_t>(i)] = decode[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    for (auto [from, to] : kPermutation) {
      encode[from] = to;
      decode[to] = from;
    }
  }
};

const Tables& PermutationTables() {
  static const Tables tables;
  return tables;
}

// Unicode code points of Windows-1252 bytes 0x80 to 0x9F (0 where the code page has none).
constexpr std::array<uint16_t, 32> kCp1252High{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char ToCp1252(uint16_t u) {
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<char>(u);
  for (size_t i = 0; i < kCp1252High.size(); ++i)
    if (kCp1252High[i] == u && u != 0) return static_cast<char>(0x80 + i);
  return '?';
}

}  // namespace

std::string EncodeTextString(std::string_view text) {
  if (text.size() >= 2 && static_cast<uint8_t>(text[0]) == 0xFE && static_cast<uint8_t>(text[1]) == 0xFF)
    return std::string(text);
  const auto& t = PermutationTables();
  std::string out(text);
  for (char& c : out) c = static_cast<char>(t.encode[static_cast<uint8_t>(c)]);
  return out;
}

std::string DecodeTextString(std::string_view bytes) {
  std::string out;
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFE && static_cast<uint8_t>(bytes[1]) == 0xFF) {
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const auto u = static_cast<uint16_t>(static_cast<uint8_t>(bytes[i]) << 8 | static_cast<uint8_t>(bytes[i + 1]));
      if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
        i += 2;  // a surrogate pair is one character outside the code page
        out += '?';
      } else {
        out += ToCp1252(u);
      }
    }
    return out;
  }
  const auto& t = PermutationTables();
  out.assign(bytes);
  for (char& c : out) c = static_cast<char>(t.decode[static_cast<uint8_t>(c)]);
  return out;
}

}  // namespace lumipage
