#include "app/OcrQueue.h"

#include <chrono>

#include "imaging/DibGraphic.h"
#include "platform/Interrupt.h"

namespace lumipage {

TGreyPage GreyPageOf(const TDibGraphic& page) {
  TGreyPage grey;
  if (page.Empty()) return grey;
  grey.Width = page.Width();
  grey.Height = page.Height();
  grey.Dpi = page.DpiX();
  grey.Pixels.resize(static_cast<size_t>(grey.Width) * static_cast<size_t>(grey.Height));
  auto luma = [](unsigned r, unsigned g, unsigned b) {
    return static_cast<unsigned char>((r * 299 + g * 587 + b * 114 + 500) / 1000);
  };
  const unsigned bits = page.BitmapInfo().bmiHeader.biBitCount;
  unsigned char table[256] = {};
  if (bits <= 8) {
    const auto& colors = page.BitmapInfo().bmiColors;
    for (size_t i = 0; i < colors.size(); ++i) table[i] = luma(colors[i].rgbRed, colors[i].rgbGreen, colors[i].rgbBlue);
  }
  for (int y = 0; y < grey.Height; ++y) {
    const std::uint8_t* row = page.RowBits(y);
    unsigned char* out = grey.Pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(grey.Width);
    switch (bits) {
      case 24:
        for (int x = 0; x < grey.Width; ++x, row += 3) out[x] = luma(row[2], row[1], row[0]);
        break;
      case 8:
        for (int x = 0; x < grey.Width; ++x) out[x] = table[row[x]];
        break;
      case 4:
        for (int x = 0; x < grey.Width; ++x) out[x] = table[(row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0xF];
        break;
      default:
        for (int x = 0; x < grey.Width; ++x) out[x] = table[(row[x / 8] >> (7 - x % 8)) & 1];
        break;
    }
  }
  return grey;
}

TGreyPage TurnedClockwise(const TGreyPage& page, int degrees) {
  degrees = ((degrees % 360) + 360) % 360;
  if (degrees == 0) return page;
  TGreyPage out;
  out.Dpi = page.Dpi;
  const bool quarter = degrees == 90 || degrees == 270;
  out.Width = quarter ? page.Height : page.Width;
  out.Height = quarter ? page.Width : page.Height;
  out.Pixels.resize(page.Pixels.size());
  const size_t w = static_cast<size_t>(page.Width), h = static_cast<size_t>(page.Height);
  for (size_t y = 0; y < h; ++y) {
    const unsigned char* row = page.Pixels.data() + y * w;
    for (size_t x = 0; x < w; ++x) {
      size_t tx, ty;
      switch (degrees) {
        case 90: tx = h - 1 - y; ty = x; break;
        case 180: tx = w - 1 - x; ty = h - 1 - y; break;
        default: tx = y; ty = w - 1 - x; break;
      }
      out.Pixels[ty * static_cast<size_t>(out.Width) + tx] = row[x];
    }
  }
  return out;
}

TOcrQueue::TOcrQueue(std::shared_ptr<TOcrModule> module, std::string languages, bool autoRotate, int timeoutMs)
    : module_(std::move(module)), languages_(std::move(languages)), autoRotate_(autoRotate), timeoutMs_(timeoutMs) {
  TOcrModule::Engine first = module_->Open(languages_, autoRotate_);
  workers_.emplace_back(&TOcrQueue::RunWorker, this, std::move(first));
  if (std::thread::hardware_concurrency() >= 2 && kMaxPagesInRecognition >= 2) {
    // The second engine loads on its own thread while the scanner starts; a second engine that
    // cannot load leaves the first to do all pages.
    workers_.emplace_back([this] {
      TOcrModule::Engine engine(nullptr, TOcrModule::EngineCloser{module_.get()});
      try {
        engine = module_->Open(languages_, autoRotate_);
      } catch (...) {
        return;
      }
      RunWorker(std::move(engine));
    });
  }
}

TOcrQueue::~TOcrQueue() {
  Cancel();
  for (std::thread& t : workers_)
    if (t.joinable()) t.join();
}

void TOcrQueue::Cancel() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = true;
  cancel_ = 1;
  changed_.notify_all();
}

void TOcrQueue::WaitUntil(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done) {
  while (!done()) {
    changed_.wait_for(lock, std::chrono::milliseconds(200));
    if (done()) break;
    lock.unlock();
    platform::CheckInterrupt();
    lock.lock();
  }
}

void TOcrQueue::Submit(int n, TGreyPage page) {
  std::unique_lock<std::mutex> lock(mutex_);
  WaitUntil(lock, [this] { return held_ < kMaxPagesInRecognition || stopping_; });
  if (stopping_) return;
  queue_.push_back(Work{n, std::move(page)});
  ++held_;
  changed_.notify_all();
}

void TOcrQueue::WaitAll() {
  std::unique_lock<std::mutex> lock(mutex_);
  WaitUntil(lock, [this] { return held_ == 0 || stopping_; });
}

const TOcrResult* TOcrQueue::Result(int n) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = results_.find(n);
  return it == results_.end() ? nullptr : &it->second;
}

TOcrResult TOcrQueue::Process(LumiOcrEngine& engine, TGreyPage page) const {
  TOcrResult result;
  if (autoRotate_) {
    int degrees = 0;
    float confidence = 0;
    if (module_->Orientation(engine, page, degrees, confidence) == LUMI_OCR_OK && confidence >= kOrientationThreshold &&
        degrees % 90 == 0 && degrees % 360 != 0) {
      result.Rotation = degrees % 360;
      page = TurnedClockwise(page, result.Rotation);
    }
  }
  if (languages_.empty()) {
    result.Recognised = true;  // turning pages only
    return result;
  }
  result.Recognised = module_->Recognise(engine, page, timeoutMs_, &cancel_, result.Words) == LUMI_OCR_OK;
  return result;
}

void TOcrQueue::RunWorker(TOcrModule::Engine engine) {
  for (;;) {
    Work work;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    TOcrResult result;
    try {
      result = Process(*engine, std::move(work.Page));
    } catch (...) {
      result = TOcrResult{};  // out of memory on the way: the page stays without text
    }
    std::lock_guard<std::mutex> lock(mutex_);
    results_[work.Number] = std::move(result);
    --held_;
    changed_.notify_all();
  }
}

}  // namespace lumipage
