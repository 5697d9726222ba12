#include "imaging/Stream.h"

#include <algorithm>
#include <array>

#include "imaging/Errors.h"

namespace lumipage {

std::int64_t TStream::Size() {
  const std::int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  const std::int64_t end = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return end;
}

void TStream::SetSize(std::int64_t) { throw EStreamError("Stream size cannot be changed"); }

void TStream::SetPosition(std::int64_t pos) {
  if (Seek(pos, TSeekOrigin::soBeginning) != pos) throw EStreamError("Stream seek error");
}

void TStream::ReadBuffer(void* buffer, std::size_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::size_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::array<std::uint8_t, 65536> buffer;
  std::int64_t left = count;
  while (left > 0) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, buffer.size()));
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= static_cast<std::int64_t>(n);
  }
  return count;
}

}  // namespace lumipage
