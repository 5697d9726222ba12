#include "pdf/Vellox.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <istream>

#include "pdf/PDFArchive.h"
#include "pdf/PDFDate.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFDocumentSecurity.h"
#include "pdf/PDFImage.h"
#include "pdf/PDFLoader.h"
#include "pdf/PDFPageImages.h"
#include "pdf/PDFPageTree.h"
#include "pdf/PDFSecurity.h"
#include "pdf/PDFWriter.h"
#include "platform/FileReplace.h"

namespace lumipage {

namespace {

constexpr std::string_view kProducer = "Vellox 4.41";
constexpr std::string_view kLibraryVersion = "4.41";

// Information keys 1 to 6.
constexpr std::string_view kInfoKeys[] = {"Author", "Title", "Subject", "Keywords", "Creator", "Producer"};

}  // namespace

// One open document and what the engine keeps beside it. The page tree goes first on
// destruction: it refers into the document's values.
struct TVellox::Entry {
  std::unique_ptr<TPDFDocument> Document;
  std::unique_ptr<TPDFPageTree> Pages;
  int PdfaPart = 0;  // written as PDF/A of this part; 0 not
};

TVellox::TVellox() {
  std::error_code ec;
  tempFolder_ = std::filesystem::temp_directory_path(ec).string();
  if (tempFolder_.empty()) tempFolder_ = "/tmp";
  if (tempFolder_.back() != '/') tempFolder_ += '/';
  if (auto entry = MakeBlankDocument()) {
    documents_.push_back(std::move(entry));
    Select(documents_.back().get());
    (void)selected_->Pages->SelectPage(1);
  }
}

TVellox::~TVellox() = default;

std::unique_ptr<TVellox::Entry> TVellox::MakeBlankDocument() {
  try {
    auto entry = std::make_unique<Entry>();
    entry->Document = std::make_unique<TPDFDocument>();
    if (!entry->Document->NewDocument()) return nullptr;
    entry->Pages = std::make_unique<TPDFPageTree>(*entry->Document);
    TPDFDocument& doc = *entry->Document;
    doc.SetInfo("Producer", kProducer);
    doc.SetInfo("Creator", kProducer);
    const std::string now = PDFDateNow();
    doc.SetInfo("CreationDate", now);
    doc.SetInfo("ModDate", now);
    return entry;
  } catch (...) {
    return nullptr;
  }
}

TVellox::Entry* TVellox::Find(const TPDFDocument* document) const {
  for (const auto& e : documents_)
    if (e->Document.get() == document) return e.get();
  return nullptr;
}

void TVellox::Select(Entry* entry) {
  selected_ = entry;
  auto& images = entry->Pages->Images();
  selectedImage_ = images.empty() ? nullptr : images.front().get();
}

TPDFPageTree& TVellox::Pages() const { return *selected_->Pages; }

// ---- Document list ----

int TVellox::DocumentCount() const { return static_cast<int>(documents_.size()); }

TPDFDocument* TVellox::DocumentID(int position) const {
  if (position < 1 || position > DocumentCount()) return nullptr;
  return documents_[static_cast<size_t>(position - 1)]->Document.get();
}

int TVellox::SelectDocument(TPDFDocument* document) {
  Entry* entry = Find(document);
  if (entry == nullptr) return 0;
  Select(entry);
  return 1;
}

TPDFDocument* TVellox::SelectedDocument() const { return selected_->Document.get(); }

TPDFDocument* TVellox::NewDocument() {
  lastError_ = TPDFError::None;
  auto entry = MakeBlankDocument();
  if (!entry) return nullptr;
  documents_.push_back(std::move(entry));
  Select(documents_.back().get());
  (void)selected_->Pages->SelectPage(1);
  return selected_->Document.get();
}

int TVellox::RemoveDocument(TPDFDocument* document) {
  Entry* entry = Find(document);
  if (entry == nullptr || documents_.size() < 2) return 0;
  const auto it = std::find_if(documents_.begin(), documents_.end(), [&](const auto& e) { return e.get() == entry; });
  if (entry == selected_) Select(it == documents_.begin() ? std::next(it)->get() : std::prev(it)->get());
  documents_.erase(it);
  return 1;
}

int TVellox::LoadFromFile(const std::string& fileName) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(fileName, ec)) return 0;
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return 0;
  return LoadFromStream(in);
}

int TVellox::LoadFromStream(std::istream& in) {
  lastError_ = TPDFError::None;
  try {
    auto entry = std::make_unique<Entry>();
    entry->Document = std::make_unique<TPDFDocument>();
    // The loader's free function: this member's own name would be found first.
    if (!lumipage::LoadFromStream(*entry->Document, in)) return 0;
    entry->Pages = std::make_unique<TPDFPageTree>(*entry->Document);
    documents_.push_back(std::move(entry));
    Select(documents_.back().get());
    (void)selected_->Pages->SelectPage(1);
    return 1;
  } catch (...) {
    return 0;
  }
}

int TVellox::SaveToFile(const std::string& fileName) { return SaveToFile(fileName, SaveCheck()); }

int TVellox::SaveToFile(const std::string& fileName, const SaveCheck& check) {
  lastError_ = TPDFError::None;
  saveCheckFailure_.clear();
  saveSystemError_.clear();
  // The system's reason for a failed step, taken before anything else can change errno.
  auto systemFailure = [this](int error) {
    if (error != 0) saveSystemError_ = std::strerror(error);
    return 0;
  };
  try {
    TPDFDocument& doc = *selected_->Document;
    doc.SetInfo("ModDate", PDFDateNow());
    // The metadata repeats the Info dictionary as written, dates included.
    if (selected_->PdfaPart > 0 && !MakePdfa(doc, selected_->PdfaPart)) return 0;
    // The document goes to a new file beside the target, which replaces the target only once
    // it is complete and on disk: a full disk or a killed process leaves an existing file as
    // it was. Links are followed; devices, FIFOs and files without a write bit are refused.
    platform::TFileReplacement file(fileName);
    if (!file.Ok()) {
      saveSystemError_ = file.Error();
      return 0;
    }
    {
      errno = 0;
      std::ofstream out(file.TemporaryName(), std::ios::binary | std::ios::trunc);
      if (!out) return systemFailure(errno);
      errno = 0;
      TSaveResult saved = TSaveResult::Saved;
      if (!SaveToStream(doc, out, &saved)) {
        const int error = errno;
        if (saved == TSaveResult::TooLarge) {
          lastError_ = TPDFError::TooLarge;
          return 0;
        }
        return systemFailure(error);
      }
      errno = 0;
      out.close();
      if (out.fail()) return systemFailure(errno);
    }
    if (check) {
      saveCheckFailure_ = check(file.TemporaryName());
      if (!saveCheckFailure_.empty()) return 0;
    }
    if (file.Commit()) return 1;
    saveSystemError_ = file.Error();
    return 0;
  } catch (const std::bad_alloc&) {
    return systemFailure(ENOMEM);
  } catch (...) {
    return 0;
  }
}

std::string TVellox::LibraryVersion() {
  lastError_ = TPDFError::None;
  return std::string(kLibraryVersion);
}

int TVellox::SetPdfA(int part) {
  lastError_ = TPDFError::None;
  if (part < 0 || part > 3 || (part > 0 && selected_->Document->SecurityState() != TSecurityState::Unprotected)) return 0;
  selected_->PdfaPart = part;
  return 1;
}

// ---- Document information ----

int TVellox::SetInformation(int key, std::string_view value) {
  lastError_ = TPDFError::None;
  TPDFDocument& doc = *selected_->Document;
  if (doc.SecurityState() != TSecurityState::Unprotected) {
    lastError_ = TPDFError::InformationOfProtected;
    return 0;
  }
  if (key < 0 || key > 6) {
    lastError_ = TPDFError::InformationKey;
    return 0;
  }
  if (key == 0) {
    static constexpr std::string_view kVersions[] = {"1.0", "1.1", "1.2", "1.3", "1.4", "1.5"};
    if (std::find(std::begin(kVersions), std::end(kVersions), value) != std::end(kVersions))
      doc.SetVersion(std::string(value));
  } else {
    doc.SetInfo(kInfoKeys[key - 1], value);
  }
  const std::string back = GetInformation(key);
  return back == value ? 1 : 0;
}

std::string TVellox::GetInformation(int key) {
  lastError_ = TPDFError::None;
  TPDFDocument& doc = *selected_->Document;
  if (key == 0) return doc.Version();
  if (key >= 1 && key <= 6) return doc.GetInfo(kInfoKeys[key - 1]);
  if (key == 7) return doc.GetInfo("CreationDate");
  if (key == 8) return doc.GetInfo("ModDate");
  return {};
}

int TVellox::InformationPresent(int key) {
  lastError_ = TPDFError::None;
  TPDFDocument& doc = *selected_->Document;
  if (key >= 1 && key <= 6) return doc.HasInfo(kInfoKeys[key - 1]) ? 1 : 0;
  if (key == 7) return doc.HasInfo("CreationDate") ? 1 : 0;
  if (key == 8) return doc.HasInfo("ModDate") ? 1 : 0;
  return 0;
}

// ---- Pages and geometry ----

int TVellox::PageCount() { return Pages().PageCount(); }

int TVellox::NewPages(int count) { return Pages().NewPages(count); }

int TVellox::SelectPage(int pageNumber) { return Pages().SelectPage(pageNumber); }

int TVellox::SelectedPage() const { return Pages().SelectedPage(); }

int TVellox::SetPageSize(std::string_view name) { return Pages().SetPageSize(name); }

int TVellox::SetPageDimensions(double width, double height) { return Pages().SetPageDimensions(width, height); }

double TVellox::PageWidth() { return Pages().PageWidth(); }

double TVellox::PageHeight() { return Pages().PageHeight(); }

double TVellox::GetPageBox(int boxType, int valueIndex) { return Pages().GetPageBox(boxType, valueIndex); }

int TVellox::SetOrigin(int origin) {
  Pages().SetOrigin(origin);
  return 1;
}

int TVellox::GetOrigin() const { return Pages().Origin(); }

int TVellox::SetMeasurementUnits(int units) {
  Pages().SetMeasurementUnits(units);
  return 1;
}

int TVellox::SetScale(double pointsPerUnit) { return Pages().SetScale(pointsPerUnit) ? 1 : 0; }

int TVellox::MultiplyScale(double factor) { return Pages().MultiplyScale(factor) ? 1 : 0; }

// ---- Images ----

TPDFImage* TVellox::AddImageFromFile(const std::string& fileName, int option) {
  TPDFImage* image = lumipage::AddImageFromFile(Pages(), fileName, option);
  if (image != nullptr) selectedImage_ = image;
  return image;
}

int TVellox::FitImage(double left, double top, double width, double height, int hAlign, int vAlign, int rotation) {
  if (selectedImage_ == nullptr) return 0;
  return lumipage::FitImage(Pages(), *selectedImage_, left, top, width, height, hAlign, vAlign, rotation);
}

int TVellox::CompressContent() {
  lumipage::CompressContent(Pages());
  return 1;
}

int TVellox::CompressPage() {
  CompressPageContent(Pages());
  return 1;
}

int TVellox::CompressImages(int compress) {
  if (compress != 0 && compress != 1) return 0;
  Pages().CompressImages = compress;
  return 1;
}

// ---- Security ----

int TVellox::SetPassword(std::string_view password) {
  const TPasswordResult result = TPDFDocumentSecurity(*selected_->Document).SetPassword(password);
  // Content read before the password opened the document was still encrypted, and so were the
  // page tree's nodes held in object streams: the tree is walked again.
  if (Opens(result)) {
    Pages().ClearCache();
    (void)Pages().SelectPage(std::max(Pages().SelectedPage(), 1));
  }
  switch (result) {
    case TPasswordResult::Fails: return 0;
    case TPasswordResult::User: return 1;
    case TPasswordResult::Owner: return 2;
    case TPasswordResult::Unprotected: return 3;
    case TPasswordResult::Unsupported: return 4;
    case TPasswordResult::Both: return 5;
  }
  return 0;
}

int TVellox::Unencrypt() {
  const bool done = TPDFDocumentSecurity(*selected_->Document).Unencrypt();
  Pages().ClearCache();
  (void)Pages().SelectPage(Pages().SelectedPage());
  return done ? 1 : 0;
}

int TVellox::Encrypt(std::string_view owner, std::string_view user, int strength, int32_t permissions) {
  lastError_ = TPDFDocumentSecurity(*selected_->Document).Encrypt(owner, user, strength, permissions);
  return lastError_ == TPDFError::None ? 1 : 0;
}

int TVellox::ErrorCode(TPDFError error) {
  switch (error) {
    case TPDFError::None: return 0;
    case TPDFError::BadStrength: return 101;
    case TPDFError::UncheckedPermissions: return 102;
    case TPDFError::AlreadyProtected: return 103;
    case TPDFError::EncryptFailed: return 104;
    case TPDFError::InformationOfProtected: return 201;
    case TPDFError::InformationKey: return 202;
    case TPDFError::TooLarge: return kErrorTooLarge;
  }
  return 0;
}

int32_t TVellox::Permissions(int print, int copy, int modify, int annotate, int fillForms, int extract, int assemble,
                             int printHighQuality) const {
  return TPDFSecurity::Permissions(print, copy, modify, annotate, fillForms, extract, assemble, printHighQuality);
}

int TVellox::Encrypted() {
  switch (selected_->Document->SecurityState()) {
    case TSecurityState::Unprotected: return 0;
    case TSecurityState::Standard: return 1;
    case TSecurityState::Unsupported: return 2;
  }
  return 0;
}

int TVellox::EncryptionStrength() { return selected_->Document->EncryptionStrength(); }

}  // namespace lumipage
