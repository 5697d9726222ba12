// Multi-image streams: a test format holding a count byte and then that many BMP files.
#include <gtest/gtest.h>

#include <filesystem>

#include "imaging/BitmapGraphic.h"
#include "imaging/JpegGraphic.h"
#include "imaging/MemoryStream.h"

namespace lumipage {
namespace {

class TStackGraphic final : public TBitmapGraphic {
 public:
  const char* ClassName() const override { return "TStackGraphic"; }
  std::unique_ptr<TDibGraphic> CreateSame() const override { return std::make_unique<TStackGraphic>(); }
  int GetImageCount(TStream& stream) override {
    std::uint8_t n = 0;
    stream.ReadBuffer(&n, 1);
    return n;
  }
  void LoadImage(TStream& stream, int n) override {
    stream.Seek(1, TSeekOrigin::soCurrent);
    for (int k = 1; k < n; ++k) {
      std::uint8_t header[6];
      stream.ReadBuffer(header, 6);
      const std::uint32_t size = header[2] | (header[3] << 8) | (header[4] << 16) | (static_cast<std::uint32_t>(header[5]) << 24);
      stream.Seek(static_cast<std::int64_t>(size) - 6, TSeekOrigin::soCurrent);
    }
    TBitmapGraphic::LoadImage(stream, n);
  }
};

void Stack(TMemoryStream& s, int count) {
  const auto n = static_cast<std::uint8_t>(count);
  s.WriteBuffer(&n, 1);
  for (int k = 1; k <= count; ++k) {
    TBitmapGraphic page;
    page.NewImage(k, 2, ikTrueColor, nullptr, 0, 0);
    page.FillColor(static_cast<std::uint32_t>(k) * 0x111111u);
    page.SaveToStream(s);
  }
  s.SetPosition(0);
}

TEST(Frames, MultiFrameLoadsEveryImageAndSelectsThem) {
  TMemoryStream s;
  Stack(s, 3);
  TStackGraphic image;
  image.MultiFrame = true;
  image.LoadFromStream(s);
  EXPECT_EQ(image.FrameCount(), 3);
  EXPECT_EQ(image.CurrentFrame(), 1);
  EXPECT_EQ(image.Width(), 1);
  image.SelectFrame(3);
  EXPECT_EQ(image.Width(), 3);
  EXPECT_EQ(image.GetRgbPixel(2, 1), 0x333333u);
  EXPECT_EQ(image.CurrentFrame(), 3);
  try {
    image.SelectFrame(4);
    FAIL();
  } catch (const EOvinexError& e) {
    EXPECT_STREQ(e.what(), "Frame 4 does not exist");
  }
  EXPECT_THROW(image.SelectFrame(0), EOvinexError);
}

TEST(Frames, FrameIndexPicksOneImageAndASingleImageSwitchesMultiFrameOff) {
  TMemoryStream s;
  Stack(s, 3);
  TStackGraphic image;
  image.FrameIndex = 2;
  image.LoadFromStream(s);
  EXPECT_EQ(image.Width(), 2);
  EXPECT_EQ(image.FrameCount(), 0);

  TMemoryStream one;
  Stack(one, 1);
  TStackGraphic single;
  single.MultiFrame = true;
  single.LoadFromStream(one);
  EXPECT_FALSE(single.MultiFrame);
  EXPECT_EQ(single.Width(), 1);
}

TEST(SaveToFile, AFailedSaveLeavesNoFileBehind) {
  const std::string name = ::testing::TempDir() + "/lumipage_failed.jpg";
  TJpegGraphic jpeg;
  jpeg.NewImage(4, 4, ikBlackWhite, nullptr, 0, 0);
  EXPECT_THROW(jpeg.SaveToFile(name), EJpegError);
  EXPECT_FALSE(std::filesystem::exists(name));
}

}  // namespace
}  // namespace lumipage
