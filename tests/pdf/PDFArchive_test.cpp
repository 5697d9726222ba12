// PDF/A-1b parts of a document: dates as XMP states them, the metadata that repeats the Info
// dictionary, the output intent, what a loaded file claims, and the save check of all of them.
#include <gtest/gtest.h>

#include "pdf/PDFArchive.h"
#include "pdf/PDFArray.h"
#include "pdf/PDFDictionary.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFDocumentSecurity.h"
#include "pdf/PDFLoader.h"
#include "pdf/PDFSaveCheck.h"
#include "pdf/PDFSecurity.h"
#include "pdf/PDFStream.h"
#include "pdf/PDFString.h"
#include "pdf/PDFWriter.h"

using namespace lumipage;

namespace {

TEST(PdfaDates, PdfDatesBecomeXmpDates) {
  struct Row {
    const char* pdf;
    const char* xmp;  // empty: no date
  };
  const Row rows[] = {
      {"D:20261211013500+01'00'", "2026-12-11T01:35:00+01:00"},
      {"D:20261211013500-05'30'", "2026-12-11T01:35:00-05:30"},
      {"D:20261211013500Z", "2026-12-11T01:35:00Z"},  // a bare Z is repeated as it is
      {"D:20261211013500Z00'00'", "2026-12-11T01:35:00+00:00"},
      {"D:20261211013500+00'00'", "2026-12-11T01:35:00+00:00"},
      {"D:20261211013500", "2026-12-11T01:35:00+00:00"},  // no zone: taken as UTC
      {"D:2026", "2026-01-01T00:00:00+00:00"},
      {"20261211", "2026-12-11T00:00:00+00:00"},         // without the D: prefix
      {"D:20261311013500Z", ""},                           // month 13
      {"D:2026121101350", ""},                             // a lone digit
      {"D:20261211013500+01'00'junk", ""},
      {"yesterday", ""},
      {"", ""},
  };
  for (const Row& r : rows) EXPECT_EQ(XmpDateFromPdfDate(r.pdf), r.xmp) << r.pdf;
}

TEST(PdfaProfile, IsAVersion2RgbIccProfile) {
  const std::string_view p = SrgbProfile();
  ASSERT_GE(p.size(), 128u);
  EXPECT_EQ(p.substr(36, 4), "acsp");
  EXPECT_EQ(p.substr(16, 4), "RGB ");
  EXPECT_EQ(p[8], 2);  // PDF/A-1 rests on PDF 1.4, which knows ICC profiles before version 4
}

class PdfaDocument : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(doc.NewDocument());
    doc.SetInfo("Title", "Minutes & <notes>");
    doc.SetInfo("Author", "Orrinwell Ltd");
    doc.SetInfo("CreationDate", "D:20261211013500+01'00'");
    doc.SetInfo("ModDate", "D:20261211013500Z");
  }

  // The document written and read back.
  std::string Saved() { return SaveToString(doc); }

  TPDFDocument doc;
};

TEST_F(PdfaDocument, MetadataRepeatsTheInfoDictionaryAndDeclaresLevelB) {
  ASSERT_TRUE(MakePdfa(doc));
  auto* metadata = As<TPDFStream>(doc.Catalog()->Get("Metadata", true));
  ASSERT_NE(metadata, nullptr);
  EXPECT_EQ(metadata->Dictionary()->Get("Filter"), nullptr);
  const std::string& xmp = metadata->RawData();
  for (const char* part : {"<pdfaid:part>1</pdfaid:part>", "<pdfaid:conformance>B</pdfaid:conformance>",
                           "<rdf:li xml:lang=\"x-default\">Minutes &amp; &lt;notes&gt;</rdf:li>",
                           "<rdf:Seq><rdf:li>Orrinwell Ltd</rdf:li></rdf:Seq>",
                           "<xmp:CreateDate>2026-12-11T01:35:00+01:00</xmp:CreateDate>",
                           "<xmp:ModifyDate>2026-12-11T01:35:00Z</xmp:ModifyDate>"})
    EXPECT_NE(xmp.find(part), std::string::npos) << part;
  EXPECT_EQ(xmp.find("bytes="), std::string::npos);  // attributes PDF/A-1 forbids in the packet header
  EXPECT_EQ(xmp.find("encoding="), std::string::npos);
  // Dates stated in full stay as their writer put them (the metadata repeats their zone); one
  // that says nothing of its zone is written anew in full.
  EXPECT_EQ(doc.GetInfo("CreationDate"), "D:20261211013500+01'00'");
  EXPECT_EQ(doc.GetInfo("ModDate"), "D:20261211013500Z");
  doc.SetInfo("ModDate", "D:20261211013500");
  ASSERT_TRUE(MakePdfa(doc));
  EXPECT_EQ(doc.GetInfo("ModDate"), "D:20261211013500+00'00'");
}

TEST_F(PdfaDocument, UnicodeInfoTextIsUtf8InTheMetadata) {
  // "Größe" in UTF-16BE, and PDFDocEncoding's bullet (0x80) and Euro (0xA0).
  auto* info = doc.InfoDictionary();
  info->Put("Title", doc.Structure().MakeString(std::string("\xFE\xFF\x00G\x00r\x00\xF6\x00\xDF\x00" "e", 12),
                                                TPDFString::kHexadecimal));
  info->Put("Subject", doc.Structure().MakeString("\x80 \xA0"));
  ASSERT_TRUE(MakePdfa(doc));
  const std::string xmp = As<TPDFStream>(doc.Catalog()->Get("Metadata", true))->RawData();
  EXPECT_NE(xmp.find("Gr\xC3\xB6\xC3\x9F" "e</rdf:li>"), std::string::npos);
  EXPECT_NE(xmp.find("\xE2\x80\xA2 \xE2\x82\xAC</rdf:li>"), std::string::npos);
}

TEST_F(PdfaDocument, SavedFilePassesTheCheckAndAnUnmatchedOneFails) {
  ASSERT_TRUE(MakePdfa(doc));
  TSavedPdfExpectation expected;
  expected.PageCount = 1;
  expected.Pdfa = true;
  EXPECT_EQ(CheckSavedPdfBytes(Saved(), expected), "");
  {
    TPDFDocument back;
    ASSERT_TRUE(LoadFromString(back, Saved()));
    const TPdfaIdentification id = ReadPdfaIdentification(back);
    EXPECT_EQ(id.Claim, TPdfaClaim::Claimed);
    EXPECT_EQ(id.Part, 1);
    EXPECT_EQ(id.Conformance, "B");
    EXPECT_EQ(PdfaAppendRefusal(back, true), "");
  }
  // An Info entry changed after the metadata was made: the metadata no longer repeats it.
  doc.SetInfo("Title", "Another title");
  EXPECT_EQ(CheckSavedPdfBytes(Saved(), expected), "its metadata does not repeat its document information");
  // A document never made PDF/A.
  TPDFDocument plain;
  ASSERT_TRUE(plain.NewDocument());
  EXPECT_EQ(CheckSavedPdfBytes(SaveToString(plain), expected), "it has no metadata");
}

TEST_F(PdfaDocument, OutputIntentIsAddedOnceAndAProfilelessOneIsCompleted) {
  ASSERT_TRUE(MakePdfa(doc));
  ASSERT_TRUE(MakePdfa(doc));
  auto* intents = As<TPDFArray>(doc.Catalog()->Get("OutputIntents", true));
  ASSERT_NE(intents, nullptr);
  EXPECT_EQ(intents->Count(), 1);
  auto* intent = As<TPDFDictionary>(As<TPDFIndRef>(intents->Item(0))->Resolve());
  ASSERT_NE(intent, nullptr);
  EXPECT_EQ(intent->GetText("S"), "GTS_PDFA1");
  intent->Remove("DestOutputProfile");
  EXPECT_EQ(PdfaAppendRefusal(doc, false), "its output intent has no colour profile");
  ASSERT_TRUE(MakePdfa(doc));
  EXPECT_EQ(PdfaAppendRefusal(doc, true), "");
}

// What a loaded file claims, and why pages cannot be added to it as PDF/A-1b.
TEST(PdfaClaims, ReadFromTheMetadataOfLoadedFiles) {
  struct Row {
    const char* name;
    const char* metadata;  // nullptr: no /Metadata
    TPdfaClaim claim;
    int part;
    const char* refusal;
  };
  const Row rows[] = {
      {"none", nullptr, TPdfaClaim::None, 0, "it is not a PDF/A-1b file"},
      {"no claim", "<x:xmpmeta><rdf:RDF></rdf:RDF></x:xmpmeta>", TPdfaClaim::None, 0, "it is not a PDF/A-1b file"},
      {"attribute form",
       "<rdf:RDF><rdf:Description pdfaid:part='2' pdfaid:conformance='U'/></rdf:RDF>", TPdfaClaim::Claimed, 2,
       "it is a PDF/A-2 file, not PDF/A-1b"},
      {"cut short", "<x:xmpmeta><rdf:RDF><pdfaid:part>1</pdfaid:part>", TPdfaClaim::Unreadable, 0,
       "its metadata cannot be read"},
      {"part no number", "<rdf:RDF><pdfaid:part>one</pdfaid:part></rdf:RDF>", TPdfaClaim::Unreadable, 0,
       "its metadata cannot be read"},
      // Valid without device colour; the new pages bring the intent they need.
      {"part 1, no intent", "<rdf:RDF><pdfaid:part>1</pdfaid:part></rdf:RDF>", TPdfaClaim::Claimed, 1, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TPDFDocument doc;
    ASSERT_TRUE(doc.NewDocument());
    if (r.metadata != nullptr) {
      TPDFStream* stream = doc.Structure().MakeStream("");
      stream->SetData(r.metadata, true);
      doc.Catalog()->Put("Metadata", doc.MakeIndirect(stream));
    }
    TPDFDocument back;
    ASSERT_TRUE(LoadFromString(back, SaveToString(doc)));
    const TPdfaIdentification id = ReadPdfaIdentification(back);
    EXPECT_EQ(id.Claim, r.claim);
    EXPECT_EQ(id.Part, r.part);
    EXPECT_EQ(PdfaAppendRefusal(back, true), r.refusal);
  }
}

TEST(PdfaClaims, MetadataThatIsNoStreamIsUnreadable) {
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  doc.Catalog()->Put("Metadata", doc.Structure().MakeString("<rdf:RDF>"));
  EXPECT_EQ(ReadPdfaIdentification(doc).Claim, TPdfaClaim::Unreadable);
}

TEST(PdfaClaims, AProtectedFileIsRefusedAndNotMadePdfa) {
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  ASSERT_TRUE(MakePdfa(doc));
  ASSERT_EQ(TPDFDocumentSecurity(doc).Encrypt("owner", "user", 1, TPDFSecurity::Permissions(1, 1, 1, 1, 1, 1, 1, 1)),
            TPDFError::None);
  TPDFDocument back;
  ASSERT_TRUE(LoadFromString(back, SaveToString(doc)));
  EXPECT_EQ(TPDFDocumentSecurity(back).SetPassword("user"), TPasswordResult::User);
  EXPECT_EQ(PdfaAppendRefusal(back, true), "it is protected with a password, which PDF/A does not allow");
  EXPECT_FALSE(MakePdfa(back));
  TSavedPdfExpectation expected;
  expected.PageCount = 1;
  expected.Password = "user";
  expected.Protected = true;
  expected.Pdfa = true;
  EXPECT_EQ(CheckSavedPdfBytes(SaveToString(doc), expected), "it is protected, which PDF/A does not allow");
}

}  // namespace
