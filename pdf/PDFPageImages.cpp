#include "pdf/PDFPageImages.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>

#include "pdf/PDFDocument.h"
#include "pdf/PDFImageDecoded.h"
#include "pdf/PDFImageDecodedPixels.h"
#include "pdf/PDFImageTIFF.h"
#include "pdf/PDFNumberText.h"
#include "pdf/PDFPageTree.h"
#include "pdf/PDFStructure.h"

namespace lumipage {

namespace {

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

// The image objects of the kinds embedded as they are, JPEG data and CCITT-coded TIFF strips,
// built in the page tree's document. False (nothing usable made) when the bytes are not an
// image of that kind.
bool BuildJpeg(TPDFImage& image, TPDFPageTree& pages, std::string bytes) {
  TJpegInfo info;
  if (!TPDFImage::ReadJpegHeader(bytes, info)) return false;
  TPDFStructure& s = image.Store();
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
  RecordBuiltImage(image, pages,
                   {stream, info.Width, info.Height, EPDFImageKind::Jpeg, info.HorizontalResolution,
                    info.VerticalResolution, info.ResolutionUnit});
  return true;
}

bool BuildCCITT(TPDFImage& image, TPDFPageTree& pages, const TPDFTIFF& tiff, int page) {
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

  TPDFStructure& s = image.Store();
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

  image.Width = static_cast<int32_t>(p.Width);
  image.Height = static_cast<int32_t>(p.Length);
  if (rows.size() == 1) {
    TPDFStream* stream = makeStrip(p.Strips[0], rows[0]);
    const TPDFIndRef* ref = pages.Register(stream);
    image.ObjectNumber = ref->ObjectNumber();
    image.Generation = ref->Generation();
    image.Dictionary = stream->Dictionary();
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

  const auto identity = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&image));
  const double height = p.Length;
  const int precision = s.Precision();
  std::string content;
  double y = 1;
  for (size_t i = 0; i < rows.size(); ++i) {
    TPDFStream* strip = makeStrip(p.Strips[i], rows[i]);
    std::string name;
    do {
      name = TPDFImage::MakeResourceName(static_cast<int32_t>(i), identity);
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
  image.ObjectNumber = ref->ObjectNumber();
  image.Generation = ref->Generation();
  image.Dictionary = fd;
  return true;
}

// The page (1-based, clamped) of a TIFF file: CCITT strips embedded directly; other
// compressions go to the decoding formats.
bool BuildTiff(TPDFImage& image, TPDFPageTree& pages, std::string_view bytes, int page) {
  TPDFTIFF tiff;
  if (!tiff.Read(bytes) || tiff.PageCount() == 0) return false;
  page = std::clamp(page, 1, tiff.PageCount());
  const TTIFFPage& record = tiff.Page(page - 1);
  image.Kind = EPDFImageKind::Tiff;
  image.HorizontalResolution = record.HorizontalResolution;
  image.VerticalResolution = record.VerticalResolution;
  image.ResolutionUnit = 2;
  switch (record.Compression) {
    case ETIFFCompression::Group4:
    case ETIFFCompression::Group3OneD:
    case ETIFFCompression::Group3TwoD:
      return BuildCCITT(image, pages, tiff, page);
    default:
      return BuildDecodedImage(image, pages, EImageFileType::Tiff, bytes, &tiff, page);
  }
}

}  // namespace

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
      case EImageFileType::Jpeg: ok = BuildJpeg(*image, pages, std::move(bytes)); break;
      case EImageFileType::Tiff: ok = BuildTiff(*image, pages, bytes, option); break;
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
