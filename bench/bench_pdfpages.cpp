// Scanned pages into one PDF through the engine facade, side by side with img2pdf on the same
// files and with plainly copying the files' bytes into one file; and appending one page to a
// 2,000-page PDF, side by side with qpdf doing the same.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
#include <tiffio.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "pdf/PDFDocument.h"
#include "pdf/Vellox.h"

namespace {

using namespace lumipage;

constexpr int kWidth = 2480;  // A4 at 300 dpi
constexpr int kHeight = 3508;
constexpr int kDpi = 300;

std::filesystem::path Folder() {
  static const std::filesystem::path folder = [] {
    auto p = std::filesystem::temp_directory_path() / ("bench_pdfpages_" + std::to_string(getpid()));
    std::filesystem::create_directories(p);
    return p;
  }();
  return folder;
}

// A colour page: soft gradients with scanner-like noise, quality 75 with the JFIF density.
void WriteColourPage(const std::string& file, unsigned seed) {
  std::mt19937 noise(seed);
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  FILE* out = std::fopen(file.c_str(), "wb");
  jpeg_stdio_dest(&cinfo, out);
  cinfo.image_width = kWidth;
  cinfo.image_height = kHeight;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  cinfo.density_unit = 1;
  cinfo.X_density = kDpi;
  cinfo.Y_density = kDpi;
  jpeg_set_quality(&cinfo, 75, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(kWidth * 3);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const int n = static_cast<int>(noise() % 24);
      const bool ink = (x / 40 + y / 60) % 7 == 0 && (y % 60) < 40;
      row[static_cast<size_t>(x * 3)] = static_cast<JSAMPLE>(ink ? 20 + n : 235 - (x >> 5) + n / 2);
      row[static_cast<size_t>(x * 3 + 1)] = static_cast<JSAMPLE>(ink ? 30 + n : 230 - (y >> 5) + n / 2);
      row[static_cast<size_t>(x * 3 + 2)] = static_cast<JSAMPLE>(ink ? 90 + n : 225 + n / 2);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(out);
}

// A black-and-white page of text-like blocks, CCITT Group 4 in one strip.
void WriteMonoPage(const std::string& file, unsigned seed) {
  std::mt19937 noise(seed);
  TIFF* tif = TIFFOpen(file.c_str(), "w");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kHeight);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(kDpi));
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(kDpi));
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  std::vector<uint8_t> row((kWidth + 7) / 8);
  std::vector<uint32_t> glyphs(kWidth / 24);
  for (int y = 0; y < kHeight; ++y) {
    if (y % 48 == 0)
      for (auto& g : glyphs) g = noise();
    std::fill(row.begin(), row.end(), 0);
    const int line = y % 48;
    if (y > 200 && y < kHeight - 200 && line < 30) {
      for (int x = 150; x < kWidth - 150; ++x) {
        const uint32_t g = glyphs[static_cast<size_t>(x / 24)];
        if ((g & 3) == 0) continue;  // a space
        const int cx = x % 24;
        const bool black = cx < 18 && ((g >> ((cx / 3 + line / 5) % 28)) & 1) != 0;
        if (black) row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
    }
    TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0);
  }
  TIFFClose(tif);
}

struct PageFile {
  std::string Name;
  int Width;
  int Height;
  int Dpi;
};

// Ten colour JPEG and ten Group 4 pages, alternating, made once.
const std::vector<PageFile>& Pages() {
  static const std::vector<PageFile> pages = [] {
    std::vector<PageFile> list;
    for (int i = 1; i <= 20; ++i) {
      const bool colour = i % 2 == 1;
      const std::string name = (Folder() / ("page" + std::to_string(i) + (colour ? ".jpg" : ".tif"))).string();
      if (colour) {
        WriteColourPage(name, static_cast<unsigned>(i));
      } else {
        WriteMonoPage(name, static_cast<unsigned>(i));
      }
      list.push_back({name, kWidth, kHeight, kDpi});
    }
    return list;
  }();
  return pages;
}

// The facade calls of the job's PDF assembly for a new document (page files kept).
void AssembleNew(const std::vector<PageFile>& pages, const std::string& out) {
  TVellox pdf;
  (void)pdf.SetPageSize("A4");
  const char* texts[] = {"Orrinwell Ltd", "Ferrodoc Document", "", "", "Orrinwell Ltd", "Orrinwell Ltd"};
  for (int key = 1; key <= 6; ++key) (void)pdf.SetInformation(key, texts[key - 1]);
  (void)pdf.SetOrigin(1);
  (void)pdf.SetMeasurementUnits(1);
  const int count = static_cast<int>(pages.size());
  (void)pdf.NewPages(count - 1);
  for (int i = 1; i <= count; ++i) {
    const PageFile& p = pages[static_cast<size_t>(i - 1)];
    (void)pdf.SelectPage(i);
    (void)pdf.SetMeasurementUnits(2);
    (void)pdf.SetPageDimensions(static_cast<double>(p.Width) / p.Dpi, static_cast<double>(p.Height) / p.Dpi);
    (void)pdf.AddImageFromFile(p.Name, 0);
    (void)pdf.FitImage(0, 0, pdf.GetPageBox(1, 2), pdf.GetPageBox(1, 3), 1, 1, 0);
  }
  (void)pdf.CompressContent();
  if (pdf.SaveToFile(out) != 1) std::abort();
}

void BM_AssembleTwentyPages(benchmark::State& state) {
  const auto& pages = Pages();
  const std::string out = (Folder() / "facade.pdf").string();
  for (auto _ : state) AssembleNew(pages, out);
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(out));
}
BENCHMARK(BM_AssembleTwentyPages)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_Img2pdfTwentyPages(benchmark::State& state) {
  std::string command = "img2pdf";
  for (const PageFile& p : Pages()) command += " '" + p.Name + "'";
  const std::string out = (Folder() / "img2pdf.pdf").string();
  command += " -o '" + out + "'";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("img2pdf failed");
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(out));
}
BENCHMARK(BM_Img2pdfTwentyPages)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_CopyTwentyFiles(benchmark::State& state) {
  const auto& pages = Pages();
  const std::string out = (Folder() / "copy.bin").string();
  for (auto _ : state) {
    std::ofstream o(out, std::ios::binary | std::ios::trunc);
    for (const PageFile& p : pages) {
      std::ifstream in(p.Name, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      o.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
  }
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(out));
}
BENCHMARK(BM_CopyTwentyFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// ---- Appending one page to a large document ----

// 2,000 pages with a line of text each, as another producer writes them (object streams).
const std::string& BigPdf() {
  static const std::string name = [] {
    const std::string ours = (Folder() / "big_ours.pdf").string();
    const std::string big = (Folder() / "big.pdf").string();
    TPDFDocument doc;
    (void)doc.NewDocument();
    TPDFStructure& s = doc.Structure();
    TPDFDictionary* font = s.MakeDictionary();
    font->Put("Type", s.CommonName("Font"));
    font->Put("Subtype", s.CommonName("Type1"));
    font->Put("BaseFont", s.MakeName("Helvetica"));
    TPDFIndRef* fontRef = doc.MakeIndirect(font);
    TPDFDictionary* pagesDict = doc.PagesDictionary();
    auto* kids = As<TPDFArray>(pagesDict->Get("Kids"));
    kids->Clear();
    for (int i = 1; i <= 2000; ++i) {
      TPDFDictionary* page = s.MakeDictionary();
      page->Put("Type", s.CommonName("Page"));
      page->Put("Parent", s.MakeReference(1, 0));
      page->Put("MediaBox", s.Parse("[ 0 0 612 792 ]"));
      TPDFDictionary* res = s.MakeDictionary();
      TPDFDictionary* fonts = s.MakeDictionary();
      fonts->Put("F1", s.MakeReference(fontRef->ObjectNumber(), 0));
      res->Put("Font", fonts);
      page->Put("Resources", res);
      TPDFStream* content = s.MakeStream("");
      content->SetData("BT /F1 12 Tf 72 700 Td (Page " + std::to_string(i) + ") Tj ET", true);
      page->Put("Contents", doc.MakeIndirect(content));
      kids->Add(doc.MakeIndirect(page));
    }
    pagesDict->Put("Count", s.MakeNumber(2000));
    if (!doc.SaveToFile(ours)) std::abort();
    if (std::system(("qpdf --object-streams=generate '" + ours + "' '" + big + "'").c_str()) != 0) std::abort();
    return big;
  }();
  return name;
}

void BM_AppendOnePageTo2000(benchmark::State& state) {
  const std::string big = BigPdf();
  const PageFile& page = Pages()[1];  // a Group 4 page
  const std::string out = (Folder() / "appended.pdf").string();
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::copy_file(big, out, std::filesystem::copy_options::overwrite_existing);
    state.ResumeTiming();
    TVellox pdf;
    (void)pdf.LoadFromFile(out);
    const int existing = pdf.PageCount();
    (void)pdf.SelectPage(existing);
    (void)pdf.SetPageSize("A4");
    (void)pdf.SetOrigin(1);
    (void)pdf.NewPages(1);
    (void)pdf.SelectPage(existing + 1);
    (void)pdf.SetMeasurementUnits(2);
    (void)pdf.SetPageDimensions(static_cast<double>(page.Width) / page.Dpi, static_cast<double>(page.Height) / page.Dpi);
    (void)pdf.AddImageFromFile(page.Name, 0);
    (void)pdf.FitImage(0, 0, pdf.GetPageBox(1, 2), pdf.GetPageBox(1, 3), 1, 1, 0);
    (void)pdf.CompressContent();
    if (pdf.SaveToFile(out) != 1) std::abort();
  }
}
BENCHMARK(BM_AppendOnePageTo2000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_QpdfAppendOnePageTo2000(benchmark::State& state) {
  const std::string big = BigPdf();
  const std::string single = (Folder() / "single.pdf").string();
  AssembleNew({Pages()[1]}, single);
  const std::string out = (Folder() / "qpdf_appended.pdf").string();
  const std::string command = "qpdf '" + big + "' --pages '" + big + "' '" + single + "' -- '" + out + "'";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("qpdf failed");
}
BENCHMARK(BM_QpdfAppendOnePageTo2000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The folder of page files goes with the process. Made here first, so that the folder's name
// outlives this object.
struct Cleanup {
  Cleanup() { (void)Folder(); }
  ~Cleanup() {
    std::error_code ec;
    std::filesystem::remove_all(Folder(), ec);
  }
} cleanup;

}  // namespace
