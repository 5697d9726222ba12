// The virtual scanner's page files from arbitrary bytes: every input either becomes a packed
// bitmap whose header agrees with its block, or a reason naming the file; nothing may crash, hang
// or read outside a buffer.
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "dsm/PageFile.h"
#include "imaging/PackedDib.h"

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
  const auto dib = ReadPackedDib(lock.as<const std::uint8_t>(), lock.size(), dsm::TPageFile::kMaxDimension);
  if (!dib) __builtin_trap();
  // The packed bitmap is bottom-up with exactly its header, colour table and rows.
  const TBitmapInfoHeader& h = dib->Header;
  if (!dib->Plain() || h.biSize != sizeof h || dib->TopDown || dib->Size() != lock.size()) __builtin_trap();
  if (page.Info.ImageWidth != h.biWidth || page.Info.ImageLength != h.biHeight) __builtin_trap();
  return 0;
}
