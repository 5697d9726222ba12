#pragma once
// Failures of the connection to the TWAIN source manager, raised when no error handler is set.
#include <stdexcept>

namespace lumipage {

class EScannerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace lumipage
