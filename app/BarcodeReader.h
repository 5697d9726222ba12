#pragma once
// Barcodes on separator sheets. The decoder (liblumipage_barcode.so beside the source manager,
// built on zxing-cpp) is loaded only by the first page looked at, so that the program links and
// runs every other job where the library is absent. Pages are decoded in a child process, kept
// for the job's next pages, with a time limit per page: an abort, a crash or a hang of the
// library on an odd symbol costs that page its reading and the child, never the job.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/DibGraphic.h"

namespace lumipage {

inline constexpr const char* kBarcodeModuleFileName = "liblumipage_barcode.so";

// What one page gives: at most this many bytes of text in all (a QR code holds under 3 KB, a
// few dozen codes fit); a child that sends more counts as failed.
inline constexpr std::size_t kBarcodeTextLimit = 256 * 1024;

struct TBarcodeRead {
  enum class TStatus : std::uint8_t { Read, NoCode, Failed } Status = TStatus::NoCode;
  std::vector<std::string> Texts;  // every code found on the page, decoded text as bytes
  std::string Error;               // for Failed: one short sentence (crashed, timed out, module missing)
};

// Reads every Code 39, Code 128, QR and Data Matrix symbol on the page, in any orientation and turned up
// to 10 degrees. Never ends the job: a crash, an abort or a hang of the decoder gives Failed.
// dpi 0: the page's own resolution.
// An interruption of the job (a signal) while the child decodes ends the child at once and
// raises platform::EJobInterrupted, as every other safe point of the job does.
[[nodiscard]] TBarcodeRead ReadBarcodes(const TDibGraphic& page, std::uint16_t dpi = 0,
                                        std::chrono::milliseconds limit = std::chrono::milliseconds(2000));

// Ends the decoding child (the next page starts another). It also ends with the program, or
// with the thread that started it.
void StopBarcodeReader();

// Loads the decoder now (it is otherwise loaded by the first ReadBarcodes): a job that looks
// for barcode separators calls it before scanning, and so tells the user at once when the
// package is missing. Raises EJobError with a sentence naming the package.
void RequireBarcodeReader();

// The job's message when the module cannot be loaded, from the loader's reason: a missing
// zxing-cpp names the package that brings it.
[[nodiscard]] std::string BarcodeModuleLoadFailure(const std::string& reason);

// The page as the decoder sees it: 8-bit grey, rows from the top, no padding, shrunk by a whole
// factor to between 150 and 300 dpi (resolutions below stay as they are). For tests and the
// benchmark.
struct TBarcodeImage {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint8_t> Pixels;
};
[[nodiscard]] TBarcodeImage BarcodeImageOf(const TDibGraphic& page, std::uint16_t dpi);

}  // namespace lumipage
