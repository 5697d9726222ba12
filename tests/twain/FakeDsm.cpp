// The scripted source manager described in FakeDsm.h.
#include "tests/twain/FakeDsm.h"

#include <strings.h>

#include <cstring>

#include "platform/GlobalMemory.h"
#include "platform/Messages.h"

using namespace lumipage;
using namespace lumipage::twain;
using lumipage::fakedsm::FakeCall;
using lumipage::fakedsm::FakeDsmScript;
using lumipage::fakedsm::FakeTransfer;

namespace {

FakeDsmScript& Script() {
  static FakeDsmScript script;
  return script;
}

void SetName(TW_IDENTITY& id, const std::string& name) {
  std::memset(&id, 0, sizeof id);
  std::memcpy(id.ProductName, name.data(), std::min(name.size(), sizeof id.ProductName - 1));
}

TW_UINT16 Fail(TW_UINT16 condition) {
  Script().lastCondition = condition;
  return TWRC_FAILURE;
}

platform::HGLOBAL TinyDib() {
  // A 1 x 1 true-colour packed bitmap.
  platform::HGLOBAL h = platform::GlobalAlloc(platform::GHND, 44);
  auto* p = static_cast<std::uint8_t*>(platform::GlobalLock(h));
  std::uint32_t size = 40;
  std::int32_t one = 1;
  std::uint16_t planes = 1, bits = 24;
  std::memcpy(p, &size, 4);
  std::memcpy(p + 4, &one, 4);
  std::memcpy(p + 8, &one, 4);
  std::memcpy(p + 12, &planes, 2);
  std::memcpy(p + 14, &bits, 2);
  platform::GlobalUnlock(h);
  return h;
}

TW_UINT16 SourceEntry(FakeCall& call, TW_MEMREF data) {
  FakeDsmScript& s = Script();
  FakeTransfer* t = s.nextTransfer < s.transfers.size() ? &s.transfers[s.nextTransfer] : nullptr;
  switch (call.dat) {
    case DAT_STATUS:
      static_cast<TW_STATUS*>(data)->ConditionCode = s.lastCondition;
      s.lastCondition = TWCC_SUCCESS;
      return TWRC_SUCCESS;
    case DAT_CAPABILITY: {
      auto* cap = static_cast<TW_CAPABILITY*>(data);
      call.cap = cap->Cap;
      call.conType = cap->ConType;
      auto h = static_cast<platform::HGLOBAL>(cap->hContainer);
      call.containerSize = platform::GlobalSize(h);
      if (auto* one = static_cast<TW_ONEVALUE*>(platform::GlobalLock(h))) {
        call.itemType = one->ItemType;
        call.item = one->Item;
        platform::GlobalUnlock(h);
      }
      for (auto refused : s.refusedCaps)
        if (refused == cap->Cap) return Fail(TWCC_CAPUNSUPPORTED);
      return TWRC_SUCCESS;
    }
    case DAT_USERINTERFACE: {
      auto* ui = static_cast<TW_USERINTERFACE*>(data);
      call.showUI = ui->ShowUI;
      call.modalUI = ui->ModalUI;
      if (call.msg == MSG_ENABLEDS) {
        if (s.enableFails) return Fail(TWCC_OPERATIONERROR);
        platform::PostMessage(static_cast<platform::HWND>(ui->hParent), kDsmNotifyMessage,
                              s.cancelAtEnable ? MSG_CLOSEDSREQ : MSG_XFERREADY, fakedsm::kFakeSourceId);
      }
      return TWRC_SUCCESS;
    }
    case DAT_EVENT: {
      auto* event = static_cast<TW_EVENT*>(data);
      auto* msg = static_cast<const platform::MSG*>(event->pEvent);
      event->TWMessage = MSG_NULL;
      if (msg->message == kDsmNotifyMessage) {
        event->TWMessage = static_cast<TW_UINT16>(msg->wParam);
        return TWRC_DSEVENT;
      }
      if (s.claimMessage != 0 && msg->message == s.claimMessage) return TWRC_DSEVENT;
      return TWRC_NOTDSEVENT;
    }
    case DAT_IMAGEINFO: {
      if (s.failEverything || !t) return Fail(TWCC_SEQERROR);
      if (t->infoFailures > 0) {
        --t->infoFailures;
        return Fail(TWCC_BUMMER);
      }
      auto* info = static_cast<TW_IMAGEINFO*>(data);
      info->XResolution = t->xres;
      info->YResolution = t->yres;
      return TWRC_SUCCESS;
    }
    case DAT_IMAGENATIVEXFER: {
      if (!t) return Fail(TWCC_SEQERROR);
      if (t->xferRc == TWRC_XFERDONE && t->withHandle) *static_cast<platform::HGLOBAL*>(data) = TinyDib();
      if (t->xferRc == TWRC_FAILURE) s.lastCondition = t->xferCondition;
      return t->xferRc;
    }
    case DAT_PENDINGXFERS: {
      auto* p = static_cast<TW_PENDINGXFERS*>(data);
      if (call.msg == MSG_ENDXFER) {
        p->Count = t ? t->pendingAfter : 0;
        ++s.nextTransfer;
      } else {
        p->Count = 0;
      }
      return TWRC_SUCCESS;
    }
    default:
      return TWRC_SUCCESS;
  }
}

TW_UINT16 ManagerEntry(TW_IDENTITY* origin, FakeCall& call, TW_MEMREF data) {
  FakeDsmScript& s = Script();
  static std::size_t cursor = 0;
  if (call.dat == DAT_STATUS) {
    static_cast<TW_STATUS*>(data)->ConditionCode = s.lastCondition;
    s.lastCondition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
  }
  if (call.dat == DAT_PARENT) {
    if (call.msg == MSG_OPENDSM) {
      s.parent = *static_cast<platform::HWND*>(data);
      origin->Id = 1;
      s.lastCondition = s.openDsmCondition;
      return s.openDsmRc;
    }
    return TWRC_SUCCESS;
  }
  auto* id = static_cast<TW_IDENTITY*>(data);
  switch (call.msg) {
    case MSG_GETFIRST:
      cursor = 0;
      if (s.sources.empty()) return TWRC_ENDOFLIST;
      SetName(*id, s.sources[0]);
      return TWRC_SUCCESS;
    case MSG_GETNEXT:
      if (++cursor >= s.sources.size()) return TWRC_ENDOFLIST;
      SetName(*id, s.sources[cursor]);
      return TWRC_SUCCESS;
    case MSG_GETDEFAULT:
      if (s.defaultFails) return Fail(TWCC_NODS);
      SetName(*id, s.defaultName);
      return TWRC_SUCCESS;
    case MSG_USERSELECT:
      if (s.userSelectChooses.empty()) return TWRC_CANCEL;
      s.defaultName = s.userSelectChooses;
      SetName(*id, s.userSelectChooses);
      return TWRC_SUCCESS;
    case MSG_OPENDS:
      if (s.openDsFails) return Fail(TWCC_NODS);
      if (s.openDsFailures > 0) {
        --s.openDsFailures;
        return Fail(s.openDsCondition);
      }
      s.openedName = id->ProductName;
      id->Id = fakedsm::kFakeSourceId;
      return TWRC_SUCCESS;
    case MSG_CLOSEDS:
      if (s.closeDsFails) return Fail(TWCC_SEQERROR);
      return TWRC_SUCCESS;
    default:
      return Fail(TWCC_BADPROTOCOL);
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) FakeDsmScript* FakeDsm_Script() { return &Script(); }

extern "C" __attribute__((visibility("default"))) TW_UINT16 DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest,
                                                                        TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                                                        TW_MEMREF data) {
  FakeCall call;
  call.toSource = dest != nullptr;
  call.dg = dg;
  call.dat = dat;
  call.msg = msg;
  TW_UINT16 rc = dest ? SourceEntry(call, data) : ManagerEntry(origin, call, data);
  // Status queries are not recorded: they follow every failed call.
  if (dat != DAT_STATUS) Script().calls.push_back(call);
  return rc;
}
