#pragma once
// The operations the scan job drives a scanner through. The TWAIN scanner object implements them
// over the source manager; tests implement them with scripted pages.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/GlobalMemory.h"

namespace lumipage {

// The page's global block, handed to the image handler by reference. The handler may take the
// block over (release() it, or let TDibGraphic::TakeDib do so); whatever the handle still holds
// when the handler returns or fails is freed by the scanner. Ownership moves with the handle,
// never by handle value, so a block freed by the handler and a new block that happens to get the
// same address are never confused.
using TTransferBlock = platform::GlobalBlock;
// One page: a packed device-independent bitmap (40-byte header, colour table, bottom-up rows);
// resolutions are whole dots per inch, 0 when the source reports none.
using TImageHandler = std::function<void(TTransferBlock& dib, std::uint16_t xres,
                                         std::uint16_t yres, std::intptr_t passThrough)>;
using TScannerErrorHandler = std::function<void(void* sender, const std::string& message)>;
using TNotifyHandler = std::function<void(void* sender)>;

class ScannerOperations {
 public:
  virtual ~ScannerOperations() = default;

  // Connects to the source manager, fills Sources() and makes its default source current.
  virtual void Open() = 0;
  // Product names of the installed scanners, in the source manager's order.
  [[nodiscard]] virtual const std::vector<std::string>& Sources() const = 0;
  // Position of the current scanner in Sources(); -1 when none.
  [[nodiscard]] virtual int SourceIndex() const = 0;
  // Product name of the source manager's default source as last reported; empty when unknown.
  // Lets the job name a default source that is missing from Sources().
  [[nodiscard]] virtual std::string DefaultSourceName() const { return {}; }
  // An index outside the list changes nothing.
  virtual void SelectSource(int index) = 0;
  // The source manager's own selection dialog; true when a scanner was chosen (then current).
  [[nodiscard]] virtual bool SelectSourceDialog() = 0;
  // Lists the sources anew after the source manager has looked for devices again (it may answer
  // from a cache of devices found by an earlier run); the current source stays current when it
  // is still listed, else the default becomes current. Scanners without such a cache do nothing.
  virtual void RefreshSources() {}
  // Position in Sources() of the scanner that drives the device of that name as the scanner
  // drivers write it (a SANE device name such as "test:0"); the list may grow by that scanner.
  // -1 when there is none; the current scanner stays current.
  [[nodiscard]] virtual int DeviceSource(const std::string& deviceName) {
    (void)deviceName;
    return -1;
  }
  // The product name announced to the source manager (its first 32 characters).
  virtual void SetProductName(const std::string& text) = 0;
  // Scans until the source reports the end, calling handler once per page; then calls OnDone.
  virtual void Acquire(std::intptr_t passThrough, TImageHandler handler) = 0;

  // Scan parameters with the values a new scanner object starts with.
  bool ShowUI = true;
  std::int16_t XResolution = 200;
  std::int16_t YResolution = 200;
  std::uint8_t ImageType = 0;
  bool ShowIndicators = true;
  bool FeederEnabled = false;
  bool DuplexEnabled = false;
  // Set once the source has taken the settings: it delivers both sides of every sheet, front first.
  bool SidesInPairs = false;
  bool Transmissive = false;
  // Unattended use, in seconds (0 to 3600; 0: off): how long an empty feeder at the first page
  // is waited on, and how long a busy scanner (or one that fails to open) is tried again.
  int WaitForPaper = 0;
  int RetryBusy = 0;

  TScannerErrorHandler OnError;
  TNotifyHandler OnDone;
};

}  // namespace lumipage
