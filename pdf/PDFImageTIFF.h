#pragma once
// The structure of a TIFF file as image embedding needs it: one record per image directory with
// the tags that decide how its strips go into a PDF, and the strips' bytes. Pixel data is never
// decoded here. Also reads the TIFF structure inside a JPEG file's Exif segment.
#include <cstdint>
#include <string_view>
#include <vector>

namespace lumipage {

// Image directories followed before the chain is cut (also ends directory loops).
inline constexpr int kMaxTiffPages = 65536;
// Strips one page may have.
inline constexpr uint32_t kMaxTiffStrips = 1u << 20;
// Strips of all pages together, per byte of the file: every strip of a well-formed file takes
// at least 4 bytes of offset and count entries (beyond the two held inside each directory
// entry), so directories sharing one huge strip table cannot multiply it.
inline constexpr size_t kTiffFileBytesPerStrip = 4;

enum class ETIFFCompression : uint8_t {
  None,
  Group3OneD,
  Group3TwoD,
  Group4,
  Lzw,
  PackBits,
  Unsupported,
};

struct TTIFFPage {
  uint32_t Width = 0;
  uint32_t Length = 0;
  uint32_t BitsPerSample = 8;
  uint32_t CompressionTag = 1;
  ETIFFCompression Compression = ETIFFCompression::None;
  uint32_t Photometric = 0;
  uint32_t FillOrder = 1;
  uint32_t SamplesPerPixel = 1;
  uint32_t RowsPerStrip = 0;  // after the rule below: never 0, at most Length when Length > 0
  uint32_t T4Options = 0;
  uint32_t ResolutionUnit = 2;
  uint32_t Predictor = 1;
  // Dots per inch, rounded; 0 when the file gives none.
  int32_t HorizontalResolution = 0;
  int32_t VerticalResolution = 0;
  // Views into the bytes given to Read.
  std::vector<std::string_view> Strips;
  // False when the strip tags point outside the file.
  bool StripsValid = true;
};

class TPDFTIFF {
 public:
  // Parses the header and every image directory of bytes, which must outlive this object.
  // False when bytes are not a TIFF (byte order mark and 42).
  [[nodiscard]] bool Read(std::string_view bytes);
  [[nodiscard]] int PageCount() const { return static_cast<int>(pages_.size()); }
  // Index 0-based, clamped to the pages there are; PageCount must be above 0.
  [[nodiscard]] const TTIFFPage& Page(int index) const;

 private:
  struct Field {
    uint16_t Tag = 0;
    uint16_t Type = 0;
    uint32_t Count = 0;
    size_t ValueAt = 0;  // where the values are: inside the entry or at its offset
    bool Valid = false;
  };

  [[nodiscard]] uint16_t Get16(size_t at) const;
  [[nodiscard]] uint32_t Get32(size_t at) const;
  [[nodiscard]] Field ReadField(size_t entry) const;
  // Element i of an integer field (BYTE, SHORT, LONG and their signed forms).
  [[nodiscard]] bool Integer(const Field& field, uint32_t index, uint32_t& value) const;
  [[nodiscard]] double Rational(const Field& field) const;
  void ReadDirectory(size_t offset, TTIFFPage& page);

  std::string_view bytes_;
  bool bigEndian_ = false;
  std::vector<TTIFFPage> pages_;
  size_t stripBudget_ = 0;
};

}  // namespace lumipage
