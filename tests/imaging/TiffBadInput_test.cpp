// Damaged and hostile TIFF files: each one gives a clear error (never a crash, a hang or an
// unbounded allocation), and libtiff prints nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "imaging/MemoryStream.h"
#include "imaging/TiffError.h"
#include "imaging/TiffGraphic.h"

namespace lumipage {
namespace {

// A little-endian classic TIFF put together field by field: pixel data first (offset 8), then
// one directory per page, then the values that do not fit in an entry.
class TinyTiff {
 public:
  enum Type : std::uint16_t { kAscii = 2, kShort = 3, kLong = 4, kRational = 5 };

  TinyTiff& Set(std::uint16_t tag, Type type, std::vector<std::uint32_t> values) {
    fields_[tag] = {type, std::move(values)};
    return *this;
  }
  TinyTiff& Remove(std::uint16_t tag) {
    fields_.erase(tag);
    return *this;
  }
  TinyTiff& Data(std::vector<std::uint8_t> data) {
    data_ = std::move(data);
    return *this;
  }
  // Next-directory offset written into the (only) directory; 0 ends the chain.
  TinyTiff& Next(std::uint32_t offset) {
    next_ = offset;
    return *this;
  }

  // An 8 x 2 uncompressed 8-bit grey image with its strip right after the header.
  static TinyTiff Grey() {
    TinyTiff t;
    t.Data(std::vector<std::uint8_t>(16, 0x80));
    t.Set(256, kShort, {8}).Set(257, kShort, {2}).Set(258, kShort, {8}).Set(259, kShort, {1});
    t.Set(262, kShort, {1}).Set(273, kLong, {8}).Set(277, kShort, {1}).Set(278, kLong, {2});
    t.Set(279, kLong, {16});
    return t;
  }

  [[nodiscard]] std::uint32_t DirectoryOffset() const {
    return static_cast<std::uint32_t>(8 + data_.size() + (data_.size() & 1));
  }

  [[nodiscard]] std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> out{'I', 'I', 42, 0};
    Put32(out, DirectoryOffset());
    out.insert(out.end(), data_.begin(), data_.end());
    if (out.size() & 1) out.push_back(0);
    const std::size_t directorySize = 2 + 12 * fields_.size() + 4;
    std::vector<std::uint8_t> extra;
    const auto extraBase = static_cast<std::uint32_t>(out.size() + directorySize);
    Put16(out, static_cast<std::uint16_t>(fields_.size()));
    for (const auto& [tag, field] : fields_) {
      std::vector<std::uint8_t> value;
      if (field.type == kAscii) {
        for (std::uint32_t c : field.values) value.push_back(static_cast<std::uint8_t>(c));
      } else {
        for (std::uint32_t v : field.values) {
          if (field.type == kShort) Put16(value, static_cast<std::uint16_t>(v));
          if (field.type == kLong) Put32(value, v);
          if (field.type == kRational) { Put32(value, v); Put32(value, 1); }
        }
      }
      Put16(out, tag);
      Put16(out, field.type);
      Put32(out, static_cast<std::uint32_t>(field.values.size()));
      if (value.size() <= 4) {
        value.resize(4, 0);
        out.insert(out.end(), value.begin(), value.end());
      } else {
        Put32(out, extraBase + static_cast<std::uint32_t>(extra.size()));
        extra.insert(extra.end(), value.begin(), value.end());
        if (extra.size() & 1) extra.push_back(0);
      }
    }
    Put32(out, next_);
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
  }

 private:
  struct Field {
    Type type;
    std::vector<std::uint32_t> values;
  };
  static void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  static void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }

  std::map<std::uint16_t, Field> fields_;
  std::vector<std::uint8_t> data_;
  std::uint32_t next_ = 0;
};

std::string LoadError(const std::vector<std::uint8_t>& bytes, int page = 1) {
  TMemoryStream stream(bytes.data(), bytes.size());
  TTiffGraphic image;
  testing::internal::CaptureStderr();
  std::string error = "(no error)";
  try {
    image.LoadImage(stream, page);
  } catch (const Exception& e) {
    error = e.what();
  }
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(printed, "") << "libtiff printed a message";
  return error;
}

TEST(TiffBadInput, TheWellFormedFixtureLoads) {
  // Guards the fixture itself: every case below changes exactly one thing.
  EXPECT_EQ(LoadError(TinyTiff::Grey().Bytes()), "(no error)");
  const auto bytes = TinyTiff::Grey().Bytes();
  TMemoryStream stream(bytes.data(), bytes.size());
  TTiffGraphic image;
  image.LoadImage(stream, 1);
  EXPECT_EQ(image.ImageKind(), ikGray256);
  EXPECT_EQ(image.GetPixelIndex(7, 1), 0x80);
}

struct BadCase {
  const char* name;
  std::function<std::vector<std::uint8_t>()> make;
  const char* message;  // exact what(), or nullptr for "any clear error"
};

class TiffBadFile : public testing::TestWithParam<BadCase> {};

TEST_P(TiffBadFile, GivesAClearError) {
  const BadCase& c = GetParam();
  const std::string error = LoadError(c.make());
  EXPECT_NE(error, "(no error)");
  if (c.message != nullptr) {
    EXPECT_EQ(error, c.message);
  }
  // Counting pages never fails worse than opening.
  const auto bytes = c.make();
  TMemoryStream stream(bytes.data(), bytes.size());
  try {
    (void)TTiffGraphic().GetImageCount(stream);
  } catch (const ETiffError& e) {
    EXPECT_STREQ(e.what(), "ETiffError TIFFOpen");
  }
}

std::vector<std::uint8_t> Truncated(std::size_t keep) {
  auto bytes = TinyTiff::Grey().Bytes();
  bytes.resize(keep);
  return bytes;
}

const BadCase kBadCases[] = {
    {"Empty", [] { return std::vector<std::uint8_t>{}; }, "ETiffError TIFFOpen"},
    {"HeaderOnly", [] { return Truncated(8); }, "ETiffError TIFFOpen"},
    {"CutInTheDirectory", [] { return Truncated(30); }, "ETiffError TIFFOpen"},
    {"NotATiff", [] { return std::vector<std::uint8_t>{'I', 'I', 43, 0, 8, 0, 0, 0}; },
     "ETiffError TIFFOpen"},
    {"StripBeyondTheEnd",
     [] { return TinyTiff::Grey().Set(273, TinyTiff::kLong, {100000}).Bytes(); },
     "ETiffError TIFFReadEncodedStrip"},
    {"StripCutByTheEndOfTheFile",
     [] {
       // The 16-byte strip starts 5 bytes before the end of the file.
       TinyTiff t = TinyTiff::Grey();
       const auto size = static_cast<std::uint32_t>(t.Bytes().size());
       return t.Set(273, TinyTiff::kLong, {size - 5}).Bytes();
     },
     "ETiffError TIFFReadEncodedStrip"},
    {"ZeroWidth", [] { return TinyTiff::Grey().Set(256, TinyTiff::kShort, {0}).Bytes(); }, nullptr},
    {"ZeroLength", [] { return TinyTiff::Grey().Set(257, TinyTiff::kShort, {0}).Bytes(); }, nullptr},
    {"HugeWidth", [] { return TinyTiff::Grey().Set(256, TinyTiff::kLong, {4000000000u}).Bytes(); },
     nullptr},
    {"HugeArea",
     [] {
       return TinyTiff::Grey().Set(256, TinyTiff::kLong, {60000}).Set(257, TinyTiff::kLong, {60000}).Bytes();
     },
     "ETiffError Image too large"},
    {"LargeButAllowedAreaWithoutData",
     [] {
       return TinyTiff::Grey()
           .Set(256, TinyTiff::kLong, {16000})
           .Set(257, TinyTiff::kLong, {16000})
           .Set(278, TinyTiff::kLong, {16000})
           .Bytes();
     },
     "ETiffError TIFFReadEncodedStrip"},
    {"BitsPerSampleZero", [] { return TinyTiff::Grey().Set(258, TinyTiff::kShort, {0}).Bytes(); },
     nullptr},
    {"BitsPerSample33", [] { return TinyTiff::Grey().Set(258, TinyTiff::kShort, {33}).Bytes(); },
     nullptr},
    {"BitsPerSampleMissing", [] { return TinyTiff::Grey().Remove(258).Bytes(); },
     "ETiffError Bits per sample not specified"},
    {"PaletteWithoutColorMap", [] { return TinyTiff::Grey().Set(262, TinyTiff::kShort, {3}).Set(258, TinyTiff::kShort, {4}).Bytes(); },
     nullptr},
    {"ColorMapOfTheWrongSize",
     [] {
       return TinyTiff::Grey()
           .Set(262, TinyTiff::kShort, {3})
           .Set(258, TinyTiff::kShort, {4})
           .Set(320, TinyTiff::kShort, std::vector<std::uint32_t>(9, 65535))
           .Bytes();
     },
     nullptr},
    {"ManySamplesPerPixel",
     [] { return TinyTiff::Grey().Set(277, TinyTiff::kShort, {60000}).Bytes(); }, nullptr},
    {"UnknownCompression", [] { return TinyTiff::Grey().Set(259, TinyTiff::kShort, {34712}).Bytes(); },
     "ETiffError Unsupported compression tag, 34712"},
    {"Group4Garbage",
     [] {
       return TinyTiff::Grey()
           .Set(259, TinyTiff::kShort, {4})
           .Set(258, TinyTiff::kShort, {1})
           .Set(262, TinyTiff::kShort, {0})
           .Data({0x00, 0x00, 0x00, 0x00, 0x00, 0x00})
           .Set(279, TinyTiff::kLong, {6})
           .Bytes();
     },
     "ETiffError TIFFReadScanline"},
};

INSTANTIATE_TEST_SUITE_P(Files, TiffBadFile, testing::ValuesIn(kBadCases),
                         [](const testing::TestParamInfo<BadCase>& info) { return info.param.name; });

TEST(TiffBadInput, DirectoryLoopsEnd) {
  // A directory whose next pointer is itself, and a page number past the loop.
  TinyTiff self = TinyTiff::Grey();
  self.Next(self.DirectoryOffset());
  const auto bytes = self.Bytes();
  TMemoryStream stream(bytes.data(), bytes.size());
  testing::internal::CaptureStderr();
  EXPECT_EQ(TTiffGraphic().GetImageCount(stream), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(LoadError(bytes, 1), "(no error)");
  EXPECT_EQ(LoadError(bytes, 2), "ETiffError TIFFSetDirectory");
  EXPECT_EQ(LoadError(bytes, 0), "ETiffError TIFFSetDirectory");
}

TEST(TiffBadInput, TwoDirectoriesPointingAtEachOther) {
  // Page 1 points to a second copy of the directory, which points back to page 1.
  auto bytes = TinyTiff::Grey().Bytes();
  const std::uint32_t first = TinyTiff::Grey().DirectoryOffset();
  const auto second = static_cast<std::uint32_t>(bytes.size());
  const std::size_t directorySize = 2 + 12 * 9 + 4;
  std::vector<std::uint8_t> copy(bytes.begin() + first, bytes.begin() + first + directorySize);
  bytes.insert(bytes.end(), copy.begin(), copy.end());
  std::memcpy(&bytes[first + directorySize - 4], &second, 4);
  std::memcpy(&bytes[second + directorySize - 4], &first, 4);
  TMemoryStream stream(bytes.data(), bytes.size());
  EXPECT_EQ(TTiffGraphic().GetImageCount(stream), 2);
  EXPECT_EQ(LoadError(bytes, 2), "(no error)");
  EXPECT_EQ(LoadError(bytes, 3), "ETiffError TIFFSetDirectory");
}

TEST(TiffBadInput, FaxWithoutBitsPerSampleIsOneBit) {
  // A fax file may leave BitsPerSample out. In Group 4 an all-white row is the single bit 1
  // (vertical mode, no change against the all-white reference row).
  TinyTiff fax = TinyTiff::Grey().Remove(258).Set(259, TinyTiff::kShort, {4}).Set(262, TinyTiff::kShort, {0});
  fax.Data({0xC0, 0x00}).Set(279, TinyTiff::kLong, {2});  // two V0 codes: two white rows
  const auto bytes = fax.Bytes();
  TMemoryStream stream(bytes.data(), bytes.size());
  TTiffGraphic image;
  image.LoadImage(stream, 1);
  EXPECT_EQ(image.ImageKind(), ikBlackWhite);
  EXPECT_EQ(image.Compression(), tcGroup4);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(image.GetRgbPixel(x, 1), 0xFFFFFFu) << x;
}

}  // namespace
}  // namespace lumipage
