#include "imaging/TiffGraphic.h"

#include <tiffio.h>

#include <cstring>

#include "imaging/Errors.h"
#include "imaging/ImageFileFormats.h"
#include "imaging/TiffHandle.h"
#include "imaging/TiffLibrary.h"

// The TIFF file class: its compression tables, settings and format checks. Pages are read in
// TiffReader.cpp and written in TiffWriter.cpp.

namespace lumipage {

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
  while (Tiff().ReadDirectory(handle.Get()) == 1) ++count;
  return count;
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
