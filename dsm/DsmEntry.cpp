// The library's one export, as a TWAIN source manager has it.
#include "dsm/SourceManager.h"

using namespace lumipage::twain;

extern "C" __attribute__((visibility("default"))) TW_UINT16 DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest,
                                                                        TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                                                        TW_MEMREF data) {
  // Nothing may unwind into the caller across the C boundary.
  try {
    return lumipage::dsm::TSourceManager::Instance().Entry(origin, dest, dg, dat, msg, data);
  } catch (...) {
    return TWRC_FAILURE;
  }
}
