// The scanner object against a scripted source manager: the connection, the status rule, the
// source list and every path of an acquisition.
#include "twain/Scanner.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "platform/GlobalMemory.h"
#include "tests/twain/FakeDsm.h"
#include "tests/twain/TwainTestSupport.h"

namespace lumipage {
namespace {

using namespace twain;
using fakedsm::FakeDsmScript;
using fakedsm::FakeTransfer;
using lumipage::testing::DrainMessages;
using lumipage::testing::FailureOf;
using lumipage::testing::ScopedEnv;

struct Delivered {
  std::uint16_t xres, yres;
  std::intptr_t pass;
};

class ScannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = std::make_unique<ScopedEnv>("LUMIPAGE_SYSTEM_DIR", LUMIPAGE_FAKE_DSM_DIR);
    // Held open so the script can be set before the scanner loads the same library.
    lib_ = dlopen(LUMIPAGE_FAKE_DSM_DIR "/libtwain_32.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib_, nullptr) << dlerror();
    auto get = reinterpret_cast<FakeDsmScript* (*)()>(dlsym(lib_, "FakeDsm_Script"));
    ASSERT_NE(get, nullptr);
    script_ = get();
    *script_ = FakeDsmScript{};
    blocksBefore_ = platform::GlobalLiveCount();
  }
  void TearDown() override {
    scanner_.reset();
    DrainMessages();
    if (lib_) dlclose(lib_);
  }

  TScanner& Scanner() {
    if (!scanner_) {
      scanner_ = std::make_unique<TScanner>();
      scanner_->OnDone = [this](void*) { ++doneCalls_; };
    }
    return *scanner_;
  }

  void Acquire() {
    Scanner().Acquire(42, [this](TTransferBlock& dib, std::uint16_t x, std::uint16_t y, std::intptr_t pass) {
      EXPECT_TRUE(platform::GlobalIsValid(dib.get()));
      EXPECT_FALSE(platform::IsWindowEnabled(Scanner().TwainWindow()));
      pages_.push_back({x, y, pass});
    });
  }

  std::vector<std::uint16_t> CapsSent() const {
    std::vector<std::uint16_t> caps;
    for (const auto& c : script_->Calls(DAT_CAPABILITY, MSG_SET)) caps.push_back(c.cap);
    return caps;
  }

  std::unique_ptr<ScopedEnv> env_;
  void* lib_ = nullptr;
  FakeDsmScript* script_ = nullptr;
  std::size_t blocksBefore_ = 0;
  std::unique_ptr<TScanner> scanner_;
  std::vector<Delivered> pages_;
  int doneCalls_ = 0;
};

TEST_F(ScannerTest, OpenListsSourcesAndFindsTheDefaultWhateverItsLetterCase) {
  script_->sources = {"Alpha", "Beta"};
  script_->defaultName = "BETA";
  Scanner().Open();
  EXPECT_EQ(Scanner().Sources(), (std::vector<std::string>{"Alpha", "Beta"}));
  EXPECT_EQ(Scanner().SourceIndex(), 1);
  EXPECT_EQ(Scanner().DefaultSourceName(), "BETA");
  EXPECT_EQ(std::string(Scanner().SourceEntry(0).ProductName), "Alpha");
  EXPECT_TRUE(Scanner().DsmLoaded());
  EXPECT_EQ(platform::GetWindowClassName(Scanner().TwainWindow()), "STATIC");
  EXPECT_EQ(script_->parent, Scanner().TwainWindow());
}

TEST_F(ScannerTest, OpenTwiceDoesNotListTheSourcesTwice) {
  Scanner().Open();
  Scanner().Open();
  EXPECT_EQ(Scanner().Sources().size(), 2u);
  EXPECT_EQ(script_->Calls(DAT_PARENT, MSG_OPENDSM).size(), 1u);
  EXPECT_EQ(script_->Calls(DAT_IDENTITY, MSG_GETFIRST).size(), 1u);
}

TEST_F(ScannerTest, AppIdentityAnnouncesTheProductNameCutTo32Characters) {
  Scanner().SetProductName(std::string(40, 'x'));
  const TW_IDENTITY& app = Scanner().AppIdentity();
  EXPECT_EQ(std::string(app.ProductName), std::string(32, 'x'));
  EXPECT_EQ(app.ProtocolMajor, 1);
  EXPECT_EQ(app.ProtocolMinor, 5);
  EXPECT_EQ(app.SupportedGroups, 3u);
  EXPECT_EQ(app.Version.MajorNum, 1);
  EXPECT_EQ(app.Version.Language, 2);
  EXPECT_EQ(app.Version.Country, 1);
}

TEST_F(ScannerTest, DefaultMissingFromTheListLeavesNoCurrentSource) {
  script_->defaultName = "Gamma";
  Scanner().Open();
  EXPECT_EQ(Scanner().SourceIndex(), -1);
  EXPECT_EQ(Scanner().DefaultSourceName(), "Gamma");
  EXPECT_THROW(Acquire(), ETwainError);
  EXPECT_EQ(doneCalls_, 0);
}

struct StatusCase {
  std::uint16_t rc;
  std::uint16_t condition;
  bool opens;
};

void PrintTo(const StatusCase& c, std::ostream* os) { *os << "rc " << c.rc << " condition " << c.condition; }

class ScannerStatusTest : public ScannerTest, public ::testing::WithParamInterface<StatusCase> {};

// Every call goes through one rule: success, or TWRC_CHECKSTATUS with a successful condition.
TEST_P(ScannerStatusTest, OpenDsmAnswerFollowsTheStatusRule) {
  script_->openDsmRc = GetParam().rc;
  script_->openDsmCondition = GetParam().condition;
  if (GetParam().opens) {
    Scanner().Open();
    EXPECT_EQ(Scanner().Sources().size(), 2u);
  } else {
    EXPECT_EQ(FailureOf<EScannerError>([&] { Scanner().Open(); }), "Unable to open TWAIN source manager");
    EXPECT_FALSE(Scanner().DsmLoaded());
    EXPECT_EQ(Scanner().TwainWindow(), nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(Codes, ScannerStatusTest,
                         ::testing::Values(StatusCase{TWRC_SUCCESS, TWCC_SUCCESS, true},
                                           StatusCase{TWRC_CHECKSTATUS, TWCC_SUCCESS, true},
                                           StatusCase{TWRC_CHECKSTATUS, TWCC_BADVALUE, false},
                                           StatusCase{TWRC_FAILURE, TWCC_SUCCESS, false},
                                           StatusCase{TWRC_CANCEL, TWCC_SUCCESS, false}));

TEST_F(ScannerTest, MissingLibraryNamesTheFullPath) {
  lumipage::testing::TempDir empty;
  ScopedEnv env("LUMIPAGE_SYSTEM_DIR", empty.Path());
  EXPECT_EQ(FailureOf<EScannerError>([&] { Scanner().Open(); }), "LoadLibrary(" + empty.Path() + "/libtwain_32.so) failed");
  EXPECT_FALSE(Scanner().DsmLoaded());
}

TEST_F(ScannerTest, LibraryWithoutEntryPointIsRefusedAndUnloaded) {
  ScopedEnv env("LUMIPAGE_SYSTEM_DIR", LUMIPAGE_NOENTRY_DSM_DIR);
  EXPECT_THROW(
      {
        try {
          Scanner().Open();
        } catch (const EScannerError& e) {
          EXPECT_STREQ(e.what(), "GetProcAddress failed: DSM_Entry");
          throw;
        }
      },
      EScannerError);
  EXPECT_FALSE(Scanner().DsmLoaded());
}

TEST_F(ScannerTest, ErrorHandlerThatReturnsLeavesTheConnectionClosed) {
  std::vector<std::string> messages;
  Scanner().OnError = [&](void* sender, const std::string& m) {
    EXPECT_EQ(sender, &Scanner());
    messages.push_back(m);
  };
  script_->openDsmRc = TWRC_FAILURE;
  Scanner().Open();
  EXPECT_EQ(messages, std::vector<std::string>{"Unable to open TWAIN source manager"});
  EXPECT_FALSE(Scanner().DsmLoaded());
  EXPECT_TRUE(Scanner().Sources().empty());
  // The next attempt starts from the beginning.
  script_->openDsmRc = TWRC_SUCCESS;
  Scanner().Open();
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_EQ(Scanner().SourceIndex(), 1);
}

TEST_F(ScannerTest, NoSourcesGiveNoDefaultSource) {
  script_->sources.clear();
  script_->defaultFails = true;
  EXPECT_EQ(FailureOf<EScannerError>([&] { Scanner().Open(); }), "Unable to get TWAIN default source");
  EXPECT_TRUE(Scanner().Sources().empty());
}

TEST_F(ScannerTest, OnlyOneScannerObjectAtATime) {
  Scanner();
  EXPECT_TRUE(TScanner::Exists());
  try {
    TScanner second;
    FAIL() << "a second scanner object was created";
  } catch (const EScannerError& e) {
    EXPECT_STREQ(e.what(), "Only one scanner object is permitted");
  }
  // The refused second object did not clear the first one's claim.
  EXPECT_TRUE(TScanner::Exists());
  scanner_.reset();
  EXPECT_FALSE(TScanner::Exists());
  TScanner again;
  EXPECT_TRUE(TScanner::Exists());
}

TEST_F(ScannerTest, SelectSourceIgnoresIndexesOutsideTheList) {
  Scanner().Open();
  for (int bad : {-1, 2, 1000}) {
    Scanner().SelectSource(bad);
    EXPECT_EQ(Scanner().SourceIndex(), 1);
  }
  Scanner().SelectSource(0);
  EXPECT_EQ(Scanner().SourceIndex(), 0);
}

TEST_F(ScannerTest, CancelledDialogKeepsTheSourceManagersDefault) {
  Scanner().Open();
  Scanner().SelectSource(0);
  EXPECT_FALSE(Scanner().SelectSourceDialog());
  // The current source follows the source manager's default, which did not change.
  EXPECT_EQ(Scanner().SourceIndex(), 1);
}

TEST_F(ScannerTest, DialogChoiceBecomesCurrent) {
  script_->defaultName = "Beta";
  script_->userSelectChooses = "Alpha";
  EXPECT_TRUE(Scanner().SelectSourceDialog());  // opens the connection itself
  EXPECT_EQ(Scanner().SourceIndex(), 0);
  Acquire();
  EXPECT_EQ(script_->openedName, "Alpha");
}

TEST_F(ScannerTest, ShowUISendsOnlyTheThreeTransferCapabilities) {
  Scanner().ShowUI = true;
  Scanner().Transmissive = true;
  script_->cancelAtEnable = true;
  Acquire();
  EXPECT_EQ(CapsSent(), (std::vector<std::uint16_t>{ICAP_XFERMECH, CAP_XFERCOUNT, ICAP_UNITS}));
  auto enable = script_->Calls(DAT_USERINTERFACE, MSG_ENABLEDS);
  ASSERT_EQ(enable.size(), 1u);
  EXPECT_EQ(enable[0].showUI, 0xFFFF);
  EXPECT_EQ(enable[0].modalUI, 0xFFFF);
}

TEST_F(ScannerTest, NegotiatesTheScanParametersInOrderEvenWhenDuplexIsRefused) {
  TScanner& s = Scanner();
  s.ShowUI = false;
  s.XResolution = 300;
  s.YResolution = 150;
  s.ImageType = 2;
  s.ShowIndicators = false;
  s.FeederEnabled = true;
  s.DuplexEnabled = true;
  s.Transmissive = true;
  script_->refusedCaps = {CAP_DUPLEXENABLED, ICAP_PIXELTYPE};
  script_->cancelAtEnable = true;
  Acquire();
  struct Expected {
    std::uint16_t cap, type;
    std::uint32_t item;
  };
  const std::vector<Expected> expected{
      {ICAP_XFERMECH, TWTY_UINT16, 0},       {CAP_XFERCOUNT, TWTY_INT16, 0xFFFFFFFFu}, {ICAP_UNITS, TWTY_UINT16, 0},
      {ICAP_XRESOLUTION, TWTY_FIX32, 300},   {ICAP_YRESOLUTION, TWTY_FIX32, 150},     {ICAP_PIXELTYPE, TWTY_UINT16, 1},
      {ICAP_BITDEPTH, TWTY_UINT16, 8},       {CAP_INDICATORS, TWTY_BOOL, 0},           {CAP_FEEDERENABLED, TWTY_BOOL, 1},
      {CAP_AUTOFEED, TWTY_BOOL, 1},          {CAP_DUPLEXENABLED, TWTY_BOOL, 1},        {CAP_FEEDERORDER, TWTY_UINT16, 0},
      {ICAP_LIGHTPATH, TWTY_UINT16, 1}};
  auto sent = script_->Calls(DAT_CAPABILITY, MSG_SET);
  ASSERT_EQ(sent.size(), expected.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i].cap, expected[i].cap) << i;
    EXPECT_EQ(sent[i].itemType, expected[i].type) << i;
    EXPECT_EQ(sent[i].item, expected[i].item) << i;
    EXPECT_EQ(sent[i].conType, TWON_ONEVALUE);
    EXPECT_EQ(sent[i].containerSize, 6u);
  }
  EXPECT_EQ(script_->Calls(DAT_USERINTERFACE, MSG_ENABLEDS)[0].showUI, 0);
  EXPECT_EQ(doneCalls_, 1);
  EXPECT_EQ(platform::GlobalLiveCount(), blocksBefore_);
}

TEST_F(ScannerTest, ThreeSheetFeederDeliversThreePagesAndStops) {
  Scanner().FeederEnabled = true;
  script_->transfers = {FakeTransfer{.pendingAfter = 2}, FakeTransfer{.pendingAfter = 1}, FakeTransfer{.pendingAfter = 0}};
  Acquire();
  ASSERT_EQ(pages_.size(), 3u);
  EXPECT_EQ(pages_[0].xres, 300);
  EXPECT_EQ(pages_[0].pass, 42);
  EXPECT_EQ(script_->Calls(DAT_PENDINGXFERS, MSG_ENDXFER).size(), 3u);
  EXPECT_EQ(script_->Calls(DAT_IMAGEINFO, MSG_GET).size(), 3u);
  EXPECT_TRUE(script_->Calls(DAT_PENDINGXFERS, MSG_RESET).empty());
  EXPECT_EQ(doneCalls_, 1);
  // Disabled, then closed, as the last two calls.
  ASSERT_GE(script_->calls.size(), 2u);
  EXPECT_EQ(script_->calls[script_->calls.size() - 2].msg, MSG_DISABLEDS);
  EXPECT_EQ(script_->calls.back().msg, MSG_CLOSEDS);
  EXPECT_EQ(Scanner().SourceIdentity().Id, 0u);
  EXPECT_TRUE(platform::IsWindowEnabled(Scanner().TwainWindow()));
  EXPECT_EQ(platform::GlobalLiveCount(), blocksBefore_);
}

class UnknownCountTest : public ScannerTest, public ::testing::WithParamInterface<std::uint16_t> {};

// A source that keeps saying "more pages, number unknown" ends with a refused transfer.
TEST_P(UnknownCountTest, EndsWithThePagesDeliveredSoFar) {
  script_->transfers = {FakeTransfer{.pendingAfter = 0xFFFF}, FakeTransfer{.pendingAfter = 0xFFFF},
                        FakeTransfer{.xferRc = GetParam(), .pendingAfter = 0xFFFF}};
  Acquire();
  EXPECT_EQ(pages_.size(), 2u);
  EXPECT_EQ(script_->Calls(DAT_IMAGENATIVEXFER, MSG_GET).size(), 3u);
  EXPECT_EQ(script_->Calls(DAT_PENDINGXFERS, MSG_RESET).size(), 1u);
  EXPECT_EQ(doneCalls_, 1);
}

INSTANTIATE_TEST_SUITE_P(FinalCode, UnknownCountTest, ::testing::Values(TWRC_CANCEL, TWRC_FAILURE));

TEST_F(ScannerTest, CancelBeforeTheFirstPageStillCallsOnDone) {
  script_->cancelAtEnable = true;
  Acquire();
  EXPECT_TRUE(pages_.empty());
  EXPECT_EQ(doneCalls_, 1);
  EXPECT_EQ(script_->Calls(DAT_IDENTITY, MSG_CLOSEDS).size(), 1u);
}

TEST_F(ScannerTest, TransferDoneWithoutHandleSkipsTheHandlerAndGoesOn) {
  script_->transfers = {FakeTransfer{.withHandle = false, .pendingAfter = 1}, FakeTransfer{.pendingAfter = 0}};
  Acquire();
  EXPECT_EQ(pages_.size(), 1u);
  EXPECT_EQ(script_->Calls(DAT_PENDINGXFERS, MSG_ENDXFER).size(), 2u);
  EXPECT_EQ(doneCalls_, 1);
}

TEST_F(ScannerTest, FractionalResolutionIsCutToItsWholePart) {
  script_->transfers = {FakeTransfer{.xres = {300, 0x8000}, .yres = {150, 0xFFFF}}};
  Acquire();
  ASSERT_EQ(pages_.size(), 1u);
  EXPECT_EQ(pages_[0].xres, 300);
  EXPECT_EQ(pages_[0].yres, 150);
}

TEST_F(ScannerTest, FailingImageHandlerFreesThePageClosesTheSourceAndSkipsOnDone) {
  script_->transfers = {FakeTransfer{.pendingAfter = 1}, FakeTransfer{}};
  EXPECT_THROW(Scanner().Acquire(1, [](TTransferBlock&, std::uint16_t, std::uint16_t, std::intptr_t) {
    throw std::runtime_error("disk full");
  }),
               std::runtime_error);
  EXPECT_EQ(platform::GlobalLiveCount(), blocksBefore_);
  EXPECT_EQ(script_->Calls(DAT_USERINTERFACE, MSG_DISABLEDS).size(), 1u);
  EXPECT_EQ(script_->Calls(DAT_IDENTITY, MSG_CLOSEDS).size(), 1u);
  EXPECT_EQ(doneCalls_, 0);
  EXPECT_TRUE(platform::IsWindowEnabled(Scanner().TwainWindow()));
  // The transfer is ended and the pending page dropped before the source is disabled: a source
  // still in its transfer state refuses to be disabled and closed.
  std::vector<std::uint16_t> order;
  for (const auto& c : script_->calls)
    if (c.dat == DAT_PENDINGXFERS || c.dat == DAT_USERINTERFACE || (c.dat == DAT_IDENTITY && c.msg == MSG_CLOSEDS))
      order.push_back(c.msg);
  EXPECT_EQ(order, (std::vector<std::uint16_t>{MSG_ENABLEDS, MSG_ENDXFER, MSG_RESET, MSG_DISABLEDS, MSG_CLOSEDS}));
}

TEST_F(ScannerTest, BlockTakenByTheHandlerIsNotFreedAgainWhenItsAddressIsReused) {
  script_->transfers = {FakeTransfer{}};
  std::vector<platform::GlobalBlock> allocated;
  bool reused = false;
  Scanner().Acquire(1, [&](TTransferBlock& dib, std::uint16_t, std::uint16_t, std::intptr_t) {
    const platform::HGLOBAL old = dib.get();
    // The handler takes the page over and is done with it...
    TTransferBlock taken(std::move(dib));
    taken.reset();
    // ...and a block allocated meanwhile gets the freed block's address.
    for (int i = 0; i < 64 && !reused; ++i) {
      allocated.emplace_back(platform::GHND, 16);
      reused = allocated.back().get() == old;
    }
  });
  if (!reused) GTEST_SKIP() << "the allocator did not reuse the address";
  // The new block belongs to its owner: the scanner must not have freed it by the old handle.
  EXPECT_TRUE(platform::GlobalIsValid(allocated.back().get()));
  allocated.clear();
  EXPECT_EQ(platform::GlobalLiveCount(), blocksBefore_);
}

TEST_F(ScannerTest, ImageInformationFailingForeverEndsAfterTheRetryLimit) {
  script_->transfers = {FakeTransfer{.pendingAfter = 5}, FakeTransfer{.infoFailures = 1000}};
  Acquire();
  EXPECT_EQ(pages_.size(), 1u);
  EXPECT_EQ(script_->Calls(DAT_IMAGEINFO, MSG_GET).size(), 2u + TScanner::kMaxImageInfoRetries);
  EXPECT_EQ(script_->Calls(DAT_PENDINGXFERS, MSG_RESET).size(), 1u);
  EXPECT_EQ(doneCalls_, 1);
}

TEST_F(ScannerTest, ImageInformationFailingBrieflyIsRetried) {
  script_->transfers = {FakeTransfer{.infoFailures = 3}};
  Acquire();
  EXPECT_EQ(pages_.size(), 1u);
  EXPECT_EQ(doneCalls_, 1);
}

TEST_F(ScannerTest, FailedTransferOfAnAnnouncedPageIsReported) {
  script_->transfers = {FakeTransfer{.pendingAfter = 2}, FakeTransfer{.pendingAfter = 1},
                        FakeTransfer{.xferRc = TWRC_FAILURE, .xferCondition = TWCC_LOWMEMORY}};
  EXPECT_EQ(FailureOf<ETwainError>([&] { Acquire(); }), "Image transfer failed (TWAIN condition code 2)");
  EXPECT_EQ(pages_.size(), 2u);
  EXPECT_EQ(doneCalls_, 0);
  EXPECT_EQ(script_->Calls(DAT_PENDINGXFERS, MSG_RESET).size(), 1u);
  EXPECT_EQ(script_->Calls(DAT_IDENTITY, MSG_CLOSEDS).size(), 1u);
}

TEST_F(ScannerTest, ClaimedMessagesAreNotDispatchedOthersAre) {
  std::vector<std::uint32_t> dispatched;
  platform::HWND mine = platform::CreateWindow("STATIC", "", [&](const platform::MSG& m) { dispatched.push_back(m.message); });
  script_->claimMessage = 0x7001;
  script_->cancelAtEnable = true;
  Scanner().Open();
  platform::PostMessage(mine, 0x7001);
  platform::PostMessage(mine, 0x7002);
  Acquire();
  EXPECT_EQ(dispatched, std::vector<std::uint32_t>{0x7002});
  platform::DestroyWindow(mine);
}

struct FailureCase {
  const char* name;
  void (*arrange)(FakeDsmScript&, TScanner&);
  const char* message;
  bool enabled;  // MSG_ENABLEDS was answered with success
  std::size_t closes;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class AcquireFailureTest : public ScannerTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(AcquireFailureTest, RaisesAndTidiesUp) {
  GetParam().arrange(*script_, Scanner());
  script_->transfers = {FakeTransfer{}};
  EXPECT_EQ(FailureOf<ETwainError>([&] { Acquire(); }), GetParam().message);
  EXPECT_EQ(doneCalls_, 0);
  EXPECT_EQ(script_->Calls(DAT_USERINTERFACE, MSG_DISABLEDS).size(), GetParam().enabled ? 1u : 0u);
  EXPECT_EQ(script_->Calls(DAT_IDENTITY, MSG_CLOSEDS).size(), GetParam().closes);
  EXPECT_TRUE(platform::IsWindowEnabled(Scanner().TwainWindow()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AcquireFailureTest,
    ::testing::Values(
        FailureCase{"OpenSource", [](FakeDsmScript& s, TScanner&) { s.openDsFails = true; }, "Unable to open TWAIN source",
                    false, 0},
        FailureCase{"Enable", [](FakeDsmScript& s, TScanner&) { s.enableFails = true; }, "Unable to enable twain source.",
                    false, 1},
        FailureCase{"ImageType",
                    [](FakeDsmScript&, TScanner& t) {
                      t.ShowUI = false;
                      t.ImageType = 6;
                    },
                    "Invalid image type", false, 1},
        FailureCase{"CloseSource", [](FakeDsmScript& s, TScanner&) { s.closeDsFails = true; },
                    "Unable to close TWAIN data source", true, 1},
        FailureCase{"CloseFailureReplacesEnableFailure",
                    [](FakeDsmScript& s, TScanner&) {
                      s.closeDsFails = true;
                      s.enableFails = true;
                    },
                    "Unable to close TWAIN data source", false, 1}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

struct OpenRetryCase {
  const char* name;
  int failures;
  TW_UINT16 condition;
  int retryBusy;
  std::size_t opens;  // MSG_OPENDS calls
  bool scans;
  std::size_t fewestOpens = 0;  // a loaded machine may sleep longer than asked: fewer attempts
};

void PrintTo(const OpenRetryCase& c, std::ostream* os) { *os << c.name; }

class OpenRetryTest : public ScannerTest, public ::testing::WithParamInterface<OpenRetryCase> {};

// A busy source, or one failing in a way that may pass, is opened again after 0.25 s, 0.5 s, ...
// until RetryBusy seconds have passed; a source that is not there fails at once.
TEST_P(OpenRetryTest, BusySourceIsTriedAgainForTheTimeAskedFor) {
  const OpenRetryCase& c = GetParam();
  script_->openDsFailures = c.failures;
  script_->openDsCondition = c.condition;
  script_->transfers = {FakeTransfer{}};
  Scanner().RetryBusy = c.retryBusy;
  if (c.scans) {
    Acquire();
    EXPECT_EQ(pages_.size(), 1u);
  } else {
    EXPECT_THROW(Acquire(), ETwainError);
  }
  const std::size_t opens = script_->Calls(DAT_IDENTITY, MSG_OPENDS).size();
  EXPECT_LE(opens, c.opens);
  EXPECT_GE(opens, c.fewestOpens ? c.fewestOpens : c.opens);
  // Every attempt asks for the same source.
  for (const auto& call : script_->Calls(DAT_IDENTITY, MSG_OPENDS)) EXPECT_FALSE(call.toSource);
  EXPECT_EQ(script_->openedName, c.scans ? "Beta" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenRetryTest,
    ::testing::Values(OpenRetryCase{"BusyThenFree", 2, 16, 2, 3, true},
                      OpenRetryCase{"IoErrorThenFree", 1, TWCC_OPERATIONERROR, 1, 2, true},
                      OpenRetryCase{"NoRetryAskedFor", 1, 16, 0, 1, false},
                      // 0.25 + 0.5 + 0.25 s: the last pause is cut to the time left.
                      OpenRetryCase{"StaysBusy", 100, 16, 1, 4, false, 2},
                      OpenRetryCase{"NotThere", 100, TWCC_NODS, 5, 1, false},
                      OpenRetryCase{"Gone", 100, 23, 5, 1, false}),
    [](const ::testing::TestParamInfo<OpenRetryCase>& info) { return std::string(info.param.name); });

// The waits go to the source as custom capabilities, also with its own dialog, cut to an hour;
// not asked for, they are not sent at all.
TEST_F(ScannerTest, UnattendedWaitsAreSentOnlyWhenAskedFor) {
  script_->transfers = {FakeTransfer{}};
  Scanner().ShowUI = true;
  Scanner().WaitForPaper = 30;
  Scanner().RetryBusy = 100000;
  Acquire();
  const auto sets = script_->Calls(DAT_CAPABILITY, MSG_SET);
  ASSERT_EQ(sets.size(), 5u);
  EXPECT_EQ(sets[3].cap, CAP_LP_WAITFORPAPER);
  EXPECT_EQ(sets[3].itemType, TWTY_UINT16);
  EXPECT_EQ(sets[3].item, 30u);
  EXPECT_EQ(sets[4].cap, CAP_LP_RETRYBUSY);
  EXPECT_EQ(sets[4].item, 3600u);
}

// The scanner object asks the source manager to look for devices again, then lists them anew and
// keeps the current source; a source manager that refuses the request keeps its list.
TEST_F(ScannerTest, RefreshListsTheSourcesAgainAndKeepsTheCurrentOne) {
  Scanner().Open();
  Scanner().SelectSource(0);
  script_->sources = {"Gamma", "Alpha", "Beta"};
  Scanner().RefreshSources();
  EXPECT_EQ(script_->Calls(DAT_IDENTITY, MSG_LP_REFRESHLIST).size(), 1u);
  // The fake refuses the request: the list stays as it was.
  EXPECT_EQ(Scanner().Sources(), (std::vector<std::string>{"Alpha", "Beta"}));
  EXPECT_EQ(Scanner().SourceIndex(), 0);
}

// The accessor's object lives until the process ends, so this runs in a child process.
TEST_F(ScannerTest, ProcessWideAccessorReturnsOneObject) {
  EXPECT_EXIT(
      {
        TScanner& a = TScanner::Instance();
        TScanner& b = TScanner::Instance();
        a.Open();  // closed again when the process ends
        bool refused = false;
        try {
          TScanner other;
        } catch (const EScannerError&) {
          refused = true;
        }
        std::exit(&a == &b && TScanner::Exists() && refused && a.DsmLoaded() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace lumipage
