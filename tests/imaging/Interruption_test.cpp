// A caller's time-out ends the long steps of a huge page within a few hundred of its rows: each
// step below is interrupted once a tenth of it is done, and must stop soon after, raising the
// job's interruption instead of finishing the page. (TIFF encoding: TiffGraphic_test.)
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "imaging/Canvas.h"
#include "imaging/CropTransform.h"
#include "imaging/ImageFormatTransform.h"
#include "imaging/JpegGraphic.h"
#include "imaging/MemoryStream.h"
#include "platform/Interrupt.h"

namespace lumipage {
namespace {

constexpr std::int32_t kWidth = 64;
constexpr std::int32_t kHeight = 4000;

struct InterruptAfterATenth {
  InterruptAfterATenth() { platform::ClearInterrupt(); }
  ~InterruptAfterATenth() { platform::ClearInterrupt(); }
  // The callback of the step's progress: requests the interruption at 10 % and notes how far
  // the step came.
  TProgressEvent Callback() {
    return [this](const void*, std::uint8_t percent) {
      last = percent;
      if (percent >= 10 && requestedAt < 0) {
        requestedAt = percent;
        platform::RequestInterrupt();
      }
    };
  }
  int last = -1;
  int requestedAt = -1;  // a step may start its count above 10 %
};

void Page(TDibGraphic& page) {
  page.NewImage(kWidth, kHeight, ikTrueColor, nullptr, 300, 300);
  page.FillColor(0x808080);
}

struct Step {
  const char* name;
  std::function<void(const TProgressEvent&)> run;
};

void PrintTo(const Step& s, std::ostream* os) { *os << s.name; }

class LongStep : public ::testing::TestWithParam<Step> {};

TEST_P(LongStep, StopsSoonAfterTheRequest) {
  InterruptAfterATenth watch;
  EXPECT_THROW(GetParam().run(watch.Callback()), platform::EJobInterrupted);
  ASSERT_GE(watch.requestedAt, 10);
  EXPECT_LE(watch.last - watch.requestedAt, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, LongStep,
    ::testing::Values(
        Step{"crop",
             [](const TProgressEvent& progress) {
               TDibGraphic page;
               Page(page);
               TCropTransform crop;
               crop.CropMode = cmRectangle;
               crop.Right = kWidth - 1;
               crop.Bottom = kHeight - 1;
               crop.ProgressCallback = progress;
               crop.Apply(page);
             }},
        Step{"dithering_to_black_and_white",
             [](const TProgressEvent& progress) {
               TDibGraphic page, mono;
               Page(page);
               TImageFormatTransform t;
               t.TargetKind = ikBlackWhite;
               t.DitherEnabled = true;
               t.ProgressCallback = progress;
               t.ApplyOnDest(page, mono);
             }},
        Step{"jpeg_encoding",
             [](const TProgressEvent& progress) {
               TJpegGraphic jpeg;
               Page(jpeg);
               jpeg.ProgressCallback = progress;
               TMemoryStream out;
               jpeg.SaveToStream(out);
             }},
        Step{"jpeg_encoding_on_two_threads",
             [](const TProgressEvent& progress) {
               TJpegGraphic jpeg;
               Page(jpeg);
               jpeg.Threads = TJpegGraphic::TThreads::Two;
               jpeg.ProgressCallback = progress;
               TMemoryStream out;
               jpeg.SaveToStream(out);
             }}),
    [](const ::testing::TestParamInfo<Step>& info) { return std::string(info.param.name); });

// A conversion without dithering reports no progress; it looks at the request on its own.
TEST(LongStep, ConversionWithoutProgressStopsToo) {
  InterruptAfterATenth watch;
  TDibGraphic page, grey;
  Page(page);
  platform::RequestInterrupt();
  TImageFormatTransform t;
  t.TargetKind = ikGray256;
  EXPECT_THROW(t.ApplyOnDest(page, grey), platform::EJobInterrupted);
}

// The caption of a huge page: its glyphs are hundreds of rows high.
TEST(LongStep, CaptionStopsToo) {
  InterruptAfterATenth watch;
  TDibGraphic page;
  page.NewImage(4000, 4000, ikTrueColor, nullptr, 300, 300);
  TCanvas& canvas = page.Canvas();
  canvas.Font().Name = "Arial";
  canvas.Font().Height = 1000;
  platform::RequestInterrupt();
  EXPECT_THROW(canvas.TextOut(0, 0, "BANNER"), platform::EJobInterrupted);
}

// Without a request every step runs to its end: the checks cost a job nothing else.
TEST(LongStep, WithoutARequestTheStepFinishes) {
  platform::ClearInterrupt();
  TJpegGraphic jpeg;
  Page(jpeg);
  TMemoryStream out;
  EXPECT_NO_THROW(jpeg.SaveToStream(out));
  EXPECT_GT(out.Size(), 0);
}

}  // namespace
}  // namespace lumipage
