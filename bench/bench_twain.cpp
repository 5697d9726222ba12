// Acquisition through the scanner object and the project's source manager: one rendered A4 page
// per iteration, by native transfer, for the kinds a job asks for.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/SystemFolder.h"
#include "twain/Scanner.h"

namespace {

using lumipage::TScanner;

// A system folder of its own: the build's source manager and a one-sheet virtual scanner.
std::string PrepareSystemFolder() {
  static const std::string folder = [] {
    std::string build = lumipage::platform::SystemFolder();
    std::string dir = (std::filesystem::temp_directory_path() / "lumipage-bench-twain").string();
    std::filesystem::create_directories(dir);
    std::error_code ec;
    std::filesystem::remove(dir + "/libtwain_32.so", ec);
    std::filesystem::create_symlink(build + "libtwain_32.so", dir + "/libtwain_32.so", ec);
    std::ofstream(dir + "/twain_32.ini") << "[Source1]\nPages=1\n";
    setenv("LUMIPAGE_SYSTEM_DIR", dir.c_str(), 1);
    return dir;
  }();
  return folder;
}

void BM_AcquireRenderedPage(benchmark::State& state) {
  PrepareSystemFolder();
  TScanner scanner;
  scanner.ShowUI = false;
  scanner.FeederEnabled = true;
  scanner.ImageType = static_cast<std::uint8_t>(state.range(0));
  scanner.XResolution = scanner.YResolution = static_cast<std::int16_t>(state.range(1));
  scanner.Open();
  std::size_t bytes = 0;
  for (auto _ : state) {
    scanner.Acquire(1, [&](lumipage::TTransferBlock& dib, std::uint16_t, std::uint16_t, std::intptr_t) {
      bytes += lumipage::platform::GlobalSize(dib.get());
    });
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
// Image type (0 black and white, 2 grey, 4 256 colours, 5 true colour) and dots per inch.
BENCHMARK(BM_AcquireRenderedPage)
    ->Args({0, 300})
    ->Args({2, 200})
    ->Args({4, 200})
    ->Args({5, 200})
    ->Args({5, 300})
    ->Unit(benchmark::kMillisecond);

}  // namespace
