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
#include "tests/support/PdfSave.h"
#include "pdf/Vellox.h"
#include "tests/pdf/PDFPageFixtures.h"
#include "tests/pdf/VelloxAssembly.h"

namespace {

using namespace lumipage;
using lumipage::testing::SaveDocument;
using testutil::ScanPage;

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
  auto rows = [&noise](int y, JSAMPLE* row) {
    for (int x = 0; x < kWidth; ++x) {
      const int n = static_cast<int>(noise() % 24);
      const bool ink = (x / 40 + y / 60) % 7 == 0 && (y % 60) < 40;
      row[static_cast<size_t>(x * 3)] = static_cast<JSAMPLE>(ink ? 20 + n : 235 - (x >> 5) + n / 2);
      row[static_cast<size_t>(x * 3 + 1)] = static_cast<JSAMPLE>(ink ? 30 + n : 230 - (y >> 5) + n / 2);
      row[static_cast<size_t>(x * 3 + 2)] = static_cast<JSAMPLE>(ink ? 90 + n : 225 + n / 2);
    }
  };
  testutil::WriteJpeg(file, {.Width = kWidth, .Height = kHeight, .XDensity = kDpi, .YDensity = kDpi, .Quality = 75,
                             .Rows = rows});
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

// Ten colour JPEG and ten Group 4 pages, alternating, made once.
const std::vector<ScanPage>& Pages() {
  static const std::vector<ScanPage> pages = [] {
    std::vector<ScanPage> list;
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
void AssembleNew(const std::vector<ScanPage>& pages, const std::string& out) {
  TVellox pdf;
  testutil::BuildAssembly(pdf, out, pages, {});
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
  for (const ScanPage& p : Pages()) command += " '" + p.File + "'";
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
    for (const ScanPage& p : pages) {
      std::ifstream in(p.File, std::ios::binary);
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
    testutil::BuildTextDocument(doc, 2000);
    if (!SaveDocument(doc, ours)) std::abort();
    if (std::system(("qpdf --object-streams=generate '" + ours + "' '" + big + "'").c_str()) != 0) std::abort();
    return big;
  }();
  return name;
}

void BM_AppendOnePageTo2000(benchmark::State& state) {
  const std::string big = BigPdf();
  const ScanPage& page = Pages()[1];  // a Group 4 page
  const std::string out = (Folder() / "appended.pdf").string();
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::copy_file(big, out, std::filesystem::copy_options::overwrite_existing);
    state.ResumeTiming();
    TVellox pdf;
    testutil::BuildAssembly(pdf, out, {page}, {.Append = true});
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
