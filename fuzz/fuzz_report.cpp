// The report from arbitrary sections, keys and values: reading the written text back gives
// exactly the entries the report holds, each with its value, and nothing else. A value with a
// line break, a carriage return or a NUL must never add a key or a section of its own.
#include <strings.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/JobReport.h"
#include "platform/IniFile.h"

namespace {

const std::string& FileName() {
  static const std::string name = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/fuzz_report-" + std::to_string(::getpid()) + ".dat";
  }();
  return name;
}

// Splits the input at byte 0x01 into texts, taken three at a time as section, key and value.
std::vector<std::string> Fields(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> out(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0x01)
      out.emplace_back();
    else
      out.back() += static_cast<char>(data[i]);
  }
  return out;
}

// Key lines of the text, per the reader's rules: not blank, not a comment, holding '='.
std::size_t KeyLines(const std::string& text) {
  std::size_t count = 0, start = 0;
  while (start < text.size()) {
    std::size_t nl = text.find('\n', start);
    std::string line = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    const auto first = line.find_first_not_of(" \t\r\v\f");
    if (first != std::string::npos && line[first] != ';' && line[first] != '[' && line.find('=') != std::string::npos)
      ++count;
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumipage;
  const std::vector<std::string> fields = Fields(data, size);
  TJobReport report;
  for (std::size_t i = 0; i + 2 < fields.size(); i += 3) report.Set(fields[i], fields[i + 1], fields[i + 2]);
  // As the job builds its report: its own entries after the caller-given ones.
  report.Set("Scan", "Pages", "1");
  report.Set("Files", "File1", fields.back());
  const std::string text = report.Text();
  if (std::FILE* f = std::fopen(FileName().c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  } else {
    return 0;
  }
  const platform::IniFile back(FileName());
  std::size_t entries = 0;
  for (const auto& [section, list] : report.Sections()) {
    for (const auto& [key, value] : list) {
      ++entries;
      // The first section of a name is the one read: the report holds each name once.
      if (back.ReadString(section, key, "\x01missing") != back.ReadString(section, key, "\x02missing")) std::abort();
    }
  }
  // Every key line is one of the report's entries: none came from inside a value.
  if (KeyLines(text) != entries) std::abort();
  // The values read back as they were given, apart from the characters that cannot be kept.
  for (std::size_t i = 0; i + 2 < fields.size(); i += 3) {
    std::string expected = fields[i + 2];
    for (char& c : expected)
      if (c == '\n' || c == '\r' || c == '\0') c = ' ';
    const std::string section = platform::IniSectionText(fields[i]);
    const std::string key = platform::IniKeyText(fields[i + 1]);
    // A later entry of the same key (in any case) holds the value that counts.
    bool later = false;
    for (std::size_t j = i + 3; j + 2 < fields.size(); j += 3)
      later |= strcasecmp(platform::IniSectionText(fields[j]).c_str(), section.c_str()) == 0 &&
               strcasecmp(platform::IniKeyText(fields[j + 1]).c_str(), key.c_str()) == 0;
    const bool jobs = (strcasecmp(section.c_str(), "Scan") == 0 && strcasecmp(key.c_str(), "Pages") == 0) ||
                      (strcasecmp(section.c_str(), "Files") == 0 && strcasecmp(key.c_str(), "File1") == 0);
    if (!later && !jobs && back.ReadString(section, key, "\x01missing") != expected) std::abort();
  }
  return 0;
}
