// Replays every file of a corpus folder through a fuzz target. A missing, unreadable or empty corpus
// fails the run: a replay that replays nothing would pass while testing nothing.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s corpus-folder...\n", argv[0]);
    return 2;
  }
  size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    std::filesystem::recursive_directory_iterator it(argv[i], ec), end;
    if (ec) {
      std::fprintf(stderr, "cannot read corpus %s: %s\n", argv[i], ec.message().c_str());
      return 1;
    }
    for (; it != end; it.increment(ec)) {
      if (ec) {
        std::fprintf(stderr, "cannot read corpus %s: %s\n", argv[i], ec.message().c_str());
        return 1;
      }
      if (!it->is_regular_file()) continue;
      std::ifstream in(it->path(), std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "cannot open %s\n", it->path().c_str());
        return 1;
      }
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++count;
    }
  }
  std::printf("replayed %zu inputs\n", count);
  if (count == 0) {
    std::fprintf(stderr, "the corpus holds no input\n");
    return 1;
  }
  return 0;
}
