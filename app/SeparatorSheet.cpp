#include "app/SeparatorSheet.h"

#include "imaging/BlankPage.h"
#include "imaging/DibGraphic.h"

namespace lumipage {

void CheckSeparatorAvailable(const TJobSettings& s) {
  // Not found silently: a job that looks for a separator it cannot see would merge the load.
  if (s.Separator == TSeparator::Patch) throw EJobError("Separator patch is not available in this program");
  if (s.Separator == TSeparator::Barcode) throw EJobError("Separator barcode is not available in this program");
}

TSeparatorCheck CheckSeparator(const TDibGraphic& page, std::uint16_t dpi, const TJobSettings& s) {
  TSeparatorCheck check;
  switch (s.Separator) {
    case TSeparator::Blank: {
      const TBlankVerdict verdict = JudgeBlank(page, dpi);
      check.Separator = verdict.Analysed && verdict.Blank;
      break;
    }
    case TSeparator::None:
    case TSeparator::Patch:
    case TSeparator::Barcode:
      break;
  }
  return check;
}

std::string BarcodeFileStem(const std::string& text) {
  std::string stem;
  for (char c : text) {
    if (stem.size() == kMaxBarcodeStem) break;
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '_' || c == '-';
    stem += plain && !(c == '.' && stem.empty()) ? c : '_';
  }
  // Nothing but replacements and dots says nothing about the document.
  if (stem.find_first_not_of("_.") == std::string::npos) return {};
  return stem;
}

}  // namespace lumipage
