#pragma once
// What the quick page-tree reading is held to, shared by its table test and its fuzzer: a small
// file built around an object's text, and the comparison of the quick entries with the parser's
// dictionary.
#include <map>
#include <string>

#include "pdf/PDFArray.h"
#include "pdf/PDFDictionary.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFIndObj.h"
#include "pdf/PDFIndRef.h"
#include "pdf/PDFNumeric.h"
#include "pdf/PDFPageTreeEntries.h"
#include "tests/pdf/PdfFileBuilder.h"

namespace lumipage::testutil {

// A file of the given objects (number, text between "obj" and "endobj") with a classic table
// and object 1 as its catalog.
inline std::string MakeObjectsFile(const std::map<int, std::string>& objects) {
  FileBuilder b("%PDF-1.7\n");
  for (const auto& [number, body] : objects) b.Object(number, body);
  const int max = objects.rbegin()->first;
  b.ClassicTable(max, "/Size " + std::to_string(max + 1) + " /Root 1 0 R");
  return b.Text();
}

// Where the entries read quickly from the object's text differ from the parser's reading of
// it; empty when every entry agrees.
inline std::string PageTreeEntriesMismatch(TPDFDocument& doc, TPDFIndObj* object, const TPageTreeEntries& quick) {
  auto* dict = As<TPDFDictionary>(doc.GetValue(object));
  if (dict == nullptr) return "the parser reads no dictionary";
  if (quick.Type != dict->TypeName()) return "/Type " + quick.Type + " where the parser reads " + dict->TypeName();
  auto* kids = As<TPDFArray>(dict->Get("Kids"));
  if (quick.HasKids != (kids != nullptr)) return "/Kids present on one side only";
  if (kids != nullptr) {
    if (quick.Kids.size() != static_cast<size_t>(kids->Count())) return "/Kids of another length";
    for (int i = 0; i < kids->Count(); ++i) {
      auto* ref = As<TPDFIndRef>(kids->Item(i));
      if (ref == nullptr) return "kid " + std::to_string(i) + " is no reference to the parser";
      if (quick.Kids[static_cast<size_t>(i)] != std::make_pair(ref->ObjectNumber(), ref->Generation()))
        return "kid " + std::to_string(i) + " differs";
    }
  }
  auto* count = As<TPDFNumeric>(dict->Get("Count"));
  if (quick.HasCount != (count != nullptr)) return "/Count present on one side only";
  if (count != nullptr && static_cast<double>(quick.Count) != count->Value)
    return "/Count " + std::to_string(quick.Count) + " where the parser reads " + std::to_string(count->Value);
  auto* parent = As<TPDFIndRef>(dict->Get("Parent"));
  if (quick.HasParent != (parent != nullptr)) return "/Parent present on one side only";
  if (parent != nullptr &&
      (quick.ParentNumber != parent->ObjectNumber() || quick.ParentGeneration != parent->Generation()))
    return "/Parent differs";
  auto* box = As<TPDFArray>(dict->Get("MediaBox"));
  if (quick.HasMediaBox != (box != nullptr)) return "/MediaBox present on one side only";
  if (box != nullptr) {
    if (box->Count() != 4) return "/MediaBox of " + std::to_string(box->Count()) + " items to the parser";
    for (int i = 0; i < 4; ++i) {
      if (As<TPDFNumeric>(box->Item(i)) == nullptr) return "/MediaBox item " + std::to_string(i) + " is no number";
    }
  }
  return {};
}

}  // namespace lumipage::testutil
