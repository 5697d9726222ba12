// The page-tree entries read straight from an object's text agree with the parser wherever the
// quick reading answers at all, and it declines wherever the parser could read the text in
// another way; the save check built on it gives the full reading's verdict on odd trees.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "pdf/PDFDocument.h"
#include "pdf/PDFLoader.h"
#include "pdf/PDFPageTreeEntries.h"
#include "pdf/PDFSaveCheck.h"
#include "tests/pdf/PageTreeEntriesCheck.h"

namespace lumipage {
namespace {

using testutil::MakeObjectsFile;
using testutil::PageTreeEntriesMismatch;

struct EntriesCase {
  const char* name;
  const char* body;  // object 5's value and whatever follows it before "endobj"
  bool quick;        // the quick reading answers
};

class PageTreeEntriesTest : public ::testing::TestWithParam<EntriesCase> {};

TEST_P(PageTreeEntriesTest, AgreesWithTheParserOrDeclines) {
  const EntriesCase& c = GetParam();
  TPDFDocument doc;
  doc.WalkPagesOnLoad = false;
  ASSERT_TRUE(LoadFromString(doc, MakeObjectsFile({{1, "<< /Type /Catalog /Pages 2 0 R >>"}, {5, c.body}})));
  TPDFIndObj* object = doc.FindIndirect(5, 0);
  ASSERT_NE(object, nullptr);
  const std::string text = object->RawText();
  TPageTreeEntries quick;
  ASSERT_EQ(ReadPageTreeEntries(text, 5, 0, quick), c.quick) << text;
  if (!c.quick) return;

  EXPECT_EQ(PageTreeEntriesMismatch(doc, object, quick), "") << text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PageTreeEntriesTest,
    ::testing::Values(
        EntriesCase{"plain_page",
                    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.28 841.89] /Resources << /XObject << /Im0 7 0 R "
                    ">> /ProcSet [/PDF /ImageC] >> /Contents 8 0 R >>",
                    true},
        EntriesCase{"node", "<</Type/Pages/Kids[3 0 R 4 1 R]/Count 2/Parent 9 0 R>>", true},
        EntriesCase{"comments_as_whitespace", "<< /Type /Page % 1\n  /Parent 2 % up\n 0 R\n%\n/MediaBox [0 0 612 792] >>",
                    true},
        EntriesCase{"strings_and_keywords",
                    "<< /T (a (b) \\) c\\\\) /H <41 42> /Type /Page /B true/N null /R 90/Parent 2 0 R >>", true},
        EntriesCase{"no_type_no_box", "<< /Parent 2 0 R /Rotate -90 /UserUnit +.5 >>", true},
        EntriesCase{"escaped_key", "<< /Type /Page /Media#42ox [0 0 1 1] >>", false},
        EntriesCase{"escaped_type", "<< /Type /Pag#65 /MediaBox [0 0 1 1] >>", false},
        EntriesCase{"key_twice", "<< /Type /Page /MediaBox [0 0 1 1] /MediaBox null >>", false},
        EntriesCase{"broken_pair", "<< /Type /Page /Foo ] /MediaBox [0 0 1 1] >>", false},
        EntriesCase{"key_without_value", "<< /Type /Page /MediaBox >>", false},
        EntriesCase{"stream", "<< /Type /Page /Length 3 >>\nstream\nabc\nendstream", false},
        EntriesCase{"box_by_reference", "<< /Type /Page /MediaBox 9 0 R >>", false},
        EntriesCase{"box_of_references", "<< /Type /Page /MediaBox [0 0 9 0 R 792] >>", false},
        EntriesCase{"box_of_three", "<< /Type /Page /MediaBox [0 0 612] >>", false},
        EntriesCase{"box_of_five", "<< /Type /Page /MediaBox [0 0 612 792 1] >>", false},
        EntriesCase{"box_number_of_two_points", "<< /Type /Page /MediaBox [0 0 6.1.2 792] >>", false},
        EntriesCase{"kids_by_reference", "<< /Type /Pages /Kids 9 0 R /Count 1 >>", false},
        EntriesCase{"kid_not_a_reference", "<< /Type /Pages /Kids [<< /Type /Page >>] /Count 1 >>", false},
        EntriesCase{"reference_glued_to_r", "<< /Type /Page /Parent 2 0R >>", false},
        EntriesCase{"count_too_long", "<< /Type /Pages /Kids [] /Count 9999999999 >>", false},
        EntriesCase{"count_negative", "<< /Type /Pages /Kids [] /Count -1 >>", false},
        EntriesCase{"count_by_reference", "<< /Type /Pages /Kids [] /Count 9 0 R >>", false},
        EntriesCase{"string_unclosed", "<< /Type /Page /T (abc >>", false},
        EntriesCase{"brace", "<< /Type /Page /F { } >>", false},
        EntriesCase{"value_after_dictionary", "<< /Type /Page >> 42", false}),
    [](const auto& i) { return std::string(i.param.name); });

// Trees the quick reading walks only in part, or leaves to the full reading: the verdict is the
// full reading's either way.
TEST(SaveCheckOnOddTrees, GivesTheFullReadingsVerdict) {
  struct Row {
    const char* name;
    std::map<int, std::string> objects;
    int pages;
    const char* failure;
  };
  const std::string catalog = "<< /Type /Catalog /Pages 2 0 R >>";
  const std::string page = "<< /Type /Page /Parent 3 0 R >>";
  const Row rows[] = {
      {"inherited_box",
       {{1, catalog},
        {2, "<< /Type /Pages /Kids [3 0 R] /Count 2 /MediaBox [0 0 612 792] >>"},
        {3, "<< /Type /Pages /Kids [4 0 R 5 0 R] /Count 7 /Parent 2 0 R >>"},
        {4, page},
        {5, page}},
       2,
       ""},
      {"box_by_reference",
       {{1, catalog},
        {2, "<< /Type /Pages /Kids [3 0 R] /Count 2 /MediaBox 6 0 R >>"},
        {3, "<< /Type /Pages /Kids [4 0 R 5 0 R] /Count 2 /Parent 2 0 R >>"},
        {4, page},
        {5, "<< /Type /Page /Parent 3 0 R /MediaBox [0 0 1 1 ] % own\n>>"},
        {6, "[0 0 612 792]"}},
       2,
       ""},
      {"page_in_place",
       {{1, catalog}, {2, "<< /Type /Pages /Kids [<< /Type /Page /MediaBox [0 0 1 1] >> 3 0 R] /Count 2 >>"},
        {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 1 1] >>"}},
       2,
       ""},
      {"root_count_wrong",
       {{1, catalog},
        {2, "<< /Type /Pages /Kids [3 0 R] /Count 3 /MediaBox [0 0 612 792] >>"},
        {3, "<< /Type /Pages /Kids [4 0 R 5 0 R] /Count 2 /Parent 2 0 R >>"},
        {4, page},
        {5, page}},
       2,
       "its page tree gives 3 pages where it holds 2"},
      {"box_lost_above",
       {{1, catalog},
        {2, "<< /Type /Pages /Kids [3 0 R] /Count 2 >>"},
        {3, "<< /Type /Pages /Kids [4 0 R 5 0 R] /Count 2 /Parent 2 0 R >>"},
        {4, "<< /Type /Page /Parent 3 0 R /MediaBox [0 0 1 1] >>"},
        {5, page}},
       2,
       "page 2 has no media box"},
      {"kid_missing",
       {{1, catalog}, {2, "<< /Type /Pages /Kids [3 0 R 7 0 R] /Count 2 >>"},
        {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 1 1] >>"}},
       2,
       "it has 1 page instead of 2"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TSavedPdfExpectation expected;
    expected.PageCount = row.pages;
    EXPECT_EQ(CheckSavedPdfBytes(MakeObjectsFile(row.objects), expected), row.failure);
  }
}

}  // namespace
}  // namespace lumipage
