#include "pdf/PDFBoolean.h"

namespace lumipage {

void TPDFBoolean::AppendText(std::string& out, int) const { out += Value ? "true" : "false"; }

}  // namespace lumipage
