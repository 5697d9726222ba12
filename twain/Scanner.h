#pragma once
// The scanner object: the connection to the TWAIN source manager (loaded at run time from the
// system folder), the list of installed sources, the default source and the selection dialog,
// and acquisition by native transfer through the thread's message loop.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Messages.h"
#include "twain/ScannerError.h"
#include "twain/ScannerOperations.h"
#include "twain/TwainError.h"
#include "twain/TwainTypes.h"

namespace lumipage {

// A source failed the transfer of a page it had announced: the acquisition is over, the pages
// delivered before it were handed to the image handler and the source is closed. what() gives
// the condition code; Text() names the condition for a reader: the source's own words when it
// gave them (a page file and why it cannot be read), else the condition's usual text.
class ETransferError : public ETwainError {
 public:
  explicit ETransferError(twain::TW_UINT16 condition, const std::string& detail = {});
  [[nodiscard]] const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

class TScanner : public ScannerOperations {
 public:
  // An image-information request that keeps failing while transfers are pending is retried this
  // many times; then the acquisition ends with the pages delivered so far.
  static constexpr int kMaxImageInfoRetries = 100;

  // Raises EScannerError "Only one scanner object is permitted" while another one exists.
  TScanner();
  ~TScanner() override;
  TScanner(const TScanner&) = delete;
  TScanner& operator=(const TScanner&) = delete;

  // Longest wait that WaitForPaper and RetryBusy may ask for, in seconds.
  static constexpr int kMaxWaitSeconds = 3600;
  // Pauses between attempts to open a busy source: the first, doubling up to the last.
  static constexpr int kFirstRetryPauseMs = 250;
  static constexpr int kLongestRetryPauseMs = 2000;

  // The process's scanner object, created on first use and destroyed at process end.
  static TScanner& Instance();
  // Whether a scanner object exists in the process.
  [[nodiscard]] static bool Exists();

  // Source manager connection.
  void Open() override;
  void Close();
  void GetDefaultSource();
  [[nodiscard]] const std::vector<std::string>& Sources() const override { return sourceNames_; }
  [[nodiscard]] int SourceIndex() const override { return sourceIndex_; }
  [[nodiscard]] std::string DefaultSourceName() const override { return defaultSourceName_; }
  void SelectSource(int index) override;
  [[nodiscard]] bool SelectSourceDialog() override;
  void RefreshSources() override;
  [[nodiscard]] int DeviceSource(const std::string& deviceName) override;
  void SetProductName(const std::string& text) override;

  // Calls the source manager with AppIdentity as origin. True on TWRC_SUCCESS, or on
  // TWRC_CHECKSTATUS when the status query then reports TWCC_SUCCESS. Never raises.
  [[nodiscard]] bool DsmCall(twain::TW_IDENTITY* dest, twain::TW_UINT32 dg, twain::TW_UINT16 dat, twain::TW_UINT16 msg,
               twain::TW_MEMREF data, twain::TW_UINT16* returnCode = nullptr);
  // Hands the message to OnError when set, else raises EScannerError.
  void Error(const std::string& message);

  // Acquisition.
  void Acquire(std::intptr_t passThrough, TImageHandler handler) override;
  // Whether the source took the value.
  bool SetCapOneValue(twain::TW_UINT16 cap, twain::TW_UINT16 itemType, std::int32_t value);
  // Ends the current transfer; true while the source has more pages.
  [[nodiscard]] bool EndTransfer();
  void ResetPendingTransfers();
  // One message of the acquisition loop; true when it belonged to the source.
  bool ProcessTwainEvent(const platform::MSG& msg, bool& done);
  void TwainMessageLoop();

  // State, for callers that need to look (and tests).
  [[nodiscard]] bool DsmLoaded() const { return dsmLibrary_ != nullptr; }
  [[nodiscard]] platform::HWND TwainWindow() const { return twainWindow_; }
  [[nodiscard]] const twain::TW_IDENTITY& AppIdentity() const { return appIdentity_; }
  [[nodiscard]] const twain::TW_IDENTITY& SourceIdentity() const { return sourceIdentity_; }
  // The identity the source manager listed for Sources()[index].
  [[nodiscard]] const twain::TW_IDENTITY& SourceEntry(std::size_t index) const { return *sourceIdentities_.at(index); }

 private:
  struct LibraryCloser {
    void operator()(void* handle) const;
  };

  void NegotiateScanParameters();
  // MSG_OPENDS on SourceIdentity, tried again while the source is busy or fails to open in a
  // way that may pass, for RetryBusy seconds.
  [[nodiscard]] bool OpenSource();
  // After OpenSource failed because the source is not there: a source the source manager listed
  // from its device cache may have gone since, and the manager has looked for its devices again.
  // The job then goes on as one started now would, with the list as it is now and the default
  // source in place of a name no longer listed. False when there is nothing else to open.
  [[nodiscard]] bool OpenInPlaceOfGoneSource();
  void TransferLoop(bool& done);
  // The source's text for the condition of its last failure; empty when it has none.
  [[nodiscard]] std::string StatusText(twain::TW_UINT16 condition);
  void FillSources();

  std::unique_ptr<void, LibraryCloser> dsmLibrary_;
  twain::DSMENTRYPROC dsmEntry_ = nullptr;
  platform::HWND twainWindow_ = nullptr;
  twain::TW_IDENTITY appIdentity_{};
  twain::TW_IDENTITY sourceIdentity_{};
  std::vector<std::string> sourceNames_;
  std::vector<std::unique_ptr<twain::TW_IDENTITY>> sourceIdentities_;
  int sourceIndex_ = -1;
  std::string defaultSourceName_;
  twain::TW_UINT16 lastCondition_ = twain::TWCC_SUCCESS;

  // The acquisition in progress.
  TImageHandler imageHandler_;
  std::intptr_t passThrough_ = 0;
  // The source reported an unknown number of further pages (-1) at the last end of transfer.
  bool pendingCountUnknown_ = false;
};

}  // namespace lumipage
