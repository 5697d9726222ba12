#pragma once
// A read-only view of a four-number array as a rectangle with ordered edges.
#include "pdf/PDFArray.h"
#include "pdf/PDFNumeric.h"

namespace lumipage {

class TPDFRectangle {
 public:
  explicit TPDFRectangle(const TPDFArray* array);

  [[nodiscard]] bool Valid() const { return valid_; }
  [[nodiscard]] double Left() const { return valid_ ? left_->Value : 0; }
  [[nodiscard]] double Bottom() const { return valid_ ? bottom_->Value : 0; }
  [[nodiscard]] double Right() const { return valid_ ? right_->Value : 0; }
  [[nodiscard]] double Top() const { return valid_ ? top_->Value : 0; }
  [[nodiscard]] double Width() const { return Right() - Left(); }
  [[nodiscard]] double Height() const { return Top() - Bottom(); }
  // 0 left, 1 top, 2 width, 3 height, 4 right, 5 bottom; any other code 0.
  [[nodiscard]] double Edge(int code) const;

 private:
  bool valid_ = false;
  const TPDFNumeric* left_ = nullptr;
  const TPDFNumeric* bottom_ = nullptr;
  const TPDFNumeric* right_ = nullptr;
  const TPDFNumeric* top_ = nullptr;
};

}  // namespace lumipage
