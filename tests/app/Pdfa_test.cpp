// PDF/A-1b jobs through the real program and source manager. Apache PDFBox Preflight (Debian's
// libpdfbox2-java) judges every file in one run of the JVM; qpdf and poppler must still read them.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <sstream>

#include "app/OcrModule.h"
#include "imaging/BitmapGraphic.h"
#include "imaging/Canvas.h"
#include "pdf/PDFArchive.h"
#include "pdf/PDFArray.h"
#include "pdf/PDFDictionary.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFDocumentSecurity.h"
#include "pdf/PDFSecurity.h"
#include "pdf/PDFStream.h"
#include "pdf/PDFWriter.h"
#include "tests/support/ProgramTest.h"
#include "tests/support/RunCommand.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

constexpr const char* kPreflightJars[] = {"preflight", "pdfbox2", "fontbox2", "xmpbox", "commons-logging",
                                          "javax.activation", "jaxb-api"};

// Preflight's verdict on every PDF of a folder, by file name: empty for a valid PDF/A-1b file,
// else its errors. One JVM start for the whole folder ("batch" mode).
std::map<std::string, std::string> Preflight(const std::string& folder) {
  std::string classPath;
  for (const char* jar : kPreflightJars) classPath += (classPath.empty() ? "" : ":") + std::string("/usr/share/java/") + jar + ".jar";
  // Standard error carries the libraries' warnings (fontbox on our font's empty character
  // map, which a CID-keyed font does not use); it is shown only when no verdict came.
  const std::string errors = folder.substr(0, folder.size() - 1) + ".preflight-errors";
  const std::string output = RunCommand("java -cp '" + classPath + "' org.apache.pdfbox.preflight.Validator_A1b batch '" +
                                        folder + "' 2>'" + errors + "'",
                                        false)
                                 .output;
  std::map<std::string, std::string> verdicts;
  static const std::regex header(R"(The file (\S+) is (a valid|not a valid) PDF/A-1b file.*)");
  std::string current;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_match(line, m, header)) {
      current = m[1];
      verdicts[current] = m[2] == "a valid" ? "" : "invalid:";
    } else if (!current.empty() && !line.empty()) {
      verdicts[current] += "\n" + line;
    }
  }
  if (verdicts.empty()) verdicts["<output>"] = output + ReadText(errors);  // the JVM or the class path failed
  std::filesystem::remove(errors);
  return verdicts;
}

bool JavaPresent() { return RunCommand("command -v java >/dev/null 2>&1").status == 0; }

// A page of text lines in Liberation Sans at 300 dpi, black on slightly shaded paper.
std::unique_ptr<TBitmapGraphic> TextPage(bool upsideDown) {
  auto page = std::make_unique<TBitmapGraphic>();
  page->NewImage(1240, 900, ikTrueColor, nullptr, 300, 300);
  page->FillColor(0xE8F0F0);
  {
    TCanvas canvas(*page);
    canvas.Font().Name = "Liberation Sans";
    canvas.Font().Height = 64;
    canvas.Font().Color = clBlack;
    canvas.Brush().Style = bsClear;
    const char* lines[] = {"Minutes of the records office", "Archival scans stay readable",
                           "Invoice total due in March", "Quick brown foxes jump high"};
    int top = 100;
    for (const char* line : lines) {
      canvas.TextOut(100, top, line);
      top += 170;
    }
  }
  if (!upsideDown) return page;
  auto turned = std::make_unique<TBitmapGraphic>();
  turned->NewImage(page->Width(), page->Height(), ikTrueColor, nullptr, 300, 300);
  for (int y = 0; y < page->Height(); ++y)
    for (int x = 0; x < page->Width(); ++x)
      turned->SetRgbPixel(page->Width() - 1 - x, page->Height() - 1 - y, page->GetRgbPixel(x, y));
  return turned;
}

class PdfaJob : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    WriteText(sys / "twain_32.ini", "[Sources]\nCount=2\n[Source1]\nPages=2\n[Source2]\nName=Text\nPageFolder=" +
                                        pages / "" + "\n");
  }

  // A PDF/A-1b file of another producer: Ghostscript's pdfwrite with the output intent that its
  // PDFA_def.ps sets up, the profile from icc-profiles-free.
  std::string GhostscriptPdfa(const std::string& name) {
    WriteText(work / "def.ps",
              "[ /Title (Minutes of the meeting) /DOCINFO pdfmark\n"
              "[/_objdef {icc_PDFA} /type /stream /OBJ pdfmark\n"
              "[{icc_PDFA} << /N 3 >> /PUT pdfmark\n"
              "[{icc_PDFA} (/usr/share/color/icc/sRGB.icc) (r) file /PUT pdfmark\n"
              "[/_objdef {OutputIntent_PDFA} /type /dict /OBJ pdfmark\n"
              "[{OutputIntent_PDFA} << /Type /OutputIntent /S /GTS_PDFA1 /DestOutputProfile {icc_PDFA}\n"
              "  /OutputConditionIdentifier (sRGB) >> /PUT pdfmark\n"
              "[{Catalog} << /OutputIntents [ {OutputIntent_PDFA} ] >> /PUT pdfmark\n");
    WriteText(work / "in.ps",
              "%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto (Minutes of the meeting) show\n"
              "0.2 0.4 0.8 setrgbcolor 72 600 200 50 rectfill showpage\n");
    const std::string file = work / name;
    // A zone other than UTC, from the clock: Preflight 2.0 reads Ghostscript's UTC dates
    // ("Z00'00'") as another zone than the metadata's "Z", and so refuses its own input.
    const CommandResult r = RunCommand(
        "env -u SOURCE_DATE_EPOCH TZ=Europe/Berlin gs -q -dPDFA=1 -dBATCH -dNOPAUSE -dNOOUTERSAVE -sColorConversionStrategy=RGB "
        "-sDEVICE=pdfwrite -dPDFACompatibilityPolicy=1 --permit-file-read=/usr/share/color/icc/sRGB.icc -o '" +
        file + "' '" + work / "def.ps" + "' '" + work / "in.ps" + "' 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    return file;
  }

  TempDir pages{"pages"};
  TempDir out{"out"};
  TempDir work{"work"};
};

// Every kind of page a job writes, new and appended, passes Preflight with no error and reads
// cleanly in qpdf and poppler.
TEST_F(PdfaJob, PreflightAcceptsEveryKindOfPage) {
  if (!JavaPresent()) GTEST_SKIP() << "no Java runtime (default-jre-headless) to run PDFBox Preflight";
  const std::string module = std::string(LUMIPAGE_BUILD_DIR) + "/" + kOcrModuleFileName;
  const bool ocr = Exists(module);
  if (ocr) std::filesystem::copy_file(module, sys / kOcrModuleFileName);
  TextPage(false)->SaveToFile(pages / "a.bmp");
  TextPage(true)->SaveToFile(pages / "b.bmp");

  struct Job {
    const char* file;
    std::string args;
    int pages;
  };
  std::vector<Job> jobs = {
      {"colour.pdf", "pdf PDFA Resolution 100", 2},
      {"mono.pdf", "pdf PDFA Mono Resolution 100", 2},
      {"monotext.pdf", "pdf PDFA Mono MonoText Scanner Text", 2},
  };
  if (ocr) {
    // Recognised pages, the upside-down one turned.
    jobs.push_back({"ocr.pdf", "pdf PDFA OCR eng AutoRotate Scanner Text", 2});
    jobs.push_back({"ocrmono.pdf", "pdf PDFA Mono MonoText OCR eng Scanner Text", 2});
  }
  // Ghostscript's PDF/A-1b file with two pages appended, as a PDF/A job and as a plain job: a
  // file that claims PDF/A keeps its claim true.
  std::filesystem::copy_file(GhostscriptPdfa("gs.pdf"), out / "appended.pdf");
  std::filesystem::copy_file(work / "gs.pdf", out / "appended-plain.pdf");
  jobs.push_back({"appended.pdf", "pdf PDFA Append Resolution 100", 2});
  jobs.push_back({"appended-plain.pdf", "pdf Append Mono Resolution 100", 2});
  // Public PDF/A-1b files that Preflight accepts: a scanner's output through another PDF
  // producer (no output intent: it has no device colour) and a Ghostscript file.
  for (const char* file : {"pdfjs-issue5747.pdf", "pypdf-ghostscript-pdfa.pdf"}) {
    std::filesystem::copy_file(std::string(LUMIPAGE_PDF_CORPUS) + "/" + file, out / file);
    jobs.push_back({file, "pdf PDFA Append Resolution 100", 2});
  }

  for (const Job& job : jobs) {
    SCOPED_TRACE(job.file);
    EXPECT_TRUE(Scans(job.args + " filename '" + out / job.file + "'", job.pages));
    if (std::string(job.file) == "ocr.pdf") {
      EXPECT_EQ(Report("Scan", "Rotated"), "2");  // the second page was upside down
    }
  }
  std::filesystem::copy_file(work / "gs.pdf", out / "gs.pdf");  // the other producer's own file, for reference

  const std::map<std::string, std::string> verdicts = Preflight(out / "");
  EXPECT_EQ(verdicts.count("<output>"), 0u) << verdicts.at("<output>");
  for (const Job& job : jobs) {
    SCOPED_TRACE(job.file);
    const auto v = verdicts.find(job.file);
    ASSERT_NE(v, verdicts.end()) << "Preflight said nothing of it";
    EXPECT_EQ(v->second, "");
    const CommandResult check = RunCommand("qpdf --check '" + out / job.file + "' 2>&1");
    EXPECT_EQ(check.status, 0) << check.output;
    const CommandResult text = RunCommand("pdftotext '" + out / job.file + "' - 2>&1");
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.output.find("Syntax Error"), std::string::npos) << text.output;
    if (std::string(job.file) == "ocr.pdf") {
      EXPECT_NE(text.output.find("records office"), std::string::npos) << text.output;
    }
  }
  EXPECT_EQ(verdicts.at("gs.pdf"), "");
}

// PDF/A files our engine makes and then spoils, each in one way a job must not paper over.
std::string SpoiltPdfa(const std::string& how) {
  TPDFDocument doc;
  (void)doc.NewDocument();
  (void)MakePdfa(doc);
  TPDFStructure& s = doc.Structure();
  if (how == "metadata") {
    auto* metadata = As<TPDFStream>(doc.Catalog()->Get("Metadata", true));
    metadata->SetRawData(metadata->RawData().substr(0, 200));  // cut off inside the packet
  } else if (how == "intent") {
    auto* intents = As<TPDFArray>(doc.Catalog()->Get("OutputIntents", true));
    As<TPDFDictionary>(As<TPDFIndRef>(intents->Item(0))->Resolve())->Remove("DestOutputProfile");
  } else if (how == "protected") {
    (void)TPDFDocumentSecurity(doc).Encrypt("owner", "", 1, TPDFSecurity::Permissions(1, 1, 1, 1, 1, 1, 1, 1));
  } else if (how == "cmyk") {
    auto* intents = As<TPDFArray>(doc.Catalog()->Get("OutputIntents", true));
    auto* intent = As<TPDFDictionary>(As<TPDFIndRef>(intents->Item(0))->Resolve());
    std::string profile(SrgbProfile());
    profile.replace(16, 4, "CMYK");
    TPDFStream* stream = s.MakeStream("");
    stream->SetData(profile, true);
    stream->Dictionary()->Put("N", s.MakeNumber(4));
    intent->Put("DestOutputProfile", doc.MakeIndirect(stream));
  }
  return SaveToString(doc);
}

// A job that could only write a file that is not PDF/A is refused before scanning; the file it
// would have appended to stays byte for byte.
TEST_F(PdfaJob, RefusedBeforeScanningAndTheFileIsLeftAsItWas) {
  struct Case {
    const char* name;
    const char* existing;  // how the existing file is made; nullptr: none
    const char* args;
    const char* message;   // after "<file>" where the message names it
  };
  const Case cases[] = {
      {"password", nullptr, "pdf PDFA PDFPassword secret",
       "A PDF/A file cannot be protected with a password: PDFA and PDFPassword exclude each other"},
      {"not PDF/A", "plain", "pdf PDFA Append", ": it is not a PDF/A-1b file"},
      {"broken metadata", "metadata", "pdf PDFA Append", ": its metadata cannot be read"},
      {"intent without profile", "intent", "pdf PDFA Append", ": its output intent has no colour profile"},
      {"claims PDF/A, protected", "protected", "pdf PDFA Append", ": it is protected with a password, which PDF/A does not allow"},
      {"CMYK intent, colour pages", "cmyk", "pdf PDFA Append", ": its output intent is not for RGB colour"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = out / "doc.pdf";
    std::filesystem::remove(file);
    std::string before;
    if (c.existing != nullptr) {
      if (std::string(c.existing) == "plain") {
        TPDFDocument doc;
        (void)doc.NewDocument();
        before = SaveToString(doc);
      } else {
        before = SpoiltPdfa(c.existing);
      }
      WriteText(file, before);
    }
    EXPECT_EQ(Run(std::string(c.args) + " Resolution 50 filename '" + file + "'"), 0);
    const std::string expected = c.existing == nullptr
                                     ? std::string(c.message)
                                     : "Unable to append to PDF file " + file + " as PDF/A-1b" + c.message;
    EXPECT_EQ(Report("Error", "Message"), expected);
    EXPECT_EQ(Report("Scan", "Pages"), "0");
    if (c.existing == nullptr) EXPECT_FALSE(Exists(file));
    else EXPECT_EQ(ReadText(file), before);
    EXPECT_FALSE(Exists(exe / "page001.jpg"));
  }
  // Black-and-white pages need no RGB output intent: they may go into the CMYK file.
  WriteText(out / "doc.pdf", SpoiltPdfa("cmyk"));
  EXPECT_TRUE(Scans("pdf PDFA Append Mono Resolution 50 filename '" + out / "doc.pdf" + "'", 2));
}

}  // namespace
