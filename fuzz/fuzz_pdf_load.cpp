// Loading arbitrary bytes as a PDF file: every object is read, the document is saved, and a
// document that loaded must load again from its saved bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pdf/PDFDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumipage;
  TPDFDocument doc;
  const bool loaded = doc.LoadFromString(std::string(reinterpret_cast<const char*>(data), size));
  if (doc.SecurityState() == 1 && doc.OpenPassword().empty()) (void)doc.SetPassword("user");
  doc.DecryptReachable(1, 0);
  for (size_t i = 0; i < doc.ObjectCount(); ++i) {
    TPDFObject* value = doc.GetValue(doc.ObjectAt(i));
    if (value != nullptr) (void)value->ToText();
  }
  (void)doc.GetInfo("Title");
  if (doc.SecurityState() == 1 && !doc.OpenPassword().empty()) {
    // Saved still protected: what was decrypted is encrypted again with the file's method.
    TPDFDocument kept;
    if (kept.LoadFromString(doc.SaveToString()) && kept.SecurityState() == 1 && kept.OpenPassword().empty())
      (void)kept.SetPassword("user");
  }
  if (doc.SecurityState() == 1) (void)doc.Unencrypt();
  const std::string saved = doc.SaveToString();
  if (!loaded) return 0;
  TPDFDocument again;
  if (!again.LoadFromString(saved)) std::abort();
  for (size_t i = 0; i < again.ObjectCount(); ++i) (void)again.GetValue(again.ObjectAt(i));
  return 0;
}
