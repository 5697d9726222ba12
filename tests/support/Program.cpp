#include "tests/support/Program.h"

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

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

int RunAndSignal(const std::string& command, const std::function<bool()>& ready, int sig,
                 std::chrono::milliseconds delay, std::chrono::steady_clock::duration* after) {
  using Clock = std::chrono::steady_clock;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  const auto limit = Clock::now() + std::chrono::seconds(60);
  while (!ready() && Clock::now() < limit) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return -2;  // ended before the moment came
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::this_thread::sleep_for(delay);
  if (::waitpid(pid, &status, WNOHANG) == pid) return -2;
  const auto sent = Clock::now();
  ::kill(pid, sig);
  ::waitpid(pid, &status, 0);
  if (after) *after = Clock::now() - sent;
  return ExitCode(status);
}

}  // namespace lumipage::testing
