#include "tests/support/Program.h"

#include <sys/wait.h>

#include <filesystem>

namespace lumipage::testing {

namespace {
std::string Quote(const std::string& s) { return "'" + s + "'"; }
}  // namespace

void InstallProgram(const std::string& exeFolder, const std::string& systemFolder) {
  namespace fs = std::filesystem;
  const std::string built = LUMIPAGE_BUILD_DIR;
  std::error_code ec;
  fs::create_hard_link(built + "/lumipage", exeFolder + "lumipage", ec);
  if (ec) fs::copy_file(built + "/lumipage", exeFolder + "lumipage");
  fs::copy_file(built + "/libtwain_32.so", systemFolder + "libtwain_32.so");
}

std::string ProgramCommand(const std::string& program, const std::string& args, const std::string& env,
                           const std::string& errFile, const std::string& prefix) {
  return "cd / && exec " + (prefix.empty() ? "" : prefix + " ") + "env " + env + " " + Quote(program) + " " + args +
         " </dev/null >/dev/null 2>" + Quote(errFile);
}

int ExitCode(int status) {
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace lumipage::testing
