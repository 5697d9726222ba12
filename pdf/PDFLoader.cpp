#include "pdf/PDFLoader.h"

#include <algorithm>
#include <cmath>
#include <istream>
#include <iterator>
#include <string_view>
#include <utility>

#include "pdf/PDFDocument.h"
#include "pdf/PDFLimits.h"
#include "pdf/PDFNumberText.h"
#include "pdf/PDFLexer.h"
#include "pdf/PDFObjectStreams.h"
#include "pdf/PDFParser.h"
#include "pdf/PDFRepair.h"
#include "pdf/PDFXRefReader.h"

namespace lumipage {

namespace {

// A text without a header starts as the body of a PDF does: after leading whitespace, the
// comment line of binary bytes that follows a header, or the first object's "n g obj".
bool StartsLikeABody(std::string_view text) {
  size_t p = pdflex::SkipWhite(text, 0);
  if (p < text.size() && text[p] == '%') return true;
  for (int part = 0; part < 2; ++part) {
    const size_t digits = p;
    p = pdflex::SkipDigits(text, p);
    if (p == digits || p >= text.size() || !pdflex::IsWhite(text[p])) return false;
    p = pdflex::SkipWhite(text, p);
  }
  return text.substr(p, 3) == "obj";
}

// Positions of a keyword standing at the start of a line (or of the file).
void KeywordsAtLineStart(std::string_view file, std::string_view keyword, std::vector<int32_t>& out) {
  for (size_t i = file.find(keyword); i != std::string_view::npos; i = file.find(keyword, i + keyword.size())) {
    if (i > 0 && file[i - 1] != '\n' && file[i - 1] != '\r') continue;
    if (i <= INT32_MAX) out.push_back(static_cast<int32_t>(i));
  }
}

}  // namespace

bool LoadFromStream(TPDFDocument& document, std::istream& in, TLoadResult* result) {
  std::string bytes;
  try {
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (...) {
    document.Reset();
    if (result != nullptr) *result = TLoadResult::ReadFailed;
    return false;
  }
  return LoadFromString(document, std::move(bytes), result);
}

bool LoadFromString(TPDFDocument& document, std::string bytes, TLoadResult* result) {
  TLoadResult read = TLoadResult::ReadFailed;
  try {
    document.TakeFileText(std::move(bytes));
    read = TLoadResult::Loaded;
  } catch (...) {
    document.Reset();
  }
  TPDFLoader loader(document);
  if (read == TLoadResult::Loaded) read = loader.Read();
  const TLoadResult done = loader.Finish(read);
  if (result != nullptr) *result = done;
  return done == TLoadResult::Loaded;
}

TPDFLoader::TPDFLoader(TPDFDocument& document) : document_(document), file_(document.File()) {}

TLoadResult TPDFLoader::Finish(TLoadResult read) {
  try {
    (void)document_.ApplyPassword("");
  } catch (...) {
  }
  if (read != TLoadResult::Loaded) return read;
  TLoadResult result = read;
  try {
    if (!CheckPages()) result = TLoadResult::NoPages;
  } catch (...) {
    result = TLoadResult::ReadFailed;
  }
  if (result != TLoadResult::Loaded) document_.Reset();
  return result;
}

TLoadResult TPDFLoader::Read() {
  TLoadResult result = TLoadResult::ReadFailed;
  try {
    result = Open();
  } catch (...) {
    result = TLoadResult::ReadFailed;
  }
  if (result != TLoadResult::Loaded) document_.Reset();
  return result;
}

void TPDFLoader::Publish() { document_.TakeFile(file_); }

bool TPDFLoader::HasCatalog() { return As<TPDFDictionary>(document_.Trailer()->Get("Root", true)) != nullptr; }

TLoadResult TPDFLoader::Open() {
  const bool header = ReadHeader();
  if (!header) {
    // A file that lost its header line still reads, as readers take it, when what is left
    // starts as a PDF's body does and its catalog is found; anything else is no PDF at all.
    if (!document_.AllowRepair || !StartsLikeABody(document_.FileText())) return TLoadResult::NoHeader;
    file_.Version = "1.4";
  }
  // The cross-reference data as the file names it; then, for a file with junk before its
  // header, with offsets counted from the header; then rebuilt by scanning the file.
  bool ok = ReadCrossReference(0) && EntriesValid();
  if (!ok && headerOffset_ > 0) ok = ReadCrossReference(headerOffset_) && EntriesValid();
  if (!ok || !HasCatalog()) {
    if (!document_.AllowRepair) return ok ? TLoadResult::NoCatalog : TLoadResult::BrokenCrossReference;
    RepairObjectTable();
  }
  if (!HasCatalog()) return header ? TLoadResult::NoCatalog : TLoadResult::NoHeader;
  CheckLinearized();
  Publish();
  // A catalog written into the trailer itself is read, and saved as an object of its own:
  // readers look for the catalog through a reference only, and find no page of a file without.
  if (auto* root = As<TPDFDictionary>(document_.Trailer()->Get("Root")); root != nullptr && !root->IsIndirect())
    document_.Trailer()->Put("Root", document_.MakeIndirect(root));
  return TLoadResult::Loaded;
}

bool TPDFLoader::ReadHeader() {
  const std::string_view head = std::string_view(document_.FileText()).substr(0, 1024);
  auto versionAfter = [&](size_t at, std::string& version) {
    if (at >= head.size()) return false;
    const std::string_view run = head.substr(at, 10);
    size_t k = 0;
    while (k < run.size() && (pdflex::IsDigit(run[k]) || run[k] == '.')) ++k;
    version = std::string(run.substr(0, k));
    return IsNumber(version);
  };
  std::string version;
  bool found = false;
  const size_t ps = head.find("%!PS-Adobe-");
  if (ps != std::string_view::npos) {
    const size_t pdf = head.substr(ps + 11, 20).find("PDF-");
    if (pdf != std::string_view::npos) found = versionAfter(ps + 11 + pdf + 4, version);
  }
  if (!found) {
    const size_t pdf = head.find("%PDF-");
    if (pdf != std::string_view::npos) found = versionAfter(pdf + 5, version);
    if (found) headerOffset_ = static_cast<int64_t>(pdf);
  }
  if (!found) return false;
  file_.Version = version;
  return true;
}

bool TPDFLoader::ReadCrossReference(int64_t base) {
  // A second attempt starts afresh.
  file_.SectionOffsets.clear();
  file_.Trailer = document_.Structure().MakeDictionary();
  Publish();
  document_.ReleaseObjectStreamCache();
  TPDFXRefReader reader(document_.FileText());
  reader.Base = base;
  std::vector<XRefEntry> entries;
  // Sections are read newest first: the first registration of a number wins.
  std::vector<bool> seen;
  reader.OnEntry = [&](int64_t number, int64_t value1, char kind, int64_t value2) {
    if (kind != 'n' && kind != 'c') return;
    if (number < 0 || number > kMaxObjectNumber) return;
    // An in-use entry at offset 0 is how some writers mark a deleted object.
    if (kind == 'n' && value1 <= base) return;
    const auto n = static_cast<size_t>(number);
    if (n >= seen.size()) seen.resize(std::max(n + 1, seen.size() * 2));
    if (seen[n]) return;
    seen[n] = true;
    XRefEntry e;
    e.Number = static_cast<int32_t>(n);
    e.Value1 = static_cast<int32_t>(std::clamp<int64_t>(value1, 0, INT32_MAX));
    e.Compressed = kind == 'c';
    e.Value2 = static_cast<int32_t>(e.Compressed ? std::clamp<int64_t>(value2, 0, INT32_MAX)
                                                 : std::clamp<int64_t>(value2, -1, 65535));
    entries.push_back(e);
  };
  reader.OnTrailer = [this](const std::string& text) { TakeTrailer(text); };
  reader.OnSection = [this](int64_t offset) {
    if (offset >= 0 && offset <= INT32_MAX) file_.SectionOffsets.push_back(static_cast<int32_t>(offset));
  };
  trailerTaken_ = false;
  const bool ok = reader.ReadSection(reader.FindStartXRef());
  BuildObjectTable(entries);
  return ok && trailerTaken_;
}

bool TPDFLoader::EntriesValid() {
  for (size_t i = 0; i < document_.ObjectCount(); ++i) {
    const TPDFIndObj* obj = document_.ObjectAt(i);
    if (obj->InObjectStream) {
      if (document_.FindIndirect(obj->StreamNumber, 0) == nullptr) return false;
    } else if (!ObjectHeaderAt(document_.FileText(), obj->Offset, obj->Number, obj->Generation)) {
      return false;
    }
  }
  return true;
}

void TPDFLoader::TakeTrailer(const std::string& text) {
  if (trailerTaken_) return;
  auto* dict = As<TPDFDictionary>(document_.Structure().Parse(text));
  if (dict == nullptr) return;
  // Keys describing the old file's cross-reference data would not fit the saved file.
  for (const char* key : {"Prev", "Type", "W", "Index", "Length", "Filter", "XRefStm", "DecodeParms"})
    dict->Delete(key);
  file_.Trailer = dict;
  Publish();
  trailerTaken_ = true;
}

void TPDFLoader::BuildObjectTable(const std::vector<XRefEntry>& entries) {
  // An object's text runs up to the next object or cross-reference section in the file.
  struct Item {
    int32_t key;
    int32_t tag;  // index into entries; -1 for a section
  };
  std::vector<Item> items;
  items.reserve(file_.SectionOffsets.size() + entries.size());
  for (int32_t offset : file_.SectionOffsets) items.push_back({offset, -1});
  for (size_t i = 0; i < entries.size(); ++i)
    items.push_back({entries[i].Compressed ? 0 : entries[i].Value1, static_cast<int32_t>(i)});
  std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.key < b.key; });
  std::vector<std::unique_ptr<TPDFIndObj>> objects;
  objects.reserve(entries.size());
  const auto fileLength = static_cast<int64_t>(document_.FileText().size());
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].tag < 0) continue;
    const XRefEntry& e = entries[static_cast<size_t>(items[i].tag)];
    if (!e.Compressed && e.Value2 < 0) continue;
    const int64_t next = i + 1 < items.size() ? items[i + 1].key : fileLength;
    auto obj = std::make_unique<TPDFIndObj>(document_);
    obj->Number = e.Number;
    if (e.Compressed) {
      obj->InObjectStream = true;
      obj->StreamNumber = e.Value1;
      obj->StreamIndex = e.Value2;
      obj->Length = static_cast<int32_t>(std::clamp<int64_t>(next, 0, INT32_MAX));
    } else {
      obj->Generation = e.Value2;
      obj->Offset = e.Value1;
      obj->Length = static_cast<int32_t>(std::clamp<int64_t>(next - e.Value1, 0, INT32_MAX));
    }
    objects.push_back(std::move(obj));
  }
  document_.TakeObjects(std::move(objects));
}

void TPDFLoader::CheckLinearized() {
  file_.Linearized = false;
  const std::string_view head = std::string_view(document_.FileText()).substr(0, 1024);
  if (head.find("/Linearized") == std::string_view::npos) return;
  const size_t obj = head.find(" obj");
  if (obj == std::string_view::npos) return;
  // The two digit runs before the first " obj": number and generation.
  size_t p = obj;
  int32_t values[2] = {0, 0};
  for (int k = 1; k >= 0; --k) {
    while (p > 0 && !pdflex::IsDigit(head[p - 1])) --p;
    const size_t end = p;
    p = pdflex::DigitRunStart(head, p);
    values[k] = DigitRunToInt(head.substr(p, end - p));
  }
  auto* dict = As<TPDFDictionary>(document_.GetValue(document_.FindIndirect(values[0], values[1])));
  if (dict == nullptr || dict->Get("Linearized") == nullptr) return;
  file_.Linearized = true;
  dict->Clear();  // a saved copy no longer claims to be linearized
}

void TPDFLoader::RepairObjectTable() {
  file_.Repaired = true;
  const std::string_view file(document_.FileText());
  // Objects end where the next one starts, or at a table or trailer between them.
  file_.SectionOffsets.clear();
  KeywordsAtLineStart(file, "xref", file_.SectionOffsets);
  KeywordsAtLineStart(file, "trailer", file_.SectionOffsets);
  KeywordsAtLineStart(file, "startxref", file_.SectionOffsets);

  // Every header, the last definition of a number winning; positions decide between direct
  // objects and those of object streams alike.
  struct Candidate {
    XRefEntry Entry;
    int64_t Position = -1;
  };
  std::vector<Candidate> best;
  auto offer = [&](const XRefEntry& e, int64_t position) {
    if (e.Number <= 0 || e.Number > kMaxObjectNumber) return;
    const auto n = static_cast<size_t>(e.Number);
    if (n >= best.size()) best.resize(n + 1);
    if (position >= best[n].Position) best[n] = {e, position};
  };
  for (const TScannedObject& h : ScanObjectHeaders(file)) {
    if (h.Offset > INT32_MAX) break;
    offer({h.Number, static_cast<int32_t>(h.Offset), h.Generation, false}, h.Offset);
  }
  auto collect = [&]() {
    std::vector<XRefEntry> entries;
    for (const Candidate& c : best)
      if (c.Position >= 0) entries.push_back(c.Entry);
    return entries;
  };
  document_.ReleaseObjectStreamCache();
  BuildObjectTable(collect());

  // Objects in object streams (their data cannot be read before a password opens a protected
  // file; such objects are then only those found directly).
  std::vector<std::pair<int32_t, int64_t>> streams;
  for (size_t i = 0; i < document_.ObjectCount(); ++i) {
    const TPDFIndObj* obj = document_.ObjectAt(i);
    if (obj->InObjectStream || obj->Offset <= 0) continue;
    const std::string_view raw = file.substr(static_cast<size_t>(obj->Offset), static_cast<size_t>(obj->Length));
    const size_t s = raw.find("stream");
    if (raw.substr(0, s).find("/ObjStm") != std::string_view::npos) streams.emplace_back(obj->Number, obj->Offset);
  }
  std::vector<double> header;
  for (const auto& [number, position] : streams) {
    TPDFIndObj* holder = document_.FindIndirect(number, best[static_cast<size_t>(number)].Entry.Value2);
    auto* stream = As<TPDFStream>(document_.GetValue(holder));
    if (stream == nullptr || stream->Dictionary()->TypeName() != "ObjStm") continue;
    const int32_t first = stream->Dictionary()->GetInteger("First", 0);
    const int32_t count = stream->Dictionary()->GetInteger("N", 0);
    if (first <= 0 || count <= 0) continue;
    if (!ParseObjectStreamHeader(stream->Decode(), first, header)) continue;
    for (int i = 0; i < count && static_cast<size_t>(2 * i + 1) < header.size(); ++i) {
      const double n = header[2 * static_cast<size_t>(i)];
      if (n != std::trunc(n)) continue;  // no number, or not a whole one
      // Just after the stream's own header: a later direct definition still wins.
      offer({NumberToInt(n), number, i, true}, position + 1);
    }
  }
  if (!streams.empty()) {
    document_.ReleaseObjectStreamCache();
    BuildObjectTable(collect());
  }

  // The trailer: the one read from the cross-reference data when it names a catalog; else the
  // last trailer dictionary, then the last cross-reference stream, that does; else a catalog
  // object found in the file.
  if (trailerTaken_ && HasCatalog()) return;
  TPDFDictionary* previous = file_.Trailer;
  auto tryTrailer = [&](const std::string& text) {
    trailerTaken_ = false;
    TakeTrailer(text);
    if (trailerTaken_ && HasCatalog()) return true;
    file_.Trailer = previous;
    Publish();
    return false;
  };
  const std::vector<int64_t> trailers = ScanTrailers(file);
  for (auto it = trailers.rbegin(); it != trailers.rend(); ++it) {
    TPDFStructure scratch;
    auto* dict = As<TPDFDictionary>(scratch.Parse(file.substr(static_cast<size_t>(*it) + 7)));
    if (dict != nullptr && dict->Get("Root") != nullptr && tryTrailer(dict->ToText())) return;
  }
  std::vector<TPDFIndObj*> byOffset;
  for (size_t i = 0; i < document_.ObjectCount(); ++i)
    if (TPDFIndObj* obj = document_.ObjectAt(i); !obj->InObjectStream) byOffset.push_back(obj);
  std::sort(byOffset.begin(), byOffset.end(), [](const TPDFIndObj* a, const TPDFIndObj* b) { return a->Offset > b->Offset; });
  for (TPDFIndObj* obj : byOffset) {
    const std::string_view raw = file.substr(static_cast<size_t>(obj->Offset), static_cast<size_t>(obj->Length));
    if (raw.substr(0, raw.find("stream")).find("/XRef") == std::string_view::npos) continue;
    auto* stream = As<TPDFStream>(document_.GetValue(obj));
    if (stream != nullptr && stream->Dictionary()->TypeName() == "XRef" && stream->Dictionary()->Get("Root") != nullptr &&
        tryTrailer(stream->Dictionary()->ToText()))
      return;
  }
  for (TPDFIndObj* obj : byOffset) {
    const std::string_view raw = file.substr(static_cast<size_t>(obj->Offset), static_cast<size_t>(obj->Length));
    if (raw.find("/Catalog") == std::string_view::npos) continue;
    auto* dict = As<TPDFDictionary>(document_.GetValue(obj));
    if (dict == nullptr || dict->TypeName() != "Catalog") continue;
    if (!trailerTaken_) {
      file_.Trailer = document_.Structure().MakeDictionary();
      Publish();
    }
    trailerTaken_ = true;
    file_.Trailer->Put("Root", document_.Structure().MakeReference(obj->Number, obj->Generation));
    return;
  }
}

bool TPDFLoader::CheckPages() {
  // The reader that turned the walk off walks the tree itself.
  if (!document_.WalkPagesOnLoad) return true;
  const bool found = WalkPages();
  Publish();
  return found;
}

bool TPDFLoader::WalkPages() {
  file_.EmptyPageTree = false;
  // A protected file whose password is not known yet cannot be read that far.
  const TSecurityState state = document_.SecurityState();
  if (state == TSecurityState::Unsupported || (state == TSecurityState::Standard && !document_.HasSecurityKey()))
    return true;
  std::vector<TWalkedPage> pages;
  // The tree the catalog names; else, when it names a page or a node inside the tree, the tree
  // above it, found by its /Parent links (and named by the catalog from then on).
  auto findTree = [&]() {
    TPDFDictionary* root = document_.PagesDictionary();
    WalkPageTree(root, pages, DirectKidMaker(document_));
    if (!pages.empty() || root == nullptr || !document_.AllowRepair) return !pages.empty();
    TPDFDictionary* top = root;
    for (int depth = 0; depth < kMaxPageTreeDepth; ++depth) {
      auto* up = As<TPDFDictionary>(top->Get("Parent", true));
      if (up == nullptr || up == root || up == top) break;
      top = up;
    }
    if (top == root || !top->IsIndirect()) return false;
    WalkPageTree(top, pages, DirectKidMaker(document_));
    if (pages.empty()) return false;
    document_.Catalog()->Put("Pages", document_.Structure().MakeReference(top->ObjectNumber(), top->Generation()));
    return true;
  };
  if (findTree()) return true;
  // A tree that is there and lists no kid is a document without pages, as every reader shows
  // it: nothing to mend, and no page object found elsewhere belongs to it.
  if (TPDFDictionary* root = document_.PagesDictionary(); root != nullptr && root->TypeName() != "Page") {
    auto* kids = As<TPDFArray>(root->Get("Kids", true));
    if (kids != nullptr && kids->Count() == 0) {
      file_.EmptyPageTree = true;
      return true;
    }
  }
  if (!document_.AllowRepair) return false;
  if (!file_.Repaired && state == TSecurityState::Unprotected) {
    RepairObjectTable();
    if (!HasCatalog()) return false;
    if (findTree()) return true;
  }
  // A new root when there is none, or when the catalog names a page: the page stays a page.
  TPDFDictionary* root = document_.PagesDictionary();
  if (root == nullptr || root->TypeName() == "Page") {
    root = document_.Structure().MakeDictionary();
    document_.Catalog()->Put("Pages", document_.MakeIndirect(root));
  }
  return RebuildPageTree(document_, root) > 0;
}

}  // namespace lumipage
