// Loading existing files: classic tables, cross-reference streams, object streams, incremental
// updates, hybrid and linearized files; each saved again and checked by independent readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "pdf/PDFDocument.h"
#include "pdf/PDFFilters.h"
#include "pdf/PDFLoader.h"
#include "pdf/PDFWriter.h"
#include "tests/pdf/PdfFileBuilder.h"
#include "tests/pdf/PdfTestUtil.h"

namespace lumipage {
namespace {

using namespace testutil;

const char* kCatalog = "<< /Type /Catalog /Pages 2 0 R >>";
const char* kPages = "<< /Type /Pages /Kids [ 3 0 R ] /Count 1 >>";
const char* kPage = "<< /Type /Page /Parent 2 0 R /MediaBox [ 0 0 200 200 ] >>";

// The catalog, the page tree and its one page as objects 1 to 3.
void OnePage(FileBuilder& b) {
  b.Object(1, kCatalog);
  b.Object(2, kPages);
  b.Object(3, kPage);
}

std::string Minimal(long shift = 0) {
  FileBuilder b;
  OnePage(b);
  b.Object(4, "(four, long enough to keep its header out of the table's window)");
  b.ClassicTable(4, "/Size 5 /Root 1 0 R", shift);
  return b.Text();
}

TEST(Reader, ClassicTableLoadsLazilyAndSavesValid) {
  TPDFDocument doc;
  ASSERT_TRUE(LoadFromString(doc, Minimal()));
  EXPECT_EQ(doc.Version(), "1.5");
  ASSERT_EQ(doc.ObjectCount(), 4u);
  EXPECT_FALSE(doc.FindIndirect(4, 0)->Parsed);  // the catalog and the page tree are read on load
  EXPECT_TRUE(doc.FindIndirect(3, 0)->Parsed);
  EXPECT_FALSE(doc.Repaired());
  EXPECT_EQ(doc.GetValue(doc.FindIndirect(4, 0))->ToText(),
            "(four, long enough to keep its header out of the table's window)");
  EXPECT_EQ(doc.PagesDictionary()->GetInteger("Count", 0), 1);
  EXPECT_EQ(doc.Trailer()->ToText(), "<<\n/Size 5\n/Root 1 0 R\n>>\n");
  TempDir dir("reader");
  ASSERT_TRUE(SaveDocument(doc, dir.File("out.pdf")));
  std::string out;
  EXPECT_TRUE(QpdfClean(dir.File("out.pdf"), "", &out)) << out;
  // An object added after loading gets the number above the highest, and /Size follows.
  EXPECT_EQ(doc.AddIndirect(doc.Structure().MakeNull())->Number, 5);
  EXPECT_EQ(doc.Trailer()->GetInteger("Size", 0), 6);
}

class StartXRefShift : public ::testing::TestWithParam<long> {};

TEST_P(StartXRefShift, OffByUpToTenBytesStillLoads) {
  TPDFDocument doc;
  EXPECT_TRUE(LoadFromString(doc, Minimal(GetParam())));
  EXPECT_EQ(doc.ObjectCount(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Reader, StartXRefShift, ::testing::Values(-10, -3, 0, 4, 10));

TEST(Reader, FailuresResetTheDocument) {
  const std::string good = Minimal();
  // Same-length replacements keep the table right.
  auto replaced = [&](std::initializer_list<std::pair<std::string, std::string>> edits) {
    std::string bytes = good;
    for (const auto& [from, to] : edits) {
      const size_t at = bytes.find(from);
      if (at != std::string::npos) bytes.replace(at, from.size(), to);
    }
    return bytes;
  };
  struct Case {
    const char* name;
    std::string bytes;
    TLoadResult why;
    bool repair = true;
  } cases[] = {
      {"NotPdf", "GIF89a not a pdf at all %%EOF", TLoadResult::NoHeader},
      {"Empty", "", TLoadResult::NoHeader},
      // Without a header, only what starts as a PDF's body is looked into.
      {"DamagedHeaderBeforeTheBody", "UPDF-1\n" + good.substr(good.find('\n') + 1), TLoadResult::NoHeader},
      {"NoCatalogAnywhere", replaced({{"/Type /Catalog", "/Type /Nothing"}, {"/Root 1 0 R", "/Info 1 0 R"}}),
       TLoadResult::NoCatalog},
      {"NoPageAnywhere", replaced({{"/Type /Page ", "/Type /Leaf "}}), TLoadResult::NoPages},
      {"BrokenTableNotRepaired", good.substr(0, good.find("xref")), TLoadResult::BrokenCrossReference, false},
      {"NoRootNotRepaired", replaced({{"/Root 1 0 R", "/Info 1 0 R"}}), TLoadResult::NoCatalog, false},
  };
  for (const auto& c : cases) {
    TPDFDocument doc;
    doc.NewDocument();
    doc.AllowRepair = c.repair;
    TLoadResult why = TLoadResult::Loaded;
    EXPECT_FALSE(LoadFromString(doc, c.bytes, &why)) << c.name;
    EXPECT_EQ(why, c.why) << c.name;
    EXPECT_EQ(doc.ObjectCount(), 0u) << c.name;
  }
  TPDFDocument doc;
  TLoadResult why = TLoadResult::ReadFailed;
  EXPECT_TRUE(LoadFromString(doc, good, &why));
  EXPECT_EQ(why, TLoadResult::Loaded);
}

TEST(Reader, BrokenCrossReferenceDataIsRebuiltByScanning) {
  const std::string good = Minimal();
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"JunkAfterEof", good + std::string(1100, 'j')},
      {"Truncated", good.substr(0, good.find("xref"))},
      {"TruncatedTable", good.substr(0, good.find("xref") + 12) + "\nstartxref\n" +
                             std::to_string(good.find("xref")) + "\n%%EOF\n"},
      {"StartXRefAnywhere", good.substr(0, good.rfind("startxref")) + "startxref\n77\n%%EOF\n"},
      {"NoTrailer", good.substr(0, good.find("trailer")) + "startxref\n" + std::to_string(good.find("xref")) + "\n%%EOF\n"},
      // A header line lost (as readers take it: the objects and the catalog are all there).
      {"HeaderLineLost", good.substr(good.find('\n') + 1)},
      {"HeaderBlanked", std::string(good.find('\n'), ' ') + good.substr(good.find('\n'))},
  };
  for (const auto& c : cases) {
    TPDFDocument doc;
    EXPECT_TRUE(LoadFromString(doc, c.bytes)) << c.name;
    EXPECT_EQ(doc.ObjectCount(), 4u) << c.name;
    auto* page = As<TPDFDictionary>(doc.GetValue(doc.FindIndirect(3, 0)));
    ASSERT_NE(page, nullptr) << c.name;
    EXPECT_EQ(page->TypeName(), "Page") << c.name;
  }
}

TEST(Reader, HeaderMarkerAnywhereInTheFirstKilobyte) {
  // Offsets stay counted from the first byte: prefix the file and shift its table.
  FileBuilder b("junk before the header\n%!PS-Adobe-3.0 PDF-1.3\n%PDF-1.7\n");
  OnePage(b);
  b.ClassicTable(3, "/Size 4 /Root 1 0 R");
  TPDFDocument doc;
  ASSERT_TRUE(LoadFromString(doc, b.Text()));
  EXPECT_EQ(doc.Version(), "1.3");  // the PostScript marker wins
}

TEST(Reader, HeaderNumberMismatchRebuildsTheTableFromTheHeaders) {
  FileBuilder b;
  OnePage(b);
  b.Object(5, "(says five)");  // the table below files it as object 6
  b.Raw("7 0 objx\n(bad keyword)\nendobj\n");
  std::string text = b.Text();
  const size_t seven = text.find("7 0 objx");
  const size_t xref = text.size();
  char rows[200];
  std::snprintf(rows, sizeof rows,
                "xref\n0 8\n0000000000 65535 f \n%010zu 00000 n \n%010zu 00000 n \n%010zu 00000 n \n"
                "0000000000 00000 f \n0000000000 00000 f \n%010zu 00000 n \n%010zu 00000 n \n",
                b.Offset(1), b.Offset(2), b.Offset(3), b.Offset(5), seven);
  text += std::string(rows) + "trailer\n<< /Size 8 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  TPDFDocument doc;
  ASSERT_TRUE(LoadFromString(doc, text));
  EXPECT_TRUE(doc.Repaired());
  // The entry that missed its object no longer hides it; the bad keyword is no object.
  EXPECT_EQ(doc.GetValue(doc.FindIndirect(5, 0))->ToText(), "(says five)");
  EXPECT_EQ(doc.FindIndirect(6, 0), nullptr);
  EXPECT_EQ(doc.FindIndirect(7, 0), nullptr);
  // New objects never reuse a number the file holds.
  EXPECT_EQ(doc.AddIndirect(doc.Structure().MakeNull())->Number, 6);
}

// A catalog written straight into the trailer (the table there or lost): qpdf reads it, poppler
// finds no page of such a file. Saved, the catalog is an object of its own that both read.
TEST(Reader, CatalogInTheTrailerIsSavedAsAnObject) {
  const char* trailer = "/Size 4 /Root << /Type /Catalog /Pages 2 0 R /PageMode /UseOutlines >>";
  for (bool table : {true, false}) {
    SCOPED_TRACE(table);
    FileBuilder b;
    b.Object(2, "<< /Type /Pages /Kids [ 3 0 R ] /Count 1 >>");
    b.Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [ 0 0 300 200 ] >>");
    if (table) {
      b.ClassicTable(3, trailer);
    } else {
      b.Raw(std::string("trailer\n<< ") + trailer + " >>\n%%EOF\n");
    }
    TPDFDocument doc;
    ASSERT_TRUE(LoadFromString(doc, b.Text()));
    auto* root = As<TPDFIndRef>(doc.Trailer()->Get("Root"));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(doc.Catalog()->GetText("PageMode"), "UseOutlines");
    TempDir dir("rootobject");
    ASSERT_TRUE(SaveDocument(doc, dir.File("saved.pdf")));
    EXPECT_EQ(PageCount(dir.File("saved.pdf")), "1");
    const CommandResult info = RunCommand("pdfinfo '" + dir.File("saved.pdf") + "'");
    EXPECT_NE(info.output.find("300 x 200 pts"), std::string::npos) << info.output;
  }
}

TEST(Reader, IncrementalUpdateTakesNewestDefinitionsAndTrailer) {
  FileBuilder b;
  OnePage(b);
  b.Object(4, "(old)");
  b.ClassicTable(4, "/Size 5 /Root 1 0 R");
  const size_t prev = b.Text().rfind("xref\n0 5");
  std::string text = b.Text();
  const size_t newFour = text.size();
  text += "4 0 obj\n(new)\nendobj\n";
  const size_t five = text.size();
  text += "5 0 obj\n<< /Length 6 0 R >>\nstream\nabcdef\nendstream\nendobj\n";
  const size_t six = text.size();
  text += "6 0 obj 6 endobj\n";
  const size_t xref = text.size();
  char lines[100];
  std::snprintf(lines, sizeof lines, "%010zu 00000 n \n%010zu 00000 n \n%010zu 00000 n \n", newFour, five, six);
  text += "xref\n4 3\n" + std::string(lines) + "trailer\n<< /Size 7 /Root 1 0 R /Prev " +
          std::to_string(prev) + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  TPDFDocument doc;
  ASSERT_TRUE(LoadFromString(doc, text));
  EXPECT_EQ(doc.GetValue(doc.FindIndirect(4, 0))->ToText(), "(new)");
  EXPECT_EQ(doc.Trailer()->Get("Prev"), nullptr);
  EXPECT_EQ(doc.Trailer()->GetInteger("Size", 0), 7);
  EXPECT_EQ(doc.SectionOffsets().size(), 2u);
  // The indirect /Length reads the data and becomes direct.
  auto* s = As<TPDFStream>(doc.GetValue(doc.FindIndirect(5, 0)));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->RawData(), "abcdef");
  const std::string saved = SaveToString(doc);
  EXPECT_NE(saved.find("5 0 obj\n<<\n/Length 6\n>>\nstream\nabcdef\nendstream\nendobj\n"), std::string::npos);
  TPDFDocument again;
  ASSERT_TRUE(LoadFromString(again, saved));
  EXPECT_EQ(again.GetValue(again.FindIndirect(4, 0))->ToText(), "(new)");
  TempDir dir("incr");
  WriteFile(dir.File("in.pdf"), text);
  WriteFile(dir.File("out.pdf"), saved);
  std::string out;
  EXPECT_TRUE(QpdfClean(dir.File("out.pdf"), "", &out)) << out;
}

TEST(Reader, StreamDataIsFoundByEndstreamWhenTheLengthIsWrong) {
  // The data as qpdf recovers it: up to "endstream", with the line end before it.
  const std::string data = "BT /F1 12 Tf 72 700 Td (kept) Tj ET";
  struct Case {
    const char* name;
    std::string dictionary;
    std::string expected;
  } cases[] = {
      {"Right", "<< /Length 35 >>", data},
      {"RightIndirect", "<< /Length 5 0 R >>", data},
      {"Missing", "<< >>", data + "\n"},
      {"TooShort", "<< /Length 12 >>", data + "\n"},
      {"TooLong", "<< /Length 75 >>", data + "\n"},
      {"BeyondTheFile", "<< /Length 99999 >>", data + "\n"},
      {"Negative", "<< /Length -4 >>", data + "\n"},
      {"IndirectToMissingObject", "<< /Length 9 0 R >>", data + "\n"},
      {"IndirectToNonNumber", "<< /Length 1 0 R >>", data + "\n"},
  };
  for (const auto& c : cases) {
    FileBuilder b;
    b.Object(1, kCatalog);
    b.Object(2, kPages);
    b.Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [ 0 0 200 200 ] /Contents 4 0 R >>");
    b.Object(4, c.dictionary + "\nstream\n" + data + "\nendstream");
    b.Object(5, "35");
    b.ClassicTable(5, "/Size 6 /Root 1 0 R");
    TPDFDocument doc;
    ASSERT_TRUE(LoadFromString(doc, b.Text())) << c.name;
    auto* stream = As<TPDFStream>(doc.GetValue(doc.FindIndirect(4, 0)));
    ASSERT_NE(stream, nullptr) << c.name;
    EXPECT_EQ(stream->Decode(), c.expected) << c.name;
    // Written back with its true length, it reads the same.
    TPDFDocument again;
    ASSERT_TRUE(LoadFromString(again, SaveToString(doc))) << c.name;
    auto* copy = As<TPDFStream>(again.GetValue(again.FindIndirect(4, 0)));
    ASSERT_NE(copy, nullptr) << c.name;
    EXPECT_EQ(copy->Decode(), c.expected) << c.name;
  }
}

// A hybrid file: a classic table over 0..4, and through /XRefStm a cross-reference stream
// with widths 1 2 1 and three subsections (one a type-3 entry) for the object stream's content.
std::string Hybrid(bool withTypeThree) {
  FileBuilder b;
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2, kPages);
  b.Object(3, kPage);
  b.Object(4, "(table wins)");
  const std::string header = "5 0 4 13 ";
  const std::string objects = "(from stream)(stream four)";
  const std::string body = header + objects;
  b.Object(6, "<< /Type /ObjStm /N 2 /First " + std::to_string(header.size()) + " /Length " +
                  std::to_string(body.size()) + " >>\nstream\n" + body + "\nendstream");
  auto entry = [](int type, size_t f2, int f3) {
    std::string e;
    e += static_cast<char>(type);
    e += static_cast<char>(f2 >> 8);
    e += static_cast<char>(f2 & 0xFF);
    e += static_cast<char>(f3);
    return e;
  };
  std::string rows = entry(2, 6, 0) + entry(2, 6, 1);  // 5 and 4, in the stream
  if (withTypeThree) rows += entry(3, 999, 9);          // object 9: skipped
  rows += entry(1, b.Offset(6), 0);
  const size_t xrefStm = b.Size();
  const std::string index = withTypeThree ? "[ 5 1 4 1 9 1 6 1 ]" : "[ 5 1 4 1 6 1 ]";
  const std::string zrows = FlateEncode(rows);
  b.Raw("7 0 obj\n<< /Type /XRef /Size 10 /W [ 1 2 1 ] /Index " + index + " /Filter /FlateDecode /Length " +
        std::to_string(zrows.size()) + " >>\nstream\n" + zrows + "\nendstream\nendobj\n");
  b.ClassicTable(4, "/Size 10 /Root 1 0 R /XRefStm " + std::to_string(xrefStm));
  return b.Text();
}

TEST(Reader, CopiedTextEndingInAHeaderDoesNotHideTheTable) {
  // Object 4's copied text runs to the table and ends in something that looks like a header.
  FileBuilder b;
  OnePage(b);
  b.Object(4, "(x)");
  b.Raw("9 0 obj");
  // startxref seven bytes late: the original's window starts after the header.
  b.ClassicTable(4, "/Size 5 /Root 1 0 R /ID [ <" + std::string(100000, 'A') + "> <00> ]", 7);
  TPDFDocument doc;
  ASSERT_TRUE(LoadFromString(doc, b.Text()));  // a trailer far larger than 2048 bytes
  const std::string saved = SaveToString(doc);
  TPDFDocument again;
  ASSERT_TRUE(LoadFromString(again, saved));
  ASSERT_NE(again.FindIndirect(4, 0), nullptr);
  EXPECT_EQ(again.GetValue(again.FindIndirect(4, 0))->ToText(), "(x)");
}

TEST(Reader, HybridFileTableWinsAndStreamObjectsLoad) {
  for (bool typeThree : {false, true}) {
    TPDFDocument doc;
    ASSERT_TRUE(LoadFromString(doc, Hybrid(typeThree)));
    EXPECT_EQ(doc.GetValue(doc.FindIndirect(4, 0))->ToText(), "(table wins)");
    EXPECT_EQ(doc.GetValue(doc.FindIndirect(5, 0))->ToText(), "(from stream)");
    EXPECT_EQ(doc.FindIndirect(9, 0), nullptr);
    EXPECT_EQ(doc.Trailer()->Get("XRefStm"), nullptr);
    const std::string saved = SaveToString(doc);
    EXPECT_NE(saved.find("5 0 obj\n(from stream)\nendobj\n"), std::string::npos);
    EXPECT_EQ(saved.find("/ObjStm"), std::string::npos);
    TempDir dir("hybrid");
    WriteFile(dir.File("out.pdf"), saved);
    std::string out;
    EXPECT_TRUE(QpdfClean(dir.File("out.pdf"), "", &out)) << out;
  }
}

TEST(Reader, ObjectStreamOfAnotherTypeStillGivesItsObjects) {
  // The cross-reference data says the objects are in it; readers take them, whatever its /Type.
  std::string bytes = Hybrid(false);
  bytes.replace(bytes.find("/Type /ObjStm"), 13, "/Type /Potato");
  TPDFDocument doc;
  ASSERT_TRUE(LoadFromString(doc, bytes));
  EXPECT_EQ(doc.GetValue(doc.FindIndirect(5, 0))->ToText(), "(from stream)");
  TPDFDocument again;
  ASSERT_TRUE(LoadFromString(again, SaveToString(doc)));
  EXPECT_EQ(again.GetValue(again.FindIndirect(5, 0))->ToText(), "(from stream)");
}

// Saves a text document of that many pages as src.pdf in dir and has qpdf rewrite it with the
// options as in.pdf.
CommandResult QpdfRewrite(const TempDir& dir, int pages, const std::string& options) {
  TPDFDocument src;
  BuildTextDocument(src, pages);
  if (!SaveDocument(src, dir.File("src.pdf"))) return {-1, "src.pdf not saved"};
  return RunCommand("qpdf " + options + " '" + dir.File("src.pdf") + "' '" + dir.File("in.pdf") + "'");
}

struct QpdfVariant {
  const char* name;
  const char* options;
};

class QpdfFiles : public ::testing::TestWithParam<QpdfVariant> {};

TEST_P(QpdfFiles, LoadSaveKeepsPagesAndContent) {
  TempDir dir("variant");
  const CommandResult made = QpdfRewrite(dir, 3, GetParam().options);
  ASSERT_EQ(made.status, 0) << made.output;

  TPDFDocument doc;
  ASSERT_TRUE(LoadFromString(doc, ReadFile(dir.File("in.pdf"))));
  ASSERT_TRUE(SaveDocument(doc, dir.File("out.pdf")));
  std::string out;
  EXPECT_TRUE(QpdfClean(dir.File("out.pdf"), "", &out)) << out;
  EXPECT_EQ(PageCount(dir.File("out.pdf")), "3");
  EXPECT_EQ(Text(dir.File("out.pdf")), Text(dir.File("src.pdf")));
  EXPECT_NE(Text(dir.File("out.pdf")).find("Page 2 of lumipage"), std::string::npos);
  if (std::string(GetParam().name) == "Linearized") {
    EXPECT_TRUE(doc.Linearized());
    EXPECT_EQ(RunCommand("qpdf --check-linearization '" + dir.File("out.pdf") + "'").output.find("is linearized"),
              std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Reader, QpdfFiles,
                         ::testing::Values(QpdfVariant{"ObjectStreams", "--object-streams=generate"},
                                         QpdfVariant{"Linearized", "--linearize"},
                                         QpdfVariant{"LinearizedObjectStreams", "--linearize --object-streams=generate"},
                                         QpdfVariant{"Rewritten", "--object-streams=disable"}),
                         [](const ::testing::TestParamInfo<QpdfVariant>& info) { return std::string(info.param.name); });

TEST(Reader, ObjectStreamFileSavesEveryObjectAsOrdinaryObject) {
  // Enough objects for several object streams: the writer moves from one decoded stream to
  // the next and drops each stream's parsed value behind it.
  TempDir dir("objstm");
  const CommandResult made = QpdfRewrite(dir, 150, "--object-streams=generate");
  ASSERT_EQ(made.status, 0) << made.output;

  TPDFDocument doc;
  ASSERT_TRUE(LoadFromString(doc, ReadFile(dir.File("in.pdf"))));
  const std::string saved = SaveToString(doc);
  EXPECT_EQ(SaveToString(doc), saved);  // nothing the first save dropped is missing from a second
  WriteFile(dir.File("out.pdf"), saved);
  std::string check;
  EXPECT_TRUE(QpdfClean(dir.File("out.pdf"), "", &check)) << check;
  EXPECT_EQ(PageCount(dir.File("out.pdf")), "150");

  // Every object but the object and cross-reference streams is in the saved file, with the
  // same value, and none of them is compressed any more.
  TPDFDocument again;
  ASSERT_TRUE(LoadFromString(again, saved));
  int compressed = 0;
  int copied = 0;
  for (size_t i = 0; i < doc.ObjectCount(); ++i) {
    TPDFIndObj* obj = doc.ObjectAt(i);
    if (obj->InObjectStream) ++compressed;
    TPDFObject* value = doc.GetValue(obj);
    ASSERT_NE(value, nullptr);
    if (auto* stream = As<TPDFStream>(value)) {
      const std::string type = stream->Dictionary()->TypeName();
      if (type == "ObjStm" || type == "XRef") {
        EXPECT_EQ(again.FindIndirect(obj->Number, obj->Generation), nullptr) << obj->Number;
        continue;
      }
    }
    TPDFIndObj* copy = again.FindIndirect(obj->Number, obj->Generation);
    ASSERT_NE(copy, nullptr) << obj->Number;
    EXPECT_FALSE(copy->InObjectStream);
    EXPECT_EQ(again.GetValue(copy)->ToText(), value->ToText()) << obj->Number;
    ++copied;
  }
  EXPECT_GT(compressed, 100);  // more than one object stream
  EXPECT_EQ(again.ObjectCount(), static_cast<size_t>(copied));
  const std::string xref = RunCommand("qpdf --show-xref '" + dir.File("out.pdf") + "'").output;
  EXPECT_EQ(xref.find(": compressed;"), std::string::npos);
  EXPECT_EQ(static_cast<size_t>(std::count(xref.begin(), xref.end(), '\n')), static_cast<size_t>(copied));
}

TEST(Reader, ObjectStreamCommentsNamingTheNextObjectAreNoStreamData) {
  // qpdf's QDF form writes "%% Object stream: object N, index I" after every object of an object
  // stream; the word "stream" in it must not turn the dictionary before it into a stream.
  TempDir dir("objstm_qdf");
  const CommandResult made = QpdfRewrite(dir, 3, "--qdf --object-streams=generate");
  ASSERT_EQ(made.status, 0) << made.output;
  ASSERT_NE(ReadFile(dir.File("in.pdf")).find("%% Object stream: object"), std::string::npos);

  TPDFDocument doc;
  ASSERT_TRUE(LoadFromString(doc, ReadFile(dir.File("in.pdf"))));
  int compressed = 0;
  for (size_t i = 0; i < doc.ObjectCount(); ++i) {
    TPDFIndObj* obj = doc.ObjectAt(i);
    if (!obj->InObjectStream) continue;
    ++compressed;
    EXPECT_EQ(As<TPDFStream>(doc.GetValue(obj)), nullptr) << obj->Number;
  }
  EXPECT_GT(compressed, 3);
  WriteFile(dir.File("out.pdf"), SaveToString(doc));
  std::string check;
  EXPECT_TRUE(QpdfClean(dir.File("out.pdf"), "", &check)) << check;
  EXPECT_EQ(PageCount(dir.File("out.pdf")), "3");
  EXPECT_NE(Text(dir.File("out.pdf")).find("Page 3 of lumipage"), std::string::npos);
}

TEST(Reader, ObjectStreamIndexThatMissesFindsTheObjectByNumber) {
  // The stream lists itself first, so every index of the cross-reference stream is one short;
  // the objects are found by the numbers the stream's header gives them.
  FileBuilder b;
  const std::string objects[] = {"<< /Type /Catalog /Pages 3 0 R >>", "<< /Type /Pages /Kids [ 4 0 R ] /Count 1 >>",
                                 "<< /Type /Page /Parent 3 0 R /MediaBox [ 0 0 200 300 ] >>"};
  std::string header = "1 0 ";
  std::string body;
  for (int i = 0; i < 3; ++i) {
    header += std::to_string(i + 2) + " " + std::to_string(body.size()) + " ";
    body += objects[i] + "\n";
  }
  b.Object(1, "<< /Type /ObjStm /N 4 /First " + std::to_string(header.size()) + " /Length " +
                  std::to_string(header.size() + body.size()) + " >>\nstream\n" + header + body + "\nendstream");
  auto entry = [](int type, size_t f2, int f3) {
    return std::string{static_cast<char>(type), static_cast<char>(f2 >> 8), static_cast<char>(f2 & 0xFF),
                       static_cast<char>(f3)};
  };
  const size_t xref = b.Size();
  const std::string rows = entry(0, 0, 0) + entry(1, b.Offset(1), 0) + entry(2, 1, 0) + entry(2, 1, 1) +
                           entry(2, 1, 2) + entry(1, xref, 0);
  b.Raw("5 0 obj\n<< /Type /XRef /Size 6 /W [ 1 2 1 ] /Root 2 0 R /Length " + std::to_string(rows.size()) +
        " >>\nstream\n" + rows + "\nendstream\nendobj\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n");
  TPDFDocument doc;
  ASSERT_TRUE(LoadFromString(doc, b.Text()));
  EXPECT_EQ(doc.Catalog()->TypeName(), "Catalog");
  auto* page = As<TPDFDictionary>(doc.GetValue(doc.FindIndirect(4, 0)));
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->Get("MediaBox")->ToText(), "[ 0 0 200 300 ]");
  TempDir dir("objstm_self");
  WriteFile(dir.File("out.pdf"), SaveToString(doc));
  std::string check;
  EXPECT_TRUE(QpdfClean(dir.File("out.pdf"), "", &check)) << check;
  EXPECT_EQ(PageCount(dir.File("out.pdf")), "1");
}

TEST(Reader, HostileStructuresReadNullsOrFailCleanly) {
  // Each file loads or fails; reading every object and saving never crashes or hangs.
  std::vector<std::string> files;
  {
    FileBuilder b;  // /Prev pointing at itself
    b.Object(1, kCatalog);
    b.Raw("");
    std::string t = b.Text();
    const size_t xref = t.size();
    t += "xref\n0 2\n0000000000 65535 f \n" + [&] {
      char l[24];
      std::snprintf(l, sizeof l, "%010zu 00000 n \n", b.Offset(1));
      return std::string(l);
    }() + "trailer\n<< /Size 2 /Root 1 0 R /Prev " + std::to_string(xref) + " /XRefStm " + std::to_string(xref) +
         " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    files.push_back(t);
  }
  {
    FileBuilder b;  // an object stream naming itself, /N of two billion, /Length loops
    b.Object(1, kCatalog);
    b.Object(2, "<< /Length 3 0 R >>\nstream\nxx\nendstream");
    b.Object(3, "<< /Length 2 0 R >>\nstream\nyy\nendstream");
    b.Object(4, "<< /Type /ObjStm /N 2000000000 /First 4 /Length 8 >>\nstream\n5 0 (x)\nendstream");
    std::string rows;
    for (auto [type, f2, f3] : {std::tuple{2, 4, 0}, {2, 6, 0}, {2, 4, 1999999999}})
      rows += std::string{static_cast<char>(type), 0, static_cast<char>(f2), static_cast<char>(f3 & 0xFF)};
    const size_t stm = b.Size();
    b.Raw("7 0 obj\n<< /Type /XRef /Size 9 /W [ 1 2 1 ] /Index [ 5 2 8 1 ] /Length " + std::to_string(rows.size()) +
          " >>\nstream\n" + rows + "\nendstream\nendobj\n");
    b.Object(6, "<< /Type /ObjStm /N 1 /First 4 /Length 8 >>\nstream\n6 0 (y)\nendstream");
    b.ClassicTable(6, "/Size 9 /Root 1 0 R /XRefStm " + std::to_string(stm));
    files.push_back(b.Text());
  }
  {
    FileBuilder b;  // widths above 3 bytes, entries running past the data, huge /Size
    b.Object(1, kCatalog);
    const std::string rows = std::string("\x01\x00\x00\x00\x00\x00\x00\x00\x0F\x00", 10) + std::string("\x01\x00", 2);
    const size_t at = b.Size();
    b.Raw("2 0 obj\n<< /Type /XRef /Size 2000000000 /W [ 1 8 1 ] /Length " + std::to_string(rows.size()) +
          " >>\nstream\n" + rows + "\nendstream\nendobj\nstartxref\n" + std::to_string(at) + "\n%%EOF\n");
    files.push_back(b.Text());
  }
  {
    FileBuilder b;  // a table claiming two billion entries
    b.Object(1, kCatalog);
    const size_t xref = b.Size();
    b.Raw("xref\n0 2000000000\n0000000000 65535 f \ntrailer\n<< /Size 3 /Root 1 0 R >>\nstartxref\n" +
          std::to_string(xref) + "\n%%EOF\n");
    files.push_back(b.Text());
  }
  {
    FileBuilder b;  // object number far above the limit
    b.Object(1, kCatalog);
    const size_t xref = b.Size();
    char l[24];
    std::snprintf(l, sizeof l, "%010zu 00000 n \n", b.Offset(1));
    b.Raw("xref\n2000000000 1\n" + std::string(l) + "trailer\n<< /Size 3 /Root 1 0 R >>\nstartxref\n" +
          std::to_string(xref) + "\n%%EOF\n");
    files.push_back(b.Text());
  }
  for (size_t k = 0; k < files.size(); ++k) {
    TPDFDocument doc;
    const bool loaded = LoadFromString(doc, files[k]);
    for (size_t i = 0; i < doc.ObjectCount(); ++i) {
      TPDFObject* v = doc.GetValue(doc.ObjectAt(i));
      if (v != nullptr) (void)v->ToText();
    }
    const std::string saved = SaveToString(doc);
    if (loaded) {
      TPDFDocument again;
      EXPECT_TRUE(LoadFromString(again, saved)) << k;
    }
    SUCCEED() << k << (loaded ? " loaded" : " failed");
  }
}

}  // namespace
}  // namespace lumipage
