#pragma once
// An image (or form) object of a document, made from an image file, and the operations that
// add images to a document, draw them on pages and compress page content. JPEG data and
// CCITT-coded TIFF strips are embedded as they are, never decoded or re-encoded.
#include <cstdint>
#include <string>
#include <string_view>

#include "pdf/PDFImageKind.h"

namespace lumipage {

class TPDFDictionary;
class TPDFObject;
class TPDFPageTree;
class TPDFStructure;
class TPDFTIFF;

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

  // Builds the image object in the page tree's document. False (nothing usable made) when the
  // bytes are not an image of that kind.
  [[nodiscard]] bool BuildJpeg(TPDFPageTree& pages, std::string bytes);
  // The page (1-based, clamped) of a TIFF file: CCITT strips embedded directly; other
  // compressions go to the decoding formats.
  [[nodiscard]] bool BuildTiff(TPDFPageTree& pages, std::string_view bytes, int page);

 private:
  [[nodiscard]] bool BuildCCITT(TPDFPageTree& pages, const TPDFTIFF& tiff, int page);

  TPDFStructure* store_;
};

// Adds the image in a file (or in bytes) to the page tree's document and its image list; the
// new image, or nullptr when the file is missing, unreadable or not a usable image. option is
// the page of a multi-page TIFF file.
TPDFImage* AddImageFromFile(TPDFPageTree& pages, const std::string& fileName, int option);
TPDFImage* AddImageFromBytes(TPDFPageTree& pages, std::string bytes, int option);

// Draws the image into the box (user units from the origin corner: left, top, width, height),
// keeping its aspect ratio. 0 for arguments out of range or an image without pixels.
[[nodiscard]] int FitImage(TPDFPageTree& pages, TPDFImage& image, double left, double top, double width,
                           double height, int hAlign, int vAlign, int rotation);

// Flate-compresses the content streams of the selected page that are not compressed yet.
void CompressPageContent(TPDFPageTree& pages);
// The same for every page (each page is selected in turn).
void CompressContent(TPDFPageTree& pages);

// The image formats that are decoded to pixels or converted (BMP, PNG, GIF, TIFF with other
// compressions, metafiles). tiff is the parsed file for TIFF, else nullptr. False when the
// type is not handled.
[[nodiscard]] bool BuildDecodedImage(TPDFImage& image, TPDFPageTree& pages, EImageFileType type,
                                     std::string_view bytes, const TPDFTIFF* tiff, int page);

}  // namespace lumipage
