// The content writer: number text and how the page's existing content is taken up.
#include "pdf/PDFPainter.h"

#include <gtest/gtest.h>

namespace lumipage {
namespace {

struct NumberCase {
  double Value;
  int Precision;
  const char* Text;
};

class PainterNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(PainterNumberTest, CutsAfterThePrecision) {
  TPDFPainter painter;
  painter.SetPrecision(GetParam().Precision);
  painter.AppendNumber(GetParam().Value);
  EXPECT_EQ(painter.Text(), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, PainterNumberTest,
    ::testing::Values(NumberCase{612, 4, "612 "}, NumberCase{595.2755905511812, 4, "595.2755 "},
                      NumberCase{2.99999, 4, "2.9999 "},              // cut, not rounded
                      NumberCase{0.1 + 0.2, 4, "0.3 "},               // 15 significant digits first
                      NumberCase{611.9999999999999, 4, "612 "},       // which absorbs a last-place error
                      NumberCase{-0.5, 4, "-0.5 "}, NumberCase{-0.00001, 4, "0 "},
                      NumberCase{6.123233995736766e-17, 4, "0 "},     // cos 90 degrees
                      NumberCase{1e16, 4, "0 "},                      // would need an exponent
                      NumberCase{1.23456789, 2, "1.23 "}, NumberCase{1.23456789, 8, "1.23456789 "}));

TEST(PainterTest, ExistingContentIsTakenUpOnFirstUseOnly) {
  TPDFPainter painter;
  int loads = 0;
  std::string stored;
  painter.OnStore = [&](const std::string& text) { stored = text; };
  painter.Bind([&] {
    ++loads;
    return std::string("0 0 m");
  });
  EXPECT_EQ(loads, 0);
  painter.AppendLine("q");
  painter.AppendLine("Q");
  painter.Store();
  EXPECT_EQ(loads, 1);
  EXPECT_EQ(stored, "0 0 m q\nQ\n");  // a space keeps the old last token apart

  painter.Bind([] { return std::string(); });
  painter.AppendLine("q");
  EXPECT_EQ(painter.Text(), "q\n");
  painter.Bind([] { return std::string("Q "); });
  EXPECT_EQ(painter.Text(), "Q ");
  painter.Reset();
  EXPECT_EQ(painter.Text(), "");
}

}  // namespace
}  // namespace lumipage
