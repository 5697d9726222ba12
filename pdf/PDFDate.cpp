#include "pdf/PDFDate.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <ctime>

#include "pdf/PDFNumberText.h"
#include "platform/SourceDate.h"

namespace lumipage {

namespace {

constexpr int64_t kUnixEpochDays = 25569;  // 1970-01-01 as a day count from 1899-12-30

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::string ZoneText(int minutes) {
  if (minutes == 0) return "Z";
  char buf[16];
  const int a = std::abs(minutes);
  std::snprintf(buf, sizeof buf, "%c%02d'%02d'", minutes > 0 ? '+' : '-', (a / 60) % 100, a % 60);
  return buf;
}

}  // namespace

TDateTime NowLocal() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  const int64_t days = DaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) + kUnixEpochDays;
  const double seconds = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + ts.tv_nsec / 1e9;
  return static_cast<double>(days) + seconds / 86400.0;
}

int LocalOffsetMinutes() {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return static_cast<int>(local.tm_gmtoff / 60);
}

std::string PDFDate(TDateTime t, bool shift) {
  const int offset = LocalOffsetMinutes();
  if (shift) t += offset / 1440.0;
  if (!std::isfinite(t) || std::fabs(t) > 3e6) t = 0;
  int64_t days = static_cast<int64_t>(std::floor(t));
  auto ms = static_cast<int64_t>(std::llround((t - static_cast<double>(days)) * 86400000.0));
  if (ms >= 86400000) {
    ++days;
    ms -= 86400000;
  }
  int y = 0, m = 0, d = 0;
  CivilFromDays(days - kUnixEpochDays, y, m, d);
  const int64_t secs = ms / 1000;
  char buf[40];
  std::snprintf(buf, sizeof buf, "D:%04d%02d%02d%02d%02d%02d", y, m, d, static_cast<int>(secs / 3600),
                static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
  return buf + ZoneText(offset);
}

std::string PDFDateNow() {
  const auto epoch = platform::SourceDateEpoch();
  if (!epoch) return PDFDate(NowLocal(), false);
  const int64_t days = *epoch / 86400;
  const int64_t secs = *epoch % 86400;
  int y = 0, m = 0, d = 0;
  CivilFromDays(days, y, m, d);
  char buf[40];
  std::snprintf(buf, sizeof buf, "D:%04d%02d%02d%02d%02d%02dZ", y, m, d, static_cast<int>(secs / 3600),
                static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
  return buf;
}

std::string IdentifierSeed() {
  if (const auto epoch = platform::SourceDateEpoch()) return "SOURCE_DATE_EPOCH " + std::to_string(*epoch);
  return FormatGeneral(NowLocal());
}

}  // namespace lumipage
