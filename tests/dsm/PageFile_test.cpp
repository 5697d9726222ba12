#include "dsm/PageFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <variant>
#include <vector>

#include "imaging/PackedDib.h"

namespace lumipage::dsm {
namespace {

// A BMP file: file header, a header of headerSize bytes (the first 40 from h), colours grey
// entries and rows of zeros.
std::vector<std::uint8_t> File(TBitmapInfoHeader h, std::uint32_t headerSize = 40, std::uint32_t offBits = 0) {
  const std::uint64_t height = h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight;
  const std::uint32_t colours = h.biBitCount <= 8 ? static_cast<std::uint32_t>(DibColourCount(h)) : 0;
  const std::uint64_t rows = DibStride(h.biWidth > 0 ? static_cast<std::uint64_t>(h.biWidth) : 0, h.biBitCount) * height;
  std::vector<std::uint8_t> file(14 + headerSize + 4 * colours + rows);
  const std::uint32_t off = offBits != 0 ? offBits : 14 + headerSize + 4 * colours;
  file[0] = 'B';
  file[1] = 'M';
  std::memcpy(file.data() + 10, &off, 4);
  h.biSize = headerSize;
  std::memcpy(file.data() + 14, &h, std::min<std::size_t>(headerSize, sizeof h));
  for (std::uint32_t i = 0; i < colours; ++i) std::memset(file.data() + 14 + headerSize + 4 * i, static_cast<int>(i), 3);
  return file;
}

TBitmapInfoHeader Header(std::int32_t width, std::int32_t height, unsigned bits, std::uint32_t compression = BI_RGB) {
  TBitmapInfoHeader h = PackedDibHeader(width, height, bits, 0, 300, 300);
  h.biCompression = compression;
  return h;
}

std::string Message(const std::vector<std::uint8_t>& bytes) {
  auto result = TPageFile::Parse(bytes, "p.bmp");
  const std::string* text = std::get_if<std::string>(&result);
  return text ? *text : "loaded";
}

struct Case {
  const char* name;
  std::vector<std::uint8_t> bytes;
  const char* message;  // after "Page file "p.bmp": "
};

// Each refusal names what is wrong in the page file's own words; the first fault found wins.
TEST(PageFileTest, RefusedFilesSayWhy) {
  auto withPlanes = [](std::uint16_t planes) {
    TBitmapInfoHeader h = Header(4, 4, 24);
    h.biPlanes = planes;
    return File(h);
  };
  auto withColours = [](std::uint32_t colours) {
    TBitmapInfoHeader h = Header(4, 4, 4);
    h.biClrUsed = colours;
    return File(h);
  };
  std::vector<std::uint8_t> notBm = File(Header(4, 4, 24));
  notBm[0] = 'X';
  auto cut = [](std::vector<std::uint8_t> file, std::size_t size) {
    file.resize(size);
    return file;
  };
  const std::vector<Case> cases = {
      {"short", std::vector<std::uint8_t>(53, 'B'), "not a BMP file"},
      {"signature", notBm, "not a BMP file"},
      {"coreHeader", File(Header(4, 4, 24), 12), "unsupported BMP header"},
      {"header64", File(Header(4, 4, 24), 64), "unsupported BMP header"},
      {"headerPastEnd", cut(File(Header(1, 1, 24), 124), 100), "truncated BMP file"},
      {"rle8WithoutTable", cut(File(Header(4, 4, 8, BI_RLE8)), 60), "compressed BMP files are not supported"},
      {"bitFields", File(Header(4, 4, 16, BI_BITFIELDS)), "compressed BMP files are not supported"},
      {"planes", withPlanes(2), "invalid BMP file"},
      {"sixteenBits", File(Header(4, 4, 16)), "unsupported BMP bit depth"},
      {"twoBits", File(Header(4, 4, 2)), "unsupported BMP bit depth"},
      {"noWidth", File(Header(0, 4, 24)), "invalid BMP size"},
      {"tooHigh", File(Header(1, -60001, 1)), "invalid BMP size"},
      {"colours", withColours(17), "invalid BMP colour table"},
      {"tableOverPixels", File(Header(4, 4, 8), 40, 60), "truncated BMP file"},
      {"pixelsPastEnd", File(Header(4, 4, 24), 40, 200), "truncated BMP file"},
      {"rowsShort", cut(File(Header(4, 4, 24)), 101), "truncated BMP file"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Message(c.bytes), std::string("Page file \"p.bmp\": ") + c.message) << c.name;
  }
}

// What the files that pass become: packed bottom-up with the file's table and resolution.
TEST(PageFileTest, TopDownGreyFileBecomesABottomUpPackedDib) {
  std::vector<std::uint8_t> file = File(Header(2, -2, 8));
  const std::size_t pixels = file.size() - 8;
  file[pixels] = 1;      // top row in the file
  file[pixels + 4] = 2;  // bottom row
  auto result = TPageFile::Parse(file, "p.bmp");
  ASSERT_TRUE(std::holds_alternative<TPageImage>(result)) << std::get<std::string>(result);
  const TPageImage& page = std::get<TPageImage>(result);
  EXPECT_EQ(page.Info.PixelType, twain::TWPT_GRAY);
  EXPECT_EQ(page.Info.XResolution.Whole, 300);
  platform::GlobalLockGuard lock(page.Dib.get());
  const auto* dib = lock.as<const std::uint8_t>();
  const TBitmapInfoHeader h = ReadBitmapInfoHeader(dib);
  EXPECT_EQ(h.biHeight, 2);
  EXPECT_EQ(h.biClrUsed, 256u);
  const std::uint8_t* rows = dib + 40 + 4 * 256;
  EXPECT_EQ(rows[0], 2);
  EXPECT_EQ(rows[4], 1);
}

// A page read from disk is the page its bytes make: rows go straight from the file into the
// page, bottom-up and top-down files alike, and a file cut short is refused as the bytes are.
TEST(PageFileTest, LoadedFileEqualsItsBytes) {
  const auto dir = std::filesystem::temp_directory_path() / ("pagefile_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  for (const std::int32_t height : {3, -3}) {
    std::vector<std::uint8_t> file = File(Header(5, height, 24));
    for (std::size_t i = 54; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i * 7);
    const std::string path = (dir / "p.bmp").string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    auto loaded = TPageFile::Load(path);
    auto parsed = TPageFile::Parse(file, path);
    ASSERT_TRUE(std::holds_alternative<TPageImage>(loaded)) << std::get<std::string>(loaded);
    ASSERT_TRUE(std::holds_alternative<TPageImage>(parsed));
    platform::GlobalLockGuard a(std::get<TPageImage>(loaded).Dib.get());
    platform::GlobalLockGuard b(std::get<TPageImage>(parsed).Dib.get());
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(std::memcmp(a.as<const std::uint8_t>(), b.as<const std::uint8_t>(), a.size()), 0) << height;

    std::filesystem::resize_file(path, file.size() - 1);
    auto cut = TPageFile::Load(path);
    ASSERT_TRUE(std::holds_alternative<std::string>(cut));
    EXPECT_EQ(std::get<std::string>(cut), "Page file \"" + path + "\": truncated BMP file");
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace lumipage::dsm
