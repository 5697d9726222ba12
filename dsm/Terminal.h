#pragma once
// The controlling terminal, where the selection dialog and the sources' own dialogs run.
// $LUMIPAGE_TTY names another file to read the answers from (prompts are then written only when
// it is a terminal); without a terminal the dialogs count as cancelled.
#include <memory>
#include <optional>
#include <string>

namespace lumipage::dsm {

class TTerminal {
 public:
  // Longest answer line read; the rest of a longer line is dropped.
  static constexpr std::size_t kMaxLine = 256;

  // Null when there is no terminal to talk to.
  [[nodiscard]] static std::unique_ptr<TTerminal> Open();
  ~TTerminal();
  TTerminal(const TTerminal&) = delete;
  TTerminal& operator=(const TTerminal&) = delete;

  void Write(const std::string& text);
  // One line without its terminator; empty at end of input.
  [[nodiscard]] std::optional<std::string> ReadLine();

 private:
  TTerminal(int fd, bool interactive) : fd_(fd), interactive_(interactive) {}
  int fd_;
  bool interactive_;
};

// A source's own dialog: shows heading, asks for Enter to scan, and tells whether to go on. An
// answer of c, cancel or q (in any letter case, spaces ignored) cancels, as do no terminal and the
// end of the input.
[[nodiscard]] bool ConfirmScan(const std::string& heading);

}  // namespace lumipage::dsm
