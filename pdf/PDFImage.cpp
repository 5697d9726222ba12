#include "pdf/PDFImage.h"

#include <atomic>
#include <random>

#include "pdf/PDFDate.h"
#include "pdf/PDFImageTIFF.h"
#include "pdf/PDFNumberText.h"
#include "pdf/PDFSecurity.h"
#include "platform/ByteOrder.h"
#include "platform/SourceDate.h"

namespace lumipage {

namespace {

uint16_t LE16(std::string_view b, size_t at) { return platform::LoadLE16(b.data() + at); }
uint32_t LE32(std::string_view b, size_t at) { return platform::LoadLE32(b.data() + at); }
uint16_t BE16(std::string_view b, size_t at) { return platform::LoadBE16(b.data() + at); }

uint8_t RandomByte() {
  static std::mt19937 engine{std::random_device{}()};
  return static_cast<uint8_t>(engine() & 0xFF);
}

}  // namespace

EImageFileType TPDFImage::DetectFileType(std::string_view head) {
  if (head.size() >= 22 && LE32(head, 0) == 0x9AC6CDD7u) {
    uint16_t sum = 0;
    for (size_t at = 0; at <= 18; at += 2) sum ^= LE16(head, at);
    if (LE16(head, 20) == sum) return EImageFileType::PlaceableMetafile;
  }
  if (head.size() >= 44 && LE32(head, 0) == 1 && head.substr(40, 4) == " EMF") return EImageFileType::EnhancedMetafile;
  if (head.size() >= 14 && head.starts_with("BM") && LE16(head, 6) == 0 && LE16(head, 8) == 0)
    return EImageFileType::Bmp;
  if (head.starts_with("\xFF\xD8")) return EImageFileType::Jpeg;
  if (head.starts_with("II") || head.starts_with("MM")) return EImageFileType::Tiff;
  if (head.starts_with(std::string_view("\x89PNG\r\n\x1A\n", 8))) return EImageFileType::Png;
  if (head.starts_with("GIF87a") || head.starts_with("GIF89a")) return EImageFileType::Gif;
  return EImageFileType::Unknown;
}

bool TPDFImage::ReadJpegHeader(std::string_view b, TJpegInfo& info) {
  info = TJpegInfo{};
  if (!b.starts_with("\xFF\xD8")) return false;
  size_t p = 2;
  while (p < b.size()) {
    if (static_cast<uint8_t>(b[p]) != 0xFF) break;
    while (p < b.size() && static_cast<uint8_t>(b[p]) == 0xFF) ++p;  // fill bytes
    if (p >= b.size()) break;
    const auto code = static_cast<uint8_t>(b[p++]);
    if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) continue;  // no segment
    if (b.size() - p < 2) break;
    const size_t length = BE16(b, p);
    if (length < 2) break;
    const size_t segmentEnd = p + length;
    if (code >= 0xC0 && code <= 0xC3) {
      // Length, sample precision, then height, width and the component count.
      if (b.size() - p < 8) break;
      info.Height = BE16(b, p + 3);
      info.Width = BE16(b, p + 5);
      info.Components = static_cast<uint8_t>(b[p + 7]);
      return info.Width > 0 && info.Height > 0;
    }
    if ((code == 0xE0 || code == 0xE1) && b.size() - p >= 7) {
      const std::string_view id = b.substr(p + 2, 5);
      if (code == 0xE0 && id == std::string_view("JFIF\0", 5) && b.size() - p >= 14) {
        // Version (2 bytes), units, X density, Y density.
        info.ResolutionUnit = static_cast<uint8_t>(b[p + 9]) + 1;
        info.HorizontalResolution = BE16(b, p + 10);
        info.VerticalResolution = BE16(b, p + 12);
      } else if (code == 0xE1 && id == std::string_view("Exif\0", 5) && length >= 8 && segmentEnd <= b.size()) {
        TPDFTIFF exif;
        if (exif.Read(b.substr(p + 8, length - 8)) && exif.PageCount() > 0) {
          info.HorizontalResolution = exif.Page(0).HorizontalResolution;
          info.VerticalResolution = exif.Page(0).VerticalResolution;
          info.ResolutionUnit = 2;
        }
      }
    }
    p = segmentEnd;
  }
  return false;
}

std::string TPDFImage::MakeResourceName(int32_t counter, uint64_t owner) {
  std::string text;
  if (const auto epoch = platform::SourceDateEpoch()) {
    // Reproducible output: no clock, chance or address; the names made so far in this run tell
    // apart two calls with the same counter (a name already taken is asked for again).
    static std::atomic<uint64_t> made{0};
    text = std::to_string(*epoch) + "/" + std::to_string(counter) + "/" + std::to_string(made++);
  } else {
    text = FormatGeneral(NowLocal());
    text += static_cast<char>(RandomByte());
    text += std::to_string(counter);
    text += std::to_string(owner);
  }
  const std::string digest = TPDFSecurity::MD5(text);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name = "VelxIm";
  for (size_t i = 0; i < 4; ++i) {
    const auto byte = static_cast<uint8_t>(digest[i]);
    name += kHex[byte >> 4];
    name += kHex[byte & 0xF];
  }
  return name;
}

}  // namespace lumipage
