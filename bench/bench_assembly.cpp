// The PDF assembly alone: the facade calls that gather page files into one PDF, and appending one
// page to a long existing PDF. Page files come from LUMIPAGE_BENCH_PAGES (a folder of .jpg and
// .tif pages) and the long PDF from LUMIPAGE_BENCH_BIGPDF; bench/pdf_vs_peers.sh prepares both and
// times the peer tools on the same files.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/PageStore.h"
#include "app/PdfAssembly.h"
#include "imaging/JpegGraphic.h"
#include "imaging/TiffGraphic.h"
#include "pdf/PDFSaveCheck.h"
#include "pdf/Vellox.h"

namespace fs = std::filesystem;
using namespace lumipage;

namespace {

std::vector<fs::path> PageFiles() {
  std::vector<fs::path> files;
  const char* dir = std::getenv("LUMIPAGE_BENCH_PAGES");
  if (!dir) return files;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".jpg" || e.path().extension() == ".tif") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

// A job's settings and pages for the assembly alone.
struct TAssemblyJob {
  TJobSettings Settings;
  TPageStore Pages{Settings};
  TFileWritten OnFileWritten;
  void Assemble() { AssemblePdf({Settings, Pages, nullptr, OnFileWritten}, [](const std::string&, const std::string&) {}); }
};

// A job state holding copies of the page files in work (AssemblePdf deletes them once saved).
std::unique_ptr<TAssemblyJob> Job(const std::vector<fs::path>& files, const fs::path& work, bool append) {
  auto form = std::make_unique<TAssemblyJob>();
  form->Settings.ExeFolder = work.string() + "/";
  form->Settings.OutputFormat = ofPdf;
  form->Settings.FileName = (work / "out.pdf").string();
  form->Settings.Append = append;
  int n = 0;
  for (const auto& f : files) {
    fs::path copy = work / f.filename();
    fs::copy_file(f, copy, fs::copy_options::overwrite_existing);
    TImageProps& p = form->Pages.PageRecord(++n);
    p.PageFile = copy.string();
    p.Width = 2481;
    p.Height = 3507;
    p.Dpi = 300;
  }
  form->Pages.LastPageNo = n;
  return form;
}

void BM_AssembleNewPdf(benchmark::State& state) {
  auto files = PageFiles();
  if (files.empty()) {
    state.SkipWithError("set LUMIPAGE_BENCH_PAGES");
    return;
  }
  fs::path work = fs::temp_directory_path() / "lumipage-bench-assembly";
  fs::create_directories(work);
  for (auto _ : state) {
    state.PauseTiming();
    auto form = Job(files, work, false);
    state.ResumeTiming();
    form->Assemble();
  }
  state.counters["pages"] = static_cast<double>(files.size());
  fs::remove_all(work);
}
BENCHMARK(BM_AssembleNewPdf)->Unit(benchmark::kMillisecond)->UseRealTime();

// What appending one page to the long PDF needs: the first page file, the long PDF and a work
// folder made under the given name. Nothing, with the benchmark skipped, when the environment
// names no pages or no long PDF.
struct AppendInput {
  std::vector<fs::path> Files;
  std::string Big;
  fs::path Work;
};

std::optional<AppendInput> AppendInputOrSkip(benchmark::State& state, const char* workName) {
  auto files = PageFiles();
  const char* big = std::getenv("LUMIPAGE_BENCH_BIGPDF");
  if (files.empty() || !big) {
    state.SkipWithError("set LUMIPAGE_BENCH_PAGES and LUMIPAGE_BENCH_BIGPDF");
    return std::nullopt;
  }
  files.resize(1);
  fs::path work = fs::temp_directory_path() / workName;
  fs::create_directories(work);
  return AppendInput{std::move(files), big, work};
}

void BM_AppendOnePageToLongPdf(benchmark::State& state) {
  const auto input = AppendInputOrSkip(state, "lumipage-bench-append");
  if (!input) return;
  const auto& [files, big, work] = *input;
  for (auto _ : state) {
    state.PauseTiming();
    fs::copy_file(big, work / "out.pdf", fs::copy_options::overwrite_existing);
    auto form = Job(files, work, true);
    state.ResumeTiming();
    form->Assemble();
  }
  fs::remove_all(work);
}
BENCHMARK(BM_AppendOnePageToLongPdf)->Unit(benchmark::kMillisecond)->UseRealTime();

// The check alone that the append above runs before its file replaces the old one: the
// 2,001-page result read back, its pages walked, each page's media box and the new page's image
// looked up. Its share of the append is this time over the append's.
void BM_CheckAppendedLongPdf(benchmark::State& state) {
  const auto input = AppendInputOrSkip(state, "lumipage-bench-check");
  if (!input) return;
  const auto& [files, big, work] = *input;
  fs::copy_file(big, work / "out.pdf", fs::copy_options::overwrite_existing);
  TSavedPdfExpectation expected;
  {
    TVellox pdf;
    if (pdf.LoadFromFile(big) != 1) {
      state.SkipWithError("the long PDF does not load");
      return;
    }
    expected.PageCount = pdf.PageCount() + 1;
  }
  expected.NewPageImages = {{2481, 3507}};
  auto form = Job(files, work, true);
  form->Assemble();
  const std::string out = (work / "out.pdf").string();
  for (auto _ : state) {
    const std::string failure = CheckSavedPdf(out, expected);
    if (!failure.empty()) {
      state.SkipWithError(failure.c_str());
      break;
    }
  }
  state.counters["pages"] = expected.PageCount;
  fs::remove_all(work);
}
BENCHMARK(BM_CheckAppendedLongPdf)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
