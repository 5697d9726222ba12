// Loading arbitrary bytes as a PDF file: every object is read, the document is saved, and a
// document that loaded must load again from its saved bytes. Then the job's own use of it: a
// page is appended through the facade (the page tree walked, repaired or rebuilt, the content
// compressed, a protected file kept protected), and the saved document must hold exactly one
// page more than it had; an unprotected one is also made PDF/A, and must read back with every
// PDF/A part the save check looks for.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "pdf/PDFArchive.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFDocumentSecurity.h"
#include "pdf/PDFLoader.h"
#include "pdf/PDFRepair.h"
#include "pdf/PDFWriter.h"
#include "pdf/Vellox.h"

namespace {

using namespace lumipage;

// Opens text through the facade as the job does, with the fuzz corpus's password "user" for a
// protected file; false when the job would refuse it.
bool OpenAsTheJobDoes(TVellox& pdf, const std::string& text) {
  std::istringstream in(text);
  if (pdf.LoadFromStream(in) != 1) return false;
  if (pdf.Encrypted() == 0) return true;
  const int r = pdf.SetPassword("user");
  return r == 1 || r == 2 || r == 5;
}

void AppendAPage(const std::string& text) {
  TVellox pdf;
  if (!OpenAsTheJobDoes(pdf, text)) return;
  const int existing = pdf.PageCount();
  (void)pdf.SelectPage(existing);
  (void)pdf.SetMeasurementUnits(1);
  if (pdf.NewPages(1) != existing + 1) return;  // a tree that takes no page: the job refuses the file
  (void)pdf.SelectPage(existing + 1);
  (void)pdf.SetPageDimensions(210, 297);
  (void)pdf.CompressContent();
  (void)ReadPdfaIdentification(*pdf.SelectedDocument());
  const bool pdfa = MakePdfa(*pdf.SelectedDocument());
  const std::string saved = SaveToString(*pdf.SelectedDocument());
  TVellox again;
  if (!OpenAsTheJobDoes(again, saved)) {
    std::fprintf(stderr, "the saved document does not open again\n");
    std::abort();
  }
  if (again.PageCount() != existing + 1) {
    std::fprintf(stderr, "%d pages appended to become %d\n", existing, again.PageCount());
    std::abort();
  }
  if (pdfa) {
    const std::string failure = PdfaFailure(*again.SelectedDocument());
    if (!failure.empty()) {
      std::fprintf(stderr, "made PDF/A, it reads back as not: %s\n", failure.c_str());
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  {
    TPDFDocument doc;
    bool loaded = LoadFromString(doc, text);
    if (doc.SecurityState() == TSecurityState::Standard && doc.OpenPassword().empty())
      (void)TPDFDocumentSecurity(doc).SetPassword("user");
    if (doc.SecurityState() == TSecurityState::Standard && !doc.OpenPassword().empty()) {
      // A protected file's pages are looked for only once a password opens it: without any, it
      // does not count as loaded, as the job refuses it.
      std::vector<TWalkedPage> pages;
      WalkPageTree(doc.PagesDictionary(), pages);
      if (pages.empty()) loaded = false;
    }
    doc.DecryptReachable(1, 0);
    for (size_t i = 0; i < doc.ObjectCount(); ++i) {
      TPDFObject* value = doc.GetValue(doc.ObjectAt(i));
      if (value != nullptr) (void)value->ToText();
    }
    (void)doc.GetInfo("Title");
    if (doc.SecurityState() == TSecurityState::Standard && !doc.OpenPassword().empty()) {
      // Saved still protected: what was decrypted is encrypted again with the file's method.
      TPDFDocument kept;
      if (LoadFromString(kept, SaveToString(doc)) && kept.SecurityState() == TSecurityState::Standard &&
          kept.OpenPassword().empty())
        (void)TPDFDocumentSecurity(kept).SetPassword("user");
    }
    if (doc.SecurityState() == TSecurityState::Standard) (void)TPDFDocumentSecurity(doc).Unencrypt();
    const std::string saved = SaveToString(doc);
    if (loaded) {
      TPDFDocument again;
      if (!LoadFromString(again, saved)) std::abort();
      for (size_t i = 0; i < again.ObjectCount(); ++i) (void)again.GetValue(again.ObjectAt(i));
    }
  }
  AppendAPage(text);
  return 0;
}
