// The cache of SANE devices: the file's format and every way it can be unusable, and the source
// manager listing from it, looking again when asked or when a cached device cannot be opened, and
// writing it where it can.
#include "dsm/DeviceCache.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "tests/dsm/DsmSession.h"
#include "tests/support/SaneTestBackend.h"

namespace lumipage {
namespace {

using dsm::TCachedDevice;
using dsm::TDeviceCache;
using namespace twain;
using testing::SaneTestBackend;
using testing::ScopedEnv;
using testing::Session;
using testing::TempDir;

constexpr long long kNow = 1'800'000'000;

std::vector<TCachedDevice> TwoDevices() {
  return {{"Acme Flat", {"acme:usb:001", "Acme", "Flat", "flatbed scanner"}},
          {"Odd\tName\\", {"net:10.0.0.1:x", "Odd\nVendor", "", ""}}};
}

TEST(DeviceCacheFileTest, DevicesComeBackAsWritten) {
  const std::string text = TDeviceCache::Format(TwoDevices(), "key", kNow);
  auto back = TDeviceCache::Parse(text, "key", 3600, kNow + 10);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->size(), 2u);
  EXPECT_EQ((*back)[1].ListedName, "Odd\tName\\");
  EXPECT_EQ((*back)[1].Device.Name, "net:10.0.0.1:x");
  EXPECT_EQ((*back)[1].Device.Vendor, "Odd\nVendor");
  EXPECT_EQ((*back)[0].Device.Type, "flatbed scanner");
  // No devices found is a result worth keeping too.
  auto none = TDeviceCache::Parse(TDeviceCache::Format({}, "key", kNow), "key", 3600, kNow);
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
}

struct BadFileCase {
  const char* name;
  std::function<std::string(const std::string&)> damage;
  long long readAt = kNow + 10;
};

void PrintTo(const BadFileCase& c, std::ostream* os) { *os << c.name; }

class DeviceCacheBadFileTest : public ::testing::TestWithParam<BadFileCase> {};

TEST_P(DeviceCacheBadFileTest, IsNotUsed) {
  const std::string good = TDeviceCache::Format(TwoDevices(), "key", kNow);
  EXPECT_FALSE(TDeviceCache::Parse(GetParam().damage(good), "key", 3600, GetParam().readAt));
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  return s.replace(s.find(from), from.size(), to);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceCacheBadFileTest,
    ::testing::Values(BadFileCase{"Truncated", [](const std::string& s) { return s.substr(0, s.size() / 2); }},
                      BadFileCase{"LastLineCut", [](const std::string& s) { return s.substr(0, s.rfind("end")); }},
                      BadFileCase{"Binary", [](const std::string& s) { return Replace(s, "Acme", std::string("A\0\x01m", 4)); }},
                      BadFileCase{"Empty", [](const std::string&) { return std::string(); }},
                      BadFileCase{"OlderFormat", [](const std::string& s) { return Replace(s, "cache 1", "cache 0"); }},
                      BadFileCase{"OtherConfiguration", [](const std::string& s) { return Replace(s, "key\tkey", "key\tother"); }},
                      BadFileCase{"CountDisagrees", [](const std::string& s) { return Replace(s, "end\t2", "end\t3"); }},
                      BadFileCase{"SomethingAfterTheEnd", [](const std::string& s) { return s + "device\ta\tb\tc\td\te\n"; }},
                      BadFileCase{"UnknownEscape", [](const std::string& s) { return Replace(s, "Acme Flat", "Acme\\q"); }},
                      BadFileCase{"DeviceWithoutName", [](const std::string& s) { return Replace(s, "acme:usb:001", ""); }},
                      BadFileCase{"TooOld", [](const std::string& s) { return s; }, kNow + 3600},
                      BadFileCase{"WrittenInTheFuture", [](const std::string& s) { return s; }, kNow - 60}),
    [](const ::testing::TestParamInfo<BadFileCase>& info) { return std::string(info.param.name); });

// ---- Through the source manager, with SANE's test backend ----

constexpr const char* kFirst = "Noname frontend-tester";
constexpr const char* kSecond = "Noname frontend-tester 2";

std::vector<std::string> Listed(Session& s) {
  std::vector<std::string> names;
  TW_IDENTITY id{};
  for (TW_UINT16 msg = MSG_GETFIRST; s.Call(nullptr, DG_CONTROL, DAT_IDENTITY, msg, &id) == TWRC_SUCCESS; msg = MSG_GETNEXT)
    names.emplace_back(id.ProductName);
  return names;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Opens the source manager once more, as the next job would.
void Reopen(Session& s) {
  ASSERT_EQ(s.Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &s.window_), TWRC_SUCCESS);
  s.OpenDsm();
}

class DeviceCacheTest : public ::testing::Test {
 protected:
  std::string CacheFile() const { return session_.System().Folder().File(TDeviceCache::kFileName); }
  // The cache as the last discovery wrote it, with one device renamed by its vendor: a list that
  // shows "Cached ..." came from the file.
  void MarkCache() { Write(CacheFile(), Replace(Read(CacheFile()), "\tNoname\tfrontend-tester\t", "\tCached\tfrontend-tester\t")); }

  SaneTestBackend backend_;
  Session session_{std::string("[Sources]\nCount=0\n")};
};

TEST_F(DeviceCacheTest, DiscoveryWritesTheCacheAndTheNextSessionListsFromIt) {
  session_.OpenDsm();
  EXPECT_EQ(Listed(session_), (std::vector<std::string>{kFirst, kSecond}));
  const std::string text = Read(CacheFile());
  EXPECT_EQ(text.rfind(TDeviceCache::kMagic, 0), 0u) << text;
  EXPECT_NE(text.find(std::string("device\t") + kFirst + "\ttest:0\tNoname\tfrontend-tester\t"), std::string::npos) << text;

  MarkCache();
  Reopen(session_);
  EXPECT_EQ(Listed(session_), (std::vector<std::string>{"Cached frontend-tester", kFirst}));
  // Asked to, the source manager looks again and keeps what it found.
  TW_IDENTITY scratch{};
  EXPECT_EQ(session_.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_LP_REFRESHLIST, &scratch), TWRC_SUCCESS);
  EXPECT_EQ(Listed(session_), (std::vector<std::string>{kFirst, kSecond}));
  EXPECT_EQ(Read(CacheFile()).find("Cached"), std::string::npos);
}

struct SessionCase {
  const char* name;
  std::function<std::string(const std::string&)> damage;
};

void PrintTo(const SessionCase& c, std::ostream* os) { *os << c.name; }

class DeviceCacheDamagedTest : public DeviceCacheTest, public ::testing::WithParamInterface<SessionCase> {};

// A damaged cache costs a discovery, nothing more: the devices are listed and the file is whole
// again afterwards.
TEST_P(DeviceCacheDamagedTest, SessionDiscoversAndWritesItAnew) {
  session_.OpenDsm();
  MarkCache();
  Write(CacheFile(), GetParam().damage(Read(CacheFile())));
  Reopen(session_);
  EXPECT_EQ(Listed(session_), (std::vector<std::string>{kFirst, kSecond}));
  const std::string text = Read(CacheFile());
  EXPECT_EQ(text.rfind(TDeviceCache::kMagic, 0), 0u);
  EXPECT_NE(text.find("end\t2\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceCacheDamagedTest,
    ::testing::Values(SessionCase{"Truncated", [](const std::string& s) { return s.substr(0, 40); }},
                      SessionCase{"Binary", [](const std::string& s) { return std::string(s.size(), '\xC3'); }},
                      SessionCase{"OlderFormat", [](const std::string& s) { return Replace(s, "cache 1", "cache 0"); }},
                      SessionCase{"OtherSaneConfiguration", [](const std::string& s) { return Replace(s, "|local|", "|network|"); }},
                      SessionCase{"Stale",
                                  [](const std::string& s) {
                                    const auto at = s.find("written\t") + 8;
                                    const long long old = std::stoll(s.substr(at)) - 3601;
                                    return s.substr(0, at) + std::to_string(old) + s.substr(s.find('\n', at));
                                  }}),
    [](const ::testing::TestParamInfo<SessionCase>& info) { return std::string(info.param.name); });

// Something other than a file in the cache's place is no cache either: a FIFO must not hold up
// the session, and a folder is left alone while the cache goes to the user's cache folder.
TEST(DeviceCacheSpecialFileTest, FifoOrFolderInItsPlaceCostsOnlyADiscovery) {
  SaneTestBackend backend;
  for (const bool fifo : {true, false}) {
    SCOPED_TRACE(fifo ? "fifo" : "folder");
    TempDir home;
    ScopedEnv xdg("XDG_CACHE_HOME", home.Path());
    Session s(std::string("[Sources]\nCount=0\n"));
    const std::string file = s.System().Folder().File(TDeviceCache::kFileName);
    ASSERT_EQ(fifo ? ::mkfifo(file.c_str(), 0644) : ::mkdir(file.c_str(), 0755), 0);
    s.OpenDsm();
    EXPECT_EQ(Listed(s), (std::vector<std::string>{kFirst, kSecond}));
    const std::string kept = fifo ? file : home.Path() + "/lumipage/" + TDeviceCache::kFileName;
    EXPECT_EQ(Read(kept).rfind(TDeviceCache::kMagic, 0), 0u) << kept;
    if (!fifo) {
      EXPECT_TRUE(std::filesystem::is_directory(file));
      ::rmdir(file.c_str());
    }
  }
}

// A cached device whose SANE name changed (another USB port) is opened after a new look; one that
// has gone fails as any unknown source does.
TEST_F(DeviceCacheTest, CachedDeviceThatMovedIsFoundAndOneThatWentIsNot) {
  session_.OpenDsm();
  Write(CacheFile(), Replace(Read(CacheFile()), "\ttest:0\t", "\ttest:7\t"));
  Reopen(session_);
  session_.src_ = TW_IDENTITY{};
  std::strcpy(session_.src_.ProductName, kFirst);
  EXPECT_EQ(session_.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &session_.src_), TWRC_SUCCESS);
  EXPECT_EQ(session_.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &session_.src_), TWRC_SUCCESS);
  EXPECT_NE(Read(CacheFile()).find("\ttest:0\t"), std::string::npos);  // written anew

  Write(CacheFile(), Replace(Read(CacheFile()), "\ttest:1\tNoname\tfrontend-tester", "\ttest:9\tGone\tScanner"));
  Reopen(session_);
  EXPECT_EQ(Listed(session_), (std::vector<std::string>{kFirst, "Gone Scanner"}));
  TW_IDENTITY gone{};
  std::strcpy(gone.ProductName, "Gone Scanner");
  EXPECT_EQ(session_.Try(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &gone), std::make_pair(TWRC_FAILURE, TWCC_NODS));
  EXPECT_EQ(Listed(session_), (std::vector<std::string>{kFirst, kSecond}));
}

TEST(DeviceCacheSettingsTest, CacheSecondsZeroWritesNoCache) {
  SaneTestBackend backend;
  Session s(std::string("[Sources]\nCount=0\n[Sane]\nCacheSeconds=0\n"));
  s.OpenDsm();
  EXPECT_EQ(Listed(s), (std::vector<std::string>{kFirst, kSecond}));
  EXPECT_FALSE(std::filesystem::exists(s.System().Folder().File(TDeviceCache::kFileName)));
}

// A settings folder without write bits keeps the cache in the user's cache folder instead.
TEST(DeviceCacheSettingsTest, UnwritableSettingsFolderUsesTheUserCacheFolder) {
  SaneTestBackend backend;
  TempDir home;
  ScopedEnv xdg("XDG_CACHE_HOME", home.Path() + "/cache");
  Session s(std::string("[Sources]\nCount=0\n"));
  const std::string folder = s.System().Folder().Path();
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  s.OpenDsm();
  const std::string userFile = home.Path() + "/cache/lumipage/" + TDeviceCache::kFileName;
  EXPECT_FALSE(std::filesystem::exists(s.System().Folder().File(TDeviceCache::kFileName)));
  ASSERT_TRUE(std::filesystem::exists(userFile));
  Write(userFile, Replace(Read(userFile), "\tNoname\tfrontend-tester\t", "\tCached\tfrontend-tester\t"));
  Reopen(s);
  EXPECT_EQ(Listed(s), (std::vector<std::string>{"Cached frontend-tester", kFirst}));
  ::chmod(folder.c_str(), 0755);
}

}  // namespace
}  // namespace lumipage
