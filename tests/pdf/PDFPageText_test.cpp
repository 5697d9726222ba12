// The invisible text layer: its font loads in FreeType, every character extracts again, and the
// words lie where the image placement puts them, also on a page the image is fitted into.
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <regex>

#include "pdf/PDFPageText.h"
#include "pdf/PDFPageTree.h"
#include "pdf/Vellox.h"
#include "tests/pdf/PDFPageFixtures.h"

using namespace lumipage;
using namespace lumipage::testutil;

namespace {

TEST(PageTextFont, IsATrueTypeFontWithTwoBlankGlyphs) {
  const std::string program = PageTextFontProgram();
  FT_Library library = nullptr;
  ASSERT_EQ(FT_Init_FreeType(&library), 0);
  FT_Face face = nullptr;
  ASSERT_EQ(FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(program.data()),
                               static_cast<FT_Long>(program.size()), 0, &face),
            0);
  EXPECT_EQ(face->num_glyphs, 2);
  EXPECT_EQ(face->units_per_EM, 1000);
  EXPECT_EQ(face->ascender, 800);
  EXPECT_EQ(face->descender, -200);
  ASSERT_EQ(FT_Set_Char_Size(face, 0, 12 * 64, 300, 300), 0);
  ASSERT_EQ(FT_Load_Glyph(face, 1, FT_LOAD_NO_HINTING), 0);
  EXPECT_EQ(face->glyph->outline.n_points, 0);
  EXPECT_EQ(face->glyph->metrics.horiAdvance, 25 * 64);  // half of the 50-pixel em
  FT_Done_Face(face);
  FT_Done_FreeType(library);
}

TEST(PageTextUtf8, DecodesAndReplacesMalformedBytes) {
  struct Row {
    std::string in;
    std::u32string out;
  };
  for (const Row& r : {Row{"abc", U"abc"}, Row{"na\xC3\xAFve", U"na\u00EFve"}, Row{"\xE6\x97\xA5", U"\u65E5"},
                       Row{"\xF0\x9D\x84\x9E", U"\U0001D11E"}, Row{"a\xFF" "b", U"a\uFFFDb"},
                       Row{"\xC3", U"\uFFFD"}, Row{"\xC0\xAF", U"\uFFFD"},  // over-long '/'
                       Row{"\xED\xA0\x80", U"\uFFFD"},                       // a surrogate
                       Row{"\xE6\x97" "x", U"\uFFFDx"}})
    EXPECT_EQ(DecodeUtf8(r.in), r.out) << r.in;
}

struct Box {
  double xMin, yMin, xMax, yMax;
  std::string text;
};

std::vector<Box> WordBoxes(const std::string& pdf) {
  const std::string out = RunCommand("pdftotext -bbox '" + pdf + "' -").output;
  std::vector<Box> boxes;
  static const std::regex word(
      R"re(<word xMin="([-0-9.]+)" yMin="([-0-9.]+)" xMax="([-0-9.]+)" yMax="([-0-9.]+)">([^<]*)</word>)re");
  for (std::sregex_iterator it(out.begin(), out.end(), word), end; it != end; ++it)
    boxes.push_back(Box{std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]), std::stod((*it)[4]), (*it)[5]});
  return boxes;
}

// An 800 x 400 pixel image fitted, centred, into an A4 page: scaled and moved, so text drawn in
// the image's pixels must go through the same placement to land on the words.
class FittedPage : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteJpeg(dir.File("img.jpg"), JpegSpec{800, 400, 3, true, 1, 100, 100});
    (void)pdf.SetPageSize("A4");
    (void)pdf.SetOrigin(1);  // top-left, as the job draws
    ASSERT_NE(pdf.AddImageFromFile(dir.File("img.jpg"), 0), nullptr);
    ASSERT_EQ(pdf.FitImage(0, 0, pdf.GetPageBox(1, 2), pdf.GetPageBox(1, 3), 1, 1, 0), 1);
  }
  // Page points of image pixel (x, y): A4 width 595.2756 over 800 pixels, centred vertically.
  [[nodiscard]] double Scale() const { return pdf.Pages().Width() / 800.0; }
  [[nodiscard]] double Top() { return (pdf.Pages().Height() - 400 * Scale()) / 2; }

  TempDir dir{"pagetext"};
  TVellox pdf;
};

TEST_F(FittedPage, EveryCharacterExtractsAndEachWordCoversItsBox) {
  TPDFPageText text(pdf.Pages());
  struct Drawn {
    const char* utf8;
    double x, y, length, size;
  };
  const Drawn drawn[] = {{"Quick", 40, 100, 200, 50},
                         {"na\xC3\xAFve", 300, 100, 150, 50},
                         {"\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC", 40, 250, 260, 40},
                         {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", 350, 250, 120, 40},
                         {"\xF0\x9D\x84\x9E" "clef", 550, 250, 200, 40}};
  std::vector<TPageTextWord> words;
  for (const Drawn& d : drawn) {
    TPageTextWord w;
    w.Text = d.utf8;
    w.X = d.x;
    w.Y = d.y;
    w.Length = d.length;
    w.Size = d.size;
    words.push_back(w);
  }
  ASSERT_EQ(text.DrawWords(words, 800, 400), 1);
  text.Finish();
  (void)pdf.CompressContent();
  ASSERT_EQ(pdf.SaveToFile(dir.File("out.pdf")), 1);
  EXPECT_TRUE(QpdfClean(dir.File("out.pdf")));

  const std::vector<Box> boxes = WordBoxes(dir.File("out.pdf"));
  ASSERT_EQ(boxes.size(), std::size(drawn));
  const double s = Scale(), top = Top();
  for (const Drawn& d : drawn) {
    SCOPED_TRACE(d.utf8);
    // Extraction orders words by its own reading order: find each by its text.
    auto it = std::find_if(boxes.begin(), boxes.end(), [&d](const Box& b) { return b.text == d.utf8; });
    ASSERT_NE(it, boxes.end());
    EXPECT_NEAR(it->xMin, d.x * s, 0.05);
    EXPECT_NEAR(it->xMax, (d.x + d.length) * s, 0.05);
    EXPECT_NEAR(it->yMin, top + (d.y - kPageTextAscent * d.size) * s, 0.05);
    EXPECT_NEAR(it->yMax, top + (d.y + kPageTextDescent * d.size) * s, 0.05);
  }
}

TEST_F(FittedPage, AnotherReaderExtractsTheSameText) {
  TPDFPageText text(pdf.Pages());
  std::vector<TPageTextWord> words;
  double x = 20;
  for (const char* w : {"na\xC3\xAFve", "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC",
                        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"}) {
    TPageTextWord word;
    word.Text = w;
    word.X = x;
    word.Y = 100;
    word.Length = 200;
    word.Size = 40;
    words.push_back(word);
    x += 260;
  }
  ASSERT_EQ(text.DrawWords(words, 800, 400), 1);
  text.Finish();
  ASSERT_EQ(pdf.SaveToFile(dir.File("gs.pdf")), 1);
  const CommandResult gs =
      RunCommand("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=txtwrite -sOutputFile=- '" + dir.File("gs.pdf") + "'");
  if (gs.status != 0 && gs.output.find("not found") != std::string::npos) GTEST_SKIP() << "Ghostscript is not installed";
  for (const TPageTextWord& w : words) EXPECT_NE(gs.output.find(w.Text), std::string::npos) << w.Text << "\n" << gs.output;
}

TEST_F(FittedPage, TextRunsAlongATurnedBaseline) {
  // A word running up the image (a page scanned sideways): after /Rotate 90 it reads across.
  TPDFPageText text(pdf.Pages());
  TPageTextWord w;
  w.Text = "Upward";
  w.X = 100;
  w.Y = 350;
  w.DirectionX = 0;
  w.DirectionY = -1;
  w.Length = 240;
  w.Size = 40;
  ASSERT_EQ(text.DrawWords(std::span(&w, 1), 800, 400), 1);
  text.Finish();
  ASSERT_EQ(pdf.SaveToFile(dir.File("up.pdf")), 1);
  const std::vector<Box> boxes = WordBoxes(dir.File("up.pdf"));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Upward");
  const double s = Scale(), top = Top();
  // Along y from 350 up to 110 pixels; across x from the baseline leftwards by the ascent.
  EXPECT_NEAR(boxes[0].yMin, top + 110 * s, 0.05);
  EXPECT_NEAR(boxes[0].yMax, top + 350 * s, 0.05);
  EXPECT_NEAR(boxes[0].xMin, (100 - kPageTextAscent * 40) * s, 0.05);
  EXPECT_NEAR(boxes[0].xMax, (100 + kPageTextDescent * 40) * s, 0.05);
}

TEST_F(FittedPage, NothingIsDrawnWithoutAnImageOnThePage) {
  TPDFPageText text(pdf.Pages());
  (void)pdf.NewPages(1);
  TPageTextWord w;
  w.Text = "Lost";
  w.Length = 10;
  w.Size = 10;
  EXPECT_EQ(text.DrawWords(std::span(&w, 1), 800, 400), 0);
}

}  // namespace
