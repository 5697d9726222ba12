#include "imaging/Font.h"

#include <cmath>

namespace lumipage {

namespace {
constexpr int kLogPixelsY = 96;  // the platform's logical resolution for point sizes
}

std::int32_t TFont::Size() const {
  return -static_cast<std::int32_t>(std::lround(static_cast<double>(Height) * 72 / kLogPixelsY));
}

void TFont::SetSize(std::int32_t points) {
  Height = -static_cast<std::int32_t>(std::lround(static_cast<double>(points) * kLogPixelsY / 72));
}

}  // namespace lumipage
