#pragma once
#include "pdf/PDFObject.h"

namespace lumipage {

// A reference "n g R". Its own number and generation hide the base's indirect-object marks,
// which a reference never carries.
class TPDFIndRef final : public TPDFObject {
 public:
  TPDFIndRef(TPDFStructure& owner, int32_t number, int32_t generation)
      : TPDFObject(owner, kKindIndRef), ObjectNumberValue(number), GenerationValue(generation) {}
  void AppendText(std::string& out, int depth) const override;
  void ShiftNumbers(int32_t n) override;
  // The referenced value through the owner's lookup hook; nullptr without a hook.
  [[nodiscard]] TPDFObject* Resolve();

  [[nodiscard]] int32_t ObjectNumber() const { return ObjectNumberValue; }
  [[nodiscard]] int32_t Generation() const { return GenerationValue; }

  int32_t ObjectNumberValue;
  int32_t GenerationValue;
};

}  // namespace lumipage
