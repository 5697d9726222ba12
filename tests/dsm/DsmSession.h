#pragma once
// An application's side of a connection to the real source manager, for the source manager's
// tests: the library loaded from a system folder of its own, the calls spelled out, and the
// packed-bitmap header as a record.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "platform/GlobalMemory.h"
#include "platform/Messages.h"
#include "tests/twain/TwainTestSupport.h"
#include "twain/TwainTypes.h"

namespace lumipage::testing {

using namespace twain;

struct Header {
  std::uint32_t size;
  std::int32_t width, height;
  std::uint16_t planes, bits;
  std::uint32_t compression, sizeImage;
  std::int32_t xppm, yppm;
  std::uint32_t clrUsed, clrImportant;
};
static_assert(sizeof(Header) == 40);

inline std::uint64_t Stride(std::int64_t width, unsigned bits) { return ((width * bits + 31) / 32) * 4; }

// An application's side of the connection, with the calls spelled out.
class Session {
 public:
  explicit Session(const std::optional<std::string>& ini) : system_(ini) {
    lib_ = dlopen((system_.Folder().Path() + "/libtwain_32.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib_) entry_ = reinterpret_cast<DSMENTRYPROC>(dlsym(lib_, "DSM_Entry"));
    window_ = platform::CreateWindow("STATIC", "Twain Window");
    app_.ProtocolMajor = 1;
    app_.ProtocolMinor = 5;
    app_.SupportedGroups = DG_SUPPORTED;
  }
  ~Session() {
    if (entry_) {
      TW_PENDINGXFERS p{};
      TW_USERINTERFACE ui{};
      Call(&src_, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &p);
      Call(&src_, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
      Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &src_);
      Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window_);
    }
    platform::DestroyWindow(window_);
    DrainMessages();
    if (lib_) dlclose(lib_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  [[nodiscard]] bool Loaded() const { return entry_ != nullptr; }
  const VirtualSystemFolder& System() const { return system_; }

  TW_UINT16 Call(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    return entry_(&app_, dest, dg, dat, msg, data);
  }
  TW_UINT16 Condition(TW_IDENTITY* dest) {
    TW_STATUS s{};
    EXPECT_EQ(Call(dest, DG_CONTROL, DAT_STATUS, MSG_GET, &s), TWRC_SUCCESS);
    return s.ConditionCode;
  }
  // Return code and condition code of one call.
  std::pair<TW_UINT16, TW_UINT16> Try(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    TW_UINT16 rc = Call(dest, dg, dat, msg, data);
    return {rc, rc == TWRC_SUCCESS ? TWCC_SUCCESS : Condition(dest)};
  }

  void OpenDsm() { ASSERT_EQ(Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &window_), TWRC_SUCCESS); }
  void OpenDs(const std::string& name = "") {
    OpenDsm();
    src_ = TW_IDENTITY{};
    std::strncpy(src_.ProductName, name.c_str(), 33);
    ASSERT_EQ(Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &src_), TWRC_SUCCESS);
    ASSERT_NE(src_.Id, 0u);
  }
  std::pair<TW_UINT16, TW_UINT16> SetCap(TW_UINT16 cap, TW_UINT16 type, TW_UINT32 item, TW_UINT16 conType = TWON_ONEVALUE) {
    platform::GlobalBlock block(platform::GHND, sizeof(TW_ONEVALUE));
    {
      platform::GlobalLockGuard lock(block.get());
      lock.as<TW_ONEVALUE>()->ItemType = type;
      lock.as<TW_ONEVALUE>()->Item = item;
    }
    TW_CAPABILITY c{cap, conType, block.get()};
    return Try(&src_, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
  }
  TW_UINT16 Enable(bool showUI = false) {
    TW_USERINTERFACE ui{static_cast<TW_BOOL>(showUI ? 1 : 0), 1, window_};
    return Call(&src_, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
  }
  // The next source notification waiting in the queue, through MSG_PROCESSEVENT.
  std::optional<TW_UINT16> Notification() {
    platform::MSG msg;
    while (platform::PeekMessage(msg)) {
      TW_EVENT e{&msg, MSG_NULL};
      if (Call(&src_, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &e) == TWRC_DSEVENT) return e.TWMessage;
    }
    return std::nullopt;
  }
  struct Transfer {
    TW_UINT16 rc = TWRC_FAILURE;
    TW_UINT16 condition = TWCC_SUCCESS;
    platform::GlobalBlock dib;
    TW_IMAGEINFO info{};
    TW_UINT16 pending = 0;
  };
  // Enables the source and takes its transfer-ready notice; whether both came.
  [[nodiscard]] bool Start(bool showUI = false) {
    const TW_UINT16 rc = Enable(showUI);
    EXPECT_EQ(rc, TWRC_SUCCESS);
    const std::optional<TW_UINT16> notice = rc == TWRC_SUCCESS ? Notification() : std::nullopt;
    EXPECT_EQ(notice, std::optional<TW_UINT16>(MSG_XFERREADY));
    return notice == MSG_XFERREADY;
  }
  // One page: image information, native transfer, end of transfer.
  Transfer Next() {
    Transfer t;
    EXPECT_EQ(Call(&src_, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &t.info), TWRC_SUCCESS);
    platform::HGLOBAL h = nullptr;
    t.rc = Call(&src_, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h);
    if (t.rc != TWRC_XFERDONE) t.condition = Condition(&src_);
    t.dib.reset(h);
    TW_PENDINGXFERS p{};
    EXPECT_EQ(Call(&src_, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p), TWRC_SUCCESS);
    t.pending = p.Count;
    return t;
  }

  TW_IDENTITY app_{};
  TW_IDENTITY src_{};
  platform::HWND window_ = nullptr;

 private:
  VirtualSystemFolder system_;
  void* lib_ = nullptr;
  DSMENTRYPROC entry_ = nullptr;
};

inline Header HeaderOf(const platform::GlobalBlock& dib) {
  Header h{};
  platform::GlobalLockGuard lock(dib.get());
  if (lock.size() >= sizeof h) std::memcpy(&h, lock.data(), sizeof h);
  return h;
}

}  // namespace lumipage::testing
