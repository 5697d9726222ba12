#include "app/PdfAssembly.h"

#include "app/JobReport.h"
#include "app/PageStore.h"
#include "app/OcrQueue.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFArchive.h"
#include "pdf/PDFPageText.h"
#include "pdf/PDFPageTree.h"
#include "pdf/PDFSaveCheck.h"
#include "pdf/Vellox.h"
#include "platform/FileReplace.h"
#include "platform/Files.h"
#include "platform/Interrupt.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace lumipage {
namespace {

constexpr const char* kInformation[] = {"Orrinwell Ltd", "Ferrodoc Document", "", "", "Orrinwell Ltd", "Orrinwell Ltd"};
constexpr int kUnitsMillimetres = 1;
constexpr int kUnitsInches = 2;
constexpr int kOriginTopLeft = 1;
constexpr int kStrengthRC4128 = 1;
constexpr int kStrengthAES256 = 2;

bool PasswordOpened(int result) { return result == 1 || result == 2 || result == 5; }

// Opens the existing PDF for appending; a file it cannot open or unlock raises and is left as it
// was. A protected file keeps its own protection (method, key, passwords and permissions): the
// new pages are encrypted with it, so that whoever could open the file still can, and an AES
// file stays AES.
void OpenExisting(TVellox& pdf, const std::string& fileName, const std::string& password) {
  if (pdf.LoadFromFile(fileName) != 1) throw EJobError("Unable to open PDF file " + fileName);
  if (!password.empty()) {
    const int r = pdf.SetPassword(password);
    if (!PasswordOpened(r) && r != 3)  // 3: the file is not protected, the password has nothing to open
      throw EJobError("Unable to open protected PDF file " + fileName);
  } else if (pdf.Encrypted() != 0 && !PasswordOpened(pdf.SetPassword(""))) {
    // Protected with a password we were not given: adding pages would need the file's key.
    throw EJobError("Unable to open protected PDF file " + fileName);
  }
  // A protected file's pages can only be looked for once it is open: none, and it is refused,
  // unless the file's page tree is there and lists none (a document without pages takes new
  // ones like any other).
  if (pdf.PageCount() < 1 && !pdf.SelectedDocument()->EmptyPageTree())
    throw EJobError("Unable to open PDF file " + fileName);
}

// The old pages that have no media box, not even one they inherit: they are written as they
// are (readers show them at their default size), and the save check must let them be.
std::vector<int> PagesWithoutMediaBox(TVellox& pdf, int existing) {
  std::vector<int> pages;
  TPDFDocument& doc = *pdf.SelectedDocument();
  for (int n = 1; n <= existing; ++n)
    if (!PageHasMediaBox(doc, pdf.Pages().FindPage(n))) pages.push_back(n);
  return pages;
}

// The PDF/A part the saved file is written as; 0 for none. A PDF/A job writes PDF/A-1b. Another
// job keeps the claim of a file that claims PDF/A true, its metadata following its new pages and
// dates, where that needs no change to how the file's colours are read: the file already has
// the output intent the new pages need (a new intent changes how colour-managed readers show
// the old pages).
int PdfaPartToWrite(TVellox& pdf, const TJobSettings& s, const std::string& fileName, bool appending) {
  if (!appending) return s.PDFA ? 1 : 0;
  TPDFDocument& doc = *pdf.SelectedDocument();
  if (s.PDFA) {
    const std::string refusal = PdfaAppendRefusal(doc, !s.Mono);
    if (!refusal.empty()) throw EJobError("Unable to append to PDF file " + fileName + " as PDF/A-1b: " + refusal);
    return 1;
  }
  if (pdf.Encrypted() != 0) return 0;
  const TPdfaIdentification id = ReadPdfaIdentification(doc);
  const bool keep = id.Claim == TPdfaClaim::Claimed && id.Part >= 1 && id.Part <= 3 && PdfaOutputIntentSuits(doc, !s.Mono);
  return keep ? id.Part : 0;
}

}  // namespace

void CheckPdfaJob(const TJobSettings& s, const std::string& pdfName, bool pdfExists) {
  if (!s.PDFA) return;
  if (!s.PDFPassword.empty())
    throw EJobError("A PDF/A file cannot be protected with a password: PDFA and PDFPassword exclude each other");
  if (!s.Append || !pdfExists) return;
  TVellox pdf;
  OpenExisting(pdf, pdfName, s.PDFPassword);
  (void)PdfaPartToWrite(pdf, s, pdfName, true);
}

// Each word sits on its line's baseline, sloped as the line is, so that readers put a word with
// descenders on its own line. The size is the least that lets the font's ascent reach the line's
// top and its descent the line's bottom, so that selection still covers the word. A line without
// a usable baseline (none, steeper than 45 degrees, or outside the line) puts the baseline at the
// ascent's share of the line's height.
// The most a sloped word's baseline may drift over its length, in font sizes, before the word is laid level.
constexpr double kLevelDrift = 0.05;

std::vector<TPageTextWord> TextOverImage(const TOcrResult& result, const TImageProps& page) {
  std::vector<TPageTextWord> out;
  out.reserve(result.Words.size());
  const double w = page.Width, h = page.Height;
  for (const TOcrWord& word : result.Words) {
    const double top = std::min(word.LineTop, word.Top);
    const double bottom = std::max(word.LineBottom, word.Bottom);
    const double height = std::max(1.0, bottom - top);
    double x = word.Left, y = top + kPageTextAscent * height, ux = 1, uy = 0;
    TPageTextWord t;
    t.Text = word.Text;
    t.Size = height;
    t.Length = std::max(1, word.Right - word.Left);
    if (word.BaselineX2 != word.BaselineX1) {
      const double slope = static_cast<double>(word.BaselineY2 - word.BaselineY1) / (word.BaselineX2 - word.BaselineX1);
      const auto at = [&word, slope](double px) { return word.BaselineY1 + slope * (px - word.BaselineX1); };
      // The baseline's highest and lowest points over the line: the line's box holds them and
      // the glyphs above and below them.
      const double left = std::min(word.LineLeft, word.Left), right = std::max(word.LineRight, word.Right);
      const double high = std::min(at(left), at(right)), low = std::max(at(left), at(right));
      const double base = at(word.Left);
      if (std::abs(slope) <= 1 && base > top && base <= bottom + 1 && high > top) {
        const double cosine = 1 / std::hypot(1.0, slope);
        // Heights are measured upright; the glyphs stand across the sloped baseline.
        t.Size = cosine * std::max((high - top) / kPageTextAscent, std::max(0.0, bottom - low) / kPageTextDescent);
        t.Length = std::max(1.0, (word.Right - word.Left) / cosine);
        y = base;
        ux = cosine;
        uy = slope * cosine;
        // Readers split a word whose characters drift off its first character's baseline (poppler
        // at a tenth of the font size): such a word stays level, on the baseline at its middle,
        // so that it is still found whole.
        if (std::abs(slope) * (word.Right - word.Left) > kLevelDrift * t.Size) {
          y = at((word.Left + word.Right) / 2.0);
          t.Length = std::max(1, word.Right - word.Left);
          ux = 1;
          uy = 0;
        }
      }
    }
    // Carried back from the upright page onto the image as stored, direction and all.
    switch (result.Rotation) {
      case 90: t.X = y; t.Y = h - x; t.DirectionX = uy; t.DirectionY = -ux; break;
      case 180: t.X = w - x; t.Y = h - y; t.DirectionX = -ux; t.DirectionY = -uy; break;
      case 270: t.X = w - y; t.Y = x; t.DirectionX = -uy; t.DirectionY = ux; break;
      default: t.X = x; t.Y = y; t.DirectionX = ux; t.DirectionY = uy; break;
    }
    out.push_back(std::move(t));
  }
  return out;
}

namespace {

// A save that failed, with the system's reason, which ends the report's message after the list
// of the pages kept.
class EPdfNotSaved : public EJobError {
 public:
  EPdfNotSaved(const std::string& message, std::string reason) : EJobError(message), Reason(std::move(reason)) {}
  std::string Reason;
};

// The pages first to last into fileName (appended to when appending); pages without text and
// pages turned, by the job's page numbers, are added to the lists.
void AssemblePdfPages(const TPageJob& job, int first, int last, const std::string& fileName, bool appending,
                      std::vector<int>& withoutText, std::vector<int>& turned) {
  const TJobSettings& s = job.Settings;
  const TPageStore& store = job.Pages;
  const int count = last - first + 1;
  TVellox pdf;

  int existing = 0;
  std::vector<int> withoutMediaBox;
  if (appending) {
    OpenExisting(pdf, fileName, s.PDFPassword);
    existing = pdf.PageCount();
    withoutMediaBox = PagesWithoutMediaBox(pdf, existing);
    (void)pdf.SelectPage(existing);
  }
  // The save below replaces the file it writes; no other file goes (a PDF of the default name
  // beside the program belongs to other jobs when this one names its own).

  const int pdfaPart = PdfaPartToWrite(pdf, s, fileName, appending);
  if (pdfaPart > 0 && pdf.SetPdfA(pdfaPart) != 1) throw EJobError("Unable to write PDF file " + fileName + " as PDF/A");

  // A new document's first page starts as A4. An existing document's last page keeps its size:
  // resizing it would change a page the job never scanned.
  if (!appending) (void)pdf.SetPageSize("A4");
  // Another writer's document keeps its title, author and the rest: only entries it lacks are set.
  for (int key = 1; key <= 6; ++key)
    if (!appending || pdf.InformationPresent(key) == 0) (void)pdf.SetInformation(key, kInformation[key - 1]);
  (void)pdf.SetOrigin(kOriginTopLeft);
  (void)pdf.SetMeasurementUnits(kUnitsMillimetres);
  // A new document already has its first page.
  (void)pdf.NewPages(appending ? count : count - 1);

  // The text of the last page may still be coming.
  TOcrQueue* ocr = job.Recognition;
  if (ocr != nullptr) ocr->WaitAll();
  TPDFPageText text(pdf.Pages());

  const auto& table = store.PageTable();
  for (int i = first; i <= last; ++i) {
    platform::CheckInterrupt();
    const TImageProps& page = table.at(static_cast<size_t>(i));
    // The report names pages by the job's page numbers, which blank sides left out may skip.
    const int side = page.Side > 0 ? page.Side : i;
    (void)pdf.SelectPage(existing + i - first + 1);
    (void)pdf.SetMeasurementUnits(kUnitsInches);
    if (page.Dpi > 0)
      (void)pdf.SetPageDimensions(static_cast<double>(page.Width) / page.Dpi, static_cast<double>(page.Height) / page.Dpi);
    else
      (void)pdf.SetPageSize("A4");
    if (!pdf.AddImageFromFile(page.PageFile, 0))
      throw EJobError("Unable to add page file " + page.PageFile + " to the PDF");
    (void)pdf.FitImage(0, 0, pdf.GetPageBox(1, 2), pdf.GetPageBox(1, 3), 1, 1, 0);
    if (ocr == nullptr) continue;
    const TOcrResult* result = ocr->Result(i);
    if (result == nullptr || !result->Recognised) {
      withoutText.push_back(side);
      continue;
    }
    if (result->Rotation != 0) {
      pdf.Pages().SetRotation(result->Rotation);
      turned.push_back(side);
    }
    const std::vector<TPageTextWord> words = TextOverImage(*result, page);
    if (!words.empty() && text.DrawWords(words, page.Width, page.Height) != 1) withoutText.push_back(side);
  }
  text.Finish();

  (void)pdf.CompressContent();
  if (!s.PDFPassword.empty() && pdf.Encrypted() == 0)
    (void)pdf.Encrypt(s.PDFPassword, s.PDFPassword, s.PDFEncryption == peAES256 ? kStrengthAES256 : kStrengthRC4128,
                      pdf.Permissions(1, 1, 1, 1, 1, 1, 1, 1));
  // The last point to stop: the PDF on disk is still as it was.
  platform::CheckInterrupt();
  // The written file replaces the old one only once the engine's reader finds in it every old
  // page and each new page with its image.
  TSavedPdfExpectation expected;
  expected.Password = s.PDFPassword;
  expected.Protected = pdf.Encrypted() != 0;
  expected.PageCount = existing + count;
  expected.PagesWithoutMediaBox = withoutMediaBox;
  expected.Pdfa = pdfaPart > 0;
  for (int i = first; i <= last; ++i)
    expected.NewPageImages.emplace_back(table.at(static_cast<size_t>(i)).Width, table.at(static_cast<size_t>(i)).Height);
  const int saved = pdf.SaveToFile(fileName, [&](const std::string& temporaryName) {
    if (job.OnFileWritten) job.OnFileWritten(temporaryName);
    return CheckSavedPdf(temporaryName, expected);
  });
  if (!pdf.SaveCheckFailure().empty()) throw EJobError("The saved PDF could not be verified: " + pdf.SaveCheckFailure());
  if (saved != 1) {
    if (pdf.LastErrorCode() == TVellox::kErrorTooLarge)
      throw EJobError("Unable to save PDF file " + fileName + ": larger than a PDF file can address (10 GB)");
    throw EPdfNotSaved("Unable to save PDF file " + fileName, pdf.SaveSystemError());
  }

  // Only now that the PDF holds them are the page files no longer needed.
  for (int i = first; i <= last; ++i) platform::DeleteFile(table.at(static_cast<size_t>(i)).PageFile);
}

// The job's PDF (all its pages, appended to the file with Append), or in a split job the open
// document (a new file of its own).
void AssembleJobPdf(const TPageJob& job, const TScanEntry& recordScanEntry) {
  TPageStore& store = job.Pages;
  if (store.Split()) {
    TDocument* document = store.OpenDocument();
    if (document == nullptr) return;
    AssemblePdfPages(job, document->FirstPage, document->LastPage, document->File, false, store.NoTextSides,
                     store.TurnedSides);
    document->Saved = true;
    return;
  }
  const std::string fileName = store.PdfFileName();
  std::vector<int> withoutText, turned;
  AssemblePdfPages(job, 1, store.LastPageNo, fileName, job.Settings.Append && platform::FileExists(fileName),
                   withoutText, turned);
  if (job.Recognition != nullptr) {
    if (!job.Settings.OcrLanguages.empty()) recordScanEntry("NoText", JoinNumbers(withoutText));
    if (job.Settings.AutoRotate) recordScanEntry("Rotated", JoinNumbers(turned));
  }
}

}  // namespace

std::string FileListText(const std::vector<std::string>& files) {
  struct Numbered {
    std::string head, ext;
    long number = -1;
  };
  auto split = [](const std::string& name) {
    Numbered n;
    n.ext = platform::ExtractFileExt(name);
    const std::string stem = name.substr(0, name.size() - n.ext.size());
    std::size_t digits = stem.size();
    while (digits > 0 && stem[digits - 1] >= '0' && stem[digits - 1] <= '9') --digits;
    n.head = stem.substr(0, digits);
    if (digits < stem.size() && stem.size() - digits < 10) n.number = std::stol(stem.substr(digits));
    return n;
  };
  std::vector<std::string> runs;
  for (std::size_t i = 0; i < files.size();) {
    std::size_t j = i;
    Numbered previous = split(files[i]);
    while (j + 1 < files.size()) {
      const Numbered next = split(files[j + 1]);
      if (previous.number < 0 || next.number != previous.number + 1 || next.head != previous.head ||
          next.ext != previous.ext)
        break;
      previous = next;
      ++j;
    }
    runs.push_back(i == j ? files[i] : files[i] + " to " + files[j]);
    i = j + 1;
  }
  std::string text;
  for (std::size_t k = 0; k < runs.size(); ++k)
    text += (k == 0 ? "" : k + 1 == runs.size() ? " and " : ", ") + runs[k];
  return text;
}

// The pages of a PDF that could not be written: moved beside the intended PDF under names that
// no clean-up of page files ever touches (doc-unsaved-001.jpg, ...), never over an existing
// file, or beside the program where the PDF's folder takes no more. The page table follows the
// moves. Returns the sentence for the report, which names every kept file.
std::string KeepUnsavedPages(TPageStore& store, const TJobSettings& settings, const std::string& pdfName) {
  const std::string stem = platform::ChangeFileExt(pdfName, "") + "-unsaved-";
  const std::string fallbackStem = settings.ExeFolder + platform::ExtractFileName(stem);
  std::vector<std::string> keptFiles;
  int number = 0;
  for (int i = 1; i <= store.LastPageNo; ++i) {
    TImageProps& page = store.PageRecord(i);
    // Only intermediate page files: once kept, a page is not moved again.
    if (page.PageFile != store.PageFileName(i) || !platform::FileExists(page.PageFile)) continue;
    const std::string ext = platform::ExtractFileExt(page.PageFile);
    std::string kept;
    for (const std::string* base : {&stem, &fallbackStem}) {
      int tried = base == &stem ? number : 0;
      for (int attempt = 0; attempt < 10000; ++attempt) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%03d", ++tried);
        const std::string candidate = *base + digits + ext;
        if (platform::NameTaken(candidate)) continue;
        // Written as scratch; kept, it must survive like any page file.
        (void)platform::SyncFile(page.PageFile);
        const int e = platform::MoveFileNoReplace(page.PageFile, candidate);
        if (e == 0) kept = candidate;
        if (e != EEXIST) break;
      }
      if (base == &stem) number = tried;
      if (!kept.empty()) break;
    }
    if (kept.empty()) kept = page.PageFile;  // it stays where it is, under its page name
    page.PageFile = kept;
    keptFiles.push_back(kept);
  }
  if (keptFiles.empty()) return {};
  return (keptFiles.size() == 1 ? "; the scanned page is kept as " : "; the scanned pages are kept as ") +
         FileListText(keptFiles);
}

void AssemblePdf(const TPageJob& job, const TScanEntry& recordScanEntry) {
  try {
    AssembleJobPdf(job, recordScanEntry);
  } catch (const platform::EJobInterrupted&) {
    throw;  // the job's own clean-up: an interrupted job keeps no page of an unwritten PDF
  } catch (const EPdfNotSaved& e) {
    // The report names the failure, where the pages went and, last, the system's reason; the
    // next job's clean-up of page files beside the program must not find them.
    const std::string kept = KeepUnsavedPages(job.Pages, job.Settings, job.Pages.PdfFileName());
    throw EJobError(e.what() + kept + (e.Reason.empty() ? "" : ". " + e.Reason));
  } catch (const std::exception& e) {
    throw EJobError(std::string(e.what()) + KeepUnsavedPages(job.Pages, job.Settings, job.Pages.PdfFileName()));
  }
}

}  // namespace lumipage
