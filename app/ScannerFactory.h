#pragma once
#include <memory>

#include "twain/ScannerOperations.h"

namespace lumipage {

// The scanner a job of this process drives.
[[nodiscard]] std::unique_ptr<ScannerOperations> CreateProcessScanner();

}  // namespace lumipage
