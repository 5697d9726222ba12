#include "pdf/PDFImageMetafile.h"

#include <array>
#include <cmath>
#include <cstdlib>

#include "pdf/PDFStructure.h"
#include "platform/ByteOrder.h"

namespace lumipage {

namespace {

uint16_t U16(std::string_view b, size_t at) { return platform::LoadLE16(b.data() + at); }
int16_t I16(std::string_view b, size_t at) { return static_cast<int16_t>(U16(b, at)); }
uint32_t U32(std::string_view b, size_t at) { return platform::LoadLE32(b.data() + at); }
int32_t I32(std::string_view b, size_t at) { return static_cast<int32_t>(U32(b, at)); }

// units / unitsPerInch inches in pixels, rounded; 0 when out of range.
int32_t ToPixels(int64_t units, int64_t unitsPerInch) {
  if (unitsPerInch <= 0) return 0;
  const int64_t v = (std::llabs(units) * kMetafileDpi * 2 + unitsPerInch) / (2 * unitsPerInch);
  return v > INT32_MAX ? 0 : static_cast<int32_t>(v);
}

constexpr size_t kPlaceableHeader = 22;
constexpr size_t kWmfHeader = 18;
constexpr size_t kEmfHeader = 88;

}  // namespace

bool ReadPlaceableMetafileSize(std::string_view b, TMetafileSize& size) {
  if (b.size() < kPlaceableHeader + kWmfHeader || U32(b, 0) != 0x9AC6CDD7u) return false;
  // The standard metafile header that follows: type 1 (memory) or 2 (disk), 9 words long.
  const uint16_t type = U16(b, kPlaceableHeader);
  if ((type != 1 && type != 2) || U16(b, kPlaceableHeader + 2) != 9) return false;
  const int32_t left = I16(b, 6);
  const int32_t top = I16(b, 8);
  const int32_t right = I16(b, 10);
  const int32_t bottom = I16(b, 12);
  const uint16_t inch = U16(b, 14);
  size.Width = ToPixels(right - left, inch);
  size.Height = ToPixels(bottom - top, inch);
  return size.Width > 0 && size.Height > 0;
}

bool ReadEnhancedMetafileSize(std::string_view b, TMetafileSize& size) {
  if (b.size() < kEmfHeader || U32(b, 0) != 1 || b.substr(40, 4) != " EMF") return false;
  const uint32_t headerSize = U32(b, 4);
  const uint32_t fileBytes = U32(b, 48);
  if (headerSize < kEmfHeader || fileBytes < headerSize) return false;
  // The frame is in hundredths of a millimetre: 2540 to the inch.
  const int64_t width = int64_t{I32(b, 32)} - I32(b, 24);
  const int64_t height = int64_t{I32(b, 36)} - I32(b, 28);
  size.Width = ToPixels(width, 2540);
  size.Height = ToPixels(height, 2540);
  return size.Width > 0 && size.Height > 0;
}

bool BuildMetafileImage(TPDFStructure& store, std::string_view bytes, bool enhanced, TBuiltImage& result) {
  TMetafileSize size;
  if (!(enhanced ? ReadEnhancedMetafileSize(bytes, size) : ReadPlaceableMetafileSize(bytes, size))) return false;
  TPDFStream* form = store.MakeStream({});
  TPDFDictionary* dict = form->Dictionary();
  dict->Put("Type", store.CommonName("XObject"));
  dict->Put("Subtype", store.CommonName("Form"));
  dict->Put("FormType", store.MakeNumber(1));
  dict->Put("BBox", store.MakeIntegerArray(std::array<int32_t, 4>{0, 0, 1000, 1000}, 3));
  dict->Put("Matrix", store.MakeRealArray(std::array<double, 6>{0.001, 0, 0, 0.001, 0, 0}, 5));
  result.Stream = form;
  result.Width = size.Width;
  result.Height = size.Height;
  result.Kind = EPDFImageKind::Metafile;
  result.HorizontalResolution = 0;
  result.VerticalResolution = 0;
  result.ResolutionUnit = 0;
  return true;
}

}  // namespace lumipage
