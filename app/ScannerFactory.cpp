#include "app/ScannerFactory.h"

#include "app/ScriptedScanner.h"

namespace lumipage {

std::unique_ptr<ScannerOperations> CreateProcessScanner() {
  // Three scripted pages until the TWAIN scanner object is wired in.
  auto s = std::make_unique<TScriptedScanner>();
  s->Pages.assign(3, TScriptedPage{});
  return s;
}

}  // namespace lumipage
