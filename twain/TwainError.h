#pragma once
// Failures of a TWAIN source during acquisition; always raised to the caller of Acquire.
#include <stdexcept>

namespace lumipage {

class ETwainError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace lumipage
