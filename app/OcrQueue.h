#pragma once
// Recognition beside acquisition: pages are handed over as they are scanned and recognised on
// worker threads, each with its own engine, while the scanner feeds the next sheet. At most
// kMaxPagesInRecognition pages are held at once; handing over one more waits. A page whose
// recognition fails or runs out of time is kept without text, never failing the job.
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/OcrModule.h"

namespace lumipage {

class TDibGraphic;

inline constexpr int kMaxPagesInRecognition = 2;
// Longest recognition of one page, in milliseconds (an A4 page at 300 dpi takes one to three
// seconds on one core).
inline constexpr int kOcrPageTimeoutMs = 120000;
// Tesseract's orientation confidence from which a page is turned. Three lines of 14-point text
// give about 4.5, fuller pages more; a photograph gave 0.2 and a blank page no answer at all.
inline constexpr float kOrientationThreshold = 3.0f;

struct TOcrResult {
  bool Recognised = false;  // false: failed or timed out, the page stays without text
  int Rotation = 0;         // clockwise turn (0, 90, 180, 270) that makes the page upright
  std::vector<TOcrWord> Words;  // in pixels of the upright page
};

// The page as 8-bit grey, rows from the top, for recognition.
[[nodiscard]] TGreyPage GreyPageOf(const TDibGraphic& page);
// The page turned clockwise by degrees (0, 90, 180 or 270).
[[nodiscard]] TGreyPage TurnedClockwise(const TGreyPage& page, int degrees);

class TOcrQueue {
 public:
  // Opens the first engine at once, so that a missing module or language raises before scanning.
  TOcrQueue(std::shared_ptr<TOcrModule> module, std::string languages, bool autoRotate,
            int timeoutMs = kOcrPageTimeoutMs);
  // Stops recognition and waits for the workers.
  ~TOcrQueue();
  TOcrQueue(const TOcrQueue&) = delete;
  TOcrQueue& operator=(const TOcrQueue&) = delete;

  // Hands page n over; waits while kMaxPagesInRecognition pages are held. Checks for an
  // interruption of the job while it waits.
  void Submit(int n, TGreyPage page);
  // Waits until every page handed over has its result (checking for interruptions).
  void WaitAll();
  // Page n's result; nullptr for a page never handed over.
  [[nodiscard]] const TOcrResult* Result(int n) const;
  // Recognition stops at the next chance; pages not yet done get no text.
  void Cancel();

 private:
  struct Work {
    int Number = 0;
    TGreyPage Page;
  };
  void RunWorker(TOcrModule::Engine engine);
  [[nodiscard]] TOcrResult Process(LumiOcrEngine& engine, TGreyPage page) const;
  void WaitUntil(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done);

  std::shared_ptr<TOcrModule> module_;
  std::string languages_;
  bool autoRotate_;
  int timeoutMs_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Work> queue_;
  int held_ = 0;  // pages handed over and not yet done
  bool stopping_ = false;
  volatile int cancel_ = 0;
  std::map<int, TOcrResult> results_;
  std::vector<std::thread> workers_;
};

}  // namespace lumipage
