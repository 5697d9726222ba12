// The scanner object with the project's own source manager and its virtual scanners, configured
// through twain_32.ini: what a job sees end to end, without hardware.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>

#include "platform/GlobalMemory.h"
#include "tests/twain/TwainTestSupport.h"
#include "twain/Scanner.h"

namespace lumipage {
namespace {

using lumipage::testing::DrainMessages;
using lumipage::testing::FailureOf;
using lumipage::testing::ScopedEnv;
using lumipage::testing::VirtualSystemFolder;

struct Page {
  std::int32_t width, height;
  std::uint16_t bits;
  std::uint16_t xres, yres;
};

class VirtualScannerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    scanner_.reset();
    DrainMessages();
  }

  TScanner& Open(const std::optional<std::string>& ini) {
    scanner_.reset();
    system_.reset();  // restores the environment before the next folder takes over
    system_ = std::make_unique<VirtualSystemFolder>(ini);
    scanner_ = std::make_unique<TScanner>();
    scanner_->OnDone = [this](void*) { ++doneCalls_; };
    scanner_->ShowUI = false;
    scanner_->FeederEnabled = true;
    scanner_->Open();
    return *scanner_;
  }

  void Acquire() {
    blocksBefore_ = platform::GlobalLiveCount();
    scanner_->Acquire(1, [this](TTransferBlock& dib, std::uint16_t x, std::uint16_t y, std::intptr_t) {
      platform::GlobalLockGuard lock(dib.get());
      ASSERT_GE(lock.size(), 40u);
      Page p{};
      std::memcpy(&p.width, lock.as<char>() + 4, 4);
      std::memcpy(&p.height, lock.as<char>() + 8, 4);
      std::memcpy(&p.bits, lock.as<char>() + 14, 2);
      p.xres = x;
      p.yres = y;
      pages_.push_back(p);
    });
    EXPECT_EQ(platform::GlobalLiveCount(), blocksBefore_);
  }

  std::unique_ptr<VirtualSystemFolder> system_;
  std::unique_ptr<TScanner> scanner_;
  std::vector<Page> pages_;
  int doneCalls_ = 0;
  std::size_t blocksBefore_ = 0;
};

TEST_F(VirtualScannerTest, WithoutSettingsOneScannerGivesOneColourPage) {
  TScanner& s = Open(std::nullopt);
  EXPECT_EQ(s.Sources(), std::vector<std::string>{"Virtual Scanner"});
  EXPECT_EQ(s.SourceIndex(), 0);
  s.ImageType = 5;
  Acquire();
  ASSERT_EQ(pages_.size(), 1u);
  EXPECT_EQ(pages_[0].bits, 24);
  EXPECT_EQ(pages_[0].width, 1654);  // A4 at 200 dpi
  EXPECT_EQ(pages_[0].height, 2338);
  EXPECT_EQ(pages_[0].xres, 200);
  EXPECT_EQ(doneCalls_, 1);
}

TEST_F(VirtualScannerTest, ThreeSheetFeederAtTheNegotiatedResolutionAndKind) {
  TScanner& s = Open("[Source1]\nPages=3\n");
  s.XResolution = 100;
  s.YResolution = 150;
  s.ImageType = 0;
  Acquire();
  ASSERT_EQ(pages_.size(), 3u);
  for (const Page& p : pages_) {
    EXPECT_EQ(p.bits, 1);
    EXPECT_EQ(p.width, 827);
    EXPECT_EQ(p.height, 1754);
    EXPECT_EQ(p.xres, 100);
    EXPECT_EQ(p.yres, 150);
  }
  EXPECT_EQ(doneCalls_, 1);
  // The source is closed and can be used again in the same connection.
  Acquire();
  EXPECT_EQ(pages_.size(), 6u);
}

TEST_F(VirtualScannerTest, FeederOffScansOneSheet) {
  TScanner& s = Open("[Source1]\nPages=3\n");
  s.FeederEnabled = false;
  Acquire();
  EXPECT_EQ(pages_.size(), 1u);
}

TEST_F(VirtualScannerTest, ScannerChoiceByPositionOrDefault) {
  TScanner& s = Open("[Sources]\nCount=2\nDefault=virtual scanner 2\n[Source1]\nPages=1\n[Source2]\nPages=2\n");
  EXPECT_EQ(s.Sources(), (std::vector<std::string>{"Virtual Scanner", "Virtual Scanner 2"}));
  EXPECT_EQ(s.SourceIndex(), 1);
  Acquire();
  EXPECT_EQ(pages_.size(), 2u);
  s.SelectSource(0);
  Acquire();
  EXPECT_EQ(pages_.size(), 3u);
}

TEST_F(VirtualScannerTest, DuplexGivesTwoPagesPerSheetOnlyWhenFitted) {
  TScanner& s = Open("[Sources]\nCount=2\n[Source1]\nPages=2\nDuplex=1\n[Source2]\nPages=2\n");
  s.DuplexEnabled = true;
  Acquire();
  EXPECT_EQ(pages_.size(), 4u);
  s.SelectSource(1);
  Acquire();  // the refused duplex setting is passed over
  EXPECT_EQ(pages_.size(), 6u);
  EXPECT_EQ(doneCalls_, 2);
}

TEST_F(VirtualScannerTest, UserCancelEndsNormallyWithThePagesSoFar) {
  TScanner& s = Open("[Source1]\nPages=5\nCancelAfter=2\n");
  s.ImageType = 2;
  Acquire();
  EXPECT_EQ(pages_.size(), 2u);
  EXPECT_EQ(doneCalls_, 1);
}

TEST_F(VirtualScannerTest, CancelBeforeTheFirstPageEndsAtOnce) {
  Open("[Source1]\nPages=3\nCancelAfter=0\n");
  Acquire();
  EXPECT_TRUE(pages_.empty());
  EXPECT_EQ(doneCalls_, 1);
}

TEST_F(VirtualScannerTest, EmptyFeederSaysNoPaper) {
  Open("[Source1]\nPages=0\n");
  EXPECT_EQ(FailureOf<ETransferError>([&] { Acquire(); }), "No paper in the document feeder");
  EXPECT_TRUE(pages_.empty());
  EXPECT_EQ(doneCalls_, 0);
}

TEST_F(VirtualScannerTest, TransferFailureAfterTwoPagesIsRaised) {
  Open("[Source1]\nPages=3\nFailAfter=2\n");
  EXPECT_EQ(FailureOf<ETwainError>([&] { Acquire(); }), "Image transfer failed (TWAIN condition code 5)");
  EXPECT_EQ(pages_.size(), 2u);
  EXPECT_EQ(doneCalls_, 0);
  // The source was closed: the next acquisition opens it again.
  pages_.clear();
  EXPECT_THROW(Acquire(), ETwainError);
  EXPECT_EQ(pages_.size(), 2u);
}

TEST_F(VirtualScannerTest, PageFolderWithABrokenFileReportsTheFailure) {
  lumipage::testing::TempDir pages;
  // A 2 x 2 true-colour bitmap, then a file that is no bitmap.
  std::string bmp = "BM";
  const std::uint32_t fileSize = 54 + 16, zero = 0, offset = 54;
  bmp.append(reinterpret_cast<const char*>(&fileSize), 4);
  bmp.append(reinterpret_cast<const char*>(&zero), 4);
  bmp.append(reinterpret_cast<const char*>(&offset), 4);
  const std::int32_t info[] = {40, 2, 2, 1 | (24 << 16), 0, 16, 3937, 3937, 0, 0};
  bmp.append(reinterpret_cast<const char*>(info), sizeof info);
  bmp.append(16, '\x80');
  pages.Write("a.bmp", bmp);
  pages.Write("b.bmp", "this is not a bitmap");
  pages.Write("c.bmp", bmp);
  Open("[Source1]\nPageFolder=" + pages.Path() + "\n");
  EXPECT_EQ(FailureOf<ETransferError>([&] { Acquire(); }), "Page file \"" + pages.Path() + "/b.bmp\": not a BMP file");
  ASSERT_EQ(pages_.size(), 1u);
  EXPECT_EQ(pages_[0].width, 2);
  EXPECT_EQ(pages_[0].bits, 24);
  EXPECT_EQ(pages_[0].xres, 100);
  EXPECT_EQ(doneCalls_, 0);
}

TEST_F(VirtualScannerTest, PageFolderPagesKeepTheirOwnDepthSizeAndResolution) {
  TScanner& s = Open("[Source1]\nPageFolder=" LUMIPAGE_TEST_DATA "/twain/pages\n");
  s.ImageType = 5;  // asked for, but page files come as they are
  Acquire();
  ASSERT_EQ(pages_.size(), 3u);
  EXPECT_EQ(pages_[0].bits, 8);
  EXPECT_EQ(pages_[1].bits, 1);
  EXPECT_EQ(pages_[2].bits, 24);
  EXPECT_EQ(pages_[0].width, 83);
  EXPECT_EQ(pages_[0].height, 117);
  EXPECT_EQ(pages_[2].width, 41);
  EXPECT_EQ(pages_[0].xres, 10);
  EXPECT_EQ(pages_[2].yres, 5);
  EXPECT_EQ(doneCalls_, 1);
}

TEST_F(VirtualScannerTest, PageFolderOfBrokenFilesFailsAtTheFirstPage) {
  Open("[Source1]\nPageFolder=" LUMIPAGE_TEST_DATA "/twain/broken\n");
  EXPECT_THROW(Acquire(), ETwainError);
  EXPECT_TRUE(pages_.empty());
  EXPECT_EQ(doneCalls_, 0);
}

TEST_F(VirtualScannerTest, NoSourcesGiveNoDefaultSource) {
  system_ = std::make_unique<VirtualSystemFolder>("[Sources]\nCount=0\n");
  scanner_ = std::make_unique<TScanner>();
  EXPECT_EQ(FailureOf<EScannerError>([&] { scanner_->Open(); }), "Unable to get TWAIN default source");
  EXPECT_TRUE(scanner_->Sources().empty());
}

TEST_F(VirtualScannerTest, ShowUIWithoutTerminalIsACancel) {
  ScopedEnv noTerminal("LUMIPAGE_TTY", "/nonexistent/tty");
  TScanner& s = Open("[Source1]\nPages=2\n");
  s.ShowUI = true;
  Acquire();
  EXPECT_TRUE(pages_.empty());
  EXPECT_EQ(doneCalls_, 1);
}

TEST_F(VirtualScannerTest, ShowUIConfirmedOnTheTerminalScans) {
  lumipage::testing::TempDir answers;
  answers.Write("tty", "\n");
  ScopedEnv terminal("LUMIPAGE_TTY", answers.File("tty"));
  TScanner& s = Open("[Source1]\nPages=2\n");
  s.ShowUI = true;
  Acquire();
  EXPECT_EQ(pages_.size(), 2u);
}

TEST_F(VirtualScannerTest, SelectionDialogOnTheTerminal) {
  lumipage::testing::TempDir answers;
  answers.Write("choose", "2\n");
  answers.Write("cancel", "c\n");
  answers.Write("garbage", "x\n99\n-1\n");
  TScanner& s = Open("[Sources]\nCount=2\n");
  EXPECT_EQ(s.SourceIndex(), 0);
  {
    ScopedEnv none("LUMIPAGE_TTY", "/nonexistent/tty");
    EXPECT_FALSE(s.SelectSourceDialog());
    EXPECT_EQ(s.SourceIndex(), 0);
  }
  for (const char* name : {"cancel", "garbage"}) {
    ScopedEnv t("LUMIPAGE_TTY", answers.File(name));
    EXPECT_FALSE(s.SelectSourceDialog()) << name;
    EXPECT_EQ(s.SourceIndex(), 0) << name;
  }
  ScopedEnv t("LUMIPAGE_TTY", answers.File("choose"));
  EXPECT_TRUE(s.SelectSourceDialog());
  EXPECT_EQ(s.SourceIndex(), 1);
  // The choice is the source manager's default for the rest of the connection.
  s.GetDefaultSource();
  EXPECT_EQ(s.DefaultSourceName(), "Virtual Scanner 2");
}

}  // namespace
}  // namespace lumipage
