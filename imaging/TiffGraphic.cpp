#include "imaging/TiffGraphic.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <vector>

#include "imaging/Errors.h"
#include "imaging/MemoryStream.h"
#include "imaging/NegativeTransform.h"
#include "imaging/TiffError.h"
#include "imaging/TiffHandle.h"

namespace lumipage {
namespace {

constexpr const char* kDefaultSoftware = "Ovinex Image Library";
constexpr std::uint32_t kOneStrip = 2147483647;
constexpr std::uint32_t kRowsPerStripUnlimited = 4294967295u;
constexpr int kJpegRowsPerStrip = 8;
// Widest pixel the direct row paths read: four 16-bit samples.
constexpr unsigned kMaxFileBytesPerPixel = 8;
constexpr std::uint16_t kCompressionNeXT2Bit = 32771;  // CCITT RLE with word alignment
// libtiff's JPEG codec quality pseudo-tag.
constexpr ttag_t kJpegQualityTag = TIFFTAG_JPEGQUALITY;

struct TextTag {
  std::string TTiffGraphic::*field;
  ttag_t tag;
};
// The record order of the text fields, which is also the order they are written in.
constexpr TextTag kTextTags[] = {
    {&TTiffGraphic::DocumentName, TIFFTAG_DOCUMENTNAME},
    {&TTiffGraphic::ImageDescription, TIFFTAG_IMAGEDESCRIPTION},
    {&TTiffGraphic::Make, TIFFTAG_MAKE},
    {&TTiffGraphic::Model, TIFFTAG_MODEL},
    {&TTiffGraphic::PageName, TIFFTAG_PAGENAME},
    {&TTiffGraphic::Software, TIFFTAG_SOFTWARE},
    {&TTiffGraphic::DateTime, TIFFTAG_DATETIME},
    {&TTiffGraphic::Artist, TIFFTAG_ARTIST},
    {&TTiffGraphic::HostComputer, TIFFTAG_HOSTCOMPUTER},
};

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

// "YYYY:MM:DD HH:MM:SS" in local time, as the DateTime tag wants it.
std::string CurrentDateTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
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

// --- Reading helpers -----------------------------------------------------------------------

bool IsFaxCompression(std::uint16_t compression) {
  return compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTFAX3 ||
         compression == COMPRESSION_CCITTFAX4 || compression == kCompressionNeXT2Bit;
}

// Rounds to the nearest integer, ties to even, limited to what a 16-bit dpi value holds;
// anything that is not a sensible resolution becomes 0.
std::uint16_t ToDpi(double value) {
  if (!(value > 0) || value > 65535.0) return 0;
  return static_cast<std::uint16_t>(std::nearbyint(value));
}

std::uint16_t ResolutionDpi(TIFF* tif, ttag_t tag, std::uint16_t unit) {
  float value = 0;
  if (TIFFGetField(tif, tag, &value) != 1) return 0;
  if (unit == RESUNIT_INCH || unit == RESUNIT_NONE) return ToDpi(value);
  return ToDpi(static_cast<double>(value) * 2.54);
}

TTiffCompression CompressionFromFile(TIFF* tif, std::uint16_t tag) {
  switch (tag) {
    case COMPRESSION_NONE: return tcNone;
    case COMPRESSION_CCITTRLE:
    case kCompressionNeXT2Bit: return tcGroup3_1D;
    case COMPRESSION_CCITTFAX3: {
      std::uint32_t options = 0;
      if (TIFFGetField(tif, TIFFTAG_GROUP3OPTIONS, &options) == 1 && (options & 1) != 0)
        return tcGroup3_2D;
      return tcGroup3_1D;
    }
    case COMPRESSION_CCITTFAX4: return tcGroup4;
    case COMPRESSION_JPEG: return tcJpeg;
    case COMPRESSION_PACKBITS: return tcPackbits;
    case COMPRESSION_DEFLATE:  // 32946, the original Deflate code
      return tcZLib;
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "Unsupported compression tag, %d", tag);
      throw ETiffError(text);
    }
  }
}

std::string FieldText(TIFF* tif, ttag_t tag) {
  const char* value = nullptr;
  if (TIFFGetField(tif, tag, &value) != 1 || value == nullptr) return {};
  return value;
}

// Colour map of a palette file, 2^bits entries; 16-bit values are reduced to their high byte
// when any of them needs more than 8 bits, else taken as they are (some writers store 8-bit
// values). The high byte is exact both for maps written as component x 257 and for our own,
// written as component x 256 (white 65280), which x 255 div 65535 would turn into 254.
TLogPalette PaletteFromColorMap(TIFF* tif, std::uint16_t bitsPerSample) {
  std::uint16_t* red = nullptr;
  std::uint16_t* green = nullptr;
  std::uint16_t* blue = nullptr;
  if (TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) != 1 || red == nullptr ||
      green == nullptr || blue == nullptr)
    throw ETiffError("Palette image without color map");
  const unsigned count = 1u << bitsPerSample;  // bitsPerSample <= 8 checked by the caller
  bool wide = false;
  for (unsigned i = 0; i < count; ++i)
    wide = wide || red[i] >= 256 || green[i] >= 256 || blue[i] >= 256;
  const auto scale = [wide](std::uint16_t v) {
    return static_cast<std::uint8_t>(wide ? v >> 8 : v);
  };
  TLogPalette palette{};
  palette.palVersion = kPaletteVersion;
  palette.palNumEntries = static_cast<std::uint16_t>(count);
  for (unsigned i = 0; i < count; ++i)
    palette.palPalEntry[i] = TPaletteEntry{scale(red[i]), scale(green[i]), scale(blue[i]), 0};
  return palette;
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

void StoreRgb(std::uint8_t* pixel, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  pixel[0] = blue;
  pixel[1] = green;
  pixel[2] = red;
}

}  // namespace

// --- Tables --------------------------------------------------------------------------------

std::string CompressionName(unsigned compression) {
  static constexpr const char* kNames[] = {"None",          "Packbits",      "CCITT Group 3, 1D",
                                           "CCITT Group 3, 2D", "CCITT Group 4", "ZLib",
                                           "JPEG"};
  return compression < std::size(kNames) ? kNames[compression] : "";
}

std::uint16_t TiffCompressionTag(unsigned compression) {
  switch (compression) {
    case tcPackbits: return COMPRESSION_PACKBITS;
    case tcGroup3_1D:
    case tcGroup3_2D: return COMPRESSION_CCITTFAX3;
    case tcGroup4: return COMPRESSION_CCITTFAX4;
    case tcZLib: return COMPRESSION_DEFLATE;
    case tcJpeg: return COMPRESSION_JPEG;
    default: return COMPRESSION_NONE;
  }
}

bool CompressionAllowed(unsigned compression, unsigned kind) {
  switch (kind) {
    case ikBlackWhite: return compression <= tcZLib;
    case ikGray256:
    case ikTrueColor:
      return compression == tcNone || compression == tcPackbits || compression == tcZLib ||
             compression == tcJpeg;
    case ikGray16:
    case ikColor16:
    case ikColor256:
      return compression == tcNone || compression == tcPackbits || compression == tcZLib;
    default: return true;
  }
}

// --- TTiffGraphic -----------------------------------------------------------------------------

TTiffGraphic::TTiffGraphic() {
  UserTags[0].ReadEnabled = true;
  UserTags[0].WriteEnabled = true;
}

TTiffGraphic::~TTiffGraphic() = default;

std::unique_ptr<TDibGraphic> TTiffGraphic::CreateSame() const {
  return std::make_unique<TTiffGraphic>();
}

void TTiffGraphic::SetCompression(TTiffCompression value) {
  if (!CompressionAllowed(value, ImageKind())) {
    throw EOvinexError(CompressionName(value) + " compression not supported with " +
                       ImageKindName(ImageKind()) + " images");
  }
  compression_ = value;
}

void TTiffGraphic::NewImage(std::int32_t width, std::int32_t height, TImageKind kind,
                            const TLogPalette* palette, std::uint16_t dpiX, std::uint16_t dpiY) {
  TDibGraphic::NewImage(width, height, kind, palette, dpiX, dpiY);
  compression_ = kind == ikBlackWhite ? tcGroup4 : tcPackbits;
}

void TTiffGraphic::Assign(const TDibGraphic* source) {
  TDibGraphic::Assign(source);
  if (const auto* tiff = dynamic_cast<const TTiffGraphic*>(source)) RowsPerStrip = tiff->RowsPerStrip;
}

bool TTiffGraphic::IsFormatOf(TStream& stream) {
  std::uint8_t head[4] = {};
  const std::size_t got = stream.Read(head, sizeof head);
  stream.Seek(-static_cast<std::int64_t>(got), TSeekOrigin::soCurrent);
  if (got != sizeof head) return false;
  static constexpr std::uint8_t kBigEndian[4] = {'M', 'M', 0, '*'};
  static constexpr std::uint8_t kLittleEndian[4] = {'I', 'I', '*', 0};
  return std::memcmp(head, kBigEndian, 4) == 0 || std::memcmp(head, kLittleEndian, 4) == 0;
}

int TTiffGraphic::GetImageCount(TStream& stream) {
  TTiffHandle handle(stream, "r", stream.Position());
  // libtiff refuses directory chains that loop, so this ends.
  int count = 1;
  while (TIFFReadDirectory(handle.Get()) == 1) ++count;
  return count;
}

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

std::uint64_t ReadUnsigned(TStream& stream, std::int64_t at, int bytes, bool bigEndian, bool& ok) {
  std::uint8_t b[8] = {};
  stream.SetPosition(at);
  if (stream.Read(b, static_cast<std::size_t>(bytes)) != static_cast<std::size_t>(bytes)) {
    ok = false;
    return 0;
  }
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint64_t>(b[bigEndian ? i : bytes - 1 - i]) << (8 * (bytes - 1 - i));
  return v;
}

}  // namespace

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
  for (const TextTag& text : kTextTags) {
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

void TTiffGraphic::LoadImage(TStream& stream, int n) {
  ProgressStart();
  // Offsets count from the first byte of the TIFF, wherever it starts in the stream.
  // "c": no strip chopping, so RowsPerStrip is the file's own.
  TTiffHandle handle(stream, "rc", stream.Position());
  TIFF* tif = handle.Get();
  if (n < 1 || TIFFSetDirectory(tif, static_cast<tdir_t>(n - 1)) != 1)
    throw ETiffError("TIFFSetDirectory");
  ReadDirectory(tif);
  handle.Close();
  ProgressEnd();
}

void TTiffGraphic::ReadDirectory(TIFF* tif) {
  std::uint32_t width = 0;
  std::uint32_t length = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length);
  std::uint16_t photometric = 0;
  if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 1) photometric = 0;
  std::uint16_t compressionTag = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compressionTag);
  std::uint16_t samplesPerPixel = 1;
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
  std::uint16_t planar = PLANARCONFIG_CONTIG;
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  std::uint16_t resolutionUnit = RESUNIT_INCH;
  if (TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &resolutionUnit) != 1) resolutionUnit = RESUNIT_INCH;

  const bool fax = IsFaxCompression(compressionTag);
  std::uint16_t bitsPerSample = 0;
  if (TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bitsPerSample) != 1) {
    if (!fax) throw ETiffError("Bits per sample not specified");
    bitsPerSample = 1;
  }
  const std::uint16_t dpiX = ResolutionDpi(tif, TIFFTAG_XRESOLUTION, resolutionUnit);
  const std::uint16_t dpiY = ResolutionDpi(tif, TIFFTAG_YRESOLUTION, resolutionUnit);

  if (compressionTag == COMPRESSION_LZW) throw EOvinexError("LZW compression not supported");

  // Hostile headers: refuse what no image can be before anything is allocated.
  if (width == 0 || length == 0) throw ETiffError("Invalid image size");
  if (width > static_cast<std::uint32_t>(kMaxImageDimension) ||
      length > static_cast<std::uint32_t>(kMaxImageDimension) ||
      std::uint64_t{width} * length > kTiffMaxPixels)
    throw ETiffError("Image too large");
  if (bitsPerSample == 0 || bitsPerSample > 16 || samplesPerPixel == 0)
    throw ETiffError("Unsupported bits per sample, " + std::to_string(bitsPerSample));
  const TTiffCompression compression = CompressionFromFile(tif, compressionTag);

  const bool tiled = TIFFIsTiled(tif) != 0;
  const std::uint64_t scanlineSize = TIFFScanlineSize64(tif);
  if (scanlineSize == 0) throw ETiffError("Invalid image size");
  // Bytes per pixel, rounded half to even like every rounding of the image library.
  const auto bytesPerPixel = std::max<std::uint64_t>(
      1, static_cast<std::uint64_t>(std::nearbyint(static_cast<double>(scanlineSize) / width)));
  const std::uint64_t pixelBits = bitsPerSample * bytesPerPixel;

  bool general = compressionTag == COMPRESSION_JPEG || tiled ||
                 photometric == PHOTOMETRIC_SEPARATED || photometric == PHOTOMETRIC_YCBCR ||
                 bitsPerSample > 8 || planar > PLANARCONFIG_CONTIG ||
                 (pixelBits != 1 && pixelBits != 4 && pixelBits != 8 && pixelBits != 24);

  // Kind, palette and inversion.
  if (photometric == PHOTOMETRIC_MINISBLACK && fax) photometric = PHOTOMETRIC_MINISWHITE;
  const bool grey = (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK) &&
                    samplesPerPixel == 1;
  const bool minIsWhite = photometric == PHOTOMETRIC_MINISWHITE;
  TImageKind kind = ikTrueColor;
  const TLogPalette* palette = nullptr;
  TLogPalette filePalette{};
  bool invert = false;
  bool sixteenBit = false;
  if (grey || (fax && photometric != PHOTOMETRIC_PALETTE)) {
    switch (bitsPerSample) {
      case 1:
        kind = ikBlackWhite;
        invert = minIsWhite;
        break;
      case 4:
        kind = ikGray16;
        invert = minIsWhite;
        break;
      case 8:
        kind = ikGray256;
        invert = minIsWhite;
        break;
      case 16:
        kind = ikGray256;
        invert = minIsWhite;
        sixteenBit = true;
        break;
      default: break;
    }
  }
  if (photometric == PHOTOMETRIC_PALETTE) {
    // The image's palette holds at most 256 entries, one index per pixel.
    if (bitsPerSample > 8 || samplesPerPixel != 1)
      throw ETiffError("Palette images with more than 8 bits per pixel are not supported");
    filePalette = PaletteFromColorMap(tif, bitsPerSample);
    palette = &filePalette;
    kind = bitsPerSample <= 4 ? ikColor16 : ikColor256;
  }
  if (kind != ikTrueColor && palette == nullptr) palette = DefaultPalette(kind);

  // Rows are taken over as they are only where the file's pixels have the image's layout;
  // anything else goes through libtiff's RGBA reader, which also knows the photometric
  // interpretation, so its output is never inverted again.
  const bool rgbStrips = kind == ikTrueColor && (bytesPerPixel == 3 || bytesPerPixel == 4) &&
                         bitsPerSample == 8;
  if (sixteenBit && (tiled || planar > PLANARCONFIG_CONTIG)) sixteenBit = false;
  if (!sixteenBit && !general && !rgbStrips && pixelBits != BitsPerPixelOf(kind)) general = true;
  if (sixteenBit) general = false;
  if (general) invert = false;

  NewImage(static_cast<std::int32_t>(width), static_cast<std::int32_t>(length), kind, palette,
           dpiX, dpiY);

  for (const TextTag& text : kTextTags) this->*text.field = FieldText(tif, text.tag);
  for (std::size_t i = 0; i < UserTags.size(); ++i) {
    UserTags[i].Value = UserTags[i].ReadEnabled
                            ? FieldText(tif, kTiffFirstUserTag + static_cast<ttag_t>(i))
                            : std::string();
  }
  SetCompression(compression);

  std::uint32_t fileRowsPerStrip = 0;
  if (TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &fileRowsPerStrip) != 1) {
    RowsPerStrip = static_cast<std::int32_t>(kOneStrip);
  } else if (fileRowsPerStrip == kRowsPerStripUnlimited) {
    RowsPerStrip = static_cast<std::int32_t>(length);
  } else {
    RowsPerStrip = static_cast<std::int32_t>(std::min(fileRowsPerStrip, kOneStrip));
  }

  // Row buffers of the direct paths are sized from the scanline; a header whose samples make a
  // scanline far wider than any pixel format we take is refused rather than allocated.
  if (!general && (scanlineSize > std::uint64_t{kMaxFileBytesPerPixel} * width ||
                   (rgbStrips && scanlineSize < bytesPerPixel * width)))
    throw ETiffError("Invalid image size");

  const auto height = static_cast<std::int32_t>(length);
  if (sixteenBit) {
    // Pixel x's first sample, high byte: the grey level.
    const std::size_t stride = planar == PLANARCONFIG_CONTIG ? samplesPerPixel : 1;
    if (scanlineSize < std::uint64_t{width} * stride * 2) throw ETiffError("Invalid image size");
    std::vector<std::uint16_t> line((scanlineSize + 1) / 2);
    for (std::int32_t y = 0; y < height; ++y) {
      Progress(y, 0, height - 1);
      if (TIFFReadScanline(tif, line.data(), static_cast<std::uint32_t>(y), 0) < 0)
        throw ETiffError("TIFFReadScanline");
      std::uint8_t* row = RowBits(y);
      for (std::uint32_t x = 0; x < width; ++x) row[x] = static_cast<std::uint8_t>(line[x * stride] >> 8);
    }
  } else if (fax && !general) {
    // Decoded fax rows have the image's own 1-bit layout.
    std::vector<std::uint8_t> line(scanlineSize);
    const std::size_t copy = std::min<std::size_t>(scanlineSize, BytesPerRow());
    for (std::int32_t y = 0; y < height; ++y) {
      Progress(y, 0, height - 1);
      if (TIFFReadScanline(tif, line.data(), static_cast<std::uint32_t>(y), 0) < 0)
        throw ETiffError("TIFFReadScanline");
      std::memcpy(RowBits(y), line.data(), copy);
    }
  } else if (general) {
    // libtiff's RGBA reader: rows from the bottom (raster row 0 is the image's last row).
    // Not zeroed: a header that claims a huge image costs address space, not memory, until
    // libtiff actually decodes rows into it.
    auto raster = std::make_unique_for_overwrite<std::uint32_t[]>(std::size_t{width} * length);
    Progress(5, 0, 100);
    Progress(10, 0, 100);
    if (TIFFReadRGBAImageOriented(tif, width, length, raster.get(), ORIENTATION_BOTLEFT, 1) != 1)
      throw ETiffError("TIFFReadRGBAImage");
    Progress(80, 0, 100);
    for (std::int32_t y = 0; y < height; ++y) {
      const std::uint32_t* src = raster.get() + std::size_t(height - 1 - y) * width;
      if (kind == ikTrueColor) {
        std::uint8_t* row = RowBits(y);
        for (std::uint32_t x = 0; x < width; ++x, row += 3)
          StoreRgb(row, TIFFGetR(src[x]), TIFFGetG(src[x]), TIFFGetB(src[x]));
      } else {
        for (std::uint32_t x = 0; x < width; ++x) {
          const std::uint32_t rgb = (TIFFGetR(src[x]) << 16) | (TIFFGetG(src[x]) << 8) | TIFFGetB(src[x]);
          SetRgbPixel(static_cast<std::int32_t>(x), y, rgb);
        }
      }
    }
    Progress(90, 0, 100);
  } else {
    // Strips: one encoded-strip read per strip, whole rows at a time.
    std::uint32_t stripRows = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &stripRows);
    if (stripRows == 0 || stripRows > length) stripRows = length;
    const std::uint32_t strips = TIFFNumberOfStrips(tif);
    auto strip = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(scanlineSize) * stripRows);
    const std::size_t copy = std::min<std::size_t>(scanlineSize, BytesPerRow());
    std::uint32_t row = 0;
    for (std::uint32_t s = 0; row < length; ++s) {
      Progress(row, 0, height - 1);
      const std::uint32_t rows = std::min(stripRows, length - row);
      const auto want = static_cast<tmsize_t>(scanlineSize * rows);
      if (s >= strips || TIFFReadEncodedStrip(tif, s, strip.get(), want) != want)
        throw ETiffError("TIFFReadEncodedStrip");
      for (std::uint32_t r = 0; r < rows; ++r, ++row) {
        const std::uint8_t* src = strip.get() + std::size_t(r) * scanlineSize;
        std::uint8_t* dst = RowBits(static_cast<std::int32_t>(row));
        if (rgbStrips) {
          for (std::uint32_t x = 0; x < width; ++x, src += bytesPerPixel, dst += 3)
            StoreRgb(dst, src[0], src[1], src[2]);
        } else {
          std::memcpy(dst, src, copy);
        }
      }
    }
  }

  // White-is-zero files: the negative turns index i into the highest index minus i.
  if (invert) TNegativeTransform().Apply(*this);
}

// File classes register with the picture registry when the program starts.
namespace {
std::unique_ptr<TDibGraphic> CreateTiffGraphic() { return std::make_unique<TTiffGraphic>(); }
[[maybe_unused]] const bool kRegistered = [] {
  RegisterImageFileFormat("TIF", "TIFF file", CreateTiffGraphic);
  RegisterImageFileFormat("TIFF", "TIFF file", CreateTiffGraphic);
  return true;
}();
}  // namespace

}  // namespace lumipage
