#pragma once
// Private-profile (INI) files with the semantics callers of the Windows functions rely on:
// sections and keys matched without regard to case, the first of duplicate keys wins, values
// trimmed and stripped of one pair of enclosing quotes, ';' comment lines, CRLF or LF files, and
// writes that keep every other line of the file as it was.
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace lumipage::platform {

// The most of a file that is read; what lies beyond counts as absent. No settings file or report
// needs more, and a huge one would hold up the job (and a caller's time-out) for seconds.
constexpr std::size_t kMaxIniFileSize = std::size_t{4} << 20;

// A line break, carriage return or NUL would turn one value into several lines of the file.
[[nodiscard]] bool IniTextIsOneLine(const std::string& text);
// A key, section name or value made safe to write as it is read back: line breaks, carriage
// returns and NULs become spaces; in keys also '=' (and a leading ';' or '['), in section names
// ']'. A value that reading would trim or unquote is written in quotes, so it reads back whole.
[[nodiscard]] std::string IniSectionText(const std::string& name);
[[nodiscard]] std::string IniKeyText(const std::string& key);
[[nodiscard]] std::string IniValueText(const std::string& value);

class IniFile {
 public:
  // Reads the file once; a missing or unreadable file reads as empty.
  explicit IniFile(std::string fileName);

  [[nodiscard]] const std::string& FileName() const { return fileName_; }
  [[nodiscard]] std::string ReadString(const std::string& section, const std::string& key,
                                       const std::string& defaultValue) const;
  [[nodiscard]] bool ValueExists(const std::string& section, const std::string& key) const;
  // Why a file that is there could not be read (it then reads as empty); empty when it was read
  // or is absent.
  [[nodiscard]] const std::string& ReadError() const { return readError_; }
  // The file is larger than kMaxIniFileSize: only its beginning was read, and it is never
  // written (that would cut it short).
  [[nodiscard]] bool Truncated() const { return truncated_; }

  // Edits of the lines read, not written anywhere: Text() gives the file's new content.
  void SetString(const std::string& section, const std::string& key, const std::string& value);
  // Removes every section of that name with all its lines.
  void EraseSection(const std::string& section);
  [[nodiscard]] std::string Text() const;

  // Reads the file again, sets the key (creating file and section when missing) and writes the
  // file back through a temporary file, so a failed write leaves the old file whole; a key that
  // already has the value writes nothing. The file is flushed before the rename, its folder
  // later by SyncDeferred. False when the file is read-only or cannot be written, is larger
  // than kMaxIniFileSize, or when a section, key or value is not one line of text (or would not
  // read back as that key: '=' in a key, ']' in a section name).
  [[nodiscard]] bool WriteString(const std::string& section, const std::string& key,
                                 const std::string& value);
  // The same for several keys of one section, in one write.
  [[nodiscard]] bool WriteStrings(const std::string& section,
                                  const std::vector<std::pair<std::string, std::string>>& values);

 private:
  void Load();
  // Line index of the key's line within the section, or -1; sectionEnd gets the index after the
  // section's last key line (or -1 when the section is missing).
  [[nodiscard]] long Find(const std::string& section, const std::string& key, long* sectionEnd) const;

  std::string fileName_;
  std::vector<std::string> lines_;  // without line terminators
  bool crlf_ = false;
  bool truncated_ = false;
  std::string readError_;
};

// The Windows-style calls over a file name, each reading the file anew.
[[nodiscard]] std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                                  const std::string& defaultValue,
                                                  const std::string& fileName);
[[nodiscard]] bool WritePrivateProfileString(const std::string& section, const std::string& key,
                                             const std::string& value, const std::string& fileName);

}  // namespace lumipage::platform
