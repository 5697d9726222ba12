#include "pdf/PDFSaveCheck.h"

#include <fstream>
#include <string_view>
#include <algorithm>

#include "pdf/PDFArray.h"
#include "pdf/PDFDictionary.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFIndRef.h"
#include "pdf/PDFLimits.h"
#include "pdf/PDFName.h"
#include "pdf/PDFNumeric.h"
#include "pdf/PDFParser.h"
#include "pdf/PDFRepair.h"
#include "pdf/PDFStream.h"

namespace lumipage {

namespace {

// An image drawn by a new page is found at most this many forms deep (a page draws a form that
// draws the strips of a TIFF image).
constexpr int kMaxFormDepth = 4;

// The value behind value, decrypted first when it is an indirect object of a protected file.
TPDFObject* Open(TPDFDocument& doc, TPDFObject* value) {
  auto* ref = As<TPDFIndRef>(value);
  if (ref == nullptr) return value;
  TPDFIndObj* object = doc.FindIndirect(ref->ObjectNumber(), ref->Generation());
  if (object == nullptr) return nullptr;
  doc.DecryptObject(*object);
  return doc.GetValue(object);
}

// The resource names that content paints with "Do".
std::vector<std::string> PaintedNames(std::string_view content) {
  std::vector<std::string> names;
  std::string_view last;
  size_t p = 0;
  while (p < content.size()) {
    while (p < content.size() && TPDFParser::IsWhite(static_cast<unsigned char>(content[p]))) ++p;
    const size_t start = p;
    if (p < content.size() && content[p] == '/') ++p;
    while (p < content.size() && !TPDFParser::IsWhite(static_cast<unsigned char>(content[p])) &&
           !TPDFParser::IsDelimiter(static_cast<unsigned char>(content[p])))
      ++p;
    if (p == start) ++p;  // a delimiter of its own
    const std::string_view token = content.substr(start, p - start);
    if (token == "Do" && last.size() > 1 && last.front() == '/') names.emplace_back(last.substr(1));
    last = token;
  }
  return names;
}

// The decoded content of a page or form: its streams one after another.
std::string DecodedContent(TPDFDocument& doc, TPDFObject* contents) {
  std::string text;
  TPDFObject* value = Open(doc, contents);
  if (auto* stream = As<TPDFStream>(value)) return stream->Decode();
  if (auto* list = As<TPDFArray>(value)) {
    for (int i = 0; i < list->Count(); ++i)
      if (auto* stream = As<TPDFStream>(Open(doc, list->Item(i)))) text += stream->Decode() + '\n';
  }
  return text;
}

double Number(TPDFDocument& doc, TPDFObject* value) {
  const auto* n = As<TPDFNumeric>(Open(doc, value));
  return n != nullptr ? n->Value : -1;
}

// Adds up the images that content painted with resources draws, directly or through forms: the
// widest width and the heights of the strips together. False when it paints no image at all.
bool PaintedImages(TPDFDocument& doc, TPDFObject* resources, const std::string& content, int depth, double& width,
                   double& height) {
  auto* dict = As<TPDFDictionary>(Open(doc, resources));
  auto* xobjects = dict != nullptr ? As<TPDFDictionary>(Open(doc, dict->Get("XObject"))) : nullptr;
  if (xobjects == nullptr) return false;
  bool found = false;
  for (const std::string& name : PaintedNames(content)) {
    auto* stream = As<TPDFStream>(Open(doc, xobjects->Get(name)));
    if (stream == nullptr || stream->RawData().empty()) continue;
    const TPDFDictionary* dict = stream->Dictionary();
    const std::string subtype = dict->GetText("Subtype");
    if (subtype == "Image") {
      const double w = Number(doc, dict->Get("Width"));
      const double h = Number(doc, dict->Get("Height"));
      if (w <= 0 || h <= 0) continue;
      found = true;
      width = std::max(width, w);
      height += h;
    } else if (subtype == "Form" && depth < kMaxFormDepth) {
      found |= PaintedImages(doc, dict->Get("Resources"), DecodedContent(doc, stream), depth + 1, width, height);
    }
  }
  return found;
}

// The page's media box, its own or the nearest ancestor's: an array of four numbers.
bool HasMediaBox(TPDFDocument& doc, TPDFDictionary* page) {
  TPDFDictionary* node = page;
  for (int depth = 0; node != nullptr && depth <= kMaxPageTreeDepth; ++depth) {
    if (TPDFObject* box = node->Get("MediaBox")) {
      const auto* array = As<TPDFArray>(Open(doc, box));
      if (array == nullptr || array->Count() != 4) return false;
      for (int i = 0; i < 4; ++i)
        if (As<TPDFNumeric>(Open(doc, array->Item(i))) == nullptr) return false;
      return true;
    }
    node = As<TPDFDictionary>(Open(doc, node->Get("Parent")));
  }
  return false;
}

// The /Count the file gives its page tree's root, read from the root's own text: loading has
// already set the value in memory to the pages it found. -1 when it cannot be read.
double WrittenRootCount(TPDFDocument& doc) {
  auto* ref = As<TPDFIndRef>(doc.Catalog()->Get("Pages"));
  if (ref == nullptr) return -1;
  TPDFIndObj* object = doc.FindIndirect(ref->ObjectNumber(), ref->Generation());
  if (object == nullptr) return -1;
  const std::string text = object->RawText();
  const size_t obj = text.find("obj");
  if (obj == std::string::npos) return -1;
  auto* root = As<TPDFDictionary>(doc.Structure().Parse(std::string_view(text).substr(obj + 3)));
  const auto* count = root != nullptr ? As<TPDFNumeric>(root->Get("Count")) : nullptr;
  return count != nullptr ? count->Value : -1;
}

std::string PagesText(double n) {
  return std::to_string(static_cast<long long>(n)) + (n == 1 ? " page" : " pages");
}

std::string Check(TPDFDocument& doc, std::string bytes, const TSavedPdfExpectation& expected) {
  // A file just written reads as it was written or not at all: repairing it would prove
  // nothing.
  doc.AllowRepair = false;
  if (!doc.LoadFromString(std::move(bytes))) return "it cannot be read as a PDF file";
  if (doc.SecurityState() != 0) {
    const int opened = doc.SetPassword(expected.Password);
    if (opened != 1 && opened != 2 && opened != 5) return "it does not open with the password";
  } else if (expected.Protected) {
    return "it is not protected";
  }

  const double written = WrittenRootCount(doc);
  std::vector<TWalkedPage> pages;
  WalkPageTree(doc.PagesDictionary(), pages);
  const int count = static_cast<int>(pages.size());
  if (count != expected.PageCount)
    return "it has " + PagesText(count) + " instead of " + std::to_string(expected.PageCount);
  if (written < 0) return "its page tree gives no page count";
  if (written != count)
    return "its page tree gives " + PagesText(written) + " where it holds " + std::to_string(count);

  for (int i = 0; i < count; ++i)
    if (!HasMediaBox(doc, pages[static_cast<size_t>(i)].Page)) return "page " + std::to_string(i + 1) + " has no media box";

  const int first = count - static_cast<int>(expected.NewPageImages.size());
  for (int i = std::max(first, 0); i < count; ++i) {
    const auto [w, h] = expected.NewPageImages[static_cast<size_t>(i - first)];
    TPDFDictionary* page = pages[static_cast<size_t>(i)].Page;
    double width = 0, height = 0;
    const std::string number = std::to_string(i + 1);
    if (!PaintedImages(doc, page->Get("Resources"), DecodedContent(doc, page->Get("Contents")), 0, width, height))
      return "page " + number + " shows no image";
    if ((w > 0 || h > 0) && (width != w || height != h))
      return "page " + number + " shows an image of " + std::to_string(static_cast<long long>(width)) + " x " +
             std::to_string(static_cast<long long>(height)) + " pixels instead of " + std::to_string(w) + " x " +
             std::to_string(h);
  }
  return {};
}

}  // namespace

std::string CheckSavedPdfBytes(std::string bytes, const TSavedPdfExpectation& expected) {
  try {
    TPDFDocument doc;
    return Check(doc, std::move(bytes), expected);
  } catch (const std::bad_alloc&) {
    return "there is not enough memory to read it back";
  } catch (...) {
    return "it cannot be read as a PDF file";
  }
}

std::string CheckSavedPdf(const std::string& fileName, const TSavedPdfExpectation& expected) {
  std::string bytes;
  try {
    std::ifstream in(fileName, std::ios::binary | std::ios::ate);
    if (!in) return "it cannot be opened";
    const std::streamoff size = in.tellg();
    if (size < 0) return "it cannot be read";
    bytes.resize(static_cast<size_t>(size));
    in.seekg(0);
    if (!in.read(bytes.data(), size)) return "it cannot be read";
  } catch (const std::bad_alloc&) {
    return "there is not enough memory to read it back";
  }
  return CheckSavedPdfBytes(std::move(bytes), expected);
}

}  // namespace lumipage
