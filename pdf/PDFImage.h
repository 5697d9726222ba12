#pragma once
// An image (or form) object of a document, made from an image file: what the page tree's image
// list holds, the file type read from a file's first bytes and a JPEG file's header. Adding
// images to a document and drawing them on pages is PDFPageImages' part.
#include <cstdint>
#include <string>
#include <string_view>

#include "pdf/PDFImageKind.h"

namespace lumipage {

class TPDFDictionary;
class TPDFObject;
class TPDFStructure;

// Largest image file read; PDF offsets of the written file must stay 32-bit.
inline constexpr uint64_t kMaxImageFileSize = uint64_t{1} << 30;

enum class EImageFileType : uint8_t {
  Unknown,
  PlaceableMetafile,
  EnhancedMetafile,
  Bmp,
  Jpeg,
  Tiff,
  Png,
  Gif,
};

// What the frame header and the resolution segments of a JPEG file say.
struct TJpegInfo {
  int32_t Width = 0;
  int32_t Height = 0;
  int Components = 3;
  int32_t HorizontalResolution = 0;
  int32_t VerticalResolution = 0;
  int ResolutionUnit = 0;  // 0 none, 1 aspect only, 2 per inch, 3 per centimetre
};

class TPDFImage {
 public:
  explicit TPDFImage(TPDFStructure& store) : store_(&store) {}

  [[nodiscard]] TPDFStructure& Store() const { return *store_; }

  // "VelxIm" and 8 lowercase hexadecimal digits: the name pages use in /Resources /XObject.
  std::string ResourceName;
  int32_t ObjectNumber = 0;
  int32_t Generation = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  TPDFDictionary* Dictionary = nullptr;
  EPDFImageKind Kind = EPDFImageKind::Metafile;
  int CompressPixels = 0;
  bool KeepSource = false;
  std::string SourceBytes;
  int32_t HorizontalResolution = 0;
  int32_t VerticalResolution = 0;
  int ResolutionUnit = 0;  // 0 none, 1 aspect only, 2 per inch, 3 per centimetre
  TPDFObject* Font = nullptr;
  uint32_t FillColor = 0xFFFFFF;

  // The file type from the first bytes of a file.
  [[nodiscard]] static EImageFileType DetectFileType(std::string_view head);
  // Walks the markers of a JPEG file up to its frame header. False without FF D8 or a frame
  // header giving a size.
  [[nodiscard]] static bool ReadJpegHeader(std::string_view bytes, TJpegInfo& info);
  // "VelxIm" and the first 8 hexadecimal digits of an MD5 over the time, a random byte, the
  // counter and the owner's number.
  [[nodiscard]] static std::string MakeResourceName(int32_t counter, uint64_t owner);

 private:
  TPDFStructure* store_;
};

}  // namespace lumipage
