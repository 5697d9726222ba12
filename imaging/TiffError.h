#pragma once

#include <string>

#include "imaging/Errors.h"

namespace lumipage {

// Failure of the TIFF library as seen by the TIFF file class. The message is the class name,
// one space and the failing call (for example "ETiffError TIFFOpen"), so a report that only
// carries the text still tells a TIFF failure from the image library's own checks.
class ETiffError : public Exception {
 public:
  explicit ETiffError(const std::string& text);

  // The text without the "ETiffError " prefix.
  [[nodiscard]] const std::string& Text() const noexcept { return text_; }

 private:
  std::string text_;
};

}  // namespace lumipage
