#include "platform/FileReplace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "../support/TempDir.h"
#include "platform/JobLock.h"

using namespace lumipage::platform;
using namespace lumipage::testing;

namespace {

bool Replace(const std::string& target, const std::string& text, std::string* error = nullptr) {
  TFileReplacement file(target);
  if (!file.Ok()) {
    if (error) *error = file.Error();
    return false;
  }
  EXPECT_EQ(::write(file.Handle(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
  const bool ok = file.Commit();
  if (!ok && error) *error = file.Error();
  return ok;
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode;
}

}  // namespace

TEST(FileReplace, ReplacesAndCreatesLeavingNoTemporary) {
  TempDir dir;
  EXPECT_TRUE(Replace(dir / "new.pdf", "one"));
  EXPECT_EQ(ReadText(dir / "new.pdf"), "one");
  const mode_t mask = ::umask(022);
  ::umask(mask);
  EXPECT_EQ(ModeOf(dir / "new.pdf") & 0777, 0666u & ~mask);
  ::chmod((dir / "new.pdf").c_str(), 0640);
  ::chown((dir / "new.pdf").c_str(), 1234, 5678);
  EXPECT_TRUE(Replace(dir / "new.pdf", "two"));
  EXPECT_EQ(ReadText(dir / "new.pdf"), "two");
  struct stat st {};
  ASSERT_EQ(::stat((dir / "new.pdf").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);  // mode kept
  if (::geteuid() == 0) {
    EXPECT_EQ(st.st_uid, 1234u);  // owner kept
    EXPECT_EQ(st.st_gid, 5678u);
  }
  EXPECT_EQ(Names(dir.Folder()), std::vector<std::string>{"new.pdf"});
}

TEST(FileReplace, UncommittedReplacementLeavesTheTargetAsItWas) {
  TempDir dir;
  WriteText(dir / "t", "old");
  {
    TFileReplacement file(dir / "t");
    ASSERT_TRUE(file.Ok());
    EXPECT_TRUE(IsTemporaryFileName(file.TemporaryName()));
    EXPECT_EQ(TemporaryFileOwner(file.TemporaryName()), ::getpid());
    EXPECT_EQ(::write(file.Handle(), "partial", 7), 7);
  }
  EXPECT_EQ(ReadText(dir / "t"), "old");
  EXPECT_EQ(Names(dir.Folder()), std::vector<std::string>{"t"});
}

TEST(FileReplace, LinksAreFollowedAndTheLinkStays) {
  TempDir dir;
  std::filesystem::create_directory(dir / "real");
  WriteText(dir / "real/doc.pdf", "old");
  std::filesystem::create_symlink("real/doc.pdf", dir / "link.pdf");
  std::filesystem::create_symlink("link.pdf", dir / "link2.pdf");  // a chain of links
  EXPECT_TRUE(Replace(dir / "link2.pdf", "new"));
  EXPECT_TRUE(S_ISLNK(ModeOf(dir / "link.pdf")));
  EXPECT_TRUE(S_ISLNK(ModeOf(dir / "link2.pdf")));
  EXPECT_EQ(ReadText(dir / "real/doc.pdf"), "new");
  // A dangling link gets its target made.
  std::filesystem::create_symlink("real/made.pdf", dir / "dangling.pdf");
  EXPECT_TRUE(Replace(dir / "dangling.pdf", "made"));
  EXPECT_EQ(ReadText(dir / "real/made.pdf"), "made");
  EXPECT_TRUE(S_ISLNK(ModeOf(dir / "dangling.pdf")));
  // A loop is refused.
  std::filesystem::create_symlink("loop2", dir / "loop1");
  std::filesystem::create_symlink("loop1", dir / "loop2");
  std::string error;
  EXPECT_FALSE(Replace(dir / "loop1", "x", &error));
  EXPECT_EQ(error, "Too many levels of symbolic links");
}

TEST(FileReplace, RefusesWhatIsNotAWritableRegularFile) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0666), 0);
  std::filesystem::create_directory(dir / "folder");
  WriteText(dir / "readonly", "keep");
  ::chmod((dir / "readonly").c_str(), 0444);
  std::filesystem::create_symlink("readonly", dir / "link-to-readonly");
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  }
  struct Case {
    std::string name, error;
  };
  std::vector<Case> cases{{"fifo", "Not a regular file"},
                          {"folder", "Is a directory"},
                          {"readonly", "Permission denied"},
                          {"link-to-readonly", "Permission denied"},
                          {"missing/x", "No such file or directory"}};
  if (root) cases.push_back({"null", "Not a regular file"});
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(Replace(dir / c.name, "x", &error)) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
    EXPECT_FALSE(DeleteTargetFile(dir / c.name)) << c.name;
  }
  EXPECT_EQ(ReadText(dir / "readonly"), "keep");
  EXPECT_TRUE(S_ISFIFO(ModeOf(dir / "fifo")));
  if (root) {
    EXPECT_TRUE(S_ISCHR(ModeOf(dir / "null")));
  }
  EXPECT_TRUE(S_ISLNK(ModeOf(dir / "link-to-readonly")));
}

TEST(FileReplace, DeleteFollowsLinksAndKeepsThem) {
  TempDir dir;
  WriteText(dir / "target", "x");
  std::filesystem::create_symlink("target", dir / "link");
  EXPECT_TRUE(DeleteTargetFile(dir / "link"));
  EXPECT_FALSE(Exists(dir / "target"));
  EXPECT_TRUE(S_ISLNK(ModeOf(dir / "link")));
  EXPECT_FALSE(DeleteTargetFile(dir / "link"));  // nothing left to delete
  EXPECT_TRUE(NameTaken(dir / "link"));
  EXPECT_FALSE(NameTaken(dir / "target"));
}

TEST(FileReplace, StaleTemporariesOfVanishedProcessesAreRemoved) {
  TempDir dir;
  // A process that has ended: its pid is free (until reused, which the test does not wait for).
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  const std::string dead = ".page001.jpg.lumipage-" + std::to_string(child) + "-aB3xY9.tmp";
  const std::string alive = ".pages.pdf.lumipage-" + std::to_string(::getppid()) + "-Zz09az.tmp";
  const std::string own = ".x.lumipage-" + std::to_string(::getpid()) + "-aaaaaa.tmp";
  const std::vector<std::string> notOurs{".lumipage-1-aaaaaa.tmp", "page.lumipage-1-aaaaaa.tmp",
                                         ".p.lumipage-1-aaaaa.tmp", ".p.lumipage-x-aaaaaa.tmp",
                                         ".p.lumipage-1-aaaaaa.tmp.bak", ".p.lumipage-1-aa-aaa.tmp"};
  for (const auto& n : notOurs) EXPECT_FALSE(IsTemporaryFileName(n)) << n;
  EXPECT_TRUE(IsTemporaryFileName(dead));
  for (const auto& n : notOurs) WriteText(dir / n, "x");
  for (const auto& n : {dead, alive, own}) WriteText(dir / n, "x");
  EXPECT_EQ(RemoveStaleTemporaries(dir.Folder()), 1);
  EXPECT_FALSE(Exists(dir / dead));
  EXPECT_TRUE(Exists(dir / alive));
  EXPECT_TRUE(Exists(dir / own));
  for (const auto& n : notOurs) EXPECT_TRUE(Exists(dir / n)) << n;
}

TEST(FileReplace, OwnTemporariesCanBeRemovedFromASignalHandler) {
  TempDir dir;
  TFileReplacement a(dir / "a"), b(dir / "b");
  ASSERT_TRUE(a.Ok() && b.Ok());
  EXPECT_EQ(Names(dir.Folder()).size(), 2u);
  RemoveOwnTemporaries();
  EXPECT_TRUE(Names(dir.Folder()).empty());
}

TEST(FileReplace, MoveNeverReplaces) {
  TempDir dir;
  WriteText(dir / "a", "a");
  WriteText(dir / "b", "b");
  EXPECT_EQ(MoveFileNoReplace(dir / "a", dir / "b"), EEXIST);
  EXPECT_EQ(ReadText(dir / "b"), "b");
  EXPECT_EQ(MoveFileNoReplace(dir / "a", dir / "c"), 0);
  EXPECT_EQ(ReadText(dir / "c"), "a");
  EXPECT_FALSE(Exists(dir / "a"));
}

TEST(JobLock, SecondHolderWaitsAndTimesOut) {
  TempDir dir;
  TJobLock first, second;
  EXPECT_EQ(first.Acquire(dir / "lock", 0), TJobLock::TResult::Acquired);
  EXPECT_EQ(second.Acquire(dir / "lock", 0), TJobLock::TResult::TimedOut);
  first.Release();
  EXPECT_EQ(second.Acquire(dir / "lock", 0), TJobLock::TResult::Acquired);
  EXPECT_EQ(first.Acquire(dir / "missing/lock", 0), TJobLock::TResult::Unavailable);
}
