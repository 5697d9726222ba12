// Barcode separator sheets on A4: the time of reading a 300 dpi and a 200 dpi page with and
// without a code, split into the grey copy, the decoding itself (in this process) and the child
// process round trip; and how zxing-cpp (our module) and zbar fare on the drawn sheets and the
// photographs (counters read/total of BM_Reliability).
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <sys/resource.h>
#include <zbar.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "bench/PageBuffers.h"
#include "app/BarcodeReader.h"
#include "barcode/BarcodePlugin.h"
#include "imaging/JpegGraphic.h"
#include "tests/support/BarcodeSheets.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

// range(0): dpi; range(1): 0 a text page without a code, 1 a separator sheet (Code 39), 2 a
// separator sheet (QR code).
std::unique_ptr<TBitmapGraphic> Page(const benchmark::State& state) {
  const int dpi = static_cast<int>(state.range(0));
  // Most pages of a batch are text; a separator sheet carries its code alone.
  auto page = Side(dpi, state.range(1) == 0 ? TSideMark::TextPage : TSideMark::None);
  const int modulePx = dpi >= 300 ? 4 : 3;
  if (state.range(1) == 1)
    Paste(*page, *DrawSymbol("CODE39", "PATCHT", modulePx, "--height=90"), page->Width() / 2, page->Height() / 2, 0, 0);
  if (state.range(1) == 2)
    Paste(*page, *DrawSymbol("QRCODE", "PATCHT", 2 * modulePx), page->Width() / 2, page->Height() / 2, 0, 0);
  return page;
}

// The children's processor time, which the benchmark's CPU column leaves out, as child_cpu_ms: on
// a shared machine the time of the whole reading is the CPU column plus this, the wall clock
// includes the waits for a core.
double ChildrenCpuMs() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

void BM_ReadBarcodes(benchmark::State& state) {
  const auto page = Page(state);
  // The child's time is counted once it is reaped: a fresh child, ended after the loop.
  StopBarcodeReader();
  const double before = ChildrenCpuMs();
  for (auto _ : state) {
    const TBarcodeRead read = ReadBarcodes(*page);
    if ((read.Status == TBarcodeRead::TStatus::Read) != (state.range(1) != 0)) state.SkipWithError("wrong result");
  }
  StopBarcodeReader();
  state.counters["child_cpu_ms"] = (ChildrenCpuMs() - before) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ReadBarcodes)->ArgsProduct({{300, 200}, {0, 1, 2}})->ArgNames({"dpi", "code"})->Unit(benchmark::kMillisecond);

void BM_GreyCopy(benchmark::State& state) {
  const auto page = Page(state);
  for (auto _ : state) benchmark::DoNotOptimize(BarcodeImageOf(*page, page->DpiX()).Pixels.data());
}
BENCHMARK(BM_GreyCopy)->ArgsProduct({{300, 200}, {0}})->ArgNames({"dpi", "code"})->Unit(benchmark::kMillisecond);

// The module called in this process, without the child: the decoder's own share.
void BM_DecodeInProcess(benchmark::State& state) {
  void* module = ::dlopen(LUMIPAGE_BUILD_DIR "/liblumipage_barcode.so", RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) return state.SkipWithError("no module");
  auto read = reinterpret_cast<decltype(&lumi_barcode_read)>(::dlsym(module, "lumi_barcode_read"));
  const auto page = Page(state);
  const int dpi = static_cast<int>(state.range(0));
  const TBarcodeImage image = BarcodeImageOf(*page, static_cast<std::uint16_t>(dpi));
  const LumiBarcodeImage view{image.Pixels.data(), image.Width, image.Height, image.Width, dpi / std::max(1, dpi / 200)};
  for (auto _ : state) {
    int count = 0;
    benchmark::DoNotOptimize(read(&view, [](void* c, const unsigned char*, size_t) { ++*static_cast<int*>(c); }, &count,
                                  nullptr, 0));
  }
}
BENCHMARK(BM_DecodeInProcess)->ArgsProduct({{300, 200}, {0, 1, 2}})->ArgNames({"dpi", "code"})->Unit(benchmark::kMillisecond);

// zbar on the same grey copy; false when it does not find text.
bool ZbarReads(const TDibGraphic& page, const std::string& text) {
  const TBarcodeImage image = BarcodeImageOf(page, page.DpiX());
  zbar::ImageScanner scanner;
  scanner.set_config(zbar::ZBAR_NONE, zbar::ZBAR_CFG_ENABLE, 0);
  for (auto symbology : {zbar::ZBAR_CODE39, zbar::ZBAR_CODE128, zbar::ZBAR_QRCODE})
    scanner.set_config(symbology, zbar::ZBAR_CFG_ENABLE, 1);
  zbar::Image zimage(static_cast<unsigned>(image.Width), static_cast<unsigned>(image.Height), "Y800",
                     image.Pixels.data(), image.Pixels.size());
  scanner.scan(zimage);
  for (auto symbol = zimage.symbol_begin(); symbol != zimage.symbol_end(); ++symbol)
    if (symbol->get_data() == text) return true;
  return false;
}

// The drawn separator sheets and the photographs: how many each library reads.
void BM_Reliability(benchmark::State& state) {
  struct TCase {
    std::unique_ptr<TDibGraphic> Page;
    std::string Text;
  };
  std::vector<TCase> cases;
  for (const TSheet& sheet : SeparatorSheets()) cases.push_back({SeparatorSheet(sheet), sheet.Text});
  const std::string folder = LUMIPAGE_TEST_DATA "/separators/";
  for (const char* name : {"code39-3_01", "code39-3_07", "code128-2_17", "code128-2_31", "qrcode-1_7", "qrcode-1_13",
                           "datamatrix-2_04", "datamatrix-2_16"}) {
    auto photo = std::make_unique<TJpegGraphic>();
    photo->LoadFromFile(folder + "zxing-" + name + ".jpg");
    std::ifstream file(folder + "zxing-" + name + ".txt", std::ios::binary);
    cases.push_back({std::move(photo), std::string(std::istreambuf_iterator<char>(file), {})});
  }
  int ours = 0, zbar = 0;
  for (auto _ : state) {
    ours = zbar = 0;
    for (const TCase& c : cases) {
      const TBarcodeRead read = ReadBarcodes(*c.Page);
      ours += read.Texts.size() == 1 && read.Texts[0] == c.Text ? 1 : 0;
      zbar += ZbarReads(*c.Page, c.Text) ? 1 : 0;
    }
  }
  state.counters["total"] = static_cast<double>(cases.size());
  state.counters["zxing_read"] = ours;
  state.counters["zbar_read"] = zbar;
}
BENCHMARK(BM_Reliability)->Iterations(1)->Unit(benchmark::kMillisecond);

// False splits: the twenty sheets' layouts (every symbology, orientation, turn, faint print)
// carrying other texts, invoice numbers and near misses of the separator's text among them (no
// lower case on the Code 39 layouts: zint raises it, and the symbol then reads PATCHT);
// a page splits the load only when a code on it reads PATCHT exactly (counter false_splits).
void BM_FalseSplits(benchmark::State& state) {
  static const char* const kOthers[] = {"INV-2026-0017", "PATCH",     "PATCHT2",    "PATCHZ",  "PATCH T",
                                        "4006381333931", "Order 5512", "PATCHTT",    "ATCHT",   "SEP-0042",
                                        "DOC-2026-1234", "PATCHt",     "PATCH-T",    "1 PATCHT", "Lieferung 88",
                                        "PAT CHT",       "PATCHT ",    "X-PATCHT",   "T",       "0000000"};
  std::vector<std::unique_ptr<TDibGraphic>> pages;
  std::size_t i = 0;
  for (TSheet sheet : SeparatorSheets()) {
    sheet.Text = kOthers[i++ % std::size(kOthers)];
    pages.push_back(SeparatorSheet(sheet));
  }
  int splits = 0, read = 0;
  for (auto _ : state) {
    splits = read = 0;
    for (const auto& page : pages) {
      const TBarcodeRead r = ReadBarcodes(*page);
      read += r.Texts.empty() ? 0 : 1;
      for (const std::string& text : r.Texts)
        if (text == "PATCHT") ++splits;
    }
  }
  state.counters["pages"] = static_cast<double>(pages.size());
  state.counters["pages_read"] = read;
  state.counters["false_splits"] = splits;
}
BENCHMARK(BM_FalseSplits)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
