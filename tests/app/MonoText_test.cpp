// MonoText pages: a text page at 300 dpi stays small in Group 4, and recognition reads at least
// as many of its words as on the colour page it came from.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/OcrModule.h"
#include "imaging/AdaptiveThresholdTransform.h"
#include "imaging/BitmapGraphic.h"
#include "imaging/Canvas.h"
#include "imaging/MemoryStream.h"
#include "imaging/TiffGraphic.h"
#include "tests/support/ProgramTest.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TempDir.h"

using namespace lumipage;

namespace {

constexpr const char* kWords[] = {"statement", "balance", "account", "payment", "invoice", "total",
                                  "period",    "reference", "amount", "customer", "delivery", "office"};

// A scanned-looking text page: noisy paper that darkens towards the spine (left), 31 lines of
// 11-point text at one and a half line spacing (about 400 words), every fourth line in faint
// grey pencil. The words drawn, in order.
std::vector<std::string> DrawTextPage(TBitmapGraphic& page, int width, int height) {
  page.NewImage(width, height, ikTrueColor, nullptr, 300, 300);
  std::mt19937 rng(7);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = page.RowBits(y);
    for (int x = 0; x < width; ++x) {
      const int shade = 236 - 50 * std::max(0, 400 - x) / 400 + static_cast<int>(rng() % 12);
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = static_cast<std::uint8_t>(std::min(shade, 255));
    }
  }
  std::vector<std::string> drawn;
  TCanvas& c = page.Canvas();
  c.Brush().Style = bsClear;
  c.Font().Name = "Liberation Sans";
  c.Font().Height = 46;  // about 11 points
  int line = 0;
  for (int y = 250; y + 95 < height - 250; y += 95, ++line) {
    c.Font().Color = line % 4 == 3 ? 0xA8A8A8 : 0x181818;
    std::string text;
    while (c.TextWidth(text) < width - 600) {
      const std::string w = kWords[rng() % std::size(kWords)];
      text += w + " ";
      drawn.push_back(w);
    }
    c.TextOut(250, y, text);
  }
  return drawn;
}

TEST(MonoText, A4TextPageStoresInAtMost60KBAsGroup4) {
  TBitmapGraphic page;
  (void)DrawTextPage(page, 2480, 3508);
  TTiffGraphic tiff;
  TAdaptiveThresholdTransform().ApplyOnDest(page, tiff);
  tiff.SetCompression(tcGroup4);
  TMemoryStream stream;
  tiff.SaveToStream(stream);
  EXPECT_LE(stream.Size(), 60 * 1024);
}

TGreyPage GreyOf(const TDibGraphic& image) {
  TGreyPage grey;
  grey.Width = image.Width();
  grey.Height = image.Height();
  grey.Dpi = image.DpiX();
  grey.Pixels.reserve(static_cast<size_t>(grey.Width) * static_cast<size_t>(grey.Height));
  for (int y = 0; y < grey.Height; ++y)
    for (int x = 0; x < grey.Width; ++x) grey.Pixels.push_back(static_cast<unsigned char>(image.GetRgbPixel(x, y) & 0xFF));
  return grey;
}

// How many of the drawn words recognition finds (each drawn word counted once).
int WordsFound(const TOcrModule& module, LumiOcrEngine& engine, const TDibGraphic& image,
               const std::vector<std::string>& drawn) {
  std::vector<TOcrWord> words;
  EXPECT_EQ(module.Recognise(engine, GreyOf(image), 60000, nullptr, words), LUMI_OCR_OK);
  std::map<std::string, int> left;
  for (const std::string& w : drawn) ++left[w];
  int found = 0;
  for (const TOcrWord& w : words)
    if (auto it = left.find(w.Text); it != left.end() && it->second > 0) {
      --it->second;
      ++found;
    }
  return found;
}

TEST(MonoText, RecognitionReadsAtLeastAsManyWordsAsOnTheColourPage) {
  const std::string folder = std::string(LUMIPAGE_BUILD_DIR) + "/";
  if (!lumipage::testing::Exists(folder + kOcrModuleFileName)) GTEST_SKIP() << "the text recognition module was not built";
  const auto module = TOcrModule::Load(folder);
  auto engine = module->Open("eng", false);
  TBitmapGraphic page;
  const std::vector<std::string> drawn = DrawTextPage(page, 2480, 800);
  TBitmapGraphic mono;
  TAdaptiveThresholdTransform().ApplyOnDest(page, mono);
  const int colour = WordsFound(*module, *engine, page, drawn);
  const int text = WordsFound(*module, *engine, mono, drawn);
  EXPECT_GE(text, colour) << "of " << drawn.size() << " words";
  EXPECT_GE(text, static_cast<int>(drawn.size()) * 9 / 10);
}

// A MonoText job's text layer is recognised on the page as stored: the faint pencil line that
// the threshold keeps is searchable too.
class MonoTextJob : public lumipage::testing::ProgramTest {};

TEST_F(MonoTextJob, TextLayerHoldsTheFaintLineTheThresholdKept) {
  const std::string module = std::string(LUMIPAGE_BUILD_DIR) + "/" + kOcrModuleFileName;
  if (!lumipage::testing::Exists(module)) GTEST_SKIP() << "the text recognition module was not built";
  std::filesystem::copy_file(module, sys / kOcrModuleFileName);
  lumipage::testing::TempDir pages{"pages"};
  TBitmapGraphic page;
  page.NewImage(1400, 420, ikTrueColor, nullptr, 300, 300);
  page.FillColor(0xC8D0D4);  // grey recycled paper
  {
    TCanvas& c = page.Canvas();
    c.Brush().Style = bsClear;
    c.Font().Name = "Liberation Sans";
    c.Font().Height = 50;
    c.Font().Color = 0x181818;
    c.TextOut(80, 80, "Delivery address and invoice");
    c.Font().Color = 0x989898;  // pencil
    c.TextOut(80, 240, "monthly quantity summary");
  }
  page.SaveToFile(pages / "page.bmp");
  lumipage::testing::WriteText(sys / "twain_32.ini", "[Sources]\nCount=1\n[Source1]\nPageFolder=" + pages / "" + "\n");
  const std::string pdf = exe / "text.pdf";
  ASSERT_TRUE(Scans("pdf Mono MonoText OCR eng filename '" + pdf + "'", 1));
  const std::string text = lumipage::testing::RunCommand("pdftotext '" + pdf + "' -").output;
  EXPECT_NE(text.find("Delivery address and invoice"), std::string::npos) << text;
  EXPECT_NE(text.find("monthly quantity summary"), std::string::npos) << text;
}

}  // namespace
