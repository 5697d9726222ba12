#pragma once
// Program arguments as the job reads them: whole-argument switches and name/value pairs, compared
// without regard to the case of A to Z and without any prefix character.
#include <string>
#include <vector>

namespace lumipage {

class TCommandLine {
 public:
  TCommandLine() = default;
  explicit TCommandLine(std::vector<std::string> args) : args_(std::move(args)) {}
  TCommandLine(int argc, char** argv);

  // True when any argument equals name.
  [[nodiscard]] bool ParamSwitch(const std::string& name) const;
  // The argument after the last argument equal to name (the last argument has no value); empty
  // when there is none.
  [[nodiscard]] std::string ParamValue(const std::string& name) const;
  [[nodiscard]] const std::vector<std::string>& Args() const { return args_; }

 private:
  std::vector<std::string> args_;
};

// Equality ignoring the case of the ASCII letters A to Z only.
[[nodiscard]] bool SameText(const std::string& a, const std::string& b);

}  // namespace lumipage
