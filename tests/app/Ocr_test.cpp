// Searchable PDFs through the real program, source manager and text recognition module: pages
// rendered here with FreeType and Liberation Sans at 300 dpi go through the virtual scanner's
// page folder; poppler and qpdf judge the PDFs.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <thread>
#include <chrono>
#include <cmath>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#include <sstream>

#include "tests/support/ProgramTest.h"
#include "app/OcrModule.h"
#include "app/OcrQueue.h"
#include "app/PdfAssembly.h"
#include "pdf/PDFPageText.h"
#include "imaging/BitmapGraphic.h"
#include "imaging/Canvas.h"
#include "platform/IniFile.h"
#include "tests/support/RunCommand.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

constexpr int kDpi = 300;
constexpr int kCell = 64;  // text cell height in pixels: about 14 points at 300 dpi

struct DrawnWord {
  std::string Text;
  int Left, Top, Right, Bottom;  // the word's cell: pen advance by cell height
  int Baseline;
};

// A page of three lines of words, black on white, and where each word was drawn.
struct Fixture {
  std::unique_ptr<TBitmapGraphic> Page = std::make_unique<TBitmapGraphic>();
  std::vector<DrawnWord> Words;
};

Fixture RenderFixture(TColor ink = clBlack, TColor paper = clWhite) {
  Fixture f;
  f.Page->NewImage(1240, 700, ikTrueColor, nullptr, kDpi, kDpi);
  f.Page->FillColor(paper);
  TCanvas canvas(*f.Page);
  canvas.Font().Name = "Liberation Sans";
  canvas.Font().Height = kCell;
  canvas.Font().Color = ink;
  canvas.Brush().Style = bsClear;
  // The baseline lies where an "H" drawn at the top of the cell ends.
  TBitmapGraphic probe;
  probe.NewImage(kCell, kCell, ikTrueColor, nullptr, kDpi, kDpi);
  probe.FillColor(clWhite);
  {
    TCanvas probeCanvas(probe);
    probeCanvas.Font() = canvas.Font();
    probeCanvas.Font().Color = clBlack;
    probeCanvas.Brush().Style = bsClear;
    probeCanvas.TextOut(0, 0, "H");
  }
  int ascent = 0;
  for (int y = 0; y < kCell; ++y)
    for (int x = 0; x < kCell; ++x)
      if ((probe.GetRgbPixel(x, y) & 0xFF) < 128) ascent = y + 1;
  // Two lines with descenders, one without.
  const char* lines[] = {"Quick Brown Foxes Jump", "Lumipage Searchable Scans", "Invoice Total 2026"};
  int top = 120;
  for (const char* line : lines) {
    std::istringstream words(line);
    int x = 100;
    for (std::string w; words >> w;) {
      canvas.TextOut(x, top, w);
      const int width = canvas.TextWidth(w);
      f.Words.push_back(DrawnWord{w, x, top, x + width, top + kCell, top + ascent});
      x += width + canvas.TextWidth(" ");
    }
    top += 2 * kCell + 12;
  }
  return f;
}

// The page turned clockwise by degrees (90 or 180), as a feeder gives a sheet put in sideways
// or upside down.
std::unique_ptr<TBitmapGraphic> Turned(const TBitmapGraphic& page, int degrees) {
  auto out = std::make_unique<TBitmapGraphic>();
  const int w = page.Width(), h = page.Height();
  const bool quarter = degrees == 90;
  out->NewImage(quarter ? h : w, quarter ? w : h, ikTrueColor, nullptr, kDpi, kDpi);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint32_t c = page.GetRgbPixel(x, y);
      if (quarter)
        out->SetRgbPixel(h - 1 - y, x, c);
      else
        out->SetRgbPixel(w - 1 - x, h - 1 - y, c);
    }
  return out;
}

// Bayer-dithered to black and white: grey ink on grey paper becomes a dot pattern.
std::unique_ptr<TBitmapGraphic> Dithered(const TBitmapGraphic& page) {
  static constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  auto out = std::make_unique<TBitmapGraphic>();
  out->NewImage(page.Width(), page.Height(), ikBlackWhite, DefaultPalette(ikBlackWhite), kDpi, kDpi);
  const std::uint8_t black = out->ColorToIndex(clBlack), white = out->ColorToIndex(clWhite);
  for (int y = 0; y < page.Height(); ++y)
    for (int x = 0; x < page.Width(); ++x) {
      const int grey = static_cast<int>(page.GetRgbPixel(x, y) & 0xFF);
      out->SetPixelIndex(x, y, grey * 16 / 256 > kBayer[y % 4][x % 4] ? white : black);
    }
  return out;
}

std::unique_ptr<TBitmapGraphic> Plain(int width, int height, TImageKind kind) {
  auto out = std::make_unique<TBitmapGraphic>();
  out->NewImage(width, height, kind, DefaultPalette(kind), kDpi, kDpi);
  out->FillColor(clWhite);
  return out;
}

std::string Shell(const std::string& command, int* status = nullptr) {
  const CommandResult result = RunCommand(command);
  if (status != nullptr) *status = result.status;
  return result.output;
}

struct Box {
  double xMin, yMin, xMax, yMax;  // pixels at 300 dpi
};

// pdftotext's word boxes of one page, by word.
std::multimap<std::string, Box> WordBoxes(const std::string& pdf, int page, const std::string& password = "") {
  const std::string pw = password.empty() ? "" : " -upw '" + password + "'";
  const std::string out = Shell("pdftotext -bbox" + pw + " -f " + std::to_string(page) + " -l " +
                                std::to_string(page) + " '" + pdf + "' -");
  static const std::regex word(
      R"re(<word xMin="([-0-9.]+)" yMin="([-0-9.]+)" xMax="([-0-9.]+)" yMax="([-0-9.]+)">([^<]*)</word>)re");
  std::multimap<std::string, Box> boxes;
  constexpr double k = kDpi / 72.0;
  for (std::sregex_iterator it(out.begin(), out.end(), word), end; it != end; ++it)
    boxes.emplace((*it)[5], Box{std::stod((*it)[1]) * k, std::stod((*it)[2]) * k, std::stod((*it)[3]) * k,
                                std::stod((*it)[4]) * k});
  return boxes;
}

std::string PageText(const std::string& pdf, int page, const std::string& password = "") {
  const std::string pw = password.empty() ? "" : " -upw '" + password + "'";
  return Shell("pdftotext" + pw + " -f " + std::to_string(page) + " -l " + std::to_string(page) + " '" + pdf + "' -");
}

// A checksum of the page as poppler renders it.
std::string Rendered(const std::string& pdf, int page, const std::string& password = "") {
  const std::string pw = password.empty() ? "" : " -upw '" + password + "'";
  // pdftoppm cannot write to standard output here: render beside the PDF, hash, remove.
  const std::string root = pdf + ".render" + std::to_string(page);
  const std::string sum = Shell("pdftoppm -r 40 -gray -singlefile" + pw + " -f " + std::to_string(page) + " -l " +
               std::to_string(page) + " '" + pdf + "' '" + root + "' && md5sum < '" + root + ".pgm'; rm -f '" + root +
               ".pgm'");
  EXPECT_TRUE(sum.size() >= 32 && sum.find("d41d8cd98f00b204e9800998ecf8427e") == std::string::npos)
      << "page " << page << " of " << pdf << " did not render";
  return sum;
}

// The page as poppler renders it in grey: width, height and samples (empty when it did not render).
struct Grey {
  int width = 0, height = 0;
  std::string samples;
};
Grey RenderedGrey(const std::string& pdf, int page) {
  const std::string root = pdf + ".grey" + std::to_string(page);
  Shell("pdftoppm -r 40 -gray -singlefile -f " + std::to_string(page) + " -l " + std::to_string(page) + " '" + pdf +
        "' '" + root + "'");
  std::ifstream in(root + ".pgm", std::ios::binary);
  Grey g;
  std::string magic;
  int maxval = 0;
  in >> magic >> g.width >> g.height >> maxval;
  in.get();
  g.samples.assign(std::istreambuf_iterator<char>(in), {});
  std::filesystem::remove(root + ".pgm");
  if (magic != "P5" || maxval != 255 || g.samples.size() != static_cast<size_t>(g.width) * g.height) return {};
  return g;
}

// Two renderings of the same page turned differently are resampled differently, so they are
// compared with a tolerance: same size, and hardly any sample far from its counterpart.
void ExpectLooksAlike(const Grey& a, const Grey& b) {
  ASSERT_FALSE(a.samples.empty());
  ASSERT_EQ(a.width, b.width);
  ASSERT_EQ(a.height, b.height);
  size_t far = 0;
  for (size_t i = 0; i < a.samples.size(); ++i)
    if (std::abs(static_cast<unsigned char>(a.samples[i]) - static_cast<unsigned char>(b.samples[i])) > 96) ++far;
  EXPECT_LT(far * 100, a.samples.size()) << far << " of " << a.samples.size() << " samples differ";
}

int PdfPages(const std::string& pdf, const std::string& password = "") {
  const std::string pw = password.empty() ? "" : " --password='" + password + "'";
  return std::atoi(Shell("qpdf --show-npages" + pw + " '" + pdf + "'").c_str());
}

bool QpdfChecks(const std::string& pdf, const std::string& password = "") {
  int status = -1;
  const std::string pw = password.empty() ? "" : " --password='" + password + "'";
  (void)Shell("qpdf --check" + pw + " '" + pdf + "'", &status);
  return status == 0;
}

class OcrJob : public ProgramTest {
 protected:
  void SetUp() override {
    const std::string module = std::string(LUMIPAGE_BUILD_DIR) + "/" + kOcrModuleFileName;
    if (!Exists(module)) GTEST_SKIP() << "the text recognition module was not built (libtesseract-dev missing)";
    ProgramTest::SetUp();
    std::filesystem::copy_file(module, sys / kOcrModuleFileName);
    WriteText(sys / "twain_32.ini", "[Sources]\nCount=1\n[Source1]\nPageFolder=" + pages / "" + "\n");
  }
  void AddPage(const std::string& name, TBitmapGraphic& page) { page.SaveToFile(pages / name); }
  void AddPage(const std::string& name, const std::unique_ptr<TBitmapGraphic>& page) { AddPage(name, *page); }
  void ClearPages() {
    for (const auto& e : std::filesystem::directory_iterator(pages / "")) std::filesystem::remove(e.path());
  }

  TempDir pages;
  TempDir out;
};

// Every drawn word is found on the page, its box within a few pixels of its drawn cell.
void ExpectWordsWhereDrawn(const std::string& pdf, int page, const std::vector<DrawnWord>& drawn,
                           const std::string& password = "") {
  const auto boxes = WordBoxes(pdf, page, password);
  for (const DrawnWord& d : drawn) {
    SCOPED_TRACE("page " + std::to_string(page) + ", word " + d.Text);
    auto [first, last] = boxes.equal_range(d.Text);
    ASSERT_NE(first, last) << "not found";
    // A word repeated on the page: take the box nearest to this drawing.
    auto best = std::min_element(first, last, [&d](const auto& a, const auto& b) {
      return std::abs(a.second.xMin - d.Left) + std::abs(a.second.yMin - d.Top) <
             std::abs(b.second.xMin - d.Left) + std::abs(b.second.yMin - d.Top);
    });
    const Box& b = best->second;
    // Recognition boxes the ink; the drawn cell adds the glyphs' side bearings (a few pixels)
    // and the space above capitals and below the baseline of words without descenders.
    EXPECT_NEAR(b.xMin, d.Left, 6);
    EXPECT_NEAR(b.xMax, d.Right, 8);
    EXPECT_GE(b.yMin, d.Top - 3);
    EXPECT_LE(b.yMax, d.Bottom + 3);
    EXPECT_GE(b.yMax - b.yMin, kCell * 0.6);
    // The text stands on the drawn baseline (the font's ascent is its share of the box), on
    // lines with descenders and without alike.
    EXPECT_NEAR(b.yMin + kPageTextAscent * (b.yMax - b.yMin), d.Baseline, 2.5);
  }
}

TEST_F(OcrJob, UprightAndTurnedPagesBecomeSearchableAndUpright) {
  Fixture f = RenderFixture();
  AddPage("1.bmp", f.Page);
  auto sideways = Turned(*f.Page, 90);
  AddPage("2.bmp", sideways);
  auto upsideDown = Turned(*f.Page, 180);
  AddPage("3.bmp", upsideDown);
  const std::string pdf = out / "doc.pdf";
  EXPECT_TRUE(Scans("pdf OCR eng AutoRotate filename '" + pdf + "'", 3));
  EXPECT_EQ(Report("Scan", "NoText"), "");
  EXPECT_EQ(Report("Scan", "Rotated"), "2,3");
  EXPECT_TRUE(QpdfChecks(pdf));
  ASSERT_EQ(PdfPages(pdf), 3);
  for (int page = 1; page <= 3; ++page) {
    EXPECT_NE(PageText(pdf, page).find("Lumipage Searchable Scans"), std::string::npos) << page;
    // Turned upright, the sideways and upside-down pages show their words where page 1 does.
    ExpectWordsWhereDrawn(pdf, page, f.Words);
  }
  // Upright again, all three look alike.
  const Grey upright = RenderedGrey(pdf, 1);
  ExpectLooksAlike(RenderedGrey(pdf, 2), upright);
  ExpectLooksAlike(RenderedGrey(pdf, 3), upright);
}

TEST_F(OcrJob, TextIsInvisibleAndPagesWithoutAutoRotateStayAsScanned) {
  Fixture f = RenderFixture();
  AddPage("1.bmp", f.Page);
  auto sideways = Turned(*f.Page, 90);
  AddPage("2.bmp", sideways);
  const std::string plain = out / "plain.pdf", searchable = out / "searchable.pdf";
  EXPECT_EQ(Run("pdf filename '" + plain + "'"), 0);
  EXPECT_EQ(Report("Scan", "NoText"), "<none>");
  EXPECT_EQ(Run("pdf OCR eng filename '" + searchable + "'"), 0);
  EXPECT_EQ(Report("Scan", "NoText"), "");
  EXPECT_EQ(Report("Scan", "Rotated"), "<none>");
  EXPECT_EQ(PageText(plain, 1).find("Quick"), std::string::npos);
  EXPECT_NE(PageText(searchable, 1).find("Quick Brown Foxes Jump"), std::string::npos);
  for (int page = 1; page <= 2; ++page) EXPECT_EQ(Rendered(searchable, page), Rendered(plain, page)) << page;
}

TEST_F(OcrJob, AppendedAndProtectedPdfsKeepTheirPagesAndGainSearchableOnes) {
  Fixture f = RenderFixture();
  AddPage("1.bmp", f.Page);
  struct Row {
    const char* name;
    std::string protection;
    std::string password;
    std::string method;  // as pdfinfo names it; empty: unprotected
  };
  for (const Row& r : {Row{"plain", "", "", ""}, Row{"rc4", "PDFPassword s3cret", "s3cret", "RC4"},
                       Row{"aes256", "PDFPassword s3cret PDFEncryption AES256", "s3cret", "AES-256"}}) {
    SCOPED_TRACE(r.name);
    const std::string pdf = out / (std::string(r.name) + ".pdf");
    ASSERT_EQ(Run("pdf " + r.protection + " filename '" + pdf + "'"), 0);
    ASSERT_EQ(PdfPages(pdf, r.password), 1);
    const std::string oldPage = Rendered(pdf, 1, r.password);
    EXPECT_EQ(Run("pdf Append OCR eng " + r.protection + " filename '" + pdf + "'"), 0);
    EXPECT_EQ(Report("Error", "Message"), "<none>");
    EXPECT_EQ(Report("Scan", "NoText"), "");
    EXPECT_TRUE(QpdfChecks(pdf, r.password));
    ASSERT_EQ(PdfPages(pdf, r.password), 2);
    EXPECT_EQ(Rendered(pdf, 1, r.password), oldPage);
    EXPECT_EQ(PageText(pdf, 1, r.password).find("Quick"), std::string::npos);
    ExpectWordsWhereDrawn(pdf, 2, f.Words, r.password);
    if (!r.method.empty()) {
      EXPECT_NE(Shell("pdfinfo -upw '" + r.password + "' '" + pdf + "'").find(r.method), std::string::npos);
      EXPECT_EQ(PdfPages(pdf), 0) << "opens without the password";
    }
  }
}

TEST_F(OcrJob, PagesWithoutUsableTextKeepTheirPlaceInANormalJob) {
  auto blank = Plain(1240, 1754, ikTrueColor);
  AddPage("1-blank.bmp", blank);
  auto photo = Plain(600, 400, ikTrueColor);
  std::uint32_t seed = 12345;
  for (int y = 0; y < photo->Height(); ++y)
    for (int x = 0; x < photo->Width(); ++x) {
      seed = seed * 1103515245u + 12345u;
      const std::uint32_t noise = (seed >> 16) & 0x3F;
      photo->SetRgbPixel(x, y, ((x * 255 / 600 + noise) & 0xFF) | (((y * 255 / 400 + noise) & 0xFF) << 8) | (0x80 << 16));
    }
  AddPage("2-photo.bmp", photo);
  Fixture grey = RenderFixture(0x505050, 0xB0B0B0);
  auto dithered = Dithered(*grey.Page);
  AddPage("3-dithered.bmp", dithered);
  auto tiny = Plain(3, 2, ikTrueColor);
  AddPage("4-tiny.bmp", tiny);
  // Wider than Tesseract takes (32767 pixels): recognition refuses it.
  auto huge = Plain(40000, 40, ikBlackWhite);
  AddPage("5-huge.bmp", huge);
  TBitmapGraphic cyrillic;
  cyrillic.NewImage(1240, 300, ikTrueColor, nullptr, kDpi, kDpi);
  cyrillic.FillColor(clWhite);
  {
    TCanvas canvas(cyrillic);
    canvas.Font().Name = "Liberation Sans";
    canvas.Font().Height = kCell;
    canvas.TextOut(100, 100, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xD0\xBC\xD0\xB8\xD1\x80");  // Привет мир
  }
  AddPage("6-cyrillic.bmp", cyrillic);

  const std::string pdf = out / "bad.pdf";
  EXPECT_TRUE(Scans("pdf OCR eng AutoRotate filename '" + pdf + "'", 6));
  EXPECT_EQ(Report("Scan", "Rotated"), "");
  const std::string noText = Report("Scan", "NoText");
  EXPECT_NE(("," + noText + ",").find(",5,"), std::string::npos) << noText;
  EXPECT_TRUE(QpdfChecks(pdf));
  EXPECT_EQ(PdfPages(pdf), 6);
  EXPECT_EQ(PageText(pdf, 1).find_first_not_of(" \n\f"), std::string::npos) << "a blank page has no words";
}

TEST_F(OcrJob, WhatRecognitionLacksEndsTheJobBeforeScanning) {
  Fixture f = RenderFixture();
  AddPage("1.bmp", f.Page);
  TempDir noModule;
  std::filesystem::copy_file(sys / "libtwain_32.so", noModule / "libtwain_32.so");
  std::filesystem::copy_file(sys / "twain_32.ini", noModule / "twain_32.ini");
  struct Row {
    const char* name;
    std::string args;
    std::string systemDir;
    std::string message;
  };
  const Row rows[] = {
      {"language", "OCR xyz_old", "",
       "Text recognition data for the language xyz_old is not installed: install the package tesseract-ocr-xyz-old"},
      {"second_language", "OCR eng+zzz", "",
       "Text recognition data for the language zzz is not installed: install the package tesseract-ocr-zzz"},
      {"list", "OCR ../eng", "", "Invalid OCR languages \"../eng\" (names such as eng or eng+deu)"},
      {"module", "OCR eng", noModule.Folder(),
       "Text recognition is not available: " + noModule / kOcrModuleFileName + " is missing"},
      {"module_for_turning", "AutoRotate", noModule.Folder(),
       "Text recognition is not available: " + noModule / kOcrModuleFileName + " is missing"},
  };
  const std::string pdf = out / "kept.pdf";
  WriteText(pdf, "an older document");
  WriteText(exe / "page001.jpg", "a page of an older job");
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(Run("pdf " + r.args + " filename '" + pdf + "'", r.systemDir), 0);
    EXPECT_EQ(Report("Error", "Message"), r.message);
    EXPECT_EQ(Report("Scan", "Pages"), "0");
    EXPECT_EQ(ReadText(pdf), "an older document");
    EXPECT_EQ(ReadText(exe / "page001.jpg"), "a page of an older job");
  }
  // Other outputs have no text layer: the same job without a PDF needs no module.
  EXPECT_TRUE(Scans("jpg OCR eng", 1, noModule.Folder()));
}

TEST_F(OcrJob, AnInterruptedJobStopsRecognitionAndWritesNoPdf) {
  Fixture f = RenderFixture();
  for (int i = 1; i <= 4; ++i) AddPage(std::to_string(i) + ".bmp", f.Page);
  const std::string pdf = out / "doc.pdf";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("LUMIPAGE_SYSTEM_DIR", sys.Folder().c_str(), 1);
    ::setenv("SANE_CONFIG_DIR", sys.Folder().c_str(), 1);
    const std::string program = exe / "lumipage";
    ::execl(program.c_str(), program.c_str(), "pdf", "OCR", "eng", "filename", pdf.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Once the first page is stored its recognition is under way.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!Exists(exe / "page001.jpg") && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Report("Error", "Message"), "Job interrupted");
  EXPECT_EQ(Report("Scan", "Pages"), "0");
  EXPECT_FALSE(Exists(pdf));
  for (int i = 1; i <= 4; ++i) EXPECT_FALSE(Exists(exe / ("page00" + std::to_string(i) + ".jpg"))) << i;
}

TEST(OcrModule, LoadFailuresNameThePackage) {
  EXPECT_EQ(OcrModuleLoadFailure("libtesseract.so.5: cannot open shared object file: No such file or directory"),
            "Text recognition needs Tesseract: install the package libtesseract5 (libtesseract.so.5: cannot open "
            "shared object file: No such file or directory)");
  EXPECT_EQ(OcrModuleLoadFailure("liblept.so.5: cannot open shared object file: No such file or directory"),
            "Text recognition needs Leptonica: install the package liblept5 (liblept.so.5: cannot open shared "
            "object file: No such file or directory)");
  EXPECT_EQ(OcrModuleLoadFailure("/x/liblumipage_ocr.so: invalid ELF header"),
            "Text recognition is not available: /x/liblumipage_ocr.so: invalid ELF header");
}

TEST(OcrModule, LanguageListsAreNamesJoinedByPlus) {
  for (const char* good : {"eng", "eng+deu", "chi_sim", "Latin"}) EXPECT_EQ(NormalisedOcrLanguages(good), good);
  for (const char* bad : {"", "+", "eng+", "+eng", "eng++deu", "eng deu", "eng,deu", "../eng", "eng/x"})
    EXPECT_EQ(NormalisedOcrLanguages(bad), "") << bad;
}

TEST(OcrPage, GreyFromEveryPixelKindAndTurnsThatComeBackRound) {
  // A 3 x 2 page: one dark pixel at (2, 0) on white, in every stored kind.
  for (TImageKind kind : {ikBlackWhite, ikGray16, ikGray256, ikColor256, ikTrueColor}) {
    SCOPED_TRACE(static_cast<int>(kind));
    auto page = Plain(3, 2, kind);
    page->SetRgbPixel(2, 0, clBlack);
    const TGreyPage grey = GreyPageOf(*page);
    ASSERT_EQ(grey.Width, 3);
    ASSERT_EQ(grey.Height, 2);
    EXPECT_EQ(grey.Dpi, kDpi);
    EXPECT_EQ(grey.Pixels, (std::vector<unsigned char>{255, 255, 0, 255, 255, 255}));
    // Clockwise a quarter: the top-right pixel goes to the bottom-right.
    const TGreyPage quarter = TurnedClockwise(grey, 90);
    EXPECT_EQ(quarter.Width, 2);
    EXPECT_EQ(quarter.Pixels, (std::vector<unsigned char>{255, 255, 255, 255, 255, 0}));
    EXPECT_EQ(TurnedClockwise(grey, 180).Pixels, (std::vector<unsigned char>{255, 255, 255, 0, 255, 255}));
    EXPECT_EQ(TurnedClockwise(TurnedClockwise(quarter, 180), 90).Pixels, grey.Pixels);
  }
}

}  // namespace

namespace {

TEST(OcrQueue, APageOutOfTimeIsKeptWithoutTextAndTheNextPageStillGetsIt) {
  const std::string folder = std::string(LUMIPAGE_BUILD_DIR) + "/";
  if (!Exists(folder + kOcrModuleFileName)) GTEST_SKIP() << "the text recognition module was not built";
  Fixture f = RenderFixture();
  const TGreyPage page = GreyPageOf(*f.Page);
  auto module = TOcrModule::Load(folder);
  {
    // A millisecond is too little for any page.
    TOcrQueue hurried(module, "eng", false, 1);
    hurried.Submit(1, page);
    hurried.WaitAll();
    ASSERT_NE(hurried.Result(1), nullptr);
    EXPECT_FALSE(hurried.Result(1)->Recognised);
    EXPECT_TRUE(hurried.Result(1)->Words.empty());
  }
  TOcrQueue queue(module, "eng", false);
  for (int n = 1; n <= 3; ++n) queue.Submit(n, page);
  queue.WaitAll();
  for (int n = 1; n <= 3; ++n) {
    ASSERT_NE(queue.Result(n), nullptr) << n;
    EXPECT_TRUE(queue.Result(n)->Recognised) << n;
    EXPECT_EQ(queue.Result(n)->Words.size(), f.Words.size()) << n;
  }
  EXPECT_EQ(queue.Result(4), nullptr);
}

// A word on a line whose baseline climbs 1 in 20 to the right, its line's box holding the
// baseline with 50 pixels of ascent above its highest point and 15 of descent below its lowest.
TOcrWord SlopedWord() {
  TOcrWord w;
  w.Text = "Jump";
  w.Left = 100, w.Right = 160, w.Top = 140, w.Bottom = 205;
  w.LineLeft = 100, w.LineRight = 700, w.LineTop = 120, w.LineBottom = 215;
  w.BaselineX1 = 100, w.BaselineY1 = 200, w.BaselineX2 = 700, w.BaselineY2 = 170;
  return w;
}

TEST(OcrTextLayer, WordsStandOnTheirSlopedBaselineOnUprightAndTurnedPages) {
  const double slope = -0.05, cosine = 1 / std::hypot(1.0, slope);
  const TOcrWord word = SlopedWord();
  for (int rotation : {0, 90, 180, 270}) {
    SCOPED_TRACE(rotation);
    TOcrResult result;
    result.Recognised = true;
    result.Rotation = rotation;
    result.Words = {word};
    // The image as stored: the upright page (800 x 400) turned back.
    const bool quarter = rotation == 90 || rotation == 270;
    const TImageProps stored{quarter ? 400 : 800, quarter ? 800 : 400, kDpi, ""};
    const std::vector<TPageTextWord> words = TextOverImage(result, stored);
    ASSERT_EQ(words.size(), 1u);
    const TPageTextWord& t = words[0];
    EXPECT_EQ(t.Text, "Jump");
    // Back onto the upright page: start and direction.
    const double w = stored.Width, h = stored.Height;
    double x = t.X, y = t.Y, ux = t.DirectionX, uy = t.DirectionY;
    switch (rotation) {
      case 90: x = h - t.Y, y = t.X, ux = -t.DirectionY, uy = t.DirectionX; break;
      case 180: x = w - t.X, y = h - t.Y, ux = -t.DirectionX, uy = -t.DirectionY; break;
      case 270: x = t.Y, y = w - t.X, ux = t.DirectionY, uy = -t.DirectionX; break;
      default: break;
    }
    // Starts on the baseline at the word's left and runs along it to the word's right.
    EXPECT_NEAR(x, 100, 1e-9);
    EXPECT_NEAR(y, 200, 1e-9);
    EXPECT_NEAR(ux, cosine, 1e-9);
    EXPECT_NEAR(uy, slope * cosine, 1e-9);
    EXPECT_NEAR(x + t.Length * ux, 160, 1e-9);
    // Upright, the ascent reaches the line's top from the baseline's highest point and the
    // descent its bottom from the lowest; the descent is the tighter of the two here.
    EXPECT_GE(kPageTextAscent * t.Size / cosine, 50 - 1e-9);
    EXPECT_NEAR(kPageTextDescent * t.Size / cosine, 15, 1e-9);
  }
}

// A long word on the same line would drift off its first letter's baseline by more than readers
// allow within a word: it lies level, on the baseline at its middle, and is found whole.
TEST(OcrTextLayer, ALongWordOnASlopedLineLiesLevelOnTheBaselineAtItsMiddle) {
  TOcrWord word = SlopedWord();
  word.Text = "Jumpingly";
  word.Right = 300;
  TOcrResult result;
  result.Recognised = true;
  result.Words = {word};
  const std::vector<TPageTextWord> words = TextOverImage(result, TImageProps{800, 400, kDpi, ""});
  ASSERT_EQ(words.size(), 1u);
  EXPECT_NEAR(words[0].X, 100, 1e-9);
  EXPECT_NEAR(words[0].Y, 200 - 0.05 * 100, 1e-9);
  EXPECT_EQ(words[0].DirectionX, 1);
  EXPECT_EQ(words[0].DirectionY, 0);
  EXPECT_NEAR(words[0].Length, 200, 1e-9);
}

TEST(OcrTextLayer, WithoutAUsableBaselineTheWordFillsItsLine) {
  struct Row {
    const char* name;
    int x1, y1, x2, y2;
  };
  for (const Row& r : {Row{"none", 0, 0, 0, 0}, Row{"steeper than 45 degrees", 100, 200, 110, 100},
                       Row{"above the line", 100, 100, 700, 100}, Row{"below the line", 100, 300, 700, 300}}) {
    SCOPED_TRACE(r.name);
    TOcrWord word = SlopedWord();
    word.BaselineX1 = r.x1, word.BaselineY1 = r.y1, word.BaselineX2 = r.x2, word.BaselineY2 = r.y2;
    TOcrResult result;
    result.Words = {word};
    const std::vector<TPageTextWord> words = TextOverImage(result, TImageProps{800, 400, kDpi, ""});
    ASSERT_EQ(words.size(), 1u);
    EXPECT_EQ(words[0].X, 100);
    EXPECT_DOUBLE_EQ(words[0].Y, 120 + kPageTextAscent * 95);
    EXPECT_EQ(words[0].DirectionX, 1);
    EXPECT_EQ(words[0].DirectionY, 0);
    EXPECT_EQ(words[0].Size, 95);
    EXPECT_EQ(words[0].Length, 60);
  }
}

}  // namespace
