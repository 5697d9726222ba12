#include "dsm/VirtualSource.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

#include "dsm/PageFile.h"
#include "dsm/Terminal.h"
#include "dsm/TestPage.h"
#include "platform/Interrupt.h"

namespace lumipage::dsm {

using namespace twain;

namespace {

const char* KindName(TW_UINT16 pixelType, TW_UINT16 bitDepth) {
  switch (pixelType) {
    case TWPT_BW:
      return "black and white";
    case TWPT_GRAY:
      return bitDepth == 4 ? "16 shades of grey" : "256 shades of grey";
    case TWPT_PALETTE:
      return bitDepth == 4 ? "16 colours" : "256 colours";
    default:
      return "true colour";
  }
}

}  // namespace

TVirtualSource::TVirtualSource(TSourceConfig config, TW_UINT32 id) : TSource(id), config_(std::move(config)) {}

TW_UINT16 TVirtualSource::Disable() {
  if (state_ != ESourceState::Enabled) return Fail(TWCC_SEQERROR);
  state_ = ESourceState::Open;
  plan_.clear();
  current_.reset();
  return TWRC_SUCCESS;
}

TW_UINT16 TVirtualSource::SetCapability(TW_UINT16 cap, const TCapValue& value) {
  switch (cap) {
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
      const TW_FIX32 f = value.Fix32;
      if (!value.Is(TWTY_FIX32) || f.Whole < kMinDpi || f.Whole > kMaxDpi) return Fail(TWCC_BADVALUE);
      (cap == ICAP_XRESOLUTION ? xres_ : yres_) = f;
      return TWRC_SUCCESS;
    }
    case ICAP_PIXELTYPE:
      if (!value.Is(TWTY_UINT16) || value.U16 > TWPT_PALETTE) return Fail(TWCC_BADVALUE);
      pixelType_ = value.U16;
      bitDepth_ = value.U16 == TWPT_BW ? 1 : value.U16 == TWPT_RGB ? 24 : 8;
      return TWRC_SUCCESS;
    case ICAP_BITDEPTH:
      if (!value.Is(TWTY_UINT16) || !TTestPage::Supports(pixelType_, value.U16)) return Fail(TWCC_BADVALUE);
      bitDepth_ = value.U16;
      return TWRC_SUCCESS;
    case CAP_FEEDERENABLED:
      if (!value.Is(TWTY_BOOL)) return Fail(TWCC_BADVALUE);
      feederEnabled_ = value.U16 != 0;
      return TWRC_SUCCESS;
    case CAP_DUPLEXENABLED:
      if (!config_.Duplex) return Fail(TWCC_CAPUNSUPPORTED);
      if (!value.Is(TWTY_BOOL)) return Fail(TWCC_BADVALUE);
      duplexEnabled_ = value.U16 != 0;
      return TWRC_SUCCESS;
    default:
      // No transparency unit, and nothing else beyond the above.
      return Fail(TWCC_CAPUNSUPPORTED);
  }
}

void TVirtualSource::PlanPages() {
  plan_.clear();
  next_ = 0;
  delivered_ = 0;
  current_.reset();
  currentFailed_ = false;
  const std::size_t perSheet = duplexEnabled_ ? 2 : 1;
  std::size_t sheets = static_cast<std::size_t>(config_.Pages);
  std::vector<std::string> files;
  if (!config_.PageFolder.empty()) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(config_.PageFolder, ec), end; !ec && it != end; it.increment(ec)) {
      std::string name = it->path().filename().string();
      if (name.empty() || name[0] == '.' || it->is_directory(ec)) continue;
      files.push_back(it->path().string());
      if (files.size() >= kMaxFolderFiles) break;
    }
    std::sort(files.begin(), files.end());
    std::size_t folderSheets = (files.size() + perSheet - 1) / perSheet;
    sheets = config_.PagesSet ? std::min(sheets, folderSheets) : folderSheets;
  }
  // Without the feeder only the flatbed's one sheet is scanned.
  if (!feederEnabled_) sheets = std::min<std::size_t>(sheets, 1);
  std::size_t total = sheets * perSheet;
  if (!config_.PageFolder.empty()) total = std::min(total, files.size());
  if (xferCount_ > 0) total = std::min<std::size_t>(total, static_cast<std::size_t>(xferCount_));
  for (std::size_t i = 0; i < total; ++i) {
    PageSpec p;
    p.number = static_cast<int>(i + 1);
    if (!config_.PageFolder.empty()) p.file = files[i];
    plan_.push_back(std::move(p));
  }
}

bool TVirtualSource::RunUserInterface() {
  return ConfirmScan(config_.Name + ": " + std::to_string(plan_.size()) + " page(s) ready, " +
                     std::to_string(xres_.Whole) + " x " + std::to_string(yres_.Whole) + " dpi, " +
                     KindName(pixelType_, bitDepth_) + ".");
}

TW_UINT16 TVirtualSource::Enable(TW_USERINTERFACE& ui) {
  PlanPages();
  paperAt_ = std::chrono::steady_clock::now() + std::chrono::seconds(config_.PaperAfter);
  state_ = ESourceState::Enabled;
  if (ui.ShowUI && !RunUserInterface()) {
    Notify(MSG_CLOSEDSREQ);
    return TWRC_SUCCESS;
  }
  if (config_.CancelAfter == 0) {
    Notify(MSG_CLOSEDSREQ);
    return TWRC_SUCCESS;
  }
  // An empty feeder (no sheets, an empty or missing page folder) is announced like a full one;
  // the first transfer then fails with the no-paper condition, as a real feeder's does.
  state_ = ESourceState::TransferReady;
  Notify(MSG_XFERREADY);
  return TWRC_SUCCESS;
}

bool TVirtualSource::WaitForPaper() const {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(waitForPaperSeconds_);
  for (;;) {
    const auto now = Clock::now();
    if (now >= paperAt_) return true;
    if (now >= deadline) return false;
    // A caller's time-out ends the wait at once; the transfer then fails and the job sees why.
    if (!platform::SleepUnlessInterrupted(std::min<Clock::duration>({kPaperPoll, deadline - now, paperAt_ - now})))
      return false;
  }
}

bool TVirtualSource::PrepareCurrent() {
  if (current_ || currentFailed_) return !currentFailed_;
  currentCondition_ = TWCC_SUCCESS;
  currentDetail_.clear();
  if (plan_.empty()) {
    currentCondition_ = TWCC_NOMEDIA;
  } else if (next_ >= plan_.size()) {
    currentCondition_ = TWCC_SEQERROR;
  } else if (next_ == 0 && feederEnabled_ && !WaitForPaper()) {
    currentCondition_ = TWCC_NOMEDIA;
  } else if (const PageSpec& spec = plan_[next_]; spec.file.empty()) {
    current_ = TTestPage::Render(spec.number, xres_, yres_, pixelType_, bitDepth_);
    if (!current_) currentCondition_ = TWCC_LOWMEMORY;
  } else {
    auto loaded = TPageFile::Load(spec.file);
    if (auto* page = std::get_if<TPageImage>(&loaded)) {
      current_ = std::move(*page);
    } else {
      currentCondition_ = TWCC_OPERATIONERROR;
      currentDetail_ = std::get<std::string>(loaded);
    }
  }
  currentFailed_ = !current_;
  return !currentFailed_;
}

TW_UINT16 TVirtualSource::ImageInfo(TW_IMAGEINFO& info) {
  if (state_ != ESourceState::TransferReady && state_ != ESourceState::Transferring) return Fail(TWCC_SEQERROR);
  info = TW_IMAGEINFO{};
  // A page that cannot be produced is described as empty; its transfer then fails.
  if (PrepareCurrent()) info = current_->Info;
  return TWRC_SUCCESS;
}

TW_UINT16 TVirtualSource::NativeTransfer(platform::HGLOBAL& handle) {
  if (state_ != ESourceState::TransferReady) return Fail(TWCC_SEQERROR);
  if (config_.FailAfter >= 0 && delivered_ >= config_.FailAfter) return Fail(TWCC_OPERATIONERROR);
  if (!PrepareCurrent()) return Fail(currentCondition_, currentDetail_);
  handle = current_->Dib.release();
  current_.reset();
  state_ = ESourceState::Transferring;
  ++delivered_;
  return TWRC_XFERDONE;
}

TW_UINT16 TVirtualSource::Remaining() const {
  return static_cast<TW_UINT16>(plan_.size() > next_ ? plan_.size() - next_ : 0);
}

TW_UINT16 TVirtualSource::EndTransfer(TW_PENDINGXFERS& pending) {
  if (state_ != ESourceState::TransferReady && state_ != ESourceState::Transferring) return Fail(TWCC_SEQERROR);
  // In state 6 the offered page is skipped; in state 7 it has been handed over.
  current_.reset();
  currentFailed_ = false;
  ++next_;
  if (config_.CancelAfter >= 0 && delivered_ >= config_.CancelAfter && next_ < plan_.size()) {
    next_ = plan_.size();
    Notify(MSG_CLOSEDSREQ);
  }
  pending = TW_PENDINGXFERS{};
  pending.Count = Remaining();
  state_ = pending.Count ? ESourceState::TransferReady : ESourceState::Enabled;
  return TWRC_SUCCESS;
}

TW_UINT16 TVirtualSource::ResetTransfers(TW_PENDINGXFERS& pending) {
  if (state_ != ESourceState::TransferReady) return Fail(TWCC_SEQERROR);
  next_ = plan_.size();
  current_.reset();
  currentFailed_ = false;
  pending = TW_PENDINGXFERS{};
  state_ = ESourceState::Enabled;
  return TWRC_SUCCESS;
}

}  // namespace lumipage::dsm
