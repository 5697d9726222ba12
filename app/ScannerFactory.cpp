#include "app/ScannerFactory.h"

#include "twain/Scanner.h"

namespace lumipage {

std::unique_ptr<ScannerOperations> CreateProcessScanner() { return std::make_unique<TScanner>(); }

}  // namespace lumipage
