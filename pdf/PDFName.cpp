#include "pdf/PDFName.h"

namespace lumipage {

void TPDFName::AppendText(std::string& out, int) const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += '/';
  for (unsigned char c : Value) {
    bool escape = c <= 0x20 || c >= 0x7F;
    switch (c) {
      case '/': case '(': case ')': case '#': case '%': case '[': case ']': case '{': case '}':
      case '<': case '>':
        escape = true;
        break;
      default: break;
    }
    if (escape) {
      out += '#';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
}

}  // namespace lumipage
