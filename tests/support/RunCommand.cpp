#include "tests/support/RunCommand.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace lumipage::testing {

CommandResult RunCommand(const std::string& command, bool withErrors) {
  CommandResult result;
  std::FILE* pipe = ::popen((withErrors ? command + " 2>&1" : command).c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> chunk{};
  for (std::size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0;) result.output.append(chunk.data(), n);
  const int status = ::pclose(pipe);
  result.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace lumipage::testing
