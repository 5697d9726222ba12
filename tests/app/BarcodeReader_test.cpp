// Barcodes on separator sheets: symbols drawn by zint, pasted onto drawn A4 sides in every
// orientation, turned, faint, small and large, and photographs of barcodes from another project;
// a decoder that aborts, hangs or floods its socket costs the page its reading, never the job.
#include "app/BarcodeReader.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <memory>
#include <string>

#include "imaging/BitmapGraphic.h"
#include "app/JobSettings.h"
#include "imaging/JpegGraphic.h"
#include "platform/Interrupt.h"
#include "tests/support/BarcodeSheets.h"
#include "tests/support/DrawnPages.h"
#include "tests/support/RunCommand.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

using namespace lumipage;
using namespace lumipage::testing;
using TStatus = TBarcodeRead::TStatus;

// Twenty separator sheets: each symbology in every orientation, turned by up to 10 degrees
// either way, at 200 and 300 dpi, faint, small and large. Their linear codes are tall, as on
// real separator sheets, which is what made the library's own search for several codes abort.
TEST(BarcodeReader, ReadsEverySeparatorSheet) {
  for (const TSheet& sheet : SeparatorSheets()) {
    SCOPED_TRACE(::testing::PrintToString(sheet));
    const TBarcodeRead read = ReadBarcodes(*SeparatorSheet(sheet));
    EXPECT_EQ(read.Status, TStatus::Read) << read.Error;
    EXPECT_EQ(read.Texts, std::vector<std::string>{sheet.Text});
  }
}

// At 150 dpi a module of 1.5 mm or more is wider than the blocks the module's search for matrix
// symbols works in, so such a symbol falls apart into its finder patterns and pieces of data;
// the pieces are read together, and the symbol once.
TEST(BarcodeReader, ReadsSheetsScannedAt150Dpi) {
  const TSheet sheets[] = {
      {"QRCODE", "PATCHT", 2.0, 150, 0, 0, false, false},
      {"QRCODE", "ORDER-4711", 1.5, 150, 1, 4, false, true},
      {"QRCODE", "PATCHT", 0.5, 150, 2, 0, false, false},
      {"DATAMATRIX", "PATCHT", 2.0, 150, 0, 0, false, false},
      {"DATAMATRIX", "PATCHT", 0.6, 150, 3, -5, false, false},
  };
  for (const TSheet& sheet : sheets) {
    SCOPED_TRACE(::testing::PrintToString(sheet));
    const TBarcodeRead read = ReadBarcodes(*SeparatorSheet(sheet));
    EXPECT_EQ(read.Status, TStatus::Read) << read.Error;
    EXPECT_EQ(read.Texts, std::vector<std::string>{sheet.Text});
  }
}

// Every code on a page is given, and the resolution passed in beats the page's own.
TEST(BarcodeReader, GivesEveryCodeOnThePage) {
  auto page = Side(300, TSideMark::TextPage);
  Paste(*page, *DrawSymbol("CODE39", "INV-77", 4), page->Width() / 2, page->Height() / 6, 0, 0);
  Paste(*page, *DrawSymbol("QRCODE", "PATCHT", 6), page->Width() / 4, page->Height() * 5 / 6, 0, 0);
  page->SetDpiX(72);
  page->SetDpiY(72);
  TBarcodeRead read = ReadBarcodes(*page, 300);
  ASSERT_EQ(read.Status, TStatus::Read) << read.Error;
  std::sort(read.Texts.begin(), read.Texts.end());
  EXPECT_EQ(read.Texts, (std::vector<std::string>{"INV-77", "PATCHT"}));
}

TEST(BarcodeReader, PagesWithoutCodesGiveNoCode) {
  for (auto [mark, dpi] : {std::pair{TSideMark::None, 200}, std::pair{TSideMark::TextPage, 300},
                           std::pair{TSideMark::Drawing, 200}, std::pair{TSideMark::Photo, 300}}) {
    const TBarcodeRead read = ReadBarcodes(*Side(dpi, mark));
    EXPECT_EQ(read.Status, TStatus::NoCode) << static_cast<int>(mark) << " " << dpi << " " << read.Error;
    EXPECT_TRUE(read.Texts.empty());
  }
}

// Photographs of barcodes taken by others, with the texts their project expects.
TEST(BarcodeReader, ReadsPublicBarcodePhotographs) {
  const std::string folder = std::string(LUMIPAGE_TEST_DATA) + "/separators/";
  for (const char* name : {"code39-3_01", "code39-3_07", "code128-2_17", "code128-2_31", "qrcode-1_7", "qrcode-1_13",
                           "datamatrix-2_04", "datamatrix-2_16"}) {
    SCOPED_TRACE(name);
    TJpegGraphic photo;
    photo.LoadFromFile(folder + "zxing-" + name + ".jpg");
    std::ifstream file(folder + "zxing-" + name + ".txt", std::ios::binary);
    const std::string expected((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const TBarcodeRead read = ReadBarcodes(photo);
    EXPECT_EQ(read.Status, TStatus::Read) << read.Error;
    EXPECT_EQ(read.Texts, std::vector<std::string>{expected});
  }
}

// Odd symbols: read or not, each page gets an answer and the job goes on.
TEST(BarcodeReader, OddSymbolsNeitherCrashNorHang) {
  const std::string longText(4000, 'K');
  std::string binary("\x00\x01\xFFPATCHT\x00\x80", 10);
  auto qrPage = [](const std::string& text, int modulePx, const std::string& options = "") {
    auto page = Side(300);
    Paste(*page, *DrawSymbol("QRCODE", text, modulePx, options), page->Width() / 2, page->Height() / 2, 0, 0);
    return page;
  };
  {
    SCOPED_TRACE("4,000 characters");
    const TBarcodeRead read = ReadBarcodes(*qrPage(longText, 6));
    EXPECT_EQ(read.Status, TStatus::Read) << read.Error;
    EXPECT_EQ(read.Texts, std::vector<std::string>{longText});
  }
  {
    SCOPED_TRACE("binary data");
    const TBarcodeRead read = ReadBarcodes(*qrPage(binary, 8, "--binary"));
    EXPECT_EQ(read.Status, TStatus::Read) << read.Error;
    EXPECT_EQ(read.Texts, std::vector<std::string>{binary});
  }
  {
    SCOPED_TRACE("damaged");
    auto page = qrPage("PATCHT-DAMAGED-SYMBOL", 8);
    // A wide white band through the middle of the symbol, beyond what its error correction mends.
    for (int y = page->Height() / 2 - 40; y < page->Height() / 2 + 40; ++y)
      for (int x = 0; x < page->Width(); ++x) page->SetRgbPixel(x, y, 0xFFFFFF);
    const TBarcodeRead read = ReadBarcodes(*page);
    EXPECT_NE(read.Status, TStatus::Failed) << read.Error;
  }
  {
    SCOPED_TRACE("one huge barcode");
    auto page = Side(300);
    const auto symbol = DrawSymbol("CODE128", "PATCHT", 20, "--height=400");
    Paste(*page, *symbol, page->Width() / 2, page->Height() / 2, 1, 0);
    const TBarcodeRead read = ReadBarcodes(*page);
    EXPECT_NE(read.Status, TStatus::Failed) << read.Error;
    if (read.Status == TStatus::Read) {
      EXPECT_EQ(read.Texts, std::vector<std::string>{"PATCHT"});
    }
  }
  {
    SCOPED_TRACE("tiny and empty pages");
    for (auto [w, h] : {std::pair{1, 1}, std::pair{3, 2000}}) {
      TBitmapGraphic tiny;
      tiny.NewImage(w, h, ikBlackWhite, nullptr, 300, 300);
      EXPECT_EQ(ReadBarcodes(tiny).Status, TStatus::NoCode);
    }
  }
}

// A decoder that aborts, hangs or sends without end: the page is Failed with its reason, the
// child is ended and reaped, and the next page is read by a new one.
TEST(BarcodeReader, DecoderFaultsFailThePageAlone) {
  auto page = Side(200);
  Paste(*page, *DrawSymbol("CODE128", "PATCHT", 4), page->Width() / 2, page->Height() / 3, 0, 0);
  const struct {
    const char* Fault;
    const char* Error;
  } faults[] = {{"abort", "crashed (SIGABRT)"}, {"hang", "did not finish within 300 ms"}, {"flood", "KB of text"}};
  for (const auto& f : faults) {
    SCOPED_TRACE(f.Fault);
    // The child reads the fault at its start: a fresh one for each.
    StopBarcodeReader();
    {
      ScopedEnv fault("LUMIPAGE_TEST_BARCODE_CHILD", f.Fault);
      const TBarcodeRead read = ReadBarcodes(*page, 0, std::chrono::milliseconds(300));
      EXPECT_EQ(read.Status, TStatus::Failed);
      EXPECT_NE(read.Error.find(f.Error), std::string::npos) << read.Error;
      EXPECT_TRUE(read.Texts.empty());
    }
    int status;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1) << "a child was left";
    const TBarcodeRead again = ReadBarcodes(*page);
    EXPECT_EQ(again.Status, TStatus::Read) << again.Error;
  }
}

// An interruption of the job while the decoder is busy ends the wait at once.
TEST(BarcodeReader, InterruptionEndsTheWait) {
  auto page = Side(200);
  StopBarcodeReader();
  ScopedEnv fault("LUMIPAGE_TEST_BARCODE_CHILD", "hang");
  platform::RequestInterrupt();
  EXPECT_THROW((void)ReadBarcodes(*page, 0, std::chrono::seconds(60)), platform::EJobInterrupted);
  platform::ClearInterrupt();
  int status;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1) << "a child was left";
}

TEST(BarcodeReader, MissingLibraryNamesThePackage) {
  EXPECT_EQ(BarcodeModuleLoadFailure("libZXing.so.1: cannot open shared object file: No such file or directory"),
            "Barcode reading needs zxing-cpp: install the package libzxing2 (libZXing.so.1: cannot open shared object "
            "file: No such file or directory)");
}

// The program itself does not link the library: jobs without separator sheets run without it,
// and a job that needs it is told which file is missing.
TEST(BarcodeReader, LibraryIsLoadedOnlyWhenNeeded) {
  const CommandResult ldd = RunCommand(std::string("ldd ") + LUMIPAGE_BUILD_DIR + "/lumipage");
  ASSERT_EQ(ldd.status, 0) << ldd.output;
  EXPECT_EQ(ldd.output.find("ZXing"), std::string::npos) << ldd.output;

  // In a fresh process, whose module is not loaded yet.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir empty("nomodule");
  EXPECT_EXIT(
      {
        ::setenv("LUMIPAGE_SYSTEM_DIR", empty.Path().c_str(), 1);
        TBitmapGraphic page;
        page.NewImage(100, 100, ikGray256, nullptr, 200, 200);
        const TBarcodeRead read = ReadBarcodes(page);
        bool told = false;
        try {
          RequireBarcodeReader();
        } catch (const EJobError& e) {
          told = std::string(e.what()) == read.Error;
        }
        std::_Exit(read.Status == TStatus::Failed && read.Error.find("liblumipage_barcode.so is missing") !=
                                                         std::string::npos && told
                       ? 0
                       : 1);
      },
      ::testing::ExitedWithCode(0), "");
}
