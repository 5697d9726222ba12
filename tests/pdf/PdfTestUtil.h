#pragma once
// Helpers shared by the PDF engine tests: running the oracle tools, a scratch folder, and
// documents with visible page content to feed them.
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "pdf/PDFDocument.h"
#include "tests/support/RunCommand.h"
#include "tests/support/PdfSave.h"
#include "tests/support/TempDir.h"

namespace lumipage::testutil {

using testing::CommandResult;
using testing::RunCommand;
using testing::SaveDocument;
using testing::TempDir;

inline std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

// A document of `pages` pages, each showing "Page <n> of lumipage" in Helvetica, and an Info
// title; every page has its own content stream (compressed on odd pages).
inline void BuildTextDocument(TPDFDocument& doc, int pages) {
  (void)doc.NewDocument();
  TPDFStructure& s = doc.Structure();
  TPDFDictionary* font = s.MakeDictionary();
  font->Put("Type", s.CommonName("Font"));
  font->Put("Subtype", s.CommonName("Type1"));
  font->Put("BaseFont", s.MakeName("Helvetica"));
  TPDFIndRef* fontRef = doc.MakeIndirect(font);
  TPDFDictionary* pagesDict = doc.PagesDictionary();
  auto* kids = As<TPDFArray>(pagesDict->Get("Kids"));
  kids->Clear();
  for (int i = 1; i <= pages; ++i) {
    TPDFDictionary* page = s.MakeDictionary();
    page->Put("Type", s.CommonName("Page"));
    page->Put("Parent", s.MakeReference(1, 0));
    page->Put("MediaBox", s.Parse("[ 0 0 612 792 ]"));
    TPDFDictionary* res = s.MakeDictionary();
    TPDFDictionary* fonts = s.MakeDictionary();
    fonts->Put("F1", s.MakeReference(fontRef->ObjectNumber(), 0));
    res->Put("Font", fonts);
    page->Put("Resources", res);
    TPDFStream* content = s.MakeStream("");
    content->SetData("BT /F1 24 Tf 72 700 Td (Page " + std::to_string(i) + " of lumipage) Tj ET", i % 2 == 1);
    page->Put("Contents", doc.MakeIndirect(content));
    kids->Add(doc.MakeIndirect(page));
  }
  pagesDict->Put("Count", s.MakeNumber(pages));
  doc.SetInfo("Title", "lumipage test");
}

// qpdf --check passes with no warning at all.
inline bool QpdfClean(const std::string& file, const std::string& extra = "", std::string* output = nullptr) {
  const CommandResult r = RunCommand("qpdf --check " + extra + " '" + file + "'");
  if (output != nullptr) *output = r.output;
  return r.status == 0 && r.output.find("WARNING") == std::string::npos &&
         r.output.find("No syntax or stream encoding errors found") != std::string::npos;
}

inline std::string PageCount(const std::string& file, const std::string& extra = "") {
  std::string n = RunCommand("qpdf --show-npages " + extra + " '" + file + "'").output;
  while (!n.empty() && (n.back() == '\n' || n.back() == '\r')) n.pop_back();
  return n;
}

inline std::string Text(const std::string& file, const std::string& extra = "") {
  return RunCommand("pdftotext " + extra + " '" + file + "' -").output;
}

// The lines of qpdf --show-encryption that name the protection: revision, permissions and the
// methods of streams, strings and embedded files.
inline std::string EncryptionMethod(const std::string& file, const std::string& password) {
  const std::string all = RunCommand("qpdf --show-encryption --password='" + password + "' '" + file + "'").output;
  std::string lines;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    const std::string line = all.substr(start, end - start);
    if (line.starts_with("R = ") || line.starts_with("P = ") || line.find("encryption method") != std::string::npos)
      lines += line + '\n';
    start = end + 1;
  }
  return lines;
}

}  // namespace lumipage::testutil
