#include "pdf/PDFRepair.h"

#include <algorithm>
#include <unordered_set>

#include "pdf/PDFDocument.h"
#include "pdf/PDFLimits.h"
#include "pdf/PDFLexer.h"
#include "pdf/PDFStructure.h"

namespace lumipage {

namespace {

using pdflex::IsWhite;
using pdflex::SkipWhiteAndComments;
using pdflex::TokenStartsAt;

// Decimal value of text[begin, end); -1 when empty or too long for a number of that kind.
int64_t DigitsValue(std::string_view text, size_t begin, size_t end) {
  if (begin >= end || end - begin > 10) return -1;
  return pdflex::DigitsValue(text.substr(begin, end - begin));
}

}  // namespace

std::vector<TScannedObject> ScanObjectHeaders(std::string_view file) {
  std::vector<TScannedObject> found;
  for (size_t i = file.find("obj"); i != std::string_view::npos; i = file.find("obj", i + 3)) {
    // "obj" as a keyword: not the tail of "endobj", not the head of a longer word.
    if (i >= 3 && file.substr(i - 3, 3) == "end") continue;
    if (!pdflex::TokenEndsAt(file, i + 3)) continue;
    size_t p = i;
    if (p == 0 || !IsWhite(file[p - 1])) continue;
    const size_t genEnd = pdflex::WhiteRunStart(file, p);
    p = pdflex::DigitRunStart(file, genEnd);
    const int64_t generation = DigitsValue(file, p, genEnd);
    if (generation < 0 || p == 0 || !IsWhite(file[p - 1])) continue;
    const size_t numEnd = pdflex::WhiteRunStart(file, p);
    p = pdflex::DigitRunStart(file, numEnd);
    const int64_t number = DigitsValue(file, p, numEnd);
    if (number <= 0 || number > kMaxObjectNumber || generation > 65535) continue;
    if (!TokenStartsAt(file, p)) continue;
    found.push_back({static_cast<int32_t>(number), static_cast<int32_t>(generation), static_cast<int64_t>(p)});
  }
  return found;
}

std::vector<int64_t> ScanTrailers(std::string_view file) {
  std::vector<int64_t> found;
  for (size_t i = file.find("trailer"); i != std::string_view::npos; i = file.find("trailer", i + 7)) {
    if (!TokenStartsAt(file, i)) continue;
    found.push_back(static_cast<int64_t>(i));
  }
  return found;
}

bool ObjectHeaderAt(std::string_view file, int64_t offset, int32_t number, int32_t generation) {
  if (offset < 0 || static_cast<uint64_t>(offset) >= file.size()) return false;
  size_t p = static_cast<size_t>(offset);
  p = pdflex::SkipWhite(file, p);
  auto read = [&](int64_t& v) {
    const size_t b = p;
    p = pdflex::SkipDigits(file, p);
    v = DigitsValue(file, b, p);
    const size_t w = p;
    p = pdflex::SkipWhite(file, p);
    return v >= 0 && p > w;
  };
  int64_t n = 0;
  int64_t g = 0;
  if (!read(n) || !read(g) || n != number || g != generation) return false;
  return file.substr(p, 3) == "obj";
}

void WalkPageTree(TPDFDictionary* root, std::vector<TWalkedPage>& pages,
                  const std::function<TPDFIndRef*(TPDFObject*)>& makeIndirect) {
  pages.clear();
  // A page named as the root is no tree: it is not walked, and takes no /Count.
  if (root == nullptr || root->TypeName() == "Page") return;
  // Iterative depth-first walk; a node met twice (a loop, or a node shared by two parents) is
  // walked once.
  struct Frame {
    TPDFDictionary* Node;
    TPDFArray* Kids;
    int Next;
    size_t PagesBefore;
  };
  std::unordered_set<const TPDFDictionary*> nodes{root};
  std::vector<Frame> stack;
  auto kidsOf = [](TPDFDictionary* node) { return As<TPDFArray>(node->Get("Kids", true)); };
  auto setCount = [&](TPDFDictionary* node, size_t count) {
    auto* n = As<TPDFNumeric>(node->Get("Count"));
    if (n != nullptr && n->Value == static_cast<double>(count)) return;
    if (n != nullptr) {
      n->Value = static_cast<double>(count);
      n->ReadDecimals = -1;
    } else {
      node->Put("Count", node->Owner().MakeNumber(static_cast<double>(count)));
    }
  };
  stack.push_back({root, kidsOf(root), 0, 0});
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.Kids == nullptr || f.Next >= f.Kids->Count()) {
      setCount(f.Node, pages.size() - f.PagesBefore);
      stack.pop_back();
      continue;
    }
    const int index = f.Next++;
    auto* ref = As<TPDFIndRef>(f.Kids->Item(index));
    if (ref == nullptr && makeIndirect && As<TPDFDictionary>(f.Kids->Item(index)) != nullptr) {
      // Kids written in place: each becomes an object of its own, as every page must be one to
      // be found again and to take a /Parent.
      ref = makeIndirect(f.Kids->Item(index));
      if (ref != nullptr) f.Kids->SetItem(index, ref);
    }
    if (ref == nullptr) continue;
    auto* kid = As<TPDFDictionary>(ref->Resolve());
    if (kid == nullptr) {
      // A kid that is no dictionary (a missing object, say) goes when the tree may be mended:
      // its number could otherwise be given to a new object, which would then count twice.
      if (makeIndirect) {
        f.Kids->Delete(index);
        --f.Next;
      }
      continue;
    }
    const std::string type = kid->TypeName();
    TPDFArray* kids = kidsOf(kid);
    if (type == "Pages" || (kids != nullptr && type != "Page")) {
      if (static_cast<int>(stack.size()) >= kMaxPageTreeDepth) continue;
      if (!nodes.insert(kid).second) {
        // A node met before (a loop back up the tree, or a second parent): the link goes, so
        // that every reader walks the same tree that was counted.
        f.Kids->Delete(index);
        --f.Next;
        continue;
      }
      stack.push_back({kid, kids, 0, pages.size()});
    } else if (type == "Page" || type.empty()) {
      pages.push_back({kid, f.Node, ref->ObjectNumber(), ref->Generation()});
    }
  }
}

std::function<TPDFIndRef*(TPDFObject*)> DirectKidMaker(TPDFDocument& document) {
  // In a protected file a direct kid's strings were encrypted with its holder's key; moved into
  // an object of its own they would be read with the wrong one, so such kids stay unreadable.
  if (document.SecurityState() != TSecurityState::Unprotected) return {};
  return [&document](TPDFObject* kid) { return document.MakeIndirect(kid); };
}

int RebuildPageTree(TPDFDocument& document, TPDFDictionary* root) {
  if (root == nullptr) return 0;
  TPDFStructure& s = document.Structure();
  static constexpr const char* kInherited[] = {"Resources", "MediaBox", "CropBox", "Rotate"};
  TPDFArray* kids = s.MakeArray();
  std::vector<TPDFDictionary*> found;
  std::vector<const TPDFIndObj*> objects;
  for (size_t i = 0; i < document.ObjectCount(); ++i) objects.push_back(document.ObjectAt(i));
  std::sort(objects.begin(), objects.end(), [](const TPDFIndObj* a, const TPDFIndObj* b) { return a->Number < b->Number; });
  for (const TPDFIndObj* obj : objects) {
    auto* page = As<TPDFDictionary>(document.GetValue(const_cast<TPDFIndObj*>(obj)));
    if (page == nullptr || page->TypeName() != "Page") continue;
    // What the page inherited from its old ancestors moves into the page itself.
    TPDFDictionary* up = As<TPDFDictionary>(page->Get("Parent", true));
    for (int depth = 0; up != nullptr && up != page && depth < kMaxPageTreeDepth; ++depth) {
      for (const char* key : kInherited)
        if (page->Get(key) == nullptr && up->Get(key) != nullptr) page->Put(key, up->Get(key));
      up = As<TPDFDictionary>(up->Get("Parent", true));
    }
    if (root->IsIndirect()) page->Put("Parent", s.MakeReference(root->ObjectNumber(), root->Generation()));
    kids->Add(s.MakeReference(obj->Number, obj->Generation));
    found.push_back(page);
  }
  root->Put("Type", s.CommonName("Pages"));
  root->Put("Kids", kids);
  root->Put("Count", s.MakeNumber(static_cast<double>(found.size())));
  return static_cast<int>(found.size());
}

}  // namespace lumipage
