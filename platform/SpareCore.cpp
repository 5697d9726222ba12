#include "platform/SpareCore.h"

#include <charconv>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace lumipage::platform {

namespace {

// The next space-separated field of text, from at on.
std::string_view Field(std::string_view text, std::size_t& at) {
  while (at < text.size() && text[at] == ' ') ++at;
  const std::size_t start = at;
  while (at < text.size() && text[at] != ' ' && text[at] != '\n') ++at;
  return text.substr(start, at - start);
}

}  // namespace

bool CoreToSpare(std::string_view loadavg, unsigned cores) {
  if (cores < 2) return false;
  std::size_t at = 0;
  const std::string_view average = Field(loadavg, at);
  (void)Field(loadavg, at);
  (void)Field(loadavg, at);
  const std::string_view tasks = Field(loadavg, at);  // running/existing
  double load = 0;
  unsigned running = 0;
  const auto a = std::from_chars(average.data(), average.data() + average.size(), load);
  const auto r = std::from_chars(tasks.data(), tasks.data() + tasks.size(), running);
  if (a.ec != std::errc() || a.ptr != average.data() + average.size() || r.ec != std::errc() ||
      r.ptr == tasks.data() + tasks.size() || *r.ptr != '/')
    return false;
  // The asking thread is one of the running tasks; the helper would be another.
  return running + 1 <= cores && load < static_cast<double>(cores);
}

bool TwoThreadsPay(std::int64_t pixels) { return pixels >= kTwoThreadPixels && CoreToSpare(); }

bool CoreToSpare() {
  std::ifstream file("/proc/loadavg");
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return CoreToSpare(text, std::thread::hardware_concurrency());
}

}  // namespace lumipage::platform
