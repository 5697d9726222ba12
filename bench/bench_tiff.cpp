// TIFF pages: saving an A4 300 dpi page (2481 x 3507) as CCITT Group 4 (black and white) and
// as PackBits (true colour), reading both back, and appending a page to files of 1 and 49
// pages. The tiffcp cases do the same encoding from an uncompressed TIFF with libtiff's own
// tool, on the same pixels, as the yardstick.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "imaging/FileStream.h"
#include "imaging/MemoryStream.h"
#include "imaging/TiffGraphic.h"
#include "imaging/TiffAppend.h"

namespace {

using namespace lumipage;
namespace fs = std::filesystem;

constexpr int kA4Width = 2481;
constexpr int kA4Height = 3507;

// A scanned text page: white paper with rows of dark "letters", plus a grey photo block in
// colour, so the coders see runs of realistic length rather than a blank page.
std::unique_ptr<TTiffGraphic> MakePage(TImageKind kind) {
  auto page = std::make_unique<TTiffGraphic>();
  page->NewImage(kA4Width, kA4Height, kind, nullptr, 300, 300);
  page->FillColor(0xFFFFFF);
  std::uint32_t seed = 12345;
  for (int line = 0; line < 60; ++line) {
    const int top = 200 + line * 52;
    for (int x = 150; x < kA4Width - 150; x += 22) {
      seed = seed * 1103515245 + 12345;
      if ((seed >> 16) % 7 == 0) continue;  // a space
      const int w = 8 + static_cast<int>((seed >> 8) % 10);
      const int h = 20 + static_cast<int>((seed >> 4) % 12);
      for (int y = top; y < top + h; ++y)
        for (int dx = 0; dx < w; ++dx)
          if (((dx + y) & 3) != 0) page->SetRgbPixel(x + dx, y, 0x101010);
    }
  }
  if (kind == ikTrueColor) {
    for (int y = 2800; y < 3300; ++y)
      for (int x = 300; x < 1200; ++x)
        page->SetRgbPixel(x, y, static_cast<std::uint32_t>((x & 255) << 16 | (y & 255) << 8 | 128));
  }
  return page;
}

fs::path BenchFile(const std::string& name) {
  const char* tmp = std::getenv("TMPDIR");
  return fs::path(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") / ("bench_tiff_" + name);
}

void SavePage(benchmark::State& state, TImageKind kind) {
  auto page = MakePage(kind);
  for (auto _ : state) {
    TMemoryStream stream;
    page->SaveToStream(stream);
    benchmark::DoNotOptimize(stream.Memory());
    state.counters["bytes"] = static_cast<double>(stream.Size());
  }
}

void LoadPage(benchmark::State& state, TImageKind kind) {
  auto page = MakePage(kind);
  TMemoryStream stream;
  page->SaveToStream(stream);
  TTiffGraphic loaded;
  for (auto _ : state) {
    stream.SetPosition(0);
    loaded.LoadImage(stream, 1);
    benchmark::DoNotOptimize(loaded.Bits());
  }
}

// tiffcp reading the uncompressed page from disk and writing it compressed, as one process.
void Tiffcp(benchmark::State& state, TImageKind kind, const char* codec) {
  auto page = MakePage(kind);
  page->SetCompression(tcNone);
  const fs::path source = BenchFile(std::string("source_") + codec + ".tif");
  const fs::path target = BenchFile(std::string("target_") + codec + ".tif");
  page->SaveToFile(source.string());
  const std::string command =
      std::string("tiffcp -c ") + codec + " '" + source.string() + "' '" + target.string() + "' 2>/dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("tiffcp failed");
      break;
    }
  }
  fs::remove(source);
  fs::remove(target);
}

// Appending page N + 1 to a file, as the page pipeline does: the cost must not grow with the
// pages already in the file (no rewrite of earlier pages).
void AppendPage(benchmark::State& state) {
  const auto pagesBefore = static_cast<int>(state.range(0));
  auto page = MakePage(ikBlackWhite);
  const fs::path base = BenchFile("append_base_" + std::to_string(pagesBefore) + ".tif");
  const fs::path file = BenchFile("append_" + std::to_string(pagesBefore) + ".tif");
  fs::remove(base);
  for (int i = 0; i < pagesBefore; ++i) {
    TFileStream stream(base.string(), i == 0 ? fmCreate : fmOpenReadWrite);
    page->AppendToStream(stream);
  }
  for (auto _ : state) {
    state.PauseTiming();
    fs::copy_file(base, file, fs::copy_options::overwrite_existing);
    state.ResumeTiming();
    TFileStream stream(file.string(), fmOpenReadWrite);
    page->AppendToStream(stream);
  }
  fs::remove(base);
  fs::remove(file);
}

// A file of that many pages: a full A4 page first, then 8 x 8 pages (the checks read directories,
// not strips). Returns where the last-but-one directory starts: the one the last page was
// linked to.
std::uint64_t WriteChain(const fs::path& file, int pages) {
  fs::remove(file);
  {
    TFileStream stream(file.string(), fmCreate);
    MakePage(ikBlackWhite)->AppendToStream(stream);
  }
  std::uint64_t previousLast = 0;
  for (int i = 1; i < pages; ++i) {
    TFileStream stream(file.string(), fmOpenReadWrite);
    if (i == pages - 1) previousLast = ReadTiffPages(stream).LastOffset;
    TTiffGraphic small;
    small.NewImage(8, 8, ikBlackWhite, nullptr, 300, 300);
    small.AppendToStream(stream);
  }
  return previousLast;
}

// The check the page pipeline runs around each append to a multi-page file: the directories on
// the chain counted and the last one read (once before the append, once after).
void CheckPages(benchmark::State& state) {
  const auto pages = static_cast<int>(state.range(0));
  const fs::path file = BenchFile("check_" + std::to_string(pages) + ".tif");
  (void)WriteChain(file, pages);
  TFileStream stream(file.string(), fmOpenRead);
  for (auto _ : state) {
    if (ReadTiffPages(stream).Count != pages) {
      state.SkipWithError("wrong count");
      break;
    }
  }
  fs::remove(file);
}

// The check of one appended page once the job knows the chain: from the directory the page was
// linked to, through the page's own, to the end of the chain.
void CheckAppendedPage(benchmark::State& state) {
  const auto pages = static_cast<int>(state.range(0));
  const fs::path file = BenchFile("check_appended_" + std::to_string(pages) + ".tif");
  const std::uint64_t previousLast = WriteChain(file, pages);
  TFileStream stream(file.string(), fmOpenRead);
  for (auto _ : state) {
    if (ReadTiffPagesFrom(stream, previousLast, 2).Count != 2) {
      state.SkipWithError("wrong count");
      break;
    }
  }
  fs::remove(file);
}

void BM_SaveGroup4(benchmark::State& state) { SavePage(state, ikBlackWhite); }
void BM_TiffcpGroup4(benchmark::State& state) { Tiffcp(state, ikBlackWhite, "g4"); }
void BM_SavePackbits(benchmark::State& state) { SavePage(state, ikTrueColor); }
void BM_TiffcpPackbits(benchmark::State& state) { Tiffcp(state, ikTrueColor, "packbits"); }
void BM_LoadGroup4(benchmark::State& state) { LoadPage(state, ikBlackWhite); }
void BM_LoadPackbits(benchmark::State& state) { LoadPage(state, ikTrueColor); }

BENCHMARK(BM_SaveGroup4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TiffcpGroup4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SavePackbits)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TiffcpPackbits)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadGroup4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadPackbits)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(AppendPage)->Arg(1)->Arg(49)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CheckPages)->Arg(50)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CheckAppendedPage)->Arg(50)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
