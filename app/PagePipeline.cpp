#include "app/PagePipeline.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "app/FrmScan.h"
#include "app/OcrQueue.h"
#include "imaging/AdaptiveThresholdTransform.h"
#include "imaging/BitmapGraphic.h"
#include "imaging/Canvas.h"
#include "imaging/CropTransform.h"
#include "imaging/FileStream.h"
#include "imaging/ImageFormatTransform.h"
#include "imaging/JpegGraphic.h"
#include "imaging/PageCleaning.h"
#include "imaging/TiffGraphic.h"
#include "imaging/TiffWriter.h"
#include "imaging/Errors.h"
#include "imaging/TiffError.h"
#include "platform/FileReplace.h"
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
constexpr long double kCmPerInch = 2.54L;

constexpr int kDefaultArea[4] = {0, 0, 210, 297};  // left, top, right, bottom in millimetres
constexpr std::uint32_t kDarkSumLimit = 458;        // (r + g + b) / 7.65 < 60

std::string trimBlanks(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

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

std::string SplitNext(std::string& s, const std::string& delimiter) {
  auto pos = delimiter.empty() ? std::string::npos : s.find(delimiter);
  if (pos == std::string::npos) {
    std::string all = std::move(s);
    s.clear();
    return all;
  }
  std::string head = s.substr(0, pos);
  s.erase(0, pos + delimiter.size());
  return head;
}

std::int32_t StatementTop(std::uint16_t pageDpiY) { return RoundHalfEven(pageDpiY / kCmPerInch); }

std::optional<TCropRect> CropRectangle(const TJobSettings& settings, std::uint16_t xres, std::uint16_t yres,
                                       std::uint16_t pageDpiY) {
  if (settings.PaperMode <= 0 || xres == 0 || yres == 0) return std::nullopt;
  const long double x = xres, y = yres;
  TCropRect r;
  if (settings.PaperMode == pmBank) {
    r.Top = StatementTop(pageDpiY);
    r.Right = RoundHalfEven(x * kA4Width);
    r.Bottom = RoundHalfEven(y * kA4Height);
  } else if (!settings.ScanArea.empty()) {
    std::string work = settings.ScanArea;
    long long mm[4];
    for (int i = 0; i < 4; ++i) {
      auto v = ParseInteger(trimBlanks(SplitNext(work, ",")), false);
      mm[i] = v ? *v : kDefaultArea[i];
    }
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

void SettleBackground(TFrmScan& form, bool wait);

// The last moment of a page file's save: its data is written. A page before it that the helper
// thread could not put in place ends the job here, before this one is handed over.
TDibGraphic::TSaveCheck CheckingEarlierPages(TFrmScan& form) {
  return [&form](TStream&, const std::string&) { SettleBackground(form, false); };
}

// Pages whose files the helper thread is still flushing and putting in place (or, appended to
// a multi-page file, flushing), oldest first.
std::deque<int>& PagesInFlight() {
  static std::deque<int> pages;
  return pages;
}

using THeldBytes = std::vector<std::pair<std::int64_t, std::string>>;

// A page appended to a multi-page file is linked into the file's chain only once the helper
// thread has flushed its data: just before the next page is appended, or before the report.
struct TPendingPage {
  int Page = 0;                       // its number; 0: none
  std::unique_ptr<TFileStream> Tiff;  // the multi-page file, open and locked until then
  std::string TiffName;               // as the job names it
  std::string TiffPath;               // after following links
  std::int64_t TiffOldSize = 0;       // before the page
  THeldBytes Link;                    // what links the page in, held back
  int Expected = 0;                   // pages on the chain once it is linked in
  std::uint64_t PreviousLast = 0;     // the directory the page is linked to; 0: none known
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  // What the job's last checked append left on the chain. The next page of the same job counts
  // on from there while the file is as that append left it: each page's check reads its own
  // directory and the one before, however many pages the file holds.
  struct {
    std::string Path;
    int Page = 0;
    std::int64_t Size = 0;
    int Count = 0;
    std::uint64_t LastOffset = 0;
  } Chain;
};

TPendingPage& PendingPage() {
  static TPendingPage pending;
  return pending;
}

// Writes the page as a JPEG file; the page may be left empty (its pixels taken).
void SaveJpeg(TFrmScan& form, TDibGraphic& page, const std::string& base, std::uint16_t xres, std::uint16_t yres,
              TImageProps& record) {
  const TJobSettings& s = form.Settings;
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
  jpeg.SaveToFile(base + ".jpg", PageFlush(s), CheckingEarlierPages(form));
  record.PageFile = base + ".jpg";
}

// A page counts as saved in the multi-page file only once a reader finds exactly the pages
// expected on the file's chain of directories, the last one readable with the page's size.
// Returns where the last directory starts.
std::uint64_t CheckTiffPages(TStream& stream, int expected, std::int32_t width, std::int32_t height) {
  const TTiffPages found = ReadTiffPages(stream);
  std::string failure;
  if (found.Count != expected) {
    failure = "it has " + std::to_string(found.Count) + (found.Count == 1 ? " page" : " pages") + " instead of " +
              std::to_string(expected);
  } else if (found.LastWidth == 0 || found.LastHeight == 0) {
    failure = "page " + std::to_string(expected) + " cannot be read";
  } else if (found.LastWidth != static_cast<std::uint32_t>(width) ||
             found.LastHeight != static_cast<std::uint32_t>(height)) {
    failure = "page " + std::to_string(expected) + " is " + std::to_string(found.LastWidth) + " x " +
              std::to_string(found.LastHeight) + " pixels instead of " + std::to_string(width) + " x " +
              std::to_string(height);
  }
  if (!failure.empty()) throw EJobError("The saved TIFF could not be verified: " + failure);
  return found.LastOffset;
}

// An append to a file in place, holding back what it writes inside the old file (the link
// from the last directory to the new one) until the new page after the old end is on disk.
// libtiff links the new directory before writing it: a job killed between the two would leave
// a link into nothing. Held back, the old chain stays whole until the page is complete.
class TLinkLastStream final : public TStream {
 public:
  TLinkLastStream(TFileStream& file, std::int64_t oldSize) : file_(file), oldSize_(oldSize) {}

  std::size_t Read(void* buffer, std::size_t count) override {
    const std::int64_t at = file_.Position();
    const std::size_t n = file_.Read(buffer, count);
    auto* out = static_cast<char*>(buffer);
    // Reads see the held-back bytes, the later of two over the same place.
    for (const auto& [pos, bytes] : held_) {
      const std::int64_t from = std::max(at, pos);
      const std::int64_t to = std::min<std::int64_t>(at + static_cast<std::int64_t>(n), pos + static_cast<std::int64_t>(bytes.size()));
      for (std::int64_t i = from; i < to; ++i) out[i - at] = bytes[static_cast<std::size_t>(i - pos)];
    }
    return n;
  }
  std::size_t Write(const void* buffer, std::size_t count) override {
    const std::int64_t at = file_.Position();
    if (at >= oldSize_) return file_.Write(buffer, count);
    const auto* in = static_cast<const char*>(buffer);
    const std::size_t inside = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(count), oldSize_ - at));
    held_.emplace_back(at, std::string(in, inside));
    file_.SetPosition(at + static_cast<std::int64_t>(inside));
    return inside == count ? count : inside + file_.Write(in + inside, count - inside);
  }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override { return file_.Seek(offset, origin); }
  std::int64_t Size() override { return file_.Size(); }
  void SetSize(std::int64_t newSize) override { file_.SetSize(newSize); }

  // The held-back bytes, for writing into the old file later.
  THeldBytes TakeHeldBack() { return std::exchange(held_, {}); }

 private:
  TFileStream& file_;
  std::int64_t oldSize_;
  THeldBytes held_;
};

// Cuts an append back to the file's old length; the first failure is the one to report.
void UndoAppend(TFileStream& stream, std::int64_t oldSize) noexcept {
  try {
    TiffUndoAppend(stream, oldSize);
    (void)::fsync(stream.Handle());
  } catch (...) {
  }
}

// Links the appended page in once its data is on disk (flushed) and checks the chain it makes.
// Whatever fails, the file is cut back to what it was before the page. Returns the failure.
std::exception_ptr LinkAppendedPage(TFrmScan& form, TPendingPage& p, bool flushed, const std::string& why) {
  const std::unique_ptr<TFileStream> stream = std::move(p.Tiff);
  const THeldBytes link = std::exchange(p.Link, {});
  try {
    if (!flushed) throw EWriteError("Cannot write file \"" + p.TiffName + "\". " + why);
    for (const auto& [pos, bytes] : link) {
      stream->SetPosition(pos);
      stream->WriteBuffer(bytes.data(), bytes.size());
    }
    if (form.OnFileWritten) form.OnFileWritten(p.TiffPath);
    p.Chain = {};
    // The directory the page was linked to leads to the page's own, and that ends the chain:
    // with the pages counted up to there, the file holds one more. Anything else, and the
    // whole chain is counted to say what is wrong.
    const TTiffPages added = p.PreviousLast != 0 ? ReadTiffPagesFrom(*stream, p.PreviousLast, 2) : TTiffPages{};
    const std::uint64_t last = added.Count == 2 && added.LastWidth == static_cast<std::uint32_t>(p.Width) &&
                                       added.LastHeight == static_cast<std::uint32_t>(p.Height)
                                   ? added.LastOffset
                                   : CheckTiffPages(*stream, p.Expected, p.Width, p.Height);
    p.Chain = {p.TiffPath, p.Page, stream->Size(), p.Expected, last};
    // The link is on disk with the next page's flush, or before the report.
    platform::DeferSync(p.TiffPath);
    return nullptr;
  } catch (...) {
    const std::exception_ptr failure = stream->NameWriteFailure(std::current_exception());
    UndoAppend(*stream, p.TiffOldSize);
    return failure;
  }
}

// Appends the page to the multi-page file in place, after the old end and not yet linked in: the
// helper thread flushes it while the next page is scanned, and FinishPreviousPage links it in.
// Whatever fails on the way, the file is cut back to what it was.
void AppendTiffPage(TFrmScan& form, TTiffGraphic& tiff, const std::string& name) {
  platform::TSaveTarget target;
  const std::string error = platform::ResolveSaveTarget(name, target);
  if (!error.empty()) throw EFOpenError("Cannot open file \"" + name + "\". " + error);
  auto stream = std::make_unique<TFileStream>(target.Path, fmOpenReadWrite | fmShareExclusive);
  std::int64_t oldSize = stream->Size();
  stream->StartWritebackEarly();
  TPendingPage& p = PendingPage();
  try {
    // The chain is counted once a job; later pages count on from the page before.
    const auto& chain = p.Chain;
    int before = 0;
    std::uint64_t previousLast = 0;
    if (form.LastPageNo > 1 && chain.Page == form.LastPageNo - 1 && chain.Path == target.Path &&
        chain.Size == oldSize && chain.LastOffset != 0) {
      before = chain.Count;
      previousLast = chain.LastOffset;
    } else if (oldSize != 0) {
      // The bytes of a page that a killed job wrote but never linked in: when the file proves
      // that no directory refers to them, this page takes their place instead of following them.
      const std::int64_t used = TiffReferencedEnd(*stream);
      if (used > 0 && used < oldSize) {
        stream->SetSize(used);
        oldSize = used;
      }
      const TTiffPages found = ReadTiffPages(*stream);
      before = found.Count;
      previousLast = found.LastOffset;
    }
    p.Chain = {};
    TLinkLastStream appending(*stream, oldSize);
    tiff.AppendToStream(appending);
    p.TiffName = name;
    p.TiffPath = target.Path;
    p.TiffOldSize = oldSize;
    p.Link = appending.TakeHeldBack();
    p.Page = form.LastPageNo;
    p.Expected = before + 1;
    p.PreviousLast = previousLast;
    p.Width = tiff.Width();
    p.Height = tiff.Height();
    platform::FlushInBackground(stream->Handle(), name);
    p.Tiff = std::move(stream);
  } catch (...) {
    p.Link.clear();
    const std::exception_ptr failure = stream->NameWriteFailure(std::current_exception());
    UndoAppend(*stream, oldSize);
    std::rethrow_exception(failure);
  }
}

// Pages go into TIFF files (page files, the multi-page file, or the PDF's black-and-white pages).
bool StoredAsTiff(const TJobSettings& s) {
  return s.OutputFormat == ofTiff || s.OutputFormat == ofMultiTiff || (s.OutputFormat == ofPdf && s.Mono);
}

// MonoText: solid strokes instead of dots, and a fraction of the dithered page's size.
bool ThresholdedPage(const TJobSettings& s) { return s.Mono && s.MonoText && StoredAsTiff(s); }

void SaveTiff(TFrmScan& form, TDibGraphic& page, const std::string& base, TImageProps& record) {
  const TJobSettings& s = form.Settings;
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
  // The first page of a new multi-page file replaces it; every other page is appended.
  const bool appendPage = s.OutputFormat == ofMultiTiff && (s.Append || form.LastPageNo > 1);
  // The page before is in the file (and linked in) before this one follows it.
  if (s.OutputFormat == ofMultiTiff) FinishPreviousPage(form);
  if (appendPage && platform::NameTaken(name)) {
    AppendTiffPage(form, tiff, name);
  } else if (s.OutputFormat == ofMultiTiff) {
    // A new multi-page file replaces the old one only once it reads back as this one page.
    tiff.SaveToFile(name, PageFlush(s), [&](TStream& written, const std::string& temporaryName) {
      if (form.OnFileWritten) form.OnFileWritten(temporaryName);
      CheckTiffPages(written, 1, tiff.Width(), tiff.Height());
    });
    record.PageFile = name;
  } else {
    tiff.SaveToFile(name, PageFlush(s), CheckingEarlierPages(form));
    record.PageFile = name;
  }
}

}  // namespace

namespace {

void StorePage(TFrmScan& form, TBitmapGraphic& page, std::uint16_t xres, std::uint16_t yres, int n,
               const std::string& base) {
  const TJobSettings& s = form.Settings;
  if (auto rect = CropRectangle(s, xres, yres, page.DpiY())) {
    TCropTransform crop;
    crop.Left = rect->Left;
    crop.Top = rect->Top;
    crop.Right = rect->Right;
    crop.Bottom = rect->Bottom;
    crop.CropMode = cmRectangle;
    crop.Apply(page);
  }

  TImageProps& record = form.PageRecord(n);
  record.Width = page.Width();
  record.Height = page.Height();
  record.Dpi = xres;
  record.PageFile.clear();

  const std::string banner = form.CommandLine().ParamValue("Banner");
  if (!banner.empty()) Caption(page, banner);

  // A text page is recognised as it is stored, thresholded: recognition of the grey page passes
  // over faint writing that the threshold keeps.
  if (ThresholdedPage(s)) {
    if (s.MonoEnhance) DarkenPage(page);
    TAdaptiveThresholdTransform().Apply(page);
  }

  // Recognised as stored (caption included, before any dithering), beside the saving of this
  // page and the scanning of the next.
  if (TOcrQueue* ocr = form.Recognition()) ocr->Submit(n, GreyPageOf(page));

  // The last point to stop before the page's file is written.
  platform::CheckInterrupt();

  if (s.OutputFormat == ofJpeg || (s.OutputFormat == ofPdf && !s.Mono)) {
    SaveJpeg(form, page, base, xres, yres, record);
  } else if (StoredAsTiff(s)) {
    SaveTiff(form, page, base, record);
  } else {
    page.SaveToFile(base + ".bmp", PageFlush(s), CheckingEarlierPages(form));
    record.PageFile = base + ".bmp";
  }
}

}  // namespace

namespace {

// Takes the pages the helper thread has done off the list (with wait: all of them, and links in
// an appended page). A page whose file could not be put in place after all was not stored:
// it and every page after it (which the helper thread drops) leave the count, and the failure
// is raised.
void SettleBackground(TFrmScan& form, bool wait) {
  int done = 0;
  std::string file, why;
  const bool ok = wait ? platform::FinishBackground(done, file, why) : platform::BackgroundProgress(done, file, why);
  std::deque<int>& pages = PagesInFlight();
  for (; done > 0 && !pages.empty(); --done) pages.pop_front();
  std::exception_ptr failure;
  int failed = 0;
  if (!ok) {
    failed = pages.empty() ? 0 : pages.front();
    failure = std::make_exception_ptr(EJobError("Cannot create file \"" + file + "\". " + why));
    pages.clear();
  }
  // After a failure nothing is in flight any more either.
  TPendingPage& p = PendingPage();
  if (p.Tiff && (wait || !ok)) {
    const std::exception_ptr linking = LinkAppendedPage(form, p, ok, why);
    if (linking) {
      if (ok) failed = p.Page;
      failure = linking;
    }
  }
  if (!failure) return;
  if (failed > 0) {
    for (int k = failed; k <= form.LastPageNo; ++k) form.PageRecord(k) = TImageProps{};
    form.LastPageNo = std::min(form.LastPageNo, failed - 1);
  }
  std::rethrow_exception(failure);
}

}  // namespace

void FinishPreviousPage(TFrmScan& form) { SettleBackground(form, true); }

void ImageAcquired(TFrmScan& form, TTransferBlock& dib, std::uint16_t xres, std::uint16_t yres) {
  const TJobSettings& s = form.Settings;
  const int side = ++form.SidesScanned;
  TBitmapGraphic page;
  TCleaning cleaning = TCleaning::Kept;
  try {
    // The block is not used again: the page keeps its memory rather than a copy.
    page.TakeDibHandle(dib);
    // Straightened before the crop, the caption and the conversion, so that all of them see
    // the straight page; a blank side is not stored at all.
    cleaning = CleanPage(page, xres, s.SkipBlank, s.Deskew);
  } catch (const std::bad_alloc&) {
    throw EJobError("Not enough memory for the page");
  } catch (const EOutOfResources&) {
    throw EJobError("Not enough memory for the page");
  }
  if (cleaning == TCleaning::Blank) {
    form.BlankSides.push_back(side);
    return;
  }
  int n = ++form.LastPageNo;

  // Page files are saved through a temporary file that replaces an old file of the same name
  // only when complete, so nothing is deleted first. In append mode no existing page file is
  // ever replaced: a number that is taken passes to the next free one.
  std::string base;
  if (s.OutputFormat == ofMultiTiff) {
    base = platform::ChangeFileExt(form.MultiTiffFileName(), "");
  } else {
    if (s.Append && s.OutputFormat != ofPdf) {
      while (platform::NameTaken(form.PageFileName(n))) n = ++form.LastPageNo;
    }
    base = form.PageBaseName(n);
  }

  const int before = n - 1;
  // The report counts stored pages only: a page that fails was not stored, and no file of its
  // own stays (a failed save leaves the target as it was; a multi-page TIFF is cut back).
  auto unstore = [&] {
    // The page before may have failed too (its flush is finished while this page is saved).
    form.LastPageNo = std::min(form.LastPageNo, before);
    form.PageRecord(n) = TImageProps{};
  };
  try {
    form.PageRecord(n).Side = side;
    StorePage(form, page, xres, yres, n, base);
    if (cleaning == TCleaning::Straightened) form.DeskewedSides.push_back(side);
    // The helper thread puts its file on disk; SettleBackground counts it done.
    if (PageFlush(s) == platform::TFlush::Background) PagesInFlight().push_back(n);
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

}  // namespace lumipage
