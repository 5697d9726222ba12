#pragma once
// A SANE device as a TWAIN source: capabilities set through the device's options (looked up by
// name, with their type, constraint and state respected, and read back), one sane_start per page,
// frames read into a packed device-independent bitmap, and SANE's statuses turned into TWAIN
// condition codes.
#include <sane/sane.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dsm/PageImage.h"
#include "dsm/SaneLibrary.h"
#include "dsm/Source.h"
#include "dsm/SourceConfig.h"
#include "platform/Messages.h"

namespace lumipage::dsm {

// A status of later SANE versions (sane.h leaves it out): the lamp is not ready yet, try again.
constexpr int kSaneStatusWarmingUp = 12;

// The condition code for a SANE status that ends a page.
[[nodiscard]] twain::TW_UINT16 ConditionOfSaneStatus(SANE_Status status);

class TSaneSource : public TSource {
 public:
  // Options looked at on a device.
  static constexpr SANE_Int kMaxOptions = 1000;
  // Largest frame accepted (a 1200 dpi A4 page with 16-bit colour is below it).
  static constexpr std::uint64_t kMaxFrameBytes = std::uint64_t{3} << 29;
  static constexpr std::int64_t kMaxBytesPerLine = std::int64_t{1} << 20;
  // Pages one acquisition takes from a feeder.
  static constexpr int kMaxFeederPages = 1000;

  // Opens the device; null with the condition code when it cannot be opened.
  [[nodiscard]] static std::unique_ptr<TSaneSource> Open(const TSaneLibrary& lib, const TSourceConfig& config,
                                                         int readTimeoutSeconds, twain::TW_UINT32 id,
                                                         twain::TW_UINT16& condition);
  ~TSaneSource() override;

 private:
  struct Option {
    SANE_Int index;
    const SANE_Option_Descriptor* desc;
  };
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

  // Options.
  [[nodiscard]] std::optional<Option> Find(const char* name) const;
  [[nodiscard]] bool Settable(const Option& o) const;
  [[nodiscard]] std::optional<double> GetNumber(const char* name) const;
  // Sets a number option within its constraint; the value in effect afterwards.
  std::optional<double> SetNumber(const char* name, double value);
  [[nodiscard]] std::vector<std::string> StringChoices(const char* name) const;
  [[nodiscard]] std::optional<std::string> GetString(const char* name) const;
  bool SetString(const char* name, const std::string& value);
  // Whether the depth option offers a value (true when the device has no such option and any is 8).
  [[nodiscard]] bool DepthOffers(int depth) const;

  bool ApplyResolution(bool x, double dpi);
  bool ApplyPixelType(twain::TW_UINT16 pixelType);
  bool ApplySource();
  void ApplyFullArea();
  void ApplyAll();
  [[nodiscard]] std::optional<std::string> SourceEntry(bool feeder, bool duplex, bool transmissive) const;
  [[nodiscard]] double Resolution(bool x) const;

  // Pages.
  // Starts the page on offer, waiting for paper and retrying a busy device as the application
  // asked.
  void StartPage();
  static constexpr std::chrono::milliseconds kPaperPoll{500};
  static constexpr std::chrono::milliseconds kFirstBusyPause{250};
  static constexpr std::chrono::milliseconds kLongestBusyPause{2000};
  // sane_start, noting the reader threads the backend started for the frame.
  SANE_Status Start();
  // sane_cancel. Backends that stop their reader thread with an asynchronous cancel (SANE's test
  // backend among them) have it wait until the reader, whose pipe they close first, has ended by
  // itself; see platform/ThreadCancel.h.
  void CancelScan();
  // How long a reader is given to end by itself before a backend's cancel goes ahead.
  static constexpr std::chrono::milliseconds kReaderExit{2000};
  // Reads the started page; the page, or nothing with status_ saying why.
  std::optional<TPageImage> ReadPage();
  // Reads the frame until its end, handing each complete row to sink (false: out of memory) and
  // counting the rows handed over, at most maxRows.
  SANE_Status ReadRows(std::uint64_t maxRows, const std::function<bool(const std::uint8_t*)>& sink,
                       std::uint64_t& rows);

  const TSaneLibrary& lib_;
  SANE_Handle handle_;
  TSourceConfig config_;
  int readTimeoutSeconds_;
  Wanted wanted_;

  // The acquisition in progress.
  bool feederActive_ = false;  // pages come from a feeder until it is empty
  int delivered_ = 0;
  bool started_ = false;       // sane_start succeeded for the page on offer
  bool finished_ = false;      // no more pages in this acquisition
  SANE_Status status_ = SANE_STATUS_GOOD;  // why the page on offer cannot be had
  bool stalled_ = false;       // the device stopped sending data
  std::vector<pid_t> readers_;  // threads the backend started for the frame
  SANE_Parameters params_{};
  double xdpi_ = 0, ydpi_ = 0;
};

}  // namespace lumipage::dsm
