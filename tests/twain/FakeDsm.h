#pragma once
// A scripted source manager for tests of the scanner object: it answers from a script and records
// every call, so cases a real source manager never produces (a TWRC_CHECKSTATUS answer, a source
// that claims foreign messages, a resolution of 300.5 dpi) can be driven. Built as its own
// libtwain_32.so in a folder of its own; tests reach the script through FakeDsm_Script().
#include <cstdint>
#include <string>
#include <vector>

#include "twain/TwainTypes.h"

namespace lumipage::fakedsm {

struct FakeCall {
  bool toSource = false;
  std::uint32_t dg = 0;
  std::uint16_t dat = 0;
  std::uint16_t msg = 0;
  // DAT_CAPABILITY / MSG_SET: the capability, its container and the item sent.
  std::uint16_t cap = 0;
  std::uint16_t conType = 0;
  std::size_t containerSize = 0;
  std::uint16_t itemType = 0;
  std::uint32_t item = 0;
  // DAT_USERINTERFACE: the flags sent.
  std::uint16_t showUI = 0;
  std::uint16_t modalUI = 0;
};

struct FakeTransfer {
  int infoFailures = 0;                           // image-information requests that fail first
  std::uint16_t xferRc = twain::TWRC_XFERDONE;    // answer of the native transfer
  std::uint16_t xferCondition = twain::TWCC_OPERATIONERROR;
  bool withHandle = true;                         // a bitmap comes with TWRC_XFERDONE
  twain::TW_FIX32 xres{300, 0};
  twain::TW_FIX32 yres{300, 0};
  std::uint16_t pendingAfter = 0;                 // Count reported by MSG_ENDXFER
};

struct FakeDsmScript {
  // Source manager.
  std::vector<std::string> sources{"Alpha", "Beta"};
  std::string defaultName = "Beta";
  bool defaultFails = false;
  std::uint16_t openDsmRc = twain::TWRC_SUCCESS;
  std::uint16_t openDsmCondition = twain::TWCC_SUCCESS;
  std::string userSelectChooses;                  // empty: the dialog is cancelled
  // Source.
  bool openDsFails = false;
  int openDsFailures = 0;                         // MSG_OPENDS fails this many times first ...
  std::uint16_t openDsCondition = twain::TWCC_DENIED;  // ... with this condition
  bool enableFails = false;
  bool closeDsFails = false;
  std::vector<std::uint16_t> refusedCaps;
  bool cancelAtEnable = false;                    // MSG_CLOSEDSREQ instead of MSG_XFERREADY
  std::uint32_t claimMessage = 0;                 // window message the source claims as its own
  std::vector<FakeTransfer> transfers;
  bool failEverything = false;                    // every image-information request fails

  // Observations.
  std::vector<FakeCall> calls;
  std::string openedName;
  std::uint16_t lastCondition = twain::TWCC_SUCCESS;
  std::size_t nextTransfer = 0;
  void* parent = nullptr;

  [[nodiscard]] std::vector<FakeCall> Calls(std::uint16_t dat, std::uint16_t msg) const {
    std::vector<FakeCall> out;
    for (const auto& c : calls)
      if (c.dat == dat && c.msg == msg) out.push_back(c);
    return out;
  }
};

// Source id the fake hands out on MSG_OPENDS.
constexpr std::uint32_t kFakeSourceId = 7;

}  // namespace lumipage::fakedsm

extern "C" lumipage::fakedsm::FakeDsmScript* FakeDsm_Script();
