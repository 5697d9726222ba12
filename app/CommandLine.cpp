#include "app/CommandLine.h"

namespace lumipage {

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

TCommandLine::TCommandLine(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) args_.emplace_back(argv[i]);
}

bool TCommandLine::ParamSwitch(const std::string& name) const {
  for (const auto& a : args_)
    if (SameText(a, name)) return true;
  return false;
}

std::string TCommandLine::ParamValue(const std::string& name) const {
  std::string result;
  for (size_t i = 0; i + 1 < args_.size(); ++i)
    if (SameText(args_[i], name)) result = args_[i + 1];
  return result;
}

}  // namespace lumipage
