#include "pdf/PDFPageTree.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdint>

#include "pdf/PDFDocument.h"
#include "pdf/PDFImage.h"
#include "pdf/PDFRectangle.h"
#include "pdf/PDFRepair.h"
#include "pdf/PDFStructure.h"

namespace lumipage {

// The unit factors are the exact doubles other PDF producers use; a rounding difference would
// move every converted coordinate.
static_assert(std::bit_cast<uint64_t>(kUnitMillimetres) == 0x3FD693E93E93E93FULL);
static_assert(std::bit_cast<uint64_t>(kUnitInches) == 0x3F8C71C71C71C71CULL);

namespace {

constexpr double kDefaultWidth = 612;
constexpr double kDefaultHeight = 792;

struct PaperSize {
  std::string_view Name;
  double Width;  // millimetres
  double Height;
};

constexpr std::array<PaperSize, 49> kPaperSizes{{
    {"LETTER", 215.9, 279.4},   {"LEGAL", 215.9, 355.6},   {"STATEMENT", 139.7, 215.9},
    {"TABLOID", 279.4, 431.8},  {"LEDGER", 431.8, 279.4},  {"EXECUTIVE", 190.5, 254},
    {"FOLIO", 210, 330},        {"A0", 841, 1189},         {"A1", 594, 841},
    {"A2", 420, 594},           {"A3", 297, 420},          {"A4", 210, 297},
    {"A5", 148, 210},           {"A6", 105, 148},          {"A7", 74, 105},
    {"A8", 52, 74},             {"A9", 37, 52},            {"A10", 26, 37},
    {"B0", 1030, 1456},         {"B1", 728, 1030},         {"B2", 515, 728},
    {"B3", 364, 515},           {"B4", 257, 364},          {"B5", 182, 257},
    {"B6", 128, 182},           {"B7", 91, 128},           {"B8", 64, 91},
    {"B9", 45, 64},             {"B10", 32, 45},           {"ISOB0", 1000, 1414},
    {"ISOB1", 707, 1000},       {"ISOB2", 500, 707},       {"ISOB3", 353, 500},
    {"ISOB4", 250, 353},        {"ISOB5", 176, 250},       {"ISOB6", 125, 176},
    {"ISOB7", 88, 125},         {"ISOB8", 62, 88},         {"ISOB9", 44, 62},
    {"ISOB10", 31, 44},         {"C0", 917, 1297},         {"C1", 648, 917},
    {"C2", 458, 648},           {"C3", 324, 458},          {"C4", 229, 324},
    {"C5", 162, 229},           {"C6", 114, 162},          {"C7", 81, 114},
    {"DL", 110, 220},
}};

double MillimetresToPoints(double mm) { return mm / 25.4 * 72; }

double NumberAt(const TPDFArray* array, int index) {
  if (array == nullptr || index >= array->Count()) return 0;
  const auto* n = As<TPDFNumeric>(array->Item(index));
  return n == nullptr ? 0 : n->Value;
}

TPDFObject* Resolved(TPDFObject* value) {
  if (auto* ref = As<TPDFIndRef>(value)) return ref->Resolve();
  return value;
}

bool IsEngineStream(const TPDFStream* stream) {
  const auto* mark = As<TPDFName>(stream->Dictionary()->Get("LC", true));
  return mark != nullptr && mark->Value == kEngineStreamMark;
}

}  // namespace

TPDFPageTree::TPDFPageTree(TPDFDocument& document) : document_(&document) {
  painter_.OnStore = [this](const std::string& text) { StoreText(text); };
}

TPDFPageTree::~TPDFPageTree() = default;

TPDFStructure& TPDFPageTree::Store() const { return document_->Structure(); }

TPDFDictionary* TPDFPageTree::Root() { return document_->PagesDictionary(); }

void TPDFPageTree::Walk() {
  if (walked_) return;
  // Pages are counted by walking the tree: a /Count that lies (negative, huge, stale) neither
  // hides pages nor invents them. The walk also sets every /Count to what it found.
  std::vector<TWalkedPage> found;
  WalkPageTree(Root(), found, DirectKidMaker(*document_));
  if (found.size() > static_cast<size_t>(INT32_MAX - kMaxNewPages)) found.resize(static_cast<size_t>(INT32_MAX - kMaxNewPages));
  pages_.clear();
  pages_.reserve(found.size());
  for (const TWalkedPage& p : found) pages_.push_back({p.Page, p.Parent, p.Number, p.Generation});
  walked_ = true;
}

int TPDFPageTree::PageCount() {
  Walk();
  return static_cast<int>(pages_.size());
}

void TPDFPageTree::ClearCache() {
  walked_ = false;
  pages_.clear();
}

bool TPDFPageTree::Lookup(int n, CachedPage& found) {
  Walk();
  if (n < 1 || static_cast<size_t>(n) > pages_.size()) return false;
  found = pages_[static_cast<size_t>(n - 1)];
  return true;
}

TPDFDictionary* TPDFPageTree::FindPage(int n) {
  CachedPage p;
  return Lookup(n, p) ? p.Page : nullptr;
}

int TPDFPageTree::SelectPage(int n) {
  const int requested = n;
  cachedValid_[0] = cachedValid_[1] = false;
  if (n < 1 || n > PageCount()) n = selectedNumber_;
  CachedPage p;
  if (!Lookup(n, p)) {
    page_ = nullptr;
    parent_ = nullptr;
    streams_.clear();
    painter_.Reset();
    return 0;
  }
  // A protected document that a password has opened: the page and everything it reaches are
  // decrypted before the page is read or changed. Before a password opened it there is nothing
  // to decrypt with, and marking objects as decrypted would leave them encrypted for good.
  if (!document_->OpenPassword().empty() && document_->SecurityState() == TSecurityState::Standard)
    document_->DecryptReachable(p.Number, p.Generation);
  selectedNumber_ = n;
  page_ = p.Page;
  parent_ = p.Parent;
  PrepareContents();
  return selectedNumber_ == requested ? 1 : 0;
}

TPDFIndRef* TPDFPageTree::Register(TPDFObject* value) {
  TPDFIndObj* obj = document_->AddIndirect(value);
  // Objects of a protected document are encrypted when written only if they are marked as
  // held in clear text; a new object is.
  if (document_->SecurityState() == TSecurityState::Standard) obj->Decrypted = true;
  return Store().MakeReference(obj->Number, obj->Generation);
}

void TPDFPageTree::SetRotation(int degrees) {
  if (page_ == nullptr) return;
  degrees = ((degrees % 360) + 360) % 360;
  page_->Put("Rotate", Store().MakeNumber(degrees - degrees % 90));
}

TPDFIndRef* TPDFPageTree::NewEngineStream() {
  TPDFStream* stream = Store().MakeStream("");
  stream->Dictionary()->Put("LC", Store().MakeName(kEngineStreamMark));
  return Register(stream);
}

void TPDFPageTree::PrepareContents() {
  TPDFStructure& s = Store();
  streams_.clear();
  TPDFArray* array = nullptr;
  TPDFObject* contents = page_->Get("Contents");
  if (contents == nullptr) {
    array = s.MakeArray();
    page_->Put("Contents", array);
  } else if (auto* ref = As<TPDFIndRef>(contents)) {
    TPDFObject* target = ref->Resolve();
    array = As<TPDFArray>(target);
    if (array == nullptr) {
      // A single stream (or a dangling reference, replaced by an empty stream below).
      array = s.MakeArray();
      array->Add(ref);
      page_->Put("Contents", array);
    }
  } else if (auto* direct = As<TPDFArray>(contents)) {
    array = direct;
  } else {
    // Content that is neither a reference nor an array: a direct stream is kept as a new
    // indirect object, anything else is no content at all.
    array = s.MakeArray();
    if (As<TPDFStream>(contents) != nullptr) array->Add(Register(contents));
    page_->Put("Contents", array);
  }

  std::string decodedLast;
  bool haveDecoded = false;
  bool needNew = array->Count() == 0;
  if (!needNew) {
    auto* last = As<TPDFStream>(Resolved(array->Item(array->Count() - 1)));
    if (last == nullptr) {
      needNew = true;
    } else if (!IsEngineStream(last)) {
      needNew = !ForeignStreams;
    } else if (last->Dictionary()->Get("Filter") == nullptr) {
      needNew = last->RawData().size() > kMaxReusedContentSize;
    } else {
      decodedLast = last->Decode();
      haveDecoded = true;
      needNew = decodedLast.size() > kMaxReusedContentSize;
    }
  }
  if (needNew) {
    array->Add(NewEngineStream());
    haveDecoded = false;
  }

  streams_.reserve(static_cast<size_t>(array->Count()));
  for (int i = 0; i < array->Count(); ++i) {
    auto* stream = As<TPDFStream>(Resolved(array->Item(i)));
    if (stream == nullptr) {
      stream = s.MakeStream("");
      array->SetItem(i, Register(stream));
    }
    streams_.push_back(stream);
  }

  painter_.Reset();
  painter_.SetPrecision(s.Precision());
  TPDFStream* last = streams_.back();
  if (haveDecoded) {
    painter_.Bind([data = std::move(decodedLast)]() { return data; });
  } else {
    painter_.Bind([last]() { return last->Decode(); });
  }
}

void TPDFPageTree::StoreText(const std::string& text) {
  if (streams_.empty()) return;
  if (!text.empty() && text.back() == '\n') {
    streams_.back()->SetData(text, false);
  } else {
    streams_.back()->SetData(text + '\n', false);
  }
}

TPDFObject* TPDFPageTree::InheritedEntry(std::string_view key) {
  TPDFDictionary* node = page_;
  for (int depth = 0; node != nullptr && depth <= kMaxPageTreeDepth; ++depth) {
    if (TPDFObject* v = node->Get(key, true)) return v;
    node = As<TPDFDictionary>(node->Get("Parent", true));
  }
  return nullptr;
}

void TPDFPageTree::DefaultSize(double& width, double& height) {
  width = kDefaultWidth;
  height = kDefaultHeight;
  TPDFDictionary* root = Root();
  if (root == nullptr) return;
  if (auto* box = As<TPDFArray>(root->Get("MediaBox", true))) {
    width = std::fabs(NumberAt(box, 2) - NumberAt(box, 0));
    height = std::fabs(NumberAt(box, 3) - NumberAt(box, 1));
  }
}

double TPDFPageTree::Dimension(int index) {
  if (cachedValid_[index]) return cachedSize_[index];
  double value = 0;
  if (page_ == nullptr) {
    // No page: new pages get the document's default size.
    double w = 0;
    double h = 0;
    DefaultSize(w, h);
    return index == 0 ? w : h;
  }
  // The first /MediaBox array on the page or up its ancestors.
  const TPDFArray* box = nullptr;
  TPDFDictionary* node = page_;
  for (int depth = 0; node != nullptr && depth <= kMaxPageTreeDepth && box == nullptr; ++depth) {
    box = As<TPDFArray>(node->Get("MediaBox", true));
    node = As<TPDFDictionary>(node->Get("Parent", true));
  }
  if (box != nullptr) {
    value = std::fabs(NumberAt(box, 2 + index) - NumberAt(box, index));
  } else {
    double w = 0;
    double h = 0;
    // Read, not written: a page without a media box keeps showing at the reader's default size.
    DefaultSize(w, h);
    value = index == 0 ? w : h;
  }
  cachedSize_[index] = value;
  cachedValid_[index] = true;
  return value;
}

double TPDFPageTree::Width() { return Dimension(0); }
double TPDFPageTree::Height() { return Dimension(1); }

void TPDFPageTree::SetDimension(int index, double points) {
  if (page_ == nullptr) return;
  const double other = Dimension(1 - index);
  const double w = index == 0 ? points : other;
  const double h = index == 0 ? other : points;
  const double corners[4] = {0, 0, w, h};
  page_->Delete("MediaBox");
  page_->Delete("CropBox");
  page_->Put("MediaBox", Store().MakeRealArray(corners, 3));
  page_->Put("CropBox", Store().MakeRealArray(corners, 3));
  cachedSize_[index] = points;
  cachedValid_[index] = true;
}

void TPDFPageTree::SetWidth(double points) { SetDimension(0, points); }
void TPDFPageTree::SetHeight(double points) { SetDimension(1, points); }

int TPDFPageTree::SetPageSize(std::string_view name) {
  std::string upper(name);
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  bool landscape = false;
  if (const size_t at = upper.find("LANDSCAPE"); at != std::string::npos) {
    upper.erase(at, 9);
    const size_t first = upper.find_first_not_of(' ');
    const size_t last = upper.find_last_not_of(' ');
    upper = first == std::string::npos ? std::string() : upper.substr(first, last - first + 1);
    landscape = true;
  }
  // The ledger size is already the turned tabloid.
  if (upper == "LEDGER") landscape = false;
  int found = 0;
  for (const PaperSize& size : kPaperSizes) {
    if (size.Name != upper) continue;
    const double w = MillimetresToPoints(size.Width);
    const double h = MillimetresToPoints(size.Height);
    SetWidth(landscape ? h : w);
    SetHeight(landscape ? w : h);
    found = 1;
  }
  return found;
}

int TPDFPageTree::SetPageDimensions(double width, double height) {
  if (page_ == nullptr) return 0;
  const double w = width / unitFactor_;
  const double h = height / unitFactor_;
  const double oldW = Width();
  const double oldH = Height();
  SetWidth(w);
  SetHeight(h);
  if (Width() == w && Height() == h) return 1;
  SetWidth(oldW);
  SetHeight(oldH);
  return 0;
}

double TPDFPageTree::GetPageBox(int boxType, int valueIndex) {
  static constexpr std::string_view kBoxes[] = {"MediaBox", "CropBox", "BleedBox", "TrimBox", "ArtBox"};
  if (boxType < 1 || boxType > 5 || valueIndex < 0 || valueIndex > 5 || page_ == nullptr) return 0;
  TPDFObject* box = InheritedEntry(kBoxes[boxType - 1]);
  if (box == nullptr && boxType >= 3) box = InheritedEntry("CropBox");
  if (box == nullptr && boxType >= 2) box = InheritedEntry("MediaBox");
  const TPDFRectangle rect(As<TPDFArray>(box));
  if (!rect.Valid()) return 0;
  double value = rect.Edge(valueIndex) * unitFactor_;
  if ((valueIndex == 0 || valueIndex == 4) && (origin_ == 2 || origin_ == 3)) value = PageWidth() - value;
  if ((valueIndex == 1 || valueIndex == 5) && (origin_ == 1 || origin_ == 2)) value = PageHeight() - value;
  return value;
}

void TPDFPageTree::SetMeasurementUnits(int units) {
  switch (units) {
    case 1: unitFactor_ = kUnitMillimetres; break;
    case 2: unitFactor_ = kUnitInches; break;
    default: unitFactor_ = kUnitPoints; break;
  }
}

bool TPDFPageTree::SetScale(double pointsPerUnit) {
  const double factor = 1 / pointsPerUnit;
  if (pointsPerUnit == 0 || !std::isfinite(factor) || factor == 0) return false;
  unitFactor_ = factor;
  return true;
}

bool TPDFPageTree::MultiplyScale(double factor) {
  const double result = unitFactor_ / factor;
  if (factor == 0 || !std::isfinite(result) || result == 0) return false;
  unitFactor_ = result;
  return true;
}

double TPDFPageTree::HorizontalToPoints(double x) {
  const double p = x / unitFactor_;
  return origin_ == 2 || origin_ == 3 ? Width() - p : p;
}

double TPDFPageTree::VerticalToPoints(double y) {
  const double p = y / unitFactor_;
  return origin_ == 1 || origin_ == 2 ? Height() - p : p;
}

TPDFDictionary* TPDFPageTree::Resources() {
  if (page_ == nullptr) return nullptr;
  auto take = [this](TPDFDictionary* holder) -> TPDFDictionary* {
    TPDFObject* value = holder->Get("Resources");
    if (value == nullptr) return nullptr;
    if (auto* dict = As<TPDFDictionary>(Resolved(value))) return dict;
    TPDFDictionary* fresh = Store().MakeDictionary();
    holder->Put("Resources", fresh);
    return fresh;
  };
  if (TPDFDictionary* dict = take(page_)) return dict;
  if (parent_ != nullptr) {
    if (TPDFDictionary* dict = take(parent_)) return dict;
  }
  TPDFDictionary* fresh = Store().MakeDictionary();
  page_->Put("Resources", fresh);
  return fresh;
}

TPDFDictionary* TPDFPageTree::NewPage(TPDFDictionary* parent, double width, double height) {
  TPDFStructure& s = Store();
  TPDFDictionary* page = s.MakeDictionary();
  page->Put("Type", s.CommonName("Page"));
  if (parent->IsIndirect()) page->Put("Parent", s.MakeReference(parent->ObjectNumber(), parent->Generation()));
  const double corners[4] = {0, 0, width, height};
  page->Put("MediaBox", s.MakeRealArray(corners, 3));
  page->Put("CropBox", s.MakeRealArray(corners, 3));
  page->Put("Rotate", s.MakeNumber(0));
  TPDFDictionary* resources = s.MakeDictionary();
  TPDFArray* procSet = s.MakeArray();
  for (const char* name : {"PDF", "Text", "ImageB", "ImageC", "ImageI"}) procSet->Add(s.MakeName(name));
  resources->Put("ProcSet", procSet);
  page->Put("Resources", resources);
  return page;
}

void TPDFPageTree::InsertPages(int count, int position, double width, double height) {
  const int pageCount = PageCount();
  if (count < 1 || position < 1 || position > pageCount + 1 || pageCount > INT32_MAX - count) return;
  TPDFDictionary* parent = nullptr;
  int index = 0;
  if (position == pageCount + 1 || position == 1) {
    parent = Root();
    auto* kids = parent == nullptr ? nullptr : As<TPDFArray>(parent->Get("Kids", true));
    if (kids == nullptr) return;
    index = position == pageCount + 1 ? kids->Count() : 0;
  } else {
    CachedPage before;
    if (!Lookup(position - 1, before)) return;
    parent = before.Parent;
    auto* kids = As<TPDFArray>(parent->Get("Kids", true));
    if (kids == nullptr) return;
    index = -1;
    for (int i = 0; i < kids->Count() && index < 0; ++i) {
      auto* ref = As<TPDFIndRef>(kids->Item(i));
      if (ref != nullptr && ref->ObjectNumber() == before.Number && ref->Generation() == before.Generation)
        index = i + 1;
    }
    if (index < 0) return;
  }
  auto* kids = As<TPDFArray>(parent->Get("Kids", true));

  // The holding node and each of its ancestors count the new pages.
  TPDFDictionary* node = parent;
  for (int depth = 0; node != nullptr && depth <= kMaxPageTreeDepth; ++depth) {
    if (auto* n = As<TPDFNumeric>(node->Get("Count", true))) {
      n->Value += count;
    } else {
      node->Put("Count", Store().MakeNumber(count));
    }
    auto* up = As<TPDFDictionary>(node->Get("Parent", true));
    node = up == node ? nullptr : up;
  }

  Store().Reserve(static_cast<size_t>(count) * 26);
  kids->Reserve(count);
  const bool atEnd = position == pageCount + 1;
  for (int i = 0; i < count; ++i) {
    TPDFDictionary* page = NewPage(parent, width, height);
    TPDFIndRef* ref = Register(page);
    kids->Insert(index + i, ref);
    TPDFArray* contents = Store().MakeArray();
    contents->Add(NewEngineStream());
    page->Put("Contents", contents);
    if (atEnd && walked_) pages_.push_back(CachedPage{page, parent, ref->ObjectNumber(), ref->Generation()});
  }
  // Pages inserted before others renumber them.
  if (!atEnd) ClearCache();
  (void)SelectPage(position);
}

int TPDFPageTree::NewPages(int count) {
  if (count < 1 || count > kMaxNewPages) return 0;
  const int before = PageCount();
  const double w = Width();
  const double h = Height();
  InsertPages(count, before + 1, w, h);
  const int after = PageCount();
  return after == before + count ? after : 0;
}

}  // namespace lumipage
