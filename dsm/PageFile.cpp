#include "dsm/PageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
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

namespace {

// Reads count bytes at offset of the file into out: nothing when they are all there, else the
// reason ("truncated" when the file ends first).
using TReadAt = std::function<std::optional<int>(std::uint8_t* out, std::uint64_t offset, std::uint64_t count)>;
constexpr int kShortFile = -1;

// The page of a BMP file of fileSize bytes whose first headSize bytes (the whole file, or at
// least the headers and the colour table) are at head; the rows are read straight into the page
// by readAt, so a page file's pixels are copied once, from the file into the page.
std::variant<TPageImage, std::string> Assemble(const std::uint8_t* head, std::size_t headSize, std::uint64_t fileSize,
                                               const std::string& path, const TReadAt& readAt) {
  auto fault = [&](const char* what) { return "Page file \"" + path + "\": " + what; };
  if (fileSize < kBmpFileHeaderBytes + sizeof(TBitmapInfoHeader)) return fault("not a BMP file");
  TBmpFileHeaders file;
  const EBmpFault read = ReadBmpFileHeaders(head, headSize, fileSize, TPageFile::kMaxDimension, file);
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
  if (pixelBytes > fileSize - offBits) return fault("truncated BMP file");
  const TBitmapInfoHeader h = ReadBitmapInfoHeader(head + kBmpFileHeaderBytes);

  TPageImage page;
  TBitmapInfoHeader packed = h;
  packed.biSize = sizeof packed;
  packed.biHeight = static_cast<std::int32_t>(height);
  packed.biSizeImage = static_cast<std::uint32_t>(pixelBytes);
  packed.biClrUsed = static_cast<std::uint32_t>(colours);
  // Not zeroed: the header, the table and every row byte are written below.
  page.Dib = platform::GlobalBlock(platform::GMEM_MOVEABLE, PackedDibSize(packed));
  if (!page.Dib) return fault("out of memory");
  {
    platform::GlobalLockGuard lock(page.Dib.get());
    auto* out = lock.as<std::uint8_t>();
    if (!out) return fault("out of memory");
    std::uint8_t* pixels = WritePackedDibHead(out, packed, reinterpret_cast<const TRgbQuad*>(head + tableAt));
    std::optional<int> failed;
    if (!file.TopDown) {
      failed = readAt(pixels, offBits, pixelBytes);
    } else {
      // The packed form is bottom-up.
      for (std::uint64_t y = 0; y < height && !failed; ++y)
        failed = readAt(pixels + (height - 1 - y) * stride, offBits + y * stride, stride);
    }
    if (failed == kShortFile) return fault("truncated BMP file");
    if (failed) return "Cannot read page file \"" + path + "\": " + std::strerror(*failed);
  }

  TW_UINT16 pixelType = TWPT_RGB;
  if (bits == 1) {
    pixelType = TWPT_BW;
  } else if (bits <= 8) {
    bool grey = true;
    for (std::uint64_t i = 0; i < colours && grey; ++i) {
      const std::uint8_t* c = head + tableAt + i * 4;
      grey = c[0] == c[1] && c[1] == c[2];
    }
    pixelType = grey ? TWPT_GRAY : TWPT_PALETTE;
  }
  DescribeDib(page, pixelType, DpiFromPelsPerMeter(h.biXPelsPerMeter), DpiFromPelsPerMeter(h.biYPelsPerMeter));
  return page;
}

// Every byte asked for, or the reason there are not: read errors by their number, the file
// ending first (it shrank since it was measured) as kShortFile.
std::optional<int> ReadFully(int fd, std::uint8_t* out, std::uint64_t offset, std::uint64_t count) {
  while (count > 0) {
    const ssize_t n = ::pread(fd, out, static_cast<std::size_t>(std::min<std::uint64_t>(count, std::uint64_t{1} << 30)),
                              static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return kShortFile;
    out += n;
    offset += static_cast<std::uint64_t>(n);
    count -= static_cast<std::uint64_t>(n);
  }
  return std::nullopt;
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
  // The headers and a colour table of 256 entries lie well inside the first 4 KB; the rows go
  // straight from the file into the page.
  std::uint64_t fileSize = static_cast<std::uint64_t>(st.st_size);
  std::array<std::uint8_t, 4096> head{};
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, head.size()));
  std::size_t got = 0;
  while (got < want) {
    const ssize_t n = ::pread(fd, head.data() + got, want - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return cannotRead(errno);
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  // A file that shrank since it was measured is judged by what is there.
  if (got < want) fileSize = got;
  return Assemble(head.data(), got, fileSize, path,
                  [fd](std::uint8_t* out, std::uint64_t offset, std::uint64_t count) {
                    return ReadFully(fd, out, offset, count);
                  });
}

std::variant<TPageImage, std::string> TPageFile::Parse(const std::vector<std::uint8_t>& bytes, const std::string& path) {
  return Assemble(bytes.data(), bytes.size(), bytes.size(), path,
                  [&bytes](std::uint8_t* out, std::uint64_t offset, std::uint64_t count) -> std::optional<int> {
                    if (offset > bytes.size() || count > bytes.size() - offset) return kShortFile;
                    std::memcpy(out, bytes.data() + offset, static_cast<std::size_t>(count));
                    return std::nullopt;
                  });
}

}  // namespace lumipage::dsm
