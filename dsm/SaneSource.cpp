#include "dsm/SaneSource.h"

#include <sane/saneopts.h>

#include <algorithm>
#include <cmath>

#include "dsm/Terminal.h"
#include "platform/Interrupt.h"

namespace lumipage::dsm {

using namespace twain;

namespace {

TW_FIX32 ToFix32(double v) {
  if (v < 0) v = 0;
  if (v > 32767) v = 32767;
  TW_FIX32 f{};
  f.Whole = static_cast<TW_INT16>(std::floor(v));
  f.Frac = static_cast<TW_UINT16>(std::lround((v - std::floor(v)) * 65536.0) & 0xFFFF);
  return f;
}

}  // namespace

TW_UINT16 ConditionOfSaneStatus(SANE_Status status) {
  switch (static_cast<int>(status)) {
    case SANE_STATUS_JAMMED:
      return TWCC_PAPERJAM;
    case SANE_STATUS_NO_DOCS:
      return TWCC_NOMEDIA;
    case SANE_STATUS_COVER_OPEN:
      return TWCC_INTERLOCK;
    case SANE_STATUS_DEVICE_BUSY:
    case kSaneStatusWarmingUp:
    case SANE_STATUS_ACCESS_DENIED:
      return TWCC_DENIED;
    case SANE_STATUS_IO_ERROR:
      return TWCC_OPERATIONERROR;
    case SANE_STATUS_NO_MEM:
      return TWCC_LOWMEMORY;
    default:
      return TWCC_BUMMER;
  }
}

std::unique_ptr<TSaneSource> TSaneSource::Open(const TSaneLibrary& lib, const TSourceConfig& config,
                                               int readTimeoutSeconds, TW_UINT32 id, TW_UINT16& condition) {
  SANE_Handle handle = nullptr;
  SANE_Status status = lib.Open(config.SaneDevice.c_str(), &handle);
  if (status != SANE_STATUS_GOOD || !handle) {
    // A device that went away since the listing is offline for TWAIN.
    condition = status == SANE_STATUS_GOOD || status == SANE_STATUS_INVAL ? TWCC_CHECKDEVICEONLINE
                                                                         : ConditionOfSaneStatus(status);
    return nullptr;
  }
  condition = TWCC_SUCCESS;
  return std::unique_ptr<TSaneSource>(new TSaneSource(lib, handle, config, readTimeoutSeconds, id));
}

TSaneSource::TSaneSource(const TSaneLibrary& lib, SANE_Handle handle, TSourceConfig config, int readTimeoutSeconds,
                         TW_UINT32 id)
    : TSource(id),
      lib_(lib),
      handle_(handle),
      config_(std::move(config)),
      options_(lib, handle),
      frames_(lib, handle, readTimeoutSeconds) {}

TSaneSource::~TSaneSource() {
  frames_.Cancel();
  lib_.Close(handle_);
}

TW_UINT16 TSaneSource::Disable() {
  if (state_ != ESourceState::Enabled) return Fail(TWCC_SEQERROR);
  frames_.Cancel();
  state_ = ESourceState::Open;
  return TWRC_SUCCESS;
}

TW_UINT16 TSaneSource::ResetTransfers(TW_PENDINGXFERS& pending) {
  if (state_ != ESourceState::TransferReady) return Fail(TWCC_SEQERROR);
  frames_.Cancel();
  started_ = false;
  finished_ = true;
  pending = TW_PENDINGXFERS{};
  state_ = ESourceState::Enabled;
  return TWRC_SUCCESS;
}

// ---- Capabilities ----

TW_UINT16 TSaneSource::SetCapability(TW_UINT16 cap, const TCapValue& value) {
  switch (cap) {
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION:
      return SetResolution(cap == ICAP_XRESOLUTION, value);
    case ICAP_PIXELTYPE:
      if (!value.Is(TWTY_UINT16) || !options_.ApplyPixelType(value.U16)) return Fail(TWCC_BADVALUE);
      wanted_.pixelType = value.U16;
      return TWRC_SUCCESS;
    case ICAP_BITDEPTH:
      return SetBitDepth(value);
    case CAP_FEEDERENABLED:
      return SetFeeder(value);
    case CAP_DUPLEXENABLED:
      return SetDuplex(value);
    case ICAP_LIGHTPATH:
      return SetLightPath(value);
    default:
      return Fail(TWCC_CAPUNSUPPORTED);
  }
}

TW_UINT16 TSaneSource::SetResolution(bool x, const TCapValue& value) {
  if (!value.Is(TWTY_FIX32)) return Fail(TWCC_BADVALUE);
  const double dpi = Fix32Value(value.Fix32);
  if (dpi <= 0) return Fail(TWCC_BADVALUE);
  if (!options_.ApplyResolution(x, dpi)) return Fail(TWCC_BADVALUE);
  (x ? wanted_.xres : wanted_.yres) = dpi;
  return TWRC_SUCCESS;
}

TW_UINT16 TSaneSource::SetBitDepth(const TCapValue& value) {
  // The depth that goes with the pixel type is set with it; other depths are not offered.
  const TW_UINT16 type = wanted_.pixelType.value_or(TWPT_RGB);
  const TW_UINT16 depth = value.U16;
  const bool fits = (type == TWPT_BW && depth == 1) || (type == TWPT_GRAY && depth == 8) || (type == TWPT_RGB && depth == 24);
  return value.Is(TWTY_UINT16) && fits ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
}

TW_UINT16 TSaneSource::SetFeeder(const TCapValue& value) {
  if (!value.Is(TWTY_BOOL)) return Fail(TWCC_BADVALUE);
  const bool on = value.U16 != 0;
  auto entry = options_.SourceEntry(on, on && wanted_.duplex, false);
  // A flatbed without a source option is a flatbed already.
  if (!entry) {
    return !on && options_.StringChoices(SANE_NAME_SCAN_SOURCE).empty() ? TWRC_SUCCESS : Fail(TWCC_CAPUNSUPPORTED);
  }
  if (!options_.SetString(SANE_NAME_SCAN_SOURCE, *entry)) return Fail(TWCC_BADVALUE);
  wanted_.feeder = on;
  return TWRC_SUCCESS;
}

TW_UINT16 TSaneSource::SetDuplex(const TCapValue& value) {
  if (!value.Is(TWTY_BOOL)) return Fail(TWCC_BADVALUE);
  const bool on = value.U16 != 0;
  if (on && !options_.SourceEntry(true, true, false)) return Fail(TWCC_CAPUNSUPPORTED);
  wanted_.duplex = on;
  if (wanted_.feeder.value_or(false) && !ApplySource()) return Fail(TWCC_BADVALUE);
  return TWRC_SUCCESS;
}

TW_UINT16 TSaneSource::SetLightPath(const TCapValue& value) {
  if (!value.Is(TWTY_UINT16) || value.U16 > TWLP_TRANSMISSIVE) return Fail(TWCC_BADVALUE);
  const bool on = value.U16 == TWLP_TRANSMISSIVE;
  if (on && !options_.SourceEntry(false, false, true)) return Fail(TWCC_CAPUNSUPPORTED);
  wanted_.transmissive = on;
  if ((on || wanted_.feeder) && !ApplySource()) return Fail(TWCC_BADVALUE);
  return TWRC_SUCCESS;
}

bool TSaneSource::ApplySource() {
  return options_.ApplySource(wanted_.feeder.value_or(false), wanted_.duplex, wanted_.transmissive);
}

void TSaneSource::ApplyAll() {
  // Source and mode first: changing them can reload the other options and their limits.
  if (wanted_.feeder || wanted_.transmissive) (void)ApplySource();
  if (wanted_.pixelType) (void)options_.ApplyPixelType(*wanted_.pixelType);
  if (wanted_.xres) (void)options_.ApplyResolution(true, *wanted_.xres);
  if (wanted_.yres) (void)options_.ApplyResolution(false, *wanted_.yres);
  options_.ApplyFullArea();
}

// ---- Acquisition ----

bool TSaneSource::RunUserInterface() { return ConfirmScan(config_.Name + " (" + config_.SaneDevice + ")"); }

TW_UINT16 TSaneSource::Enable(TW_USERINTERFACE& ui) {
  ApplyAll();
  // Options are read before scanning: many backends refuse them while a page is being read.
  xdpi_ = options_.Resolution(true);
  ydpi_ = options_.Resolution(false);
  const auto source = options_.GetString(SANE_NAME_SCAN_SOURCE);
  feederActive_ = source && (IsFeederEntry(*source) || IsDuplexEntry(*source));
  delivered_ = 0;
  started_ = false;
  finished_ = false;
  stalled_ = false;
  status_ = SANE_STATUS_GOOD;
  state_ = ESourceState::Enabled;
  if (ui.ShowUI && !RunUserInterface()) {
    Notify(MSG_CLOSEDSREQ);
    return TWRC_SUCCESS;
  }
  state_ = ESourceState::TransferReady;
  Notify(MSG_XFERREADY);
  return TWRC_SUCCESS;
}

void TSaneSource::StartPage() {
  using Clock = std::chrono::steady_clock;
  const auto began = Clock::now();
  auto busyPause = kFirstBusyPause;
  for (;;) {
    status_ = frames_.Start();
    started_ = status_ == SANE_STATUS_GOOD;
    if (started_) break;
    // An empty feeder at the first page is waited on, and a busy device (a lamp warming up, a
    // scan of another program) tried again with a growing pause; any other status, such as a
    // device that went away meanwhile, ends the page at once.
    const bool noPaper = status_ == SANE_STATUS_NO_DOCS && delivered_ == 0;
    const bool busy = status_ == SANE_STATUS_DEVICE_BUSY || static_cast<int>(status_) == kSaneStatusWarmingUp;
    const auto waited = Clock::now() - began;
    const auto limit = std::chrono::seconds(noPaper ? waitForPaperSeconds_ : busy ? retryBusySeconds_ : 0);
    if (waited >= limit) return;
    frames_.Cancel();
    const Clock::duration pause = noPaper ? kPaperPoll : busyPause;
    // A caller's time-out ends the wait: the page then fails, and the job finds the request.
    if (!platform::SleepUnlessInterrupted(std::min(pause, limit - waited))) return;
    if (busy) busyPause = std::min(busyPause * 2, kLongestBusyPause);
  }
  if (lib_.GetParameters(handle_, &params_) != SANE_STATUS_GOOD) {
    started_ = false;
    status_ = SANE_STATUS_IO_ERROR;
    return;
  }
}

TW_UINT16 TSaneSource::ImageInfo(TW_IMAGEINFO& info) {
  if (state_ != ESourceState::TransferReady && state_ != ESourceState::Transferring) return Fail(TWCC_SEQERROR);
  info = TW_IMAGEINFO{};
  if (state_ == ESourceState::TransferReady && !started_ && status_ == SANE_STATUS_GOOD) StartPage();
  // A page that cannot be had is described as empty; its transfer then fails.
  if (!started_) return TWRC_SUCCESS;
  info.XResolution = ToFix32(xdpi_);
  info.YResolution = ToFix32(ydpi_);
  info.ImageWidth = params_.pixels_per_line;
  info.ImageLength = params_.lines;  // -1 when the height is known only at the end
  const TBitmapKind kind = BitmapKindOf(params_);
  info.SamplesPerPixel = kind.colour ? 3 : 1;
  for (int i = 0; i < info.SamplesPerPixel; ++i) info.BitsPerSample[i] = kind.bw ? 1 : 8;
  info.BitsPerPixel = static_cast<TW_INT16>(kind.bits);
  info.PixelType = static_cast<TW_INT16>(kind.colour ? TWPT_RGB : kind.bw ? TWPT_BW : TWPT_GRAY);
  return TWRC_SUCCESS;
}

TW_UINT16 TSaneSource::NativeTransfer(platform::HGLOBAL& handle) {
  if (state_ != ESourceState::TransferReady) return Fail(TWCC_SEQERROR);
  if (!started_ && status_ == SANE_STATUS_GOOD) StartPage();
  if (started_) {
    auto page = frames_.ReadPage(params_, xdpi_, ydpi_, status_);
    stalled_ = stalled_ || frames_.Stalled();
    if (page) {
      handle = page->Dib.release();
      started_ = false;
      state_ = ESourceState::Transferring;
      ++delivered_;
      return TWRC_XFERDONE;
    }
    frames_.Cancel();
    started_ = false;
  }
  finished_ = true;
  if (status_ == SANE_STATUS_CANCELLED) {
    state_ = ESourceState::Transferring;
    return TWRC_CANCEL;
  }
  if (stalled_) return Fail(TWCC_CHECKDEVICEONLINE);
  return Fail(ConditionOfSaneStatus(status_));
}

TW_UINT16 TSaneSource::EndTransfer(TW_PENDINGXFERS& pending) {
  if (state_ != ESourceState::TransferReady && state_ != ESourceState::Transferring) return Fail(TWCC_SEQERROR);
  pending = TW_PENDINGXFERS{};
  const bool more = !finished_ && feederActive_ && delivered_ < kMaxFeederPages &&
                    (xferCount_ < 0 || delivered_ < xferCount_);
  started_ = false;
  stalled_ = false;
  status_ = SANE_STATUS_GOOD;
  if (more) {
    // The next sheet is started now, so that an empty feeder ends the job cleanly and any other
    // trouble fails a transfer that was announced.
    StartPage();
    if (started_ || (status_ != SANE_STATUS_NO_DOCS && status_ != SANE_STATUS_CANCELLED)) {
      pending.Count = 1;
      state_ = ESourceState::TransferReady;
      return TWRC_SUCCESS;
    }
  }
  frames_.Cancel();
  finished_ = true;
  state_ = ESourceState::Enabled;
  return TWRC_SUCCESS;
}

}  // namespace lumipage::dsm
