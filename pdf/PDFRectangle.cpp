#include "pdf/PDFRectangle.h"

#include <utility>

namespace lumipage {

TPDFRectangle::TPDFRectangle(const TPDFArray* array) {
  if (array == nullptr || array->Count() != 4) return;
  const TPDFNumeric* n[4];
  for (int i = 0; i < 4; ++i) {
    n[i] = As<TPDFNumeric>(array->Item(i));
    if (n[i] == nullptr) return;
  }
  left_ = n[0];
  bottom_ = n[1];
  right_ = n[2];
  top_ = n[3];
  if (right_->Value < left_->Value) std::swap(left_, right_);
  if (top_->Value < bottom_->Value) std::swap(bottom_, top_);
  valid_ = true;
}

double TPDFRectangle::Edge(int code) const {
  switch (code) {
    case 0: return Left();
    case 1: return Top();
    case 2: return Width();
    case 3: return Height();
    case 4: return Right();
    case 5: return Bottom();
    default: return 0;
  }
}

}  // namespace lumipage
