// SkipBlank and Deskew through the real program and source manager: drawn sides go through the
// virtual scanner's page folder; the report, the stored files, qpdf and poppler are the judges.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>

#include "app/OcrModule.h"
#include "imaging/BitmapGraphic.h"
#include "imaging/Canvas.h"
#include "imaging/BlankPage.h"
#include "imaging/JpegGraphic.h"
#include "imaging/PageCleaning.h"
#include "imaging/PageInk.h"
#include "imaging/PageSkew.h"
#include "imaging/TiffGraphic.h"
#include "tests/support/DrawnPages.h"
#include "tests/support/ProgramTest.h"
#include "tests/support/RunCommand.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

TSideSpec Side(TSideMark mark, int dpi = 200, std::uint32_t paper = 0xFFFFFF, double skew = 0) {
  TSideSpec s;
  s.Dpi = dpi;
  s.WidthMm = 105;
  s.HeightMm = 148;
  s.Paper = paper;
  s.Flaws.Noise = 4;
  s.Mark = mark;
  s.SkewDegrees = skew;
  return s;
}

TSideSpec BlankBack(std::uint32_t seed) {
  TSideSpec s = Side(TSideMark::None);
  s.Flaws.ShowThrough = 20;
  s.Flaws.Dust = 15;
  s.Seed = seed;
  return s;
}

class CleanPagesJob : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    WriteText(sys / "twain_32.ini", "[Sources]\nCount=1\n[Source1]\nPageFolder=" + pages / "" + "\n");
  }
  void AddSide(const std::string& name, const TSideSpec& spec) { DrawSide(spec)->SaveToFile(pages / name); }
  void AddSide(const std::string& name, TBitmapGraphic& page) { page.SaveToFile(pages / name); }
  [[nodiscard]] std::string Shell(const std::string& command) const { return RunCommand(command).output; }
  [[nodiscard]] int PdfPages(const std::string& pdf) const {
    return std::atoi(Shell("qpdf --show-npages '" + pdf + "'").c_str());
  }

  TempDir pages{"pages"};
  TempDir out{"out"};
};

// A duplex-like batch: fronts with little ink, backs blank with show-through and dust.
TEST_F(CleanPagesJob, BlankSidesAreDroppedAndNamedForEveryOutput) {
  AddSide("1.bmp", Side(TSideMark::PageNumber));
  AddSide("2.bmp", BlankBack(2));
  AddSide("3.bmp", Side(TSideMark::PencilNote));
  AddSide("4.bmp", BlankBack(4));
  AddSide("5.bmp", Side(TSideMark::SignatureLine));
  AddSide("6.bmp", BlankBack(6));
  const std::string pdf = out / "doc.pdf";
  ASSERT_TRUE(Scans("pdf SkipBlank filename '" + pdf + "'", 3));
  EXPECT_EQ(Report("Scan", "Blank"), "2,4,6");
  EXPECT_EQ(Report("Files", "Count"), "1");
  EXPECT_EQ(PdfPages(pdf), 3);

  ASSERT_TRUE(Scans("jpg SkipBlank filename '" + (out / "p.jpg") + "'", 3));
  EXPECT_EQ(Report("Scan", "Blank"), "2,4,6");
  EXPECT_EQ(Report("Files", "Count"), "3");
  EXPECT_EQ(Report("Files", "File3"), out / "p_03.jpg");
  EXPECT_FALSE(Exists(out / "p_04.jpg"));

  ASSERT_TRUE(Scans("multi_tif SkipBlank filename '" + (out / "m.tif") + "'", 3));
  EXPECT_NE(Shell("tiffinfo '" + (out / "m.tif") + "' 2>/dev/null | grep -c 'Image Width'").find('3'), std::string::npos);

  // Without the switch every side is stored and the report has no Blank entry.
  ASSERT_TRUE(Scans("pdf filename '" + pdf + "'", 6));
  EXPECT_EQ(Report("Scan", "Blank"), "<none>");
}

TEST_F(CleanPagesJob, AJobOfBlankSidesKeepsNoneWithoutAnError) {
  AddSide("1.bmp", BlankBack(1));
  AddSide("2.bmp", BlankBack(2));
  ASSERT_TRUE(Scans("bmp SkipBlank", 0));
  EXPECT_EQ(Report("Scan", "Blank"), "1,2");
  EXPECT_EQ(Report("Files", "Count"), "0");
  EXPECT_FALSE(Exists(exe / "page001.bmp"));
}

TEST_F(CleanPagesJob, AppendContinuesAfterTheLastPageAndCountsTheJobsSides) {
  AddSide("1.bmp", BlankBack(1));
  AddSide("2.bmp", Side(TSideMark::Tick));
  ASSERT_TRUE(Scans("tif SkipBlank", 1));
  ASSERT_TRUE(Exists(exe / "page001.tif"));
  ASSERT_TRUE(Scans("tif SkipBlank Append", 2));
  EXPECT_EQ(Report("Scan", "Blank"), "1");
  EXPECT_TRUE(Exists(exe / "page002.tif"));
  EXPECT_FALSE(Exists(exe / "page003.tif"));
}

// The switches change nothing on straight pages with content: the design's paths give the same
// bytes with them as without.
TEST_F(CleanPagesJob, StraightPagesWithContentStayByteForByte) {
  AddSide("1.bmp", Side(TSideMark::TextPage));
  AddSide("2.bmp", Side(TSideMark::Photo));
  ASSERT_TRUE(Scans("bmp filename '" + (out / "a.bmp") + "'", 2));
  ASSERT_TRUE(Scans("bmp SkipBlank Deskew filename '" + (out / "b.bmp") + "'", 2));
  EXPECT_EQ(Report("Scan", "Deskewed"), "");
  EXPECT_EQ(ReadText(out / "a.bmp"), ReadText(out / "b.bmp"));
  EXPECT_EQ(ReadText(out / "a_02.bmp"), ReadText(out / "b_02.bmp"));
}

TEST_F(CleanPagesJob, TurnedPagesAreStraightenedAndFilledWithTheirPaper) {
  constexpr std::uint32_t kCream = 0xF2EAD2;
  AddSide("1.bmp", Side(TSideMark::TextPage, 300, kCream, 3.0));
  AddSide("2.bmp", Side(TSideMark::TextPage, 300, kCream, 0.0));
  AddSide("3.bmp", Side(TSideMark::TextPage, 300, kCream, -7.5));
  AddSide("4.bmp", Side(TSideMark::Photo, 300, kCream, 4.0));
  ASSERT_TRUE(Scans("bmp Deskew A4 Resolution 300 filename '" + (out / "s.bmp") + "'", 4));
  EXPECT_EQ(Report("Scan", "Deskewed"), "1,3");
  for (const char* name : {"s.bmp", "s_03.bmp"}) {
    TBitmapGraphic page;
    page.LoadFromFile(out / name);
    EXPECT_NEAR(MeasuredSkew(page), 0.0, 0.1) << name;
    // The corner the turn uncovered has the paper's colour.
    const std::uint32_t corner = page.GetRgbPixel(2, 2);
    for (int shift : {0, 8, 16})
      EXPECT_NEAR(static_cast<int>((corner >> shift) & 0xFF), static_cast<int>((kCream >> shift) & 0xFF), 12) << name;
  }
}

TEST_F(CleanPagesJob, BlankAndTurnedSidesTogetherNumberedAsScanned) {
  AddSide("1.bmp", BlankBack(1));
  AddSide("2.bmp", Side(TSideMark::TextPage, 200, 0xFFFFFF, -2.0));
  AddSide("3.bmp", BlankBack(3));
  AddSide("4.bmp", Side(TSideMark::TextPage, 200, 0xFFFFFF, 1.0));
  ASSERT_TRUE(Scans("jpg Mono SkipBlank Deskew", 2));
  EXPECT_EQ(Report("Scan", "Blank"), "1,3");
  EXPECT_EQ(Report("Scan", "Deskewed"), "2,4");
}

// Recognition sees the straight page: pdftotext finds each word on its straight line.
TEST_F(CleanPagesJob, TheTextLayerOfAStraightenedPageLinesUpWithTheWords) {
  const std::string module = std::string(LUMIPAGE_BUILD_DIR) + "/" + kOcrModuleFileName;
  if (!Exists(module)) GTEST_SKIP() << "the text recognition module was not built";
  std::filesystem::copy_file(module, sys / kOcrModuleFileName);
  TSideSpec spec = Side(TSideMark::TextPage, 300, 0xFFFFFF, 4.0);
  spec.WidthMm = 150;
  spec.HeightMm = 100;
  AddSide("1.bmp", spec);
  const std::string pdf = out / "ocr.pdf";
  ASSERT_TRUE(Scans("pdf OCR eng Deskew Resolution 300 filename '" + pdf + "'", 1));
  EXPECT_EQ(Report("Scan", "Deskewed"), "1");
  const std::string xml = Shell("pdftotext -bbox '" + pdf + "' -");
  // The words of one line of the paragraph share their line's top and bottom.
  static const std::regex word(R"re(<word xMin="([-0-9.]+)" yMin="([-0-9.]+)" xMax="([-0-9.]+)" yMax="([-0-9.]+)">([^<]*)</word>)re");
  std::map<std::string, double> tops;
  for (std::sregex_iterator it(xml.begin(), xml.end(), word), end; it != end; ++it) tops[(*it)[5]] = std::stod((*it)[2]);
  ASSERT_TRUE(tops.count("quarterly") && tops.count("payment") && tops.count("lists")) << xml;
  EXPECT_NEAR(tops["quarterly"], tops["payment"], 1.5);
  EXPECT_NEAR(tops["lists"], tops["payment"], 1.5);
}

// Scans from other projects (tests/data/cleanpages/SOURCES.md).
std::string RealScan(const std::string& name) { return std::string(LUMIPAGE_TEST_DATA) + "/cleanpages/" + name; }

// A side of real paper: a patch of a scan without print, mirrored over and over to a page of
// 1000 x 1400 pixels (150 dpi), so that its texture, stains and show-through fill the page.
std::unique_ptr<TBitmapGraphic> PaperSide(const TDibGraphic& scan, int left, int top, int width, int height) {
  auto side = std::make_unique<TBitmapGraphic>();
  side->NewImage(1000, 1400, ikTrueColor, nullptr, 150, 150);
  for (int y = 0; y < side->Height(); ++y) {
    const int ty = (y / height) % 2 == 0 ? y % height : height - 1 - y % height;
    for (int x = 0; x < side->Width(); ++x) {
      const int tx = (x / width) % 2 == 0 ? x % width : width - 1 - x % width;
      side->SetRgbPixel(x, y, scan.GetRgbPixel(left + tx, top + ty));
    }
  }
  return side;
}

TEST(RealScans, PrintedPagesAreKeptAndTheirPaperIsBlank) {
  TJpegGraphic congress;
  congress.LoadFromFile(RealScan("congress.jpg"));
  // About 150 dpi: the sheet is some 6.5 inches wide.
  EXPECT_FALSE(JudgeBlank(congress, 150).Blank);
  struct Patch {
    const char* Name;
    int Left, Top, Width, Height;
  } patches[] = {
      {"foot", 100, 1405, 800, 75},           // aged paper below the text
      {"show_through", 120, 172, 760, 60},    // print of the facing page shows through
      {"right_margin", 872, 420, 80, 850},    // beside the text, stains
  };
  for (const Patch& p : patches) {
    const auto side = PaperSide(congress, p.Left, p.Top, p.Width, p.Height);
    const TBlankVerdict v = JudgeBlank(*side, 150);
    EXPECT_TRUE(v.Blank) << p.Name << ": mark at " << v.MarkLeft << "," << v.MarkTop << ", darkness " << v.MarkDarkness;
  }
  for (const char* name : {"linn.tif", "unpaper-imgsrc001.tif"}) {
    TTiffGraphic page;
    page.LoadFromFile(RealScan(name));
    EXPECT_FALSE(JudgeBlank(page, 300).Blank) << name;
  }
}

TEST(RealScans, ATurnedPageIsStraightenedAndAStraightOneKept) {
  TTiffGraphic turned;
  turned.LoadFromFile(RealScan("unpaper-imgsrc001.tif"));
  const double before = MeasuredSkew(turned, 6.0, 0.05);
  // ImageMagick's -deskew measures 4.02 degrees on the same page.
  EXPECT_NEAR(std::abs(before), 4.02, 0.1);
  EXPECT_NEAR(FindSkew(MeasureInk(turned, 300)).Degrees, before, 0.1);
  EXPECT_EQ(CleanPage(turned, 300, true, true), TCleaning::Straightened);
  EXPECT_NEAR(MeasuredSkew(turned), 0.0, 0.1) << "turned by " << before << " degrees before";

  TTiffGraphic straight;
  straight.LoadFromFile(RealScan("linn.tif"));
  const TSkewEstimate skew = FindSkew(MeasureInk(straight, 300));
  EXPECT_TRUE(skew.Reliable);
  EXPECT_NEAR(skew.Degrees, MeasuredSkew(straight), 0.1);
}

}  // namespace
