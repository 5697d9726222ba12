#include "imaging/TiffGraphic.h"

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
#include "imaging/TiffLibrary.h"

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
  if (Tiff().SetField(tif, tag, value) != 1)
    throw ETiffError("TIFFSetIntField: Tag = " + std::to_string(tag));
}

void SetFloatField(TIFF* tif, ttag_t tag, double value) {
  if (Tiff().SetField(tif, tag, value) != 1)
    throw ETiffError("TIFFSetFloatField: Tag = " + std::to_string(tag));
}

void SetTextField(TIFF* tif, ttag_t tag, const std::string& value) {
  if (Tiff().SetField(tif, tag, value.c_str()) != 1)
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
    if (Tiff().SetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data()) != 1)
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
    if (Tiff().WriteScanline(tif, row, static_cast<std::uint32_t>(y), 0) < 0)
      throw ETiffError("TIFFWriteScanLine");
  }
  handle.Close();
  ProgressEnd();
}

}  // namespace lumipage
