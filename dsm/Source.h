#pragma once
// A TWAIN source of the source manager in states 4 to 7: a virtual scanner or a SANE device.
#include <cstdint>
#include <string>

#include "dsm/SourceConfig.h"
#include "platform/GlobalMemory.h"
#include "platform/Messages.h"
#include "twain/TwainTypes.h"

namespace lumipage::dsm {

// The TWAIN states a source passes through, numbered as the TWAIN standard numbers them.
enum class ESourceState : std::uint8_t {
  Open = 4,           // opened by the application, capabilities negotiable
  Enabled = 5,        // acquiring; waiting for a page
  TransferReady = 6,  // a page is ready for transfer
  Transferring = 7,   // the page is being transferred
};

// The one value a capability is set to, as its container held it.
struct TCapValue {
  twain::TW_UINT16 Type = 0;  // TWTY_...
  twain::TW_UINT16 U16 = 0;   // the value of a TW_UINT16, TW_INT16 or TW_BOOL item
  twain::TW_FIX32 Fix32{};    // the value of a TW_FIX32 item
  [[nodiscard]] bool Is(twain::TW_UINT16 type) const { return Type == type; }
};

class TSource {
 public:
  explicit TSource(twain::TW_UINT32 id) : id_(id) {}
  virtual ~TSource() = default;
  TSource(const TSource&) = delete;
  TSource& operator=(const TSource&) = delete;

  [[nodiscard]] twain::TW_UINT32 Id() const { return id_; }
  [[nodiscard]] ESourceState State() const { return state_; }
  // Condition of the last operation; reading it resets it.
  [[nodiscard]] twain::TW_UINT16 TakeCondition() {
    twain::TW_UINT16 c = condition_;
    condition_ = twain::TWCC_SUCCESS;
    return c;
  }
  // Every triplet addressed to this source except the status query, handed to the operation
  // it names; a triplet a source does not know fails with a bad-protocol condition.
  [[nodiscard]] twain::TW_UINT16 Entry(twain::TW_UINT32 dg, twain::TW_UINT16 dat, twain::TW_UINT16 msg,
                                       twain::TW_MEMREF data);

 protected:
  // The operations, each in the state the source is in. SetCapability gets the capabilities that
  // are not shared (see SetSharedCapability), with the value already read; Enable is called on an
  // open source once the application's window is known (parent_).
  virtual twain::TW_UINT16 SetCapability(twain::TW_UINT16 cap, const TCapValue& value) = 0;
  virtual twain::TW_UINT16 Enable(twain::TW_USERINTERFACE& ui) = 0;
  virtual twain::TW_UINT16 Disable() = 0;
  virtual twain::TW_UINT16 EndTransfer(twain::TW_PENDINGXFERS& pending) = 0;
  virtual twain::TW_UINT16 ResetTransfers(twain::TW_PENDINGXFERS& pending) = 0;
  virtual twain::TW_UINT16 ImageInfo(twain::TW_IMAGEINFO& info) = 0;
  virtual twain::TW_UINT16 NativeTransfer(platform::HGLOBAL& handle) = 0;

  // Whether the event is this source's notice to the application, and which.
  twain::TW_UINT16 ProcessEvent(twain::TW_EVENT& event);
  // Capabilities every source treats alike: native transfers only, the count of transfers, units
  // in inches, indicators and automatic feeding accepted, first page first, and the waits of an
  // unattended job (CAP_LP_WAITFORPAPER, CAP_LP_RETRYBUSY).
  static bool IsSharedCapability(twain::TW_UINT16 cap);
  twain::TW_UINT16 SetSharedCapability(twain::TW_UINT16 cap, const TCapValue& value);
  // The one value a capability is set to: only while open (capabilities are negotiated before the
  // source is enabled) and only from a one-value container of the right size.
  twain::TW_UINT16 ReadValueToSet(const twain::TW_CAPABILITY& cap, TCapValue& value);
  // Posts a notice (transfer ready, close request) to the application's window.
  void Notify(twain::TW_UINT16 message);
  // Records the condition for the status query and reports failure; a detail names what
  // happened in words (a file and the system's reason) for the status text query.
  twain::TW_UINT16 Fail(twain::TW_UINT16 condition, std::string detail = {}) {
    condition_ = condition;
    detailCondition_ = condition;
    detail_ = std::move(detail);
    return twain::TWRC_FAILURE;
  }
  twain::TW_UINT16 condition_ = twain::TWCC_SUCCESS;
  ESourceState state_ = ESourceState::Open;
  platform::HWND parent_ = nullptr;
  // Seconds an empty feeder at the first page is waited on, and a busy device tried again.
  int waitForPaperSeconds_ = 0;
  int retryBusySeconds_ = 0;
  // Transfers the application asked for; -1: as many as there are.
  twain::TW_INT16 xferCount_ = -1;

 private:
  // The text of the last failure's condition, handed out once.
  twain::TW_UINT16 StatusText(twain::TW_STATUSUTF8& status);

  twain::TW_UINT32 id_;
  twain::TW_UINT16 detailCondition_ = twain::TWCC_SUCCESS;
  std::string detail_;
};

}  // namespace lumipage::dsm
