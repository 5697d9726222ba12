#include "app/PageStore.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "imaging/BitmapGraphic.h"
#include "platform/FileReplace.h"
#include "platform/Files.h"

namespace lumipage {

namespace {
std::string withDigits(int n, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*d", width, n);
  return buf;
}
// The highest number n of the files <stem>-n<ext> in stem's folder; 0 when there are none.
int HighestNumbered(const std::string& stem, const std::string& ext) {
  const std::string head = platform::ExtractFileName(stem) + "-";
  int highest = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(platform::ExtractFilePath(stem), error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() <= head.size() + ext.size() || name.compare(0, head.size(), head) != 0 ||
        name.compare(name.size() - ext.size(), ext.size(), ext) != 0)
      continue;
    const std::string digits = name.substr(head.size(), name.size() - head.size() - ext.size());
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    highest = std::max(highest, std::stoi(digits));
  }
  return highest;
}

}  // namespace

std::string TPageStore::PageBaseName(int n) const {
  const TOutputFormat f = settings_.OutputFormat;
  if (!settings_.FileName.empty() && (f == ofBmp || f == ofJpeg || f == ofTiff)) {
    std::string base = platform::ChangeFileExt(settings_.FileName, "");
    return n == 1 ? base : base + "_" + withDigits(n, 2);
  }
  return settings_.ExeFolder + "page" + withDigits(n, 3);
}

std::string TPageStore::MultiTiffFileName() const {
  std::string base =
      settings_.FileName.empty() ? settings_.ExeFolder + "pages" : platform::ChangeFileExt(settings_.FileName, "");
  return base + ".tif";
}

std::string TPageStore::PdfFileName() const {
  return settings_.FileName.empty() ? settings_.ExeFolder + "pages.pdf" : settings_.FileName;
}

std::string TPageStore::NumberedDocumentName(int number) const {
  const bool pdf = settings_.OutputFormat == ofPdf;
  return platform::ChangeFileExt(pdf ? PdfFileName() : MultiTiffFileName(), "") + "-" + withDigits(number, 3) +
         (pdf ? ".pdf" : ".tif");
}

std::string TPageStore::DocumentFileName(int k, const std::string& barcodeStem) {
  const bool pdf = settings_.OutputFormat == ofPdf;
  const std::string ext = pdf ? ".pdf" : ".tif";
  const std::string stem = platform::ChangeFileExt(pdf ? PdfFileName() : MultiTiffFileName(), "");
  // Appending never overwrites: the first document follows the highest number in the folder.
  if (k == 1 && settings_.Append) nextNumber_ = HighestNumbered(stem, ext);
  const int number = ++nextNumber_;
  auto taken = [this](const std::string& name) {
    return namesUsed_.count(name) > 0 || (settings_.Append && platform::NameTaken(name));
  };
  std::string name;
  if (!barcodeStem.empty() && settings_.SeparatorName == TSeparatorName::Barcode) {
    const std::string named = platform::ExtractFilePath(stem) + barcodeStem;
    name = named + ext;
    for (int again = 2; taken(name); ++again) name = named + "-" + std::to_string(again) + ext;
  } else {
    for (int n = number;; ++n) {
      name = NumberedDocumentName(n);
      if (!taken(name)) break;
    }
  }
  namesUsed_.insert(name);
  return name;
}

void TPageStore::EndDocument(const std::string& text) {
  documentOpen_ = false;
  nextName_ = text;
}

TDocument* TPageStore::OpenDocument() { return documentOpen_ && !Documents.empty() ? &Documents.back() : nullptr; }

void TPageStore::AddToDocument(int n) {
  if (TDocument* open = OpenDocument()) {
    open->LastPage = n;
    return;
  }
  TDocument doc;
  doc.FirstPage = doc.LastPage = n;
  const TOutputFormat f = settings_.OutputFormat;
  if (f == ofPdf || f == ofMultiTiff)
    doc.File = DocumentFileName(static_cast<int>(Documents.size()) + 1, nextName_);
  nextName_.clear();
  Documents.push_back(std::move(doc));
  documentOpen_ = true;
}

void TPageStore::TrimDocuments() {
  while (!Documents.empty() && Documents.back().FirstPage > LastPageNo) {
    Documents.pop_back();
    documentOpen_ = false;
  }
  if (!Documents.empty()) Documents.back().LastPage = std::min(Documents.back().LastPage, LastPageNo);
}

TImageProps& TPageStore::PageRecord(int n) {
  if (n < 1) n = 1;
  if (table_.size() <= static_cast<size_t>(n)) table_.resize(static_cast<size_t>(n) + 1);
  return table_[static_cast<size_t>(n)];
}

std::vector<int> TPageStore::StoredSides(const std::vector<int>& sides) const {
  std::vector<int> stored;
  const int last = std::min<int>(LastPageNo, static_cast<int>(table_.size()) - 1);
  for (int side : sides) {
    for (int n = 1; n <= last; ++n) {
      if (table_[static_cast<std::size_t>(n)].Side == side) {
        stored.push_back(side);
        break;
      }
    }
  }
  return stored;
}

}  // namespace lumipage
