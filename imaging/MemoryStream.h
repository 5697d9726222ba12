#pragma once
// A growable stream in memory.
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/Stream.h"

namespace lumipage {

class TMemoryStream final : public TStream {
 public:
  TMemoryStream() = default;
  // Starts with a copy of the bytes, positioned at 0.
  TMemoryStream(const void* data, std::size_t size);

  [[nodiscard]] std::size_t Read(void* buffer, std::size_t count) override;
  [[nodiscard]] std::size_t Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  [[nodiscard]] std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t newSize) override;

  [[nodiscard]] std::uint8_t* Memory() { return data_.data(); }
  [[nodiscard]] const std::uint8_t* Memory() const { return data_.data(); }
  [[nodiscard]] const std::vector<std::uint8_t>& Bytes() const { return data_; }
  void Clear();
  // Replaces the content with all of source (from its start); position 0 afterwards.
  void LoadFromStream(TStream& source);
  // Writes the whole content to target at target's position.
  void SaveToStream(TStream& target) const;
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;

 private:
  std::vector<std::uint8_t> data_;
  std::int64_t position_ = 0;
};

}  // namespace lumipage
