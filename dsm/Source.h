#pragma once
// A TWAIN source of the source manager in states 4 to 7: a virtual scanner or a SANE device.
#include "twain/TwainTypes.h"

namespace lumipage::dsm {

class TSource {
 public:
  explicit TSource(twain::TW_UINT32 id) : id_(id) {}
  virtual ~TSource() = default;
  TSource(const TSource&) = delete;
  TSource& operator=(const TSource&) = delete;

  [[nodiscard]] twain::TW_UINT32 Id() const { return id_; }
  [[nodiscard]] virtual int State() const = 0;
  // Condition of the last operation; reading it resets it.
  [[nodiscard]] twain::TW_UINT16 TakeCondition() {
    twain::TW_UINT16 c = condition_;
    condition_ = twain::TWCC_SUCCESS;
    return c;
  }
  // Every triplet addressed to this source except the status query.
  [[nodiscard]] virtual twain::TW_UINT16 Entry(twain::TW_UINT32 dg, twain::TW_UINT16 dat, twain::TW_UINT16 msg,
                                               twain::TW_MEMREF data) = 0;

 protected:
  // Records the condition for the status query and reports failure.
  twain::TW_UINT16 Fail(twain::TW_UINT16 condition) {
    condition_ = condition;
    return twain::TWRC_FAILURE;
  }
  twain::TW_UINT16 condition_ = twain::TWCC_SUCCESS;

 private:
  twain::TW_UINT32 id_;
};

}  // namespace lumipage::dsm
