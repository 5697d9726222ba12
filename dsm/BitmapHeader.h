#pragma once
// The 40-byte header of a packed device-independent bitmap and the row arithmetic around it.
#include <cstdint>

namespace lumipage::dsm {

#pragma pack(push, 2)
struct TBitmapInfoHeader {
  std::uint32_t biSize;
  std::int32_t biWidth;
  std::int32_t biHeight;
  std::uint16_t biPlanes;
  std::uint16_t biBitCount;
  std::uint32_t biCompression;
  std::uint32_t biSizeImage;
  std::int32_t biXPelsPerMeter;
  std::int32_t biYPelsPerMeter;
  std::uint32_t biClrUsed;
  std::uint32_t biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(TBitmapInfoHeader) == 40);

// Bytes of one pixel row, padded to four bytes.
[[nodiscard]] constexpr std::uint64_t DibStride(std::uint64_t width, unsigned bits) {
  return ((width * bits + 31) / 32) * 4;
}

}  // namespace lumipage::dsm
