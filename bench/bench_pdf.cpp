// The document store and writer at scale: building and saving documents of many small
// indirect objects, and, side by side, qpdf rewriting the same file.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "pdf/PDFDocument.h"
#include "pdf/PDFLoader.h"
#include "tests/support/PdfSave.h"

namespace {

using namespace lumipage;
using lumipage::testing::SaveDocument;

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
    const std::string pdf = SaveToString(doc);
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
    const std::string pdf = SaveToString(doc);
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
    std::ofstream(in, std::ios::binary) << SaveToString(doc);
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

// ---- Loading real files ----

std::string Slurp(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A one-page file and, made from it by qpdf, 2000-page files with and without object streams.
struct Fixtures {
  std::string dir;
  std::string one;
  std::string files[2];
  Fixtures() {
    dir = (std::filesystem::temp_directory_path() / ("bench_pdf_load_" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(dir);
    one = dir + "/one.pdf";
    TPDFDocument doc;
    (void)doc.NewDocument();
    TPDFStructure& s = doc.Structure();
    TPDFDictionary* page = As<TPDFDictionary>(doc.GetValue(doc.FindIndirect(2, 0)));
    TPDFStream* content = s.MakeStream("");
    content->SetData("BT /F1 12 Tf 72 700 Td (one page of text) Tj ET", true);
    page->Put("Contents", doc.MakeIndirect(content));
    (void)SaveDocument(doc, one);
    std::string ones = "1";
    for (int i = 1; i < 2000; ++i) ones += ",1";
    files[0] = dir + "/pages2000.pdf";
    files[1] = dir + "/pages2000_objstm.pdf";
    (void)std::system(("qpdf --empty --pages " + one + " " + ones + " -- " + files[0]).c_str());
    (void)std::system(("qpdf --object-streams=generate " + files[0] + " " + files[1]).c_str());
  }
  ~Fixtures() { std::filesystem::remove_all(dir); }
};

Fixtures& Files() {
  static Fixtures f;
  return f;
}

// Load, add one page (page dictionary, content stream, entry in the root's /Kids), save.
bool LoadAddSave(const std::string& in, const std::string& out) {
  TPDFDocument doc;
  if (!LoadFromString(doc, Slurp(in))) return false;
  TPDFStructure& s = doc.Structure();
  TPDFDictionary* pages = doc.PagesDictionary();
  auto* kids = As<TPDFArray>(pages->Get("Kids", true));
  if (kids == nullptr) return false;
  TPDFDictionary* page = s.MakeDictionary();
  page->Put("Type", s.CommonName("Page"));
  page->Put("Parent", s.MakeReference(pages->ObjectNumber(), pages->Generation()));
  page->Put("MediaBox", s.Parse("[ 0 0 612 792 ]"));
  TPDFStream* content = s.MakeStream("");
  content->SetData("BT /F1 12 Tf 72 700 Td (added page) Tj ET", true);
  page->Put("Contents", doc.MakeIndirect(content));
  kids->Add(doc.MakeIndirect(page));
  pages->Put("Count", s.MakeNumber(pages->GetInteger("Count", 0) + 1));
  return SaveDocument(doc, out);
}

long ReadStatusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::string(key).size()));
  return 0;
}

// Peak memory growth of one load-add-save, in a child process, relative to the file size.
double PeakMemoryRatio(const std::string& in, const std::string& out) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    // Fork leaves the parent's code and library pages unmapped in the child: the first touch
    // would count them (about 700 KB, whatever the file) as growth. One untimed run maps
    // them. The freed heap (that run's and the parent's) is still resident and, reused, would
    // hide growth, so it goes back to the system before the baseline.
    (void)LoadAddSave(in, out);
    malloc_trim(0);
    const long before = ReadStatusKb("VmRSS:");
    std::ofstream("/proc/self/clear_refs") << "5";  // reset the peak to the current size
    (void)LoadAddSave(in, out);
    const long peak = ReadStatusKb("VmHWM:");
    const double ratio = (peak - before) * 1024.0 / static_cast<double>(std::filesystem::file_size(in));
    (void)!write(fds[1], &ratio, sizeof ratio);
    _exit(0);
  }
  close(fds[1]);
  double ratio = -1;
  (void)!read(fds[0], &ratio, sizeof ratio);
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  return ratio;
}

void BM_LoadAddSave(benchmark::State& state) {
  const std::string& in = Files().files[state.range(0)];
  const std::string out = Files().dir + "/ours.pdf";
  for (auto _ : state) {
    if (!LoadAddSave(in, out)) {
      state.SkipWithError("load failed");
      break;
    }
  }
  state.counters["file_kb"] = static_cast<double>(std::filesystem::file_size(in)) / 1024;
  state.counters["peak_mem_x_file"] = PeakMemoryRatio(in, out);
}
BENCHMARK(BM_LoadAddSave)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_QpdfAddPage(benchmark::State& state) {
  const std::string& in = Files().files[state.range(0)];
  const std::string command = "qpdf " + in + " --pages " + in + " " + Files().one + " -- " + Files().dir + "/q.pdf";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("qpdf failed");
}
BENCHMARK(BM_QpdfAddPage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_QpdfCopy(benchmark::State& state) {
  const std::string& in = Files().files[state.range(0)];
  const std::string command = "qpdf " + in + " " + Files().dir + "/q.pdf";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("qpdf failed");
}
BENCHMARK(BM_QpdfCopy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
