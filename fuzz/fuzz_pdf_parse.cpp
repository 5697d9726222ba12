// The PDF scanner on arbitrary text: no crash, no hang, and the text of whatever it reads
// scans back to the same text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pdf/PDFStructure.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumipage;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TPDFStructure pool;
  TPDFObject* value = pool.Parse(text);
  if (value == nullptr) return 0;
  const std::string once = value->ToText();
  TPDFStructure again;
  TPDFObject* reread = again.Parse(once);
  if (reread == nullptr || reread->ToText() != once) std::abort();
  value->Release();
  return 0;
}
