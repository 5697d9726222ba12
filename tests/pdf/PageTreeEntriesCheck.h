#pragma once
// What the quick page-tree reading is held to, shared by its table test and its fuzzer: a small
// file built around an object's text, and the comparison of the quick entries with the parser's
// dictionary.
#include <cstdio>
#include <map>
#include <string>

#include "pdf/PDFArray.h"
#include "pdf/PDFDictionary.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFIndObj.h"
#include "pdf/PDFIndRef.h"
#include "pdf/PDFNumeric.h"
#include "pdf/PDFPageTreeEntries.h"

namespace lumipage::testutil {

// A file of the given objects (number, text between "obj" and "endobj") with a classic table
// and object 1 as its catalog.
inline std::string MakeObjectsFile(const std::map<int, std::string>& objects) {
  std::string text = "%PDF-1.7\n";
  std::map<int, size_t> offsets;
  for (const auto& [number, body] : objects) {
    offsets[number] = text.size();
    text += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
  }
  const int max = objects.rbegin()->first;
  const size_t xref = text.size();
  text += "xref\n0 " + std::to_string(max + 1) + "\n0000000000 65535 f \n";
  char line[24];
  for (int i = 1; i <= max; ++i) {
    const auto it = offsets.find(i);
    std::snprintf(line, sizeof line, "%010zu 00000 %c \n", it == offsets.end() ? 0 : it->second,
                  it == offsets.end() ? 'f' : 'n');
    text += line;
  }
  text += "trailer\n<< /Size " + std::to_string(max + 1) + " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) +
          "\n%%EOF\n";
  return text;
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
