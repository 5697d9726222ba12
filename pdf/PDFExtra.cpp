#include "pdf/PDFExtra.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "platform/SourceDate.h"

namespace lumipage {

std::string FormatGeneral(double x) {
  if (!std::isfinite(x)) return "E";  // no fixed form: written as 0 by the formatter
  if (x == 0) return "0";
  char buf[40];
  // d.dddddddddddddde[+-]XX: 15 significant digits, rounded.
  std::snprintf(buf, sizeof buf, "%.14e", x);
  std::string_view s(buf);
  const bool negative = s.front() == '-';
  if (negative) s.remove_prefix(1);
  const size_t ePos = s.find('e');
  std::string digits;
  digits += s[0];
  digits.append(s.substr(2, ePos - 2));
  int exponent = 0;
  std::from_chars(s.data() + ePos + (s[ePos + 1] == '+' ? 2 : 1), s.data() + s.size(), exponent);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  if (exponent < -5 || exponent >= 15) return "E";
  std::string out;
  if (negative) out += '-';
  if (exponent >= 0) {
    const auto intDigits = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= intDigits) {
      out += digits;
      out.append(intDigits - digits.size(), '0');
    } else {
      out.append(digits, 0, intDigits);
      out += '.';
      out.append(digits, intDigits);
    }
  } else {
    out += "0.";
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out += digits;
  }
  return out;
}

std::string FormatNumber(int width, int decimals, double x) {
  std::string t = FormatGeneral(x);
  if (t.find('E') != std::string::npos) t = "0.00";
  size_t point = t.find('.');
  if (point != std::string::npos && decimals <= 0) {
    t.resize(point);
    point = std::string::npos;
  }
  if (point == std::string::npos && decimals > 0) {
    point = t.size();
    t += '.';
  }
  if (point != std::string::npos && decimals > 0) {
    t += "0000000000";
    t.resize(std::min(t.size(), point + 1 + static_cast<size_t>(decimals)));
  }
  if (width > 0 && t.size() < static_cast<size_t>(width)) t.insert(0, static_cast<size_t>(width) - t.size(), '0');
  return t;
}

void AppendNumberText(std::string& out, double x, int precision) {
  // Integers below 10^15 come out of the general form unchanged: the common case, fast.
  if (x == std::trunc(x) && std::fabs(x) < 1e15) {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(x));
    if (ec == std::errc()) {
      if (x == 0 && std::signbit(x)) {
        out += '0';  // the general text of -0 is "0"
      } else {
        out.append(buf, end);
      }
      return;
    }
  }
  std::string t = FormatNumber(0, precision, x);
  while (!t.empty() && t.back() == '0') t.pop_back();
  if (!t.empty() && t.back() == '.') t.pop_back();
  // A tiny negative value truncates to "-0"; written as "0" so that it reads back the same.
  if (t == "-0") t = "0";
  out += t;
}

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

bool ToInt32(std::string_view s, int32_t& v) {
  v = 0;
  if (s.empty()) return false;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || ptr != s.data() + s.size()) {
    v = 0;
    return false;
  }
  return true;
}

}  // namespace

int32_t DigitRunToInt(std::string_view run) {
  if (run.empty() || run.size() > 10) return 0;
  int64_t v = 0;
  for (char c : run) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + (c - '0');
  }
  return v > INT32_MAX ? 0 : static_cast<int32_t>(v);
}

bool IsNumber(std::string_view text) {
  text = Trim(text);
  const size_t minus = text.find('-');
  if (minus != std::string_view::npos && minus != 0) return false;
  int points = 0;
  for (char c : text) {
    if (c == '.') {
      ++points;
    } else if (!(c >= '0' && c <= '9') && c != '-') {
      return false;
    }
  }
  return points <= 1;
}

double ParseNumber(std::string_view text) {
  if (!IsNumber(text)) return 0;
  text = Trim(text);
  const size_t point = text.find('.');
  int32_t v = 0;
  if (point == std::string_view::npos) {
    ToInt32(text, v);
    return v;
  }
  ToInt32(text.substr(0, point), v);
  double result = std::fabs(static_cast<double>(v));
  std::string_view frac = text.substr(point + 1);
  if (frac.size() > 9) frac = frac.substr(0, 9);
  int32_t f = 0;
  if (!frac.empty() && ToInt32(frac, f) && f > 0) result += f / std::pow(10.0, static_cast<double>(frac.size()));
  if (text.find('-') != std::string_view::npos) result = -result;
  return result;
}

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

namespace {

// Windows-1252 to PDFDocEncoding: the 34 codes that differ; all others map to themselves.
constexpr std::array<std::pair<uint8_t, uint8_t>, 34> kPermutation{{
    {0x1A, 0x9F}, {0x1F, 0x87}, {0x80, 0xA0}, {0x81, 0x8A}, {0x82, 0x91}, {0x83, 0x86}, {0x84, 0x8C},
    {0x85, 0x83}, {0x86, 0x81}, {0x87, 0x82}, {0x88, 0x1A}, {0x89, 0x8B}, {0x8A, 0x97}, {0x8B, 0x88},
    {0x8C, 0x96}, {0x8D, 0x93}, {0x8E, 0x99}, {0x8F, 0x94}, {0x90, 0x95}, {0x91, 0x8F}, {0x92, 0x90},
    {0x93, 0x8D}, {0x94, 0x8E}, {0x95, 0x80}, {0x96, 0x85}, {0x97, 0x84}, {0x98, 0x1F}, {0x99, 0x92},
    {0x9A, 0x9D}, {0x9B, 0x89}, {0x9D, 0xAD}, {0x9F, 0x98}, {0xA0, 0x9A}, {0xAD, 0x9B},
}};

struct Tables {
  std::array<uint8_t, 256> encode{};
  std::array<uint8_t, 256> decode{};
  Tables() {
    for (int i = 0; i < 256; ++i) encode[static_cast<size_t>(i)] = decode[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    for (auto [from, to] : kPermutation) {
      encode[from] = to;
      decode[to] = from;
    }
  }
};

const Tables& PermutationTables() {
  static const Tables tables;
  return tables;
}

// Unicode code points of Windows-1252 bytes 0x80 to 0x9F (0 where the code page has none).
constexpr std::array<uint16_t, 32> kCp1252High{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char ToCp1252(uint16_t u) {
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<char>(u);
  for (size_t i = 0; i < kCp1252High.size(); ++i)
    if (kCp1252High[i] == u && u != 0) return static_cast<char>(0x80 + i);
  return '?';
}

}  // namespace

std::string EncodeTextString(std::string_view text) {
  if (text.size() >= 2 && static_cast<uint8_t>(text[0]) == 0xFE && static_cast<uint8_t>(text[1]) == 0xFF)
    return std::string(text);
  const auto& t = PermutationTables();
  std::string out(text);
  for (char& c : out) c = static_cast<char>(t.encode[static_cast<uint8_t>(c)]);
  return out;
}

std::string DecodeTextString(std::string_view bytes) {
  std::string out;
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFE && static_cast<uint8_t>(bytes[1]) == 0xFF) {
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const auto u = static_cast<uint16_t>(static_cast<uint8_t>(bytes[i]) << 8 | static_cast<uint8_t>(bytes[i + 1]));
      if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
        i += 2;  // a surrogate pair is one character outside the code page
        out += '?';
      } else {
        out += ToCp1252(u);
      }
    }
    return out;
  }
  const auto& t = PermutationTables();
  out.assign(bytes);
  for (char& c : out) c = static_cast<char>(t.decode[static_cast<uint8_t>(c)]);
  return out;
}

}  // namespace lumipage
