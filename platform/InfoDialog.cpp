#include "platform/InfoDialog.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>

#include "platform/Interrupt.h"
#include "platform/Version.h"

namespace lumipage::platform {
namespace {

// A person who walks away from the terminal must not keep the caller waiting forever.
constexpr int kAnswerTimeoutMs = 10 * 60 * 1000;

bool writeText(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = ::write(fd, s.data() + done, s.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// One answer line; false on end of input, error or timeout.
bool readAnswer(int fd, std::string& line) {
  line.clear();
  // Waited in short slices: a caller's time-out ends the wait, also when its signal was taken
  // by another thread of the process.
  constexpr int kSliceMs = 200;
  int waited = 0;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, kSliceMs);
    if (InterruptRequested()) return false;
    if (r < 0 && errno == EINTR) continue;
    if (r == 0 && (waited += kSliceMs) < kAnswerTimeoutMs) continue;
    if (r <= 0) return false;
    waited = 0;
    char c;
    ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (c == '\n' || c == '\r') return true;
    if (c == 27) {  // Escape is the Cancel key
      line.assign(1, static_cast<char>(27));
      return true;
    }
    if (line.size() < 64) line += c;
  }
}

}  // namespace

int ShowInformationPage(const std::string& caption, const std::string& versionText, const std::string& ttyPath) {
  int fd = ::open(ttyPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return mrCancel;
  int result = mrCancel;
  std::string prompt = caption + "\nFile version: " + versionText + "\n[OK] / Cancel: ";
  for (int attempt = 0; attempt < 5 && writeText(fd, prompt); ++attempt) {
    std::string answer;
    if (!readAnswer(fd, answer)) break;
    std::string a;
    for (char c : answer)
      if (!std::isspace(static_cast<unsigned char>(c))) a += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (a.empty() || a == "ok" || a == "o" || a == "y" || a == "yes") {
      result = mrOk;  // OK is the default button
      break;
    }
    if (a == "cancel" || a == "c" || a == "n" || a == "no" || a == "\x1b") break;
  }
  ::close(fd);
  return result;
}

std::string FileVersionText() {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%d.%d.%d", LUMIPAGE_VERSION_MAJOR, LUMIPAGE_VERSION_MINOR, LUMIPAGE_VERSION_PATCH);
  return buf;
}

}  // namespace lumipage::platform
