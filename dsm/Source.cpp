#include "dsm/Source.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace lumipage::dsm {

using namespace twain;

TW_UINT16 TSource::Entry(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  condition_ = TWCC_SUCCESS;
  if (!data) return Fail(TWCC_BADVALUE);
  if (dg == DG_CONTROL) {
    switch (dat) {
      case DAT_CAPABILITY: {
        if (msg != MSG_SET) return Fail(TWCC_CAPBADOPERATION);
        const auto& cap = *static_cast<const TW_CAPABILITY*>(data);
        TCapValue value;
        if (ReadValueToSet(cap, value) != TWRC_SUCCESS) return TWRC_FAILURE;
        return IsSharedCapability(cap.Cap) ? SetSharedCapability(cap.Cap, value) : SetCapability(cap.Cap, value);
      }
      case DAT_EVENT:
        if (msg != MSG_PROCESSEVENT) return Fail(TWCC_BADPROTOCOL);
        return ProcessEvent(*static_cast<TW_EVENT*>(data));
      case DAT_USERINTERFACE:
        if (msg == MSG_ENABLEDS) {
          auto& ui = *static_cast<TW_USERINTERFACE*>(data);
          if (state_ != ESourceState::Open) return Fail(TWCC_SEQERROR);
          auto parent = static_cast<platform::HWND>(ui.hParent);
          if (!platform::IsWindow(parent)) return Fail(TWCC_BADVALUE);
          parent_ = parent;
          return Enable(ui);
        }
        if (msg == MSG_DISABLEDS) return Disable();
        return Fail(TWCC_BADPROTOCOL);
      case DAT_STATUSUTF8:
        if (msg != MSG_GET) return Fail(TWCC_BADPROTOCOL);
        return StatusText(*static_cast<TW_STATUSUTF8*>(data));
      case DAT_PENDINGXFERS:
        if (msg == MSG_ENDXFER) return EndTransfer(*static_cast<TW_PENDINGXFERS*>(data));
        if (msg == MSG_RESET) return ResetTransfers(*static_cast<TW_PENDINGXFERS*>(data));
        return Fail(TWCC_BADPROTOCOL);
      default:
        return Fail(TWCC_BADPROTOCOL);
    }
  }
  if (dg == DG_IMAGE && msg == MSG_GET) {
    if (dat == DAT_IMAGEINFO) return ImageInfo(*static_cast<TW_IMAGEINFO*>(data));
    if (dat == DAT_IMAGENATIVEXFER) return NativeTransfer(*static_cast<platform::HGLOBAL*>(data));
  }
  return Fail(TWCC_BADPROTOCOL);
}

TW_UINT16 TSource::StatusText(TW_STATUSUTF8& status) {
  status.Size = 0;
  status.UTF8string = nullptr;
  if (detail_.empty() || status.Status.ConditionCode != detailCondition_) return Fail(TWCC_BADVALUE);
  platform::GlobalBlock block(platform::GHND, detail_.size() + 1);
  if (!block) return Fail(TWCC_LOWMEMORY);
  {
    platform::GlobalLockGuard lock(block.get());
    if (!lock.data()) return Fail(TWCC_LOWMEMORY);
    std::memcpy(lock.data(), detail_.c_str(), detail_.size() + 1);
  }
  status.Size = static_cast<TW_UINT32>(detail_.size() + 1);
  status.UTF8string = block.release();
  detail_.clear();
  return TWRC_SUCCESS;
}

TW_UINT16 TSource::ReadValueToSet(const TW_CAPABILITY& cap, TCapValue& value) {
  if (state_ != ESourceState::Open) return Fail(TWCC_SEQERROR);
  if (cap.ConType != TWON_ONEVALUE) return Fail(TWCC_BADVALUE);
  TW_ONEVALUE one{};
  platform::GlobalLockGuard lock(static_cast<platform::HGLOBAL>(cap.hContainer));
  if (!lock.data() || lock.size() < sizeof one) return Fail(TWCC_BADVALUE);
  std::memcpy(&one, lock.data(), sizeof one);
  value.Type = one.ItemType;
  value.U16 = static_cast<TW_UINT16>(one.Item & 0xFFFF);
  value.Fix32 = TW_FIX32{static_cast<TW_INT16>(value.U16), static_cast<TW_UINT16>(one.Item >> 16)};
  return TWRC_SUCCESS;
}

bool TSource::IsSharedCapability(TW_UINT16 cap) {
  switch (cap) {
    case ICAP_XFERMECH:
    case CAP_XFERCOUNT:
    case ICAP_UNITS:
    case CAP_INDICATORS:
    case CAP_AUTOFEED:
    case CAP_FEEDERORDER:
    case CAP_LP_WAITFORPAPER:
    case CAP_LP_RETRYBUSY:
      return true;
    default:
      return false;
  }
}

TW_UINT16 TSource::SetSharedCapability(TW_UINT16 cap, const TCapValue& value) {
  bool valid = false;
  switch (cap) {
    case ICAP_XFERMECH:
      valid = value.Is(TWTY_UINT16) && value.U16 == TWSX_NATIVE;
      break;
    case CAP_XFERCOUNT: {
      const auto count = static_cast<TW_INT16>(value.U16);
      valid = value.Is(TWTY_INT16) && (count == -1 || count >= 1);
      if (valid) xferCount_ = count;
      break;
    }
    case ICAP_UNITS:
      valid = value.Is(TWTY_UINT16) && value.U16 == TWUN_INCHES;
      break;
    case CAP_INDICATORS:
    case CAP_AUTOFEED:
      valid = value.Is(TWTY_BOOL);
      break;
    case CAP_FEEDERORDER:
      valid = value.Is(TWTY_UINT16) && value.U16 == TWFO_FIRSTPAGEFIRST;
      break;
    default:  // the waits
      valid = value.Is(TWTY_UINT16);
      if (valid) (cap == CAP_LP_WAITFORPAPER ? waitForPaperSeconds_ : retryBusySeconds_) = std::min<int>(value.U16, kMaxWaitSeconds);
      break;
  }
  return valid ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
}

TW_UINT16 TSource::ProcessEvent(TW_EVENT& event) {
  event.TWMessage = MSG_NULL;
  auto* msg = static_cast<const platform::MSG*>(event.pEvent);
  if (state_ == ESourceState::Open || !msg || msg->message != kDsmNotifyMessage ||
      msg->lParam != static_cast<std::intptr_t>(Id())) {
    return TWRC_NOTDSEVENT;
  }
  event.TWMessage = static_cast<TW_UINT16>(msg->wParam);
  return TWRC_DSEVENT;
}

void TSource::Notify(TW_UINT16 message) {
  platform::PostMessage(parent_, kDsmNotifyMessage, message, static_cast<std::intptr_t>(Id()));
}

}  // namespace lumipage::dsm
