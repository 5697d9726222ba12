#pragma once
// A virtual scanner: a TWAIN source in states 4 to 7 that renders test pages or delivers the BMP
// files of a folder, one sheet at a time from a simulated document feeder.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "dsm/PageImage.h"
#include "dsm/Source.h"
#include "dsm/SourceConfig.h"
#include "platform/Messages.h"
#include "twain/TwainTypes.h"

namespace lumipage::dsm {

class TVirtualSource : public TSource {
 public:
  // Folder entries looked at as page files.
  static constexpr std::size_t kMaxFolderFiles = 10000;
  static constexpr int kMinDpi = 50;
  static constexpr int kMaxDpi = 600;
  static constexpr int kDefaultDpi = 200;

  TVirtualSource(TSourceConfig config, twain::TW_UINT32 id);

 private:
  struct PageSpec {
    int number = 0;          // page number across the job, from 1
    std::string file;        // empty: rendered
  };

  twain::TW_UINT16 SetCapability(twain::TW_UINT16 cap, const TCapValue& value) override;
  twain::TW_UINT16 Enable(twain::TW_USERINTERFACE& ui) override;
  twain::TW_UINT16 Disable() override;
  twain::TW_UINT16 ImageInfo(twain::TW_IMAGEINFO& info) override;
  twain::TW_UINT16 NativeTransfer(platform::HGLOBAL& handle) override;
  twain::TW_UINT16 EndTransfer(twain::TW_PENDINGXFERS& pending) override;
  twain::TW_UINT16 ResetTransfers(twain::TW_PENDINGXFERS& pending) override;
  void PlanPages();
  // Loads or renders the next page when not done yet; false with a condition when it cannot be.
  bool PrepareCurrent();
  // Runs the source's own dialog on the terminal; false when cancelled.
  bool RunUserInterface();
  [[nodiscard]] twain::TW_UINT16 Remaining() const;
  // Whether paper is in the feeder for the first page, waiting for it as long as asked.
  [[nodiscard]] bool WaitForPaper() const;
  static constexpr std::chrono::milliseconds kPaperPoll{500};

  TSourceConfig config_;

  // Capabilities.
  twain::TW_FIX32 xres_{kDefaultDpi, 0};
  twain::TW_FIX32 yres_{kDefaultDpi, 0};
  twain::TW_UINT16 pixelType_ = twain::TWPT_RGB;
  twain::TW_UINT16 bitDepth_ = 24;
  bool feederEnabled_ = true;
  bool duplexEnabled_ = false;

  // The current acquisition.
  std::vector<PageSpec> plan_;
  std::size_t next_ = 0;        // index into plan_ of the page being offered
  int delivered_ = 0;
  std::optional<TPageImage> current_;
  bool currentFailed_ = false;
  // Why the current page cannot be produced.
  twain::TW_UINT16 currentCondition_ = twain::TWCC_SUCCESS;
  std::string currentDetail_;
  std::chrono::steady_clock::time_point paperAt_;  // when sheets are in the feeder
};

}  // namespace lumipage::dsm
