#pragma once
// The report file that the calling program reads. It is built whole in memory and replaces the
// old file in one step, so a caller never reads half of it or an older job's entries.
#include <string>
#include <utility>
#include <vector>

namespace lumipage {

class TJobReport {
 public:
  // Sets key in section; sections and keys keep the order in which they were first set and are
  // matched without regard to case, as readers match them. Each is stored as it will be read
  // back (platform::IniKeyText and its kin): no text can add lines or keys of its own.
  void Set(const std::string& section, const std::string& key, const std::string& value);
  [[nodiscard]] bool Empty() const { return sections_.empty(); }
  // The entries as INI text.
  [[nodiscard]] std::string Text() const;
  // The entries as stored, section by section.
  using Entries = std::vector<std::pair<std::string, std::string>>;
  [[nodiscard]] const std::vector<std::pair<std::string, Entries>>& Sections() const { return sections_; }
  // Writes the entries to fileName, durably. Sections of an existing report that this report
  // does not hold are kept (a caller's own notes beside the output); the sections it holds are
  // replaced whole. A read-only existing report is left alone: a caller must not read it as
  // this job's result. False, with error naming the file and the reason, when the report is not
  // in place; the file is then as it was.
  [[nodiscard]] bool WriteTo(const std::string& fileName, std::string& error) const;

 private:
  std::vector<std::pair<std::string, Entries>> sections_;
};

// Numbers as the report lists pages: "2,4,6"; empty for none.
[[nodiscard]] std::string JoinNumbers(const std::vector<int>& numbers);

// For a report that could not reach the file the caller reads: writes the report's text to
// standard error, after a comment line that says why (the text stays valid INI), and returns the
// process's exit code for that case, 1.
[[nodiscard]] int ReportOnStandardError(const std::string& text, const std::string& why) noexcept;

}  // namespace lumipage
