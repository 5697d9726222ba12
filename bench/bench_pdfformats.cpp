// Decoding image formats into image streams: a 1200 x 900 photo-like picture as PNG
// (plain and interlaced), GIF and LZW TIFF with the predictor, made once by ImageMagick.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "pdf/PDFImageDecoded.h"
#include "pdf/PDFImageGIFDecoder.h"
#include "pdf/PDFImagePNGReader.h"
#include "pdf/PDFImageTIFF.h"
#include "pdf/PDFImageTIFFPixels.h"
#include "pdf/PDFStructure.h"

namespace {

using namespace lumipage;

std::string Fixture(const std::string& name, const std::string& args) {
  const std::string file = "/tmp/bench_pdfformats_" + name;
  const std::string cmd = "convert -size 1200x900 -seed 7 plasma: -depth 8 " + args + " '" + file + "' 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return {};
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One image stream built from the file's bytes per iteration, into a fresh store.
void BuildEach(benchmark::State& state, const std::string& bytes,
               bool (*build)(TPDFStructure&, std::string_view, TBuiltImage&), const char* refused) {
  for (auto _ : state) {
    TPDFStructure store;
    TBuiltImage built;
    if (!build(store, bytes, built)) state.SkipWithError(refused);
    benchmark::DoNotOptimize(built.Stream);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1200 * 900 * 3);
}

void BM_Png(benchmark::State& state, const std::string& bytes) {
  BuildEach(state, bytes, BuildPngImage, "PNG refused");
}

void BM_Gif(benchmark::State& state, const std::string& bytes) {
  BuildEach(state, bytes, BuildGifImage, "GIF refused");
}

void BM_TiffLzw(benchmark::State& state, const std::string& bytes) {
  TPDFTIFF tiff;
  if (!tiff.Read(bytes) || tiff.PageCount() == 0) {
    state.SkipWithError("TIFF unreadable");
    return;
  }
  const TTIFFPage page = tiff.Page(0);
  for (auto _ : state) {
    TPDFStructure store;
    TBuiltImage built;
    if (!BuildTiffPixelsImage(store, page, state.range(0) != 0, built)) state.SkipWithError("TIFF refused");
    benchmark::DoNotOptimize(built.Stream);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1200 * 900 * 3);
}

const std::string& Png() { static const std::string b = Fixture("p.png", "-define png:color-type=2"); return b; }
const std::string& PngAdam7() {
  static const std::string b = Fixture("i.png", "-define png:color-type=2 -interlace PNG");
  return b;
}
const std::string& Gif() { static const std::string b = Fixture("g.gif", ""); return b; }
const std::string& Tif() {
  static const std::string b = Fixture("t.tif", "-compress lzw -define tiff:predictor=2");
  return b;
}

void BM_PngPlain(benchmark::State& s) { BM_Png(s, Png()); }
void BM_PngInterlaced(benchmark::State& s) { BM_Png(s, PngAdam7()); }
void BM_GifDecode(benchmark::State& s) { BM_Gif(s, Gif()); }
void BM_TiffLzwPredictor(benchmark::State& s) { BM_TiffLzw(s, Tif()); }

BENCHMARK(BM_PngPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngInterlaced)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GifDecode)->Unit(benchmark::kMillisecond);
// Argument: 0 rows stored uncompressed, 1 Flate-compressed (CompressImages).
BENCHMARK(BM_TiffLzwPredictor)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
