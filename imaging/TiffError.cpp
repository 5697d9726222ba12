#include "imaging/TiffError.h"

namespace lumipage {

ETiffError::ETiffError(const std::string& text)
    : std::runtime_error("ETiffError " + text), text_(text) {}

}  // namespace lumipage
