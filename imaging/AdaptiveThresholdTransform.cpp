// Adaptive threshold to black and white (J. Sauvola, M. Pietikainen, "Adaptive document image
// binarization", Pattern Recognition 33, 2000), on a grid of cells for speed.
#include "imaging/AdaptiveThresholdTransform.h"

#include <algorithm>
#include <cmath>

#include "imaging/Errors.h"

namespace lumipage {

namespace {

// Sauvola's dynamic range of the standard deviation for 8-bit grey.
constexpr double kDeviationRange = 128;
// The neighbourhood is this many cells across; a cell's threshold comes from the cells around
// it, and pixels between cell centres take thresholds interpolated between them.
constexpr int kCellsAcross = 7;
constexpr int kCellReach = kCellsAcross / 2;
// Resolution assumed when the image states none.
constexpr double kDefaultDpi = 96;
// Weights of the interpolation, in 1/256.
constexpr int kWeightOne = 256;

int Luminance(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  // ITU-R BT.601 weights in 1/256.
  return static_cast<int>((77 * r + 150 * g + 29 * b + 128) >> 8);
}

// Sums of grey levels and of their squares over one cell.
struct Cell {
  std::uint64_t Sum = 0;
  std::uint64_t Squares = 0;
  std::uint64_t Count = 0;
};

// The cells' sums as prefix sums over the grid: any block of cells sums in four lookups.
class CellTable {
 public:
  CellTable(const std::vector<Cell>& cells, int columns, int rows)
      : columns_(columns), table_(static_cast<size_t>(columns + 1) * static_cast<size_t>(rows + 1)) {
    for (int y = 0; y < rows; ++y) {
      for (int x = 0; x < columns; ++x) {
        const Cell& c = cells[static_cast<size_t>(y) * static_cast<size_t>(columns) + static_cast<size_t>(x)];
        Cell& t = At(x + 1, y + 1);
        const Cell &up = At(x + 1, y), &left = At(x, y + 1), &diagonal = At(x, y);
        t.Sum = c.Sum + up.Sum + left.Sum - diagonal.Sum;
        t.Squares = c.Squares + up.Squares + left.Squares - diagonal.Squares;
        t.Count = c.Count + up.Count + left.Count - diagonal.Count;
      }
    }
  }

  // Cells x0 <= x < x1, y0 <= y < y1.
  [[nodiscard]] Cell Block(int x0, int y0, int x1, int y1) const {
    const Cell &a = At(x1, y1), &b = At(x0, y1), &c = At(x1, y0), &d = At(x0, y0);
    return {a.Sum - b.Sum - c.Sum + d.Sum, a.Squares - b.Squares - c.Squares + d.Squares,
            a.Count - b.Count - c.Count + d.Count};
  }

 private:
  [[nodiscard]] Cell& At(int x, int y) { return table_[static_cast<size_t>(y) * static_cast<size_t>(columns_ + 1) + static_cast<size_t>(x)]; }
  [[nodiscard]] const Cell& At(int x, int y) const {
    return table_[static_cast<size_t>(y) * static_cast<size_t>(columns_ + 1) + static_cast<size_t>(x)];
  }

  int columns_;
  std::vector<Cell> table_;
};

// Where a pixel lies between two cell centres: the first cell and the second's weight.
struct Between {
  int First = 0;
  int Weight = 0;
};

std::vector<Between> Interpolation(int pixels, int cell, int cells) {
  std::vector<Between> out(static_cast<size_t>(pixels));
  for (int p = 0; p < pixels; ++p) {
    const double at = (p + 0.5) / cell - 0.5;
    Between& b = out[static_cast<size_t>(p)];
    if (at <= 0) {
      b = {0, 0};
    } else if (at >= cells - 1) {
      b = {cells - 1, 0};
    } else {
      b.First = static_cast<int>(at);
      b.Weight = static_cast<int>(std::lround((at - b.First) * kWeightOne));
    }
  }
  return out;
}

}  // namespace

int SauvolaThreshold(double mean, double deviation, double k) {
  return static_cast<int>(std::lround(mean * (1 + k * (deviation / kDeviationRange - 1))));
}

std::vector<std::uint8_t> TAdaptiveThresholdTransform::GreyLevels(const TDibGraphic& source) {
  const std::int32_t width = source.Width(), height = source.Height();
  std::vector<std::uint8_t> grey(static_cast<size_t>(width) * static_cast<size_t>(height));
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint8_t* out = grey.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
    const std::uint8_t* in = source.RowBits(y);
    if (source.ImageKind() == ikTrueColor) {
      // Memory holds blue, green, red.
      for (std::int32_t x = 0; x < width; ++x, in += 3)
        out[x] = static_cast<std::uint8_t>(Luminance(in[2], in[1], in[0]));
    } else {
      for (std::int32_t x = 0; x < width; ++x) {
        const std::uint32_t c = source.GetRgbPixel(x, y);
        out[x] = static_cast<std::uint8_t>(Luminance(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
      }
    }
  }
  return grey;
}

void TAdaptiveThresholdTransform::ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) {
  if (source.Empty()) throw EOvinexError("The source image is empty");
  if (&source == &dest) throw EOvinexError("Source and destination must be different images");
  ResetProgress();
  const std::int32_t width = source.Width(), height = source.Height();
  const std::vector<std::uint8_t> grey = GreyLevels(source);

  const double dpi = source.DpiX() > 0 ? source.DpiX() : kDefaultDpi;
  const int cell = std::max(2, static_cast<int>(std::lround(WindowInches * dpi / kCellsAcross)));
  const int columns = (width + cell - 1) / cell, rows = (height + cell - 1) / cell;
  std::vector<Cell> cells(static_cast<size_t>(columns) * static_cast<size_t>(rows));
  // Progress: the cells are the first half of the work, the pixels the second. Reporting it is
  // where a caller's time-out ends the step.
  const std::int64_t steps = 2 * static_cast<std::int64_t>(height);
  for (std::int32_t y = 0; y < height; ++y) {
    Progress(y, 0, steps);
    const std::uint8_t* row = grey.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
    Cell* line = cells.data() + static_cast<size_t>(y / cell) * static_cast<size_t>(columns);
    for (int cx = 0; cx < columns; ++cx) {
      const int x0 = cx * cell, x1 = std::min(width, x0 + cell);
      std::uint32_t sum = 0, squares = 0;
      for (int x = x0; x < x1; ++x) {
        sum += row[x];
        squares += static_cast<std::uint32_t>(row[x]) * row[x];
      }
      line[cx].Sum += sum;
      line[cx].Squares += squares;
      line[cx].Count += static_cast<std::uint64_t>(x1 - x0);
    }
  }

  // Each cell's threshold from the neighbourhood of cells around it, in 1/256 of a grey level.
  const CellTable table(cells, columns, rows);
  std::vector<int> thresholds(cells.size());
  for (int cy = 0; cy < rows; ++cy) {
    for (int cx = 0; cx < columns; ++cx) {
      const Cell c = table.Block(std::max(0, cx - kCellReach), std::max(0, cy - kCellReach),
                                 std::min(columns, cx + kCellReach + 1), std::min(rows, cy + kCellReach + 1));
      const auto n = static_cast<double>(c.Count);
      const double mean = static_cast<double>(c.Sum) / n;
      const double variance = std::max(0.0, static_cast<double>(c.Squares) / n - mean * mean);
      const int t = std::max(SauvolaThreshold(mean, std::sqrt(variance), Sensitivity), kAlwaysBlackLevel + 1);
      thresholds[static_cast<size_t>(cy) * static_cast<size_t>(columns) + static_cast<size_t>(cx)] = t * kWeightOne;
    }
  }

  dest.NewImageForOverwrite(width, height, ikBlackWhite, nullptr, source.DpiX(), source.DpiY());
  const std::vector<Between> across = Interpolation(width, cell, columns);
  const std::vector<Between> down = Interpolation(height, cell, rows);
  std::vector<int> rowThresholds(static_cast<size_t>(columns) + 1);
  for (std::int32_t y = 0; y < height; ++y) {
    Progress(height + y, 0, steps);
    const Between d = down[static_cast<size_t>(y)];
    const int* upper = thresholds.data() + static_cast<size_t>(d.First) * static_cast<size_t>(columns);
    const int* lower = upper + (d.First + 1 < rows ? columns : 0);
    for (int cx = 0; cx < columns; ++cx)
      rowThresholds[static_cast<size_t>(cx)] = (upper[cx] * (kWeightOne - d.Weight) + lower[cx] * d.Weight) / kWeightOne;
    rowThresholds[static_cast<size_t>(columns)] = rowThresholds[static_cast<size_t>(columns) - 1];

    const std::uint8_t* in = grey.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
    std::uint8_t* out = dest.RowBits(y);
    std::fill(out, out + (width + 7) / 8, std::uint8_t{0});
    for (std::int32_t x = 0; x < width; ++x) {
      const Between a = across[static_cast<size_t>(x)];
      const int t = rowThresholds[static_cast<size_t>(a.First)] * (kWeightOne - a.Weight) +
                    rowThresholds[static_cast<size_t>(a.First) + 1] * a.Weight;
      // Palette entry 1 is white.
      if (in[x] * kWeightOne * kWeightOne >= t) out[x >> 3] |= static_cast<std::uint8_t>(0x80u >> (x & 7));
    }
  }
  Progress(steps, 0, steps);
}

}  // namespace lumipage
