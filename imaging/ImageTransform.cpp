#include "imaging/ImageTransform.h"

#include <string>

namespace lumipage {

void TImageTransform::Apply(TDibGraphic& image) {
  TDibGraphic result;
  ApplyOnDest(image, result);
  image.Assign(&result);
}

void TImageTransform::ApplyOnDest(const TDibGraphic&, TDibGraphic&) {
  throw EOvinexError(std::string("Method \"ApplyOnDest\" not implemented for ") + ClassName() + " class");
}

void TImageTransform::Progress(std::int64_t current, std::int64_t minimum, std::int64_t maximum) {
  lastProgress_ = DoProgress(ProgressCallback, this, current, minimum, maximum, lastProgress_);
}

}  // namespace lumipage
