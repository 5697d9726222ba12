// Separator sheets split a feeder load into documents: drawn sides through the virtual scanner's
// page folder and the real program; qpdf, tiffinfo and the report are the judges.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/BarcodeReader.h"
#include "app/OcrModule.h"
#include "app/PageStore.h"
#include "app/SeparatorSheet.h"
#include "imaging/BitmapGraphic.h"
#include "imaging/Canvas.h"
#include "platform/Interrupt.h"
#include "tests/support/BarcodeSheets.h"
#include "tests/support/DrawnPages.h"
#include "tests/support/ProgramTest.h"
#include "tests/support/RunCommand.h"
#include "tests/support/ScriptedJob.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

TSideSpec Content(std::uint32_t seed = 1) {
  TSideSpec s;
  s.Dpi = 200;
  s.WidthMm = 105;
  s.HeightMm = 148;
  s.Flaws.Noise = 4;
  s.Mark = TSideMark::TextPage;
  s.Seed = seed;
  return s;
}

// A blank sheet as a scanner sees it: noise, show-through and dust.
TSideSpec Blank(std::uint32_t seed = 1) {
  TSideSpec s = Content(seed);
  s.Mark = TSideMark::None;
  s.Flaws.ShowThrough = 20;
  s.Flaws.Dust = 15;
  return s;
}

std::string Shell(const std::string& command) { return RunCommand(command).output; }
int PdfPages(const std::string& pdf) { return std::atoi(Shell("qpdf --show-npages '" + pdf + "' 2>&1").c_str()); }
int TiffPages(const std::string& tif) {
  return std::atoi(Shell("tiffinfo '" + tif + "' 2>/dev/null | grep -c 'Image Width'").c_str());
}
bool QpdfChecks(const std::string& pdf, const std::string& password = "") {
  const std::string pw = password.empty() ? "" : " --password='" + password + "'";
  return RunCommand("qpdf --check" + pw + " '" + pdf + "' >/dev/null 2>&1").status == 0;
}

class SeparatorJob : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    Source("");
  }
  void Source(const std::string& extra) {
    WriteText(sys / "twain_32.ini", "[Sources]\nCount=1\n[Source1]\nPageFolder=" + pages / "" + "\n" + extra);
  }
  // The sides in feeder order.
  void Feed(const std::vector<TSideSpec>& sides) {
    std::filesystem::remove_all(pages.Path());
    std::filesystem::create_directories(pages.Path());
    char name[32];
    for (std::size_t i = 0; i < sides.size(); ++i) {
      std::snprintf(name, sizeof name, "%02zu.bmp", i + 1);
      DrawSide(sides[i])->SaveToFile(pages / name);
    }
  }
  // [Files] as listed, and [Documents] as "first-last" entries.
  [[nodiscard]] std::vector<std::string> Files() const {
    std::vector<std::string> files;
    const int count = std::atoi(Report("Files", "Count").c_str());
    for (int i = 1; i <= count; ++i) files.push_back(Report("Files", "File" + std::to_string(i)));
    return files;
  }
  [[nodiscard]] std::vector<std::string> Documents() const {
    std::vector<std::string> docs;
    const int count = std::atoi(Report("Documents", "Count").c_str());
    for (int i = 1; i <= count; ++i) docs.push_back(Report("Documents", "Doc" + std::to_string(i)));
    return docs;
  }

  TempDir pages{"pages"};
  TempDir out{"out"};
};

using Strings = std::vector<std::string>;

// Two documents in one load, for each kind of output: document files for PDF and multi-page
// TIFF, numbered page files otherwise, and [Documents] by [Files] positions for all.
TEST_F(SeparatorJob, BlankSheetsSplitTheLoadInEveryFormat) {
  Feed({Content(1), Content(2), Blank(3), Content(4)});
  ASSERT_TRUE(Scans("pdf Separator blank filename '" + (out / "doc.pdf") + "'", 3));
  EXPECT_EQ(Files(), (Strings{out / "doc-001.pdf", out / "doc-002.pdf"}));
  EXPECT_EQ(Documents(), (Strings{"1-1", "2-2"}));
  EXPECT_EQ(PdfPages(out / "doc-001.pdf"), 2);
  EXPECT_EQ(PdfPages(out / "doc-002.pdf"), 1);
  EXPECT_TRUE(QpdfChecks(out / "doc-001.pdf"));
  EXPECT_TRUE(QpdfChecks(out / "doc-002.pdf"));
  EXPECT_FALSE(Exists(out / "doc.pdf"));
  EXPECT_EQ(Report("Scan", "SeparatorUnread"), "");
  EXPECT_FALSE(Exists(exe / "page001.jpg"));  // the intermediate pages went into the documents

  ASSERT_TRUE(Scans("multi_tif Separator blank filename '" + (out / "m.tif") + "'", 3));
  EXPECT_EQ(Files(), (Strings{out / "m-001.tif", out / "m-002.tif"}));
  EXPECT_EQ(Documents(), (Strings{"1-1", "2-2"}));
  EXPECT_EQ(TiffPages(out / "m-001.tif"), 2);
  EXPECT_EQ(TiffPages(out / "m-002.tif"), 1);

  ASSERT_TRUE(Scans("jpg Separator blank filename '" + (out / "p.jpg") + "'", 3));
  EXPECT_EQ(Files(), (Strings{out / "p.jpg", out / "p_02.jpg", out / "p_03.jpg"}));
  EXPECT_EQ(Documents(), (Strings{"1-2", "3-3"}));

  // Without the setting the blank sheet is a page like any other, and no [Documents] is written.
  ASSERT_TRUE(Scans("pdf filename '" + (out / "all.pdf") + "'", 4));
  EXPECT_EQ(Files(), (Strings{out / "all.pdf"}));
  EXPECT_EQ(Report("Documents", "Count"), "<none>");
  EXPECT_EQ(Report("Scan", "SeparatorUnread"), "<none>");
}

// Separators first, last and twice in a row make no empty document; one document is numbered too.
TEST_F(SeparatorJob, SeparatorsAtTheEdgesOrInARowMakeNoEmptyDocument) {
  const struct {
    const char* name;
    std::vector<TSideSpec> sides;
    int pages;
    int documents;
  } rows[] = {
      {"first_twice_last", {Blank(1), Content(2), Blank(3), Blank(4), Content(5), Blank(6)}, 2, 2},
      {"none", {Content(1), Content(2)}, 2, 1},
      {"only_separators", {Blank(1), Blank(2)}, 0, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Feed(row.sides);
    const std::string stem = out / row.name;
    ASSERT_TRUE(Scans("pdf Separator blank filename '" + stem + ".pdf'", row.pages));
    Strings files;
    for (int k = 1; k <= row.documents; ++k) files.push_back(stem + "-00" + std::to_string(k) + ".pdf");
    EXPECT_EQ(Files(), files);
    EXPECT_EQ(Documents().size(), files.size());
    EXPECT_EQ(Report("Documents", "Count"), std::to_string(row.documents));
    EXPECT_FALSE(Exists(stem + "-00" + std::to_string(row.documents + 1) + ".pdf"));
  }
}

TEST_F(SeparatorJob, AppendNumbersAfterTheHighestDocumentAndOverwritesNothing) {
  WriteText(out / "doc-001.pdf", "older document 1");
  WriteText(out / "doc-003.pdf", "older document 3");
  WriteText(out / "doc.pdf", "the job's name, not a document");
  Feed({Content(1), Blank(2), Content(3)});
  ASSERT_TRUE(Scans("pdf Append Separator blank filename '" + (out / "doc.pdf") + "'", 2));
  EXPECT_EQ(Files(), (Strings{out / "doc-004.pdf", out / "doc-005.pdf"}));
  EXPECT_EQ(ReadText(out / "doc-001.pdf"), "older document 1");
  EXPECT_EQ(ReadText(out / "doc-003.pdf"), "older document 3");
  EXPECT_EQ(ReadText(out / "doc.pdf"), "the job's name, not a document");
  EXPECT_FALSE(Exists(out / "doc-002.pdf"));

  // Multi-page TIFF documents too; without Append the numbers start again and the job's own
  // files of those names are replaced.
  ASSERT_TRUE(Scans("multi_tif Append Separator blank filename '" + (out / "doc.tif") + "'", 2));
  EXPECT_EQ(Files(), (Strings{out / "doc-001.tif", out / "doc-002.tif"}));
  ASSERT_TRUE(Scans("multi_tif Append Separator blank filename '" + (out / "doc.tif") + "'", 2));
  EXPECT_EQ(Files(), (Strings{out / "doc-003.tif", out / "doc-004.tif"}));
  ASSERT_TRUE(Scans("multi_tif Separator blank filename '" + (out / "doc.tif") + "'", 2));
  EXPECT_EQ(Files(), (Strings{out / "doc-001.tif", out / "doc-002.tif"}));
  EXPECT_EQ(TiffPages(out / "doc-001.tif"), 1);
}

// Both sides of a separator sheet are dropped; a sheet with one blank side is no separator (and
// SkipBlank drops that side alone).
TEST_F(SeparatorJob, DuplexSheetsAreSeparatorsOnlyWhenBothSidesAreBlank) {
  Source("Duplex=1\n");
  Feed({Content(1), Blank(2), Blank(3), Blank(4), Blank(5), Content(6), Content(7), Content(8)});
  ASSERT_TRUE(Scans("pdf Duplex Separator blank filename '" + (out / "d.pdf") + "'", 6));
  EXPECT_EQ(Files(), (Strings{out / "d-001.pdf", out / "d-002.pdf"}));
  EXPECT_EQ(PdfPages(out / "d-001.pdf"), 2);
  EXPECT_EQ(PdfPages(out / "d-002.pdf"), 4);

  ASSERT_TRUE(Scans("tif Duplex SkipBlank Separator blank filename '" + (out / "s.tif") + "'", 4));
  EXPECT_EQ(Report("Scan", "Blank"), "2,5");
  EXPECT_EQ(Documents(), (Strings{"1-1", "2-4"}));

  // A scanner without a duplex unit scans one side per sheet: every blank side is a separator,
  // and no page after it is taken for its back.
  Source("");
  ASSERT_TRUE(Scans("pdf Duplex Separator blank filename '" + (out / "d.pdf") + "'", 4));
  EXPECT_EQ(Files(), (Strings{out / "d-001.pdf", out / "d-002.pdf"}));
  EXPECT_EQ(PdfPages(out / "d-002.pdf"), 3);
}

// A patch sheet fed the other way round carries its code on the back: the sheet is a separator
// all the same, and neither of its sides is a page; a sheet with the code on its front drops its
// back unseen.
TEST_F(SeparatorJob, DuplexPatchSheetsSplitWhicheverSideCarriesTheCode) {
  auto patch = [](std::uint32_t seed) {
    TSideSpec s = Content(seed);
    s.Mark = TSideMark::PatchCode;
    s.Patch = "NWNW";
    return s;
  };
  Source("Duplex=1\n");
  Feed({Content(1), Content(2), Blank(3), patch(4), Content(5), Content(6), patch(7), Content(8), Content(9),
        Blank(10)});
  ASSERT_TRUE(Scans("multi_tif Duplex Separator patch filename '" + (out / "d.tif") + "'", 6));
  EXPECT_EQ(Files(), (Strings{out / "d-001.tif", out / "d-002.tif", out / "d-003.tif"}));
  EXPECT_EQ(Documents(), (Strings{"1-1", "2-2", "3-3"}));
  EXPECT_EQ(TiffPages(out / "d-001.tif"), 2);
  EXPECT_EQ(TiffPages(out / "d-002.tif"), 2);
  EXPECT_EQ(TiffPages(out / "d-003.tif"), 2);
}

TEST_F(SeparatorJob, EveryDocumentIsProtectedWithThePassword) {
  Feed({Content(1), Blank(2), Content(3)});
  for (const char* encryption : {"RC4", "AES256"}) {
    SCOPED_TRACE(encryption);
    ASSERT_TRUE(Scans(std::string("pdf PDFPassword secret PDFEncryption ") + encryption +
                          " Separator blank filename '" + (out / "p.pdf") + "'",
                      2));
    for (const char* name : {"p-001.pdf", "p-002.pdf"}) {
      EXPECT_EQ(RunCommand("qpdf --requires-password '" + (out / name) + "'").status, 0) << name;
      EXPECT_NE(Shell("qpdf --show-encryption --password=secret '" + (out / name) + "'").find("User password = secret"),
                std::string::npos)
          << name;
      EXPECT_TRUE(QpdfChecks(out / name, "secret")) << name;
    }
  }
}

// A document that cannot be written ends the job at its separator: the documents before stay,
// its pages are kept, and all are listed.
TEST_F(SeparatorJob, ADocumentThatCannotBeWrittenKeepsItsPagesAndTheDocumentsBefore) {
  Feed({Content(1), Blank(2), Content(3), Content(4), Blank(5), Content(6)});
  // The first document's name is looked at before anything is scanned.
  std::filesystem::create_directories(out / "e-001.pdf");
  ASSERT_EQ(Run("pdf Separator blank filename '" + (out / "e.pdf") + "'"), 0);
  EXPECT_EQ(Report("Error", "Message"), "Unable to save PDF file " + (out / "e-001.pdf") + ": Is a directory");
  EXPECT_EQ(Report("Files", "Count"), "0");

  std::filesystem::create_directories(out / "f-002.pdf");
  ASSERT_EQ(Run("pdf Separator blank filename '" + (out / "f.pdf") + "'"), 0);
  const std::string message = Report("Error", "Message");
  EXPECT_EQ(message.rfind("Unable to save PDF file " + (out / "f-002.pdf"), 0), 0u) << message;
  EXPECT_NE(message.find(out / "f-unsaved-001.jpg"), std::string::npos) << message;
  EXPECT_EQ(Files(), (Strings{out / "f-001.pdf", out / "f-unsaved-001.jpg", out / "f-unsaved-002.jpg"}));
  EXPECT_EQ(Documents(), (Strings{"1-1", "2-3"}));
  EXPECT_EQ(PdfPages(out / "f-001.pdf"), 1);
  EXPECT_FALSE(Exists(out / "f-003.pdf"));
}

// Patch code sheets split the load, whichever code and however the sheet went in; the bars of
// a thick-ruled page do not.
TEST_F(SeparatorJob, PatchSheetsSplitTheLoad) {
  auto patch = [](const char* bars, double skew, std::uint32_t seed) {
    TSideSpec s = Content(seed);
    s.Mark = TSideMark::PatchCode;
    s.Patch = bars;
    s.SkewDegrees = skew;
    return s;
  };
  TSideSpec rules = Content(9);
  rules.Mark = TSideMark::ThickRules;
  Feed({Content(1), patch("NWNW", 0, 2), rules, patch("WWNN", -8, 4), Content(5)});
  ASSERT_EQ(Run("pdf Separator patch filename '" + (out / "load.pdf") + "'"), 0);
  EXPECT_EQ(Report("Error", "Message"), "<none>");
  EXPECT_EQ(Files(), (Strings{out / "load-001.pdf", out / "load-002.pdf", out / "load-003.pdf"}));
  EXPECT_EQ(Documents(), (Strings{"1-1", "2-2", "3-3"}));
  EXPECT_EQ(PdfPages(out / "load-002.pdf"), 1);
  for (const char* f : {"load-001.pdf", "load-002.pdf", "load-003.pdf"}) EXPECT_TRUE(QpdfChecks(out / f)) << f;
}

// With Deskew and SkipBlank: turned pages are straightened and named by the job's page numbers,
// a blank sheet is a separator (not a dropped page), and the documents hold the other pages.
TEST_F(SeparatorJob, DeskewAndSkipBlankWorkOnTheDocumentsPages) {
  TSideSpec turned = Content(3);
  turned.SkewDegrees = 3;
  Feed({Content(1), Blank(2), turned, Content(4)});
  ASSERT_EQ(Run("pdf Separator blank Deskew SkipBlank filename '" + (out / "d.pdf") + "'"), 0);
  EXPECT_EQ(Report("Error", "Message"), "<none>");
  EXPECT_EQ(Documents(), (Strings{"1-1", "2-2"}));
  EXPECT_EQ(Report("Scan", "Deskewed"), "3");
  EXPECT_EQ(Report("Scan", "Blank"), "");
  EXPECT_EQ(PdfPages(out / "d-001.pdf"), 1);
  EXPECT_EQ(PdfPages(out / "d-002.pdf"), 2);
}

// A 300 dpi page with one large word; upside down when turned.
std::unique_ptr<TBitmapGraphic> WordPage(const std::string& word, bool turned = false) {
  auto page = std::make_unique<TBitmapGraphic>();
  page->NewImage(1240, 700, ikTrueColor, nullptr, 300, 300);
  page->FillColor(clWhite);
  {
    TCanvas canvas(*page);
    canvas.Font().Name = "Liberation Sans";
    canvas.Font().Height = 80;
    canvas.Font().Color = clBlack;
    canvas.Brush().Style = bsClear;
    for (int line = 0; line < 3; ++line) canvas.TextOut(100, 120 + line * 170, word + " " + word + " " + word);
  }
  if (!turned) return page;
  auto out = std::make_unique<TBitmapGraphic>();
  out->NewImage(page->Width(), page->Height(), ikTrueColor, nullptr, 300, 300);
  for (int y = 0; y < page->Height(); ++y)
    for (int x = 0; x < page->Width(); ++x)
      out->SetRgbPixel(page->Width() - 1 - x, page->Height() - 1 - y, page->GetRgbPixel(x, y));
  return out;
}

// Each document's text layer holds its own pages' words, and turned pages are named by the job's
// page numbers.
TEST_F(SeparatorJob, EachDocumentGetsTheTextOfItsOwnPages) {
  const std::string module = std::string(LUMIPAGE_BUILD_DIR) + "/" + kOcrModuleFileName;
  if (!Exists(module)) GTEST_SKIP() << "the text recognition module was not built";
  std::filesystem::copy_file(module, sys / kOcrModuleFileName);
  WordPage("Alpha")->SaveToFile(pages / "1.bmp");
  TSideSpec blank = Blank(2);
  blank.Dpi = 300;
  DrawSide(blank)->SaveToFile(pages / "2.bmp");
  WordPage("Bravo")->SaveToFile(pages / "3.bmp");
  WordPage("Charlie", true)->SaveToFile(pages / "4.bmp");
  ASSERT_TRUE(Scans("pdf OCR eng AutoRotate Resolution 300 Separator blank filename '" + (out / "t.pdf") + "'", 3));
  EXPECT_EQ(Report("Scan", "Rotated"), "4");
  EXPECT_EQ(Report("Scan", "NoText"), "");
  const std::string first = Shell("pdftotext '" + (out / "t-001.pdf") + "' -");
  const std::string second = Shell("pdftotext '" + (out / "t-002.pdf") + "' -");
  EXPECT_NE(first.find("Alpha"), std::string::npos) << first;
  EXPECT_EQ(first.find("Bravo"), std::string::npos) << first;
  EXPECT_NE(second.find("Bravo"), std::string::npos) << second;
  EXPECT_NE(second.find("Charlie"), std::string::npos) << second;
  EXPECT_EQ(second.find("Alpha"), std::string::npos) << second;
}

// A Code 128 separator sheet names the document after it by its other code; a page with another
// barcode alone (an invoice number) does not split.
TEST_F(SeparatorJob, BarcodeSheetsSplitAndNameTheDocuments) {
  const std::string module = std::string(LUMIPAGE_BUILD_DIR) + "/" + kBarcodeModuleFileName;
  if (!Exists(module)) GTEST_SKIP() << "the barcode module was not built";
  std::filesystem::copy_file(module, sys / kBarcodeModuleFileName);
  auto sheet = lumipage::testing::Side(200);
  auto separator = DrawSymbol("CODE128", "PATCHT", 3);
  auto name = DrawSymbol("QRCODE", "INV-17/b", 4);
  ASSERT_TRUE(separator && name);
  Paste(*sheet, *separator, 800, 400, 0, 0);
  Paste(*sheet, *name, 800, 1200, 0, 0);
  auto invoice = lumipage::testing::Side(200, TSideMark::TextPage);
  Paste(*invoice, *DrawSymbol("CODE39", "INVOICE4711", 3), 800, 1800, 0, 0);
  DrawSide(Content(1))->SaveToFile(pages / "1.bmp");
  sheet->SaveToFile(pages / "2.bmp");
  invoice->SaveToFile(pages / "3.bmp");
  DrawSide(Content(4))->SaveToFile(pages / "4.bmp");
  ASSERT_TRUE(Scans("pdf Separator barcode SeparatorName barcode filename '" + (out / "b.pdf") + "'", 3));
  EXPECT_EQ(Files(), (Strings{out / "b-001.pdf", out / "INV-17_b.pdf"}));
  EXPECT_EQ(PdfPages(out / "INV-17_b.pdf"), 2);
  EXPECT_EQ(Report("Scan", "SeparatorUnread"), "");
}

// ---- Names after barcodes ---------------------------------------------------------------------

TEST(SeparatorNames, BarcodeTextsBecomeNamesInTheOutputFolderOnly) {
  TempDir out;
  TJobSettings s;
  s.OutputFormat = ofPdf;
  s.Separator = TSeparator::Barcode;
  s.SeparatorName = TSeparatorName::Barcode;
  s.FileName = out / "doc.pdf";
  TPageStore store(s);
  const struct {
    std::string text, file;
  } rows[] = {
      {"", "doc-001.pdf"},  // the first document has no separator before it
      {"INV-2024.17_a", "INV-2024.17_a.pdf"},
      {"../x", "_._x.pdf"},
      {"/etc/passwd", "_etc_passwd.pdf"},
      {"..", "doc-005.pdf"},  // no name left: its number
      {"a b\tc\xC3\xA4", "a_b_c__.pdf"},
      {std::string("nul\0here", 8), "nul_here.pdf"},
      {std::string(4000, 'Q'), std::string(kMaxBarcodeStem, 'Q') + ".pdf"},
      {"INV-2024.17_a", "INV-2024.17_a-2.pdf"},  // a name used twice
      {"doc-011", "doc-011.pdf"},
      {"", "doc-012.pdf"},  // its number is taken by the name before
      {"._.", "doc-013.pdf"},
  };
  int n = 0;
  for (const auto& row : rows) {
    store.EndDocument(BarcodeFileStem(row.text));
    store.AddToDocument(++n);
    EXPECT_EQ(store.Documents.back().File, out / row.file) << row.text.substr(0, 20);
  }
}

// ---- An interrupted job -----------------------------------------------------------------------

// Delivers drawn sides; asks for an interruption before the side InterruptAt (from 1).
class TDrawnScanner : public TScriptedScanner {
 public:
  std::vector<TSideSpec> Sides;
  int InterruptAt = 0;
  void Acquire(std::intptr_t passThrough, TImageHandler handler) override {
    for (std::size_t i = 0; i < Sides.size(); ++i) {
      if (static_cast<int>(i) + 1 == InterruptAt) platform::RequestInterrupt();
      const auto page = DrawSide(Sides[i]);
      platform::GlobalBlock dib(page->SaveToDibHandle());
      handler(dib, static_cast<std::uint16_t>(Sides[i].Dpi), static_cast<std::uint16_t>(Sides[i].Dpi), passThrough);
    }
    if (OnDone) OnDone(this);
  }
};

// Interrupted in the second document: a PDF document is written at its separator, so the open
// one is not (and its page files go); a multi-page TIFF document grows page by page, so the open
// one keeps the pages stored in it. Both list what they kept.
TEST(SeparatorInterrupted, KeepsAndListsTheDocumentsWrittenBefore) {
  const struct {
    const char* format;
    const char* pages;
    Strings files;
    Strings documents;
  } rows[] = {
      {"pdf", "1", {"pages-001.pdf"}, {"1-1"}},
      {"multi_tif", "2", {"pages-001.tif", "pages-002.tif"}, {"1-1", "2-2"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.format);
    TempDir exe;
    TFrmScan form(ScriptedJob<TDrawnScanner>(exe, {row.format, "Separator", "blank"}, {}, [](TDrawnScanner& s) {
      s.Sides = {Content(1), Blank(2), Content(3), Content(4), Blank(5), Content(6)};
      s.InterruptAt = 4;
    }));
    EXPECT_EQ(form.Run(), 0);
    platform::ClearInterrupt();
    EXPECT_EQ(ReportValue(exe, "Error", "Message"), "Job interrupted");
    EXPECT_EQ(ReportValue(exe, "Scan", "Pages"), row.pages);
    EXPECT_EQ(ReportValue(exe, "Files", "Count"), std::to_string(row.files.size()));
    EXPECT_EQ(ReportValue(exe, "Documents", "Count"), std::to_string(row.documents.size()));
    for (std::size_t i = 0; i < row.files.size(); ++i) {
      EXPECT_EQ(ReportValue(exe, "Files", "File" + std::to_string(i + 1)), exe / row.files[i]);
      EXPECT_EQ(ReportValue(exe, "Documents", "Doc" + std::to_string(i + 1)), row.documents[i]);
      const std::string file = exe / row.files[i];
      EXPECT_EQ(row.files[i].ends_with(".pdf") ? PdfPages(file) : TiffPages(file), 1) << file;
      EXPECT_TRUE(row.files[i].ends_with(".pdf") ? QpdfChecks(file)
                                                 : RunCommand("tiffinfo '" + file + "' >/dev/null 2>&1").status == 0);
    }
    EXPECT_FALSE(Exists(exe / "pages-002.pdf"));
    EXPECT_FALSE(Exists(exe / "pages-003.tif"));
    EXPECT_FALSE(Exists(exe / "page002.jpg"));  // the unwritten PDF document's page is gone
  }
}

}  // namespace
