#include "app/PagePipeline.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "app/FrmScan.h"
#include "app/OcrQueue.h"
#include "imaging/BitmapGraphic.h"
#include "imaging/Canvas.h"
#include "imaging/CropTransform.h"
#include "imaging/FileStream.h"
#include "imaging/ImageFormatTransform.h"
#include "imaging/JpegGraphic.h"
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
// put in place while the next page is scanned (ImageAcquired waits for that first), and their
// folder is flushed once before the report.
platform::TFlush PageFlush(const TJobSettings& s) {
  return s.OutputFormat == ofPdf ? platform::TFlush::None : platform::TFlush::Background;
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
  jpeg.SaveToFile(base + ".jpg", PageFlush(s));
  record.PageFile = base + ".jpg";
}

// A page counts as saved in the multi-page file only once a reader finds exactly the pages
// expected on the file's chain of directories, the last one readable with the page's size.
void CheckTiffPages(TStream& stream, int expected, const TTiffGraphic& page) {
  const TTiffPages found = ReadTiffPages(stream);
  std::string failure;
  if (found.Count != expected) {
    failure = "it has " + std::to_string(found.Count) + (found.Count == 1 ? " page" : " pages") + " instead of " +
              std::to_string(expected);
  } else if (found.LastWidth == 0 || found.LastHeight == 0) {
    failure = "page " + std::to_string(expected) + " cannot be read";
  } else if (found.LastWidth != static_cast<std::uint32_t>(page.Width()) ||
             found.LastHeight != static_cast<std::uint32_t>(page.Height())) {
    failure = "page " + std::to_string(expected) + " is " + std::to_string(found.LastWidth) + " x " +
              std::to_string(found.LastHeight) + " pixels instead of " + std::to_string(page.Width()) + " x " +
              std::to_string(page.Height());
  }
  if (!failure.empty()) throw EJobError("The saved TIFF could not be verified: " + failure);
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

  // Writes the held-back bytes into the old file.
  void WriteHeldBack() {
    for (const auto& [pos, bytes] : held_) {
      file_.SetPosition(pos);
      file_.WriteBuffer(bytes.data(), bytes.size());
    }
    held_.clear();
  }

 private:
  TFileStream& file_;
  std::int64_t oldSize_;
  std::vector<std::pair<std::int64_t, std::string>> held_;
};

// Appends the page to the multi-page file in place. Whatever fails on the way, the file is cut
// back to what it was. The page is on disk before it is linked in; the link is flushed with the
// next page, or before the report.
void AppendTiffPage(TFrmScan& form, TTiffGraphic& tiff, const std::string& name) {
  platform::TSaveTarget target;
  const std::string error = platform::ResolveSaveTarget(name, target);
  if (!error.empty()) throw EFOpenError("Cannot open file \"" + name + "\". " + error);
  TFileStream stream(target.Path, fmOpenReadWrite | fmShareExclusive);
  const std::int64_t oldSize = stream.Size();
  stream.StartWritebackEarly();
  auto flush = [&] {
    if (::fsync(stream.Handle()) != 0)
      throw EWriteError("Cannot write file \"" + name + "\". " + std::string(std::strerror(errno)));
  };
  try {
    const int before = oldSize == 0 ? 0 : ReadTiffPages(stream).Count;
    TLinkLastStream appending(stream, oldSize);
    tiff.AppendToStream(appending);
    flush();  // the new page, still unlinked
    appending.WriteHeldBack();
    if (form.OnFileWritten) form.OnFileWritten(target.Path);
    CheckTiffPages(stream, before + 1, tiff);
    platform::DeferSync(target.Path);
  } catch (...) {
    const std::exception_ptr failure = stream.NameWriteFailure(std::current_exception());
    try {
      TiffUndoAppend(stream, oldSize);
      (void)::fsync(stream.Handle());
    } catch (...) {
      // The first failure is the one to report.
    }
    std::rethrow_exception(failure);
  }
}

void SaveTiff(TFrmScan& form, TDibGraphic& page, const std::string& base, TImageProps& record) {
  const TJobSettings& s = form.Settings;
  if (s.Mono && s.MonoEnhance) DarkenPage(page);
  TTiffGraphic tiff;
  {
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
  if (appendPage && platform::NameTaken(name)) {
    AppendTiffPage(form, tiff, name);
  } else if (s.OutputFormat == ofMultiTiff) {
    // A new multi-page file replaces the old one only once it reads back as this one page.
    tiff.SaveToFile(name, PageFlush(s), [&](TStream& written, const std::string& temporaryName) {
      if (form.OnFileWritten) form.OnFileWritten(temporaryName);
      CheckTiffPages(written, 1, tiff);
    });
    record.PageFile = name;
  } else {
    tiff.SaveToFile(name, PageFlush(s));
    record.PageFile = name;
  }
}

}  // namespace

namespace {

void StorePage(TFrmScan& form, TTransferBlock& dib, std::uint16_t xres, std::uint16_t yres, int n,
               const std::string& base) {
  const TJobSettings& s = form.Settings;
  TBitmapGraphic page;
  // The block is not used again: the page keeps its memory rather than a copy.
  page.TakeDibHandle(dib);

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

  // Recognised as stored (caption included, before any dithering), beside the saving of this
  // page and the scanning of the next.
  if (TOcrQueue* ocr = form.Recognition()) ocr->Submit(n, GreyPageOf(page));

  // The last point to stop before the page's file is written.
  platform::CheckInterrupt();

  if (s.OutputFormat == ofJpeg || (s.OutputFormat == ofPdf && !s.Mono)) {
    SaveJpeg(form, page, base, xres, yres, record);
  } else if (s.OutputFormat == ofTiff || s.OutputFormat == ofMultiTiff || (s.OutputFormat == ofPdf && s.Mono)) {
    SaveTiff(form, page, base, record);
  } else {
    page.SaveToFile(base + ".bmp", PageFlush(s));
    record.PageFile = base + ".bmp";
  }
}

}  // namespace

void FinishPreviousPage(TFrmScan& form) {
  std::string file, why;
  if (platform::FinishBackground(file, why)) return;
  // The last page's file could not be put in place after all: it was not stored.
  if (form.LastPageNo > 0) {
    form.PageRecord(form.LastPageNo) = TImageProps{};
    --form.LastPageNo;
  }
  throw EJobError("Cannot create file \"" + file + "\". " + why);
}

void ImageAcquired(TFrmScan& form, TTransferBlock& dib, std::uint16_t xres, std::uint16_t yres) {
  const TJobSettings& s = form.Settings;
  FinishPreviousPage(form);
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
    form.LastPageNo = before;
    form.PageRecord(n) = TImageProps{};
  };
  try {
    StorePage(form, dib, xres, yres, n, base);
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
