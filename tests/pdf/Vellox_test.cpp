// The engine facade: document list, information entries, error codes, saving, and the whole
// sequence the scan job's PDF assembly drives, proven with independent readers.
#include "pdf/Vellox.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "pdf/PDFDocument.h"
#include "pdf/PDFImage.h"
#include "pdf/PDFPageTree.h"
#include "pdf/PDFSaveCheck.h"
#include "tests/pdf/PDFPageFixtures.h"
#include "tests/pdf/VelloxAssembly.h"

namespace lumipage {
namespace {

using namespace testutil;

TEST(VelloxTest, FreshFacadeHasOneBlankLetterPage) {
  TVellox pdf;
  EXPECT_EQ(pdf.DocumentCount(), 1);
  EXPECT_EQ(pdf.PageCount(), 1);
  EXPECT_EQ(pdf.SelectedPage(), 1);
  EXPECT_EQ(pdf.PageWidth(), 612);
  EXPECT_EQ(pdf.PageHeight(), 792);
  EXPECT_EQ(pdf.LibraryVersion(), "4.41");
  EXPECT_EQ(pdf.GetInformation(0), "1.4");
  EXPECT_EQ(pdf.GetInformation(5), "Vellox 4.41");
  EXPECT_EQ(pdf.GetInformation(6), "Vellox 4.41");
  EXPECT_TRUE(pdf.GetInformation(7).starts_with("D:"));
  EXPECT_EQ(pdf.GetInformation(7), pdf.GetInformation(8));
  EXPECT_EQ(pdf.GetInformation(9), "");
}

struct InformationCase {
  int Key;
  const char* Value;
  int Result;
  int Code;
  int ReadKey;
  const char* ReadBack;
};

class VelloxInformationTest : public ::testing::TestWithParam<InformationCase> {};

TEST_P(VelloxInformationTest, StoresAndReadsBack) {
  const InformationCase& c = GetParam();
  TVellox pdf;
  EXPECT_EQ(pdf.SetInformation(c.Key, c.Value), c.Result);
  EXPECT_EQ(pdf.LastErrorCode(), c.Code);
  EXPECT_EQ(pdf.GetInformation(c.ReadKey), c.ReadBack);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, VelloxInformationTest,
    ::testing::Values(InformationCase{1, "Orrinwell Ltd", 1, 0, 1, "Orrinwell Ltd"},
                      InformationCase{2, "Ferrodoc Document", 1, 0, 2, "Ferrodoc Document"},
                      InformationCase{3, "", 1, 0, 3, ""},  // absent entry, empty read-back
                      InformationCase{6, "", 1, 0, 6, ""},  // removes the producer
                      InformationCase{4, "caf\xE9 \x80", 1, 0, 4, "caf\xE9 \x80"},
                      InformationCase{0, "1.3", 1, 0, 0, "1.3"},
                      InformationCase{0, "1.7", 0, 0, 0, "1.4"},  // version left as it was
                      InformationCase{7, "x", 0, 202, 1, ""},
                      InformationCase{-1, "x", 0, 202, 1, ""}));

TEST(VelloxTest, InformationIsStoredAsPdfDocEncodedLiteral) {
  TempDir dir("vellox_info");
  TVellox pdf;
  ASSERT_EQ(pdf.SetInformation(1, "Orrinwell Ltd"), 1);
  ASSERT_EQ(pdf.SetInformation(2, "\x80uro"), 1);
  ASSERT_EQ(pdf.SaveToFile(dir.File("info.pdf")), 1);
  const std::string bytes = ReadFile(dir.File("info.pdf"));
  EXPECT_NE(bytes.find("/Author (Orrinwell Ltd)"), std::string::npos);
  // The euro sign is A0 in PDFDocEncoding.
  EXPECT_NE(bytes.find("/Title (\xA0uro)"), std::string::npos);
  EXPECT_EQ(InfoField(dir.File("info.pdf"), "Author"), "Orrinwell Ltd");
}

TEST(VelloxTest, EncryptErrorCodesAndProtectedInformation) {
  TempDir dir("vellox_codes");
  TVellox pdf;
  const int32_t all = pdf.Permissions(1, 1, 1, 1, 1, 1, 1, 1);
  EXPECT_EQ(all, 0x3200FF);
  // Strengths: 0 RC4 40 bits, 1 RC4 128 bits, 2 AES-256; anything else is refused.
  EXPECT_EQ(pdf.Encrypt("o", "u", 3, all), 0);
  EXPECT_EQ(pdf.LastErrorCode(), 101);
  EXPECT_EQ(pdf.Encrypt("o", "u", 1, 0xFF), 0);
  EXPECT_EQ(pdf.LastErrorCode(), 102);
  EXPECT_EQ(pdf.Encrypt("o", "u", 1, all), 1);
  EXPECT_EQ(pdf.LastErrorCode(), 0);
  EXPECT_EQ(pdf.Encrypted(), 1);
  EXPECT_EQ(pdf.EncryptionStrength(), 128);
  EXPECT_EQ(pdf.Encrypt("o", "u", 1, all), 0);
  EXPECT_EQ(pdf.LastErrorCode(), 103);
  EXPECT_EQ(pdf.SetInformation(1, "x"), 0);
  EXPECT_EQ(pdf.LastErrorCode(), 201);

  // Saving a protected document leaves its information dictionary alone.
  const std::string file = dir.File("protected.pdf");
  ASSERT_EQ(pdf.SaveToFile(file), 1);
  const std::string first = ReadFile(file);
  ASSERT_EQ(pdf.SaveToFile(file), 1);
  EXPECT_EQ(ReadFile(file), first);
  EXPECT_TRUE(QpdfClean(file, "--password=u"));
}

// A document too large for its table is refused by the writer (the writer's tests reach that
// offset); the facade reports it with its own code. Any failed save leaves the file there as it
// was (FailedSaveLeavesTheExistingFile).
TEST(VelloxTest, DocumentTooLargeToAddressHasItsOwnCode) {
  EXPECT_EQ(TVellox::ErrorCode(TPDFError::TooLarge), TVellox::kErrorTooLarge);
  EXPECT_EQ(TVellox::ErrorCode(TPDFError::None), 0);
}

TEST(VelloxTest, DocumentListSelectionRules) {
  TVellox pdf;
  TPDFDocument* first = pdf.SelectedDocument();
  EXPECT_EQ(pdf.RemoveDocument(first), 0);  // never the only one
  EXPECT_EQ(pdf.DocumentCount(), 1);
  TPDFDocument* second = pdf.NewDocument();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(pdf.SelectedDocument(), second);
  EXPECT_EQ(pdf.DocumentID(1), first);
  EXPECT_EQ(pdf.DocumentID(2), second);
  EXPECT_EQ(pdf.DocumentID(0), nullptr);
  EXPECT_EQ(pdf.DocumentID(3), nullptr);
  EXPECT_EQ(pdf.SelectDocument(nullptr), 0);
  EXPECT_EQ(pdf.SelectDocument(first), 1);
  EXPECT_EQ(pdf.RemoveDocument(first), 1);  // the selected first one: the next is selected
  EXPECT_EQ(pdf.SelectedDocument(), second);
  EXPECT_EQ(pdf.DocumentCount(), 1);
  EXPECT_EQ(pdf.PageCount(), 1);
}

TEST(VelloxTest, SelectingADocumentSelectsItsFirstImage) {
  TempDir dir("vellox_images");
  WriteJpeg(dir.File("a.jpg"), JpegSpec{});
  TVellox pdf;
  TPDFDocument* first = pdf.SelectedDocument();
  TPDFImage* a = pdf.AddImageFromFile(dir.File("a.jpg"), 0);
  TPDFImage* b = pdf.AddImageFromFile(dir.File("a.jpg"), 0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(pdf.SelectedImage(), b);
  EXPECT_EQ(pdf.AddImageFromFile(dir.File("missing.jpg"), 0), nullptr);
  EXPECT_EQ(pdf.SelectedImage(), b);  // a failed add changes nothing
  TPDFDocument* second = pdf.NewDocument();
  EXPECT_EQ(pdf.SelectedImage(), nullptr);
  EXPECT_EQ(pdf.FitImage(0, 0, 10, 10, 0, 0, 0), 0);
  EXPECT_EQ(pdf.SelectDocument(first), 1);
  EXPECT_EQ(pdf.SelectedImage(), a);
  EXPECT_EQ(pdf.RemoveDocument(second), 1);
  EXPECT_EQ(pdf.SelectedImage(), a);
}

TEST(VelloxTest, LoadFailuresKeepTheSelection) {
  TempDir dir("vellox_load");
  TVellox pdf;
  TPDFDocument* blank = pdf.SelectedDocument();
  EXPECT_EQ(pdf.LoadFromFile(dir.File("missing.pdf")), 0);
  WriteFile(dir.File("not.pdf"), "this is not a PDF file at all\n");
  EXPECT_EQ(pdf.LoadFromFile(dir.File("not.pdf")), 0);
  EXPECT_EQ(pdf.LastErrorCode(), 0);
  EXPECT_EQ(pdf.DocumentCount(), 1);
  EXPECT_EQ(pdf.SelectedDocument(), blank);
}

TEST(VelloxTest, PasswordOpensPagesHeldInEncryptedObjectStreams) {
  // The page tree's nodes are compressed and encrypted: before the password there are no pages
  // to count, after it every page is there, and a new page lands after the last one.
  TempDir dir("vellox_objstm_password");
  TPDFDocument plain;
  BuildTextDocument(plain, 3);
  ASSERT_TRUE(SaveDocument(plain, dir.File("plain.pdf")));
  for (const char* method : {"256", "128 --use-aes=y", "128 --use-aes=n"}) {
    const std::string in = dir.File("protected.pdf");
    const CommandResult made = RunCommand(std::string("qpdf --allow-weak-crypto --object-streams=generate --encrypt user owner ") + method +
                                          " -- '" + dir.File("plain.pdf") + "' '" + in + "'");
    ASSERT_EQ(made.status, 0) << made.output;
    TVellox pdf;
    ASSERT_EQ(pdf.LoadFromFile(in), 1) << method;
    ASSERT_EQ(pdf.SetPassword("user"), 1) << method;
    EXPECT_EQ(pdf.PageCount(), 3) << method;
    EXPECT_EQ(pdf.SelectedPage(), 1) << method;
    EXPECT_EQ(pdf.NewPages(1), 4) << method;
  }
}

TEST(VelloxTest, ProtectedFilesInformationInTheTrailerIsReadAndKept) {
  // qpdf keeps an Info dictionary written into the trailer as it is, in plain text.
  TempDir dir("vellox_direct_info");
  TPDFDocument plain;
  BuildTextDocument(plain, 1);
  plain.Trailer()->Remove("Info");
  ASSERT_TRUE(SaveDocument(plain, dir.File("plain.pdf")));
  std::string text = ReadFile(dir.File("plain.pdf"));
  const auto at = text.rfind("/Root");
  ASSERT_NE(at, std::string::npos);
  text.insert(at, "/Info << /Title (Minutes) /Author (Jane Roe) >> ");
  WriteFile(dir.File("direct.pdf"), text);
  for (const char* method : {"256", "128 --use-aes=n"}) {
    SCOPED_TRACE(method);
    const std::string in = dir.File("protected.pdf"), out = dir.File("saved.pdf");
    const CommandResult made = RunCommand(std::string("qpdf --allow-weak-crypto --encrypt user owner ") + method +
                                          " -- '" + dir.File("direct.pdf") + "' '" + in + "'");
    ASSERT_EQ(made.status, 0) << made.output;
    TVellox pdf;
    ASSERT_EQ(pdf.LoadFromFile(in), 1);
    ASSERT_EQ(pdf.SetPassword("user"), 1);
    EXPECT_EQ(pdf.GetInformation(2), "Minutes");
    EXPECT_EQ(pdf.GetInformation(5), "");
    ASSERT_EQ(pdf.SaveToFile(out), 1);
    const CommandResult trailer = RunCommand("qpdf --password=user --show-object=trailer '" + out + "'");
    EXPECT_NE(trailer.output.find("/Info << /Author (Jane Roe) /Title (Minutes) >>"), std::string::npos)
        << trailer.output;
  }
}

TEST(VelloxTest, FailedSaveLeavesTheExistingFile) {
  TempDir dir("vellox_save");
  TVellox pdf;
  EXPECT_EQ(pdf.SaveToFile(dir.File("no such folder/out.pdf")), 0);
  const std::string target = dir.File("out.pdf");
  WriteFile(target, "old contents");
  // A target without write bits is refused (mode bits: the tests may run as root).
  std::filesystem::permissions(target, std::filesystem::perms::owner_read);
  EXPECT_EQ(pdf.SaveToFile(target), 0);
  EXPECT_EQ(ReadFile(target), "old contents");
  std::filesystem::permissions(target, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(pdf.SaveToFile(target), 1);
  EXPECT_TRUE(QpdfClean(target));
  // Nothing is left behind beside the target.
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(target).parent_path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

// ---- The PDF assembly's sequence ----

void Assemble(const std::string& fileName, const std::vector<ScanPage>& pages, const AssemblyOptions& o) {
  TVellox pdf;
  BuildAssembly(pdf, fileName, pages, o);
  ASSERT_EQ(pdf.SaveToFile(fileName), 1);
}

class VelloxAssemblyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteJpeg(jpeg_, JpegSpec{.Width = 165, .Height = 233, .Components = 3, .XDensity = 20, .YDensity = 20});
    WriteTiff(tiff_, TiffSpec{.Width = 1654, .Height = 2338});
    pages_ = {{jpeg_, 165, 233, 20}, {tiff_, 1654, 2338, 200}};
  }

  TempDir dir_{"vellox_assembly"};
  std::string jpeg_ = dir_.File("page001.jpg");
  std::string tiff_ = dir_.File("page002.tif");
  std::vector<ScanPage> pages_;
};

TEST_F(VelloxAssemblyTest, TwoScannedPagesBecomeTwoFittedPages) {
  const std::string out = dir_.File("pages.pdf");
  Assemble(out, pages_, {});
  EXPECT_TRUE(QpdfClean(out));
  EXPECT_EQ(PageCount(out), "2");
  EXPECT_EQ(PageSize(out, 1), "594 x 838.8");  // 165 x 233 pixels at 20 dpi
  EXPECT_EQ(PageSize(out, 2), "595.44 x 841.68");
  const std::vector<std::string> images = ImageList(out);
  ASSERT_EQ(images.size(), 2u);
  const auto jpeg = Fields(images[0]);
  const auto ccitt = Fields(images[1]);
  ASSERT_GE(jpeg.size(), 10u);
  ASSERT_GE(ccitt.size(), 10u);
  EXPECT_EQ(jpeg[3], "165");
  EXPECT_EQ(jpeg[4], "233");
  EXPECT_EQ(jpeg[5], "rgb");
  EXPECT_EQ(jpeg[8], "jpeg");
  EXPECT_EQ(ccitt[3], "1654");
  EXPECT_EQ(ccitt[4], "2338");
  EXPECT_EQ(ccitt[5], "gray");
  EXPECT_EQ(ccitt[7], "1");
  EXPECT_EQ(ccitt[8], "ccitt");
  // Embedded as they are: the JPEG file's bytes appear whole in the PDF.
  EXPECT_NE(ReadFile(out).find(ReadFile(jpeg_)), std::string::npos);
  EXPECT_EQ(InfoField(out, "Producer"), "Orrinwell Ltd");
  EXPECT_EQ(InfoField(out, "Title"), "Ferrodoc Document");
}

TEST_F(VelloxAssemblyTest, GroupFourPageRendersPixelForPixel) {
  const std::string out = dir_.File("mono.pdf");
  Assemble(out, {pages_[1]}, {});
  const auto rows = RenderMono(out, 200, dir_.File("render"));
  ASSERT_EQ(rows.size(), 2338u);
  ASSERT_EQ(rows[0].size(), 1654u);
  int wrong = 0;
  for (uint32_t y = 0; y < 2338; ++y)
    for (uint32_t x = 0; x < 1654; ++x)
      if (rows[y][x] != BlackPixel(x, y, 1654, 2338)) ++wrong;
  EXPECT_EQ(wrong, 0);
}

TEST_F(VelloxAssemblyTest, AppendsAfterTheLastPageOfAnotherProducersFile) {
  // Three pages with text, rewritten by qpdf with object streams.
  TPDFDocument doc;
  BuildTextDocument(doc, 3);
  ASSERT_TRUE(SaveDocument(doc, dir_.File("ours.pdf")));
  const std::string out = dir_.File("three.pdf");
  ASSERT_EQ(RunCommand("qpdf --object-streams=generate '" + dir_.File("ours.pdf") + "' '" + out + "'").status, 0);

  Assemble(out, pages_, {.Append = true});
  EXPECT_TRUE(QpdfClean(out));
  EXPECT_EQ(PageCount(out), "5");
  const std::string text = Text(out);
  const size_t p1 = text.find("Page 1 of lumipage");
  const size_t p3 = text.find("Page 3 of lumipage");
  EXPECT_NE(p1, std::string::npos);
  EXPECT_NE(p3, std::string::npos);
  EXPECT_LT(p1, p3);
  // The sequence sets the selected page, the old last one, to A4; the new ones are sized from
  // the scans.
  EXPECT_EQ(PageSize(out, 2), "612 x 792");
  EXPECT_EQ(PageSize(out, 3), "595.276 x 841.89");
  EXPECT_EQ(PageSize(out, 4), "594 x 838.8");
  EXPECT_EQ(PageSize(out, 5), "595.44 x 841.68");
  const std::vector<std::string> images = ImageList(out);
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(Fields(images[0])[0], "4");
  EXPECT_EQ(Fields(images[1])[0], "5");
}

TEST_F(VelloxAssemblyTest, PasswordJobWritesRc4With128BitKeys) {
  const std::string out = dir_.File("secret.pdf");
  Assemble(out, pages_, {.Password = "s3cret"});
  EXPECT_TRUE(QpdfClean(out, "--password=s3cret"));
  const std::string shown =
      RunCommand("qpdf --show-encryption --show-encryption-key --password=s3cret '" + out + "'").output;
  EXPECT_NE(shown.find("R = 3"), std::string::npos) << shown;
  EXPECT_NE(shown.find("P = -4"), std::string::npos) << shown;
  // A 128-bit key: 32 hexadecimal digits.
  const size_t key = shown.find("Encryption key = ");
  ASSERT_NE(key, std::string::npos) << shown;
  EXPECT_EQ(shown.find('\n', key) - (key + 17), 32u) << shown;
  EXPECT_NE(RunCommand("pdfinfo '" + out + "'").status, 0);  // needs the password
  EXPECT_EQ(InfoField(out, "Encrypted", "-upw s3cret").substr(0, 3), "yes");
  EXPECT_EQ(ImageList(out, "-upw s3cret").size(), 2u);
}

TEST_F(VelloxAssemblyTest, SaveCheckReadsTheWrittenFileBackBeforeItReplacesTheTarget) {
  // A TIFF page in strips is drawn through a form: its strips together are the page's image.
  WriteTiff(tiff_, TiffSpec{.Width = 1654, .Height = 2338, .RowsPerStrip = 500});
  const std::string out = dir_.File("checked.pdf");
  WriteFile(out, "old contents");
  TVellox pdf;
  BuildAssembly(pdf, out, pages_, {.Password = "s3cret"});
  struct Row {
    TSavedPdfExpectation expected;
    std::string failure;
  };
  const std::vector<std::pair<int32_t, int32_t>> images{{165, 233}, {1654, 2338}};
  const Row rows[] = {
      {{"s3cret", true, 3, images}, "it has 2 pages instead of 3"},
      {{"guess", true, 2, images}, "it does not open with the password"},
      {{"s3cret", true, 2, {{165, 233}, {1654, 2000}}},
       "page 2 shows an image of 1654 x 2338 pixels instead of 1654 x 2000"},
      {{"s3cret", true, 3, {{165, 233}, {1654, 2338}, {10, 10}}}, "it has 2 pages instead of 3"},
      {{"s3cret", true, 2, {{0, 0}, {0, 0}}}, ""},
      {{"s3cret", true, 2, images}, ""},
  };
  std::string checked;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.failure);
    const int saved = pdf.SaveToFile(out, [&](const std::string& temporary) {
      checked = temporary;
      return CheckSavedPdf(temporary, row.expected);
    });
    EXPECT_EQ(pdf.SaveCheckFailure(), row.failure);
    EXPECT_FALSE(std::filesystem::exists(checked));
    if (!row.failure.empty()) {
      EXPECT_EQ(saved, 0);
      EXPECT_EQ(ReadFile(out), "old contents");
    } else {
      EXPECT_EQ(saved, 1);
      EXPECT_TRUE(QpdfClean(out, "--password=s3cret"));
    }
  }
  EXPECT_EQ(ImageList(out, "-upw s3cret").size(), 6u);  // a JPEG and five strips
}

struct ProtectedCase {
  const char* Name;
  const char* QpdfArgs;  // --encrypt arguments
  const char* Password;  // given to the job; empty: appended without a password
  const char* ReadPassword;
};

class VelloxProtectedAppendTest : public VelloxAssemblyTest, public ::testing::WithParamInterface<ProtectedCase> {};

TEST_P(VelloxProtectedAppendTest, AppendsToAProtectedFile) {
  const ProtectedCase& c = GetParam();
  TPDFDocument doc;
  BuildTextDocument(doc, 3);
  ASSERT_TRUE(SaveDocument(doc, dir_.File("plain.pdf")));
  const std::string out = dir_.File("protected.pdf");
  const CommandResult made = RunCommand(std::string("qpdf --allow-weak-crypto --encrypt ") + c.QpdfArgs + " -- '" +
                                        dir_.File("plain.pdf") + "' '" + out + "'");
  ASSERT_EQ(made.status, 0) << made.output;

  Assemble(out, pages_, {.Password = c.Password, .ExistingPassword = c.Password, .Append = true});
  const std::string pw = std::string("--password=") + c.ReadPassword;
  std::string check;
  EXPECT_TRUE(QpdfClean(out, pw, &check)) << check;
  EXPECT_EQ(PageCount(out, pw), "5");
  const std::string upw = std::string("-upw '") + c.ReadPassword + "'";
  EXPECT_NE(Text(out, upw).find("Page 3 of lumipage"), std::string::npos);
  EXPECT_EQ(ImageList(out, upw).size(), 2u);
  EXPECT_EQ(PageSize(out, 5, upw), "595.44 x 841.68");
}

INSTANTIATE_TEST_SUITE_P(
    Files, VelloxProtectedAppendTest,
    ::testing::Values(ProtectedCase{"rc4_40", "user owner 40", "user", "user"},
                      ProtectedCase{"rc4_128", "user owner 128 --use-aes=n", "owner", "owner"},
                      // Opens on load; appended without a password it stays protected, and
                      // the new objects are encrypted with the others.
                      ProtectedCase{"empty_user", "'' owner 128 --use-aes=n", "", ""}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace lumipage
