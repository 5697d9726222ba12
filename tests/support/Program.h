#pragma once
// The real program as a caller runs it: alone in a folder of its own, with the source manager in
// a system folder that LUMIPAGE_SYSTEM_DIR names.
#include <csignal>
#include <chrono>
#include <functional>
#include <string>

namespace lumipage::testing {

// Puts the built program into exeFolder (a hard link where the file system allows one) and the
// source manager into systemFolder; both end in '/'.
void InstallProgram(const std::string& exeFolder, const std::string& systemFolder);

// The shell command that runs program with args from the root folder: no input, standard output
// discarded, standard error into errFile. env ("NAME=value ...") is set for the program alone;
// prefix is a command the program runs under (setpriv ...). The shell becomes the program, so a
// caller that starts the command can signal the program itself.
std::string ProgramCommand(const std::string& program, const std::string& args, const std::string& env,
                           const std::string& errFile, const std::string& prefix = "");

// The exit code in a status from std::system or waitpid; minus the signal for a killed program.
int ExitCode(int status);

// Starts command through the shell, waits until ready() holds (at most a minute), then delay,
// and sends sig; waits for the end. The exit code, or -2 when the program ended before the
// signal. after, when given, gets how long the program took to end after the signal.
int RunAndSignal(const std::string& command, const std::function<bool()>& ready, int sig = SIGTERM,
                 std::chrono::milliseconds delay = std::chrono::milliseconds(0),
                 std::chrono::steady_clock::duration* after = nullptr);

}  // namespace lumipage::testing
