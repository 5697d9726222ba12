#include "imaging/PackedDib.h"
#include "imaging/TiffGraphic.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "imaging/DefaultPalettes.h"
#include "imaging/Errors.h"
#include "imaging/NegativeTransform.h"
#include "imaging/TiffError.h"
#include "imaging/TiffHandle.h"
#include "imaging/TiffTextTags.h"
#include "imaging/TiffLibrary.h"

// Reading a TIFF page: the directory's tags are read and checked into a TTiffDirectory before
// anything is allocated; the image is then made and its rows read by the one path that suits
// the file's layout.

namespace lumipage {

// How a page's rows are read.
enum class ETiffReadPath : std::uint8_t {
  Strips,  // whole encoded strips whose rows are the image's rows (or 8-bit RGB and RGBA)
  Fax,     // CCITT rows, decoded by libtiff into the image's 1-bit layout
  Grey16,  // 16-bit grey: the high byte of each pixel's first sample
  Rgba,    // anything else, through libtiff's RGBA reader
};

// What a directory says, and what it becomes.
struct TTiffDirectory {
  std::uint32_t Width = 0;
  std::uint32_t Length = 0;
  std::uint16_t Photometric = 0;
  std::uint16_t CompressionTag = COMPRESSION_NONE;
  std::uint16_t SamplesPerPixel = 1;
  std::uint16_t Planar = PLANARCONFIG_CONTIG;
  std::uint16_t BitsPerSample = 0;
  std::uint16_t DpiX = 0;
  std::uint16_t DpiY = 0;
  TTiffCompression Compression = tcNone;
  bool Fax = false;
  bool Tiled = false;
  std::uint64_t ScanlineSize = 0;
  std::uint64_t BytesPerPixel = 0;

  TImageKind Kind = ikTrueColor;
  std::optional<TLogPalette> FilePalette;
  bool Invert = false;     // white is zero in the file
  bool RgbStrips = false;  // strips of 8-bit RGB or RGBA samples
  ETiffReadPath Path = ETiffReadPath::Strips;
};

namespace {

constexpr std::uint32_t kOneStrip = 2147483647;
constexpr std::uint32_t kRowsPerStripUnlimited = 4294967295u;
// Widest pixel the direct row paths read: four 16-bit samples.
constexpr unsigned kMaxFileBytesPerPixel = 8;
constexpr std::uint16_t kCompressionNeXT2Bit = 32771;  // CCITT RLE with word alignment

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
  if (Tiff().GetField(tif, tag, &value) != 1) return 0;
  if (unit == RESUNIT_INCH || unit == RESUNIT_NONE) return ToDpi(value);
  return ToDpi(DpiOfDotsPerCm(static_cast<double>(value)));
}

TTiffCompression CompressionFromFile(TIFF* tif, std::uint16_t tag) {
  switch (tag) {
    case COMPRESSION_NONE: return tcNone;
    case COMPRESSION_CCITTRLE:
    case kCompressionNeXT2Bit: return tcGroup3_1D;
    case COMPRESSION_CCITTFAX3: {
      std::uint32_t options = 0;
      if (Tiff().GetField(tif, TIFFTAG_GROUP3OPTIONS, &options) == 1 && (options & 1) != 0)
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
  if (Tiff().GetField(tif, tag, &value) != 1 || value == nullptr) return {};
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
  if (Tiff().GetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) != 1 || red == nullptr ||
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

void StoreRgb(std::uint8_t* pixel, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  pixel[0] = blue;
  pixel[1] = green;
  pixel[2] = red;
}

// The directory's tags, checked: hostile headers are refused before anything is allocated.
TTiffDirectory ReadTiffDirectory(TIFF* tif) {
  TTiffDirectory d;
  Tiff().GetField(tif, TIFFTAG_IMAGEWIDTH, &d.Width);
  Tiff().GetField(tif, TIFFTAG_IMAGELENGTH, &d.Length);
  if (Tiff().GetField(tif, TIFFTAG_PHOTOMETRIC, &d.Photometric) != 1) d.Photometric = 0;
  Tiff().GetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &d.CompressionTag);
  Tiff().GetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &d.SamplesPerPixel);
  Tiff().GetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &d.Planar);
  std::uint16_t resolutionUnit = RESUNIT_INCH;
  if (Tiff().GetField(tif, TIFFTAG_RESOLUTIONUNIT, &resolutionUnit) != 1) resolutionUnit = RESUNIT_INCH;

  d.Fax = IsFaxCompression(d.CompressionTag);
  if (Tiff().GetField(tif, TIFFTAG_BITSPERSAMPLE, &d.BitsPerSample) != 1) {
    if (!d.Fax) throw ETiffError("Bits per sample not specified");
    d.BitsPerSample = 1;
  }
  d.DpiX = ResolutionDpi(tif, TIFFTAG_XRESOLUTION, resolutionUnit);
  d.DpiY = ResolutionDpi(tif, TIFFTAG_YRESOLUTION, resolutionUnit);

  if (d.CompressionTag == COMPRESSION_LZW) throw EOvinexError("LZW compression not supported");
  if (d.Width == 0 || d.Length == 0) throw ETiffError("Invalid image size");
  if (d.Width > static_cast<std::uint32_t>(kMaxImageDimension) ||
      d.Length > static_cast<std::uint32_t>(kMaxImageDimension) ||
      std::uint64_t{d.Width} * d.Length > kTiffMaxPixels)
    throw ETiffError("Image too large");
  if (d.BitsPerSample == 0 || d.BitsPerSample > 16 || d.SamplesPerPixel == 0)
    throw ETiffError("Unsupported bits per sample, " + std::to_string(d.BitsPerSample));
  d.Compression = CompressionFromFile(tif, d.CompressionTag);

  d.Tiled = Tiff().IsTiled(tif) != 0;
  d.ScanlineSize = Tiff().ScanlineSize64(tif);
  if (d.ScanlineSize == 0) throw ETiffError("Invalid image size");
  // Bytes per pixel, rounded half to even like every rounding of the image library.
  d.BytesPerPixel = std::max<std::uint64_t>(
      1, static_cast<std::uint64_t>(std::nearbyint(static_cast<double>(d.ScanlineSize) / d.Width)));
  const std::uint64_t pixelBits = d.BitsPerSample * d.BytesPerPixel;

  bool general = d.CompressionTag == COMPRESSION_JPEG || d.Tiled || d.Photometric == PHOTOMETRIC_SEPARATED ||
                 d.Photometric == PHOTOMETRIC_YCBCR || d.BitsPerSample > 8 || d.Planar > PLANARCONFIG_CONTIG ||
                 (pixelBits != 1 && pixelBits != 4 && pixelBits != 8 && pixelBits != 24);

  // Kind, palette and inversion.
  if (d.Photometric == PHOTOMETRIC_MINISBLACK && d.Fax) d.Photometric = PHOTOMETRIC_MINISWHITE;
  const bool grey = (d.Photometric == PHOTOMETRIC_MINISWHITE || d.Photometric == PHOTOMETRIC_MINISBLACK) &&
                    d.SamplesPerPixel == 1;
  const bool minIsWhite = d.Photometric == PHOTOMETRIC_MINISWHITE;
  bool sixteenBit = false;
  if (grey || (d.Fax && d.Photometric != PHOTOMETRIC_PALETTE)) {
    switch (d.BitsPerSample) {
      case 1: d.Kind = ikBlackWhite; break;
      case 4: d.Kind = ikGray16; break;
      case 8: d.Kind = ikGray256; break;
      case 16:
        d.Kind = ikGray256;
        sixteenBit = true;
        break;
      default: break;
    }
    d.Invert = d.Kind != ikTrueColor && minIsWhite;
  }
  if (d.Photometric == PHOTOMETRIC_PALETTE) {
    // The image's palette holds at most 256 entries, one index per pixel.
    if (d.BitsPerSample > 8 || d.SamplesPerPixel != 1)
      throw ETiffError("Palette images with more than 8 bits per pixel are not supported");
    d.FilePalette = PaletteFromColorMap(tif, d.BitsPerSample);
    d.Kind = d.BitsPerSample <= 4 ? ikColor16 : ikColor256;
  }

  // Rows are taken over as they are only where the file's pixels have the image's layout;
  // anything else goes through libtiff's RGBA reader, which also knows the photometric
  // interpretation, so its output is never inverted again.
  d.RgbStrips = d.Kind == ikTrueColor && (d.BytesPerPixel == 3 || d.BytesPerPixel == 4) && d.BitsPerSample == 8;
  if (sixteenBit && (d.Tiled || d.Planar > PLANARCONFIG_CONTIG)) sixteenBit = false;
  if (!sixteenBit && !general && !d.RgbStrips && pixelBits != BitsPerPixelOf(d.Kind)) general = true;
  if (sixteenBit) {
    d.Path = ETiffReadPath::Grey16;
  } else if (general) {
    d.Path = ETiffReadPath::Rgba;
    d.Invert = false;
  } else if (d.Fax) {
    d.Path = ETiffReadPath::Fax;
  }
  return d;
}

// Row buffers of the direct paths are sized from the scanline; a header whose samples make a
// scanline far wider than any pixel format we take is refused rather than allocated.
void CheckDirectScanline(const TTiffDirectory& d) {
  if (d.ScanlineSize > std::uint64_t{kMaxFileBytesPerPixel} * d.Width ||
      (d.RgbStrips && d.ScanlineSize < d.BytesPerPixel * d.Width))
    throw ETiffError("Invalid image size");
}

}  // namespace

void TTiffGraphic::LoadImage(TStream& stream, int n) {
  ProgressStart();
  // Offsets count from the first byte of the TIFF, wherever it starts in the stream.
  // "c": no strip chopping, so RowsPerStrip is the file's own.
  TTiffHandle handle(stream, "rc", stream.Position());
  TIFF* tif = handle.Get();
  if (n < 1 || Tiff().SetDirectory(tif, static_cast<tdir_t>(n - 1)) != 1)
    throw ETiffError("TIFFSetDirectory");
  ReadDirectory(tif);
  handle.Close();
  ProgressEnd();
}

void TTiffGraphic::ReadDirectory(TIFF* tif) {
  const TTiffDirectory d = ReadTiffDirectory(tif);
  const TLogPalette* palette = d.FilePalette ? &*d.FilePalette : nullptr;
  if (d.Kind != ikTrueColor && palette == nullptr) palette = DefaultPalette(d.Kind);
  NewImage(static_cast<std::int32_t>(d.Width), static_cast<std::int32_t>(d.Length), d.Kind, palette, d.DpiX,
           d.DpiY);

  for (const TTiffTextTag& text : kTiffTextTags) this->*text.field = FieldText(tif, text.tag);
  for (std::size_t i = 0; i < UserTags.size(); ++i) {
    UserTags[i].Value = UserTags[i].ReadEnabled
                            ? FieldText(tif, kTiffFirstUserTag + static_cast<ttag_t>(i))
                            : std::string();
  }
  SetCompression(d.Compression);

  std::uint32_t fileRowsPerStrip = 0;
  if (Tiff().GetField(tif, TIFFTAG_ROWSPERSTRIP, &fileRowsPerStrip) != 1) {
    RowsPerStrip = static_cast<std::int32_t>(kOneStrip);
  } else if (fileRowsPerStrip == kRowsPerStripUnlimited) {
    RowsPerStrip = static_cast<std::int32_t>(d.Length);
  } else {
    RowsPerStrip = static_cast<std::int32_t>(std::min(fileRowsPerStrip, kOneStrip));
  }

  switch (d.Path) {
    case ETiffReadPath::Strips: ReadStrips(tif, d); break;
    case ETiffReadPath::Fax: ReadFaxRows(tif, d); break;
    case ETiffReadPath::Grey16: ReadGrey16Rows(tif, d); break;
    case ETiffReadPath::Rgba: ReadRgbaImage(tif, d); break;
  }
  // White-is-zero files: the negative turns index i into the highest index minus i.
  if (d.Invert) TNegativeTransform().Apply(*this);
}

void TTiffGraphic::ReadGrey16Rows(TIFF* tif, const TTiffDirectory& d) {
  CheckDirectScanline(d);
  const auto height = static_cast<std::int32_t>(d.Length);
  // Pixel x's first sample, high byte: the grey level.
  const std::size_t stride = d.Planar == PLANARCONFIG_CONTIG ? d.SamplesPerPixel : 1;
  if (d.ScanlineSize < std::uint64_t{d.Width} * stride * 2) throw ETiffError("Invalid image size");
  std::vector<std::uint16_t> line((d.ScanlineSize + 1) / 2);
  for (std::int32_t y = 0; y < height; ++y) {
    Progress(y, 0, height - 1);
    if (Tiff().ReadScanline(tif, line.data(), static_cast<std::uint32_t>(y), 0) < 0)
      throw ETiffError("TIFFReadScanline");
    std::uint8_t* row = RowBits(y);
    for (std::uint32_t x = 0; x < d.Width; ++x) row[x] = static_cast<std::uint8_t>(line[x * stride] >> 8);
  }
}

void TTiffGraphic::ReadFaxRows(TIFF* tif, const TTiffDirectory& d) {
  CheckDirectScanline(d);
  const auto height = static_cast<std::int32_t>(d.Length);
  // Decoded fax rows have the image's own 1-bit layout.
  std::vector<std::uint8_t> line(d.ScanlineSize);
  const std::size_t copy = std::min<std::size_t>(d.ScanlineSize, BytesPerRow());
  for (std::int32_t y = 0; y < height; ++y) {
    Progress(y, 0, height - 1);
    if (Tiff().ReadScanline(tif, line.data(), static_cast<std::uint32_t>(y), 0) < 0)
      throw ETiffError("TIFFReadScanline");
    std::memcpy(RowBits(y), line.data(), copy);
  }
}

void TTiffGraphic::ReadRgbaImage(TIFF* tif, const TTiffDirectory& d) {
  const std::uint32_t width = d.Width;
  const auto height = static_cast<std::int32_t>(d.Length);
  // libtiff's RGBA reader: rows from the bottom (raster row 0 is the image's last row).
  // Not zeroed: a header that claims a huge image costs address space, not memory, until
  // libtiff actually decodes rows into it.
  auto raster = std::make_unique_for_overwrite<std::uint32_t[]>(std::size_t{width} * d.Length);
  Progress(5, 0, 100);
  Progress(10, 0, 100);
  if (Tiff().ReadRGBAImageOriented(tif, width, d.Length, raster.get(), ORIENTATION_BOTLEFT, 1) != 1)
    throw ETiffError("TIFFReadRGBAImage");
  Progress(80, 0, 100);
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint32_t* src = raster.get() + std::size_t(height - 1 - y) * width;
    if (d.Kind == ikTrueColor) {
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
}

void TTiffGraphic::ReadStrips(TIFF* tif, const TTiffDirectory& d) {
  CheckDirectScanline(d);
  const std::uint32_t length = d.Length;
  const std::uint64_t scanlineSize = d.ScanlineSize;
  const auto height = static_cast<std::int32_t>(length);
  // One encoded-strip read per strip, whole rows at a time.
  std::uint32_t stripRows = 0;
  Tiff().GetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &stripRows);
  if (stripRows == 0 || stripRows > length) stripRows = length;
  const std::uint32_t strips = Tiff().NumberOfStrips(tif);
  auto strip = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(scanlineSize) * stripRows);
  const std::size_t copy = std::min<std::size_t>(scanlineSize, BytesPerRow());
  std::uint32_t row = 0;
  for (std::uint32_t s = 0; row < length; ++s) {
    Progress(row, 0, height - 1);
    const std::uint32_t rows = std::min(stripRows, length - row);
    const auto want = static_cast<tmsize_t>(scanlineSize * rows);
    if (s >= strips || Tiff().ReadEncodedStrip(tif, s, strip.get(), want) != want)
      throw ETiffError("TIFFReadEncodedStrip");
    for (std::uint32_t r = 0; r < rows; ++r, ++row) {
      const std::uint8_t* src = strip.get() + std::size_t(r) * scanlineSize;
      std::uint8_t* dst = RowBits(static_cast<std::int32_t>(row));
      if (d.RgbStrips) {
        for (std::uint32_t x = 0; x < d.Width; ++x, src += d.BytesPerPixel, dst += 3)
          StoreRgb(dst, src[0], src[1], src[2]);
      } else {
        std::memcpy(dst, src, copy);
      }
    }
  }
}

}  // namespace lumipage
