#include "imaging/MemoryStream.h"

#include <algorithm>
#include <cstring>

#include "imaging/Errors.h"
#include "imaging/FileStream.h"

namespace lumipage {

TMemoryStream::TMemoryStream(const void* data, std::size_t size)
    : data_(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size) {}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
  const auto size = static_cast<std::int64_t>(data_.size());
  if (position_ >= size || count == 0) return 0;
  const auto n = static_cast<std::size_t>(std::min<std::int64_t>(size - position_, static_cast<std::int64_t>(count)));
  std::memcpy(buffer, data_.data() + position_, n);
  position_ += static_cast<std::int64_t>(n);
  return n;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count) {
  if (count == 0) return 0;
  const auto end = static_cast<std::size_t>(position_) + count;
  if (end > data_.size()) {
    if (end > data_.capacity()) data_.reserve(std::max(end, data_.capacity() + data_.capacity() / 2));
    data_.resize(end);
  }
  std::memcpy(data_.data() + position_, buffer, count);
  position_ = static_cast<std::int64_t>(end);
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = 0;
  if (origin == TSeekOrigin::soCurrent) base = position_;
  if (origin == TSeekOrigin::soEnd) base = static_cast<std::int64_t>(data_.size());
  const std::int64_t target = base + offset;
  if (target < 0) return -1;
  position_ = target;
  return position_;
}

void TMemoryStream::SetSize(std::int64_t newSize) {
  if (newSize < 0) throw EStreamError("Stream size cannot be changed");
  data_.resize(static_cast<std::size_t>(newSize));
  if (position_ > newSize) position_ = newSize;
}

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  const std::int64_t size = source.Size();
  if (size < 0) throw EReadError("Stream read error");
  data_.resize(static_cast<std::size_t>(size));
  source.ReadBuffer(data_.data(), data_.size());
  position_ = 0;
}

void TMemoryStream::SaveToStream(TStream& target) const { target.WriteBuffer(data_.data(), data_.size()); }

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& fileName) const {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
}

}  // namespace lumipage
