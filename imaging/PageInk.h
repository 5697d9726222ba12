#pragma once
// The ink on a page: how much darker than the paper around it each spot of the page is, at a
// reduced resolution of about 150 dpi. Paper colour, shading, a tint and scanner noise are taken
// out here, so that the judges of blank pages and of skew look at marks alone.
#include <cstdint>
#include <vector>

#include "imaging/DibGraphic.h"

namespace lumipage {

// Pages with more pixels are not analysed (kept as they are): well beyond A3 at 600 dpi.
constexpr std::uint64_t kMaxAnalysedPixels = 100'000'000;
// Resolution the page is reduced to for analysis, in dots per inch (roughly).
constexpr int kAnalysisDpi = 150;

// What a colour page is measured by. The darkest channel makes a coloured mark on white paper
// as dark as its strongest colour and keeps tinted paper light; on strongly coloured paper (or a
// page filled with saturated colour) it is dark everywhere, and brightness (luma) is where black
// marks and bands of other colours stand out.
enum class TInkChannel { Darkest, Luma };

// Paper whose darkest channel lies below this level is strongly coloured: no sheet of ordinary
// paper, white, tinted or grey, is that dark in all of its channels.
constexpr int kDarkPaperLevel = 128;

struct TPageInk {
  std::int32_t Width = 0;   // samples; 0: the page was not analysed (too small or too large)
  std::int32_t Height = 0;
  double Dpi = 0;           // of the samples
  std::int32_t Factor = 1;  // page pixels per sample along each axis
  // Typical difference of neighbouring samples on plain paper (scanner noise and texture).
  int Noise = 0;
  // The paper's level (in the measure taken, 0 to 255), the median over the page.
  int PaperLevel = 255;
  TInkChannel Channel = TInkChannel::Darkest;  // what was measured
  // Per sample, rows from the top: the paper's level there minus the sample's, 0 when lighter.
  std::vector<std::uint8_t> Darkness;
  // Per sample: the measure taken of the page, averaged over the sample's pixels.
  std::vector<std::uint8_t> Level;

  [[nodiscard]] bool Analysed() const { return Width > 0; }
  [[nodiscard]] std::uint8_t DarknessAt(std::int32_t x, std::int32_t y) const {
    return Darkness[static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) + static_cast<std::size_t>(x)];
  }
  // Millimetres as a number of samples.
  [[nodiscard]] double Samples(double mm) const { return mm * Dpi / 25.4; }
};

// Measures the ink of a page scanned at dpi (0: the page's own resolution, else 200). A page
// too small to say anything about or too large to analyse in time gives an empty result.
// Checks for an interruption of the job every few hundred rows. A coarser analysisDpi serves
// marks much larger than a letter's stroke, at a fraction of the cost.
[[nodiscard]] TPageInk MeasureInk(const TDibGraphic& page, std::uint16_t dpi = 0,
                                  TInkChannel channel = TInkChannel::Darkest, int analysisDpi = kAnalysisDpi);

// Whether the page's pixels carry colour (true colour or a colour palette), not only grey.
[[nodiscard]] bool HasColour(const TDibGraphic& page);

// What a page is best measured by: the darkest channel, unless a quick look at a few thousand
// pixels finds colour paper that is dark in it.
[[nodiscard]] TInkChannel InkChannelFor(const TDibGraphic& page);

// The colour of the page's paper as 0x00RRGGBB, averaged over samples without ink; for a
// page not analysed, the colour of its first pixel.
[[nodiscard]] std::uint32_t PaperColor(const TDibGraphic& page, const TPageInk& ink);

}  // namespace lumipage
