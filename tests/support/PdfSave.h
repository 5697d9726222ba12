#pragma once
// Writing an engine document straight to a file, truncating what was there: enough for tests and
// benchmarks, which need none of the crash-safe replacement the program's saves go through.
#include <fstream>
#include <string>

#include "pdf/PDFDocument.h"
#include "pdf/PDFWriter.h"

namespace lumipage::testing {

// False when the file cannot be opened or the document cannot be written to it.
inline bool SaveDocument(TPDFDocument& document, const std::string& fileName) {
  std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
  if (!file || !SaveToStream(document, file)) return false;
  file.close();
  return !file.fail();
}

}  // namespace lumipage::testing
