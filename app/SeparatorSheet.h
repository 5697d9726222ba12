#pragma once
// Separator sheets: the sheet an office puts between the documents of one feeder load. Each is
// recognised as it is scanned; the job drops it and starts a new document after it.
#include <cstdint>
#include <optional>
#include <string>

#include "app/JobSettings.h"
#include "imaging/PageInk.h"

namespace lumipage {

class TDibGraphic;

// Raises before anything is scanned when this program cannot look for the job's separator (the
// barcode decoder is missing).
void CheckSeparatorAvailable(const TJobSettings& settings);

struct TSeparatorCheck {
  bool Separator = false;
  // The barcode decoder failed on the side (crashed, hung or missing): it counts as no separator.
  bool Unread = false;
  // The text of another barcode on a barcode separator sheet: the name of the document after it.
  std::string Text;
  // A blank separator check's measure of the side's ink, for the cleaning of a side it keeps.
  std::optional<TPageInk> Ink;
};

// Whether the side, scanned at dpi (0: its own resolution), is a separator of the job's kind.
// A blank separator is blank by the same rules as the blank sides SkipBlank drops.
[[nodiscard]] TSeparatorCheck CheckSeparator(const TDibGraphic& page, std::uint16_t dpi, const TJobSettings& settings);

// A file name stem made of a barcode's text: characters outside A-Z, a-z, 0-9, '.', '_' and '-'
// become '_', a leading '.' too (no hidden file, no "." or ".."), and at most kMaxBarcodeStem
// characters are kept; empty when nothing but '_' and '.' is left.
constexpr std::size_t kMaxBarcodeStem = 100;
[[nodiscard]] std::string BarcodeFileStem(const std::string& text);

}  // namespace lumipage
