#include "platform/Files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "../support/TempDir.h"

using namespace lumipage::platform;
using namespace lumipage::testing;

TEST(Files, NameParts) {
  EXPECT_EQ(ExtractFilePath("/a/b/c.pdf"), "/a/b/");
  EXPECT_EQ(ExtractFilePath("c.pdf"), "");
  EXPECT_EQ(ExtractFileName("/a/b/c.pdf"), "c.pdf");
  EXPECT_EQ(ExtractFileExt("/a.b/c"), "");
  EXPECT_EQ(ExtractFileExt("/a/c.tar.gz"), ".gz");
  EXPECT_EQ(ChangeFileExt("/a/doc.pdf", ".dat"), "/a/doc.dat");
  EXPECT_EQ(ChangeFileExt("/a.b/doc", ".dat"), "/a.b/doc.dat");
  EXPECT_EQ(ChangeFileExt("", ".dat"), ".dat");
  EXPECT_EQ(ChangeFileExt("/a/doc.pdf", ""), "/a/doc");
}

TEST(Files, ReadOnlyMeansNoWriteBitEvenForRoot) {
  TempDir dir;
  WriteText(dir / "f", "x");
  EXPECT_FALSE(IsReadOnly(dir / "f"));
  ::chmod((dir / "f").c_str(), 0444);
  EXPECT_TRUE(IsReadOnly(dir / "f"));
  ::chmod((dir / "f").c_str(), 0400);
  EXPECT_TRUE(IsReadOnly(dir / "f"));
  ::chmod((dir / "f").c_str(), 0040 | 0020);
  EXPECT_FALSE(IsReadOnly(dir / "f"));
  EXPECT_FALSE(IsReadOnly(dir / "missing"));
}

TEST(Files, DeleteAndExistence) {
  TempDir dir;
  WriteText(dir / "f", "x");
  EXPECT_TRUE(FileExists(dir / "f"));
  EXPECT_FALSE(FileExists(dir.Folder()));
  EXPECT_TRUE(DeleteFile(dir / "f"));
  EXPECT_FALSE(DeleteFile(dir / "f"));
  EXPECT_FALSE(DeleteFile(dir.Folder()));
}

TEST(Files, ForceDirectoriesCreatesOutermostFirst) {
  TempDir dir;
  EXPECT_TRUE(ForceDirectories(dir / "a/b/c/"));
  EXPECT_TRUE(DirectoryExists(dir / "a/b/c"));
  WriteText(dir / "file", "x");
  EXPECT_FALSE(ForceDirectories(dir / "file/sub"));
}

TEST(Files, ExeAndTempFoldersEndWithSlash) {
  EXPECT_EQ(ExeFolder().back(), '/');
  EXPECT_TRUE(DirectoryExists(ExeFolder()));
  EXPECT_EQ(TempFolder().back(), '/');
}
