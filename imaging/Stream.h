#pragma once
// Byte streams the image library reads from and writes to (file and memory streams derive from
// TStream). Positions and sizes are 64-bit; a stream may be positioned beyond its end, and a
// write there extends it.
#include <cstddef>
#include <cstdint>

namespace lumipage {

enum class TSeekOrigin : std::uint8_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  // Reads up to count bytes; returns how many were read (0 at the end).
  [[nodiscard]] virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  // Writes up to count bytes; returns how many were written.
  [[nodiscard]] virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
  // Moves the position; returns the new position, or -1 (position unchanged) when the target
  // would lie before the start or the stream cannot seek.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  // Total size in bytes.
  [[nodiscard]] virtual std::int64_t Size();
  // Truncates or extends; raises EStreamError when the stream cannot change its size.
  virtual void SetSize(std::int64_t newSize);

  [[nodiscard]] std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  // Raises EStreamError for a negative position.
  void SetPosition(std::int64_t pos);

  // Exactly count bytes or EReadError "Stream read error".
  void ReadBuffer(void* buffer, std::size_t count);
  // Exactly count bytes or EWriteError "Stream write error".
  void WriteBuffer(const void* buffer, std::size_t count);
  // Copies count bytes from source's position; count 0 copies all of source from its start.
  // Returns the number of bytes copied; a short source raises EReadError.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

}  // namespace lumipage
