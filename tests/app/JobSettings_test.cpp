#include "app/JobSettings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "../support/TempDir.h"

using namespace lumipage;
using namespace lumipage::testing;

namespace {

TJobSettings load(const TempDir& dir, std::vector<std::string> args, const std::string& ini = "") {
  if (!ini.empty()) WriteText(dir / "lumipage.ini", ini);
  TCommandLine cmd(std::move(args));
  return TJobSettingsReader(cmd, dir.Folder()).LoadJobSettings();
}

TEST(JobSettings, DefaultsWithoutFileOrArguments) {
  TempDir dir;
  TJobSettings s = load(dir, {});
  EXPECT_EQ(s.OutputFormat, ofJpeg);
  EXPECT_EQ(s.Extension, ".jpg");
  EXPECT_EQ(s.Resolution, 200);
  EXPECT_EQ(s.Indicator, 1);
  EXPECT_EQ(s.JpgQuality, 85);
  EXPECT_EQ(s.PaperMode, pmNone);
  EXPECT_EQ(s.ProdName, "Orrinwell Lumipage");
  EXPECT_TRUE(s.FileName.empty());
  EXPECT_FALSE(s.Mono || s.ScanMono || s.Append || s.NoScan || s.Help);
  EXPECT_FALSE(Exists(dir / "lumipage.ini"));  // nothing is written by reading
}

struct FormatCase {
  const char* name;
  std::vector<std::string> args;
  const char* ini;
  int format;
  const char* extension;
};

class OutputFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(OutputFormat, KeysThenSwitchesLastWins) {
  TempDir dir;
  TJobSettings s = load(dir, GetParam().args, GetParam().ini);
  EXPECT_EQ(s.OutputFormat, GetParam().format);
  EXPECT_EQ(s.Extension, GetParam().extension);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutputFormat,
    ::testing::Values(
        FormatCase{"switch_beats_key", {"pdf"}, "[Scan]\nbmp=1\n", ofPdf, ".jpg"},
        FormatCase{"jpg_beats_pdf", {"pdf", "jpg"}, "", ofJpeg, ".jpg"},
        FormatCase{"bmp_beats_all_keys", {}, "[Scan]\npdf=1\nbmp=1\ntif=1\n", ofBmp, ".bmp"},
        FormatCase{"pdf_mono_is_tif", {"PDF", "mono"}, "", ofPdf, ".tif"},
        FormatCase{"multi_tif", {"multi_tif"}, "", ofMultiTiff, ".tif"},
        FormatCase{"tif", {"Tif"}, "", ofTiff, ".tif"},
        FormatCase{"prefix_is_no_switch", {"-pdf", "/pdf", "pdfx"}, "", ofJpeg, ".jpg"},
        FormatCase{"key_false_value", {}, "[Scan]\npdf=0\ntif=yes\n", ofJpeg, ".jpg"},
        FormatCase{"key_hex_true", {}, "[Scan]\ntif=0x1\n", ofTiff, ".tif"},
        FormatCase{"value_doubles_as_switch", {"filename", "pdf"}, "", ofPdf, ".jpg"}),
    [](const auto& i) { return std::string(i.param.name); });

TEST(JobSettings, PaperModeKeysThenSwitches) {
  TempDir dir;
  EXPECT_EQ(load(dir, {"A4", "Letter"}).PaperMode, pmLetter);
  EXPECT_EQ(load(dir, {"bank", "a4"}).PaperMode, pmBank);
  EXPECT_EQ(load(dir, {"A4"}, "[Scan]\nBank=1\n").PaperMode, pmA4);
  EXPECT_EQ(load(dir, {}, "[Scan]\nA4=1\nLetter=1\n").PaperMode, pmLetter);
}

struct IntCase {
  const char* name;
  std::vector<std::string> args;
  const char* ini;
  int resolution;
};

class Integers : public ::testing::TestWithParam<IntCase> {};

TEST_P(Integers, ResolutionFromFileAndCommandLine) {
  TempDir dir;
  EXPECT_EQ(load(dir, GetParam().args, GetParam().ini).Resolution, GetParam().resolution);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Integers,
    ::testing::Values(IntCase{"last_value_wins", {"Resolution", "150", "resolution", "300"}, "", 300},
                      IntCase{"malformed_keeps_file", {"Resolution", "abc"}, "[Scan]\nResolution=600\n", 600},
                      IntCase{"malformed_keeps_default", {"Resolution", "12x"}, "", 200},
                      IntCase{"dollar_hex_argument", {"Resolution", "$12C"}, "", 300},
                      IntCase{"c_hex_not_on_command_line", {"Resolution", "0x12C"}, "", 200},
                      IntCase{"c_hex_in_file", {}, "[Scan]\nResolution=0x12C\n", 300},
                      IntCase{"bad_file_value_gives_default", {}, "[Scan]\nResolution=high\n", 200},
                      IntCase{"overflow_is_malformed", {"Resolution", "99999999999"}, "", 200},
                      IntCase{"negative", {"Resolution", "-5"}, "", -5},
                      IntCase{"last_argument_has_no_value", {"Resolution"}, "[Scan]\nResolution=75\n", 75}),
    [](const auto& i) { return std::string(i.param.name); });

TEST(JobSettings, ParseIntegerEdges) {
  EXPECT_EQ(ParseInteger("$FFFFFFFF", false), -1);
  EXPECT_EQ(ParseInteger("2147483647", false), 2147483647);
  EXPECT_EQ(ParseInteger("-2147483648", false), INT32_MIN);
  EXPECT_FALSE(ParseInteger("2147483648", false));
  EXPECT_FALSE(ParseInteger("$", false));
  EXPECT_FALSE(ParseInteger("", false));
  EXPECT_FALSE(ParseInteger("$100000000", false));
  EXPECT_FALSE(ParseInteger(" 5", false));
}

TEST(JobSettings, TextsCommandLineFirstThenFile) {
  TempDir dir;
  TJobSettings s = load(dir, {"Scanner", "Mono", "prodname", "Acme Scan"},
                        "[Scan]\nScanner=2\nProdName=From File\nScanArea=1,2,3,4\nPDFPassword=\"secret\"\n");
  EXPECT_EQ(s.Scanner, "Mono");
  EXPECT_TRUE(s.Mono);  // the value of a pair is also a switch
  EXPECT_EQ(s.ProdName, "Acme Scan");
  EXPECT_EQ(s.ScanArea, "1,2,3,4");
  EXPECT_EQ(s.PDFPassword, "secret");
}

TEST(JobSettings, PdfEncryptionFromFileAndCommandLine) {
  TempDir dir;
  EXPECT_EQ(load(dir, {}).PDFEncryption, peRC4);
  EXPECT_EQ(load(dir, {"PDFEncryption", "aes256"}).PDFEncryption, peAES256);
  EXPECT_EQ(load(dir, {}, "[Scan]\nPDFEncryption=AES256\n").PDFEncryption, peAES256);
  EXPECT_EQ(load(dir, {"PDFEncryption", "Rc4"}).PDFEncryption, peRC4);  // the command line beats the file
  // A malformed value keeps the file's value, or the default.
  EXPECT_EQ(load(dir, {"PDFEncryption", "AES"}).PDFEncryption, peAES256);
  EXPECT_EQ(load(dir, {"PDFEncryption", "AES-256"}, "[Scan]\nPDFEncryption=DES\n").PDFEncryption, peRC4);
}

TEST(JobSettings, RecognitionFromFileAndCommandLine) {
  TempDir dir;
  TJobSettings off = load(dir, {});
  EXPECT_EQ(off.OcrLanguages, "");
  EXPECT_FALSE(off.AutoRotate);
  EXPECT_EQ(load(dir, {"ocr", "eng+deu"}).OcrLanguages, "eng+deu");
  TJobSettings file = load(dir, {}, "[Scan]\nOCR=deu\nAutoRotate=1\n");
  EXPECT_EQ(file.OcrLanguages, "deu");
  EXPECT_TRUE(file.AutoRotate);
  EXPECT_EQ(load(dir, {"OCR", "fra"}, "[Scan]\nOCR=deu\n").OcrLanguages, "fra");  // the command line beats the file
  EXPECT_TRUE(load(dir, {"autorotate"}).AutoRotate);
}

TEST(JobSettings, CleaningFromFileAndCommandLine) {
  TempDir dir;
  TJobSettings off = load(dir, {});
  EXPECT_FALSE(off.SkipBlank);
  EXPECT_FALSE(off.Deskew);
  TJobSettings file = load(dir, {}, "[Scan]\nSkipBlank=1\nDeskew=$1\n");
  EXPECT_TRUE(file.SkipBlank);
  EXPECT_TRUE(file.Deskew);
  TJobSettings switches = load(dir, {"skipblank", "DESKEW"}, "[Scan]\nSkipBlank=0\n");
  EXPECT_TRUE(switches.SkipBlank);
  EXPECT_TRUE(switches.Deskew);
}

TEST(JobSettings, ArchivalAndTextSwitchesFromFileAndCommandLine) {
  TempDir dir;
  TJobSettings off = load(dir, {});
  EXPECT_FALSE(off.PDFA);
  EXPECT_FALSE(off.MonoText);
  TJobSettings file = load(dir, {}, "[Scan]\nPDFA=1\nMonoText=1\n");
  EXPECT_TRUE(file.PDFA);
  EXPECT_TRUE(file.MonoText);
  TJobSettings cmd = load(dir, {"pdfa", "MONOTEXT"});
  EXPECT_TRUE(cmd.PDFA);
  EXPECT_TRUE(cmd.MonoText);
}

TEST(JobSettings, FlagsOnlyTurnOn) {
  TempDir dir;
  TJobSettings s = load(dir, {"append", "NOSCAN"}, "[Scan]\nDuplex=1\nFilm=0\n");
  EXPECT_TRUE(s.Append);
  EXPECT_TRUE(s.NoScan);
  EXPECT_TRUE(s.Duplex);
  EXPECT_FALSE(s.Film);
}

TEST(JobSettings, FileNameNormalisation) {
  TempDir dir;
  EXPECT_EQ(load(dir, {"filename", "report.jpg"}).FileName, dir.Folder() + "report.jpg");
  std::string deep = dir / "a/b/c/out.pdf";
  EXPECT_EQ(load(dir, {"filename", deep}).FileName, deep);
  EXPECT_TRUE(Exists(dir / "a/b/c"));
  WriteText(dir / "plainfile", "x");
  // A folder that cannot exist keeps the name: the job refuses it instead of using default names.
  TJobSettings s = load(dir, {"filename", dir / "plainfile/sub/out.pdf"});
  EXPECT_EQ(s.FileName, dir / "plainfile/sub/out.pdf");
  EXPECT_TRUE(FileNameFolderMissing(s));
  EXPECT_FALSE(FileNameFolderMissing(load(dir, {"filename", deep})));
}

TEST(JobSettings, ReadOnlySettingsFileIsReadButNotWritable) {
  TempDir dir;
  WriteText(dir / "lumipage.ini", "[Scan]\ntif=1\n");
  ::chmod((dir / "lumipage.ini").c_str(), 0444);
  TCommandLine cmd{std::vector<std::string>{}};
  TJobSettingsReader reader(cmd, dir.Folder());
  EXPECT_EQ(reader.LoadJobSettings().OutputFormat, ofTiff);
  EXPECT_FALSE(reader.SettingsFileWritable());
  ::chmod((dir / "lumipage.ini").c_str(), 0644);
  EXPECT_TRUE(reader.SettingsFileWritable());
  TempDir empty;
  EXPECT_FALSE(TJobSettingsReader(cmd, empty.Folder()).SettingsFileWritable());  // never created
}

TEST(JobSettings, GarbageSettingsFileGivesDefaults) {
  TempDir dir;
  std::string garbage(1 << 20, '\xff');
  garbage[100] = '\n';
  garbage[5000] = '=';
  TJobSettings s = load(dir, {}, garbage + "\n[Scan]\nResolution=99999999999999\nIndicator=\n");
  EXPECT_EQ(s.Resolution, 200);
  EXPECT_EQ(s.Indicator, 1);
  EXPECT_EQ(s.OutputFormat, ofJpeg);
}

}  // namespace

namespace {

struct WaitCase {
  const char* name;
  std::vector<std::string> args;
  const char* ini;
  int waitForPaper;
  int retryBusy;
  int lockWait = 60;
};

class UnattendedWaits : public ::testing::TestWithParam<WaitCase> {};

// Seconds from the file or the command line, cut to 0..3600; a malformed value keeps the file's.
TEST_P(UnattendedWaits, AreReadAndKeptWithinLimits) {
  TempDir dir;
  TJobSettings s = load(dir, GetParam().args, GetParam().ini);
  EXPECT_EQ(s.WaitForPaper, GetParam().waitForPaper);
  EXPECT_EQ(s.RetryBusy, GetParam().retryBusy);
  EXPECT_EQ(s.LockWait, GetParam().lockWait);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnattendedWaits,
    ::testing::Values(WaitCase{"defaults", {}, "", 0, 0},
                      WaitCase{"keys", {}, "[Scan]\nWaitForPaper=30\nRetryBusy=$10\n", 30, 16},
                      WaitCase{"pairs_beat_keys", {"waitforpaper", "5", "RETRYBUSY", "7"}, "[Scan]\nWaitForPaper=30\n", 5, 7},
                      WaitCase{"negative", {"WaitForPaper", "-5", "RetryBusy", "-1"}, "", 0, 0},
                      WaitCase{"absurd", {"WaitForPaper", "99999999"}, "[Scan]\nRetryBusy=0x7FFFFFFF\n", 3600, 3600},
                      WaitCase{"malformed", {"WaitForPaper", "soon"}, "[Scan]\nWaitForPaper=12\nRetryBusy=x\n", 12, 0},
                      // Values that wrap into 32 bits or beyond still mean the longest wait.
                      WaitCase{"all_ones", {"WaitForPaper", "$FFFFFFFF", "RetryBusy", "4294967295", "LockWait", "$FFFFFFFF"}, "", 3600, 3600, 3600},
                      WaitCase{"beyond_64_bits", {"WaitForPaper", "99999999999999999999999", "LockWait", "99999999999"}, "", 3600, 0, 3600},
                      WaitCase{"file_all_ones", {}, "[Scan]\nWaitForPaper=0xFFFFFFFF\nRetryBusy=$FFFFFFFF\nLockWait=0xFFFFFFFF\n", 3600, 3600, 3600},
                      WaitCase{"very_negative", {"LockWait", "-99999999999", "RetryBusy", "-$FFFFFFFF"}, "", 0, 0, 0}),
    [](const auto& i) { return std::string(i.param.name); });

}  // namespace

TEST(JobSettings, SeparatorFromFileAndCommandLine) {
  TempDir dir;
  TJobSettings off = load(dir, {});
  EXPECT_EQ(off.Separator, TSeparator::None);
  EXPECT_EQ(off.SeparatorText, "PATCHT");
  EXPECT_EQ(off.SeparatorName, TSeparatorName::Number);
  TJobSettings file = load(dir, {}, "[Scan]\nSeparator=Barcode\nSeparatorText=NEXT DOC\nSeparatorName=barcode\n");
  EXPECT_EQ(file.Separator, TSeparator::Barcode);
  EXPECT_EQ(file.SeparatorText, "NEXT DOC");
  EXPECT_EQ(file.SeparatorName, TSeparatorName::Barcode);
  TJobSettings command = load(dir, {"Separator", "BLANK", "SeparatorText", "X1"}, "[Scan]\nSeparator=patch\n");
  EXPECT_EQ(command.Separator, TSeparator::Blank);
  EXPECT_EQ(command.SeparatorText, "X1");
  // An empty text is no barcode: the default stands.
  EXPECT_EQ(load(dir, {}, "[Scan]\nSeparatorText=\n").SeparatorText, "PATCHT");
}

TEST(JobSettings, SeparatorWordsOtherThanTheirOwnAreRefused) {
  TempDir dir;
  const struct {
    std::vector<std::string> args;
    std::string ini, message;
  } rows[] = {
      {{"Separator", "barcod"}, "", "Invalid Separator \"barcod\" (patch, barcode, blank or empty)"},
      {{}, "[Scan]\nSeparator=1\n", "Invalid Separator \"1\" (patch, barcode, blank or empty)"},
      {{"SeparatorName", "number"}, "", "Invalid SeparatorName \"number\" (barcode or empty)"},
      {{"SeparatorText", "a\nb"}, "", "Invalid SeparatorText \"a\\nb\": it holds a line break"},
  };
  for (const auto& row : rows) {
    try {
      (void)load(dir, row.args, row.ini);
      ADD_FAILURE() << row.message;
    } catch (const EJobError& e) {
      EXPECT_EQ(std::string(e.what()), row.message);
    }
    std::remove((dir / "lumipage.ini").c_str());
  }
}
