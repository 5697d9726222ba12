// The writer: layout of a saved file, checked byte by byte and by independent readers
// (qpdf --check, pdfinfo).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "PdfTestUtil.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFWriter.h"

namespace lumipage {
namespace {

using testutil::CommandResult;
using testutil::RunCommand;
using testutil::SaveDocument;
using testutil::TempDir;

void ExpectQpdfClean(const std::string& file) {
  std::string output;
  EXPECT_TRUE(testutil::QpdfClean(file, "", &output)) << output;
}

TEST(Writer, BlankDocumentLayout) {
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  TPDFWriter writer(doc);
  std::ostringstream out;
  ASSERT_EQ(writer.Write(out), TSaveResult::Saved);
  const std::string pdf = out.str();
  ASSERT_TRUE(pdf.starts_with("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n"));
  const std::string objects[] = {
      "1 0 obj\n<<\n/Type /Pages\n/Count 1\n/Kids [ 2 0 R ]\n>>\nendobj\n",
      "2 0 obj\n<<\n/Type /Page\n/Parent 1 0 R\n/MediaBox [ 0 0 612 792 ]\n/CropBox [ 0 0 612 792 ]\n"
      "/Resources <<\n/ProcSet [ /PDF /Text /ImageB /ImageC /ImageI ]\n>>\n>>\nendobj\n",
      "3 0 obj\n<<\n/Type /Catalog\n/Pages 1 0 R\n>>\nendobj\n",
      "4 0 obj\n<<\n>>\nendobj\n"};
  size_t pos = 15;
  std::vector<size_t> offsets;
  for (const std::string& o : objects) {
    ASSERT_EQ(pdf.compare(pos, o.size(), o), 0) << pdf.substr(pos, o.size());
    offsets.push_back(pos);
    pos += o.size();
  }
  ASSERT_EQ(pdf.compare(pos, 9, "xref\n0 5\n"), 0);
  const size_t xref = pos;
  pos += 9;
  EXPECT_EQ(pdf.substr(pos, 20), "0000000000 65535 f \n");
  for (size_t i = 0; i < 4; ++i) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offsets[i]);
    EXPECT_EQ(pdf.substr(pos + 20 * (i + 1), 20), line);
  }
  pos += 100;
  const std::string rest = pdf.substr(pos);
  const std::regex trailer(
      "trailer\n<<\n/Size 5\n/Root 3 0 R\n/Info 4 0 R\n/ID \\[ <([0-9A-F]{32})> <([0-9A-F]{32})> \\]\n>>\n"
      "startxref\n([0-9]+)\n%%EOF\n");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(rest, m, trailer)) << rest;
  EXPECT_EQ(m[1].str(), m[2].str());
  EXPECT_EQ(std::stoul(m[3].str()), xref);
  EXPECT_EQ(writer.TableSize(), 5u);
}

TEST(Writer, BlankAndLargeDocumentsPassIndependentReaders) {
  TempDir dir;
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  doc.SetInfo("Producer", "lumipage tests");
  ASSERT_TRUE(SaveDocument(doc, dir.File("blank.pdf")));
  ExpectQpdfClean(dir.File("blank.pdf"));
  const CommandResult info = RunCommand("pdfinfo '" + dir.File("blank.pdf") + "'");
  EXPECT_EQ(info.status, 0) << info.output;
  EXPECT_TRUE(std::regex_search(info.output, std::regex("Pages: +1\n"))) << info.output;
  EXPECT_NE(info.output.find("lumipage tests"), std::string::npos) << info.output;

  TPDFStructure& s = doc.Structure();
  TPDFArray* list = s.MakeArray();
  for (int i = 0; i < 3000; ++i) {
    TPDFObject* v = nullptr;
    switch (i % 4) {
      case 0: v = s.Parse("<< /Kind /Test /N " + std::to_string(i) + " /S (str\\)ing) >>"); break;
      case 1: v = s.Parse("[ 1 2.5 /x (y) <00FF> true null ]"); break;
      case 2: v = s.MakeNumber(i * 0.125); break;
      default: {
        TPDFStream* st = s.MakeStream("");
        st->SetData(std::string(static_cast<size_t>(i % 500), 'q'), i % 8 == 3);
        v = st;
      }
    }
    list->Add(doc.MakeIndirect(v));
  }
  doc.Catalog()->Put("TestObjects", doc.MakeIndirect(list));
  TPDFWriter writer(doc);
  std::ofstream file(dir.File("large.pdf"), std::ios::binary | std::ios::trunc);
  ASSERT_EQ(writer.Write(file), TSaveResult::Saved);
  file.close();
  ExpectQpdfClean(dir.File("large.pdf"));
  EXPECT_EQ(RunCommand("pdfinfo '" + dir.File("large.pdf") + "'").status, 0);
  EXPECT_EQ(writer.TableSize(), 3006u);
}

TEST(Writer, ObjectTextWithoutLineBreakGetsOne) {
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  TPDFIndObj* o = doc.AddIndirect(doc.Structure().MakeNumber(1));
  o->Unload();
  *o->CachedText = "5 0 obj\n1\nendobj";
  const std::string pdf = SaveToString(doc);
  EXPECT_NE(pdf.find("5 0 obj\n1\nendobj\nxref\n"), std::string::npos);
  EXPECT_EQ(doc.GetValue(o)->ToText(), "1");
}

TEST(Writer, StreamObjectsCarryADirectLength) {
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  TPDFStream* s = doc.Structure().MakeStream("");
  s->SetData("BT ET", false);
  doc.AddIndirect(s);
  EXPECT_NE(SaveToString(doc).find("5 0 obj\n<<\n/Length 5\n>>\nstream\nBT ET\nendstream\nendobj\n"),
            std::string::npos);
}

TEST(Writer, FailingStreamReportsFalse) {
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  std::ofstream closed;
  EXPECT_FALSE(SaveToStream(doc, closed));
  EXPECT_FALSE(SaveDocument(doc, "/nonexistent-folder/x.pdf"));
}

// A table entry states an offset in 10 digits: an object that would start further into the file
// is refused, not written with an entry of 11. The offset origin stands in for gigabytes before.
TEST(Writer, OffsetsPastTenDigitsAreRefused) {
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  const std::string plain = SaveToString(doc);
  const size_t table = plain.find("xref\n");
  ASSERT_NE(table, std::string::npos);
  // The last object starts where the trailer's /Info object does, 4 0 obj.
  const uint64_t last = plain.find("4 0 obj");
  const uint64_t exact = TPDFWriter::kMaxEntryOffset - last;  // the last object ends up at the limit

  // The writer as if its output began that many bytes into a file.
  auto writeAt = [&](uint64_t origin, std::ostream& out) {
    TPDFWriter writer(doc);
    writer.OffsetOrigin = origin;
    return writer.Write(out);
  };
  std::ostringstream limit;
  EXPECT_EQ(writeAt(exact, limit), TSaveResult::Saved);
  const std::string atLimit = limit.str();
  EXPECT_NE(atLimit.find("9999999999 00000 n \n"), std::string::npos);
  EXPECT_NE(atLimit.find("startxref\n" + std::to_string(exact + table) + "\n"), std::string::npos);

  for (const uint64_t origin : {exact + 1, TPDFWriter::kMaxEntryOffset, uint64_t{1} << 40}) {
    SCOPED_TRACE(origin);
    std::ostringstream out;
    EXPECT_EQ(writeAt(origin, out), TSaveResult::TooLarge);
    EXPECT_EQ(out.str().find("xref"), std::string::npos);  // no table that lies
  }
  // A stream that fails is another matter.
  std::ofstream closed;
  TSaveResult why = TSaveResult::Saved;
  EXPECT_FALSE(SaveToStream(doc, closed, &why));
  EXPECT_EQ(why, TSaveResult::WriteFailed);
  std::ostringstream again;
  (void)SaveToStream(doc, again, &why);
  EXPECT_EQ(again.str(), plain);
  EXPECT_EQ(why, TSaveResult::Saved);
}

}  // namespace
}  // namespace lumipage
