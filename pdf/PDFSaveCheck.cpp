#include "pdf/PDFSaveCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "pdf/PDFArchive.h"
#include "pdf/PDFArray.h"
#include "pdf/PDFDictionary.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFDocumentSecurity.h"
#include "pdf/PDFIndRef.h"
#include "pdf/PDFLimits.h"
#include "pdf/PDFLoader.h"
#include "pdf/PDFName.h"
#include "pdf/PDFPageTreeEntries.h"
#include "pdf/PDFNumeric.h"
#include "pdf/PDFLexer.h"
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
    p = pdflex::SkipWhite(content, p);
    const size_t start = p;
    if (p < content.size() && content[p] == '/') ++p;
    p = pdflex::SkipWord(content, p);
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

// Empty when page (number) paints an image of the size given (0 x 0: any); else what it shows.
std::string NewPageFailure(TPDFDocument& doc, TPDFDictionary* page, int number, std::pair<int32_t, int32_t> size) {
  const auto [w, h] = size;
  double width = 0, height = 0;
  const std::string n = std::to_string(number);
  if (!PaintedImages(doc, page->Get("Resources"), DecodedContent(doc, page->Get("Contents")), 0, width, height))
    return "page " + n + " shows no image";
  if ((w > 0 || h > 0) && (width != w || height != h))
    return "page " + n + " shows an image of " + std::to_string(static_cast<long long>(width)) + " x " +
           std::to_string(static_cast<long long>(height)) + " pixels instead of " + std::to_string(w) + " x " +
           std::to_string(h);
  return {};
}

// A media box as the page (or node) gives it: an array of four numbers.
bool ValidMediaBox(TPDFDocument& doc, TPDFObject* box) {
  const auto* array = As<TPDFArray>(Open(doc, box));
  if (array == nullptr || array->Count() != 4) return false;
  for (int i = 0; i < 4; ++i)
    if (As<TPDFNumeric>(Open(doc, array->Item(i))) == nullptr) return false;
  return true;
}

// The page's media box, its own or the nearest ancestor's: an array of four numbers.
bool HasMediaBox(TPDFDocument& doc, TPDFDictionary* page) {
  TPDFDictionary* node = page;
  for (int depth = 0; node != nullptr && depth <= kMaxPageTreeDepth; ++depth) {
    if (TPDFObject* box = node->Get("MediaBox")) return ValidMediaBox(doc, box);
    node = As<TPDFDictionary>(Open(doc, node->Get("Parent")));
  }
  return false;
}

bool MayLackMediaBox(const TSavedPdfExpectation& expected, int page) {
  return std::binary_search(expected.PagesWithoutMediaBox.begin(), expected.PagesWithoutMediaBox.end(), page);
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

// Empty when the file is protected as expected and opens with the password; else what failed.
std::string OpenFailure(TPDFDocument& doc, const TSavedPdfExpectation& expected) {
  if (doc.SecurityState() != TSecurityState::Unprotected) {
    if (!Opens(TPDFDocumentSecurity(doc).SetPassword(expected.Password))) return "it does not open with the password";
  } else if (expected.Protected) {
    return "it is not protected";
  }
  return {};
}

// The reading every loader does: the file loaded as for an append (its page tree walked on
// loading), then walked again and every page's media box looked up through the parsed values.
// It names what failed.
std::string CheckInFull(TPDFDocument& doc, std::string bytes, const TSavedPdfExpectation& expected) {
  // A file just written reads as it was written or not at all: repairing it would prove
  // nothing.
  doc.AllowRepair = false;
  if (!LoadFromString(doc, std::move(bytes))) return "it cannot be read as a PDF file";
  if (std::string failure = OpenFailure(doc, expected); !failure.empty()) return failure;

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
    if (!HasMediaBox(doc, pages[static_cast<size_t>(i)].Page) && !MayLackMediaBox(expected, i + 1))
      return "page " + std::to_string(i + 1) + " has no media box";

  const int first = count - static_cast<int>(expected.NewPageImages.size());
  for (int i = std::max(first, 0); i < count; ++i) {
    std::string failure = NewPageFailure(doc, pages[static_cast<size_t>(i)].Page, i + 1,
                                         expected.NewPageImages[static_cast<size_t>(i - first)]);
    if (!failure.empty()) return failure;
  }
  return {};
}

// The quick reading: the file loaded without walking its page tree, the tree then walked on
// the entries each node and page gives in its text (ReadPageTreeEntries), parsing in full only
// objects whose text is not plain and the new pages, whose images are looked up. It only ever
// says that all holds, and says so exactly where the full reading would: whatever it cannot
// read plainly or finds amiss (a kid that is no dictionary, a node met twice, a count or a
// media box not as it should be) leaves the verdict, and the words for it, to the full reading.
class TQuickCheck {
 public:
  explicit TQuickCheck(TPDFDocument& doc) : doc_(doc) {}

  [[nodiscard]] bool Passes(const TSavedPdfExpectation& expected) {
    if (!OpenFailure(doc_, expected).empty()) return false;
    const auto* rootRef = As<TPDFIndRef>(doc_.Catalog()->Get("Pages"));
    if (rootRef == nullptr) return false;
    const TPageTreeEntries* root = Node(rootRef->ObjectNumber(), rootRef->Generation());
    // A page named as the root is no tree.
    if (root == nullptr || root->Type == "Page") return false;

    // The walk of WalkPageTree, on a tree it would neither mend nor cut short.
    struct Frame {
      const std::vector<std::pair<int32_t, int32_t>>* Kids;
      size_t Next;
    };
    std::vector<Frame> stack{{&root->Kids, 0}};
    std::unordered_set<int64_t> walked{Key(rootRef->ObjectNumber(), rootRef->Generation())};
    std::vector<std::pair<int32_t, int32_t>> pages;
    TPageTreeEntries scratch;
    while (!stack.empty()) {
      Frame& f = stack.back();
      if (f.Next >= f.Kids->size()) {
        stack.pop_back();
        continue;
      }
      const auto [n, g] = (*f.Kids)[f.Next++];
      const TPageTreeEntries* kid = Cached(n, g);
      if (kid == nullptr) {
        if (!Read(n, g, scratch)) return false;
        kid = &scratch;
      }
      if (kid->Type == "Pages" || (kid->HasKids && kid->Type != "Page")) {
        if (stack.size() >= static_cast<size_t>(kMaxPageTreeDepth) || !walked.insert(Key(n, g)).second) return false;
        if (kid == &scratch) kid = &(nodes_[Key(n, g)] = std::move(scratch));
        stack.push_back({&kid->Kids, 0});
      } else if (kid->Type == "Page" || kid->Type.empty()) {
        pages.emplace_back(n, g);
        if (!MediaBoxFound(*kid) && !MayLackMediaBox(expected, static_cast<int>(pages.size()))) return false;
      } else {
        return false;
      }
    }
    const auto count = static_cast<int64_t>(pages.size());
    if (count == 0 || count != expected.PageCount || !root->HasCount || root->Count != count) return false;

    const int64_t first = count - static_cast<int64_t>(expected.NewPageImages.size());
    for (int64_t i = std::max<int64_t>(first, 0); i < count; ++i) {
      const auto [n, g] = pages[static_cast<size_t>(i)];
      auto* page = As<TPDFDictionary>(doc_.GetValue(doc_.FindIndirect(n, g)));
      if (page == nullptr || !NewPageFailure(doc_, page, static_cast<int>(i + 1),
                                             expected.NewPageImages[static_cast<size_t>(i - first)])
                                  .empty())
        return false;
    }
    return true;
  }

 private:
  static int64_t Key(int32_t number, int32_t generation) {
    return static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(number)) << 32 | static_cast<uint32_t>(generation));
  }

  const TPageTreeEntries* Cached(int32_t number, int32_t generation) const {
    const auto it = nodes_.find(Key(number, generation));
    return it == nodes_.end() ? nullptr : &it->second;
  }

  // A node's entries, read once: nodes are met again as the parents of their pages.
  const TPageTreeEntries* Node(int32_t number, int32_t generation) {
    if (const TPageTreeEntries* cached = Cached(number, generation)) return cached;
    TPageTreeEntries entries;
    if (!Read(number, generation, entries)) return nullptr;
    return &(nodes_[Key(number, generation)] = std::move(entries));
  }

  // The object's entries from its text, or from its parsed value when the text is not plain.
  // False when it is no dictionary or an entry is not of the kind the walk takes.
  bool Read(int32_t number, int32_t generation, TPageTreeEntries& entries) {
    TPDFIndObj* object = doc_.FindIndirect(number, generation);
    if (object == nullptr) return false;
    const std::string& file = doc_.FileText();
    if (!object->Parsed && !object->InObjectStream && !object->TextCached && object->Offset > 0 &&
        object->Length > 0 && static_cast<size_t>(object->Offset) < file.size()) {
      const std::string_view text = std::string_view(file).substr(static_cast<size_t>(object->Offset),
                                                                  static_cast<size_t>(object->Length));
      if (ReadPageTreeEntries(text, number, generation, entries)) return true;
    }
    entries = TPageTreeEntries{};
    auto* dict = As<TPDFDictionary>(doc_.GetValue(object));
    if (dict == nullptr) return false;
    entries.Type = dict->TypeName();
    if (auto* kids = As<TPDFArray>(dict->Get("Kids", true))) {
      entries.HasKids = true;
      for (int i = 0; i < kids->Count(); ++i) {
        auto* ref = As<TPDFIndRef>(kids->Item(i));
        if (ref == nullptr) return false;
        entries.Kids.emplace_back(ref->ObjectNumber(), ref->Generation());
      }
    }
    if (const auto* count = As<TPDFNumeric>(dict->Get("Count"))) {
      entries.HasCount = count->Value >= 0 && count->Value <= INT32_MAX && count->Value == std::trunc(count->Value);
      entries.Count = static_cast<int64_t>(count->Value);
    }
    if (TPDFObject* parent = dict->Get("Parent")) {
      auto* ref = As<TPDFIndRef>(parent);
      if (ref == nullptr) return false;
      entries.HasParent = true;
      entries.ParentNumber = ref->ObjectNumber();
      entries.ParentGeneration = ref->Generation();
    }
    if (TPDFObject* box = dict->Get("MediaBox")) {
      if (!ValidMediaBox(doc_, box)) return false;
      entries.HasMediaBox = true;
    }
    return true;
  }

  // HasMediaBox on the entries: the page's own box or the nearest ancestor's.
  bool MediaBoxFound(const TPageTreeEntries& page) {
    const TPageTreeEntries* node = &page;
    for (int depth = 0; depth <= kMaxPageTreeDepth; ++depth) {
      if (node->HasMediaBox) return true;
      if (!node->HasParent || depth == kMaxPageTreeDepth) return false;
      node = Node(node->ParentNumber, node->ParentGeneration);
      if (node == nullptr) return false;
    }
    return false;
  }

  TPDFDocument& doc_;
  std::unordered_map<int64_t, TPageTreeEntries> nodes_;
};

}  // namespace

bool PageHasMediaBox(TPDFDocument& doc, TPDFDictionary* page) { return HasMediaBox(doc, page); }

std::string CheckSavedPdfBytes(std::string bytes, const TSavedPdfExpectation& expected) {
  try {
    std::string kept;
    {
      TPDFDocument doc;
      // A file just written reads as it was written or not at all: repairing it would prove
      // nothing.
      doc.AllowRepair = false;
      doc.WalkPagesOnLoad = false;
      // Loading up to the page tree is the same either way: a file that fails here fails both.
      if (!LoadFromString(doc, std::move(bytes))) return "it cannot be read as a PDF file";
      try {
        if (TQuickCheck(doc).Passes(expected)) return expected.Pdfa ? PdfaFailure(doc) : std::string();
      } catch (const std::bad_alloc&) {
        throw;
      } catch (...) {
      }
      kept = doc.FileText();
    }
    TPDFDocument doc;
    std::string failure = CheckInFull(doc, std::move(kept), expected);
    if (failure.empty() && expected.Pdfa) failure = PdfaFailure(doc);
    return failure;
  } catch (const std::bad_alloc&) {
    return "there is not enough memory to read it back";
  } catch (...) {
    return "it cannot be read as a PDF file";
  }
}

std::string CheckSavedPdf(const std::string& fileName, const TSavedPdfExpectation& expected) {
  // The file as it stands on disk, in one read: not the bytes the save meant to write.
  std::string bytes;
  try {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "it cannot be opened";
    struct stat st {};
    bool read = ::fstat(fd, &st) == 0 && st.st_size >= 0;
    if (read) {
      bytes.resize(static_cast<size_t>(st.st_size));
      size_t done = 0;
      while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      // A file that changed size under the read is not the file that was written.
      char extra = 0;
      read = done == bytes.size() && ::read(fd, &extra, 1) == 0;
    }
    ::close(fd);
    if (!read) return "it cannot be read";
  } catch (const std::bad_alloc&) {
    return "there is not enough memory to read it back";
  }
  return CheckSavedPdfBytes(std::move(bytes), expected);
}

}  // namespace lumipage
