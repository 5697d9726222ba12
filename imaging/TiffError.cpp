#include "imaging/TiffError.h"

namespace lumipage {

ETiffError::ETiffError(const std::string& text)
    : Exception("ETiffError " + text), text_(text) {}

}  // namespace lumipage
