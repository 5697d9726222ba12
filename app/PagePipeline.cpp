#include "app/PagePipeline.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <vector>

#include "app/OcrQueue.h"
#include "app/PdfAssembly.h"
#include "app/SeparatorSheet.h"
#include "imaging/PackedDib.h"
#include "imaging/AdaptiveThresholdTransform.h"
#include "imaging/BitmapGraphic.h"
#include "imaging/Canvas.h"
#include "imaging/CropTransform.h"
#include "imaging/ImageFormatTransform.h"
#include "imaging/JpegGraphic.h"
#include "imaging/PageCleaning.h"
#include "imaging/TiffGraphic.h"
#include "imaging/TiffAppend.h"
#include "imaging/Errors.h"
#include "imaging/TiffError.h"
#include "platform/Files.h"
#include "platform/Interrupt.h"
#include "platform/Messages.h"

namespace lumipage {

// The paper arithmetic depends on 80-bit extended precision: exact halves such as the A4 edges at
// 150 dpi round the way they do only with a 64-bit mantissa.
static_assert(std::numeric_limits<long double>::digits == 64, "long double must be x87 extended precision");

namespace {

constexpr long double kA4Width = 8.27L;
constexpr long double kA4Height = 11.69L;
constexpr long double kLetterWidth = 8.5L;
constexpr long double kLetterHeight = 11.0L;
constexpr long double kMmPerInch = 25.4L;

constexpr std::uint32_t kDarkSumLimit = 458;        // (r + g + b) / 7.65 < 60

// A fifth of a channel, rounded; indexed by the channel value.
struct DarkTable {
  std::uint8_t value[256];
  DarkTable() {
    for (int c = 0; c < 256; ++c) value[c] = static_cast<std::uint8_t>(std::llrint(c * 0.2));
  }
};
const DarkTable& darkTable() {
  static const DarkTable table;
  return table;
}

}  // namespace

std::int32_t RoundHalfEven(long double value) {
  // The default floating-point rounding mode is to nearest, ties to even.
  return static_cast<std::int32_t>(std::llrint(value));
}

std::int32_t StatementTop(std::uint16_t pageDpiY) { return RoundHalfEven(pageDpiY / kCmPerInch<long double>); }

std::optional<TCropRect> CropRectangle(const TJobSettings& settings, std::uint16_t xres, std::uint16_t yres,
                                       std::uint16_t pageDpiY) {
  if (settings.PaperMode <= 0 || xres == 0 || yres == 0) return std::nullopt;
  const long double x = xres, y = yres;
  TCropRect r;
  if (settings.PaperMode == pmBank) {
    r.Top = StatementTop(pageDpiY);
    r.Right = RoundHalfEven(x * kA4Width);
    r.Bottom = RoundHalfEven(y * kA4Height);
  } else if (settings.ScanAreaMm) {
    const TScanAreaMm& mm = *settings.ScanAreaMm;
    // The products are whole numbers before the division.
    r.Left = RoundHalfEven(static_cast<long double>(xres * mm[0]) / kMmPerInch);
    r.Top = RoundHalfEven(static_cast<long double>(yres * mm[1]) / kMmPerInch);
    r.Right = RoundHalfEven(static_cast<long double>(xres * mm[2]) / kMmPerInch);
    r.Bottom = RoundHalfEven(static_cast<long double>(yres * mm[3]) / kMmPerInch);
  } else if (settings.PaperMode == pmLetter) {
    r.Right = RoundHalfEven(x * kLetterWidth);
    r.Bottom = RoundHalfEven(y * kLetterHeight);
  } else {
    r.Right = RoundHalfEven(x * kA4Width);
    r.Bottom = RoundHalfEven(y * kA4Height);
  }
  return r;
}

std::uint32_t DarkenColor(std::uint32_t c) {
  std::uint32_t r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
  double brightness = (r + g + b) / 7.65;
  if (brightness < 60) {
    r = static_cast<std::uint32_t>(std::llrint(r * 0.2));
    g = static_cast<std::uint32_t>(std::llrint(g * 0.2));
    b = static_cast<std::uint32_t>(std::llrint(b * 0.2));
  }
  return (r << 16) | (g << 8) | b;
}

void DarkenPageReference(TDibGraphic& page) {
  for (std::int32_t y = 0; y < page.Height(); ++y) {
    for (std::int32_t x = 0; x < page.Width(); ++x) page.SetRgbPixel(x, y, DarkenColor(page.GetRgbPixel(x, y)));
    platform::ProcessMessages();
    platform::CheckInterrupt();
  }
}

void DarkenPage(TDibGraphic& page) {
  if (page.ImageKind() != ikTrueColor || page.Empty()) {
    DarkenPageReference(page);
    return;
  }
  // True colour: blue, green, red bytes in place; same rule through a table.
  const auto& table = darkTable().value;
  for (std::int32_t y = 0; y < page.Height(); ++y) {
    std::uint8_t* p = page.RowBits(y);
    for (std::int32_t x = 0; x < page.Width(); ++x, p += 3) {
      if (static_cast<std::uint32_t>(p[0]) + p[1] + p[2] <= kDarkSumLimit) {
        p[0] = table[p[0]];
        p[1] = table[p[1]];
        p[2] = table[p[2]];
      }
    }
    platform::ProcessMessages();
    platform::CheckInterrupt();
  }
}

namespace {

void Caption(TDibGraphic& page, const std::string& text) {
  TCanvas& canvas = page.Canvas();
  canvas.Font().Name = "Arial";
  canvas.Font().Color = clRed;
  canvas.Font().Height = page.Height() / 20;
  std::int32_t x = (page.Width() - canvas.TextWidth(text)) / 2;
  std::int32_t y = page.Height() / 20;
  canvas.TextOut(x, y, text);
}

// A PDF's page files are scratch, read back by the same job. Other page files are flushed and
// put in place while the next page is scanned and written (the next page's save waits for that
// just before its own file is put in place), and their folder is flushed once before the report.
platform::TFlush PageFlush(const TJobSettings& s) {
  return s.OutputFormat == ofPdf ? platform::TFlush::None : platform::TFlush::Background;
}

void SettleBackground(const TPageJob& job, bool wait);

// The last moment of a page file's save: its data is written. A page before it that the helper
// thread could not put in place ends the job here, before this one is handed over.
TDibGraphic::TSaveCheck CheckingEarlierPages(const TPageJob& job) {
  return [&job](TStream&, const std::string&) { SettleBackground(job, false); };
}

// Writes the page as a JPEG file; the page may be left empty (its pixels taken).
void SaveJpeg(const TPageJob& job, TDibGraphic& page, const std::string& base, std::uint16_t xres, std::uint16_t yres,
              TImageProps& record) {
  const TJobSettings& s = job.Settings;
  TJpegGraphic jpeg;
  const TImageKind kind = s.Mono ? ikGray256 : ikTrueColor;
  if (kind == ikTrueColor && page.ImageKind() == ikTrueColor) {
    // The page is not needed once its file is written: its rows go to the codec as they are.
    jpeg.TakeImage(page);
  } else {
    TImageFormatTransform transform;
    transform.TargetKind = kind;
    transform.ApplyOnDest(page, jpeg);
  }
  jpeg.Quality = static_cast<std::uint8_t>(s.JpgQuality & 0xFF);
  jpeg.SetDpiX(xres);
  jpeg.SetDpiY(yres);
  jpeg.SaveToFile(base + ".jpg", PageFlush(s), CheckingEarlierPages(job));
  record.PageFile = base + ".jpg";
}

// Pages go into TIFF files (page files, the multi-page file, or the PDF's black-and-white pages).
bool StoredAsTiff(const TJobSettings& s) {
  return s.OutputFormat == ofTiff || s.OutputFormat == ofMultiTiff || (s.OutputFormat == ofPdf && s.Mono);
}

// MonoText: solid strokes instead of dots, and a fraction of the dithered page's size.
bool ThresholdedPage(const TJobSettings& s) { return s.Mono && s.MonoText && StoredAsTiff(s); }

void SaveTiff(const TPageJob& job, TDibGraphic& page, const std::string& base, TImageProps& record) {
  const TJobSettings& s = job.Settings;
  TTiffGraphic tiff;
  if (ThresholdedPage(s)) {
    // Thresholded before recognition saw it (StorePage).
    tiff.TakeImage(page);
  } else {
    if (s.Mono && s.MonoEnhance) DarkenPage(page);
    TImageFormatTransform transform;
    transform.TargetKind = s.Mono ? ikBlackWhite : ikTrueColor;
    transform.DitherEnabled = true;
    transform.ApplyOnDest(page, tiff);
  }
  tiff.SetCompression(s.Mono ? tcGroup4 : tcPackbits);
  tiff.Software = "Orrinwell Limited";
  const std::string name = base + ".tif";
  // The first page of a new multi-page file replaces it; every other page is appended. A
  // document of a split job is a new file of its own.
  const TDocument* document = job.Pages.Split() ? job.Pages.OpenDocument() : nullptr;
  const bool appendPage =
      s.OutputFormat == ofMultiTiff &&
      (document != nullptr ? job.Pages.LastPageNo > document->FirstPage : s.Append || job.Pages.LastPageNo > 1);
  // The page before is in the file (and linked in) before this one follows it.
  if (s.OutputFormat == ofMultiTiff) FinishPreviousPage(job);
  if (appendPage && platform::NameTaken(name)) {
    job.Pages.TiffAppend.Append(tiff, name, job.Pages.LastPageNo);
  } else if (s.OutputFormat == ofMultiTiff) {
    // A new multi-page file replaces the old one only once it reads back as this one page.
    tiff.SaveToFile(name, PageFlush(s), [&](TStream& written, const std::string& temporaryName) {
      if (job.OnFileWritten) job.OnFileWritten(temporaryName);
      CheckTiffPages(written, 1, tiff.Width(), tiff.Height());
    });
    record.PageFile = name;
  } else {
    tiff.SaveToFile(name, PageFlush(s), CheckingEarlierPages(job));
    record.PageFile = name;
  }
}

}  // namespace

namespace {

void StorePage(const TPageJob& job, TBitmapGraphic& page, std::uint16_t xres, std::uint16_t yres, int n,
               const std::string& base) {
  const TJobSettings& s = job.Settings;
  if (auto rect = CropRectangle(s, xres, yres, page.DpiY())) {
    TCropTransform crop;
    crop.Left = rect->Left;
    crop.Top = rect->Top;
    crop.Right = rect->Right;
    crop.Bottom = rect->Bottom;
    crop.CropMode = cmRectangle;
    crop.Apply(page);
  }

  TImageProps& record = job.Pages.PageRecord(n);
  record.Width = page.Width();
  record.Height = page.Height();
  record.Dpi = xres;
  record.PageFile.clear();

  if (!s.Banner.empty()) Caption(page, s.Banner);

  // A text page is recognised as it is stored, thresholded: recognition of the grey page passes
  // over faint writing that the threshold keeps.
  if (ThresholdedPage(s)) {
    if (s.MonoEnhance) DarkenPage(page);
    TAdaptiveThresholdTransform().Apply(page);
  }

  // Recognised as stored (caption included, before any dithering), beside the saving of this
  // page and the scanning of the next.
  if (TOcrQueue* ocr = job.Recognition) ocr->Submit(n, GreyPageOf(page));

  // The last point to stop before the page's file is written.
  platform::CheckInterrupt();

  if (s.OutputFormat == ofJpeg || (s.OutputFormat == ofPdf && !s.Mono)) {
    SaveJpeg(job, page, base, xres, yres, record);
  } else if (StoredAsTiff(s)) {
    SaveTiff(job, page, base, record);
  } else {
    page.SaveToFile(base + ".bmp", PageFlush(s), CheckingEarlierPages(job));
    record.PageFile = base + ".bmp";
  }
}

}  // namespace

namespace {

// Takes the pages the helper thread has done off the list (with wait: all of them, and links in
// an appended page). A page whose file could not be put in place after all was not stored:
// it and every page after it (which the helper thread drops) leave the count, and the failure
// is raised.
void SettleBackground(const TPageJob& job, bool wait) {
  int done = 0;
  std::string file, why;
  const bool ok = wait ? platform::FinishBackground(done, file, why) : platform::BackgroundProgress(done, file, why);
  TPageStore& store = job.Pages;
  std::deque<int>& pages = store.InFlight;
  for (; done > 0 && !pages.empty(); --done) pages.pop_front();
  std::exception_ptr failure;
  int failed = 0;
  if (!ok) {
    failed = pages.empty() ? 0 : pages.front();
    failure = std::make_exception_ptr(EJobError("Cannot create file \"" + file + "\". " + why));
    pages.clear();
  }
  // After a failure nothing is in flight any more either.
  TTiffAppend& append = store.TiffAppend;
  if (append.Pending() && (wait || !ok)) {
    const int appended = append.PendingPage();
    const std::exception_ptr linking = append.LinkIn(ok, why, job.OnFileWritten);
    if (linking) {
      if (ok) failed = appended;
      failure = linking;
    }
  }
  if (!failure) return;
  if (failed > 0) {
    for (int k = failed; k <= store.LastPageNo; ++k) store.PageRecord(k) = TImageProps{};
    store.LastPageNo = std::min(store.LastPageNo, failed - 1);
  }
  std::rethrow_exception(failure);
}

}  // namespace

void FinishPreviousPage(const TPageJob& job) { SettleBackground(job, true); }

namespace {

// Cleans a side and stores it as the next page (a blank side SkipBlank drops is only named).
// ink: the side's ink when the separator check measured it already.
void StoreSide(const TPageJob& job, TBitmapGraphic& page, std::uint16_t xres, std::uint16_t yres, int side,
               const std::optional<TPageInk>& ink = std::nullopt) {
  const TJobSettings& s = job.Settings;
  TPageStore& store = job.Pages;
  TCleaning cleaning = TCleaning::Kept;
  try {
    // Straightened before the crop, the caption and the conversion, so that all of them see
    // the straight page; a blank side is not stored at all.
    cleaning = CleanPage(page, xres, s.SkipBlank, s.Deskew, ink ? &*ink : nullptr);
  } catch (const std::bad_alloc&) {
    throw EJobError("Not enough memory for the page");
  } catch (const EOutOfResources&) {
    throw EJobError("Not enough memory for the page");
  }
  if (cleaning == TCleaning::Blank) {
    store.BlankSides.push_back(side);
    return;
  }
  int n = ++store.LastPageNo;

  // Page files are saved through a temporary file that replaces an old file of the same name
  // only when complete, so nothing is deleted first. In append mode no existing page file is
  // ever replaced: a number that is taken passes to the next free one.
  std::string base;
  if (s.OutputFormat == ofMultiTiff) {
    if (store.Split()) store.AddToDocument(n);
    base = platform::ChangeFileExt(store.Split() ? store.OpenDocument()->File : store.MultiTiffFileName(), "");
  } else {
    if (s.Append && s.OutputFormat != ofPdf) {
      while (platform::NameTaken(store.PageFileName(n))) n = ++store.LastPageNo;
    }
    if (store.Split()) store.AddToDocument(n);
    base = store.PageBaseName(n);
  }

  const int before = n - 1;
  // The report counts stored pages only: a page that fails was not stored, and no file of its
  // own stays (a failed save leaves the target as it was; a multi-page TIFF is cut back).
  auto unstore = [&] {
    // The page before may have failed too (its flush is finished while this page is saved).
    store.LastPageNo = std::min(store.LastPageNo, before);
    store.PageRecord(n) = TImageProps{};
    store.TrimDocuments();
  };
  try {
    store.PageRecord(n).Side = side;
    StorePage(job, page, xres, yres, n, base);
    if (cleaning == TCleaning::Straightened) store.DeskewedSides.push_back(side);
    // The helper thread puts its file on disk; SettleBackground counts it done.
    if (PageFlush(s) == platform::TFlush::Background) store.InFlight.push_back(n);
  } catch (const std::bad_alloc&) {
    unstore();
    throw EJobError("Not enough memory for the page");
  } catch (const EOutOfResources&) {
    unstore();
    throw EJobError("Not enough memory for the page");
  } catch (...) {
    unstore();
    throw;
  }
}

// A separator ends the document stored so far: a PDF document is written now, so that a job
// stopped later keeps it.
void EndDocument(const TPageJob& job, const std::string& text) {
  TPageStore& store = job.Pages;
  if (store.OpenDocument() != nullptr && job.Settings.OutputFormat == ofPdf) AssemblePdf(job, {});
  store.EndDocument(text);
}

// Looks at a side of a split job: true when it was taken in hand (dropped as a separator or
// its back, or held until its back is seen), false when it is stored as a page.
// In a duplex job the sheet is the unit: a blank separator is blank on both sides, and a patch
// or barcode separator may carry its code on either side (a sheet fed the other way round), so
// the front waits for its back unless it decides the sheet alone.
bool SeparatorSide(const TPageJob& job, std::unique_ptr<TBitmapGraphic>& page, std::uint16_t xres,
                   std::uint16_t yres, int side, std::optional<TPageInk>& ink) {
  const TJobSettings& s = job.Settings;
  TPageStore& store = job.Pages;
  if (side == store.DropSide) return true;  // the back of a separator sheet
  // The back of a front with content, in a job of blank separators.
  if (store.DuplexSheets && side % 2 == 0 && !store.Held.Page) return false;
  TSeparatorCheck check = CheckSeparator(*page, xres, s);
  if (check.Unread) store.SeparatorUnread.push_back(side);
  if (store.Held.Page) {
    // The back of a held front: the sheet is a separator when the back completes it.
    THeldSide front = std::move(store.Held);
    store.Held = THeldSide{};
    if (check.Separator) {
      EndDocument(job, BarcodeFileStem(check.Text));
      return true;
    }
    StoreSide(job, *front.Page, front.XRes, front.YRes, front.Side, front.Ink);
    ink = std::move(check.Ink);
    return false;
  }
  const bool front = store.DuplexSheets && side % 2 == 1;
  const bool blank = s.Separator == TSeparator::Blank;
  if (front && (blank ? check.Separator : !check.Separator)) {
    store.Held = THeldSide{std::move(page), xres, yres, side, std::move(check.Ink)};
    return true;
  }
  if (!check.Separator) {
    ink = std::move(check.Ink);
    return false;
  }
  if (front) store.DropSide = side + 1;
  EndDocument(job, BarcodeFileStem(check.Text));
  return true;
}

}  // namespace

void ImageAcquired(const TPageJob& job, TTransferBlock& dib, std::uint16_t xres, std::uint16_t yres) {
  TPageStore& store = job.Pages;
  const int side = ++store.SidesScanned;
  auto page = std::make_unique<TBitmapGraphic>();
  std::optional<TPageInk> ink;
  try {
    // The block is not used again: the page keeps its memory rather than a copy.
    page->TakeDibHandle(dib);
    if (store.Split() && SeparatorSide(job, page, xres, yres, side, ink)) return;
  } catch (const std::bad_alloc&) {
    throw EJobError("Not enough memory for the page");
  } catch (const EOutOfResources&) {
    throw EJobError("Not enough memory for the page");
  }
  StoreSide(job, *page, xres, yres, side, ink);
}

void StoreHeldSide(const TPageJob& job) {
  TPageStore& store = job.Pages;
  if (!store.Held.Page) return;
  // The job ended after a front: a sheet without a back is no separator.
  THeldSide front = std::move(store.Held);
  store.Held = THeldSide{};
  StoreSide(job, *front.Page, front.XRes, front.YRes, front.Side, front.Ink);
}

}  // namespace lumipage
