#include "platform/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "../support/TempDir.h"

using lumipage::platform::GetPrivateProfileString;
using lumipage::platform::IniFile;
using lumipage::platform::WritePrivateProfileString;
using namespace lumipage::testing;

namespace {

struct ReadCase {
  const char* name;
  const char* content;
  const char* section;
  const char* key;
  const char* expected;
};

class IniRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IniRead, FindsValueLikeWindows) {
  TempDir dir;
  WriteText(dir / "a.ini", GetParam().content);
  EXPECT_EQ(GetPrivateProfileString(GetParam().section, GetParam().key, "<def>", dir / "a.ini"),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniRead,
    ::testing::Values(
        ReadCase{"case_insensitive", "[SCAN]\nRESOLUTION=300\n", "scan", "resolution", "300"},
        ReadCase{"trimmed", "[Scan]\n  Key  =   some value  \t\n", "Scan", "Key", "some value"},
        ReadCase{"double_quotes_removed", "[Scan]\nKey=\"  quoted \"\n", "Scan", "Key", "  quoted "},
        ReadCase{"single_quotes_removed", "[Scan]\nKey='x'\n", "Scan", "Key", "x"},
        ReadCase{"unbalanced_quote_kept", "[Scan]\nKey=\"x\n", "Scan", "Key", "\"x"},
        ReadCase{"first_duplicate_wins", "[Scan]\nKey=1\nKey=2\n", "Scan", "Key", "1"},
        ReadCase{"comment_line_ignored", "[Scan]\n;Key=1\nKey=2\n", "Scan", "Key", "2"},
        ReadCase{"blank_lines", "\n\n[Scan]\n\n\nKey=3\n\n", "Scan", "Key", "3"},
        ReadCase{"crlf_file", "[Scan]\r\nKey=4\r\nOther=5\r\n", "Scan", "Key", "4"},
        ReadCase{"no_trailing_newline", "[Scan]\nKey=5", "Scan", "Key", "5"},
        ReadCase{"other_section", "[Other]\nKey=1\n[Scan]\nKey=2\n", "Scan", "Key", "2"},
        ReadCase{"missing_key", "[Scan]\nKey=1\n", "Scan", "Nope", "<def>"},
        ReadCase{"key_before_any_section", "Key=1\n[Scan]\n", "Scan", "Key", "<def>"},
        ReadCase{"empty_value", "[Scan]\nKey=\n", "Scan", "Key", ""},
        ReadCase{"value_with_equals", "[Scan]\nKey=a=b\n", "Scan", "Key", "a=b"},
        ReadCase{"binary_garbage", "\x01\xff\x7f\n[Scan]\n\xfe=\x80\nKey=7\n", "Scan", "Key", "7"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IniRead, MissingFileGivesDefaults) {
  EXPECT_EQ(GetPrivateProfileString("Scan", "Key", "d", "/nonexistent/x.ini"), "d");
}

TEST(IniRead, OneMegabyteLine) {
  TempDir dir;
  std::string big(1 << 20, 'x');
  WriteText(dir / "a.ini", "[Scan]\nBig=" + big + "\nKey=1\n");
  IniFile ini(dir / "a.ini");
  EXPECT_EQ(ini.ReadString("Scan", "Big", ""), big);
  EXPECT_EQ(ini.ReadString("Scan", "Key", ""), "1");
}

TEST(IniWrite, KeepsEveryOtherLine) {
  TempDir dir;
  const std::string before = "; settings\n[Scan]\nA=1\n  b = 2 ; not a comment\n\n[Scanners]\nCount=1\n\n[Tail]\nX=y\n";
  WriteText(dir / "a.ini", before);
  ASSERT_TRUE(WritePrivateProfileString("scanners", "COUNT", "3", dir / "a.ini"));
  ASSERT_TRUE(WritePrivateProfileString("Scanners", "Scanner0", "Flatbed", dir / "a.ini"));
  EXPECT_EQ(ReadText(dir / "a.ini"),
            "; settings\n[Scan]\nA=1\n  b = 2 ; not a comment\n\n[Scanners]\nCount=3\nScanner0=Flatbed\n\n[Tail]\nX=y\n");
}

TEST(IniWrite, CreatesFileAndSectionAndKeepsCrlf) {
  TempDir dir;
  ASSERT_TRUE(WritePrivateProfileString("Scan", "Pages", "2", dir / "new.ini"));
  EXPECT_EQ(ReadText(dir / "new.ini"), "[Scan]\nPages=2\n");
  WriteText(dir / "crlf.ini", "[A]\r\nx=1");
  ASSERT_TRUE(WritePrivateProfileString("B", "y", "2", dir / "crlf.ini"));
  EXPECT_EQ(ReadText(dir / "crlf.ini"), "[A]\r\nx=1\r\n[B]\r\ny=2\r\n");
}

TEST(IniWrite, RefusedForReadOnlyFileAndMissingFolder) {
  TempDir dir;
  WriteText(dir / "ro.ini", "[Scan]\nA=1\n");
  ::chmod((dir / "ro.ini").c_str(), 0444);
  EXPECT_FALSE(WritePrivateProfileString("Scan", "A", "2", dir / "ro.ini"));
  EXPECT_EQ(ReadText(dir / "ro.ini"), "[Scan]\nA=1\n");
  EXPECT_FALSE(WritePrivateProfileString("Scan", "A", "2", dir / "missing/x.ini"));
}

TEST(IniWrite, KeepsFileMode) {
  TempDir dir;
  WriteText(dir / "a.ini", "[Scan]\n");
  ::chmod((dir / "a.ini").c_str(), 0600);
  ASSERT_TRUE(WritePrivateProfileString("Scan", "A", "2", dir / "a.ini"));
  struct stat st {};
  ASSERT_EQ(::stat((dir / "a.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace

namespace {

TEST(IniSpecialFiles, FifoOrDeviceReadsAsEmptyWithoutBlocking) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo.ini").c_str(), 0644), 0);
  EXPECT_EQ(GetPrivateProfileString("Scan", "Key", "<def>", dir / "fifo.ini"), "<def>");
  EXPECT_EQ(GetPrivateProfileString("Scan", "Key", "<def>", "/dev/zero"), "<def>");
  // Nor does a write wait for a reader that never comes.
  EXPECT_FALSE(WritePrivateProfileString("Scan", "Key", "1", dir / "fifo.ini"));
}

TEST(IniEdit, SectionsAreReplacedInMemory) {
  TempDir dir;
  WriteText(dir / "r.dat", "[Error]\nMessage=old\n[Other]\nKeep=1\n[error]\nMore=2\n");
  IniFile ini(dir / "r.dat");
  ini.EraseSection("ERROR");
  ini.SetString("Scan", "Pages", "3");
  EXPECT_EQ(ini.Text(), "[Other]\nKeep=1\n[Scan]\nPages=3\n");
  EXPECT_EQ(ReadText(dir / "r.dat"), "[Error]\nMessage=old\n[Other]\nKeep=1\n[error]\nMore=2\n");
}

}  // namespace
