// Scanning to PDF end to end through the job with scripted pages; independent readers check the files.
#include "app/PdfAssembly.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "../support/TempDir.h"
#include "app/FrmScan.h"
#include "tests/support/ScriptedScanner.h"
#include "platform/IniFile.h"
#include "tests/support/RunCommand.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

std::string Capture(const std::string& cmd) { return RunCommand(cmd).output; }

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class PdfJob : public ::testing::Test {
 protected:
  void Run(std::vector<std::string> args, std::vector<TScriptedPage> pages) {
    TJobEnvironment env;
    env.CommandLine = TCommandLine(std::move(args));
    env.ExeFolder = exe.Folder();
    env.TerminalPath = "/nonexistent/tty";
    env.CreateScanner = [pages] {
      auto s = std::make_unique<TScriptedScanner>();
      s->Pages = pages;
      return s;
    };
    form = std::make_unique<TFrmScan>(std::move(env));
    form->Run();
  }
  std::string Report(const std::string& section, const std::string& key) {
    return platform::GetPrivateProfileString(section, key, "<none>", exe / "lp_done.dat");
  }
  std::string Check(const std::string& pdf, const std::string& password = "") {
    return Capture("qpdf --check " + (password.empty() ? "" : "--password=" + password + " ") + "'" + pdf + "'");
  }
  std::string Info(const std::string& pdf, const std::string& password = "") {
    return Capture("pdfinfo " + (password.empty() ? "" : "-upw " + password + " ") + "'" + pdf + "'");
  }

  TempDir exe;
  std::unique_ptr<TFrmScan> form;
  const TScriptedPage kPage{1654, 2338, 24, 200, 200};
  const TScriptedPage kSmall{170, 220, 24, 20, 20};
};

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
                                              " to pages-unsaved-002.jpg");
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
                      ProtectedCase{"empty_user_password", "'' owner 128 --use-aes=n", "", true}),
    [](const auto& i) { return std::string(i.param.name); });

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
                                            out / "doc-unsaved-002.jpg" + " to doc-unsaved-003.jpg");
  EXPECT_EQ(ReadText(pdf), "this is not a PDF");
  EXPECT_EQ(ReadText(out / "doc-unsaved-001.jpg"), "an earlier job's page");
  EXPECT_EQ(form->PageTable()[2].PageFile, out / "doc-unsaved-003.jpg");
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

}  // namespace
