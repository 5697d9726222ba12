#include "app/PageStore.h"

#include <algorithm>
#include <cstdio>

#include "platform/Files.h"

namespace lumipage {

namespace {
std::string withDigits(int n, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*d", width, n);
  return buf;
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
