#pragma once
// Every page the scanner delivers becomes a file: numbered, cropped, captioned, darkened when
// asked, converted and saved, and recorded in the job's page table.
#include <cstdint>
#include <optional>
#include <string>

#include "app/JobSettings.h"
#include "app/PageStore.h"
#include "twain/ScannerOperations.h"

namespace lumipage {

class TDibGraphic;

// Crop rectangle in pixels, right and bottom exclusive.
struct TCropRect {
  std::int32_t Left = 0;
  std::int32_t Top = 0;
  std::int32_t Right = 0;
  std::int32_t Bottom = 0;
  bool operator==(const TCropRect&) const = default;
};

// Rounds to the nearest integer, halves to even.
[[nodiscard]] std::int32_t RoundHalfEven(long double value);
// One centimetre of the page at its own vertical resolution.
[[nodiscard]] std::int32_t StatementTop(std::uint16_t pageDpiY);
// The crop for a page, or nothing when the page is not cropped.
[[nodiscard]] std::optional<TCropRect> CropRectangle(const TJobSettings& settings, std::uint16_t xres,
                                                     std::uint16_t yres, std::uint16_t pageDpiY);

// The darkening rule for one colour 0x00RRGGBB: dark pixels (red + green + blue at most 458)
// keep a fifth of each channel.
[[nodiscard]] std::uint32_t DarkenColor(std::uint32_t color);
// Darkens every pixel of the page row by row from the top, running pending window messages
// after each row.
void DarkenPage(TDibGraphic& page);
// The pixel-routine version of DarkenPage (the fast path must give the same bytes).
void DarkenPageReference(TDibGraphic& page);

// The scanner's image handler for the job. It takes the page's block over when it can. A page
// that fails leaves no file of its own behind and is not counted in LastPageNo.
// In a job split by separator sheets, a separator ends the document stored so far (a PDF
// document is written then) and is dropped, in a duplex job with its back.
void ImageAcquired(const TPageJob& job, TTransferBlock& dib, std::uint16_t xres, std::uint16_t yres);
// Stores the front a duplex job held to see whether its sheet is a separator, when the scanner
// ended before its back.
void StoreHeldSide(const TPageJob& job);
// Waits until the files of the pages stored so far are in place (a page appended to a
// multi-page file: on disk and linked in); when one failed, it and every later page are taken
// back out of the count and the failure, naming the file and the reason, is raised.
void FinishPreviousPage(const TPageJob& job);

}  // namespace lumipage
