// The quick page-tree reading on arbitrary text: the input is object 5's body in a small file,
// and wherever the quick reading answers, every entry must be what the parser reads. The raw
// input is read quickly as well, as text that may hold anything at all.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pdf/PDFDocument.h"
#include "pdf/PDFLoader.h"
#include "pdf/PDFPageTreeEntries.h"
#include "tests/pdf/PageTreeEntriesCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumipage;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  TPageTreeEntries entries;
  (void)ReadPageTreeEntries(input, 5, 0, entries);

  TPDFDocument doc;
  doc.WalkPagesOnLoad = false;
  if (!LoadFromString(doc,
                      testutil::MakeObjectsFile({{1, "<< /Type /Catalog /Pages 2 0 R >>"}, {5, std::string(input)}})))
    return 0;
  TPDFIndObj* object = doc.FindIndirect(5, 0);
  if (object == nullptr) return 0;
  const std::string text = object->RawText();
  if (!ReadPageTreeEntries(text, 5, 0, entries)) return 0;
  const std::string mismatch = testutil::PageTreeEntriesMismatch(doc, object, entries);
  if (!mismatch.empty()) {
    std::fprintf(stderr, "quick reading disagrees with the parser: %s\n", mismatch.c_str());
    std::abort();
  }
  return 0;
}
