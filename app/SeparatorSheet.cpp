#include "app/SeparatorSheet.h"

#include "app/BarcodeReader.h"
#include "imaging/BlankPage.h"
#include "imaging/DibGraphic.h"
#include "imaging/PatchCode.h"

namespace lumipage {

void CheckSeparatorAvailable(const TJobSettings& s) {
  // Not found silently: a job that looks for a separator it cannot see would merge the load.
  if (s.Separator == TSeparator::Barcode) RequireBarcodeReader();
}

TSeparatorCheck CheckSeparator(const TDibGraphic& page, std::uint16_t dpi, const TJobSettings& s) {
  TSeparatorCheck check;
  switch (s.Separator) {
    case TSeparator::Blank: {
      check.Ink = MeasureInk(page, dpi, InkChannelFor(page));
      const TBlankVerdict verdict = JudgeBlank(page, *check.Ink, dpi);
      check.Separator = verdict.Analysed && verdict.Blank;
      break;
    }
    case TSeparator::Patch:
      // Any of the patch codes: offices use Patch T for documents, but a sheet of another code
      // in the load is a separator just the same.
      check.Separator = FindPatchCode(page, dpi) != TPatchCode::None;
      break;
    case TSeparator::Barcode: {
      // The decoder runs apart from the job: a crash or a hang there is a side left unread.
      const TBarcodeRead read = ReadBarcodes(page, dpi);
      if (read.Status == TBarcodeRead::TStatus::Failed) {
        check.Unread = true;
        break;
      }
      for (const std::string& text : read.Texts) {
        if (text == s.SeparatorText)
          check.Separator = true;
        else if (check.Text.empty())
          check.Text = text;  // another code on the sheet names the document that follows
      }
      if (!check.Separator) check.Text.clear();
      break;
    }
    case TSeparator::None:
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
