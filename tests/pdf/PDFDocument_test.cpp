// The document store and the writer: layout of a saved file, checked byte by byte and by
// independent readers (qpdf --check, pdfinfo).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "PdfTestUtil.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFExtra.h"

namespace lumipage {
namespace {

using testutil::CommandResult;
using testutil::RunCommand;
using testutil::TempDir;

void ExpectQpdfClean(const std::string& file) {
  std::string output;
  EXPECT_TRUE(testutil::QpdfClean(file, "", &output)) << output;
}

TEST(Writer, BlankDocumentLayout) {
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  const std::string pdf = doc.SaveToString();
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
  EXPECT_EQ(doc.XRefTableSize(), 5u);
}

TEST(Writer, BlankAndLargeDocumentsPassIndependentReaders) {
  TempDir dir;
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  doc.SetInfo("Producer", "lumipage tests");
  ASSERT_TRUE(doc.SaveToFile(dir.File("blank.pdf")));
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
  ASSERT_TRUE(doc.SaveToFile(dir.File("large.pdf")));
  ExpectQpdfClean(dir.File("large.pdf"));
  EXPECT_EQ(RunCommand("pdfinfo '" + dir.File("large.pdf") + "'").status, 0);
  EXPECT_EQ(doc.XRefTableSize(), 3006u);
}

TEST(Store, AddFindAndSize) {
  TPDFDocument doc;
  EXPECT_EQ(doc.Version(), "");
  ASSERT_TRUE(doc.NewDocument());
  EXPECT_EQ(doc.Version(), "1.4");
  EXPECT_FALSE(doc.VersionSet());
  TPDFIndObj* o = doc.AddIndirect(doc.Structure().MakeNumber(3));
  EXPECT_EQ(o->Number, 5);
  EXPECT_TRUE(o->Value->IsIndirect());
  EXPECT_EQ(o->Value->ObjectNumber(), 5);
  EXPECT_EQ(doc.Trailer()->GetInteger("Size", 0), 6);
  EXPECT_EQ(doc.FindIndirect(5, 0), o);
  EXPECT_EQ(doc.FindIndirect(5, 1), nullptr);
  EXPECT_EQ(doc.FindIndirect(99, 0), nullptr);
  TPDFIndRef* ref = doc.MakeIndirect(doc.Structure().MakeString("x"));
  EXPECT_EQ(ref->ToText(), "6 0 R");
  EXPECT_EQ(ref->Resolve()->ToText(), "(x)");
  EXPECT_EQ(doc.PagesDictionary()->GetInteger("Count", 0), 1);
  doc.SetVersion("1.6");
  EXPECT_TRUE(doc.VersionSet());
  EXPECT_TRUE(doc.SaveToString().starts_with("%PDF-1.6\n"));
  // The structure's register hook adds indirect objects too.
  const auto [n, g] = doc.Structure().OnRegister(doc.Structure().MakeNull());
  EXPECT_EQ(n, 7);
  EXPECT_EQ(g, 0);
}

TEST(Store, CatalogInfoAndIdAreMadeWhenMissing) {
  TPDFDocument doc;
  TPDFDictionary* catalog = doc.Catalog();
  EXPECT_EQ(doc.Trailer()->Get("Root")->ToText(), "1 0 R");
  EXPECT_EQ(doc.Catalog(), catalog);
  EXPECT_EQ(doc.PagesDictionary(), nullptr);
  TPDFIndObj* info = doc.InfoObject();
  EXPECT_EQ(info->Number, 2);
  EXPECT_EQ(doc.InfoDictionary(), info->Value);
  TPDFArray* id = doc.EnsureID();
  EXPECT_EQ(id->Count(), 2);
  EXPECT_EQ(id->Item(0), id->Item(1));
  EXPECT_EQ(doc.EnsureID(), id);
  doc.Trailer()->Put("ID", doc.Structure().MakeNumber(1));
  EXPECT_NE(doc.EnsureID(), id);
  EXPECT_EQ(doc.Trailer()->Get("ID")->Kind(), TPDFObject::kKindArray);
}

TEST(Store, InfoEntriesUseTheTextStringPermutation) {
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  doc.SetInfo("Title", "Caf\xE9 \x80 5");
  EXPECT_EQ(doc.InfoDictionary()->GetText("Title"), "Caf\xE9 \xA0 5");
  EXPECT_EQ(doc.GetInfo("Title"), "Caf\xE9 \x80 5");
  TPDFObject* before = doc.InfoDictionary()->Get("Title");
  doc.SetInfo("Title", "Other");
  EXPECT_EQ(doc.InfoDictionary()->Get("Title"), before);  // the string's bytes are replaced
  EXPECT_NE(doc.SaveToString().find("/Title (Other)"), std::string::npos);
  doc.SetInfo("Title", "");
  EXPECT_EQ(doc.InfoDictionary()->Get("Title"), nullptr);
  EXPECT_EQ(doc.GetInfo("Title"), "");
  TPDFStream* s = doc.Structure().MakeStream(std::string("\xFE\xFF\x00H\x00i", 6));
  doc.InfoDictionary()->Put("Subject", s);
  EXPECT_EQ(doc.GetInfo("Subject"), "Hi");
  doc.SetInfo("Subject", "plain");
  EXPECT_EQ(s->RawData(), "");
  EXPECT_EQ(doc.GetInfo("Subject"), "plain");
  doc.Trailer()->Put("Encrypt", doc.Structure().Parse("<< /Filter /Other >>"));
  EXPECT_EQ(doc.SecurityState(), 2);
  doc.SetInfo("Author", "ignored");
  EXPECT_EQ(doc.InfoDictionary()->Get("Author"), nullptr);
  EXPECT_EQ(doc.GetInfo("Subject"), "");
}

TEST(Writer, ObjectTextWithoutLineBreakGetsOne) {
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  TPDFIndObj* o = doc.AddIndirect(doc.Structure().MakeNumber(1));
  o->Unload();
  *o->CachedText = "5 0 obj\n1\nendobj";
  const std::string pdf = doc.SaveToString();
  EXPECT_NE(pdf.find("5 0 obj\n1\nendobj\nxref\n"), std::string::npos);
  EXPECT_EQ(doc.GetValue(o)->ToText(), "1");
}

TEST(Writer, StreamObjectsCarryADirectLength) {
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  TPDFStream* s = doc.Structure().MakeStream("");
  s->SetData("BT ET", false);
  doc.AddIndirect(s);
  EXPECT_NE(doc.SaveToString().find("5 0 obj\n<<\n/Length 5\n>>\nstream\nBT ET\nendstream\nendobj\n"),
            std::string::npos);
}

TEST(Writer, FailingStreamReportsFalse) {
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  std::ofstream closed;
  EXPECT_FALSE(doc.SaveToStream(closed));
  EXPECT_FALSE(doc.SaveToFile("/nonexistent-folder/x.pdf"));
}

// A table entry states an offset in 10 digits: an object that would start further into the file
// is refused, not written with an entry of 11. The offset origin stands in for gigabytes before.
TEST(Writer, OffsetsPastTenDigitsAreRefused) {
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  const std::string plain = doc.SaveToString();
  const size_t table = plain.find("xref\n");
  ASSERT_NE(table, std::string::npos);
  // The last object starts where the trailer's /Info object does, 4 0 obj.
  const uint64_t last = plain.find("4 0 obj");
  const uint64_t exact = TPDFWriter::kMaxEntryOffset - last;  // the last object ends up at the limit

  doc.SetSaveOffsetOrigin(exact);
  const std::string atLimit = doc.SaveToString();
  EXPECT_EQ(doc.LastSaveResult(), TSaveResult::Saved);
  EXPECT_NE(atLimit.find("9999999999 00000 n \n"), std::string::npos);
  EXPECT_NE(atLimit.find("startxref\n" + std::to_string(exact + table) + "\n"), std::string::npos);

  for (const uint64_t origin : {exact + 1, TPDFWriter::kMaxEntryOffset, uint64_t{1} << 40}) {
    SCOPED_TRACE(origin);
    doc.SetSaveOffsetOrigin(origin);
    std::ostringstream out;
    EXPECT_FALSE(doc.SaveToStream(out));
    EXPECT_EQ(doc.LastSaveResult(), TSaveResult::TooLarge);
    EXPECT_EQ(out.str().find("xref"), std::string::npos);  // no table that lies
  }
  // A stream that fails is another matter.
  doc.SetSaveOffsetOrigin(0);
  std::ofstream closed;
  EXPECT_FALSE(doc.SaveToStream(closed));
  EXPECT_EQ(doc.LastSaveResult(), TSaveResult::WriteFailed);
  EXPECT_EQ(doc.SaveToString(), plain);
  EXPECT_EQ(doc.LastSaveResult(), TSaveResult::Saved);
}

TEST(TempStore, UnloadedObjectsSaveTheSameAndParseAgain) {
  TempDir dir;
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  TPDFStructure& s = doc.Structure();
  TPDFIndObj* big = doc.AddIndirect(s.MakeStream(std::string(3000, 'b')));
  TPDFIndObj* small = doc.AddIndirect(s.Parse("[ 1 2 3 ]"));
  TPDFIndObj* dict = doc.AddIndirect(s.Parse("<< /A (x) >>"));
  const std::string before = doc.SaveToString();
  const size_t pooled = s.ObjectCount();

  ASSERT_TRUE(doc.SetTempStore(dir.File("store.tmp")));
  big->Unload();
  small->Unload();
  dict->Unload();
  EXPECT_TRUE(big->Swapped);
  EXPECT_EQ(big->CachedText, nullptr);
  EXPECT_FALSE(small->Swapped);
  EXPECT_EQ(*small->CachedText, "6 0 obj\n[ 1 2 3 ]\nendobj\n");
  EXPECT_EQ(*dict->CachedText, "7 0 obj\n<<\n/A (x)\n>>\nendobj\n");
  EXPECT_LT(s.ObjectCount(), pooled);
  EXPECT_EQ(std::filesystem::file_size(dir.File("store.tmp")), 8u + big->ObjectText().size());
  EXPECT_EQ(doc.SaveToString(), before);
  EXPECT_EQ(As<TPDFStream>(doc.GetValue(big))->RawData(), std::string(3000, 'b'));
  doc.ClearTempStore();
  EXPECT_FALSE(std::filesystem::exists(dir.File("store.tmp")));
}

TEST(TempStore, RecordsAreFoundForwardsThenFromTheStart) {
  TempDir dir;
  TPDFDocument doc;
  ASSERT_TRUE(doc.SetTempStore(dir.File("s.tmp")));
  ASSERT_TRUE(doc.StoreText(1, "one"));
  ASSERT_TRUE(doc.StoreText(2, "two"));
  ASSERT_TRUE(doc.StoreText(3, "three"));
  EXPECT_EQ(doc.ReadStoredText(2), "two");
  EXPECT_EQ(doc.ReadStoredText(1), "one");
  EXPECT_EQ(doc.ReadStoredText(3), "three");
  EXPECT_EQ(doc.ReadStoredText(4), "");
  EXPECT_FALSE(doc.SetTempStore("/nonexistent-folder/s.tmp"));
  EXPECT_FALSE(doc.HasTempStore());
}

}  // namespace
}  // namespace lumipage
