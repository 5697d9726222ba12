#include "pdf/PDFNumberText.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "pdf/PDFLexer.h"

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
  if (run.empty() || run.size() > 10 || pdflex::SkipDigits(run, 0) != run.size()) return 0;
  const int64_t v = pdflex::DigitsValue(run);
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

}  // namespace lumipage
