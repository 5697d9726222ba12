#include "pdf/PDFNull.h"

namespace lumipage {

void TPDFNull::AppendText(std::string& out, int) const { out += "null"; }

}  // namespace lumipage
