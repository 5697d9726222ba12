#include "dsm/Terminal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace lumipage::dsm {

std::unique_ptr<TTerminal> TTerminal::Open() {
  const char* overridePath = std::getenv("LUMIPAGE_TTY");
  const char* path = overridePath && *overridePath ? overridePath : "/dev/tty";
  int fd = ::open(path, (overridePath && *overridePath ? O_RDONLY : O_RDWR) | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::unique_ptr<TTerminal>(new TTerminal(fd, isatty(fd) == 1));
}

TTerminal::~TTerminal() { ::close(fd_); }

void TTerminal::Write(const std::string& text) {
  if (!interactive_) return;
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

std::optional<std::string> TTerminal::ReadLine() {
  std::string line;
  bool any = false;
  for (;;) {
    char c;
    ssize_t n = ::read(fd_, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    any = true;
    if (c == '\n') return line;
    if (c != '\r' && line.size() < kMaxLine) line += c;
  }
  if (!any) return std::nullopt;
  return line;
}

bool ConfirmScan(const std::string& heading) {
  auto tty = TTerminal::Open();
  if (!tty) return false;
  tty->Write(heading + "\nPress Enter to scan, or type c to cancel: ");
  auto answer = tty->ReadLine();
  if (!answer) return false;
  std::string a;
  for (char c : *answer)
    if (c != ' ' && c != '\t') a += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return !(a == "c" || a == "cancel" || a == "q");
}

}  // namespace lumipage::dsm
