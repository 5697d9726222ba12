#include "pdf/PDFImage.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>

#include "pdf/PDFDate.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFImageDecodedPixels.h"
#include "pdf/PDFImageTIFF.h"
#include "pdf/PDFNumberText.h"
#include "pdf/PDFPageTree.h"
#include "pdf/PDFSecurity.h"
#include "pdf/PDFStructure.h"
#include "platform/ByteOrder.h"
#include "platform/SourceDate.h"

namespace lumipage {

namespace {

uint16_t LE16(std::string_view b, size_t at) { return platform::LoadLE16(b.data() + at); }
uint32_t LE32(std::string_view b, size_t at) { return platform::LoadLE32(b.data() + at); }
uint16_t BE16(std::string_view b, size_t at) { return platform::LoadBE16(b.data() + at); }

constexpr std::array<uint8_t, 256> MakeBitReverseTable() {
  std::array<uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    int r = 0;
    for (int b = 0; b < 8; ++b)
      if ((i & (1 << b)) != 0) r |= 0x80 >> b;
    t[static_cast<size_t>(i)] = static_cast<uint8_t>(r);
  }
  return t;
}
constexpr std::array<uint8_t, 256> kBitReverse = MakeBitReverseTable();

uint8_t RandomByte() {
  static std::mt19937 engine{std::random_device{}()};
  return static_cast<uint8_t>(engine() & 0xFF);
}

TPDFObject* Resolved(TPDFObject* value) {
  if (auto* ref = As<TPDFIndRef>(value)) return ref->Resolve();
  return value;
}

// An image drawn through the fill colour (family of the drawing operations).
bool IsStencilMask(const TPDFDictionary* dict) {
  if (dict == nullptr) return false;
  const auto* mask = As<TPDFBoolean>(dict->Get("ImageMask", true));
  if (mask == nullptr || !mask->Value) return false;
  if (const auto* bits = As<TPDFNumeric>(dict->Get("BitsPerComponent", true)); bits != nullptr && bits->Value != 1)
    return false;
  if (dict->Get("Mask") != nullptr || dict->Get("SMask") != nullptr) return false;
  if (As<TPDFName>(dict->Get("ColorSpace", true)) != nullptr) return false;
  if (TPDFObject* decode = dict->Get("Decode", true)) {
    const auto* a = As<TPDFArray>(decode);
    if (a == nullptr) return false;
    const std::string text = a->ToText();
    return text == "[ 0 1 ]" || text == "[ 1 0 ]";
  }
  return true;
}

// The filters a content stream may be re-encoded from: the decoder undoes them completely.
bool Decodable(const TPDFDictionary* dict) {
  auto known = [dict](const TPDFName* name) {
    if (name == nullptr) return false;
    if (name->Value == "FlateDecode" || name->Value == "Fl" || name->Value == "ASCII85Decode") return true;
    if (name->Value != "LZWDecode") return false;
    // The LZW decoder applies no predictor.
    const auto* parms = As<TPDFDictionary>(dict->Get("DecodeParms", true));
    return parms == nullptr || parms->GetInteger("Predictor", 1) <= 1;
  };
  TPDFObject* filter = dict->Get("Filter", true);
  if (filter == nullptr) return true;
  if (auto* name = As<TPDFName>(filter)) return known(name);
  if (auto* list = As<TPDFArray>(filter)) {
    for (int i = 0; i < list->Count(); ++i)
      if (!known(As<TPDFName>(Resolved(list->Item(i))))) return false;
    return true;
  }
  return false;
}

bool IsFlateOnly(const TPDFDictionary* dict) {
  TPDFObject* filter = dict->Get("Filter", true);
  if (const auto* name = As<TPDFName>(filter)) return name->Value == "FlateDecode";
  if (const auto* list = As<TPDFArray>(filter)) {
    const auto* only = list->Count() == 1 ? As<TPDFName>(list->Item(0)) : nullptr;
    return only != nullptr && only->Value == "FlateDecode";
  }
  return false;
}

}  // namespace

EImageFileType TPDFImage::DetectFileType(std::string_view head) {
  if (head.size() >= 22 && LE32(head, 0) == 0x9AC6CDD7u) {
    uint16_t sum = 0;
    for (size_t at = 0; at <= 18; at += 2) sum ^= LE16(head, at);
    if (LE16(head, 20) == sum) return EImageFileType::PlaceableMetafile;
  }
  if (head.size() >= 44 && LE32(head, 0) == 1 && head.substr(40, 4) == " EMF") return EImageFileType::EnhancedMetafile;
  if (head.size() >= 14 && head.starts_with("BM") && LE16(head, 6) == 0 && LE16(head, 8) == 0)
    return EImageFileType::Bmp;
  if (head.starts_with("\xFF\xD8")) return EImageFileType::Jpeg;
  if (head.starts_with("II") || head.starts_with("MM")) return EImageFileType::Tiff;
  if (head.starts_with(std::string_view("\x89PNG\r\n\x1A\n", 8))) return EImageFileType::Png;
  if (head.starts_with("GIF87a") || head.starts_with("GIF89a")) return EImageFileType::Gif;
  return EImageFileType::Unknown;
}

bool TPDFImage::ReadJpegHeader(std::string_view b, TJpegInfo& info) {
  info = TJpegInfo{};
  if (!b.starts_with("\xFF\xD8")) return false;
  size_t p = 2;
  while (p < b.size()) {
    if (static_cast<uint8_t>(b[p]) != 0xFF) break;
    while (p < b.size() && static_cast<uint8_t>(b[p]) == 0xFF) ++p;  // fill bytes
    if (p >= b.size()) break;
    const auto code = static_cast<uint8_t>(b[p++]);
    if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) continue;  // no segment
    if (b.size() - p < 2) break;
    const size_t length = BE16(b, p);
    if (length < 2) break;
    const size_t segmentEnd = p + length;
    if (code >= 0xC0 && code <= 0xC3) {
      // Length, sample precision, then height, width and the component count.
      if (b.size() - p < 8) break;
      info.Height = BE16(b, p + 3);
      info.Width = BE16(b, p + 5);
      info.Components = static_cast<uint8_t>(b[p + 7]);
      return info.Width > 0 && info.Height > 0;
    }
    if ((code == 0xE0 || code == 0xE1) && b.size() - p >= 7) {
      const std::string_view id = b.substr(p + 2, 5);
      if (code == 0xE0 && id == std::string_view("JFIF\0", 5) && b.size() - p >= 14) {
        // Version (2 bytes), units, X density, Y density.
        info.ResolutionUnit = static_cast<uint8_t>(b[p + 9]) + 1;
        info.HorizontalResolution = BE16(b, p + 10);
        info.VerticalResolution = BE16(b, p + 12);
      } else if (code == 0xE1 && id == std::string_view("Exif\0", 5) && length >= 8 && segmentEnd <= b.size()) {
        TPDFTIFF exif;
        if (exif.Read(b.substr(p + 8, length - 8)) && exif.PageCount() > 0) {
          info.HorizontalResolution = exif.Page(0).HorizontalResolution;
          info.VerticalResolution = exif.Page(0).VerticalResolution;
          info.ResolutionUnit = 2;
        }
      }
    }
    p = segmentEnd;
  }
  return false;
}

std::string TPDFImage::MakeResourceName(int32_t counter, uint64_t owner) {
  std::string text;
  if (const auto epoch = platform::SourceDateEpoch()) {
    // Reproducible output: no clock, chance or address; the names made so far in this run tell
    // apart two calls with the same counter (a name already taken is asked for again).
    static std::atomic<uint64_t> made{0};
    text = std::to_string(*epoch) + "/" + std::to_string(counter) + "/" + std::to_string(made++);
  } else {
    text = FormatGeneral(NowLocal());
    text += static_cast<char>(RandomByte());
    text += std::to_string(counter);
    text += std::to_string(owner);
  }
  const std::string digest = TPDFSecurity::MD5(text);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name = "VelxIm";
  for (size_t i = 0; i < 4; ++i) {
    const auto byte = static_cast<uint8_t>(digest[i]);
    name += kHex[byte >> 4];
    name += kHex[byte & 0xF];
  }
  return name;
}

bool TPDFImage::BuildJpeg(TPDFPageTree& pages, std::string bytes) {
  TJpegInfo info;
  if (!ReadJpegHeader(bytes, info)) return false;
  TPDFStructure& s = Store();
  TPDFStream* stream = MakeImageStream(s, info.Width, info.Height, std::move(bytes));
  TPDFDictionary* d = stream->Dictionary();
  if (info.Components == 1) {
    d->Put("ColorSpace", s.CommonName("DeviceGray"));
  } else if (info.Components == 4) {
    // Adobe writes CMYK JPEG data inverted.
    d->Put("ColorSpace", s.CommonName("DeviceCMYK"));
    static constexpr int32_t kInverted[] = {1, 0, 1, 0, 1, 0, 1, 0};
    d->Put("Decode", s.MakeIntegerArray(kInverted, 7));
  } else {
    d->Put("ColorSpace", s.CommonName("DeviceRGB"));
  }
  d->Put("BitsPerComponent", s.MakeNumber(8));
  d->Put("Filter", s.CommonName("DCTDecode"));
  const TPDFIndRef* ref = pages.Register(stream);
  ObjectNumber = ref->ObjectNumber();
  Generation = ref->Generation();
  Dictionary = d;
  Kind = EPDFImageKind::Jpeg;
  Width = info.Width;
  Height = info.Height;
  HorizontalResolution = info.HorizontalResolution;
  VerticalResolution = info.VerticalResolution;
  ResolutionUnit = info.ResolutionUnit;
  return true;
}

bool TPDFImage::BuildTiff(TPDFPageTree& pages, std::string_view bytes, int page) {
  TPDFTIFF tiff;
  if (!tiff.Read(bytes) || tiff.PageCount() == 0) return false;
  page = std::clamp(page, 1, tiff.PageCount());
  const TTIFFPage& record = tiff.Page(page - 1);
  Kind = EPDFImageKind::Tiff;
  HorizontalResolution = record.HorizontalResolution;
  VerticalResolution = record.VerticalResolution;
  ResolutionUnit = 2;
  switch (record.Compression) {
    case ETIFFCompression::Group4:
    case ETIFFCompression::Group3OneD:
    case ETIFFCompression::Group3TwoD:
      return BuildCCITT(pages, tiff, page);
    default:
      return BuildDecodedImage(*this, pages, EImageFileType::Tiff, bytes, &tiff, page);
  }
}

bool TPDFImage::BuildCCITT(TPDFPageTree& pages, const TPDFTIFF& tiff, int page) {
  const TTIFFPage& p = tiff.Page(page - 1);
  if (!p.StripsValid || p.Strips.empty() || p.Width == 0 || p.Length == 0 || p.Width > INT32_MAX ||
      p.Length > INT32_MAX)
    return false;
  const int k = p.Compression == ETIFFCompression::Group4 ? -1 : p.Compression == ETIFFCompression::Group3TwoD ? 1 : 0;

  // Rows of each strip; strips beyond the image's rows carry none and are left out.
  std::vector<uint32_t> rows;
  uint32_t remaining = p.Length;
  for (size_t i = 0; i < p.Strips.size() && remaining > 0; ++i) {
    rows.push_back(std::min(remaining, p.RowsPerStrip));
    remaining -= rows.back();
  }

  TPDFStructure& s = Store();
  auto makeStrip = [&](std::string_view data, uint32_t stripRows) {
    std::string bytes(data);
    if (p.FillOrder == 2)
      for (char& c : bytes) c = static_cast<char>(kBitReverse[static_cast<uint8_t>(c)]);
    TPDFStream* stream = s.MakeStream(std::move(bytes));
    TPDFDictionary* d = stream->Dictionary();
    d->Put("Subtype", s.CommonName("Image"));
    d->Put("Width", s.MakeNumber(p.Width));
    d->Put("Height", s.MakeNumber(stripRows));
    d->Put("ColorSpace", s.CommonName("DeviceGray"));
    d->Put("BitsPerComponent", s.MakeNumber(1));
    d->Put("Filter", s.CommonName("CCITTFaxDecode"));
    TPDFDictionary* parms = s.MakeDictionary();
    parms->Put("K", s.MakeNumber(k));
    parms->Put("Columns", s.MakeNumber(p.Width));
    parms->Put("Rows", s.MakeNumber(stripRows));
    if (p.Photometric == 1) parms->Put("BlackIs1", s.MakeBoolean(true));
    d->Put("DecodeParms", parms);
    return stream;
  };

  Width = static_cast<int32_t>(p.Width);
  Height = static_cast<int32_t>(p.Length);
  if (rows.size() == 1) {
    TPDFStream* stream = makeStrip(p.Strips[0], rows[0]);
    const TPDFIndRef* ref = pages.Register(stream);
    ObjectNumber = ref->ObjectNumber();
    Generation = ref->Generation();
    Dictionary = stream->Dictionary();
    return true;
  }

  // Several strips: a form that draws each strip image in its band of the unit square.
  TPDFStream* form = s.MakeStream("");
  TPDFDictionary* fd = form->Dictionary();
  fd->Put("Subtype", s.CommonName("Form"));
  static constexpr int32_t kUnitSquare[] = {0, 0, 1, 1};
  fd->Put("BBox", s.MakeIntegerArray(kUnitSquare, 3));
  TPDFDictionary* resources = s.MakeDictionary();
  TPDFDictionary* xobjects = s.MakeDictionary();
  resources->Put("XObject", xobjects);
  fd->Put("Resources", resources);

  const auto identity = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(this));
  const double height = p.Length;
  const int precision = s.Precision();
  std::string content;
  double y = 1;
  for (size_t i = 0; i < rows.size(); ++i) {
    TPDFStream* strip = makeStrip(p.Strips[i], rows[i]);
    std::string name;
    do {
      name = MakeResourceName(static_cast<int32_t>(i), identity);
    } while (xobjects->Get(name) != nullptr);
    xobjects->Put(name, pages.Register(strip));
    const double share = rows[i] / height;
    y -= share;
    content += "q 1 0 0 ";
    AppendNumberText(content, share, precision);
    content += " 0 ";
    AppendNumberText(content, y, precision);
    content += " cm /";
    content += name;
    content += " Do Q\n";
  }
  form->SetData(content, true);
  const TPDFIndRef* ref = pages.Register(form);
  ObjectNumber = ref->ObjectNumber();
  Generation = ref->Generation();
  Dictionary = fd;
  return true;
}

TPDFImage* AddImageFromBytes(TPDFPageTree& pages, std::string bytes, int option) {
  const int32_t counter = pages.NextImageNumber();
  auto image = std::make_unique<TPDFImage>(pages.Store());
  image->ResourceName =
      TPDFImage::MakeResourceName(counter, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&pages.Document())));
  image->CompressPixels = pages.CompressImages;
  bool ok = false;
  try {
    const EImageFileType type = TPDFImage::DetectFileType(bytes);
    switch (type) {
      case EImageFileType::Unknown: break;
      case EImageFileType::Jpeg: ok = image->BuildJpeg(pages, std::move(bytes)); break;
      case EImageFileType::Tiff: ok = image->BuildTiff(pages, bytes, option); break;
      default: ok = BuildDecodedImage(*image, pages, type, bytes, nullptr, option); break;
    }
  } catch (...) {
    ok = false;
  }
  if (!ok) return nullptr;
  pages.Images().push_back(std::move(image));
  return pages.Images().back().get();
}

TPDFImage* AddImageFromFile(TPDFPageTree& pages, const std::string& fileName, int option) {
  std::string bytes;
  try {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(fileName, ec)) return nullptr;
    const uintmax_t size = std::filesystem::file_size(fileName, ec);
    if (ec || size > kMaxImageFileSize) return nullptr;
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return nullptr;
    bytes.resize(static_cast<size_t>(size));
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    if (static_cast<uintmax_t>(in.gcount()) != size) return nullptr;
  } catch (...) {
    return nullptr;
  }
  return AddImageFromBytes(pages, std::move(bytes), option);
}

namespace {

// The image's unit square to page points, as the operators above draw it (for text over it).
void RecordPlacement(TPDFPageTree& pages, double dw, double dh, double x, double y, int rotation) {
  double* m = pages.ImageMatrix;
  switch (rotation) {
    case 0: m[0] = dw; m[1] = 0; m[2] = 0; m[3] = dh; m[4] = x; m[5] = y - dh; break;
    case 1: m[0] = 0; m[1] = dw; m[2] = -dh; m[3] = 0; m[4] = x + dh; m[5] = y - dw; break;
    case 2: m[0] = 0; m[1] = -dw; m[2] = dh; m[3] = 0; m[4] = x; m[5] = y; break;
    default: m[0] = -dw; m[1] = 0; m[2] = 0; m[3] = -dh; m[4] = x + dw; m[5] = y; break;
  }
  pages.ImageMatrixPage = pages.SelectedPage();
}

}  // namespace

int FitImage(TPDFPageTree& pages, TPDFImage& image, double left, double top, double width, double height, int hAlign,
             int vAlign, int rotation) {
  if (hAlign < 0 || hAlign > 2 || vAlign < 0 || vAlign > 2 || rotation < 0 || rotation > 3) return 0;
  if (pages.SelectedPageDictionary() == nullptr) return 0;
  double w = image.Width;
  const double h = image.Height;
  if (image.HorizontalResolution != image.VerticalResolution && image.HorizontalResolution != 0 &&
      image.VerticalResolution != 0)
    w = std::nearbyint(w * image.VerticalResolution / image.HorizontalResolution);
  // An image without pixels has no aspect ratio to fit.
  if (!(w > 0) || !(h > 0)) return 0;

  const bool turned = rotation == 1 || rotation == 2;
  const double eh = turned ? h : w;
  const double ev = turned ? w : h;
  const double s = std::min(height / ev, width / eh);
  const double unit = pages.UnitFactor();
  double x = pages.HorizontalToPoints(left);
  double y = pages.VerticalToPoints(top);
  if (hAlign == 1) x += (width - eh * s) / 2 / unit;
  if (hAlign == 2) x += (width - eh * s) / unit;
  if (vAlign == 1) y -= (height - ev * s) / 2 / unit;
  if (vAlign == 2) y -= (height - ev * s) / unit;

  TPDFStructure& st = pages.Store();
  TPDFDictionary* resources = pages.Resources();
  if (resources == nullptr) return 0;
  TPDFDictionary* xobjects = nullptr;
  TPDFObject* entry = resources->Get("XObject");
  if (entry != nullptr) xobjects = As<TPDFDictionary>(Resolved(entry));
  if (xobjects == nullptr) {
    xobjects = st.MakeDictionary();
    resources->Put("XObject", xobjects);
  }
  const auto* current = As<TPDFIndRef>(xobjects->Get(image.ResourceName));
  if (current == nullptr || current->ObjectNumber() != image.ObjectNumber ||
      current->Generation() != image.Generation)
    xobjects->Put(image.ResourceName, st.MakeReference(image.ObjectNumber, image.Generation));

  const double dw = w * s / unit;
  const double dh = h * s / unit;
  TPDFPainter& painter = pages.Painter();
  painter.AppendLine("q");
  if (painter.FillColorSet && IsStencilMask(image.Dictionary)) painter.AppendLine(painter.FillColorLine);
  if (rotation == 0) {
    for (double v : {dw, 0.0, 0.0, dh, x, y - dh}) painter.AppendNumber(v);
    painter.AppendLine("cm");
  } else {
    double ax = x;
    double ay = y;
    double angle = 0;
    switch (rotation) {
      case 1: ax = x + dh; ay = y - dw; angle = 90; break;
      case 2: angle = -90; break;
      default: ax = x + dw; angle = 180; break;
    }
    const double a = angle * std::numbers::pi / 180;
    for (double v : {std::cos(a), std::sin(a), -std::sin(a), std::cos(a)}) painter.AppendNumber(v);
    painter.AppendText(" ");
    painter.AppendNumber(ax);
    painter.AppendNumber(ay);
    painter.AppendLine("cm");
    for (double v : {dw, 0.0, 0.0, dh, 0.0, 0.0}) painter.AppendNumber(v);
    painter.AppendLine("cm");
  }
  painter.AppendLine("/" + image.ResourceName + " Do");
  painter.AppendLine("Q");
  painter.Store();
  RecordPlacement(pages, dw, dh, x, y, rotation);
  return 1;
}

void CompressPageContent(TPDFPageTree& pages) {
  for (TPDFStream* stream : pages.ContentStreams()) {
    TPDFDictionary* dict = stream->Dictionary();
    // Data under a filter the decoder cannot undo would be re-encoded still encoded.
    if (IsFlateOnly(dict) || !Decodable(dict)) continue;
    // Damaged data stays as it was: re-encoded, the part after the fault, which a reader may
    // still make something of, would be lost for good.
    bool intact = true;
    std::string data = stream->Decode(&intact);
    if (!intact) continue;
    stream->SetData(data, true);
  }
}

void CompressContent(TPDFPageTree& pages) {
  const int count = pages.PageCount();
  TPDFDocument& doc = pages.Document();
  for (int page = 1; page <= count; ++page) {
    (void)pages.SelectPage(page);
    CompressPageContent(pages);
    if (doc.OnProgress) doc.OnProgress(static_cast<int>(static_cast<int64_t>(page) * 100 / count));
  }
}

}  // namespace lumipage
