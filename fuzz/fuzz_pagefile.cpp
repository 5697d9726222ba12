// The virtual scanner's page files from arbitrary bytes: every input either becomes a packed
// bitmap whose header agrees with its block, or a reason naming the file; nothing may crash, hang
// or read outside a buffer.
#include <cstdint>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "dsm/BitmapHeader.h"
#include "dsm/PageFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumipage;
  const std::vector<std::uint8_t> bytes(data, data + size);
  auto result = dsm::TPageFile::Parse(bytes, "page.bmp");
  if (auto* reason = std::get_if<std::string>(&result)) {
    if (reason->find("page.bmp") == std::string::npos) __builtin_trap();
    return 0;
  }
  auto& page = std::get<dsm::TPageImage>(result);
  platform::GlobalLockGuard lock(page.Dib.get());
  if (!lock.data() || lock.size() < sizeof(dsm::TBitmapInfoHeader)) __builtin_trap();
  dsm::TBitmapInfoHeader h{};
  std::memcpy(&h, lock.data(), sizeof h);
  // The packed bitmap is bottom-up with exactly its header, colour table and rows.
  const std::uint64_t rows = dsm::DibStride(static_cast<std::uint64_t>(h.biWidth), h.biBitCount) *
                             static_cast<std::uint64_t>(h.biHeight);
  if (h.biSize != sizeof h || h.biHeight <= 0 || sizeof h + 4ull * h.biClrUsed + rows != lock.size()) __builtin_trap();
  if (page.Info.ImageWidth != h.biWidth || page.Info.ImageLength != h.biHeight) __builtin_trap();
  return 0;
}
