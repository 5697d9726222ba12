#include "dsm/PageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/PackedDib.h"

namespace lumipage::dsm {

using namespace twain;

namespace {

constexpr std::size_t kFileHeaderBytes = 14;

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

TW_FIX32 DpiFromPelsPerMeter(std::int32_t ppm) {
  TW_FIX32 f{};
  if (ppm <= 0) return f;
  f.Whole = static_cast<TW_INT16>(std::min<std::int64_t>(DpiFromPelsPerMetre(ppm), 32767));
  return f;
}

}  // namespace

std::variant<TPageImage, std::string> TPageFile::Load(const std::string& path) {
  auto cannotRead = [&](int error) { return "Cannot read page file \"" + path + "\": " + std::strerror(error); };
  // Without blocking: a FIFO in the page folder must not hold the scanner.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return cannotRead(errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return cannotRead(errno);
  if (S_ISDIR(st.st_mode)) return cannotRead(EISDIR);
  if (!S_ISREG(st.st_mode)) return "Page file \"" + path + "\" is not a regular file";
  if (static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes) return "Page file \"" + path + "\" is too large";
  std::vector<std::uint8_t> bytes;
  try {
    bytes.resize(static_cast<std::size_t>(st.st_size));
  } catch (const std::bad_alloc&) {
    return cannotRead(ENOMEM);
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return cannotRead(errno);
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  return Parse(bytes, path);
}

std::variant<TPageImage, std::string> TPageFile::Parse(const std::vector<std::uint8_t>& bytes, const std::string& path) {
  if (bytes.size() < kFileHeaderBytes + sizeof(TBitmapInfoHeader)) return "Page file \"" + path + "\": not a BMP file";
  if (bytes[0] != 'B' || bytes[1] != 'M') return "Page file \"" + path + "\": not a BMP file";
  const std::uint64_t offBits = U32(bytes, 10);
  const std::uint32_t headerSize = U32(bytes, kFileHeaderBytes);
  // The 40-byte header and its later extensions share their first 40 bytes.
  if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 && headerSize != 124) {
    return "Page file \"" + path + "\": unsupported BMP header";
  }
  if (kFileHeaderBytes + headerSize > bytes.size()) return "Page file \"" + path + "\": truncated BMP file";
  const TBitmapInfoHeader h = ReadBitmapInfoHeader(bytes.data() + kFileHeaderBytes);
  if (h.biCompression != 0) return "Page file \"" + path + "\": compressed BMP files are not supported";
  if (h.biPlanes != 1) return "Page file \"" + path + "\": invalid BMP file";
  if (h.biBitCount != 1 && h.biBitCount != 4 && h.biBitCount != 8 && h.biBitCount != 24) {
    return "Page file \"" + path + "\": unsupported BMP bit depth";
  }
  if (h.biWidth <= 0 || h.biWidth > kMaxDimension || h.biHeight == 0 || h.biHeight < -kMaxDimension ||
      h.biHeight > kMaxDimension) {
    return "Page file \"" + path + "\": invalid BMP size";
  }
  const bool topDown = h.biHeight < 0;
  const std::uint64_t height = topDown ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(h.biHeight))
                                       : static_cast<std::uint64_t>(h.biHeight);
  const unsigned bits = h.biBitCount;
  const std::uint64_t colours = DibColourCount(h);
  if (bits <= 8 && colours > (1u << bits)) return "Page file \"" + path + "\": invalid BMP colour table";
  const std::uint64_t tableAt = kFileHeaderBytes + headerSize;
  const std::uint64_t tableBytes = colours * 4;
  if (tableAt + tableBytes > bytes.size() || tableAt + tableBytes > offBits) return "Page file \"" + path + "\": truncated BMP file";
  const std::uint64_t stride = DibStride(static_cast<std::uint64_t>(h.biWidth), bits);
  const std::uint64_t pixelBytes = stride * height;
  if (offBits > bytes.size() || pixelBytes > bytes.size() - offBits) return "Page file \"" + path + "\": truncated BMP file";

  TPageImage page;
  TBitmapInfoHeader packed = h;
  packed.biSize = sizeof packed;
  packed.biHeight = static_cast<std::int32_t>(height);
  packed.biSizeImage = static_cast<std::uint32_t>(pixelBytes);
  packed.biClrUsed = static_cast<std::uint32_t>(colours);
  page.Dib = platform::GlobalBlock(platform::GHND, PackedDibSize(packed));
  if (!page.Dib) return "Page file \"" + path + "\": out of memory";
  {
    platform::GlobalLockGuard lock(page.Dib.get());
    auto* out = lock.as<std::uint8_t>();
    if (!out) return "Page file \"" + path + "\": out of memory";
    std::uint8_t* pixels =
        WritePackedDibHead(out, packed, reinterpret_cast<const TRgbQuad*>(bytes.data() + tableAt));
    const std::uint8_t* src = bytes.data() + offBits;
    if (!topDown) {
      std::memcpy(pixels, src, pixelBytes);
    } else {
      // The packed form is bottom-up.
      for (std::uint64_t y = 0; y < height; ++y) std::memcpy(pixels + (height - 1 - y) * stride, src + y * stride, stride);
    }
  }

  TW_UINT16 pixelType = TWPT_RGB;
  if (bits == 1) {
    pixelType = TWPT_BW;
  } else if (bits <= 8) {
    bool grey = true;
    for (std::uint64_t i = 0; i < colours && grey; ++i) {
      const std::uint8_t* c = bytes.data() + tableAt + i * 4;
      grey = c[0] == c[1] && c[1] == c[2];
    }
    pixelType = grey ? TWPT_GRAY : TWPT_PALETTE;
  }
  DescribeDib(page, pixelType, DpiFromPelsPerMeter(h.biXPelsPerMeter), DpiFromPelsPerMeter(h.biYPelsPerMeter));
  return page;
}

}  // namespace lumipage::dsm
