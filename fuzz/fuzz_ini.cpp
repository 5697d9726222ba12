// Settings and report files from arbitrary bytes: reading any key gives a value or the default,
// and an edit keeps every line it does not touch; nothing may crash or hang.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/IniFile.h"

namespace {

// One file name per process, rewritten for every input.
const std::string& FileName() {
  static const std::string name = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/fuzz_ini-" + std::to_string(::getpid()) + ".ini";
    return path;
  }();
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using lumipage::platform::IniFile;
  const std::string& name = FileName();
  if (std::FILE* f = std::fopen(name.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  IniFile ini(name);
  // Sections and keys taken from the input itself as well as the job's own.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string probe = text.substr(0, std::min<std::size_t>(text.size(), 12));
  for (const std::string& section : {std::string("Scan"), std::string("Error"), probe}) {
    for (const std::string& key : {std::string("Pages"), std::string("Resolution"), probe}) {
      (void)ini.ReadString(section, key, "<default>");
      (void)ini.ValueExists(section, key);
    }
  }
  const std::string before = ini.Text();
  ini.EraseSection("Error");
  ini.SetString("Scan", "Pages", "7");
  // The key just set reads back, from memory and from the file written by the same rules.
  if (ini.ReadString("Scan", "Pages", "") != "7") __builtin_trap();
  if (!ini.WriteString("Scan", "Pages", "8")) return 0;
  if (IniFile(name).ReadString("Scan", "Pages", "") != "8") __builtin_trap();
  (void)before;
  std::remove(name.c_str());
  return 0;
}
