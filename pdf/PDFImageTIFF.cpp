#include "pdf/PDFImageTIFF.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "imaging/PackedDib.h"
#include "platform/ByteOrder.h"

namespace lumipage {

namespace {

// TIFF 6.0 field types and their sizes in bytes (0: not an integer or rational type here).
size_t TypeSize(uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;  // BYTE, ASCII, SBYTE, UNDEFINED
    case 3: case 8: return 2;                  // SHORT, SSHORT
    case 4: case 9: case 11: case 13: return 4;  // LONG, SLONG, FLOAT, IFD
    case 5: case 10: case 12: return 8;        // RATIONAL, SRATIONAL, DOUBLE
    default: return 0;
  }
}

int32_t RoundedDpi(double dpi) {
  if (!std::isfinite(dpi) || dpi <= 0) return 0;
  if (dpi >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(std::nearbyint(dpi));
}

}  // namespace

uint16_t TPDFTIFF::Get16(size_t at) const {
  if (at > bytes_.size() || bytes_.size() - at < 2) return 0;
  return static_cast<uint16_t>(platform::Load(bytes_.data() + at, 2, bigEndian_));
}

uint32_t TPDFTIFF::Get32(size_t at) const {
  if (at > bytes_.size() || bytes_.size() - at < 4) return 0;
  return static_cast<uint32_t>(platform::Load(bytes_.data() + at, 4, bigEndian_));
}

TPDFTIFF::Field TPDFTIFF::ReadField(size_t entry) const {
  Field f;
  f.Tag = Get16(entry);
  f.Type = Get16(entry + 2);
  f.Count = Get32(entry + 4);
  const size_t size = TypeSize(f.Type);
  if (size == 0 || f.Count == 0) return f;
  const uint64_t total = static_cast<uint64_t>(size) * f.Count;
  // Values that fit in the four bytes of the entry are stored there, left-justified (so a
  // SHORT of a big-endian file is the upper half of the field).
  f.ValueAt = total <= 4 ? entry + 8 : Get32(entry + 8);
  f.Valid = f.ValueAt <= bytes_.size() && total <= bytes_.size() - f.ValueAt;
  return f;
}

bool TPDFTIFF::Integer(const Field& field, uint32_t index, uint32_t& value) const {
  if (!field.Valid || index >= field.Count) return false;
  switch (field.Type) {
    case 1: case 6: case 7:
      value = static_cast<uint8_t>(bytes_[field.ValueAt + index]);
      return true;
    case 3: case 8:
      value = Get16(field.ValueAt + 2 * static_cast<size_t>(index));
      return true;
    case 4: case 9: case 13:
      value = Get32(field.ValueAt + 4 * static_cast<size_t>(index));
      return true;
    default:
      return false;
  }
}

double TPDFTIFF::Rational(const Field& field) const {
  if (!field.Valid) return 0;
  if (field.Type == 5) {
    const uint32_t num = Get32(field.ValueAt);
    const uint32_t den = Get32(field.ValueAt + 4);
    return den == 0 ? 0 : static_cast<double>(num) / den;
  }
  uint32_t v = 0;
  return Integer(field, 0, v) ? static_cast<double>(v) : 0;
}

void TPDFTIFF::ReadDirectory(size_t offset, TTIFFPage& page) {
  const uint16_t entries = Get16(offset);
  Field offsets;
  Field counts;
  Field xres;
  Field yres;
  bool haveRows = false;
  for (uint32_t i = 0; i < entries; ++i) {
    const size_t entry = offset + 2 + 12 * static_cast<size_t>(i);
    if (entry > bytes_.size() || bytes_.size() - entry < 12) break;
    const Field f = ReadField(entry);
    uint32_t v = 0;
    const bool has = Integer(f, 0, v);
    switch (f.Tag) {
      case 256: if (has) page.Width = v; break;
      case 257: if (has) page.Length = v; break;
      case 258: if (has) page.BitsPerSample = v > 32 ? 0 : v; break;
      case 259: if (has) page.CompressionTag = v; break;
      case 262: if (has) page.Photometric = v; break;
      case 266: if (has) page.FillOrder = v; break;
      case 273: offsets = f; break;
      case 277: if (has) page.SamplesPerPixel = v; break;
      case 278: if (has) { page.RowsPerStrip = v; haveRows = true; } break;
      case 279: counts = f; break;
      case 282: xres = f; break;
      case 283: yres = f; break;
      case 292: if (has) page.T4Options = v; break;
      case 296: if (has) page.ResolutionUnit = v; break;
      case 317: if (has) page.Predictor = v; break;
      default: break;
    }
  }

  switch (page.CompressionTag) {
    case 1: page.Compression = ETIFFCompression::None; break;
    case 3:
      page.Compression = (page.T4Options & 1) != 0 ? ETIFFCompression::Group3TwoD : ETIFFCompression::Group3OneD;
      break;
    case 4: page.Compression = ETIFFCompression::Group4; break;
    case 5: page.Compression = ETIFFCompression::Lzw; break;
    case 32773: page.Compression = ETIFFCompression::PackBits; break;
    default: page.Compression = ETIFFCompression::Unsupported; break;
  }
  if (page.BitsPerSample == 0 && page.Compression == ETIFFCompression::PackBits) page.BitsPerSample = 1;

  // No RowsPerStrip (or 0, or 2^32 - 1 meaning "all") is one strip for the whole image. A
  // value of 1 is a real one-row strip and is kept.
  if (!haveRows || page.RowsPerStrip == 0 || page.RowsPerStrip > page.Length) page.RowsPerStrip = page.Length;

  if (offsets.Tag != 0 && counts.Tag != 0 && offsets.Count == counts.Count && offsets.Count > 0) {
    if (!offsets.Valid || !counts.Valid || offsets.Count > kMaxTiffStrips || offsets.Count > stripBudget_) {
      page.StripsValid = false;
    } else {
      stripBudget_ -= offsets.Count;
      page.Strips.reserve(offsets.Count);
      for (uint32_t i = 0; i < offsets.Count; ++i) {
        uint32_t at = 0;
        uint32_t size = 0;
        if (!Integer(offsets, i, at) || !Integer(counts, i, size) || at > bytes_.size() ||
            size > bytes_.size() - at) {
          page.StripsValid = false;
          page.Strips.clear();
          break;
        }
        page.Strips.push_back(bytes_.substr(at, size));
      }
    }
  }

  const double perInch = page.ResolutionUnit == 3 ? kCmPerInch<double> : 1.0;
  page.HorizontalResolution = RoundedDpi(Rational(xres) * perInch);
  page.VerticalResolution = RoundedDpi(Rational(yres) * perInch);
}

bool TPDFTIFF::Read(std::string_view bytes) {
  bytes_ = bytes;
  pages_.clear();
  if (bytes.size() < 8) return false;
  if (bytes.starts_with("II")) {
    bigEndian_ = false;
  } else if (bytes.starts_with("MM")) {
    bigEndian_ = true;
  } else {
    return false;
  }
  if (Get16(2) != 42) return false;
  std::unordered_set<uint32_t> seen;
  stripBudget_ = bytes.size() / kTiffFileBytesPerStrip;
  uint32_t offset = Get32(4);
  while (offset != 0 && offset < bytes.size() && static_cast<int>(pages_.size()) < kMaxTiffPages &&
         seen.insert(offset).second) {
    TTIFFPage page;
    stripBudget_ += 2;  // the strips a directory can hold inside its own entries
    ReadDirectory(offset, page);
    pages_.push_back(std::move(page));
    const uint16_t entries = Get16(offset);
    offset = Get32(offset + 2 + 12 * static_cast<size_t>(entries));
  }
  return true;
}

const TTIFFPage& TPDFTIFF::Page(int index) const {
  const int last = static_cast<int>(pages_.size()) - 1;
  return pages_[static_cast<size_t>(std::clamp(index, 0, std::max(last, 0)))];
}

}  // namespace lumipage
