#pragma once
// Base of the image transforms: Apply changes an image in place, ApplyOnDest leaves the source
// unchanged and makes the destination the transformed image.
#include <cstdint>

#include "imaging/DibGraphic.h"
#include "imaging/Progress.h"

namespace lumipage {

class TImageTransform {
 public:
  TImageTransform() = default;
  TImageTransform(const TImageTransform&) = delete;
  TImageTransform& operator=(const TImageTransform&) = delete;
  virtual ~TImageTransform() = default;

  [[nodiscard]] virtual const char* ClassName() const { return "TImageTransform"; }

  // Runs ApplyOnDest into a temporary image and assigns the result to image, so image keeps
  // its class and stays unchanged when the transform fails.
  virtual void Apply(TDibGraphic& image);
  // Base: EOvinexError "Method "ApplyOnDest" not implemented for <class> class".
  virtual void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest);

  TProgressEvent ProgressCallback;

 protected:
  void ResetProgress() { lastProgress_ = kNoProgress; }
  void Progress(std::int64_t current, std::int64_t minimum, std::int64_t maximum);

 private:
  std::uint8_t lastProgress_ = kNoProgress;
};

}  // namespace lumipage
