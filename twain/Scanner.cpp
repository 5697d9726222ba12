#include "twain/Scanner.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <cstring>
#include <exception>
#include <strings.h>

#include "platform/GlobalMemory.h"
#include "platform/Interrupt.h"
#include "platform/SystemFolder.h"
#include "twain/TwainText.h"

namespace lumipage {

using namespace twain;

namespace {

std::atomic<bool> g_scannerExists{false};

// One line of printable text, whatever a driver put into it: it goes into the settings file's
// scanner list and the report as a value.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return text;
}

// A source's name as the job shows it.
std::string ProductNameOf(const TW_IDENTITY& id) { return OneLine(FieldText(id.ProductName)); }

std::string ConditionText(TW_UINT16 condition) {
  switch (condition) {
    case TWCC_LOWMEMORY:
      return "Not enough memory for the page";
    case TWCC_OPERATIONERROR:
      return "Scanner I/O error";
    case TWCC_DENIED:
      return "Scanner is busy";
    case TWCC_PAPERJAM:
      return "Document feeder jammed";
    case TWCC_PAPERDOUBLEFEED:
      return "Paper double feed";
    case TWCC_CHECKDEVICEONLINE:
      return "Scanner is offline or not responding";
    case TWCC_INTERLOCK:
      return "Scanner cover is open";
    case TWCC_NOMEDIA:
      return "No paper in the document feeder";
    default:
      return "Image transfer failed (TWAIN condition code " + std::to_string(condition) + ")";
  }
}

}  // namespace

ETransferError::ETransferError(TW_UINT16 condition, const std::string& detail)
    : ETwainError("Image transfer failed (TWAIN condition code " + std::to_string(condition) + ")"),
      text_(detail.empty() ? ConditionText(condition) : detail) {}

void TScanner::LibraryCloser::operator()(void* handle) const {
  if (handle) dlclose(handle);
}

TScanner::TScanner() {
  if (g_scannerExists.exchange(true)) throw EScannerError("Only one scanner object is permitted");
  appIdentity_.Id = 0;
  appIdentity_.Version.MajorNum = 1;
  appIdentity_.Version.MinorNum = 0;
  appIdentity_.Version.Language = TWLG_ENGLISH;
  appIdentity_.Version.Country = TWCY_USA;
  appIdentity_.ProtocolMajor = 1;
  appIdentity_.ProtocolMinor = 5;
  appIdentity_.SupportedGroups = DG_SUPPORTED;
}

TScanner::~TScanner() {
  Close();
  g_scannerExists = false;
}

TScanner& TScanner::Instance() {
  static std::unique_ptr<TScanner> instance = [] {
    // The platform's window and memory registries must outlive the object destroyed at process
    // end, so they are brought into being first (statics die in reverse order of creation).
    (void)platform::GlobalLiveCount();
    (void)platform::PendingMessageCount();
    return std::make_unique<TScanner>();
  }();
  return *instance;
}

bool TScanner::Exists() { return g_scannerExists; }

bool TScanner::DsmCall(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data,
                       TW_UINT16* returnCode) {
  if (!dsmEntry_) {
    if (returnCode) *returnCode = TWRC_FAILURE;
    lastCondition_ = TWCC_SEQERROR;
    return false;
  }
  TW_UINT16 rc = dsmEntry_(&appIdentity_, dest, dg, dat, msg, data);
  if (returnCode) *returnCode = rc;
  if (rc == TWRC_SUCCESS) return true;
  TW_STATUS status{};
  status.ConditionCode = TWCC_BUMMER;
  if (dsmEntry_(&appIdentity_, dest, DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS) {
    status.ConditionCode = TWCC_BUMMER;
  }
  lastCondition_ = status.ConditionCode;
  return rc == TWRC_CHECKSTATUS && status.ConditionCode == TWCC_SUCCESS;
}

void TScanner::Error(const std::string& message) {
  if (OnError) {
    OnError(this, message);
    return;
  }
  throw EScannerError(message);
}

void TScanner::Open() {
  if (dsmLibrary_) return;

  std::string folder = platform::SystemFolder();
  if (folder.empty()) return Error("GetWindowsDirectory failed");
  std::string path = folder;
  if (path.back() != '/') path += '/';
  path += kDsmLibraryName;

  dsmLibrary_.reset(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!dsmLibrary_) return Error("LoadLibrary(" + path + ") failed");

  // Every later failure leaves the object closed, so a handler that returns never sees a
  // half-open connection.
  dsmEntry_ = reinterpret_cast<DSMENTRYPROC>(dlsym(dsmLibrary_.get(), "DSM_Entry"));
  if (!dsmEntry_) {
    Close();
    return Error("GetProcAddress failed: DSM_Entry");
  }

  twainWindow_ = platform::CreateWindow("STATIC", "Twain Window");
  if (!twainWindow_) {
    Close();
    return Error("CreateWindow failed");
  }

  if (!DsmCall(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &twainWindow_)) {
    // Nothing to close on the source manager's side: only the window and the library.
    platform::DestroyWindow(twainWindow_);
    twainWindow_ = nullptr;
    Close();
    return Error("Unable to open TWAIN source manager");
  }

  FillSources();
  GetDefaultSource();
}

void TScanner::FillSources() {
  sourceNames_.clear();
  sourceIdentities_.clear();
  TW_IDENTITY scratch{};
  bool ok = DsmCall(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &scratch);
  while (ok) {
    sourceNames_.push_back(ProductNameOf(scratch));
    sourceIdentities_.push_back(std::make_unique<TW_IDENTITY>(scratch));
    scratch = TW_IDENTITY{};
    ok = DsmCall(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &scratch);
  }
}

void TScanner::GetDefaultSource() {
  TW_IDENTITY scratch{};
  if (!DsmCall(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &scratch)) {
    return Error("Unable to get TWAIN default source");
  }
  defaultSourceName_ = ProductNameOf(scratch);
  for (std::size_t i = 0; i < sourceNames_.size(); ++i) {
    if (strcasecmp(sourceNames_[i].c_str(), defaultSourceName_.c_str()) == 0) {
      sourceIndex_ = static_cast<int>(i);
      return;
    }
  }
}

void TScanner::Close() {
  if (twainWindow_) {
    (void)DsmCall(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &twainWindow_);
    platform::DestroyWindow(twainWindow_);
    twainWindow_ = nullptr;
  }
  dsmEntry_ = nullptr;
  dsmLibrary_.reset();
}

void TScanner::SelectSource(int index) {
  if (index >= 0 && static_cast<std::size_t>(index) < sourceNames_.size()) sourceIndex_ = index;
}

bool TScanner::SelectSourceDialog() {
  Open();
  sourceIdentity_ = TW_IDENTITY{};
  bool chosen = DsmCall(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &sourceIdentity_);
  // The source manager makes a chosen source its default, so the default is the current one.
  GetDefaultSource();
  return chosen;
}

void TScanner::RefreshSources() {
  Open();
  if (!dsmEntry_) return;
  // A source manager that keeps no cache refuses the message; its list is fresh already.
  TW_IDENTITY scratch{};
  if (!DsmCall(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_LP_REFRESHLIST, &scratch)) return;
  const std::string current =
      sourceIndex_ >= 0 && static_cast<std::size_t>(sourceIndex_) < sourceNames_.size() ? sourceNames_[sourceIndex_] : "";
  FillSources();
  sourceIndex_ = -1;
  GetDefaultSource();
  for (std::size_t i = 0; i < sourceNames_.size() && !current.empty(); ++i) {
    if (sourceNames_[i] == current) {
      sourceIndex_ = static_cast<int>(i);
      break;
    }
  }
}

int TScanner::DeviceSource(const std::string& deviceName) {
  Open();
  TW_LP_DEVICE query{};
  if (!dsmEntry_ || deviceName.empty() || deviceName.size() >= sizeof query.DeviceName) return -1;
  CopyText(query.DeviceName, deviceName);
  if (!DsmCall(nullptr, DG_CONTROL, DAT_LP_DEVICE, MSG_GET, &query)) return -1;
  const std::string name = ProductNameOf(query.Source);
  auto position = [this, &name] {
    for (std::size_t i = 0; i < sourceNames_.size(); ++i) {
      if (sourceNames_[i] == name) return static_cast<int>(i);
    }
    return -1;
  };
  if (position() < 0) {
    // The source manager looked for devices anew or made a source for the name: list again,
    // keeping the current source current.
    const std::string current =
        sourceIndex_ >= 0 && static_cast<std::size_t>(sourceIndex_) < sourceNames_.size() ? sourceNames_[sourceIndex_] : "";
    FillSources();
    sourceIndex_ = -1;
    for (std::size_t i = 0; i < sourceNames_.size(); ++i) {
      if (!current.empty() && sourceNames_[i] == current) sourceIndex_ = static_cast<int>(i);
    }
    if (sourceIndex_ < 0) GetDefaultSource();
  }
  return position();
}

void TScanner::SetProductName(const std::string& text) { CopyText(appIdentity_.ProductName, text, 32); }

bool TScanner::ProcessTwainEvent(const platform::MSG& msg, bool& done) {
  TW_EVENT event{};
  event.pEvent = const_cast<platform::MSG*>(&msg);
  event.TWMessage = MSG_NULL;
  TW_UINT16 rc = TWRC_FAILURE;
  (void)DsmCall(&sourceIdentity_, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event, &rc);
  bool claimed = rc == TWRC_DSEVENT;
  switch (event.TWMessage) {
    case MSG_XFERREADY:
      TransferLoop(done);
      break;
    case MSG_CLOSEDSREQ:
    case MSG_CLOSEDSOK:
      done = true;
      break;
    default:
      break;
  }
  return claimed;
}

void TScanner::TwainMessageLoop() {
  bool done = false;
  while (!done) {
    platform::MSG msg;
    if (!platform::GetMessage(msg)) break;
    if (!ProcessTwainEvent(msg, done)) {
      platform::TranslateMessage(msg);
      platform::DispatchMessage(msg);
    }
    // Between messages the source waits in its enabled state: a safe point to stop.
    if (!done) platform::CheckInterrupt();
  }
}

bool TScanner::SetCapOneValue(TW_UINT16 cap, TW_UINT16 itemType, std::int32_t value) {
  platform::GlobalBlock block(platform::GHND, sizeof(TW_ONEVALUE));
  if (!block) throw std::bad_alloc();
  {
    platform::GlobalLockGuard lock(block.get());
    auto* one = lock.as<TW_ONEVALUE>();
    if (!one) throw std::bad_alloc();
    one->ItemType = itemType;
    one->Item = static_cast<TW_UINT32>(value);
  }
  TW_CAPABILITY capability{};
  capability.Cap = cap;
  capability.ConType = TWON_ONEVALUE;
  capability.hContainer = block.get();
  // A source that refuses a capability keeps its own setting.
  return DsmCall(&sourceIdentity_, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
}

void TScanner::NegotiateScanParameters() {
  struct Kind {
    TW_UINT16 pixelType;
    TW_UINT16 bitDepth;
  };
  static constexpr Kind kKinds[] = {{TWPT_BW, 1},      {TWPT_GRAY, 4},    {TWPT_GRAY, 8},
                                    {TWPT_PALETTE, 4}, {TWPT_PALETTE, 8}, {TWPT_RGB, 24}};
  // A TW_FIX32 with fraction 0 is the whole part in the low 16 bits.
  SetCapOneValue(ICAP_XRESOLUTION, TWTY_FIX32, static_cast<std::uint16_t>(XResolution));
  SetCapOneValue(ICAP_YRESOLUTION, TWTY_FIX32, static_cast<std::uint16_t>(YResolution));
  if (ImageType > 5) throw ETwainError("Invalid image type");
  SetCapOneValue(ICAP_PIXELTYPE, TWTY_UINT16, kKinds[ImageType].pixelType);
  SetCapOneValue(ICAP_BITDEPTH, TWTY_UINT16, kKinds[ImageType].bitDepth);
  SetCapOneValue(CAP_INDICATORS, TWTY_BOOL, ShowIndicators ? 1 : 0);
  SetCapOneValue(CAP_FEEDERENABLED, TWTY_BOOL, FeederEnabled ? 1 : 0);
  SetCapOneValue(CAP_AUTOFEED, TWTY_BOOL, FeederEnabled ? 1 : 0);
  // A source without a duplex unit refuses this and scans one side, like any refused capability.
  SidesInPairs = SetCapOneValue(CAP_DUPLEXENABLED, TWTY_BOOL, DuplexEnabled ? 1 : 0) && DuplexEnabled;
  SetCapOneValue(CAP_FEEDERORDER, TWTY_UINT16, TWFO_FIRSTPAGEFIRST);
  if (Transmissive) SetCapOneValue(ICAP_LIGHTPATH, TWTY_UINT16, TWLP_TRANSMISSIVE);
}

void TScanner::Acquire(std::intptr_t passThrough, TImageHandler handler) {
  Open();
  if (sourceIndex_ < 0 || static_cast<std::size_t>(sourceIndex_) >= sourceIdentities_.size()) {
    throw ETwainError("No TWAIN source selected");
  }
  std::memcpy(sourceIdentity_.ProductName, sourceIdentities_[sourceIndex_]->ProductName,
              sizeof sourceIdentity_.ProductName);
  if (!OpenSource() && !OpenInPlaceOfGoneSource()) {
    platform::CheckInterrupt();  // the retries ended by a caller's time-out, not by the scanner
    throw ETwainError("Unable to open TWAIN source");
  }

  bool wasEnabled = !platform::EnableWindow(twainWindow_, false);
  imageHandler_ = std::move(handler);
  passThrough_ = passThrough;
  pendingCountUnknown_ = false;

  std::exception_ptr failure;
  TW_USERINTERFACE ui{};
  bool sourceEnabled = false;
  try {
    SetCapOneValue(ICAP_XFERMECH, TWTY_UINT16, TWSX_NATIVE);
    SetCapOneValue(CAP_XFERCOUNT, TWTY_INT16, -1);
    SetCapOneValue(ICAP_UNITS, TWTY_UINT16, TWUN_INCHES);
    // Not scan parameters but how an unattended job copes: sent also with the source's dialog,
    // and only when asked for, so that sources without them see no change.
    if (WaitForPaper > 0) SetCapOneValue(CAP_LP_WAITFORPAPER, TWTY_UINT16, std::min(WaitForPaper, kMaxWaitSeconds));
    if (RetryBusy > 0) SetCapOneValue(CAP_LP_RETRYBUSY, TWTY_UINT16, std::min(RetryBusy, kMaxWaitSeconds));
    if (!ShowUI) NegotiateScanParameters();
    ui.ShowUI = ShowUI ? 0xFFFF : 0;
    ui.ModalUI = 0xFFFF;
    ui.hParent = twainWindow_;
    if (!DsmCall(&sourceIdentity_, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui)) {
      throw ETwainError("Unable to enable twain source.");
    }
    sourceEnabled = true;
    TwainMessageLoop();
  } catch (...) {
    failure = std::current_exception();
  }

  if (sourceEnabled && !DsmCall(&sourceIdentity_, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui) && failure) {
    // A failure that left the source with a transfer announced (a notice still queued when the
    // failure struck): drop it, so that the source can still be disabled and closed.
    ResetPendingTransfers();
    (void)DsmCall(&sourceIdentity_, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
  }
  if (wasEnabled) platform::EnableWindow(twainWindow_, true);
  imageHandler_ = nullptr;
  if (sourceIdentity_.Id != 0) {
    if (DsmCall(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &sourceIdentity_)) {
      sourceIdentity_ = TW_IDENTITY{};
    } else {
      failure = std::make_exception_ptr(ETwainError("Unable to close TWAIN data source"));
    }
  }
  if (failure) std::rethrow_exception(failure);
  if (OnDone) OnDone(this);
}

bool TScanner::OpenSource() {
  using Clock = std::chrono::steady_clock;
  const TW_IDENTITY asked = sourceIdentity_;
  const auto deadline = Clock::now() + std::chrono::seconds(std::clamp(RetryBusy, 0, kMaxWaitSeconds));
  auto pause = std::chrono::milliseconds(kFirstRetryPauseMs);
  for (;;) {
    if (DsmCall(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &sourceIdentity_)) return true;
    // Busy, or a failure that may pass (a device still starting up); a source that is not there
    // or a refusal for any other reason is final.
    const bool mayPass = lastCondition_ == TWCC_DENIED || lastCondition_ == TWCC_OPERATIONERROR ||
                         lastCondition_ == TWCC_BUMMER;
    const auto now = Clock::now();
    if (!mayPass || now >= deadline) return false;
    if (!platform::SleepUnlessInterrupted(std::min<Clock::duration>(pause, deadline - now))) return false;
    pause = std::min(pause * 2, std::chrono::milliseconds(kLongestRetryPauseMs));
    sourceIdentity_ = asked;
  }
}

bool TScanner::OpenInPlaceOfGoneSource() {
  if (lastCondition_ != TWCC_NODS) return false;
  const std::string asked = sourceNames_[static_cast<std::size_t>(sourceIndex_)];
  RefreshSources();
  // Still listed: it is there but does not open. Gone with no default to take its place: nothing
  // to open.
  if (sourceIndex_ < 0 || static_cast<std::size_t>(sourceIndex_) >= sourceIdentities_.size() ||
      strcasecmp(sourceNames_[static_cast<std::size_t>(sourceIndex_)].c_str(), asked.c_str()) == 0)
    return false;
  sourceIdentity_ = TW_IDENTITY{};
  std::memcpy(sourceIdentity_.ProductName, sourceIdentities_[static_cast<std::size_t>(sourceIndex_)]->ProductName,
              sizeof sourceIdentity_.ProductName);
  return OpenSource();
}

void TScanner::TransferLoop(bool& done) {
  bool pending = true;
  int infoFailures = 0;
  while (pending) {
    if (platform::InterruptRequested()) {
      // Before the next page: drop the pages still pending, so that the source can be
      // disabled and closed.
      ResetPendingTransfers();
      done = true;
      throw platform::EJobInterrupted();
    }
    TW_IMAGEINFO info{};
    TW_UINT16 rc = TWRC_FAILURE;
    (void)DsmCall(&sourceIdentity_, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info, &rc);
    if (rc != TWRC_SUCCESS) {
      if (++infoFailures <= kMaxImageInfoRetries) continue;
      ResetPendingTransfers();
      done = true;
      return;
    }
    infoFailures = 0;

    platform::HGLOBAL handle = nullptr;
    rc = TWRC_FAILURE;
    (void)DsmCall(&sourceIdentity_, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle, &rc);
    // From here the page's block belongs to this owner until the image handler takes it; what is
    // left is freed on every path, also when the handler fails.
    TTransferBlock block(handle);
    if (rc == TWRC_XFERDONE) {
      if (block && imageHandler_) {
        try {
          imageHandler_(block, static_cast<std::uint16_t>(info.XResolution.Whole),
                        static_cast<std::uint16_t>(info.YResolution.Whole), passThrough_);
        } catch (...) {
          // The source is still in its transfer state, where it can be neither disabled nor
          // closed: end the transfer and drop the pages still pending, so that the source
          // closes cleanly and the handler's own failure is the one that leaves Acquire.
          if (EndTransfer()) ResetPendingTransfers();
          done = true;
          throw;
        }
      }
      pending = EndTransfer();
      if (!pending) done = true;
    } else if (rc == TWRC_CANCEL) {
      pending = EndTransfer();
      if (pending) ResetPendingTransfers();
      pending = false;
      done = true;
      // A source breaks off a page or a wait when the job is interrupted: that is no user's Cancel.
      platform::CheckInterrupt();
    } else {
      TW_UINT16 condition = lastCondition_;
      const std::string detail = StatusText(condition);
      bool countWasUnknown = pendingCountUnknown_;
      (void)EndTransfer();
      ResetPendingTransfers();
      pending = false;
      done = true;
      // A wait for paper or for a busy scanner that a caller's time-out ended fails the page.
      platform::CheckInterrupt();
      // A source that announced further pages and then fails one has lost that page: the job
      // must hear of it. After an unknown count (-1) a failing transfer is how such a source
      // says its feeder is empty.
      if (!countWasUnknown) {
        throw ETransferError(condition, detail);
      }
    }
  }
}

std::string TScanner::StatusText(TW_UINT16 condition) {
  TW_STATUSUTF8 status{};
  status.Status.ConditionCode = condition;
  TW_UINT16 rc = TWRC_FAILURE;
  (void)DsmCall(&sourceIdentity_, DG_CONTROL, DAT_STATUSUTF8, MSG_GET, &status, &rc);
  if (rc != TWRC_SUCCESS || !status.UTF8string) return {};
  // The text's block is ours to free.
  platform::GlobalBlock block(static_cast<platform::HGLOBAL>(status.UTF8string));
  platform::GlobalLockGuard lock(block.get());
  const auto* text = lock.as<const char>();
  if (!text) return {};
  const std::size_t size = std::min<std::size_t>(status.Size, lock.size());
  return OneLine(std::string(text, strnlen(text, size)));
}

bool TScanner::EndTransfer() {
  TW_PENDINGXFERS pendingXfers{};
  TW_UINT16 rc = TWRC_FAILURE;
  (void)DsmCall(&sourceIdentity_, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pendingXfers, &rc);
  if (rc == TWRC_SUCCESS) {
    pendingCountUnknown_ = pendingXfers.Count == 0xFFFF;
    return pendingXfers.Count != 0;
  }
  ResetPendingTransfers();
  return false;
}

void TScanner::ResetPendingTransfers() {
  TW_PENDINGXFERS pendingXfers{};
  (void)DsmCall(&sourceIdentity_, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pendingXfers);
}

}  // namespace lumipage
