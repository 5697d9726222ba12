// The document store and writer at scale: building and saving documents of many small
// indirect objects, and, side by side, qpdf rewriting the same file.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "pdf/PDFDocument.h"

namespace {

using namespace lumipage;

// A blank document plus n small objects (dictionaries, arrays, numbers, strings), all
// reachable from the catalog.
void Build(TPDFDocument& doc, int n) {
  (void)doc.NewDocument();
  TPDFStructure& s = doc.Structure();
  TPDFArray* all = s.MakeArray();
  all->Reserve(n);
  for (int i = 0; i < n; ++i) {
    TPDFObject* v = nullptr;
    switch (i % 4) {
      case 0: {
        TPDFDictionary* d = s.MakeDictionary();
        d->Put("Type", s.CommonName("Annot"));
        d->Put("N", s.MakeNumber(i));
        d->Put("Scale", s.MakeNumber(i * 0.37));
        v = d;
        break;
      }
      case 1: {
        static constexpr double kBox[] = {0, 0, 595.2755, 841.8897};
        v = s.MakeRealArray(kBox, 3);
        break;
      }
      case 2: v = s.MakeNumber(i / 7.0); break;
      default: v = s.MakeString("object text " + std::to_string(i)); break;
    }
    all->Add(doc.MakeIndirect(v));
  }
  doc.Catalog()->Put("Objects", doc.MakeIndirect(all));
}

void BM_BuildAndSave(benchmark::State& state) {
  const auto n = static_cast<int>(state.range(0));
  size_t bytes = 0;
  for (auto _ : state) {
    TPDFDocument doc;
    Build(doc, n);
    const std::string pdf = doc.SaveToString();
    bytes = pdf.size();
    benchmark::DoNotOptimize(pdf.data());
  }
  state.counters["objects"] = n;
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_BuildAndSave)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Save(benchmark::State& state) {
  TPDFDocument doc;
  Build(doc, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const std::string pdf = doc.SaveToString();
    benchmark::DoNotOptimize(pdf.data());
  }
}
BENCHMARK(BM_Save)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond)->UseRealTime();

// qpdf rewriting the file that BM_Save writes (classic table, no object streams).
void BM_QpdfRewrite(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path();
  const std::string in = (dir / ("bench_pdf_in_" + std::to_string(getpid()) + ".pdf")).string();
  const std::string out = (dir / ("bench_pdf_out_" + std::to_string(getpid()) + ".pdf")).string();
  {
    TPDFDocument doc;
    Build(doc, static_cast<int>(state.range(0)));
    std::ofstream(in, std::ios::binary) << doc.SaveToString();
  }
  const std::string command = "qpdf --object-streams=disable '" + in + "' '" + out + "'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("qpdf failed");
      break;
    }
  }
  std::filesystem::remove(in);
  std::filesystem::remove(out);
}
BENCHMARK(BM_QpdfRewrite)->Arg(200000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
