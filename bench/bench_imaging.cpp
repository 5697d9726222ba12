// Hot paths of the image library on an A4 page at 300 dpi (2481 x 3507, true colour, text on
// noisy off-white): Floyd-Steinberg to black and white and to 256 greys, JPEG quality 85 in
// true colour and grey, crop of A4 out of a Letter-size scan (against one memcpy of the
// result), BMP output and input; black and white by local threshold (MonoText) against the
// dither and against Leptonica's Sauvola threshold, and the Group 4 size of each.
//
// Environment:
//   LUMIPAGE_BENCH_SAVE_PAGE=<folder>  write the page as page.bmp (24-bit), page.ppm, and its
//                                      grey version as page_gray.pgm and page_gray.bmp
//                                      (8-bit) into the folder and exit (for
//                                      bench/compare_imaging.sh, which times other tools on it)
//   LUMIPAGE_BENCH_PAGE=<file.bmp>     use this page instead of the generated one
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/PageBuffers.h"
#include "imaging/AdaptiveThresholdTransform.h"
#include "imaging/BitmapGraphic.h"
#include "imaging/Canvas.h"
#include "imaging/CropTransform.h"
#include "imaging/ImageFormatTransform.h"
#include "imaging/JpegGraphic.h"
#include "imaging/JpegPlanes.h"
#include "imaging/MemoryStream.h"
#include "imaging/RowDither.h"
#include "imaging/TiffGraphic.h"

#ifdef LUMIPAGE_HAVE_LEPTONICA
#include <leptonica/allheaders.h>
#endif

namespace {

using namespace lumipage;

constexpr std::int32_t kA4Width = 2481;
constexpr std::int32_t kA4Height = 3507;
constexpr std::int32_t kLetterWidth = 2550;
constexpr std::int32_t kLetterHeight = 3300;

// Noisy off-white paper with lines of black text drawn through the canvas.
void MakePage(TDibGraphic& page, std::int32_t w, std::int32_t h) {
  page.NewImage(w, h, ikTrueColor, nullptr, 300, 300);
  std::mt19937 rng(42);
  for (std::int32_t y = 0; y < h; ++y) {
    std::uint8_t* row = page.RowBits(y);
    for (std::int32_t x = 0; x < w; ++x) {
      const std::uint32_t n = rng();
      row[3 * x] = static_cast<std::uint8_t>(222 + (n & 15));
      row[3 * x + 1] = static_cast<std::uint8_t>(230 + ((n >> 4) & 15));
      row[3 * x + 2] = static_cast<std::uint8_t>(234 + ((n >> 8) & 15));
    }
  }
  TCanvas& c = page.Canvas();
  c.Brush().Style = bsClear;
  c.Font().Name = "Arial";
  c.Font().Color = 0x202020;
  c.Font().Height = 42;
  const char* words[] = {"statement", "balance", "account", "payment", "the", "of", "and", "Orrinwell",
                         "1,024.50", "invoice", "total", "period", "reference", "date", "amount"};
  for (std::int32_t y = 200; y + 60 < h - 200; y += 60) {
    std::string line;
    while (c.TextWidth(line) < w - 500) line += std::string(words[rng() % 15]) + " ";
    c.TextOut(250, y, line);
  }
}

std::unique_ptr<TBitmapGraphic> LoadPage() {
  auto page = std::make_unique<TBitmapGraphic>();
  if (const char* file = std::getenv("LUMIPAGE_BENCH_PAGE")) {
    page->LoadFromFile(file);
  } else {
    MakePage(*page, kA4Width, kA4Height);
  }
  return page;
}

TBitmapGraphic& Page() {
  static std::unique_ptr<TBitmapGraphic> page = LoadPage();
  return *page;
}

TDibGraphic& GreyPage() {
  static std::unique_ptr<TDibGraphic> grey = [] {
    auto g = std::make_unique<TJpegGraphic>();
    TImageFormatTransform t;
    t.TargetKind = ikGray256;
    t.ApplyOnDest(Page(), *g);
    return std::unique_ptr<TDibGraphic>(std::move(g));
  }();
  return *grey;
}

void WritePnm(const std::string& name, const TDibGraphic& image, bool grey) {
  std::ofstream f(name, std::ios::binary);
  f << (grey ? "P5\n" : "P6\n") << image.Width() << " " << image.Height() << "\n255\n";
  std::vector<std::uint8_t> row(static_cast<std::size_t>(image.Width()) * (grey ? 1 : 3));
  for (std::int32_t y = 0; y < image.Height(); ++y) {
    const std::uint8_t* in = image.RowBits(y);
    for (std::int32_t x = 0; x < image.Width(); ++x) {
      if (grey) {
        row[x] = in[x];
      } else {
        row[3 * x] = in[3 * x + 2];
        row[3 * x + 1] = in[3 * x + 1];
        row[3 * x + 2] = in[3 * x];
      }
    }
    f.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(row.size()));
  }
}

[[maybe_unused]] const bool kSavedPage = [] {
  const char* folder = std::getenv("LUMIPAGE_BENCH_SAVE_PAGE");
  if (!folder) return false;
  const std::string dir = std::string(folder) + "/";
  Page().SaveToFile(dir + "page.bmp");
  WritePnm(dir + "page.ppm", Page(), false);
  WritePnm(dir + "page_gray.pgm", GreyPage(), true);
  TBitmapGraphic grey;
  grey.Assign(&GreyPage());
  grey.SaveToFile(dir + "page_gray.bmp");
  std::printf("wrote %spage.bmp, page.ppm, page_gray.pgm, page_gray.bmp\n", dir.c_str());
  std::exit(0);
}();

TBitmapGraphic& LetterScan();

// Builds the page (and its grey version) once, outside any timed loop.
void Warm() {
  (void)Page();
  (void)GreyPage();
  (void)LetterScan();
}

void SetPixels(benchmark::State& state, const TDibGraphic& image) {
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(image.Width()) * image.Height());
}

// The page dithered to the kind, row-wise (fast:1) or through the pixel routines (fast:0).
void Dither(benchmark::State& state, TImageKind kind) {
  Warm();
  TImageFormatTransform t;
  t.TargetKind = kind;
  t.UseFastPaths = state.range(0) != 0;
  TBitmapGraphic out;
  for (auto _ : state) t.ApplyOnDest(Page(), out);
  SetPixels(state, Page());
}

void BM_DitherBlackWhite(benchmark::State& state) { Dither(state, ikBlackWhite); }
BENCHMARK(BM_DitherBlackWhite)->Arg(1)->Arg(0)->ArgName("fast")->Unit(benchmark::kMillisecond);

// The row-wise dither to black and white on one thread (threads:1) and on two (threads:2), as
// the transform chooses between them by the machine's load; real time is the figure.
void BM_DitherRows(benchmark::State& state) {
  Warm();
  TBitmapGraphic out;
  out.NewImage(Page().Width(), Page().Height(), ikBlackWhite, nullptr, 300, 300);
  const auto none = [](std::int32_t) {};
  for (auto _ : state) {
    if (state.range(0) == 2)
      DitherRowsTwoThreads(Page(), out, true, none);
    else
      DitherRowsOneThread(Page(), out, true, none);
  }
  SetPixels(state, Page());
}
BENCHMARK(BM_DitherRows)->Arg(1)->Arg(2)->ArgName("threads")->Unit(benchmark::kMillisecond)->UseRealTime();

// The page to black and white by local threshold (MonoText), grey conversion included.
void BM_MonoTextThreshold(benchmark::State& state) {
  Warm();
  TAdaptiveThresholdTransform t;
  TBitmapGraphic out;
  for (auto _ : state) t.ApplyOnDest(Page(), out);
  SetPixels(state, Page());
}
BENCHMARK(BM_MonoTextThreshold)->Unit(benchmark::kMillisecond);

// The stored size of the page as a Group 4 TIFF, thresholded (threshold:1) or dithered (0):
// the time is the conversion and the coding, the counter the bytes.
void BM_Group4PageSize(benchmark::State& state) {
  Warm();
  std::int64_t bytes = 0;
  for (auto _ : state) {
    TTiffGraphic tiff;
    if (state.range(0) != 0) {
      TAdaptiveThresholdTransform().ApplyOnDest(Page(), tiff);
    } else {
      TImageFormatTransform t;
      t.TargetKind = ikBlackWhite;
      t.ApplyOnDest(Page(), tiff);
    }
    tiff.SetCompression(tcGroup4);
    TMemoryStream stream;
    tiff.SaveToStream(stream);
    bytes = stream.Size();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Group4PageSize)->Arg(1)->Arg(0)->ArgName("threshold")->Unit(benchmark::kMillisecond);

#ifdef LUMIPAGE_HAVE_LEPTONICA
// Leptonica's Sauvola threshold of the same page (one tile, half-window 16, k 0.34 as its
// documentation suggests), its grey conversion included; the colour PIX is made beforehand.
void BM_LeptonicaSauvola(benchmark::State& state) {
  Warm();
  const TBitmapGraphic& page = Page();
  PIX* colour = pixCreate(page.Width(), page.Height(), 32);
  for (std::int32_t y = 0; y < page.Height(); ++y) {
    const std::uint8_t* in = page.RowBits(y);
    l_uint32* line = pixGetData(colour) + static_cast<std::size_t>(y) * pixGetWpl(colour);
    for (std::int32_t x = 0; x < page.Width(); ++x)
      composeRGBPixel(in[3 * x + 2], in[3 * x + 1], in[3 * x], line + x);
  }
  for (auto _ : state) {
    PIX* grey = pixConvertRGBToGray(colour, 0.299f, 0.587f, 0.114f);
    PIX* bw = nullptr;
    pixSauvolaBinarize(grey, 16, 0.34f, 1, nullptr, nullptr, nullptr, &bw);
    pixDestroy(&bw);
    pixDestroy(&grey);
  }
  pixDestroy(&colour);
  SetPixels(state, page);
}
BENCHMARK(BM_LeptonicaSauvola)->Unit(benchmark::kMillisecond);
#endif

void BM_DitherGray256(benchmark::State& state) { Dither(state, ikGray256); }
BENCHMARK(BM_DitherGray256)->Arg(1)->Arg(0)->ArgName("fast")->Unit(benchmark::kMillisecond);

// The image encoded into a new memory stream once per iteration.
void SaveEach(benchmark::State& state, TJpegGraphic& jpeg) {
  for (auto _ : state) {
    TMemoryStream out;
    jpeg.SaveToStream(out);
  }
  SetPixels(state, jpeg);
}

void BM_JpegTrueColor85(benchmark::State& state) {
  Warm();
  TJpegGraphic jpeg;
  jpeg.Assign(&Page());
  jpeg.Quality = 85;
  jpeg.UseFastPaths = state.range(0) != 0;
  jpeg.Threads = TJpegGraphic::TThreads::One;
  SaveEach(state, jpeg);
}
BENCHMARK(BM_JpegTrueColor85)->Arg(1)->Arg(0)->ArgName("fast")->Unit(benchmark::kMillisecond);

// The same page on one thread and on two (one making the codec's colour samples), in real time.
void BM_JpegTrueColorThreads(benchmark::State& state) {
  Warm();
  TJpegGraphic jpeg;
  jpeg.Assign(&Page());
  jpeg.Quality = 85;
  jpeg.Threads = state.range(0) == 2 ? TJpegGraphic::TThreads::Two : TJpegGraphic::TThreads::One;
  SaveEach(state, jpeg);
}
// The second thread's share of that: the codec's colour samples of the whole page.
void BM_JpegPlanesFill(benchmark::State& state) {
  Warm();
  const TDibGraphic& page = Page();
  TJpegPlanes planes(page.Width(), page.Height());
  for (auto _ : state)
    for (std::int32_t g = 0; g < planes.Groups(); ++g) planes.Fill(g, page);
  SetPixels(state, page);
}
BENCHMARK(BM_JpegPlanesFill)->Unit(benchmark::kMillisecond);

BENCHMARK(BM_JpegTrueColorThreads)->Arg(1)->Arg(2)->ArgName("threads")->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_JpegGray85(benchmark::State& state) {
  Warm();
  TJpegGraphic jpeg;
  jpeg.Assign(&GreyPage());
  jpeg.Quality = 85;
  SaveEach(state, jpeg);
}
BENCHMARK(BM_JpegGray85)->Unit(benchmark::kMillisecond);

void BM_JpegDecodeTrueColor(benchmark::State& state) {
  Warm();
  TJpegGraphic jpeg;
  jpeg.Assign(&Page());
  jpeg.Quality = 85;
  TMemoryStream encoded;
  jpeg.SaveToStream(encoded);
  TJpegGraphic back;
  back.UseFastPaths = state.range(0) != 0;
  for (auto _ : state) {
    encoded.SetPosition(0);
    back.LoadFromStream(encoded);
  }
  SetPixels(state, back);
}
BENCHMARK(BM_JpegDecodeTrueColor)->Arg(1)->Arg(0)->ArgName("fast")->Unit(benchmark::kMillisecond);

TBitmapGraphic& LetterScan() {
  static std::unique_ptr<TBitmapGraphic> scan = [] {
    auto s = std::make_unique<TBitmapGraphic>();
    s->NewImage(kLetterWidth, kLetterHeight, ikTrueColor, nullptr, 300, 300);
    for (std::int32_t y = 0; y < kLetterHeight; ++y)
      std::memset(s->RowBits(y), y & 0xFF, s->BytesPerRow());
    return s;
  }();
  return *scan;
}

// A4 (8.27 x 11.69 in at 300 dpi) out of a Letter-size scan: cut at the bottom edge.
void BM_CropA4FromLetter(benchmark::State& state) {
  Warm();
  TCropTransform crop;
  crop.CropMode = cmRectangle;
  crop.Right = 2481;
  crop.Bottom = 3507;
  TBitmapGraphic out;
  for (auto _ : state) {
    if (state.range(0)) {
      crop.ApplyOnDest(LetterScan(), out);
    } else {
      crop.ApplyOnDestReference(LetterScan(), out);
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(out.ImageSize()));
}
BENCHMARK(BM_CropA4FromLetter)->Arg(1)->Arg(0)->ArgName("fast")->Unit(benchmark::kMillisecond);

// The yardstick for the crop: one memcpy of the result's bytes into a buffer that is reused.
void BM_MemcpyA4Result(benchmark::State& state) {
  Warm();
  const std::size_t bytes = static_cast<std::size_t>(((2481 * 24 + 31) / 32) * 4) * kLetterHeight;
  std::vector<std::uint8_t> dst(bytes, 1);
  for (auto _ : state) {
    std::memcpy(dst.data(), LetterScan().Bits(), bytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_MemcpyA4Result)->Unit(benchmark::kMillisecond);

void BM_BmpSave(benchmark::State& state) {
  Warm();
  for (auto _ : state) {
    TMemoryStream out;
    Page().SaveToStream(out);
  }
  SetPixels(state, Page());
}
BENCHMARK(BM_BmpSave)->Unit(benchmark::kMillisecond);

void BM_BmpLoad(benchmark::State& state) {
  Warm();
  TMemoryStream file;
  Page().SaveToStream(file);
  TBitmapGraphic back;
  for (auto _ : state) {
    file.SetPosition(0);
    back.LoadFromStream(file);
  }
  SetPixels(state, back);
}
BENCHMARK(BM_BmpLoad)->Unit(benchmark::kMillisecond);

// Whole commands on files, for the side-by-side comparison with other tools: read the page
// BMP, convert, write the result file.
std::string TempName(const char* name) {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp ? tmp : "/tmp") + "/" + name;
}

void BM_CommandDitherFile(benchmark::State& state) {
  Warm();
  const std::string in = TempName("lumipage_bench_page.bmp");
  Page().SaveToFile(in);
  for (auto _ : state) {
    TBitmapGraphic page;
    page.LoadFromFile(in);
    TImageFormatTransform t;
    t.TargetKind = ikBlackWhite;
    TBitmapGraphic out;
    t.ApplyOnDest(page, out);
    out.SaveToFile(TempName("lumipage_bench_mono.bmp"));
  }
  std::remove(in.c_str());
  std::remove(TempName("lumipage_bench_mono.bmp").c_str());
}
BENCHMARK(BM_CommandDitherFile)->Unit(benchmark::kMillisecond);

// True colour: the page BMP to a JPEG. Grey: an 8-bit grey BMP of the page to a grey JPEG (the
// grey-ramp palette maps onto 256 grey levels by row copies).
void BM_CommandJpegFile(benchmark::State& state) {
  Warm();
  const bool grey = state.range(0) != 0;
  const std::string in = TempName("lumipage_bench_page.bmp");
  if (grey) {
    TBitmapGraphic g;
    g.Assign(&GreyPage());
    g.SaveToFile(in);
  } else {
    Page().SaveToFile(in);
  }
  for (auto _ : state) {
    TBitmapGraphic page;
    page.LoadFromFile(in);
    TJpegGraphic jpeg;
    TImageFormatTransform t;
    t.TargetKind = grey ? ikGray256 : ikTrueColor;
    t.DitherEnabled = false;
    t.ApplyOnDest(page, jpeg);
    jpeg.Quality = 85;
    jpeg.SaveToFile(TempName("lumipage_bench_page.jpg"));
  }
  std::remove(in.c_str());
  std::remove(TempName("lumipage_bench_page.jpg").c_str());
}
BENCHMARK(BM_CommandJpegFile)->Arg(0)->Arg(1)->ArgName("grey")->Unit(benchmark::kMillisecond);

}  // namespace
