#include "pdf/PDFString.h"

namespace lumipage {

void TPDFString::AppendText(std::string& out, int) const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  if (Mode == kHexadecimal) {
    out.reserve(out.size() + Value.size() * 2 + 2);
    out += '<';
    for (unsigned char c : Value) {
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
    out += '>';
    return;
  }
  out += '(';
  for (char c : Value) {
    switch (c) {
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      case '(': out += "\\("; break;
      case ')': out += "\\)"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  out += ')';
}

}  // namespace lumipage
