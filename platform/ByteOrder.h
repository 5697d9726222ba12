#pragma once
// Numbers stored in a file's bytes, in little-endian (BMP, GIF, WMF, little TIFF) or big-endian
// (PNG, big TIFF, PDF cross-reference streams) order. Every reader of a binary format takes its
// numbers from here, so each order is put together in one place. The caller has checked that
// the bytes are there.
#include <cstddef>
#include <cstdint>

namespace lumipage::platform {

template <typename Byte>
[[nodiscard]] constexpr std::uint64_t LoadLE(const Byte* p, std::size_t count) {
  std::uint64_t v = 0;
  for (std::size_t i = count; i-- > 0;) v = v << 8 | static_cast<std::uint8_t>(p[i]);
  return v;
}

template <typename Byte>
[[nodiscard]] constexpr std::uint64_t LoadBE(const Byte* p, std::size_t count) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < count; ++i) v = v << 8 | static_cast<std::uint8_t>(p[i]);
  return v;
}

template <typename Byte>
[[nodiscard]] constexpr std::uint64_t Load(const Byte* p, std::size_t count, bool bigEndian) {
  return bigEndian ? LoadBE(p, count) : LoadLE(p, count);
}

template <typename Byte>
[[nodiscard]] constexpr std::uint16_t LoadLE16(const Byte* p) { return static_cast<std::uint16_t>(LoadLE(p, 2)); }
template <typename Byte>
[[nodiscard]] constexpr std::uint32_t LoadLE32(const Byte* p) { return static_cast<std::uint32_t>(LoadLE(p, 4)); }
template <typename Byte>
[[nodiscard]] constexpr std::uint16_t LoadBE16(const Byte* p) { return static_cast<std::uint16_t>(LoadBE(p, 2)); }
template <typename Byte>
[[nodiscard]] constexpr std::uint32_t LoadBE32(const Byte* p) { return static_cast<std::uint32_t>(LoadBE(p, 4)); }

// The count low bytes of value, in the given order, to out.
template <typename Byte>
constexpr void Store(Byte* out, std::uint64_t value, std::size_t count, bool bigEndian) {
  for (std::size_t i = 0; i < count; ++i)
    out[bigEndian ? count - 1 - i : i] = static_cast<Byte>(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace lumipage::platform
