#pragma once
// Running a shell command from a test or a benchmark and reading what it printed.
#include <string>

namespace lumipage::testing {

struct CommandResult {
  int status = -1;  // the exit code; -1 when the command could not run or did not exit
  std::string output;
};

// Runs command through the shell. output holds its standard output, and its standard error as
// well when withErrors is set; otherwise standard error goes where the test's own goes.
CommandResult RunCommand(const std::string& command, bool withErrors = true);

}  // namespace lumipage::testing
