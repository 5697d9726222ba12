// Scanning to PDF end to end through the job with scripted pages; independent readers check the files.
#include "app/PdfAssembly.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>

#include "app/FrmScan.h"
#include "tests/support/ScriptedJob.h"
#include "platform/IniFile.h"
#include "tests/pdf/PdfFileBuilder.h"
#include "tests/support/PdfEdit.h"
#include "tests/support/RunCommand.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

std::string Capture(const std::string& cmd) { return RunCommand(cmd).output; }

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class PdfJob : public ScriptedJobTest {
 protected:
  void Run(std::vector<std::string> args, std::vector<TScriptedPage> pages) { RunJob(std::move(args), std::move(pages)); }
  std::string Check(const std::string& pdf, const std::string& password = "") {
    return Capture("qpdf --check " + (password.empty() ? "" : "--password=" + password + " ") + "'" + pdf + "'");
  }
  std::string Info(const std::string& pdf, const std::string& password = "") {
    return Capture("pdfinfo " + (password.empty() ? "" : "-upw " + password + " ") + "'" + pdf + "'");
  }

  const TScriptedPage kPage{1654, 2338, 24, 200, 200};
  const TScriptedPage kSmall{170, 220, 24, 20, 20};
};

// Kept pages named in the report: every file, in every folder, runs shortened.
TEST(KeptFiles, AreNamedWholeAndRunsShortened) {
  const struct {
    std::vector<std::string> files;
    std::string text;
  } rows[] = {
      {{"/out/d-unsaved-001.jpg"}, "/out/d-unsaved-001.jpg"},
      {{"/out/d-unsaved-001.jpg", "/out/d-unsaved-002.jpg", "/out/d-unsaved-003.jpg"},
       "/out/d-unsaved-001.jpg to /out/d-unsaved-003.jpg"},
      // Two folders with numberings of their own: each run by itself.
      {{"/out/d-unsaved-001.jpg", "/out/d-unsaved-002.jpg", "/exe/d-unsaved-001.jpg"},
       "/out/d-unsaved-001.jpg to /out/d-unsaved-002.jpg and /exe/d-unsaved-001.jpg"},
      // A gap in the numbering, another extension, a page left under its own name.
      {{"/out/d-unsaved-001.jpg", "/out/d-unsaved-003.jpg", "/out/d-unsaved-004.tif", "/exe/page004.jpg"},
       "/out/d-unsaved-001.jpg, /out/d-unsaved-003.jpg, /out/d-unsaved-004.tif and /exe/page004.jpg"},
      {{}, ""},
  };
  for (const auto& row : rows) EXPECT_EQ(FileListText(row.files), row.text);
}

TEST_F(PdfJob, TwoJpegPagesBecomeOnePdfAndPageFilesGo) {
  Run({"pdf"}, {kPage, kSmall});
  EXPECT_EQ(Report("Error", "Message"), "<none>");
  EXPECT_EQ(Report("Scan", "Pages"), "2");
  const std::string pdf = exe / "pages.pdf";
  EXPECT_TRUE(Has(Check(pdf), "No syntax or stream encoding errors"));
  std::string info = Info(pdf);
  EXPECT_TRUE(Has(info, "Pages:           2")) << info;
  EXPECT_TRUE(Has(info, "Orrinwell Ltd"));
  EXPECT_TRUE(Has(Capture("pdfinfo -f 1 -l 1 '" + pdf + "'"), "595.44 x 841.68 pts"));
  std::string images = Capture("pdfimages -list '" + pdf + "'");
  EXPECT_TRUE(Has(images, "1654  2338  rgb     3   8  jpeg")) << images;
  EXPECT_FALSE(Exists(exe / "page001.jpg"));
  EXPECT_FALSE(Exists(exe / "page002.jpg"));
}

TEST_F(PdfJob, MonoPagesAreCcittAndMatchTheScan) {
  Run({"pdf", "Mono", "filename", exe / "out/mono.pdf"}, {kSmall});
  const std::string pdf = exe / "out/mono.pdf";
  EXPECT_TRUE(Has(Check(pdf), "No syntax or stream encoding errors"));
  EXPECT_TRUE(Has(Capture("pdfimages -list '" + pdf + "'"), "ccitt"));
  EXPECT_FALSE(Exists(exe / "page001.tif"));
  // The embedded Group 4 data decodes to exactly the dithered page.
  ASSERT_EQ(std::system(("cd '" + exe.Folder() + "' && pdfimages -tiff '" + pdf + "' img >/dev/null 2>&1").c_str()), 0);
  Run({"tif", "Mono"}, {kSmall});
  std::string diff = Capture("compare -metric AE '" + exe / "img-000.tif" + "' '" + exe / "page001.tif" + "' null:");
  EXPECT_EQ(diff.substr(0, 1), "0") << diff;
}

TEST_F(PdfJob, AppendAfterTheLastPageOfAnotherProducersFile) {
  Run({"pdf"}, {kSmall, kSmall, kSmall});
  const std::string pdf = exe / "pages.pdf";
  // Rewritten by another producer with object and cross-reference streams.
  ASSERT_EQ(std::system(("qpdf --object-streams=generate '" + pdf + "' '" + exe / "other.pdf" + "'").c_str()), 0);
  std::filesystem::rename(exe / "other.pdf", pdf);
  Run({"pdf", "append"}, {kPage, kPage});
  EXPECT_EQ(Report("Scan", "Pages"), "2");
  EXPECT_TRUE(Has(Check(pdf), "No syntax or stream encoding errors"));
  EXPECT_TRUE(Has(Info(pdf), "Pages:           5"));
  std::string sizes = Capture("pdfinfo -f 3 -l 5 '" + pdf + "'");
  EXPECT_TRUE(Has(sizes, "Page    3 size:  612 x 792 pts (letter)")) << sizes;  // the old last page keeps its size
  EXPECT_TRUE(Has(sizes, "Page    5 size:  595.44 x 841.68 pts")) << sizes;
}

TEST_F(PdfJob, CancelledBeforeTheFirstPageWritesNoPdf) {
  WriteText(exe / "pages.pdf", "old");
  Run({"pdf"}, {});
  EXPECT_EQ(Report("Scan", "Pages"), "0");
  EXPECT_FALSE(Exists(exe / "pages.pdf"));
}

TEST_F(PdfJob, ResolutionZeroGivesAnA4Page) {
  Run({"pdf"}, {TScriptedPage{170, 220, 24, 0, 0}});
  EXPECT_TRUE(Has(Info(exe / "pages.pdf"), "595.276 x 841.89 pts (A4)"));
}

TEST_F(PdfJob, PasswordProtectsWithRc4Of128Bits) {
  Run({"pdf", "PDFPassword", "s3cret"}, {kSmall});
  const std::string pdf = exe / "pages.pdf";
  std::string enc = Capture("qpdf --show-encryption --password=s3cret '" + pdf + "'");
  EXPECT_TRUE(Has(enc, "R = 3")) << enc;
  EXPECT_TRUE(Has(enc, "P = -4")) << enc;
  EXPECT_TRUE(Has(Check(pdf, "s3cret"), "No syntax or stream encoding errors"));
  EXPECT_FALSE(Has(Info(pdf), "Pages:"));  // no page count without the password
  // Appending with the password keeps the document readable with it.
  Run({"pdf", "append", "PDFPassword", "s3cret"}, {kSmall});
  EXPECT_EQ(Report("Error", "Message"), "<none>");
  EXPECT_TRUE(Has(Info(pdf, "s3cret"), "Pages:           2"));
}

struct ProtectedCase {
  const char* name;
  const char* qpdfEncrypt;  // how the existing file was protected
  const char* password;     // PDFPassword of the appending job
  bool opens;
  // /P written unsigned (4294967292 for -4), as several writers do.
  bool unsignedP = false;
};

// Poppler's option for the password: the owner password is not a user password.
std::string PopplerPassword(const std::string& password) {
  if (password.empty()) return "";
  return (password == "owner" ? "-opw '" : "-upw '") + password + "' ";
}

// The lines of qpdf --show-encryption that name the protection (revision, permissions, methods).
std::string EncryptionMethod(const std::string& pdf, const std::string& password) {
  std::string lines;
  std::istringstream all(Capture("qpdf --show-encryption --password='" + password + "' '" + pdf + "'"));
  for (std::string line; std::getline(all, line);)
    if (line.starts_with("R = ") || line.starts_with("P = ") || Has(line, "encryption method")) lines += line + '\n';
  return lines;
}

// Page n as qpdf decodes it: its content streams, filters removed, one after another.
std::string DecodedContent(const std::string& pdf, const std::string& password, int page) {
  std::istringstream pages(Capture("qpdf --password='" + password + "' --show-pages '" + pdf + "'"));
  std::string content;
  bool inPage = false;
  for (std::string line; std::getline(pages, line);) {
    if (line.starts_with("page ")) {
      inPage = line.starts_with("page " + std::to_string(page) + ":");
    } else if (inPage && Has(line, " R") && !Has(line, "content:")) {
      std::istringstream ref(line);
      std::string object;
      ref >> object;  // the object number of "n g R"
      content += Capture("qpdf --password='" + password + "' --show-object='" + object + "' --filtered-stream-data '" +
                         pdf + "'");
    }
  }
  return content;
}

// Page n rendered by poppler at a low resolution (a PGM image).
std::string Rendered(const std::string& pdf, const std::string& password, int page) {
  const std::string n = std::to_string(page);
  const std::string root = pdf + ".page";
  std::filesystem::remove(root + ".pgm");
  (void)Capture("pdftoppm -r 12 -gray -f " + n + " -l " + n + " -singlefile " + PopplerPassword(password) + "'" + pdf +
                "' '" + root + "'");
  return Exists(root + ".pgm") ? ReadText(root + ".pgm") : std::string();
}

class AppendProtected : public PdfJob, public ::testing::WithParamInterface<ProtectedCase> {};

TEST_P(AppendProtected, KeepsTheFilesProtectionAndItsOldPages) {
  Run({"pdf"}, {kSmall, TScriptedPage{200, 150, 24, 20, 20}, kSmall});
  const std::string plain = exe / "plain.pdf", pdf = exe / "pages.pdf";
  std::filesystem::rename(pdf, plain);
  ASSERT_EQ(std::system(("qpdf --allow-weak-crypto --encrypt " + std::string(GetParam().qpdfEncrypt) + " -- '" +
                         plain + "' '" + pdf + "' 2>/dev/null")
                            .c_str()),
            0);
  if (GetParam().unsignedP) {
    const std::string bytes = ReplaceInPdf(ReadText(pdf), "/P -4", "/P 4294967292");
    ASSERT_FALSE(bytes.empty());
    WriteText(pdf, bytes);
  }
  const std::string before = ReadText(pdf);
  const std::string password = GetParam().password;
  // What the file held, read by the independent readers with the file's own passwords.
  const std::string open = Has(GetParam().qpdfEncrypt, "''") ? "" : "owner";
  std::filesystem::copy_file(pdf, exe / "old.pdf");
  const std::string method = EncryptionMethod(exe / "old.pdf", open);
  ASSERT_TRUE(Has(method, "R = ")) << method;
  std::vector<std::string> args{"pdf", "append"};
  if (!password.empty()) args.insert(args.end(), {"PDFPassword", password});
  Run(args, {kSmall, kSmall});
  EXPECT_EQ(Report("Scan", "Pages"), "2");
  if (!GetParam().opens) {
    EXPECT_EQ(Report("Error", "Message"), "Unable to open protected PDF file " + pdf +
                                              "; the scanned pages are kept as " + exe / "pages-unsaved-001.jpg" +
                                              " to " + exe / "pages-unsaved-002.jpg");
    EXPECT_EQ(ReadText(pdf), before);  // the existing file is left untouched
    // and the scanned pages stay, where no clean-up of page files reaches them
    EXPECT_TRUE(Exists(exe / "pages-unsaved-001.jpg"));
    EXPECT_TRUE(Exists(exe / "pages-unsaved-002.jpg"));
    EXPECT_FALSE(Exists(exe / "page001.jpg"));
    return;
  }
  EXPECT_EQ(Report("Error", "Message"), "<none>");
  EXPECT_TRUE(Has(Check(pdf, password), "No syntax or stream encoding errors")) << Check(pdf, password);
  EXPECT_TRUE(Has(Check(pdf, open), "No syntax or stream encoding errors"));
  EXPECT_EQ(EncryptionMethod(pdf, open), method);  // the same protection, not one of ours
  if (GetParam().unsignedP) {
    // Written back as the file had it, and AES-256's /Perms still agrees with it.
    EXPECT_TRUE(Has(ReadText(pdf), "/P 4294967292"));
    EXPECT_FALSE(Has(Check(pdf, open), "WARNING")) << Check(pdf, open);
  }
  EXPECT_TRUE(Has(Capture("pdfinfo " + PopplerPassword(password) + "'" + pdf + "'"), "Pages:           5"));
  if (!open.empty()) {
    EXPECT_FALSE(Has(Info(pdf), "Pages:"));  // still closed without a password
  }
  for (int page = 1; page <= 3; ++page) {
    SCOPED_TRACE(page);
    const std::string content = DecodedContent(exe / "old.pdf", open, page);
    EXPECT_TRUE(Has(content, " Do")) << content;
    EXPECT_EQ(DecodedContent(pdf, open, page), content);
    const std::string rendered = Rendered(exe / "old.pdf", open, page);
    EXPECT_TRUE(rendered.starts_with("P5")) << rendered.substr(0, 200);
    EXPECT_EQ(Rendered(pdf, password, page), rendered);
  }
  EXPECT_TRUE(Has(Capture("pdfimages -list " + PopplerPassword(password) + "'" + pdf + "'"), "170   220  rgb"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AppendProtected,
    ::testing::Values(ProtectedCase{"rc4_40_user", "user owner 40", "user", true},
                      ProtectedCase{"rc4_128_owner", "user owner 128 --use-aes=n", "owner", true},
                      ProtectedCase{"rc4_crypt_filters_user", "user owner 128 --use-aes=n --force-V4", "user", true},
                      ProtectedCase{"aes128_user", "user owner 128 --use-aes=y", "user", true},
                      ProtectedCase{"aes128_owner", "user owner 128 --use-aes=y", "owner", true},
                      ProtectedCase{"aes128_clear_metadata", "user owner 128 --use-aes=y --cleartext-metadata", "user", true},
                      ProtectedCase{"aes256_user", "user owner 256", "user", true},
                      ProtectedCase{"aes256_owner", "user owner 256", "owner", true},
                      ProtectedCase{"aes256_r5_owner", "user owner 256 --force-R5", "owner", true},
                      ProtectedCase{"aes256_clear_metadata", "user owner 256 --cleartext-metadata", "user", true},
                      ProtectedCase{"aes256_empty_user", "'' owner 256", "", true},
                      ProtectedCase{"aes256_wrong_password", "user owner 256", "guess", false},
                      ProtectedCase{"aes128_no_password", "user owner 128 --use-aes=y", "", false},
                      ProtectedCase{"wrong_password", "user owner 128 --use-aes=n", "guess", false},
                      ProtectedCase{"no_password", "user owner 128 --use-aes=n", "", false},
                      ProtectedCase{"empty_user_password", "'' owner 128 --use-aes=n", "", true},
                      ProtectedCase{"unsigned_p_rc4_40", "user owner 40", "user", true, true},
                      ProtectedCase{"unsigned_p_rc4_128", "user owner 128 --use-aes=n", "owner", true, true},
                      ProtectedCase{"unsigned_p_rc4_crypt_filters", "user owner 128 --use-aes=n --force-V4", "user", true, true},
                      ProtectedCase{"unsigned_p_aes128", "user owner 128 --use-aes=y", "user", true, true},
                      ProtectedCase{"unsigned_p_aes256_r5", "user owner 256 --force-R5", "owner", true, true},
                      ProtectedCase{"unsigned_p_aes256", "user owner 256", "user", true, true}),
    [](const auto& i) { return std::string(i.param.name); });

// ---- Files other writers made ----

// A one-page document as another writer puts it together: catalog 1, page tree 2, page 3,
// content 4, then the extra objects (from 5 on) and trailer entries given.
std::string OtherWritersFile(const std::string& catalogExtra, const std::string& trailerExtra,
                             const std::vector<std::string>& extraObjects = {}) {
  testutil::FileBuilder b("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R" + catalogExtra + " >>");
  b.Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >>");
  const std::string content = "4 w 20 20 m 180 180 l S";
  b.Object(4, "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
  int n = 5;
  for (const std::string& body : extraObjects) b.Object(n++, body);
  b.ClassicTable(n - 1, "/Size " + std::to_string(n) + " /Root 1 0 R" + trailerExtra);
  return b.Text();
}

// The six information entries as poppler shows them, one "Key: text" a line in a fixed order.
std::string ShownInformation(const std::string& info) {
  std::string shown;
  for (const char* key : {"Title:", "Subject:", "Keywords:", "Author:", "Creator:", "Producer:"}) {
    std::istringstream lines(info);
    for (std::string line; std::getline(lines, line);) {
      if (!line.starts_with(key)) continue;
      shown += key + std::string(" ") + line.substr(line.find_first_not_of(' ', std::string(key).size())) + '\n';
    }
  }
  return shown;
}

struct InformationCase {
  const char* name;
  std::string trailer;               // the trailer's /Info entry
  std::vector<std::string> objects;  // objects 5, 6, ...
  std::string shown;                 // ShownInformation after the append
};

class AppendKeepsInformation : public PdfJob, public ::testing::WithParamInterface<InformationCase> {};

TEST_P(AppendKeepsInformation, SetsOnlyTheEntriesTheDocumentLacks) {
  const std::string pdf = exe / "other.pdf";
  WriteText(pdf, OtherWritersFile("", GetParam().trailer, GetParam().objects));
  Run({"pdf", "append", "filename", pdf}, {kSmall});
  ASSERT_EQ(Report("Error", "Message"), "<none>");
  EXPECT_TRUE(Has(Info(pdf), "Pages:           2"));
  EXPECT_EQ(ShownInformation(Info(pdf)), GetParam().shown);
}

const std::string kOurs = "Author: Orrinwell Ltd\nCreator: Orrinwell Ltd\nProducer: Orrinwell Ltd\n";

INSTANTIATE_TEST_SUITE_P(
    Producers, AppendKeepsInformation,
    ::testing::Values(
        InformationCase{"office_suite_all_entries",
                        " /Info 5 0 R",
                        {"<< /Title (Annual report) /Author (Jane Roe) /Subject (Figures) /Keywords (finance, 2025)"
                         " /Creator (Writer) /Producer (LibreOffice 7.4) >>"},
                        "Title: Annual report\nSubject: Figures\nKeywords: finance, 2025\nAuthor: Jane Roe\n"
                        "Creator: Writer\nProducer: LibreOffice 7.4\n"},
        InformationCase{"direct_in_the_trailer", " /Info << /Title (Direct) /Producer (a library) >>", {},
                        "Title: Direct\nAuthor: Orrinwell Ltd\nCreator: Orrinwell Ltd\nProducer: a library\n"},
        InformationCase{"values_in_objects_of_their_own",
                        " /Info 5 0 R",
                        {"<< /Title 6 0 R /Author 7 0 R >>", "(Held apart)", "<4A6F686E20446F65>"},
                        "Title: Held apart\nAuthor: John Doe\nCreator: Orrinwell Ltd\nProducer: Orrinwell Ltd\n"},
        InformationCase{"utf16_text",
                        " /Info 5 0 R",
                        {"<< /Title <FEFF00C4007000660065006C> /Creator <FEFF004A0061006E00E9> >>"},
                        "Title: \xC3\x84pfel\nAuthor: Orrinwell Ltd\nCreator: Jan\xC3\xA9\nProducer: Orrinwell Ltd\n"},
        // An entry of another kind stays as it is; null and a reference to nothing are no entry.
        InformationCase{"broken_entries",
                        " /Info 5 0 R",
                        {"<< /Title 42 /Author 99 0 R /Creator null /Subject /Name /Keywords [(a)] >>"},
                        kOurs},
        InformationCase{"none", "", {}, "Title: Ferrodoc Document\n" + kOurs},
        InformationCase{"not_a_dictionary", " /Info 5 0 R", {"42"}, "Title: Ferrodoc Document\n" + kOurs}),
    [](const auto& i) { return std::string(i.param.name); });

// The catalog and trailer keys after a stray token, as qpdf reads the appended file.
std::string QpdfKeys(const std::string& pdf, const std::string& which) {
  return Capture("qpdf --json=2 --json-key=qpdf '" + pdf + "' | jq -r '.qpdf[1] as $o | " +
                 (which == "trailer" ? std::string("$o.trailer.value") : std::string("$o[\"obj:\" + $o.trailer.value[\"/Root\"]].value")) +
                 " | keys | join(\" \")'");
}

TEST_F(PdfJob, StrayTokensInOtherWritersDictionariesLoseNoKey) {
  const std::string pdf = exe / "other.pdf";
  WriteText(pdf, OtherWritersFile(" /X 3 0 R 0 R /PageMode /UseOutlines /Lang (en)",
                                  " Junk 2 0 R /ID [<0A0B0C0D><0A0B0C0D>] /Info 5 0 R", {"<< /Title (Kept) >>"}));
  Run({"pdf", "append", "filename", pdf}, {kSmall});
  ASSERT_EQ(Report("Error", "Message"), "<none>");
  EXPECT_EQ(QpdfKeys(pdf, "catalog"), "/Lang /PageMode /Pages /Type /X\n");
  EXPECT_EQ(QpdfKeys(pdf, "trailer"), "/ID /Info /Root /Size\n");
  EXPECT_TRUE(Has(ReadText(pdf), "/ID [ <0A0B0C0D> <0A0B0C0D> ]"));
  EXPECT_TRUE(Has(Check(pdf), "No syntax or stream encoding errors")) << Check(pdf);
}

TEST_F(PdfJob, PageTreesWithoutPagesOrMediaBoxesTakeTheNewPages) {
  // No page at all: the new page is the first.
  const std::string empty = exe / "empty.pdf";
  testutil::FileBuilder b("%PDF-1.4\n");
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [] /Count 0 >>");
  b.ClassicTable(2, "/Size 3 /Root 1 0 R");
  WriteText(empty, b.Text());
  Run({"pdf", "append", "filename", empty}, {kSmall});
  ASSERT_EQ(Report("Error", "Message"), "<none>");
  EXPECT_TRUE(Has(Info(empty), "Pages:           1"));
  EXPECT_TRUE(Has(Check(empty), "No syntax or stream encoding errors")) << Check(empty);

  // A page without a media box keeps none: readers give it their default size, as before.
  const std::string boxless = exe / "boxless.pdf";
  std::string text = OtherWritersFile("", "");
  text = ReplaceInPdf(text, " /MediaBox [0 0 200 200]", "");
  ASSERT_FALSE(text.empty());
  WriteText(boxless, text);
  const std::string sizeBefore = Capture("pdfinfo -f 1 -l 1 '" + boxless + "' | grep 'Page    1 size'");
  Run({"pdf", "append", "filename", boxless}, {kSmall, kSmall});
  ASSERT_EQ(Report("Error", "Message"), "<none>");
  EXPECT_TRUE(Has(Info(boxless), "Pages:           3"));
  EXPECT_EQ(Capture("pdfinfo -f 1 -l 1 '" + boxless + "' | grep 'Page    1 size'"), sizeBefore);
  EXPECT_EQ(Capture("qpdf --show-object=3 '" + boxless + "'").find("/MediaBox"), std::string::npos);
  // The old page's empty content stream of the engine is no Flate data of zero bytes.
  EXPECT_EQ(Capture("qpdf --json=2 --json-key=qpdf '" + boxless + "' | jq '[.qpdf[1][] | .stream.dict // empty |"
                    " select(.[\"/Filter\"] == \"/FlateDecode\" and .[\"/Length\"] == 0)] | length'"),
            "0\n");
}

TEST_F(PdfJob, Aes256ProtectsNewAndReprotectedFiles) {
  Run({"pdf", "PDFPassword", "s3cret", "PDFEncryption", "aes256"}, {kSmall});
  const std::string pdf = exe / "pages.pdf";
  std::string enc = EncryptionMethod(pdf, "s3cret");
  EXPECT_TRUE(Has(enc, "R = 6")) << enc;
  EXPECT_TRUE(Has(enc, "stream encryption method: AESv3")) << enc;
  EXPECT_TRUE(Has(Check(pdf, "s3cret"), "No syntax or stream encoding errors"));
  EXPECT_TRUE(Has(Info(pdf, "s3cret"), "Pages:           1"));
  // An unprotected file gets the protection the settings file asks for.
  Run({"pdf"}, {kSmall, kSmall});
  WriteText(exe / "lumipage.ini", "[Scan]\nPDFEncryption=AES256\n");
  Run({"pdf", "append", "PDFPassword", "s3cret"}, {kSmall});
  EXPECT_EQ(Report("Error", "Message"), "<none>");
  EXPECT_TRUE(Has(EncryptionMethod(pdf, "s3cret"), "string encryption method: AESv3"));
  EXPECT_TRUE(Has(Info(pdf, "s3cret"), "Pages:           3"));
  // A wrong password leaves the AES-256 file as it was.
  const std::string before = ReadText(pdf);
  Run({"pdf", "append", "PDFPassword", "other"}, {kSmall});
  EXPECT_EQ(Report("Error", "Message"), "Unable to open protected PDF file " + pdf + "; the scanned page is kept as " +
                                            exe / "pages-unsaved-001.jpg");
  EXPECT_EQ(ReadText(pdf), before);
}

TEST_F(PdfJob, UnreadableExistingFileIsKeptAndThePagesSurviveTheNextJob) {
  TempDir out;
  const std::string pdf = out / "doc.pdf";
  WriteText(pdf, "this is not a PDF");
  WriteText(out / "doc-unsaved-001.jpg", "an earlier job's page");
  Run({"pdf", "append", "filename", pdf}, {kSmall, kSmall});
  EXPECT_EQ(Report("Error", "Message"), "Unable to open PDF file " + pdf + "; the scanned pages are kept as " +
                                            out / "doc-unsaved-002.jpg" + " to " + out / "doc-unsaved-003.jpg");
  EXPECT_EQ(ReadText(pdf), "this is not a PDF");
  EXPECT_EQ(ReadText(out / "doc-unsaved-001.jpg"), "an earlier job's page");
  EXPECT_EQ(form->Pages().PageTable()[2].PageFile, out / "doc-unsaved-003.jpg");
  // The next PDF job, to another file, cleans up page files beside the program: the kept
  // pages are not among them.
  Run({"pdf"}, {kSmall});
  EXPECT_EQ(Report("Error", "Message"), "<none>");
  EXPECT_TRUE(Exists(out / "doc-unsaved-002.jpg"));
  EXPECT_TRUE(Exists(out / "doc-unsaved-003.jpg"));
}

TEST_F(PdfJob, ProtectedFileWhosePagesCannotBeReadIsRefusedUntouched) {
  // The page tree lies in an encrypted object stream whose /First is one byte off: nothing can
  // be checked before the password, and once it opens the file there is no page to add to.
  Run({"pdf"}, {kSmall});
  const std::string plain = exe / "plain.pdf", pdf = exe / "pages.pdf";
  std::filesystem::rename(pdf, plain);
  ASSERT_EQ(std::system(("qpdf --object-streams=generate --encrypt user owner 256 -- '" + plain + "' '" + pdf +
                         "' 2>/dev/null")
                            .c_str()),
            0);
  std::string bytes = ReadText(pdf);
  const size_t first = bytes.find("/First ");
  ASSERT_NE(first, std::string::npos);
  const size_t digit = bytes.find_first_not_of("0123456789", first + 7) - 1;
  ASSERT_NE(bytes[digit], '9');
  ++bytes[digit];
  WriteText(pdf, bytes);
  Run({"pdf", "append", "PDFPassword", "user"}, {kSmall});
  EXPECT_EQ(Report("Error", "Message"), "Unable to open PDF file " + pdf + "; the scanned page is kept as " +
                                            exe / "pages-unsaved-001.jpg");
  EXPECT_EQ(ReadText(pdf), bytes);
}

TEST_F(PdfJob, UnsaveablePdfIsRefusedBeforeScanning) {
  std::filesystem::create_directories(exe / "taken.pdf/inside");
  Run({"pdf", "filename", exe / "taken.pdf"}, {kSmall});
  EXPECT_EQ(Report("Error", "Message"), "Unable to save PDF file " + exe / "taken.pdf" + ": Is a directory");
  EXPECT_EQ(Report("Scan", "Pages"), "0");
  EXPECT_TRUE(Exists(exe / "taken.pdf/inside"));
}

// ---- The check of the written file ----

// Length-keeping edits of a written file, each at the last place the text occurs: objects are
// written in number order, so that is the newest page, its image or the trailer.
void Overwrite(std::string& bytes, const std::string& from, const std::string& to) {
  const size_t at = bytes.rfind(from);
  ASSERT_NE(at, std::string::npos) << from;
  bytes.replace(at, from.size(), to);
}

struct DamageCase {
  const char* name;
  std::vector<std::string> options;  // of both jobs: protection
  bool append;                       // the damaged job appends to the first job's file
  std::function<void(std::string&)> damage;
  const char* failure;
};

std::string DropLastKid(std::string bytes) {
  const size_t kids = bytes.find("/Kids [");
  const size_t end = bytes.find(']', kids);
  size_t last = bytes.rfind(" R", end);
  last = bytes.rfind(' ', bytes.rfind(' ', last - 1) - 1);  // the space before "n g R"
  bytes.replace(last, end - last, std::string(end - last, ' '));
  return bytes;
}

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class DamagedSave : public PdfJob, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedSave, IsRefusedAndTheOldFileAndThePagesStay) {
  const DamageCase& c = GetParam();
  const std::string pdf = exe / "pages.pdf";
  std::vector<std::string> args{"pdf"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  Run(args, {kSmall, kSmall});
  ASSERT_EQ(Report("Error", "Message"), "<none>");
  const std::string before = ReadText(pdf);
  if (c.append) args.push_back("append");
  std::string written;
  onWritten = [&](const std::string& file) {
    written = file;
    std::string bytes = ReadText(file);
    c.damage(bytes);
    WriteText(file, bytes);
  };
  Run(args, {kPage, kSmall});
  EXPECT_EQ(Report("Error", "Message"), "The saved PDF could not be verified: " + std::string(c.failure) +
                                            "; the scanned pages are kept as " + exe / "pages-unsaved-001.jpg" +
                                            " to " + exe / "pages-unsaved-002.jpg");
  EXPECT_EQ(ReadText(pdf), before);
  EXPECT_TRUE(Exists(exe / "pages-unsaved-001.jpg"));
  EXPECT_TRUE(Exists(exe / "pages-unsaved-002.jpg"));
  // The damaged file was the save's temporary file, and it is gone.
  EXPECT_NE(written, pdf);
  EXPECT_FALSE(written.empty() || Exists(written));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedSave,
    ::testing::Values(
        DamageCase{"truncated", {}, true, [](std::string& b) { b.resize(b.size() / 2); },
                   "it cannot be read as a PDF file"},
        DamageCase{"entry_misses_its_object", {}, true, [](std::string& b) { Overwrite(b, " 0 obj", " 0 obx"); },
                   "it cannot be read as a PDF file"},
        DamageCase{"page_dropped", {}, true, [](std::string& b) { b = DropLastKid(b); }, "it has 3 pages instead of 4"},
        DamageCase{"count_wrong", {}, true, [](std::string& b) { Overwrite(b, "/Count 4", "/Count 5"); },
                   "its page tree gives 5 pages where it holds 4"},
        DamageCase{"no_media_box", {}, true, [](std::string& b) { Overwrite(b, "/MediaBox", "/MediaBax"); },
                   "page 4 has no media box"},
        DamageCase{"image_gone", {}, true, [](std::string& b) { Overwrite(b, "/Subtype /Image", "/Subtype /Imagx"); },
                   "page 4 shows no image"},
        DamageCase{"image_of_another_page", {}, true, [](std::string& b) { Overwrite(b, "/Width 170", "/Width 190"); },
                   "page 4 shows an image of 190 x 220 pixels instead of 170 x 220"},
        DamageCase{"new_file_page_dropped", {}, false, [](std::string& b) { b = DropLastKid(b); },
                   "it has 1 page instead of 2"},
        DamageCase{"rc4_page_dropped", {"PDFPassword", "s3cret"}, true, [](std::string& b) { b = DropLastKid(b); },
                   "it has 3 pages instead of 4"},
        DamageCase{"rc4_protection_lost", {"PDFPassword", "s3cret"}, false,
                   [](std::string& b) { Overwrite(b, "/Encrypt", "/Encrypx"); }, "it is not protected"},
        DamageCase{"aes256_image_gone",
                   {"PDFPassword", "s3cret", "PDFEncryption", "AES256"},
                   true,
                   [](std::string& b) { Overwrite(b, "/Subtype /Image", "/Subtype /Imagx"); },
                   "page 4 shows no image"},
        DamageCase{"aes256_truncated",
                   {"PDFPassword", "s3cret", "PDFEncryption", "AES256"},
                   false,
                   [](std::string& b) { b.resize(b.size() - 200); },
                   "it cannot be read as a PDF file"}),
    [](const auto& i) { return std::string(i.param.name); });

}  // namespace
