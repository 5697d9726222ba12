#include "app/JobReport.h"

#include <strings.h>
#include <unistd.h>

#include "platform/Files.h"
#include "platform/IniFile.h"

namespace lumipage {

void TJobReport::Set(const std::string& rawSection, const std::string& rawKey, const std::string& rawValue) {
  // No value, whatever it holds, reads back as more than its own key: a file name with a line
  // break must not add a line of its own to the caller's list.
  const std::string section = platform::IniSectionText(rawSection);
  const std::string key = platform::IniKeyText(rawKey);
  const std::string value = platform::IniValueText(rawValue);
  for (auto& [name, entries] : sections_) {
    if (strcasecmp(name.c_str(), section.c_str()) != 0) continue;
    for (auto& [k, v] : entries) {
      if (strcasecmp(k.c_str(), key.c_str()) == 0) {
        v = value;
        return;
      }
    }
    entries.emplace_back(key, value);
    return;
  }
  sections_.push_back({section, Entries{{key, value}}});
}

std::string TJobReport::Text() const {
  std::string out;
  for (const auto& [name, entries] : sections_) {
    out += "[" + name + "]\n";
    for (const auto& [k, v] : entries) out += k + "=" + v + "\n";
  }
  return out;
}

bool TJobReport::WriteTo(const std::string& fileName, std::string& error) const {
  if (platform::FileExists(fileName) && platform::IsReadOnly(fileName)) {
    error = fileName + ": the old report is read-only and was not replaced";
    return false;
  }
  platform::IniFile old(fileName);  // empty unless a regular file is there
  if (!old.ReadError().empty()) {
    // Its other sections would be lost with a report written over it.
    error = fileName + ": " + old.ReadError();
    return false;
  }
  if (old.Truncated()) {
    error = fileName + ": the old file is larger than a report can be and was not replaced";
    return false;
  }
  for (const auto& section : sections_) old.EraseSection(section.first);
  std::string text = old.Text() + Text();
  return platform::ReplaceFileDurably(fileName, text, error);
}

std::string JoinNumbers(const std::vector<int>& numbers) {
  std::string text;
  for (int n : numbers) text += (text.empty() ? "" : ",") + std::to_string(n);
  return text;
}

int ReportOnStandardError(const std::string& text, const std::string& why) noexcept {
  try {
    std::string reason = why;
    for (char& c : reason)
      if (c == '\n' || c == '\r') c = ' ';
    std::string out = "; The report could not be written: " + reason + "\n" + text;
    (void)platform::WriteAll(STDERR_FILENO, out);
  } catch (...) {
    // Standard error is the last channel there is.
  }
  return 1;
}

}  // namespace lumipage
