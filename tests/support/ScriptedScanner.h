#pragma once
// A scanner that delivers pages from a script instead of a source manager: the job's tests use it
// to drive every path of the controller, and it can fail on request at any step.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "twain/ScannerOperations.h"

namespace lumipage {

class EScriptedScannerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TScriptedPage {
  int Width = 850;
  int Height = 1100;
  int BitCount = 24;  // 1, 8 or 24
  std::uint16_t XRes = 100;
  std::uint16_t YRes = 100;
};

// A packed device-independent bitmap (40-byte header, colour table, bottom-up rows padded to four
// bytes) with a recognisable pattern: a frame, a diagonal and grey bands.
[[nodiscard]] platform::HGLOBAL MakePackedDib(const TScriptedPage& page);

class TScriptedScanner : public ScannerOperations {
 public:
  // Script.
  std::vector<std::string> SourceNames{"Scripted Scanner"};
  int DefaultIndex = 0;               // -1: the default source is not in the list
  std::string DefaultName = "Scripted Scanner";
  std::vector<TScriptedPage> Pages{TScriptedPage{}};
  std::string FailOpen;               // non-empty: Open raises this message
  std::string FailAcquire;            // non-empty: Acquire raises this message before any page
  int FailAtPage = 0;                 // > 0: raise FailPageMessage instead of delivering that page
  std::string FailPageMessage = "Scripted transfer failure";
  bool ReportErrorThroughHandler = false;  // FailOpen goes to OnError instead of being raised
  std::string HandlerErrorInAcquire;       // non-empty: Acquire reports this through OnError
  bool DialogChooses = false;
  int DialogChoice = 0;
  bool CallOnDone = true;
  std::vector<std::string> NamesAfterRefresh;  // non-empty: the list RefreshSources finds

  // Observations.
  bool Opened = false;
  bool DialogShown = false;
  int AcquireCalls = 0;
  int PagesDelivered = 0;
  std::string ProductName;
  std::intptr_t PassThrough = 0;
  int Refreshes = 0;

  void Open() override;
  [[nodiscard]] const std::vector<std::string>& Sources() const override { return SourceNames; }
  [[nodiscard]] int SourceIndex() const override { return index_; }
  [[nodiscard]] std::string DefaultSourceName() const override { return DefaultName; }
  void SelectSource(int index) override;
  [[nodiscard]] bool SelectSourceDialog() override;
  void RefreshSources() override;
  void SetProductName(const std::string& text) override { ProductName = text.substr(0, 32); }
  void Acquire(std::intptr_t passThrough, TImageHandler handler) override;

 private:
  int index_ = -1;
};

}  // namespace lumipage
