// Images on pages: file types, JPEG and CCITT embedding as they are, the TIFF structure reader,
// placing images with FitImage, and content compression.
#include "pdf/PDFImage.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "pdf/PDFDocument.h"
#include "pdf/PDFFilters.h"
#include "pdf/PDFImageTIFF.h"
#include "pdf/PDFPageImages.h"
#include "pdf/PDFPageTree.h"
#include "pdf/Vellox.h"
#include "tests/pdf/PDFPageFixtures.h"

namespace lumipage {
namespace {

using namespace testutil;

TPDFStream* ImageStream(TVellox& pdf, const TPDFImage& image) {
  TPDFDocument& doc = *pdf.SelectedDocument();
  return As<TPDFStream>(doc.GetValue(doc.FindIndirect(image.ObjectNumber, image.Generation)));
}

// A page of the image's size at dpi with the image fitted on it, saved.
void SaveFitted(TVellox& pdf, const TPDFImage& image, int dpi, const std::string& file) {
  (void)pdf.SetMeasurementUnits(2);
  (void)pdf.SetOrigin(1);
  ASSERT_EQ(pdf.SetPageDimensions(static_cast<double>(image.Width) / dpi, static_cast<double>(image.Height) / dpi), 1);
  ASSERT_EQ(pdf.FitImage(0, 0, pdf.GetPageBox(1, 2), pdf.GetPageBox(1, 3), 1, 1, 0), 1);
  (void)pdf.CompressContent();
  ASSERT_EQ(pdf.SaveToFile(file), 1);
}

// Rendered page 1 equals the black-and-white test picture.
int WrongPixels(const std::string& pdf, int dpi, const std::string& stem, uint32_t w, uint32_t h, int page = 0) {
  const auto rows = RenderMono(pdf, dpi, stem);
  if (rows.size() != h || rows[0].size() != w) return -1;
  int wrong = 0;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      if (rows[y][x] != BlackPixel(x, y, w, h, page)) ++wrong;
  return wrong;
}

// ---- File types ----

struct DetectCase {
  const char* Name;
  std::string Head;
  EImageFileType Type;
};

class DetectTest : public ::testing::TestWithParam<DetectCase> {};

TEST_P(DetectTest, FirstBytesGiveTheType) {
  EXPECT_EQ(TPDFImage::DetectFileType(GetParam().Head), GetParam().Type);
}

std::string Placeable(bool goodSum) {
  std::string h = std::string("\xD7\xCD\xC6\x9A", 4) + std::string(16, '\x01');
  uint16_t sum = 0;
  for (size_t i = 0; i < 20; i += 2)
    sum ^= static_cast<uint16_t>(static_cast<uint8_t>(h[i]) | static_cast<uint8_t>(h[i + 1]) << 8);
  if (!goodSum) sum ^= 1;
  h += static_cast<char>(sum & 0xFF);
  h += static_cast<char>(sum >> 8);
  return h;
}

std::string Enhanced() {
  std::string h(100, '\0');
  h[0] = 1;
  h.replace(40, 4, " EMF");
  return h;
}

INSTANTIATE_TEST_SUITE_P(
    Heads, DetectTest,
    ::testing::Values(DetectCase{"Placeable", Placeable(true), EImageFileType::PlaceableMetafile},
                      DetectCase{"PlaceableBadSum", Placeable(false), EImageFileType::Unknown},
                      DetectCase{"Enhanced", Enhanced(), EImageFileType::EnhancedMetafile},
                      DetectCase{"Bmp", std::string("BM\x10\0\0\0\0\0\0\0\x36\0\0\0", 14), EImageFileType::Bmp},
                      DetectCase{"BmpReservedSet", std::string("BM\x10\0\0\0\1\0\0\0\x36\0\0\0", 14),
                                 EImageFileType::Unknown},
                      DetectCase{"Jpeg", "\xFF\xD8\xFF\xE0", EImageFileType::Jpeg},
                      DetectCase{"TiffIntel", std::string("II*\0", 4), EImageFileType::Tiff},
                      DetectCase{"TiffMotorola", std::string("MM\0*", 4), EImageFileType::Tiff},
                      DetectCase{"Png", std::string("\x89PNG\r\n\x1A\n", 8), EImageFileType::Png},
                      DetectCase{"Gif87", "GIF87a", EImageFileType::Gif}, DetectCase{"Gif89", "GIF89a", EImageFileType::Gif},
                      DetectCase{"Text", "%PDF-1.4", EImageFileType::Unknown},
                      DetectCase{"Empty", "", EImageFileType::Unknown}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(AddImageTest, UnusableFilesGiveNoImage) {
  TempDir dir("image_unusable");
  TVellox pdf;
  const size_t objects = pdf.SelectedDocument()->ObjectCount();
  EXPECT_EQ(pdf.AddImageFromFile(dir.File("missing.jpg"), 0), nullptr);
  const std::pair<const char*, std::string> files[] = {
      {"text.jpg", "not an image"},
      {"soi_only.jpg", "\xFF\xD8"},
      {"no_frame.jpg", std::string("\xFF\xD8\xFF\xE0\0\x10JFIF\0\1\1\1\0\x48\0\x48\0\0\xFF\xD9", 22)},
      {"bad_marker.jpg", "\xFF\xD8XYZ"},
      {"zero_size.jpg", std::string("\xFF\xD8\xFF\xC0\0\x11\x08\0\0\0\0\x03", 12)},
      {"bad.tif", "II garbage that is no TIFF"},
      {"no_pages.tif", std::string("II*\0\0\0\0\0", 8)},
  };
  for (const auto& [name, bytes] : files) {
    WriteFile(dir.File(name), bytes);
    EXPECT_EQ(pdf.AddImageFromFile(dir.File(name), 0), nullptr) << name;
  }
  EXPECT_EQ(pdf.SelectedDocument()->ObjectCount(), objects);
  EXPECT_EQ(pdf.SelectedImage(), nullptr);
  EXPECT_EQ(pdf.FitImage(0, 0, 100, 100, 1, 1, 0), 0);  // nothing selected
}

// ---- JPEG ----

struct JpegCase {
  const char* Name;
  JpegSpec Spec;
  const char* ColorSpace;
  const char* ListColor;  // pdfimages -list
  int Unit;
  int32_t XRes;
  int32_t YRes;
};

class JpegTest : public ::testing::TestWithParam<JpegCase> {};

TEST_P(JpegTest, EmbedsTheFileAsItIs) {
  const JpegCase& c = GetParam();
  TempDir dir("image_jpeg");
  const std::string file = dir.File("in.jpg");
  WriteJpeg(file, c.Spec);
  TVellox pdf;
  TPDFImage* image = pdf.AddImageFromFile(file, 0);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(pdf.SelectedImage(), image);
  EXPECT_EQ(image->Kind, EPDFImageKind::Jpeg);
  EXPECT_EQ(image->Width, c.Spec.Width);
  EXPECT_EQ(image->Height, c.Spec.Height);
  EXPECT_EQ(image->ResolutionUnit, c.Unit);
  EXPECT_EQ(image->HorizontalResolution, c.XRes);
  EXPECT_EQ(image->VerticalResolution, c.YRes);
  TPDFStream* stream = ImageStream(pdf, *image);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->RawData(), ReadFile(file));
  TPDFDictionary* d = stream->Dictionary();
  EXPECT_EQ(d->GetText("Type"), "XObject");
  EXPECT_EQ(d->GetText("Subtype"), "Image");
  EXPECT_EQ(d->GetText("Filter"), "DCTDecode");
  EXPECT_EQ(d->GetText("ColorSpace"), c.ColorSpace);
  EXPECT_EQ(d->GetInteger("BitsPerComponent", 0), 8);
  TPDFObject* decode = d->Get("Decode");
  EXPECT_EQ(decode == nullptr ? "" : decode->ToText(), c.Spec.Components == 4 ? "[ 1 0 1 0 1 0 1 0 ]" : "");

  const std::string out = dir.File("out.pdf");
  SaveFitted(pdf, *image, 72, out);
  EXPECT_TRUE(QpdfClean(out));
  const auto images = ImageList(out);
  ASSERT_EQ(images.size(), 1u);
  const auto f = Fields(images[0]);
  ASSERT_GE(f.size(), 9u);
  EXPECT_EQ(f[3], std::to_string(c.Spec.Width));
  EXPECT_EQ(f[4], std::to_string(c.Spec.Height));
  EXPECT_EQ(f[5], c.ListColor);
  EXPECT_EQ(f[8], "jpeg");
}

INSTANTIATE_TEST_SUITE_P(
    Files, JpegTest,
    ::testing::Values(JpegCase{"RgbPerInch", JpegSpec{.Components = 3, .JfifUnits = 1}, "DeviceRGB", "rgb", 2, 300, 300},
                      JpegCase{"GreyAspectOnly", JpegSpec{.Components = 1, .JfifUnits = 0, .XDensity = 1, .YDensity = 2},
                               "DeviceGray", "gray", 1, 1, 2},
                      JpegCase{"RgbPerCentimetre", JpegSpec{.JfifUnits = 2, .XDensity = 118, .YDensity = 59},
                               "DeviceRGB", "rgb", 3, 118, 59},
                      JpegCase{"CmykWithoutJfif", JpegSpec{.Components = 4, .Jfif = false}, "DeviceCMYK", "cmyk", 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

// A little-endian TIFF structure holding only XResolution, YResolution and ResolutionUnit.
std::string ExifTiff(uint32_t xNum, uint32_t yNum, uint32_t den, uint16_t unit) {
  std::string t = std::string("II*\0\x08\0\0\0", 8);
  auto u16 = [&](uint16_t v) { t += static_cast<char>(v & 0xFF), t += static_cast<char>(v >> 8); };
  auto u32 = [&](uint32_t v) { u16(static_cast<uint16_t>(v & 0xFFFF)), u16(static_cast<uint16_t>(v >> 16)); };
  const uint32_t data = 8 + 2 + 3 * 12 + 4;
  u16(3);
  u16(282), u16(5), u32(1), u32(data);
  u16(283), u16(5), u32(1), u32(data + 8);
  u16(296), u16(3), u32(1), u16(unit), u16(0);
  u32(0);
  u32(xNum), u32(den), u32(yNum), u32(den);
  return t;
}

TEST(JpegHeaderTest, ExifResolutionCountsPerInch) {
  TempDir dir("image_exif");
  WriteJpeg(dir.File("plain.jpg"), JpegSpec{.Jfif = false});
  std::string bytes = ReadFile(dir.File("plain.jpg"));
  const std::string tiff = ExifTiff(300, 150, 1, 2);
  const size_t length = 2 + 6 + tiff.size();
  std::string app1 = "\xFF\xE1";
  app1 += static_cast<char>(length >> 8);
  app1 += static_cast<char>(length & 0xFF);
  app1 += std::string("Exif\0\0", 6) + tiff;
  // Fill bytes before the marker are allowed.
  bytes.insert(2, "\xFF" + app1);
  TJpegInfo info;
  ASSERT_TRUE(TPDFImage::ReadJpegHeader(bytes, info));
  EXPECT_EQ(info.Width, 64);
  EXPECT_EQ(info.Height, 48);
  EXPECT_EQ(info.ResolutionUnit, 2);
  EXPECT_EQ(info.HorizontalResolution, 300);
  EXPECT_EQ(info.VerticalResolution, 150);

  // Centimetres are turned into inches.
  std::string cm = bytes;
  cm.replace(cm.find(tiff), tiff.size(), ExifTiff(118, 118, 1, 3));
  ASSERT_TRUE(TPDFImage::ReadJpegHeader(cm, info));
  EXPECT_EQ(info.HorizontalResolution, 300);  // 118 x 2.54 = 299.72
}

// ---- TIFF with CCITT strips ----

struct CcittCase {
  const char* Name;
  TiffSpec Spec;
  int K;
};

class CcittTest : public ::testing::TestWithParam<CcittCase> {};

TEST_P(CcittTest, EmbedsTheStripAndRendersThePicture) {
  const CcittCase& c = GetParam();
  TempDir dir("image_ccitt");
  const std::string file = dir.File("in.tif");
  WriteTiff(file, c.Spec);
  TVellox pdf;
  TPDFImage* image = pdf.AddImageFromFile(file, 0);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->Kind, EPDFImageKind::Tiff);
  EXPECT_EQ(image->Width, static_cast<int32_t>(c.Spec.Width));
  EXPECT_EQ(image->Height, static_cast<int32_t>(c.Spec.Height));
  EXPECT_EQ(image->HorizontalResolution, 200);
  EXPECT_EQ(image->ResolutionUnit, 2);
  TPDFStream* stream = ImageStream(pdf, *image);
  ASSERT_NE(stream, nullptr);
  std::string strip = TiffStrips(file).at(0);
  if (c.Spec.FillOrder == FILLORDER_LSB2MSB) {
    for (char& ch : strip) {
      uint8_t v = static_cast<uint8_t>(ch);
      uint8_t r = 0;
      for (int b = 0; b < 8; ++b) r = static_cast<uint8_t>(r | (((v >> b) & 1) << (7 - b)));
      ch = static_cast<char>(r);
    }
  }
  EXPECT_EQ(stream->RawData(), strip);
  TPDFDictionary* d = stream->Dictionary();
  EXPECT_EQ(d->GetText("Filter"), "CCITTFaxDecode");
  EXPECT_EQ(d->GetText("ColorSpace"), "DeviceGray");
  EXPECT_EQ(d->GetInteger("BitsPerComponent", 0), 1);
  auto* parms = As<TPDFDictionary>(d->Get("DecodeParms"));
  ASSERT_NE(parms, nullptr);
  EXPECT_EQ(parms->GetInteger("K", 9), c.K);
  EXPECT_EQ(parms->GetInteger("Columns", 0), static_cast<int32_t>(c.Spec.Width));
  EXPECT_EQ(parms->GetInteger("Rows", 0), static_cast<int32_t>(c.Spec.Height));
  TPDFObject* blackIs1 = parms->Get("BlackIs1");
  EXPECT_EQ(blackIs1 == nullptr ? "" : blackIs1->ToText(), c.Spec.Photometric == 1 ? "true" : "");

  const std::string out = dir.File("out.pdf");
  SaveFitted(pdf, *image, 200, out);
  EXPECT_TRUE(QpdfClean(out));
  const auto images = ImageList(out);
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(Fields(images[0])[8], "ccitt");
  EXPECT_EQ(WrongPixels(out, 200, dir.File("render"), c.Spec.Width, c.Spec.Height), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Codings, CcittTest,
    ::testing::Values(CcittCase{"Group4", TiffSpec{}, -1},
                      CcittCase{"Group4BlackIsZero", TiffSpec{.Photometric = PHOTOMETRIC_MINISBLACK}, -1},
                      CcittCase{"Group4FillOrder2", TiffSpec{.FillOrder = FILLORDER_LSB2MSB}, -1},
                      CcittCase{"Group4BigEndian", TiffSpec{.BigEndian = true}, -1},
                      CcittCase{"Group3OneD", TiffSpec{.Compression = COMPRESSION_CCITTFAX3}, 0},
                      CcittCase{"Group3TwoD", TiffSpec{.Compression = COMPRESSION_CCITTFAX3, .Group3Options = 1}, 1},
                      CcittCase{"ResolutionPerCentimetre",
                                TiffSpec{.XResolution = 78.74f, .YResolution = 78.74f,
                                         .ResolutionUnit = RESUNIT_CENTIMETER},
                                -1}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(CcittTest, ThreeStripsBecomeAFormOfBands) {
  TempDir dir("image_strips");
  const std::string file = dir.File("strips.tif");
  WriteTiff(file, TiffSpec{.Width = 200, .Height = 250, .RowsPerStrip = 100});
  TVellox pdf;
  TPDFImage* image = pdf.AddImageFromFile(file, 0);
  ASSERT_NE(image, nullptr);
  TPDFStream* form = ImageStream(pdf, *image);
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->Dictionary()->GetText("Subtype"), "Form");
  EXPECT_EQ(form->Dictionary()->Get("BBox")->ToText(), "[ 0 0 1 1 ]");
  EXPECT_EQ(form->Dictionary()->GetText("Filter"), "FlateDecode");
  auto* resources = As<TPDFDictionary>(form->Dictionary()->Get("Resources"));
  ASSERT_NE(resources, nullptr);
  auto* xobjects = As<TPDFDictionary>(resources->Get("XObject"));
  ASSERT_NE(xobjects, nullptr);
  ASSERT_EQ(xobjects->Count(), 3);
  const std::vector<std::string> strips = TiffStrips(file);
  const int rows[] = {100, 100, 50};
  const char* ys[] = {"0.6", "0.2", "0"};
  const char* shares[] = {"0.4", "0.4", "0.2"};
  std::string expected;
  for (int i = 0; i < 3; ++i) {
    const std::string name = xobjects->EntryAt(i).Key->Value;
    EXPECT_TRUE(std::regex_match(name, std::regex("VelxIm[0-9a-f]{8}"))) << name;
    auto* strip = As<TPDFStream>(xobjects->Get(name, true));
    ASSERT_NE(strip, nullptr);
    EXPECT_EQ(strip->RawData(), strips[static_cast<size_t>(i)]);
    EXPECT_EQ(strip->Dictionary()->GetInteger("Height", 0), rows[i]);
    EXPECT_EQ(As<TPDFDictionary>(strip->Dictionary()->Get("DecodeParms"))->GetInteger("Rows", 0), rows[i]);
    expected += std::string("q 1 0 0 ") + shares[i] + " 0 " + ys[i] + " cm /" + name + " Do Q\n";
  }
  EXPECT_EQ(form->Decode(), expected);

  const std::string out = dir.File("out.pdf");
  SaveFitted(pdf, *image, 200, out);
  EXPECT_TRUE(QpdfClean(out));
  const auto images = ImageList(out);
  ASSERT_EQ(images.size(), 3u);
  EXPECT_EQ(Fields(images[2])[4], "50");
  EXPECT_EQ(WrongPixels(out, 200, dir.File("render"), 200, 250), 0);
}

TEST(CcittTest, OptionPicksThePageOfAMultiPageFile) {
  TempDir dir("image_pages");
  const std::string file = dir.File("three.tif");
  WriteTiff(file, TiffSpec{.Pages = 3});
  const std::pair<int, int> cases[] = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {9, 2}};
  for (const auto& [option, page] : cases) {
    TVellox pdf;
    TPDFImage* image = pdf.AddImageFromFile(file, option);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(ImageStream(pdf, *image)->RawData(), TiffStrips(file, page).at(0)) << option;
  }
}

// A hand-made TIFF whose strip tags are SHORT arrays (held inside the entries).
std::string ShortStripTiff(bool bigEndian) {
  std::string t = bigEndian ? std::string("MM\0*\0\0\0\x08", 8) : std::string("II*\0\x08\0\0\0", 8);
  auto u16 = [&](uint16_t v) {
    if (bigEndian) {
      t += static_cast<char>(v >> 8), t += static_cast<char>(v & 0xFF);
    } else {
      t += static_cast<char>(v & 0xFF), t += static_cast<char>(v >> 8);
    }
  };
  auto u32 = [&](uint32_t v) {
    if (bigEndian) {
      u16(static_cast<uint16_t>(v >> 16)), u16(static_cast<uint16_t>(v & 0xFFFF));
    } else {
      u16(static_cast<uint16_t>(v & 0xFFFF)), u16(static_cast<uint16_t>(v >> 16));
    }
  };
  const uint16_t entries = 7;
  const uint16_t data = static_cast<uint16_t>(8 + 2 + entries * 12 + 4);
  u16(entries);
  u16(256), u16(3), u32(1), u16(16), u16(0);   // ImageWidth 16
  u16(257), u16(3), u32(1), u16(4), u16(0);    // ImageLength 4
  u16(259), u16(3), u32(1), u16(4), u16(0);    // Group 4
  u16(262), u16(3), u32(1), u16(0), u16(0);    // min-is-white
  u16(273), u16(3), u32(2), u16(data), u16(static_cast<uint16_t>(data + 4));  // StripOffsets
  u16(278), u16(3), u32(1), u16(2), u16(0);    // RowsPerStrip 2
  u16(279), u16(3), u32(2), u16(4), u16(3);    // StripByteCounts
  u32(0);
  t += "ABCDEFG";
  return t;
}

TEST(TiffReaderTest, ShortStripArraysAreReadAsShort) {
  for (bool bigEndian : {false, true}) {
    const std::string bytes = ShortStripTiff(bigEndian);
    TPDFTIFF tiff;
    ASSERT_TRUE(tiff.Read(bytes));
    ASSERT_EQ(tiff.PageCount(), 1);
    const TTIFFPage& page = tiff.Page(0);
    EXPECT_EQ(page.Width, 16u);
    EXPECT_EQ(page.Length, 4u);
    EXPECT_EQ(page.Compression, ETIFFCompression::Group4);
    ASSERT_EQ(page.Strips.size(), 2u);
    EXPECT_EQ(page.Strips[0], "ABCD");
    EXPECT_EQ(page.Strips[1], "EFG");
    EXPECT_EQ(page.HorizontalResolution, 0);

    TVellox pdf;
    TPDFImage* image = AddImageFromBytes(pdf.Pages(), bytes, 0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(ImageStream(pdf, *image)->Dictionary()->GetText("Subtype"), "Form");
  }
}

TEST(TiffReaderTest, HostileStructuresAreRefused) {
  std::string bytes = ShortStripTiff(false);
  // A strip that runs past the end of the file.
  std::string past = bytes;
  past.resize(past.size() - 2);
  TPDFTIFF tiff;
  ASSERT_TRUE(tiff.Read(past));
  EXPECT_FALSE(tiff.Page(0).StripsValid);
  TVellox pdf;
  EXPECT_EQ(AddImageFromBytes(pdf.Pages(), past, 0), nullptr);
  // A directory chain that loops back on itself ends.
  std::string loop = bytes;
  const size_t next = 8 + 2 + 7 * 12;
  loop[next] = 8;
  ASSERT_TRUE(tiff.Read(loop));
  EXPECT_EQ(tiff.PageCount(), 1);
  // Not 42.
  std::string wrong = bytes;
  wrong[2] = 43;
  EXPECT_FALSE(tiff.Read(wrong));
  EXPECT_EQ(AddImageFromBytes(pdf.Pages(), wrong, 0), nullptr);
}

TEST(TiffReaderTest, DirectoriesSharingOneStripTableCannotMultiplyIt) {
  // 1000 strips described once, then 50 directories that all point at that table.
  constexpr uint32_t kStrips = 1000;
  constexpr int kPages = 50;
  std::string t = std::string("II*\0\0\0\0\0", 8);
  auto u16 = [&](uint16_t v) { t += static_cast<char>(v & 0xFF), t += static_cast<char>(v >> 8); };
  auto u32 = [&](uint32_t v) { u16(static_cast<uint16_t>(v & 0xFFFF)), u16(static_cast<uint16_t>(v >> 16)); };
  const auto table = static_cast<uint32_t>(t.size());
  for (uint32_t i = 0; i < 2 * kStrips; ++i) u32(i < kStrips ? 0 : 1);  // offsets 0, counts 1
  const auto first = static_cast<uint32_t>(t.size());
  t.replace(4, 4, std::string{static_cast<char>(first & 0xFF), static_cast<char>(first >> 8 & 0xFF), 0, 0});
  for (int p = 0; p < kPages; ++p) {
    u16(5);
    u16(256), u16(3), u32(1), u16(8), u16(0);
    u16(257), u16(3), u32(1), u16(static_cast<uint16_t>(kStrips)), u16(0);
    u16(259), u16(3), u32(1), u16(4), u16(0);
    u16(273), u16(4), u32(kStrips), u32(table);
    u16(279), u16(4), u32(kStrips), u32(table + 4 * kStrips);
    u32(p + 1 < kPages ? static_cast<uint32_t>(t.size()) + 4 : 0);
  }
  TPDFTIFF tiff;
  ASSERT_TRUE(tiff.Read(t));
  ASSERT_EQ(tiff.PageCount(), kPages);
  size_t strips = 0;
  for (int p = 0; p < kPages; ++p) strips += tiff.Page(p).Strips.size();
  EXPECT_EQ(tiff.Page(0).Strips.size(), kStrips);
  EXPECT_TRUE(tiff.Page(0).StripsValid);
  EXPECT_FALSE(tiff.Page(kPages - 1).StripsValid);
  EXPECT_LE(strips, t.size() / 4 + 2 * kPages);
}

// ---- Placing images ----

struct FitCase {
  const char* Name;
  int Units;
  int Origin;
  double Box[4];  // left, top, width, height
  int32_t Pixels[2];
  int32_t Resolution[2];
  int HAlign;
  int VAlign;
  int Rotation;
  const char* Content;  // after "q\n", before "/<name> Do\nQ\n"
};

class FitImageTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitImageTest, WritesTheDrawingLines) {
  const FitCase& c = GetParam();
  TVellox pdf;
  (void)pdf.SetMeasurementUnits(c.Units);
  (void)pdf.SetOrigin(c.Origin);
  TPDFImage image(pdf.Pages().Store());
  image.ResourceName = "VelxIm0a1b2c3d";
  image.ObjectNumber = 77;
  image.Width = c.Pixels[0];
  image.Height = c.Pixels[1];
  image.HorizontalResolution = c.Resolution[0];
  image.VerticalResolution = c.Resolution[1];
  ASSERT_EQ(FitImage(pdf.Pages(), image, c.Box[0], c.Box[1], c.Box[2], c.Box[3], c.HAlign, c.VAlign, c.Rotation), 1);
  EXPECT_EQ(pdf.Pages().ContentStreams().back()->RawData(),
            std::string("q\n") + c.Content + "/VelxIm0a1b2c3d Do\nQ\n");
  auto* xobjects = As<TPDFDictionary>(pdf.Pages().Resources()->Get("XObject"));
  ASSERT_NE(xobjects, nullptr);
  EXPECT_EQ(xobjects->Get("VelxIm0a1b2c3d")->ToText(), "77 0 R");
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FitImageTest,
    ::testing::Values(
        FitCase{"WholePage", 2, 1, {0, 0, 8.5, 11}, {2550, 3300}, {300, 300}, 1, 1, 0, "612 0 0 792 0 0 cm\n"},
        FitCase{"SquareCentred", 2, 1, {0, 0, 8.5, 11}, {1000, 1000}, {0, 0}, 1, 1, 0, "612 0 0 612 0 90 cm\n"},
        FitCase{"UnequalResolution", 2, 1, {0, 0, 8.5, 11}, {1000, 1000}, {300, 150}, 1, 1, 0,
                "396 0 0 792 108 0 cm\n"},
        FitCase{"TopLeft", 0, 1, {0, 0, 612, 792}, {1000, 1000}, {0, 0}, 0, 0, 0, "612 0 0 612 0 180 cm\n"},
        FitCase{"BottomRight", 0, 1, {0, 0, 612, 792}, {1000, 1000}, {0, 0}, 2, 2, 0, "612 0 0 612 0 0 cm\n"},
        FitCase{"BottomLeftOrigin", 0, 0, {0, 792, 612, 792}, {1000, 1000}, {0, 0}, 1, 1, 0,
                "612 0 0 612 0 90 cm\n"},
        FitCase{"TopRightOrigin", 1, 2, {215.9, 0, 100, 100}, {500, 1000}, {0, 0}, 0, 0, 0,
                "141.7322 0 0 283.4645 0 508.5354 cm\n"},
        FitCase{"Anticlockwise", 0, 1, {0, 0, 612, 792}, {2000, 1000}, {0, 0}, 1, 1, 1,
                "0 1 -1 0  504 0 cm\n792 0 0 396 0 0 cm\n"},
        FitCase{"Clockwise", 0, 1, {0, 0, 612, 792}, {2000, 1000}, {0, 0}, 1, 1, 2,
                "0 -1 1 0  108 792 cm\n792 0 0 396 0 0 cm\n"},
        FitCase{"UpsideDown", 0, 1, {0, 0, 612, 792}, {1000, 1000}, {0, 0}, 1, 1, 3,
                "-1 0 0 -1  612 702 cm\n612 0 0 612 0 0 cm\n"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(FitImageTest, RefusesBadArgumentsAndEmptyImages) {
  TVellox pdf;
  TPDFImage image(pdf.Pages().Store());
  image.ResourceName = "VelxIm0a1b2c3d";
  image.Width = 10;
  image.Height = 10;
  EXPECT_EQ(FitImage(pdf.Pages(), image, 0, 0, 10, 10, 3, 0, 0), 0);
  EXPECT_EQ(FitImage(pdf.Pages(), image, 0, 0, 10, 10, 0, -1, 0), 0);
  EXPECT_EQ(FitImage(pdf.Pages(), image, 0, 0, 10, 10, 0, 0, 4), 0);
  image.Width = 0;
  image.Height = 0;
  EXPECT_EQ(FitImage(pdf.Pages(), image, 0, 0, 10, 10, 0, 0, 0), 0);
  EXPECT_EQ(pdf.Pages().ContentStreams().back()->RawData(), "");
  EXPECT_EQ(pdf.Pages().Resources()->Get("XObject"), nullptr);
}

TEST(FitImageTest, DrawingAppendsAndKeepsOneResourceEntry) {
  TempDir dir("image_twice");
  WriteJpeg(dir.File("a.jpg"), JpegSpec{});
  TVellox pdf;
  TPDFImage* image = pdf.AddImageFromFile(dir.File("a.jpg"), 0);
  ASSERT_NE(image, nullptr);
  EXPECT_TRUE(std::regex_match(image->ResourceName, std::regex("VelxIm[0-9a-f]{8}")));
  TPDFImage* second = pdf.AddImageFromFile(dir.File("a.jpg"), 0);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second->ResourceName, image->ResourceName);
  (void)pdf.SetOrigin(1);
  ASSERT_EQ(pdf.FitImage(0, 0, 100, 100, 0, 0, 0), 1);
  ASSERT_EQ(pdf.FitImage(100, 0, 100, 100, 0, 0, 0), 1);
  const std::string content = pdf.Pages().ContentStreams().back()->RawData();
  EXPECT_EQ(content, "q\n100 0 0 75 0 717 cm\n/" + second->ResourceName + " Do\nQ\nq\n100 0 0 75 100 717 cm\n/" +
                         second->ResourceName + " Do\nQ\n");
  EXPECT_EQ(As<TPDFDictionary>(pdf.Pages().Resources()->Get("XObject"))->Count(), 1);
  // Both images are written, used or not.
  const std::string out = dir.File("out.pdf");
  ASSERT_EQ(pdf.SaveToFile(out), 1);
  EXPECT_TRUE(QpdfClean(out));
}

// ---- Content compression ----

TEST(CompressContentTest, CompressesWhatItCanDecode) {
  TempDir dir("image_compress");
  const std::string flate = FlateEncode("0 0 m 1 1 l S");
  const std::string a85 = ASCII85Encode("0 0 m 2 2 l S");
  auto stream = [](const std::string& dict, const std::string& data) {
    return "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
  };
  const std::string text = MakePdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [ 3 0 R 5 0 R 7 0 R 9 0 R 11 0 R ] /Count 5 /MediaBox [ 0 0 100 100 ] >>",
      "<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>", stream("", "0 0 m 3 3 l S"),
      "<< /Type /Page /Parent 2 0 R /Contents 6 0 R >>", stream("/Filter /FlateDecode", flate),
      "<< /Type /Page /Parent 2 0 R /Contents 8 0 R >>", stream("/Filter [ /FlateDecode ]", flate),
      "<< /Type /Page /Parent 2 0 R /Contents 10 0 R >>", stream("/Filter /ASCIIHexDecode", "30 20 30 20 6d>"),
      "<< /Type /Page /Parent 2 0 R /Contents 12 0 R >>", stream("/Filter /ASCII85Decode", a85),
  });
  TVellox pdf;
  std::istringstream in(text);
  ASSERT_EQ(pdf.LoadFromStream(in), 1);
  std::vector<int> progress;
  pdf.SelectedDocument()->OnProgress = [&](int percent) { progress.push_back(percent); };
  ASSERT_EQ(pdf.CompressContent(), 1);
  EXPECT_EQ(progress, (std::vector<int>{20, 40, 60, 80, 100}));

  auto first = [&](int page) {
    (void)pdf.SelectPage(page);
    return pdf.Pages().ContentStreams().front();
  };
  EXPECT_EQ(first(1)->Dictionary()->GetText("Filter"), "FlateDecode");
  EXPECT_EQ(first(1)->Decode(), "0 0 m 3 3 l S");
  EXPECT_EQ(first(2)->RawData(), flate);
  EXPECT_EQ(first(3)->RawData(), flate);
  EXPECT_EQ(first(3)->Dictionary()->Get("Filter")->ToText(), "[ /FlateDecode ]");
  // A filter the decoder does not undo stays as it was.
  EXPECT_EQ(first(4)->RawData(), "30 20 30 20 6d>");
  EXPECT_EQ(first(4)->Dictionary()->GetText("Filter"), "ASCIIHexDecode");
  EXPECT_EQ(first(5)->Dictionary()->GetText("Filter"), "FlateDecode");
  EXPECT_EQ(first(5)->Decode(), "0 0 m 2 2 l S");
  // Every page has its engine stream; still empty, it claims no Flate data (zero bytes are none).
  for (int p = 1; p <= 5; ++p) {
    (void)pdf.SelectPage(p);
    EXPECT_EQ(pdf.Pages().ContentStreams().size(), 2u) << p;
  }
  (void)pdf.SelectPage(1);
  EXPECT_EQ(pdf.Pages().ContentStreams().back()->Dictionary()->Get("Filter"), nullptr);
  EXPECT_EQ(pdf.Pages().ContentStreams().back()->RawData(), "");

  const std::string out = dir.File("out.pdf");
  ASSERT_EQ(pdf.SaveToFile(out), 1);
  EXPECT_TRUE(QpdfClean(out));
}

// Damaged content (an LZW code that names no entry, Flate data cut short under ASCII85, base-85
// text with a character outside its alphabet or a group beyond 32 bits, which readers decode
// each their own way) is kept byte for byte with its filters: decoded and compressed again, what
// follows the fault would be lost or read one way for good. The same content intact is
// compressed, and base-85 text ends at its end mark, as every reader ends it.
TEST(CompressContentTest, DamagedContentStaysAsItWas) {
  auto lzw = [](std::initializer_list<int> codes) {  // 9-bit codes, most significant bit first
    std::string out;
    std::uint32_t bits = 0;
    int held = 0;
    for (int c : codes) {
      bits = (bits << 9) | static_cast<std::uint32_t>(c);
      held += 9;
      while (held >= 8) {
        out += static_cast<char>((bits >> (held - 8)) & 0xFF);
        held -= 8;
      }
    }
    if (held > 0) out += static_cast<char>((bits << (8 - held)) & 0xFF);
    return out;
  };
  const std::string goodLzw = lzw({256, 'q', ' ', 'Q', 257});
  const std::string badLzw = lzw({256, 'q', ' ', 400, 'Q', 257});
  const std::string cutFlate = ASCII85Encode(FlateEncode("0 0 m 4 4 l S 0 0 m 5 5 l S").substr(0, 12));
  std::string strayA85 = ASCII85Encode("0 0 m 4 4 l S");
  strayA85.insert(7, "{");
  const std::string overflowA85 = "uuuuu" + ASCII85Encode("0 0 m 4 4 l S");
  const std::string afterMarkA85 = ASCII85Encode("0 0 m 4 4 l S") + "\n" + ASCII85Encode("junk");
  auto stream = [](const std::string& dict, const std::string& data) {
    return "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
  };
  const std::string text = MakePdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [ 3 0 R 5 0 R 7 0 R 9 0 R 11 0 R 13 0 R ] /Count 6 /MediaBox [ 0 0 100 100 ] >>",
      "<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>", stream("/Filter /LZWDecode", goodLzw),
      "<< /Type /Page /Parent 2 0 R /Contents 6 0 R >>", stream("/Filter /LZWDecode", badLzw),
      "<< /Type /Page /Parent 2 0 R /Contents 8 0 R >>", stream("/Filter [ /ASCII85Decode /FlateDecode ]", cutFlate),
      "<< /Type /Page /Parent 2 0 R /Contents 10 0 R >>", stream("/Filter /ASCII85Decode", strayA85),
      "<< /Type /Page /Parent 2 0 R /Contents 12 0 R >>", stream("/Filter /ASCII85Decode", overflowA85),
      "<< /Type /Page /Parent 2 0 R /Contents 14 0 R >>", stream("/Filter /ASCII85Decode", afterMarkA85),
  });
  TVellox pdf;
  std::istringstream in(text);
  ASSERT_EQ(pdf.LoadFromStream(in), 1);
  ASSERT_EQ(pdf.CompressContent(), 1);
  auto first = [&](int page) {
    (void)pdf.SelectPage(page);
    return pdf.Pages().ContentStreams().front();
  };
  EXPECT_EQ(first(1)->Dictionary()->GetText("Filter"), "FlateDecode");
  EXPECT_EQ(first(1)->Decode(), "q Q");
  EXPECT_EQ(first(2)->RawData(), badLzw);
  EXPECT_EQ(first(2)->Dictionary()->GetText("Filter"), "LZWDecode");
  EXPECT_EQ(first(3)->RawData(), cutFlate);
  EXPECT_EQ(first(3)->Dictionary()->Get("Filter")->ToText(), "[ /ASCII85Decode /FlateDecode ]");
  for (const auto& [page, data] : {std::pair{4, strayA85}, std::pair{5, overflowA85}}) {
    EXPECT_EQ(first(page)->RawData(), data) << page;
    EXPECT_EQ(first(page)->Dictionary()->GetText("Filter"), "ASCII85Decode") << page;
  }
  EXPECT_EQ(first(6)->Dictionary()->GetText("Filter"), "FlateDecode");
  EXPECT_EQ(first(6)->Decode(), "0 0 m 4 4 l S");
}

TEST(CompressContentTest, CompressPageTouchesOnlyTheSelectedPage) {
  TVellox pdf;
  ASSERT_EQ(pdf.NewPages(1), 2);
  pdf.Pages().Painter().AppendLine("0 0 m");
  pdf.Pages().Painter().Store();
  ASSERT_EQ(pdf.CompressPage(), 1);
  EXPECT_EQ(pdf.Pages().ContentStreams().back()->Dictionary()->GetText("Filter"), "FlateDecode");
  EXPECT_EQ(pdf.Pages().ContentStreams().back()->Decode(), "0 0 m\n");
  (void)pdf.SelectPage(1);
  EXPECT_EQ(pdf.Pages().ContentStreams().back()->Dictionary()->Get("Filter"), nullptr);
  EXPECT_EQ(pdf.CompressImages(2), 0);
  EXPECT_EQ(pdf.CompressImages(1), 1);
  EXPECT_EQ(pdf.Pages().CompressImages, 1);
}

}  // namespace
}  // namespace lumipage
