#pragma once
// A page delivered from a file: an uncompressed BMP file becomes a packed bitmap with its own bit
// depth, palette and resolution. Anything else is refused with a reason.
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "dsm/PageImage.h"

namespace lumipage::dsm {

class TPageFile {
 public:
  // Files above this size are not read: no page comes near it.
  static constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 30;
  // Largest width or height accepted.
  static constexpr std::int32_t kMaxDimension = 60000;

  // The page, or the reason it cannot be delivered, naming the file ("Cannot read page file
  // "/scans/p2.bmp": Permission denied").
  [[nodiscard]] static std::variant<TPageImage, std::string> Load(const std::string& path);
  // The page held by the bytes of a file named path (only used in messages).
  [[nodiscard]] static std::variant<TPageImage, std::string> Parse(const std::vector<std::uint8_t>& bytes,
                                                                   const std::string& path);
};

}  // namespace lumipage::dsm
