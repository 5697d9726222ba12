// Page tree and page geometry: finding pages, sizes, paper names, units and origins, new pages,
// the content-stream rules of selection and the resource dictionary rule.
#include "pdf/PDFPageTree.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <sstream>

#include "pdf/PDFDocument.h"
#include "pdf/Vellox.h"
#include "tests/pdf/PDFPageFixtures.h"

namespace lumipage {
namespace {

using namespace testutil;

// A facade whose selected document is loaded from the given file text.
void Load(TVellox& pdf, const std::string& text) {
  std::istringstream in(text);
  ASSERT_EQ(pdf.LoadFromStream(in), 1);
}

std::string SelectedBox(TVellox& pdf, const char* key) {
  TPDFObject* box = pdf.Pages().SelectedPageDictionary()->Get(key, true);
  return box == nullptr ? "" : box->ToText();
}

// ---- Paper sizes ----

struct PaperCase {
  const char* Name;
  int Result;
  double Width;
  double Height;
};

class PageSizeTest : public ::testing::TestWithParam<PaperCase> {};

TEST_P(PageSizeTest, SetsTheSelectedPage) {
  const PaperCase& c = GetParam();
  TVellox pdf;
  EXPECT_EQ(pdf.SetPageSize(c.Name), c.Result);
  EXPECT_NEAR(pdf.PageWidth(), c.Width, 1e-9);
  EXPECT_NEAR(pdf.PageHeight(), c.Height, 1e-9);
  // Units and origin play no part.
  TVellox inches;
  (void)inches.SetMeasurementUnits(2);
  (void)inches.SetOrigin(2);
  (void)inches.SetPageSize(c.Name);
  EXPECT_NEAR(inches.PageWidth() * 72, c.Width, 1e-9);
}

constexpr double kA4W = 210 / 25.4 * 72;
constexpr double kA4H = 297 / 25.4 * 72;

INSTANTIATE_TEST_SUITE_P(
    Names, PageSizeTest,
    ::testing::Values(PaperCase{"A4", 1, kA4W, kA4H}, PaperCase{"a4 LANDSCAPE", 1, kA4H, kA4W},
                      PaperCase{"Landscape Letter", 1, 792, 612}, PaperCase{"LETTER", 1, 612, 792},
                      PaperCase{"LEDGER", 1, 1224, 792}, PaperCase{"LEDGER LANDSCAPE", 1, 1224, 792},
                      PaperCase{"TABLOID", 1, 792, 1224}, PaperCase{"dl", 1, 110 / 25.4 * 72, 220 / 25.4 * 72},
                      PaperCase{"B10", 1, 32 / 25.4 * 72, 45 / 25.4 * 72},
                      PaperCase{"ISOB10", 1, 31 / 25.4 * 72, 44 / 25.4 * 72},
                      PaperCase{"C7 landscape", 1, 114 / 25.4 * 72, 81 / 25.4 * 72},
                      PaperCase{"A11", 0, 612, 792}, PaperCase{"", 0, 612, 792},
                      PaperCase{"A4 A4", 0, 612, 792}));

TEST(PageSizeTest, StoresMediaAndCropBoxes) {
  TVellox pdf;
  ASSERT_EQ(pdf.SetPageSize("A4"), 1);
  EXPECT_EQ(SelectedBox(pdf, "MediaBox"), "[ 0 0 595.2755 841.8897 ]");
  EXPECT_EQ(SelectedBox(pdf, "CropBox"), "[ 0 0 595.2755 841.8897 ]");
}

// ---- Units, origins and page boxes ----

TEST(PageGeometryTest, UnitFactorsAreTheExactDoubles) {
  EXPECT_EQ(std::bit_cast<uint64_t>(kUnitMillimetres), 0x3FD693E93E93E93FULL);
  EXPECT_EQ(std::bit_cast<uint64_t>(kUnitInches), 0x3F8C71C71C71C71CULL);
  // One unit in the last place above the plain division.
  EXPECT_EQ(std::bit_cast<uint64_t>(kUnitMillimetres), std::bit_cast<uint64_t>(25.4 / 72.0) + 1);
  TVellox pdf;
  (void)pdf.SetMeasurementUnits(1);
  EXPECT_EQ(pdf.Pages().UnitFactor(), kUnitMillimetres);
  (void)pdf.SetMeasurementUnits(3);  // unknown: points
  EXPECT_EQ(pdf.Pages().UnitFactor(), 1.0);
  EXPECT_EQ(pdf.SetScale(2), 1);  // two points per unit
  EXPECT_EQ(pdf.PageWidth(), 306);
  EXPECT_EQ(pdf.MultiplyScale(2), 1);
  EXPECT_EQ(pdf.PageWidth(), 153);
  EXPECT_EQ(pdf.SetScale(0), 0);
  EXPECT_EQ(pdf.MultiplyScale(0), 0);
  EXPECT_EQ(pdf.PageWidth(), 153);
  EXPECT_EQ(pdf.SetOrigin(7), 1);
  EXPECT_EQ(pdf.GetOrigin(), 0);
  (void)pdf.SetOrigin(3);
  EXPECT_EQ(pdf.GetOrigin(), 3);
}

struct BoxCase {
  int Units;
  int Origin;
  int Box;
  int Index;
  double Expected;
};

class PageBoxTest : public ::testing::TestWithParam<BoxCase> {};

TEST_P(PageBoxTest, ConvertsUnitsAndOrigin) {
  const BoxCase& c = GetParam();
  TVellox pdf;
  // A 612 x 792 media box and a crop box inset 10, 20, 12, 12; no other boxes.
  TPDFDictionary* page = pdf.Pages().SelectedPageDictionary();
  page->Put("CropBox", pdf.Pages().Store().Parse("[ 600 780 10 20 ]"));
  (void)pdf.SetMeasurementUnits(c.Units);
  (void)pdf.SetOrigin(c.Origin);
  EXPECT_NEAR(pdf.GetPageBox(c.Box, c.Index), c.Expected, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, PageBoxTest,
    ::testing::Values(BoxCase{0, 0, 1, 2, 612}, BoxCase{0, 0, 1, 3, 792}, BoxCase{2, 0, 1, 2, 8.5},
                      BoxCase{2, 0, 1, 3, 11}, BoxCase{1, 0, 1, 2, 215.9}, BoxCase{0, 0, 1, 1, 792},
                      BoxCase{0, 1, 1, 1, 0}, BoxCase{0, 1, 1, 5, 792}, BoxCase{2, 1, 1, 5, 11},
                      BoxCase{0, 0, 2, 0, 10}, BoxCase{0, 0, 2, 4, 600}, BoxCase{0, 0, 2, 5, 20},
                      BoxCase{0, 2, 2, 0, 602}, BoxCase{0, 3, 2, 4, 12}, BoxCase{0, 2, 2, 1, 12},
                      BoxCase{0, 3, 2, 1, 780}, BoxCase{0, 2, 2, 2, 590},  // widths never flip
                      BoxCase{0, 0, 3, 3, 760}, BoxCase{0, 0, 4, 2, 590}, BoxCase{0, 0, 5, 0, 10},
                      BoxCase{0, 0, 0, 2, 0}, BoxCase{0, 0, 6, 2, 0}, BoxCase{0, 0, 1, -1, 0},
                      BoxCase{0, 0, 1, 6, 0}));

TEST(PageBoxTest, BoxThatIsNotFourNumbersGivesZero) {
  TVellox pdf;
  pdf.Pages().SelectedPageDictionary()->Put("ArtBox", pdf.Pages().Store().Parse("[ 0 0 /Wide 10 ]"));
  EXPECT_EQ(pdf.GetPageBox(5, 2), 0);
  pdf.Pages().SelectedPageDictionary()->Put("ArtBox", pdf.Pages().Store().Parse("[ 0 0 10 ]"));
  EXPECT_EQ(pdf.GetPageBox(5, 2), 0);
  EXPECT_EQ(pdf.GetPageBox(1, 2), 612);
}

struct DimensionCase {
  int Units;
  double Width;
  double Height;
  const char* MediaBox;
};

class PageDimensionsTest : public ::testing::TestWithParam<DimensionCase> {};

TEST_P(PageDimensionsTest, SetsExactlyTheGivenSize) {
  const DimensionCase& c = GetParam();
  TVellox pdf;
  (void)pdf.SetMeasurementUnits(c.Units);
  (void)pdf.SetOrigin(1);
  EXPECT_EQ(pdf.SetPageDimensions(c.Width, c.Height), 1);
  EXPECT_EQ(SelectedBox(pdf, "MediaBox"), c.MediaBox);
  EXPECT_EQ(SelectedBox(pdf, "CropBox"), c.MediaBox);
  EXPECT_EQ(pdf.GetPageBox(1, 2), c.Width);
  EXPECT_EQ(pdf.GetPageBox(1, 3), c.Height);
}

INSTANTIATE_TEST_SUITE_P(Units, PageDimensionsTest,
                         ::testing::Values(DimensionCase{2, 8.5, 11, "[ 0 0 612 792 ]"},
                                           DimensionCase{2, 1654.0 / 200, 2338.0 / 200, "[ 0 0 595.44 841.68 ]"},
                                           DimensionCase{1, 210, 297, "[ 0 0 595.2755 841.8897 ]"},
                                           DimensionCase{0, 100.5, 50, "[ 0 0 100.5 50 ]"}));

TEST(PageDimensionsTest, SizeThatDoesNotReadBackKeepsTheOldOne) {
  TVellox pdf;
  EXPECT_EQ(pdf.SetPageDimensions(std::nan(""), 100), 0);
  EXPECT_EQ(pdf.PageWidth(), 612);
  EXPECT_EQ(pdf.PageHeight(), 792);
  EXPECT_EQ(SelectedBox(pdf, "MediaBox"), "[ 0 0 612 792 ]");
}

// ---- New pages ----

struct NewPagesCase {
  int Count;
  int Result;
  int Selected;
};

class NewPagesTest : public ::testing::TestWithParam<NewPagesCase> {};

TEST_P(NewPagesTest, AddsAfterTheLastPage) {
  const NewPagesCase& c = GetParam();
  TVellox pdf;
  EXPECT_EQ(pdf.NewPages(c.Count), c.Result);
  EXPECT_EQ(pdf.PageCount(), c.Result == 0 ? 1 : c.Result);
  EXPECT_EQ(pdf.SelectedPage(), c.Selected);
}

INSTANTIATE_TEST_SUITE_P(Counts, NewPagesTest,
                         ::testing::Values(NewPagesCase{0, 0, 1}, NewPagesCase{-2, 0, 1}, NewPagesCase{100000, 0, 1},
                                           NewPagesCase{1, 2, 2}, NewPagesCase{3, 4, 2}));

TEST(NewPagesTest, NewPagesTakeTheSelectedSizeAndAreValid) {
  TempDir dir("pagetree_new");
  TVellox pdf;
  ASSERT_EQ(pdf.SetPageSize("A5 landscape"), 1);
  ASSERT_EQ(pdf.NewPages(2), 3);
  TPDFDictionary* page = pdf.Pages().SelectedPageDictionary();
  EXPECT_EQ(page->Get("Rotate")->ToText(), "0");
  EXPECT_EQ(page->Get("Resources")->ToText(), "<<\n/ProcSet [ /PDF /Text /ImageB /ImageC /ImageI ]\n>>\n");
  ASSERT_EQ(pdf.Pages().ContentStreams().size(), 1u);
  EXPECT_EQ(pdf.Pages().ContentStreams()[0]->Dictionary()->GetText("LC"), "Velx");
  // Each page has its own resource dictionary.
  (void)pdf.SelectPage(3);
  EXPECT_NE(pdf.Pages().SelectedPageDictionary()->Get("Resources"), page->Get("Resources"));
  const std::string file = dir.File("new.pdf");
  ASSERT_EQ(pdf.SaveToFile(file), 1);
  EXPECT_TRUE(QpdfClean(file));
  EXPECT_EQ(PageCount(file), "3");
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(PageSize(file, p), "595.276 x 419.527") << p;
}

// ---- Finding pages in a loaded tree ----

// Root (/MediaBox 300 x 400) with kids: node A (pages 101 and 102 wide), page 3 without a
// box, node B (page 104 wide, node C whose box 105 x 205 page 5 inherits).
std::string NestedTree() {
  return MakePdf({"<< /Type /Catalog /Pages 2 0 R >>",
                  "<< /Type /Pages /Kids [ 3 0 R 6 0 R 7 0 R ] /Count 5 /MediaBox [ 0 0 300 400 ] >>",
                  "<< /Type /Pages /Parent 2 0 R /Kids [ 4 0 R 5 0 R ] /Count 2 >>",
                  "<< /Type /Page /Parent 3 0 R /MediaBox [ 0 0 101 200 ] >>",
                  "<< /Type /Page /Parent 3 0 R /MediaBox [ 0 0 102 200 ] >>",
                  "<< /Type /Page /Parent 2 0 R >>",
                  "<< /Type /Pages /Parent 2 0 R /Kids [ 8 0 R 9 0 R ] /Count 2 >>",
                  "<< /Type /Page /Parent 7 0 R /MediaBox [ 104 200 0 0 ] >>",
                  "<< /Type /Pages /Parent 7 0 R /Kids [ 10 0 R ] /Count 1 /MediaBox [ 0 0 105 205 ] >>",
                  "<< /Type /Page /Parent 9 0 R >>"});
}

TEST(PageTreeTest, FindsPagesInOrderWithInheritedBoxes) {
  TVellox pdf;
  Load(pdf, NestedTree());
  ASSERT_EQ(pdf.PageCount(), 5);
  const double widths[] = {101, 102, 300, 104, 105};
  const double heights[] = {200, 200, 400, 200, 205};
  for (int p = 5; p >= 1; --p) {
    ASSERT_EQ(pdf.SelectPage(p), 1) << p;
    EXPECT_EQ(pdf.PageWidth(), widths[p - 1]) << p;
    EXPECT_EQ(pdf.PageHeight(), heights[p - 1]) << p;
  }
  // Pages out of range re-select the current page.
  EXPECT_EQ(pdf.SelectPage(6), 0);
  EXPECT_EQ(pdf.SelectedPage(), 1);
  EXPECT_EQ(pdf.SelectPage(0), 0);
  EXPECT_EQ(pdf.PageWidth(), 101);
}

TEST(PageTreeTest, PagesAreCountedByWalkingNeverByCount) {
  // Node A's kids do not exist: the pages are the three that do, and every /Count says so.
  TVellox pdf;
  std::string text = NestedTree();
  text.replace(text.find("[ 4 0 R 5 0 R ]"), 15, "[ 40 0 R 41 0 R ]");
  Load(pdf, text);
  EXPECT_EQ(pdf.PageCount(), 3);
  EXPECT_EQ(pdf.SelectPage(1), 1);
  EXPECT_EQ(pdf.PageWidth(), 300);
  EXPECT_EQ(pdf.SelectPage(4), 0);
  EXPECT_EQ(pdf.SelectedDocument()->PagesDictionary()->GetInteger("Count", 0), 3);

  // Counts that lie in either direction, up to the largest 32-bit number.
  for (const char* count : {"-1", "0", "2147483647", "9999999999"}) {
    TVellox lying;
    std::string t = NestedTree();
    t.replace(t.find("/Count 5"), 8, std::string("/Count ") + count);
    t.replace(t.find("/Count 2"), 8, std::string("/Count ") + count);
    // Same offsets are not needed: the table is rebuilt when it misses.
    Load(lying, t);
    EXPECT_EQ(lying.PageCount(), 5) << count;
    EXPECT_EQ(lying.NewPages(1), 6) << count;
    EXPECT_EQ(lying.CompressContent(), 1);
  }
}

TEST(PageTreeTest, MissingBoxGetsTheDefaultSize) {
  TVellox pdf;
  Load(pdf, MakePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [ 3 0 R ] /Count 1 >>",
                     "<< /Type /Page /Parent 2 0 R >>"}));
  EXPECT_EQ(pdf.PageWidth(), 612);
  EXPECT_EQ(pdf.PageHeight(), 792);
  // Read, not written: the page keeps showing at the reader's default size.
  EXPECT_EQ(SelectedBox(pdf, "MediaBox"), "");

  // A page cut off from its parents takes the root's box as the default.
  TVellox orphan;
  Load(orphan, MakePdf({"<< /Type /Catalog /Pages 2 0 R >>",
                        "<< /Type /Pages /Kids [ 3 0 R ] /Count 1 /MediaBox [ 0 0 300 400 ] >>",
                        "<< /Type /Page >>"}));
  EXPECT_EQ(orphan.PageWidth(), 300);
  EXPECT_EQ(orphan.PageHeight(), 400);
}

struct BrokenTreeCase {
  const char* Name;
  const char* Root;
  const char* Kid;
};

class BrokenTreeTest : public ::testing::TestWithParam<BrokenTreeCase> {};

TEST_P(BrokenTreeTest, WithoutAnyPageObjectTheFileIsRefused) {
  TVellox pdf;
  std::istringstream in(MakePdf({"<< /Type /Catalog /Pages 2 0 R >>", GetParam().Root, GetParam().Kid}));
  EXPECT_EQ(pdf.LoadFromStream(in), 0);
  EXPECT_EQ(pdf.DocumentCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, BrokenTreeTest,
    ::testing::Values(BrokenTreeCase{"SelfCycle", "<< /Type /Pages /Kids [ 3 0 R ] /Count 1 >>",
                                     "<< /Type /Pages /Kids [ 3 0 R ] /Count 1 >>"},
                      BrokenTreeCase{"RootCycle", "<< /Type /Pages /Kids [ 3 0 R ] /Count 1 >>",
                                     "<< /Type /Pages /Kids [ 2 0 R ] /Count 1 >>"},
                      BrokenTreeCase{"NoKids", "<< /Type /Pages /Count 1 >>", "null"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(PageTreeTest, DirectKidsBecomeObjectsOfTheirOwn) {
  // Pages written in place in /Kids are pages all the same: each becomes an indirect object, keeps
  // its entries, and a page added after them lands in the same tree.
  TVellox pdf;
  Load(pdf, MakePdf({"<< /Type /Catalog /Pages 2 0 R >>",
                     "<< /Type /Pages /Count 2 /Kids [ << /Type /Page /Parent 2 0 R /MediaBox [ 0 0 300 400 ] "
                     "/Contents 3 0 R >> << /Type /Page /Parent 2 0 R /MediaBox [ 0 0 500 600 ] /Contents 3 0 R >> ] >>",
                     "<< /Length 0 >>\nstream\n\nendstream"}));
  ASSERT_EQ(pdf.PageCount(), 2);
  ASSERT_EQ(pdf.SelectPage(2), 1);
  EXPECT_EQ(pdf.PageWidth(), 500);
  const auto* kids = As<TPDFArray>(pdf.SelectedDocument()->PagesDictionary()->Get("Kids", true));
  ASSERT_NE(kids, nullptr);
  for (int i = 0; i < kids->Count(); ++i) EXPECT_NE(As<TPDFIndRef>(kids->Item(i)), nullptr) << i;
  EXPECT_EQ(pdf.NewPages(1), 3);
  EXPECT_EQ(pdf.SelectPage(1), 1);
  EXPECT_EQ(pdf.PageWidth(), 300);
}

TEST(PageTreeTest, LinksBackUpTheTreeAreCut) {
  // The root lists itself and a node lists the root: the links go, the page stays, and the tree
  // written is one every reader walks alike.
  TVellox pdf;
  Load(pdf, MakePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [ 2 0 R 3 0 R ] /Count 1 >>",
                     "<< /Type /Pages /Parent 2 0 R /Kids [ 4 0 R 2 0 R ] /Count 1 >>",
                     "<< /Type /Page /Parent 3 0 R /MediaBox [ 0 0 300 400 ] >>"}));
  EXPECT_EQ(pdf.PageCount(), 1);
  TPDFDocument& doc = *pdf.SelectedDocument();
  EXPECT_EQ(doc.PagesDictionary()->Get("Kids", true)->ToText(), "[ 3 0 R ]");
  EXPECT_EQ(As<TPDFDictionary>(doc.GetValue(doc.FindIndirect(3, 0)))->Get("Kids", true)->ToText(), "[ 4 0 R ]");
  EXPECT_EQ(pdf.NewPages(1), 2);
}

TEST(PageTreeTest, KidThatIsMissingGoesSoANewPageCountsOnce) {
  // /Kids names object 6, which the file lacks; selecting page 1 gives it an engine stream (5)
  // and the new page takes the next free number, 6: left in the tree, the old reference would
  // count it a second time.
  TVellox pdf;
  Load(pdf, MakePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [ 3 0 R 6 0 R ] /Count 2 >>",
                     "<< /Type /Page /Parent 2 0 R /MediaBox [ 0 0 300 400 ] /Contents 4 0 R >>",
                     "<< /Length 0 >>\nstream\n\nendstream"}));
  ASSERT_EQ(pdf.PageCount(), 1);
  ASSERT_EQ(pdf.NewPages(1), 2);
  TVellox again;
  Load(again, SaveToString(*pdf.SelectedDocument()));
  EXPECT_EQ(again.PageCount(), 2);
}

TEST(PageTreeTest, CatalogNamingAPageFindsTheTreeAboveIt) {
  // /Pages names the page itself: the tree is the one its /Parent leads to, and the page keeps
  // every entry it had (no /Count, no /Kids).
  TVellox pdf;
  Load(pdf, MakePdf({"<< /Type /Catalog /Pages 3 0 R >>", "<< /Type /Pages /Kids [ 3 0 R ] /Count 1 >>",
                     "<< /Type /Page /Parent 2 0 R /MediaBox [ 0 0 300 400 ] >>"}));
  EXPECT_EQ(pdf.PageCount(), 1);
  TPDFDocument& doc = *pdf.SelectedDocument();
  EXPECT_EQ(doc.Catalog()->Get("Pages")->ToText(), "2 0 R");
  auto* page = As<TPDFDictionary>(doc.GetValue(doc.FindIndirect(3, 0)));
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->TypeName(), "Page");
  EXPECT_EQ(page->Get("Count"), nullptr);
  EXPECT_EQ(page->Get("Kids"), nullptr);

  // A page with no tree above it: a new root holds it, and it stays a page.
  TVellox alone;
  Load(alone, MakePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Page /MediaBox [ 0 0 300 400 ] >>"}));
  EXPECT_EQ(alone.PageCount(), 1);
  TPDFDocument& single = *alone.SelectedDocument();
  EXPECT_EQ(As<TPDFDictionary>(single.GetValue(single.FindIndirect(2, 0)))->TypeName(), "Page");
  EXPECT_NE(single.Catalog()->Get("Pages")->ToText(), "2 0 R");
}

TEST(PageTreeTest, InsertedPagesCountInEveryAncestor) {
  TempDir dir("pagetree_insert");
  TVellox pdf;
  Load(pdf, NestedTree());
  TPDFPageTree& tree = pdf.Pages();
  tree.InsertPages(2, 3, 50, 60);  // after page 2, inside node A
  EXPECT_EQ(pdf.SelectedPage(), 3);
  EXPECT_EQ(pdf.PageCount(), 7);
  const double widths[] = {101, 102, 50, 50, 300, 104, 105};
  for (int p = 1; p <= 7; ++p) {
    ASSERT_EQ(pdf.SelectPage(p), 1);
    EXPECT_EQ(pdf.PageWidth(), widths[p - 1]) << p;
  }
  ASSERT_EQ(pdf.NewPages(1), 8);  // at the root's end, the last page's size
  EXPECT_EQ(pdf.PageWidth(), 105);
  const std::string file = dir.File("inserted.pdf");
  ASSERT_EQ(pdf.SaveToFile(file), 1);
  EXPECT_TRUE(QpdfClean(file));
  EXPECT_EQ(PageCount(file), "8");
  EXPECT_EQ(PageSize(file, 4), "50 x 60");
  EXPECT_EQ(PageSize(file, 8), "105 x 205");
}

// ---- Content streams of the selected page ----

std::string ContentTree() {
  const std::string big(500001, ' ');
  return MakePdf({"<< /Type /Catalog /Pages 2 0 R >>",
                  "<< /Type /Pages /Kids [ 3 0 R 5 0 R 7 0 R 9 0 R ] /Count 4 /MediaBox [ 0 0 200 200 ] >>",
                  "<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>",
                  "<< /Length 5 >>\nstream\n0 0 m\nendstream",
                  "<< /Type /Page /Parent 2 0 R /Contents [ 6 0 R ] >>",
                  "<< /LC /Velx /Length 3 >>\nstream\nq Q\nendstream",
                  "<< /Type /Page /Parent 2 0 R /Contents [ 8 0 R 99 0 R ] >>",
                  "<< /LC /Velx /Length 3 >>\nstream\nq Q\nendstream",
                  "<< /Type /Page /Parent 2 0 R /Contents [ 10 0 R ] >>",
                  "<< /LC /Velx /Length 500001 >>\nstream\n" + big + "\nendstream"});
}

TEST(PageContentTest, SelectionGivesEachPageAnEngineStream) {
  TempDir dir("pagetree_content");
  TVellox pdf;
  Load(pdf, ContentTree());
  TPDFPageTree& tree = pdf.Pages();
  // A foreign single stream: made an array, an engine stream appended, reused later.
  ASSERT_EQ(pdf.SelectPage(1), 1);
  ASSERT_EQ(tree.ContentStreams().size(), 2u);
  EXPECT_EQ(tree.ContentStreams()[0]->RawData(), "0 0 m");
  EXPECT_EQ(tree.ContentStreams()[1]->Dictionary()->GetText("LC"), "Velx");
  ASSERT_EQ(pdf.SelectPage(2), 1);
  ASSERT_EQ(pdf.SelectPage(1), 1);
  EXPECT_EQ(tree.ContentStreams().size(), 2u);
  // The engine's own stream is drawn into.
  ASSERT_EQ(pdf.SelectPage(2), 1);
  ASSERT_EQ(tree.ContentStreams().size(), 1u);
  tree.Painter().AppendLine("Q");
  tree.Painter().Store();
  EXPECT_EQ(tree.ContentStreams()[0]->RawData(), "q Q Q\n");
  // A dangling entry becomes an empty stream; the last entry being no stream adds one.
  ASSERT_EQ(pdf.SelectPage(3), 1);
  ASSERT_EQ(tree.ContentStreams().size(), 3u);
  EXPECT_EQ(tree.ContentStreams()[1]->RawData(), "");
  // An engine stream above 500000 bytes is not drawn into further.
  ASSERT_EQ(pdf.SelectPage(4), 1);
  EXPECT_EQ(tree.ContentStreams().size(), 2u);

  const std::string file = dir.File("content.pdf");
  ASSERT_EQ(pdf.CompressContent(), 1);
  ASSERT_EQ(pdf.SaveToFile(file), 1);
  EXPECT_TRUE(QpdfClean(file));
}

TEST(PageContentTest, ForeignStreamFlagDrawsIntoTheLastStream) {
  TVellox pdf;
  Load(pdf, MakePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [ 3 0 R 5 0 R ] /Count 2 >>",
                     "<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>",
                     "<< /Length 5 >>\nstream\n0 0 m\nendstream",
                     "<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>"}));
  pdf.Pages().ForeignStreams = true;
  ASSERT_EQ(pdf.SelectPage(2), 1);  // page 1 was selected on load, before the flag was set
  ASSERT_EQ(pdf.Pages().ContentStreams().size(), 1u);
  pdf.Pages().Painter().AppendLine("Q");
  pdf.Pages().Painter().Store();
  EXPECT_EQ(pdf.Pages().ContentStreams()[0]->RawData(), "0 0 m Q\n");
}

// ---- Resources ----

struct ResourcesCase {
  const char* Name;
  const char* Page;
  const char* Parent;
  bool OnParent;
};

class ResourcesTest : public ::testing::TestWithParam<ResourcesCase> {};

TEST_P(ResourcesTest, FindsOrMakesTheDictionary) {
  const ResourcesCase& c = GetParam();
  TVellox pdf;
  Load(pdf, MakePdf({"<< /Type /Catalog /Pages 2 0 R >>",
                     std::string("<< /Type /Pages /Kids [ 3 0 R ] /Count 1 ") + c.Parent + " >>",
                     std::string("<< /Type /Page /Parent 2 0 R ") + c.Page + " >>",
                     "<< /Font << >> >>"}));
  TPDFPageTree& tree = pdf.Pages();
  TPDFDictionary* resources = tree.Resources();
  ASSERT_NE(resources, nullptr);
  EXPECT_EQ(tree.Resources(), resources);  // the same one every time
  TPDFDictionary* parent = pdf.SelectedDocument()->PagesDictionary();
  TPDFDictionary* holder = c.OnParent ? parent : tree.SelectedPageDictionary();
  EXPECT_EQ(holder->Get("Resources", true), resources);
}

INSTANTIATE_TEST_SUITE_P(
    Holders, ResourcesTest,
    ::testing::Values(ResourcesCase{"OnPage", "/Resources << /ProcSet [ /PDF ] >>", "/Resources << >>", false},
                      ResourcesCase{"Reference", "/Resources 4 0 R", "", false},
                      ResourcesCase{"FromParent", "", "/Resources << /ProcSet [ /PDF ] >>", true},
                      ResourcesCase{"Neither", "", "", false},
                      ResourcesCase{"NotADictionary", "/Resources 5", "", false},
                      ResourcesCase{"ParentNotADictionary", "", "/Resources [ ]", true}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace lumipage
