#include "dsm/SaneSource.h"

#include <sane/saneopts.h>
#include <strings.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <thread>

#include "dsm/RowConvert.h"
#include "dsm/Terminal.h"
#include "imaging/PackedDib.h"
#include "platform/Interrupt.h"
#include "platform/LargeMemory.h"
#include "platform/ThreadCancel.h"

namespace lumipage::dsm {

using namespace twain;

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool Contains(const std::string& lowered, std::initializer_list<const char*> words) {
  return std::any_of(words.begin(), words.end(), [&](const char* w) { return lowered.find(w) != std::string::npos; });
}

bool IsDuplexEntry(const std::string& s) { return Contains(Lower(s), {"duplex"}); }
bool IsFeederEntry(const std::string& s) {
  std::string l = Lower(s);
  return !IsDuplexEntry(s) && (Contains(l, {"adf", "feeder", "automatic document", "sheetfed", "sheet fed"}));
}
bool IsTransparencyEntry(const std::string& s) {
  return Contains(Lower(s), {"transparen", "film", "slide", "negative", "positive", "tpu", "tma"});
}
bool IsFlatbedEntry(const std::string& s) { return Contains(Lower(s), {"flatbed", "normal", "platen", "glass"}); }

// The first entry of the list that fits, with exact names before names that contain a word.
std::optional<std::string> PickMode(const std::vector<std::string>& modes, std::initializer_list<const char*> exact,
                                    std::initializer_list<const char*> words,
                                    std::initializer_list<const char*> unwanted) {
  for (const char* e : exact) {
    for (const auto& m : modes) {
      if (strcasecmp(m.c_str(), e) == 0) return m;
    }
  }
  for (const auto& m : modes) {
    std::string l = Lower(m);
    if (Contains(l, words) && !Contains(l, unwanted)) return m;
  }
  return std::nullopt;
}

double ToDouble(SANE_Value_Type type, SANE_Word w) { return type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : w; }

SANE_Word ToWord(SANE_Value_Type type, double v) {
  return type == SANE_TYPE_FIXED ? SANE_FIX(v) : static_cast<SANE_Word>(std::lround(v));
}

TW_FIX32 ToFix32(double v) {
  if (v < 0) v = 0;
  if (v > 32767) v = 32767;
  TW_FIX32 f{};
  f.Whole = static_cast<TW_INT16>(std::floor(v));
  f.Frac = static_cast<TW_UINT16>(std::lround((v - std::floor(v)) * 65536.0) & 0xFFFF);
  return f;
}

std::uint16_t Sample16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);  // SANE sends 16-bit samples in the host's byte order
  return v;
}

// One sample of a channel of pixel x in a row of the given depth, as 0-255; bits are white when 1
// except in a grey 1-bit frame, where 1 is black.
std::uint8_t SampleAt(const std::uint8_t* row, std::size_t index, int depth) {
  switch (depth) {
    case 1:
      return (row[index / 8] & (0x80 >> (index % 8))) ? 255 : 0;
    case 16:
      return static_cast<std::uint8_t>(Sample16(row + 2 * index) >> 8);
    default:
      return row[index];
  }
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
    : TSource(id), lib_(lib), handle_(handle), config_(std::move(config)), readTimeoutSeconds_(readTimeoutSeconds) {}

TSaneSource::~TSaneSource() {
  CancelScan();
  lib_.Close(handle_);
}

TW_UINT16 TSaneSource::Disable() {
  if (state_ != ESourceState::Enabled) return Fail(TWCC_SEQERROR);
  CancelScan();
  state_ = ESourceState::Open;
  return TWRC_SUCCESS;
}

TW_UINT16 TSaneSource::ResetTransfers(TW_PENDINGXFERS& pending) {
  if (state_ != ESourceState::TransferReady) return Fail(TWCC_SEQERROR);
  CancelScan();
  started_ = false;
  finished_ = true;
  pending = TW_PENDINGXFERS{};
  state_ = ESourceState::Enabled;
  return TWRC_SUCCESS;
}

std::optional<TSaneSource::Option> TSaneSource::Find(const char* name) const {
  SANE_Int count = 0;
  if (lib_.ControlOption(handle_, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD) return std::nullopt;
  count = std::min(count, kMaxOptions);
  for (SANE_Int i = 1; i < count; ++i) {
    const SANE_Option_Descriptor* d = lib_.GetOptionDescriptor(handle_, i);
    if (d && d->name && std::strcmp(d->name, name) == 0) return Option{i, d};
  }
  return std::nullopt;
}

bool TSaneSource::Settable(const Option& o) const {
  return SANE_OPTION_IS_ACTIVE(o.desc->cap) && SANE_OPTION_IS_SETTABLE(o.desc->cap);
}

std::optional<double> TSaneSource::GetNumber(const char* name) const {
  auto o = Find(name);
  if (!o || !SANE_OPTION_IS_ACTIVE(o->desc->cap)) return std::nullopt;
  const SANE_Value_Type type = o->desc->type;
  if ((type != SANE_TYPE_INT && type != SANE_TYPE_FIXED) || o->desc->size < static_cast<SANE_Int>(sizeof(SANE_Word)))
    return std::nullopt;
  // An array option gives its first element.
  std::vector<SANE_Word> value(static_cast<std::size_t>(o->desc->size) / sizeof(SANE_Word) + 1);
  if (lib_.ControlOption(handle_, o->index, SANE_ACTION_GET_VALUE, value.data(), nullptr) != SANE_STATUS_GOOD)
    return std::nullopt;
  return ToDouble(type, value[0]);
}

std::optional<double> TSaneSource::SetNumber(const char* name, double wanted) {
  auto o = Find(name);
  if (!o || !Settable(*o)) return std::nullopt;
  const SANE_Option_Descriptor& d = *o->desc;
  if ((d.type != SANE_TYPE_INT && d.type != SANE_TYPE_FIXED) || d.size != static_cast<SANE_Int>(sizeof(SANE_Word)))
    return std::nullopt;
  double v = wanted;
  if (d.constraint_type == SANE_CONSTRAINT_RANGE && d.constraint.range) {
    const SANE_Range& r = *d.constraint.range;
    const double lo = ToDouble(d.type, r.min), hi = ToDouble(d.type, r.max), q = ToDouble(d.type, r.quant);
    v = std::clamp(v, std::min(lo, hi), std::max(lo, hi));
    if (q > 0) {
      // The step nearest the value that is still within the range.
      v = lo + std::round((v - lo) / q) * q;
      if (v > std::max(lo, hi)) v -= q;
    }
  } else if (d.constraint_type == SANE_CONSTRAINT_WORD_LIST && d.constraint.word_list) {
    const SANE_Word* list = d.constraint.word_list;
    const SANE_Word n = std::min<SANE_Word>(list[0], 10000);
    if (n <= 0) return std::nullopt;
    double best = ToDouble(d.type, list[1]);
    for (SANE_Word i = 2; i <= n; ++i) {
      double c = ToDouble(d.type, list[i]);
      if (std::fabs(c - wanted) < std::fabs(best - wanted)) best = c;
    }
    v = best;
  }
  SANE_Word word = ToWord(d.type, v);
  const SANE_Int index = o->index;
  if (lib_.ControlOption(handle_, index, SANE_ACTION_SET_VALUE, &word, nullptr) != SANE_STATUS_GOOD)
    return std::nullopt;
  return GetNumber(name);
}

std::vector<std::string> TSaneSource::StringChoices(const char* name) const {
  std::vector<std::string> out;
  auto o = Find(name);
  if (!o || o->desc->type != SANE_TYPE_STRING || o->desc->constraint_type != SANE_CONSTRAINT_STRING_LIST ||
      !o->desc->constraint.string_list)
    return out;
  for (std::size_t i = 0; o->desc->constraint.string_list[i] && i < 1000; ++i) out.emplace_back(o->desc->constraint.string_list[i]);
  return out;
}

std::optional<std::string> TSaneSource::GetString(const char* name) const {
  auto o = Find(name);
  if (!o || o->desc->type != SANE_TYPE_STRING || o->desc->size <= 0 || !SANE_OPTION_IS_ACTIVE(o->desc->cap))
    return std::nullopt;
  std::vector<char> buf(static_cast<std::size_t>(o->desc->size) + 1, '\0');
  if (lib_.ControlOption(handle_, o->index, SANE_ACTION_GET_VALUE, buf.data(), nullptr) != SANE_STATUS_GOOD)
    return std::nullopt;
  return std::string(buf.data(), strnlen(buf.data(), buf.size()));
}

bool TSaneSource::SetString(const char* name, const std::string& value) {
  auto o = Find(name);
  if (!o || !Settable(*o) || o->desc->type != SANE_TYPE_STRING ||
      value.size() + 1 > static_cast<std::size_t>(std::max<SANE_Int>(o->desc->size, 0)))
    return false;
  std::vector<char> buf(static_cast<std::size_t>(o->desc->size), '\0');
  std::memcpy(buf.data(), value.data(), value.size());
  return lib_.ControlOption(handle_, o->index, SANE_ACTION_SET_VALUE, buf.data(), nullptr) == SANE_STATUS_GOOD;
}

bool TSaneSource::DepthOffers(int depth) const {
  auto o = Find(SANE_NAME_BIT_DEPTH);
  if (!o || !Settable(*o)) return false;
  const SANE_Option_Descriptor& d = *o->desc;
  if (d.type != SANE_TYPE_INT) return false;
  if (d.constraint_type == SANE_CONSTRAINT_WORD_LIST && d.constraint.word_list) {
    const SANE_Word n = std::min<SANE_Word>(d.constraint.word_list[0], 10000);
    for (SANE_Word i = 1; i <= n; ++i) {
      if (d.constraint.word_list[i] == depth) return true;
    }
    return false;
  }
  if (d.constraint_type == SANE_CONSTRAINT_RANGE && d.constraint.range)
    return d.constraint.range->min <= depth && depth <= d.constraint.range->max;
  return true;
}

// ---- Capabilities ----

bool TSaneSource::ApplyResolution(bool x, double dpi) {
  const char* own = x ? SANE_NAME_SCAN_X_RESOLUTION : SANE_NAME_SCAN_Y_RESOLUTION;
  bool done = false;
  if (auto o = Find(SANE_NAME_SCAN_RESOLUTION); o && Settable(*o)) done = SetNumber(SANE_NAME_SCAN_RESOLUTION, dpi).has_value();
  // Devices with separate axes take them as well.
  if (auto o = Find(own); o && Settable(*o)) done = SetNumber(own, dpi).has_value() || done;
  return done;
}

double TSaneSource::Resolution(bool x) const {
  if (auto v = GetNumber(x ? SANE_NAME_SCAN_X_RESOLUTION : SANE_NAME_SCAN_Y_RESOLUTION)) return *v;
  return GetNumber(SANE_NAME_SCAN_RESOLUTION).value_or(0.0);
}

bool TSaneSource::ApplyPixelType(TW_UINT16 pixelType) {
  const std::vector<std::string> modes = StringChoices(SANE_NAME_SCAN_MODE);
  if (modes.empty()) return false;
  switch (pixelType) {
    case TWPT_BW: {
      if (auto m = PickMode(modes, {SANE_VALUE_SCAN_MODE_LINEART, "Binary", "Black & White", "Black and White"},
                            {"lineart", "binary", "black"}, {"color", "colour"})) {
        return SetString(SANE_NAME_SCAN_MODE, *m);
      }
      // No line-art mode: grey with one bit per pixel is black and white too.
      auto grey = PickMode(modes, {SANE_VALUE_SCAN_MODE_GRAY, "Grey", "Grayscale", "Greyscale"}, {"gray", "grey"}, {});
      if (!grey || !SetString(SANE_NAME_SCAN_MODE, *grey) || !DepthOffers(1)) return false;
      return SetNumber(SANE_NAME_BIT_DEPTH, 1) == 1.0;
    }
    case TWPT_GRAY: {
      auto m = PickMode(modes, {SANE_VALUE_SCAN_MODE_GRAY, "Grey", "Grayscale", "Greyscale"}, {"gray", "grey"},
                        {"lineart", "halftone"});
      if (!m || !SetString(SANE_NAME_SCAN_MODE, *m)) return false;
      if (DepthOffers(8)) (void)SetNumber(SANE_NAME_BIT_DEPTH, 8);
      return true;
    }
    case TWPT_RGB: {
      auto m = PickMode(modes, {SANE_VALUE_SCAN_MODE_COLOR, "Colour", "RGB", "24bit Color"}, {"color", "colour", "rgb"},
                        {"lineart", "halftone", "48"});
      if (!m || !SetString(SANE_NAME_SCAN_MODE, *m)) return false;
      if (DepthOffers(8)) (void)SetNumber(SANE_NAME_BIT_DEPTH, 8);
      return true;
    }
    default:
      return false;  // SANE delivers no palette images
  }
}

std::optional<std::string> TSaneSource::SourceEntry(bool feeder, bool duplex, bool transmissive) const {
  const std::vector<std::string> entries = StringChoices(SANE_NAME_SCAN_SOURCE);
  auto first = [&](auto pred) -> std::optional<std::string> {
    for (const auto& e : entries) {
      if (pred(e)) return e;
    }
    return std::nullopt;
  };
  if (transmissive) return first(IsTransparencyEntry);
  if (feeder) return duplex ? first(IsDuplexEntry) : first(IsFeederEntry);
  if (auto flatbed = first(IsFlatbedEntry)) return flatbed;
  return first([](const std::string& e) { return !IsDuplexEntry(e) && !IsFeederEntry(e) && !IsTransparencyEntry(e); });
}

bool TSaneSource::ApplySource() {
  auto entry = SourceEntry(wanted_.feeder.value_or(false), wanted_.duplex, wanted_.transmissive);
  return entry && SetString(SANE_NAME_SCAN_SOURCE, *entry);
}

void TSaneSource::ApplyFullArea() {
  // The device's whole area: the corners at the limits of their ranges.
  const char* const corners[] = {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y, SANE_NAME_SCAN_BR_X, SANE_NAME_SCAN_BR_Y};
  for (int i = 0; i < 4; ++i) {
    const char* name = corners[i];
    auto o = Find(name);
    if (!o || !Settable(*o) || o->desc->constraint_type != SANE_CONSTRAINT_RANGE || !o->desc->constraint.range) continue;
    const bool topLeft = i < 2;
    const SANE_Range& r = *o->desc->constraint.range;
    (void)SetNumber(name, ToDouble(o->desc->type, topLeft ? r.min : r.max));
  }
}

void TSaneSource::ApplyAll() {
  // Source and mode first: changing them can reload the other options and their limits.
  if (wanted_.feeder || wanted_.transmissive) (void)ApplySource();
  if (wanted_.pixelType) (void)ApplyPixelType(*wanted_.pixelType);
  if (wanted_.xres) (void)ApplyResolution(true, *wanted_.xres);
  if (wanted_.yres) (void)ApplyResolution(false, *wanted_.yres);
  ApplyFullArea();
}

TW_UINT16 TSaneSource::SetCapability(TW_UINT16 cap, const TCapValue& value) {
  switch (cap) {
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
      if (!value.Is(TWTY_FIX32)) return Fail(TWCC_BADVALUE);
      const double dpi = value.Fix32.Whole + value.Fix32.Frac / 65536.0;
      if (dpi <= 0) return Fail(TWCC_BADVALUE);
      const bool x = cap == ICAP_XRESOLUTION;
      if (!ApplyResolution(x, dpi)) return Fail(TWCC_BADVALUE);
      (x ? wanted_.xres : wanted_.yres) = dpi;
      return TWRC_SUCCESS;
    }
    case ICAP_PIXELTYPE:
      if (!value.Is(TWTY_UINT16) || !ApplyPixelType(value.U16)) return Fail(TWCC_BADVALUE);
      wanted_.pixelType = value.U16;
      return TWRC_SUCCESS;
    case ICAP_BITDEPTH: {
      // The depth that goes with the pixel type is set with it; other depths are not offered.
      const TW_UINT16 type = wanted_.pixelType.value_or(TWPT_RGB);
      const TW_UINT16 depth = value.U16;
      const bool fits = (type == TWPT_BW && depth == 1) || (type == TWPT_GRAY && depth == 8) || (type == TWPT_RGB && depth == 24);
      return value.Is(TWTY_UINT16) && fits ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    }
    case CAP_FEEDERENABLED: {
      if (!value.Is(TWTY_BOOL)) return Fail(TWCC_BADVALUE);
      const bool on = value.U16 != 0;
      auto entry = SourceEntry(on, on && wanted_.duplex, false);
      // A flatbed without a source option is a flatbed already.
      if (!entry) return !on && StringChoices(SANE_NAME_SCAN_SOURCE).empty() ? TWRC_SUCCESS : Fail(TWCC_CAPUNSUPPORTED);
      if (!SetString(SANE_NAME_SCAN_SOURCE, *entry)) return Fail(TWCC_BADVALUE);
      wanted_.feeder = on;
      return TWRC_SUCCESS;
    }
    case CAP_DUPLEXENABLED: {
      if (!value.Is(TWTY_BOOL)) return Fail(TWCC_BADVALUE);
      const bool on = value.U16 != 0;
      if (on && !SourceEntry(true, true, false)) return Fail(TWCC_CAPUNSUPPORTED);
      wanted_.duplex = on;
      if (wanted_.feeder.value_or(false) && !ApplySource()) return Fail(TWCC_BADVALUE);
      return TWRC_SUCCESS;
    }
    case ICAP_LIGHTPATH: {
      if (!value.Is(TWTY_UINT16) || value.U16 > TWLP_TRANSMISSIVE) return Fail(TWCC_BADVALUE);
      const bool on = value.U16 == TWLP_TRANSMISSIVE;
      if (on && !SourceEntry(false, false, true)) return Fail(TWCC_CAPUNSUPPORTED);
      wanted_.transmissive = on;
      if ((on || wanted_.feeder) && !ApplySource()) return Fail(TWCC_BADVALUE);
      return TWRC_SUCCESS;
    }
    default:
      return Fail(TWCC_CAPUNSUPPORTED);
  }
}

// ---- Acquisition ----

bool TSaneSource::RunUserInterface() { return ConfirmScan(config_.Name + " (" + config_.SaneDevice + ")"); }

TW_UINT16 TSaneSource::Enable(TW_USERINTERFACE& ui) {
  ApplyAll();
  // Options are read before scanning: many backends refuse them while a page is being read.
  xdpi_ = Resolution(true);
  ydpi_ = Resolution(false);
  const auto source = GetString(SANE_NAME_SCAN_SOURCE);
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

SANE_Status TSaneSource::Start() {
  const std::vector<pid_t> before = platform::ThreadIds();
  const SANE_Status st = lib_.Start(handle_);
  // Threads that appeared during the start are the backend's readers for this frame.
  readers_.clear();
  if (st == SANE_STATUS_GOOD) {
    for (pid_t tid : platform::ThreadIds())
      if (std::find(before.begin(), before.end(), tid) == before.end()) readers_.push_back(tid);
  }
  return st;
}

void TSaneSource::CancelScan() {
  {
    platform::TCancelDeferral defer(readers_, kReaderExit);
    lib_.Cancel(handle_);
  }
  readers_.clear();
}

void TSaneSource::StartPage() {
  using Clock = std::chrono::steady_clock;
  const auto began = Clock::now();
  auto busyPause = kFirstBusyPause;
  for (;;) {
    status_ = Start();
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
    CancelScan();
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
  const bool colour = params_.format != SANE_FRAME_GRAY;
  const bool bw = !colour && params_.depth == 1;
  info.SamplesPerPixel = colour ? 3 : 1;
  for (int i = 0; i < info.SamplesPerPixel; ++i) info.BitsPerSample[i] = bw ? 1 : 8;
  info.BitsPerPixel = static_cast<TW_INT16>(colour ? 24 : bw ? 1 : 8);
  info.PixelType = static_cast<TW_INT16>(colour ? TWPT_RGB : bw ? TWPT_BW : TWPT_GRAY);
  return TWRC_SUCCESS;
}

SANE_Status TSaneSource::ReadRows(std::uint64_t maxRows, const std::function<bool(const std::uint8_t*)>& sink,
                                  std::uint64_t& rows) {
  using Clock = std::chrono::steady_clock;
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  const auto bpl = static_cast<std::size_t>(params_.bytes_per_line);
  // A small buffer used over and over: rows go on as soon as they are complete.
  std::vector<std::uint8_t> buf(std::max(kChunk, 2 * bpl));
  std::size_t have = 0;
  rows = 0;
  auto lastProgress = Clock::now();
  auto pause = std::chrono::milliseconds(1);
  // The read that returns a frame's last bytes is where some backends stop their reader.
  platform::TCancelDeferral defer(readers_, kReaderExit);
  for (;;) {
    // A caller's time-out also ends a page whose data trickles in.
    if (platform::InterruptRequested()) return SANE_STATUS_CANCELLED;
    SANE_Int len = 0;
    const auto room = static_cast<SANE_Int>(std::min<std::size_t>(buf.size() - have, kChunk));
    SANE_Status st = lib_.Read(handle_, buf.data() + have, room, &len);
    if (st == SANE_STATUS_EOF) {
      readers_.clear();  // the frame ran its course; the backend has ended its reader
      break;
    }
    if (st != SANE_STATUS_GOOD) return st;
    if (len > 0 && len <= room) {
      have += static_cast<std::size_t>(len);
      std::size_t off = 0;
      for (; have - off >= bpl; off += bpl) {
        // Rows beyond the announced height are read and dropped.
        if (rows < maxRows) {
          if (!sink(buf.data() + off)) return SANE_STATUS_NO_MEM;
          ++rows;
        }
      }
      std::memmove(buf.data(), buf.data() + off, have - off);
      have -= off;
      lastProgress = Clock::now();
      pause = std::chrono::milliseconds(1);
      continue;
    }
    // A read without data: wait a little, and give up once nothing has come for the timeout.
    if (Clock::now() - lastProgress > std::chrono::seconds(readTimeoutSeconds_)) {
      stalled_ = true;
      return SANE_STATUS_IO_ERROR;
    }
    if (!platform::SleepUnlessInterrupted(pause)) return SANE_STATUS_CANCELLED;
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
  return SANE_STATUS_GOOD;
}

std::optional<TPageImage> TSaneSource::ReadPage() {
  const int width = params_.pixels_per_line;
  const std::int64_t bpl = params_.bytes_per_line;
  const int depth = params_.depth;
  const bool threePass = params_.format == SANE_FRAME_RED || params_.format == SANE_FRAME_GREEN ||
                         params_.format == SANE_FRAME_BLUE;
  const bool colour = params_.format != SANE_FRAME_GRAY;
  const int channels = params_.format == SANE_FRAME_RGB ? 3 : 1;
  if (params_.format > SANE_FRAME_BLUE || width <= 0 || bpl <= 0 || bpl > kMaxBytesPerLine ||
      (depth != 1 && depth != 8 && depth != 16) ||
      static_cast<std::uint64_t>(bpl) * 8 < static_cast<std::uint64_t>(width) * channels * static_cast<unsigned>(depth)) {
    status_ = SANE_STATUS_INVAL;
    return std::nullopt;
  }
  const bool bw = !colour && depth == 1;
  const unsigned bits = colour ? 24 : bw ? 1 : 8;
  const unsigned colours = colour ? 0 : bw ? 2 : 256;
  const std::uint64_t stride = DibStride(static_cast<std::uint64_t>(width), bits);
  const std::size_t used = (static_cast<std::size_t>(width) * bits + 7) / 8;
  const std::uint64_t maxRows = std::min<std::uint64_t>(kMaxFrameBytes / static_cast<std::uint64_t>(bpl), 0x7FFFFFFF);

  // One row of a single-pass frame into a DIB row.
  auto convert = [&](const std::uint8_t* src, std::uint8_t* dst) {
    if (bw) {
      // SANE's 1 is black; the palette's index 1 is white.
      for (std::size_t i = 0; i < used; ++i) dst[i] = static_cast<std::uint8_t>(~src[i]);
      if (width % 8) dst[used - 1] &= static_cast<std::uint8_t>(0xFF00 >> (width % 8));
    } else if (!colour) {
      if (depth == 8) {
        std::memcpy(dst, src, used);
      } else {
        for (int x = 0; x < width; ++x) dst[x] = SampleAt(src, static_cast<std::size_t>(x), depth);
      }
    } else if (depth == 8) {
      RgbToBgrRow(src, dst, static_cast<std::size_t>(width));
    } else {
      for (int x = 0; x < width; ++x) {
        for (int c = 0; c < 3; ++c) dst[3 * x + 2 - c] = SampleAt(src, static_cast<std::size_t>(3 * x + c), depth);
      }
    }
    std::memset(dst + used, 0, stride - used);
  };

  // The bitmap for a height; its pixel rows, bottom row first.
  TPageImage page;
  std::unique_ptr<platform::GlobalLockGuard> lock;
  auto allocate = [&](std::uint64_t rows) -> std::uint8_t* {
    page.Dib = platform::GlobalBlock(platform::GMEM_MOVEABLE,
                                     PackedDibSize(PackedDibHeader(width, static_cast<std::int32_t>(rows), bits, colours, 0, 0)));
    if (!page.Dib) return nullptr;
    lock = std::make_unique<platform::GlobalLockGuard>(page.Dib.get());
    auto* out = lock->as<std::uint8_t>();
    if (!out) return nullptr;
    TRgbQuad table[256];
    for (unsigned i = 0; i < colours; ++i) {
      const auto v = static_cast<std::uint8_t>(bw ? i * 255 : i);
      table[i] = TRgbQuad{v, v, v, 0};
    }
    return WritePackedDibHead(
        out, PackedDibHeader(width, static_cast<std::int32_t>(rows), bits, colours, xdpi_, ydpi_), table);
  };
  auto fail = [&](SANE_Status st) -> std::optional<TPageImage> {
    status_ = st;
    return std::nullopt;
  };

  if (!threePass && params_.lines > 0) {
    // The height is known: rows go straight into the bitmap as they arrive.
    const auto lines = std::min<std::uint64_t>(static_cast<std::uint64_t>(params_.lines), maxRows);
    std::uint8_t* pixels = allocate(lines);
    if (!pixels) return fail(SANE_STATUS_NO_MEM);
    // The top row, which comes first, is the last in the bitmap.
    platform::TPrefaulter prefault(pixels, static_cast<std::size_t>(stride * lines), true);
    std::uint64_t y = 0;
    std::uint64_t rows = 0;
    SANE_Status st = ReadRows(lines, [&](const std::uint8_t* src) {
      convert(src, pixels + (lines - 1 - y++) * stride);
      return true;
    }, rows);
    if (st != SANE_STATUS_GOOD) return fail(st);
    if (rows == 0) return fail(SANE_STATUS_IO_ERROR);
    // A page cut short is completed with white paper.
    for (std::uint64_t r = rows; r < lines; ++r) std::memset(pixels + (lines - 1 - r) * stride, 0xFF, stride);
    lock.reset();
    return page;
  }

  // Unknown height or one frame per colour: the frames are kept until the last one is in.
  std::array<std::vector<std::uint8_t>, 3> planes;
  std::array<std::uint64_t, 3> planeRows{0, 0, 0};
  std::array<bool, 3> have{false, false, false};
  for (int frame = 0;; ++frame) {
    std::size_t slot = 0;
    if (params_.format == SANE_FRAME_GREEN) slot = 1;
    if (params_.format == SANE_FRAME_BLUE) slot = 2;
    if (params_.pixels_per_line != width || params_.bytes_per_line != bpl || params_.depth != depth) {
      return fail(SANE_STATUS_INVAL);
    }
    std::vector<std::uint8_t>& plane = planes[slot];
    plane.clear();
    const std::uint64_t limit = params_.lines > 0 ? std::min<std::uint64_t>(params_.lines, maxRows) : maxRows;
    SANE_Status st = ReadRows(limit, [&](const std::uint8_t* src) {
      plane.insert(plane.end(), src, src + bpl);
      return true;
    }, planeRows[slot]);
    if (st != SANE_STATUS_GOOD) return fail(st);
    have[slot] = true;
    if (params_.last_frame || !threePass || frame >= 2) break;
    st = Start();
    if (st != SANE_STATUS_GOOD) return fail(st);
    if (lib_.GetParameters(handle_, &params_) != SANE_STATUS_GOOD) return fail(SANE_STATUS_IO_ERROR);
  }
  if (threePass && !(have[0] && have[1] && have[2])) return fail(SANE_STATUS_INVAL);
  std::uint64_t rows = planeRows[0];
  if (threePass) rows = std::min({rows, planeRows[1], planeRows[2]});
  if (rows == 0) return fail(SANE_STATUS_IO_ERROR);
  std::uint8_t* pixels = allocate(rows);
  if (!pixels) return fail(SANE_STATUS_NO_MEM);
  for (std::uint64_t y = 0; y < rows; ++y) {
    // SANE sends rows top first; a DIB keeps the bottom row first.
    std::uint8_t* dst = pixels + (rows - 1 - y) * stride;
    const std::uint8_t* r = planes[0].data() + y * static_cast<std::uint64_t>(bpl);
    if (!threePass) {
      convert(r, dst);
      continue;
    }
    const std::uint8_t* g = planes[1].data() + y * static_cast<std::uint64_t>(bpl);
    const std::uint8_t* b = planes[2].data() + y * static_cast<std::uint64_t>(bpl);
    for (int x = 0; x < width; ++x) {
      dst[3 * x] = SampleAt(b, static_cast<std::size_t>(x), depth);
      dst[3 * x + 1] = SampleAt(g, static_cast<std::size_t>(x), depth);
      dst[3 * x + 2] = SampleAt(r, static_cast<std::size_t>(x), depth);
    }
    std::memset(dst + used, 0, stride - used);
  }
  lock.reset();
  return page;
}

TW_UINT16 TSaneSource::NativeTransfer(platform::HGLOBAL& handle) {
  if (state_ != ESourceState::TransferReady) return Fail(TWCC_SEQERROR);
  if (!started_ && status_ == SANE_STATUS_GOOD) StartPage();
  if (started_) {
    if (auto page = ReadPage()) {
      handle = page->Dib.release();
      started_ = false;
      state_ = ESourceState::Transferring;
      ++delivered_;
      return TWRC_XFERDONE;
    }
    CancelScan();
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
  CancelScan();
  finished_ = true;
  state_ = ESourceState::Enabled;
  return TWRC_SUCCESS;
}

}  // namespace lumipage::dsm
