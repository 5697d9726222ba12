#pragma once
// Exceptions of the image library. They form one small family, so they share a header:
// `Exception` plays the platform's base exception, the others name the layer that raised.
// what() is always the message text the caller reports.
#include <stdexcept>
#include <string>

namespace lumipage {

// The platform's base exception class (codec messages, "Invalid TransparentPixel", ...).
class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The image library's own checks.
class EOvinexError : public Exception {
 public:
  using Exception::Exception;
};

// JPEG checks of our own (the codec's own failures arrive as `Exception`).
class EJpegError : public Exception {
 public:
  using Exception::Exception;
};

// A bitmap or clipboard content the graphic layer cannot describe.
class EInvalidGraphic : public Exception {
 public:
  using Exception::Exception;
};

// Pixel memory or drawing resources cannot be created.
class EOutOfResources : public Exception {
 public:
  using Exception::Exception;
};

// Stream failures: short reads/writes, files that cannot be opened or created.
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

}  // namespace lumipage
