#include "imaging/TiffWriter.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <vector>

#include "imaging/Errors.h"
#include "imaging/MemoryStream.h"
#include "imaging/TiffError.h"
#include "imaging/TiffGraphic.h"
#include "imaging/TiffHandle.h"
#include "imaging/TiffTextTags.h"
#include "platform/SourceDate.h"

// Writing a TIFF page: a new one-page file, or one more page linked after the last directory of
// an existing file; and the checks that keep an append from damaging the file it extends.

namespace lumipage {
namespace {

constexpr const char* kDefaultSoftware = "Ovinex Image Library";
constexpr int kJpegRowsPerStrip = 8;
// libtiff's JPEG codec quality pseudo-tag.
constexpr ttag_t kJpegQualityTag = TIFFTAG_JPEGQUALITY;

// --- Setting tags -------------------------------------------------------------------------

// Integer tags: libtiff takes 16-bit values promoted to int and 32-bit values as uint32.
void SetIntField(TIFF* tif, ttag_t tag, std::uint32_t value) {
  if (TIFFSetField(tif, tag, value) != 1)
    throw ETiffError("TIFFSetIntField: Tag = " + std::to_string(tag));
}

void SetFloatField(TIFF* tif, ttag_t tag, double value) {
  if (TIFFSetField(tif, tag, value) != 1)
    throw ETiffError("TIFFSetFloatField: Tag = " + std::to_string(tag));
}

void SetTextField(TIFF* tif, ttag_t tag, const std::string& value) {
  if (TIFFSetField(tif, tag, value.c_str()) != 1)
    throw ETiffError("TIFFSetField: Tag = " + std::to_string(tag));
}

// "YYYY:MM:DD HH:MM:SS" in local time, as the DateTime tag wants it; SOURCE_DATE_EPOCH in UTC
// when it is set.
std::string CurrentDateTimeText() {
  const auto epoch = platform::SourceDateEpoch();
  const std::time_t now = epoch ? static_cast<std::time_t>(*epoch) : std::time(nullptr);
  std::tm local{};
  if (epoch)
    gmtime_r(&now, &local);
  else
    localtime_r(&now, &local);
  char text[32];
  if (std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &local) == 0) text[0] = 0;
  return text;
}

struct PixelLayout {
  std::uint16_t bitsPerSample;
  std::uint16_t samplesPerPixel;
  std::uint16_t photometric;
};

PixelLayout LayoutFor(TImageKind kind, TTiffCompression compression) {
  switch (kind) {
    case ikBlackWhite: {
      const bool ccitt =
          compression == tcGroup3_1D || compression == tcGroup3_2D || compression == tcGroup4;
      return {1, 1, ccitt ? std::uint16_t{PHOTOMETRIC_MINISWHITE}
                          : std::uint16_t{PHOTOMETRIC_MINISBLACK}};
    }
    case ikGray16: return {4, 1, PHOTOMETRIC_MINISBLACK};
    case ikGray256: return {8, 1, PHOTOMETRIC_MINISBLACK};
    case ikColor16: return {4, 1, PHOTOMETRIC_PALETTE};
    case ikColor256: return {8, 1, PHOTOMETRIC_PALETTE};
    case ikTrueColor: return {8, 3, PHOTOMETRIC_RGB};
  }
  throw EOvinexError("Internal error: Invalid image format");
}

// Blue, green, red (pixel memory) to red, green, blue (the file). The buffers never overlap;
// saying so lets the compiler keep several pixels in flight.
void SwapRedAndBlue(const std::uint8_t* __restrict src, std::uint8_t* __restrict dst,
                    std::size_t pixels) {
  for (std::size_t i = 0; i < 3 * pixels; i += 3) {
    const std::uint8_t blue = src[i];
    dst[i] = src[i + 2];
    dst[i + 1] = src[i + 1];
    dst[i + 2] = blue;
  }
}

}  // namespace

// --- Writing ---------------------------------------------------------------------------------

void TTiffGraphic::SaveToStream(TStream& stream) {
  // TIFF offsets count from the first byte libtiff writes, and libtiff places new data at the
  // end of the stream: a stream that does not start the file gets a copy written in memory.
  if (stream.Position() != 0) {
    TMemoryStream temporary;
    WriteTiff(temporary, "w");
    temporary.SaveToStream(stream);
    return;
  }
  WriteTiff(stream, "w");
}

void TTiffGraphic::AppendToStream(TStream& stream) {
  if (stream.Size() == 0) {
    SaveToStream(stream);
    return;
  }
  stream.SetPosition(0);
  WriteTiff(stream, "a");
}

void TTiffGraphic::WriteTiff(TStream& stream, const char* mode) {
  if (Empty()) throw ETiffError("Cannot save an empty image");
  ProgressStart();
  TTiffHandle handle(stream, mode);
  TIFF* tif = handle.Get();

  if (compression_ == tcGroup3_1D || compression_ == tcGroup3_2D) {
    SetIntField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    SetIntField(tif, TIFFTAG_GROUP3OPTIONS, compression_ == tcGroup3_2D ? 1 : 0);
  }
  const std::int32_t rowsPerStrip = compression_ == tcJpeg ? kJpegRowsPerStrip : RowsPerStrip;
  if (rowsPerStrip > 0)
    SetIntField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(rowsPerStrip));
  SetIntField(tif, TIFFTAG_COMPRESSION, TiffCompressionTag(compression_));
  if (compression_ == tcJpeg) SetIntField(tif, kJpegQualityTag, JpegQuality);
  SetIntField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);

  for (std::size_t i = 0; i < UserTags.size(); ++i) {
    if (UserTags[i].WriteEnabled)
      SetTextField(tif, kTiffFirstUserTag + static_cast<ttag_t>(i), UserTags[i].Value);
  }
  for (const TTiffTextTag& text : kTiffTextTags) {
    const std::string& value = this->*text.field;
    if (!value.empty()) SetTextField(tif, text.tag, value);
  }
  if (Software.empty()) SetTextField(tif, TIFFTAG_SOFTWARE, kDefaultSoftware);
  if (DateTime.empty()) SetTextField(tif, TIFFTAG_DATETIME, CurrentDateTimeText());

  SetIntField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  SetFloatField(tif, TIFFTAG_XRESOLUTION, DpiX());
  SetFloatField(tif, TIFFTAG_YRESOLUTION, DpiY());
  SetIntField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(Width()));
  SetIntField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(Height()));

  const TImageKind kind = ImageKind();
  const PixelLayout layout = LayoutFor(kind, compression_);
  SetIntField(tif, TIFFTAG_BITSPERSAMPLE, layout.bitsPerSample);
  SetIntField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samplesPerPixel);
  SetIntField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric);
  if (layout.photometric == PHOTOMETRIC_PALETTE) {
    // 2^bits entries per channel, 8-bit components scaled to 16 bits; unused entries black.
    const unsigned size = 1u << layout.bitsPerSample;
    std::vector<std::uint16_t> red(size), green(size), blue(size);
    const TLogPalette& palette = LogPalette();
    const unsigned used = std::min<unsigned>(palette.palNumEntries, size);
    for (unsigned i = 0; i < used; ++i) {
      red[i] = static_cast<std::uint16_t>(palette.palPalEntry[i].peRed * 256);
      green[i] = static_cast<std::uint16_t>(palette.palPalEntry[i].peGreen * 256);
      blue[i] = static_cast<std::uint16_t>(palette.palPalEntry[i].peBlue * 256);
    }
    if (TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data()) != 1)
      throw ETiffError("TIFFSetColormap");
  }

  // Only CCITT black and white (white is zero in the file) and true colour (red first in the
  // file) need their rows changed; the others go to libtiff straight from pixel memory.
  const bool invert = layout.photometric == PHOTOMETRIC_MINISWHITE;
  const bool swapRgb = kind == ikTrueColor;
  std::vector<std::uint8_t> buffer;
  if (invert || swapRgb) buffer.resize(BytesPerRow());
  const std::int32_t height = Height();
  const std::int32_t width = Width();
  for (std::int32_t y = 0; y < height; ++y) {
    Progress(y, 0, height - 1);
    std::uint8_t* row = RowBits(y);
    if (invert) {
      for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<std::uint8_t>(~row[i]);
      row = buffer.data();
    } else if (swapRgb) {
      SwapRedAndBlue(row, buffer.data(), static_cast<std::size_t>(width));
      row = buffer.data();
    }
    if (TIFFWriteScanline(tif, row, static_cast<std::uint32_t>(y), 0) < 0)
      throw ETiffError("TIFFWriteScanLine");
  }
  handle.Close();
  ProgressEnd();
}

// --- Appending safely ------------------------------------------------------------------------

bool TiffFileIsWhole(TStream& stream) {
  const std::int64_t size = stream.Size();
  if (size == 0) return true;  // an empty file is written anew
  stream.SetPosition(0);
  try {
    TTiffHandle handle(stream, "rc", 0);
    TIFF* tif = handle.Get();
    do {
      std::uint32_t width = 0, length = 0;
      if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) != 1 || width == 0) return false;
      if (TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length) != 1 || length == 0) return false;
      const std::uint32_t pieces = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
      if (pieces == 0) return false;
      for (std::uint32_t i = 0; i < pieces; ++i) {
        const std::uint64_t offset = TIFFGetStrileOffset(tif, i);
        const std::uint64_t count = TIFFGetStrileByteCount(tif, i);
        if (count == 0 || offset > static_cast<std::uint64_t>(size) || count > static_cast<std::uint64_t>(size) - offset)
          return false;
      }
      if (TIFFLastDirectory(tif)) return true;
    } while (TIFFReadDirectory(tif) == 1);
    return false;  // a next directory that cannot be read
  } catch (const std::exception&) {
    return false;
  }
}

namespace {

// The size and place of the directory libtiff has read last, when it gives a size.
void TakeLastDirectory(TIFF* tif, TTiffPages& pages) {
  std::uint32_t width = 0, length = 0;
  if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) != 1 || TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length) != 1) return;
  pages.LastWidth = width;
  pages.LastHeight = length;
  pages.LastOffset = TIFFCurrentDirOffset(tif);
}

}  // namespace

TTiffPages ReadTiffPages(TStream& stream) {
  TTiffPages pages;
  try {
    stream.SetPosition(0);
    TTiffHandle handle(stream, "r", 0);
    TIFF* tif = handle.Get();
    // Follows the chain reading only each directory's entry count and link; loops end it.
    pages.Count = static_cast<int>(TIFFNumberOfDirectories(tif));
    if (pages.Count > 0 && TIFFSetDirectory(tif, static_cast<tdir_t>(pages.Count - 1)) == 1) TakeLastDirectory(tif, pages);
  } catch (const std::exception&) {
  }
  return pages;
}

namespace {

// The file as a reader sees it when its header names another directory as the first: libtiff
// then reads the chain from there on without following it from the start, as it would to place
// a directory it is sent to.
class TChainFromStream final : public TStream {
 public:
  TChainFromStream(TStream& file, std::int64_t linkAt, const std::uint8_t* link, std::size_t linkSize)
      : file_(file), linkAt_(linkAt), linkSize_(linkSize) {
    std::copy(link, link + linkSize, link_);
  }
  std::size_t Read(void* buffer, std::size_t count) override {
    const std::int64_t at = file_.Position();
    const std::size_t n = file_.Read(buffer, count);
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    for (std::size_t i = 0; i < linkSize_; ++i) {
      const std::int64_t pos = linkAt_ + static_cast<std::int64_t>(i);
      if (pos >= at && pos < at + static_cast<std::int64_t>(n)) bytes[pos - at] = link_[i];
    }
    return n;
  }
  std::size_t Write(const void*, std::size_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override { return file_.Seek(offset, origin); }
  std::int64_t Size() override { return file_.Size(); }

 private:
  TStream& file_;
  std::int64_t linkAt_;
  std::size_t linkSize_;
  std::uint8_t link_[8] = {};
};

}  // namespace

TTiffPages ReadTiffPagesFrom(TStream& stream, std::uint64_t offset, int limit) {
  TTiffPages pages;
  try {
    std::uint8_t head[4] = {};
    stream.SetPosition(0);
    if (offset == 0 || stream.Read(head, 4) != 4) return pages;
    const bool bigEndian = head[0] == 'M';
    if (head[0] != head[1] || (head[0] != 'I' && head[0] != 'M')) return pages;
    const int version = bigEndian ? head[2] << 8 | head[3] : head[3] << 8 | head[2];
    if (version != 42 && version != 43) return pages;
    // Where the header names the first directory: 4 bytes at 4, or 8 at 8 in a BigTIFF.
    const std::size_t size = version == 42 ? 4 : 8;
    if (size == 4 && offset > 0xFFFFFFFFu) return pages;
    std::uint8_t link[8] = {};
    for (std::size_t i = 0; i < size; ++i) link[bigEndian ? size - 1 - i : i] = static_cast<std::uint8_t>(offset >> (8 * i));
    TChainFromStream from(stream, static_cast<std::int64_t>(size), link, size);
    stream.SetPosition(0);
    TTiffHandle handle(from, "r", 0);
    TIFF* tif = handle.Get();
    pages.Count = 1;
    while (!TIFFLastDirectory(tif)) {
      // A link on past the limit, or into something that is no directory.
      if (pages.Count >= limit || TIFFReadDirectory(tif) != 1) return TTiffPages{limit + 1, 0, 0, 0};
      ++pages.Count;
    }
    TakeLastDirectory(tif, pages);
  } catch (const std::exception&) {
  }
  return pages;
}

namespace {

// An unsigned number of 1 to 8 bytes in the file's byte order.
std::uint64_t FromBytes(const std::uint8_t* b, int bytes, bool bigEndian) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint64_t>(b[bigEndian ? i : bytes - 1 - i]) << (8 * (bytes - 1 - i));
  return v;
}

std::uint64_t ReadUnsigned(TStream& stream, std::int64_t at, int bytes, bool bigEndian, bool& ok) {
  std::uint8_t b[8] = {};
  stream.SetPosition(at);
  if (stream.Read(b, static_cast<std::size_t>(bytes)) != static_cast<std::size_t>(bytes)) {
    ok = false;
    return 0;
  }
  return FromBytes(b, bytes, bigEndian);
}

}  // namespace

namespace {

// Bytes per value of a TIFF field type; 0 for a type this reader does not know.
int TiffTypeSize(std::uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;    // BYTE, ASCII, SBYTE, UNDEFINED
    case 3: case 8: return 2;                    // SHORT, SSHORT
    case 4: case 9: case 11: case 13: return 4;  // LONG, SLONG, FLOAT, IFD
    case 5: case 10: case 12: case 16: case 17: case 18: return 8;  // RATIONAL, SRATIONAL, DOUBLE, LONG8, SLONG8, IFD8
    default: return 0;
  }
}

// Tags of whole-number type that hold no place in the file: anything else of such a type may be
// an offset to bytes of its own, and the end is then not proven.
bool TiffCountTag(std::uint16_t tag) {
  switch (tag) {
    case 254: case 255: case 256: case 257: case 258: case 259: case 262: case 263: case 264: case 265:
    case 266: case 274: case 277: case 278: case 280: case 281: case 284: case 290: case 292: case 293:
    case 296: case 297: case 317: case 318: case 319: case 320: case 321: case 322: case 323: case 332:
    case 338: case 339: case 340: case 341: case 530: case 531: case 532:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::int64_t TiffReferencedEnd(TStream& stream) {
  const std::int64_t size = stream.Size();
  bool ok = true;
  std::uint8_t head[4] = {};
  stream.SetPosition(0);
  if (size < 8 || stream.Read(head, 4) != 4 || head[0] != head[1] || (head[0] != 'I' && head[0] != 'M')) return -1;
  const bool bigEndian = head[0] == 'M';
  const std::uint64_t version = ReadUnsigned(stream, 2, 2, bigEndian, ok);
  if (!ok || (version != 42 && version != 43)) return -1;
  const bool big = version == 43;
  const int pointer = big ? 8 : 4;
  const int countBytes = big ? 8 : 2;
  const int entryBytes = big ? 20 : 12;
  const auto fileSize = static_cast<std::uint64_t>(size);
  std::uint64_t end = big ? 16 : 8;
  auto covers = [&](std::uint64_t offset, std::uint64_t bytes) {
    if (offset > fileSize || bytes > fileSize - offset) return false;
    end = std::max(end, offset + bytes);
    return true;
  };
  // Reads a field's values as unsigned numbers (SHORT, LONG or LONG8).
  auto values = [&](std::uint16_t type, std::uint64_t count, std::int64_t at, std::vector<std::uint64_t>& out) {
    const int each = TiffTypeSize(type);
    if ((type != 3 && type != 4 && type != 16) || count > fileSize / static_cast<std::uint64_t>(each)) return false;
    std::uint64_t from = static_cast<std::uint64_t>(at);
    if (count * static_cast<std::uint64_t>(each) > static_cast<std::uint64_t>(pointer)) {
      from = ReadUnsigned(stream, at, pointer, bigEndian, ok);
      if (!ok) return false;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count) * static_cast<std::size_t>(each));
    stream.SetPosition(static_cast<std::int64_t>(from));
    if (!bytes.empty() && stream.Read(bytes.data(), bytes.size()) != bytes.size()) return false;
    out.resize(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < out.size(); ++i)
      out[i] = FromBytes(bytes.data() + i * static_cast<std::size_t>(each), each, bigEndian);
    return true;
  };
  std::vector<std::uint64_t> seen;
  std::uint64_t next = ReadUnsigned(stream, big ? 8 : 4, pointer, bigEndian, ok);
  while (ok && next != 0) {
    if (seen.size() >= 65536 || std::find(seen.begin(), seen.end(), next) != seen.end()) return -1;
    seen.push_back(next);
    const std::uint64_t count = ReadUnsigned(stream, static_cast<std::int64_t>(next), countBytes, bigEndian, ok);
    if (!ok || count == 0 || count > 0xFFFF) return -1;
    const std::uint64_t entries = next + static_cast<std::uint64_t>(countBytes);
    if (!covers(next, static_cast<std::uint64_t>(countBytes) + count * static_cast<std::uint64_t>(entryBytes) +
                          static_cast<std::uint64_t>(pointer)))
      return -1;
    std::vector<std::uint64_t> pieceOffsets[2], pieceCounts[2];  // strips, tiles
    for (std::uint64_t i = 0; i < count; ++i) {
      const auto at = static_cast<std::int64_t>(entries + i * static_cast<std::uint64_t>(entryBytes));
      const auto tag = static_cast<std::uint16_t>(ReadUnsigned(stream, at, 2, bigEndian, ok));
      const auto type = static_cast<std::uint16_t>(ReadUnsigned(stream, at + 2, 2, bigEndian, ok));
      const std::uint64_t n = ReadUnsigned(stream, at + 4, big ? 8 : 4, bigEndian, ok);
      const std::int64_t valueAt = at + (big ? 12 : 8);
      const int each = TiffTypeSize(type);
      if (!ok || each == 0 || n > fileSize) return -1;
      const std::uint64_t bytes = n * static_cast<std::uint64_t>(each);
      if (bytes > static_cast<std::uint64_t>(pointer)) {
        const std::uint64_t offset = ReadUnsigned(stream, valueAt, pointer, bigEndian, ok);
        if (!ok || !covers(offset, bytes)) return -1;
      }
      if (tag == 273 || tag == 279 || tag == 324 || tag == 325) {
        const int kind = tag == 273 || tag == 279 ? 0 : 1;
        auto& list = tag == 273 || tag == 324 ? pieceOffsets[kind] : pieceCounts[kind];
        if (!values(type, n, valueAt, list)) return -1;
        continue;
      }
      const bool number = type == 3 || type == 4 || type == 8 || type == 9 || type == 13 || type == 16 ||
                          type == 17 || type == 18;
      // Text, rationals, bytes and the like are values; whole numbers may be offsets.
      if (number && (type == 13 || type == 18 || !TiffCountTag(tag))) return -1;
    }
    for (int kind = 0; kind < 2; ++kind) {
      if (pieceOffsets[kind].size() != pieceCounts[kind].size()) return -1;
      for (std::size_t k = 0; k < pieceOffsets[kind].size(); ++k)
        if (!covers(pieceOffsets[kind][k], pieceCounts[kind][k])) return -1;
    }
    if (pieceOffsets[0].empty() && pieceOffsets[1].empty()) return -1;
    next = ReadUnsigned(stream, static_cast<std::int64_t>(entries + count * static_cast<std::uint64_t>(entryBytes)),
                        pointer, bigEndian, ok);
  }
  if (!ok) return -1;
  return static_cast<std::int64_t>(end);
}

void TiffUndoAppend(TStream& stream, std::int64_t oldSize) {
  stream.SetSize(oldSize);
  bool ok = true;
  std::uint8_t head[4] = {};
  stream.SetPosition(0);
  if (stream.Read(head, 4) != 4) return;
  const bool bigEndian = head[0] == 'M';
  const bool big = ReadUnsigned(stream, 2, 2, bigEndian, ok) == 43;
  const int pointer = big ? 8 : 4;
  const int countBytes = big ? 8 : 2;
  const int entryBytes = big ? 20 : 12;
  // Walk the chain of directories; the link that points past the old end is the one the
  // failed append wrote.
  std::int64_t link = big ? 8 : 4;
  for (int guard = 0; ok && guard < 65536; ++guard) {
    const std::uint64_t next = ReadUnsigned(stream, link, pointer, bigEndian, ok);
    if (!ok || next == 0) return;
    if (next >= static_cast<std::uint64_t>(oldSize)) {
      const std::uint8_t zero[8] = {};
      stream.SetPosition(link);
      stream.WriteBuffer(zero, static_cast<std::size_t>(pointer));
      return;
    }
    const std::uint64_t count = ReadUnsigned(stream, static_cast<std::int64_t>(next), countBytes, bigEndian, ok);
    if (!ok || count > 0xFFFFFF) return;
    link = static_cast<std::int64_t>(next) + countBytes + static_cast<std::int64_t>(count) * entryBytes;
  }
}

}  // namespace lumipage
