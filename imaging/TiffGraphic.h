#pragma once
// TTiffGraphic: the TIFF file class of the image library. Saves an image as a one-page TIFF,
// appends it as a further page of an existing TIFF, and loads any page of a TIFF. Encoding is
// libtiff's; this class chooses the tags, checks that the compression suits the image kind and
// moves rows between the image and libtiff.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "imaging/DibGraphic.h"
#include "imaging/TiffUserTags.h"

struct tiff;

namespace lumipage {

struct TTiffDirectory;

// Compression choices; the code is the value of the Compression property.
enum TTiffCompression : std::uint8_t {
  tcNone = 0,       // TIFF compression 1
  tcPackbits = 1,   // 32773
  tcGroup3_1D = 2,  // 3, Group3Options 0
  tcGroup3_2D = 3,  // 3, Group3Options 1
  tcGroup4 = 4,     // 4
  tcZLib = 5,       // 32946
  tcJpeg = 6,       // 7, eight rows per strip
};

// Display text of a compression ("CCITT Group 4", ...); empty for unknown codes.
[[nodiscard]] std::string CompressionName(unsigned compression);
// TIFF Compression tag value written for a code (1 for unknown codes).
[[nodiscard]] std::uint16_t TiffCompressionTag(unsigned compression);
// Whether a compression may be used with an image kind (unknown kinds allow all).
[[nodiscard]] bool CompressionAllowed(unsigned compression, unsigned kind);

// One user-defined ASCII tag (40000 + its index in UserTags).
struct TCustomTiffTag {
  bool ReadEnabled = false;
  bool WriteEnabled = false;
  std::string Value;
};

// Images as large as a header may claim before a page is refused: width x height pixels.
// The general (RGBA) reader needs four bytes per pixel on top of the image itself.
inline constexpr std::uint64_t kTiffMaxPixels = std::uint64_t{1} << 28;

class TTiffGraphic : public TDibGraphic {
 public:
  TTiffGraphic();
  ~TTiffGraphic() override;

  [[nodiscard]] const char* ClassName() const override { return "TTiffGraphic"; }
  [[nodiscard]] std::unique_ptr<TDibGraphic> CreateSame() const override;

  // "MM\0*" or "II*\0"; the stream position is unchanged.
  [[nodiscard]] bool IsFormatOf(TStream& stream) override;
  // 1 plus every further directory that can be read.
  [[nodiscard]] int GetImageCount(TStream& stream) override;
  // Loads page n (1-based) of the TIFF starting at the stream's position.
  void LoadImage(TStream& stream, int n) override;
  // Empty stream: a new one-page file. Otherwise this image becomes the file's last page.
  void AppendToStream(TStream& stream) override;
  // Also chooses the kind's default compression: CCITT Group 4 for black and white,
  // PackBits for the others.
  void NewImage(std::int32_t width, std::int32_t height, TImageKind kind,
                const TLogPalette* palette, std::uint16_t dpiX, std::uint16_t dpiY) override;
  // Writes a new one-page TIFF at the stream's position.
  void SaveToStream(TStream& stream) override;
  // Copies the image (and from another TTiffGraphic its RowsPerStrip; not texts or tags).
  void Assign(const TDibGraphic* source) override;

  [[nodiscard]] TTiffCompression Compression() const { return compression_; }
  // EOvinexError "%s compression not supported with %s images" when the image's kind does
  // not allow the compression.
  void SetCompression(TTiffCompression value);

  // Rows per strip written; values of 0 or less leave libtiff's choice.
  std::int32_t RowsPerStrip = 2147483647;
  // Element i is the ASCII tag 40000 + i; the first is read and write enabled.
  std::array<TCustomTiffTag, kTiffUserTagCount> UserTags;
  std::string DocumentName;      // 269
  std::string ImageDescription;  // 270
  std::string Make;              // 271
  std::string Model;             // 272
  std::string PageName;          // 285
  std::string Software;          // 305; "Ovinex Image Library" is written when empty
  std::string DateTime;          // 306; the time of the save is written when empty
  std::string Artist;            // 315
  std::string HostComputer;      // 316
  // Quality of libtiff's JPEG codec for tcJpeg (0 acts as 1).
  std::uint8_t JpegQuality = 0;

 private:
  void WriteTiff(TStream& stream, const char* mode);
  // Reads the current directory: its tags into a TTiffDirectory, then the rows by the path
  // that suits its layout.
  void ReadDirectory(tiff* tif);
  void ReadStrips(tiff* tif, const TTiffDirectory& directory);
  void ReadFaxRows(tiff* tif, const TTiffDirectory& directory);
  void ReadGrey16Rows(tiff* tif, const TTiffDirectory& directory);
  void ReadRgbaImage(tiff* tif, const TTiffDirectory& directory);

  TTiffCompression compression_ = tcNone;
};

}  // namespace lumipage
