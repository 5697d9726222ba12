#include "dsm/PageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/BmpFile.h"

namespace lumipage::dsm {

using namespace twain;

namespace {

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
  auto fault = [&](const char* what) { return "Page file \"" + path + "\": " + what; };
  if (bytes.size() < kBmpFileHeaderBytes + sizeof(TBitmapInfoHeader)) return fault("not a BMP file");
  TBmpFileHeaders file;
  const EBmpFault read = ReadBmpFileHeaders(bytes.data(), bytes.size(), bytes.size(), kMaxDimension, file);
  if (read == EBmpFault::NoSignature) return fault("not a BMP file");
  // The 40-byte header and its later extensions share their first 40 bytes.
  const std::uint32_t headerSize = file.HeaderSize;
  if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 && headerSize != 124) {
    return fault("unsupported BMP header");
  }
  if (read == EBmpFault::TruncatedHeader) return fault("truncated BMP file");
  // Only uncompressed rows of 1, 4, 8 or 24 bits are a page as they stand.
  if (file.Compression != BI_RGB) return fault("compressed BMP files are not supported");
  if (file.Planes != 1) return fault("invalid BMP file");
  const unsigned bits = file.Bits;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return fault("unsupported BMP bit depth");
  if (read == EBmpFault::Dimensions) return fault("invalid BMP size");
  if (read == EBmpFault::ColourCount) return fault("invalid BMP colour table");
  const std::uint64_t height = static_cast<std::uint64_t>(file.Height);
  const std::uint64_t colours = file.Colours;
  const std::uint64_t tableAt = file.TableOffset;
  const std::uint64_t offBits = file.PixelOffset;
  if (read != EBmpFault::None || tableAt + colours * 4 > offBits) return fault("truncated BMP file");
  const std::uint64_t stride = DibStride(static_cast<std::uint64_t>(file.Width), bits);
  const std::uint64_t pixelBytes = stride * height;
  if (pixelBytes > bytes.size() - offBits) return fault("truncated BMP file");
  const bool topDown = file.TopDown;
  const TBitmapInfoHeader h = ReadBitmapInfoHeader(bytes.data() + kBmpFileHeaderBytes);

  TPageImage page;
  TBitmapInfoHeader packed = h;
  packed.biSize = sizeof packed;
  packed.biHeight = static_cast<std::int32_t>(height);
  packed.biSizeImage = static_cast<std::uint32_t>(pixelBytes);
  packed.biClrUsed = static_cast<std::uint32_t>(colours);
  page.Dib = platform::GlobalBlock(platform::GHND, PackedDibSize(packed));
  if (!page.Dib) return fault("out of memory");
  {
    platform::GlobalLockGuard lock(page.Dib.get());
    auto* out = lock.as<std::uint8_t>();
    if (!out) return fault("out of memory");
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
