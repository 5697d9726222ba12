#pragma once
// A SANE device as a TWAIN source: the source's states from enabling to the end of the last
// transfer, capabilities kept as the application asked and applied through the device's options
// (dsm/SaneOptions.h), one sane_start per page with waits for paper and a busy device, pages read
// by dsm/SaneFrames.h, and SANE's statuses turned into TWAIN condition codes.
#include <sane/sane.h>

#include <chrono>
#include <memory>
#include <optional>

#include "dsm/SaneFrames.h"
#include "dsm/SaneLibrary.h"
#include "dsm/SaneOptions.h"
#include "dsm/Source.h"
#include "dsm/SourceConfig.h"

namespace lumipage::dsm {

// A status of later SANE versions (sane.h leaves it out): the lamp is not ready yet, try again.
constexpr int kSaneStatusWarmingUp = 12;

// The condition code for a SANE status that ends a page.
[[nodiscard]] twain::TW_UINT16 ConditionOfSaneStatus(SANE_Status status);

class TSaneSource : public TSource {
 public:
  // Pages one acquisition takes from a feeder.
  static constexpr int kMaxFeederPages = 1000;

  // Opens the device; null with the condition code when it cannot be opened.
  [[nodiscard]] static std::unique_ptr<TSaneSource> Open(const TSaneLibrary& lib, const TSourceConfig& config,
                                                         int readTimeoutSeconds, twain::TW_UINT32 id,
                                                         twain::TW_UINT16& condition);
  ~TSaneSource() override;

 private:
  // What the application asked for and the device accepted; applied again in order on enabling.
  struct Wanted {
    std::optional<double> xres, yres;
    std::optional<twain::TW_UINT16> pixelType;
    std::optional<bool> feeder;
    bool duplex = false;
    bool transmissive = false;
  };

  TSaneSource(const TSaneLibrary& lib, SANE_Handle handle, TSourceConfig config, int readTimeoutSeconds,
              twain::TW_UINT32 id);

  twain::TW_UINT16 SetCapability(twain::TW_UINT16 cap, const TCapValue& value) override;
  twain::TW_UINT16 Enable(twain::TW_USERINTERFACE& ui) override;
  twain::TW_UINT16 Disable() override;
  twain::TW_UINT16 ImageInfo(twain::TW_IMAGEINFO& info) override;
  twain::TW_UINT16 NativeTransfer(platform::HGLOBAL& handle) override;
  twain::TW_UINT16 EndTransfer(twain::TW_PENDINGXFERS& pending) override;
  twain::TW_UINT16 ResetTransfers(twain::TW_PENDINGXFERS& pending) override;
  [[nodiscard]] bool RunUserInterface();

  // Capabilities, each set on the device at once and kept for ApplyAll.
  twain::TW_UINT16 SetResolution(bool x, const TCapValue& value);
  twain::TW_UINT16 SetBitDepth(const TCapValue& value);
  twain::TW_UINT16 SetFeeder(const TCapValue& value);
  twain::TW_UINT16 SetDuplex(const TCapValue& value);
  twain::TW_UINT16 SetLightPath(const TCapValue& value);
  bool ApplySource();
  void ApplyAll();

  // Pages.
  // Starts the page on offer, waiting for paper and retrying a busy device as the application
  // asked.
  void StartPage();
  static constexpr std::chrono::milliseconds kPaperPoll{500};
  static constexpr std::chrono::milliseconds kFirstBusyPause{250};
  static constexpr std::chrono::milliseconds kLongestBusyPause{2000};

  const TSaneLibrary& lib_;
  SANE_Handle handle_;
  TSourceConfig config_;
  TSaneOptions options_;
  TSaneFrameReader frames_;
  Wanted wanted_;

  // The acquisition in progress.
  bool feederActive_ = false;  // pages come from a feeder until it is empty
  int delivered_ = 0;
  bool started_ = false;       // sane_start succeeded for the page on offer
  bool finished_ = false;      // no more pages in this acquisition
  SANE_Status status_ = SANE_STATUS_GOOD;  // why the page on offer cannot be had
  bool stalled_ = false;       // the device stopped sending data
  SANE_Parameters params_{};
  double xdpi_ = 0, ydpi_ = 0;
};

}  // namespace lumipage::dsm
