// Stream codecs and the filter chain of a stream.
#include <gtest/gtest.h>

#include <zlib.h>

#include <map>
#include <random>
#include <string>

#include "pdf/PDFFilters.h"
#include "pdf/PDFLZWDecompressor.h"
#include "pdf/PDFStructure.h"

namespace lumipage {
namespace {

std::string RandomBytes(size_t n, unsigned seed, int alphabet = 256) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng() % static_cast<unsigned>(alphabet));
  return s;
}

TEST(Flate, RoundTripAndEmpty) {
  EXPECT_EQ(FlateEncode(""), "");
  EXPECT_EQ(FlateDecode(""), "");
  for (size_t n : {1u, 100u, 3000u, 70000u}) {
    const std::string x = RandomBytes(n, static_cast<unsigned>(n), 7);
    const std::string z = FlateEncode(x);
    ASSERT_GE(z.size(), 6u);
    EXPECT_EQ(static_cast<uint8_t>(z[0]), 0x78);  // zlib format
    EXPECT_EQ(FlateDecode(z), x);
    // The window is sized to the input, the wrapper written by hand: the bytes stay zlib's own.
    uLongf size = compressBound(static_cast<uLong>(n));
    std::string reference(size, '\0');
    ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(reference.data()), &size, reinterpret_cast<const Bytef*>(x.data()),
                        static_cast<uLong>(n), Z_DEFAULT_COMPRESSION),
              Z_OK);
    reference.resize(size);
    EXPECT_EQ(z, reference) << n;
  }
}

TEST(Flate, CorruptHalfwayGivesTheFirstPart) {
  const std::string x = RandomBytes(200000, 3, 4);
  std::string z = FlateEncode(x);
  for (size_t i = z.size() / 2; i < z.size(); ++i) z[i] = static_cast<char>(0xFF);
  const std::string d = FlateDecode(z);
  ASSERT_GT(d.size(), 50000u);
  EXPECT_TRUE(d.compare(0, 50000, x, 0, 50000) == 0);
}

TEST(Flate, TruncatedStreamStopsWithoutLooping) {
  const std::string x = RandomBytes(50000, 4, 16);
  const std::string z = FlateEncode(x);
  const std::string d = FlateDecode(z.substr(0, z.size() / 3));
  EXPECT_EQ(d, x.substr(0, d.size()));
  EXPECT_EQ(FlateDecode("not zlib at all"), "");
}

TEST(Flate, DecodedSizeCapStopsABomb) {
  const std::string zeros(8 << 20, '\0');
  const std::string bomb = FlateEncode(zeros);
  EXPECT_LT(bomb.size(), 20000u);
  const std::string capped = FlateDecode(bomb, 1 << 20);
  EXPECT_EQ(capped.size(), size_t{1} << 20);
  EXPECT_EQ(FlateDecode(bomb).size(), zeros.size());
}

struct PredictorCase {
  const char* name;
  std::string encoded;  // inflated rows, filter bytes included
  int predictor, colors, bpc, columns;
  std::string decoded;
};

class Predictors : public testing::TestWithParam<PredictorCase> {};

TEST_P(Predictors, UndoRows) {
  const auto& c = GetParam();
  EXPECT_EQ(FlateDecodePredicted(FlateEncode(c.encoded), c.predictor, c.colors, c.bpc, c.columns), c.decoded);
}

using S = std::string;
INSTANTIATE_TEST_SUITE_P(
    Flate, Predictors,
    testing::Values(
        PredictorCase{"None", S("\x00\x01\x02\x00\x03\x04", 6), 12, 1, 8, 2, S("\x01\x02\x03\x04", 4)},
        PredictorCase{"Sub", S("\x01\x01\x01\x01", 4), 11, 1, 8, 3, S("\x01\x02\x03", 3)},
        PredictorCase{"Up", S("\x02\x05\x06\x02\x01\xFF", 6), 12, 1, 8, 2, S("\x05\x06\x06\x05", 4)},
        PredictorCase{"Average", S("\x00\x10\x20\x03\x01\x01", 6), 10, 1, 8, 2, S("\x10\x20\x09\x15", 4)},
        PredictorCase{"Paeth", S("\x00\x10\x20\x04\x01\x01", 6), 15, 1, 8, 2, S("\x10\x20\x11\x21", 4)},
        PredictorCase{"UnknownTypeIsNone", S("\x07\x10\x20", 3), 12, 1, 8, 2, S("\x10\x20", 2)},
        PredictorCase{"PartialRowDropped", S("\x00\x01\x02\x00\x03", 5), 12, 1, 8, 2, S("\x01\x02", 2)},
        PredictorCase{"TwoColours", S("\x01\x01\x02\x03\x04", 5), 12, 2, 8, 2, S("\x01\x02\x04\x06", 4)},
        PredictorCase{"Tiff2Rgb", S("\x10\x20\x30\x01\x02\x03\x05\x06\x07\x01\x01\x01", 12), 2, 3, 8, 2,
                      S("\x10\x20\x30\x11\x22\x33\x05\x06\x07\x06\x07\x08", 12)},
        PredictorCase{"Tiff2TailKept", S("\x01\x01\x01\x09", 4), 2, 1, 8, 3, S("\x01\x02\x03\x09", 4)},
        PredictorCase{"Tiff2TwoColoursUnchanged", S("\x01\x01", 2), 2, 2, 8, 1, S("\x01\x01", 2)},
        PredictorCase{"OtherBitsUnchanged", S("\x01\x01", 2), 12, 1, 4, 1, S("\x01\x01", 2)},
        PredictorCase{"PredictorOneUnchanged", S("\x01\x01", 2), 1, 1, 8, 1, S("\x01\x01", 2)},
        PredictorCase{"NegativeColumnsEmpty", S("\x01\x01", 2), 12, 1, 8, -4, S()}),
    [](const testing::TestParamInfo<PredictorCase>& info) { return std::string(info.param.name); });

TEST(ASCII85, Vectors) {
  EXPECT_EQ(ASCII85Decode("z~>"), std::string(4, '\0'));
  EXPECT_EQ(ASCII85Decode("87cURD]j7BEbo7~>"), "Hello world");
  EXPECT_EQ(ASCII85Decode("87cU RD]j\r\n7BE bo7~>"), "Hello world");
  EXPECT_EQ(ASCII85Decode("87~>"), "H");  // a final group of two characters gives one byte
  EXPECT_EQ(ASCII85Decode("s8W-!~>"), std::string("\xFF\xFF\xFF\xFF", 4));
  // Above 32 bits (damaged data): the low 32 bits, as qpdf, poppler and pdf.js decode it.
  EXPECT_EQ(ASCII85Decode("uuuuu~>"), std::string("\x08\x78\x0E\xC4", 4));
  EXPECT_EQ(ASCII85Decode("s`/AL~>"), std::string("\x01rr\xEE", 4));
  EXPECT_EQ(ASCII85Decode("s`/AL87cURuu~>"), std::string("\x01rr\xEEHell\x08", 9));  // a short last group too
  EXPECT_EQ(ASCII85Decode("87cURD]j7BEbo7"), "Hello world");  // no end mark: decoded as it is
  EXPECT_EQ(ASCII85Decode("87cURD]j7BEbo7~>\n87cUR~>"), "Hello world");  // nothing after the end mark counts
  // Damaged text decodes as far as it goes and says so.
  for (const char* text : {"87cURD]j7BEbo7~>", "87cU RD]j\r\n7BE bo7", "z~>", "87cURD]j7BEbo7~>{{{"}) {
    bool intact = false;
    (void)ASCII85Decode(text, &intact);
    EXPECT_TRUE(intact) << text;
  }
  for (const char* text : {"87c{URD]j7BEbo7~>", "87zcURD]j7BEbo7~>", "uuuuu87cURD]j7BEbo7~>", "87cURD]j7BEbo7!s~>"}) {
    bool intact = true;
    (void)ASCII85Decode(text, &intact);
    EXPECT_FALSE(intact) << text;
  }
  EXPECT_EQ(ASCII85Encode(std::string(4, '\0')), "z~>");
  EXPECT_EQ(ASCII85Encode("Hello world"), "87cURD]j7BEbo7~>");
  EXPECT_EQ(ASCII85Encode(""), "~>");
}

TEST(ASCII85, EncodeBreaksLinesAndRoundTrips) {
  const std::string x = RandomBytes(1000, 9);
  const std::string e = ASCII85Encode(x);
  EXPECT_NE(e.find("\r\n"), std::string::npos);
  size_t start = 0;
  for (size_t p = e.find("\r\n"); p != std::string::npos; p = e.find("\r\n", start)) {
    EXPECT_LE(p - start, 75u);
    start = p + 2;
  }
  EXPECT_EQ(ASCII85Decode(e), x);
}

TEST(ASCII85, ShortZeroGroupAfterTrailingExclamationsKeepsItsData) {
  // 00 09 5E 4A encodes as "!\"!!!"; a short final zero group adds "!!": never to become "z".
  const std::string x("\x03\x5E\x0D\xED\x00", 5);
  const std::string e = ASCII85Encode(x);
  EXPECT_EQ(e.find('z'), std::string::npos);
  EXPECT_EQ(ASCII85Decode(e), x);
  const std::string y = std::string("\x03\x5E\x0D\xED", 4) + std::string(4, '\0') + std::string(1, '\0');
  EXPECT_EQ(ASCII85Decode(ASCII85Encode(y)), y);
}

// A plain LZW encoder with the same conventions, to produce code streams for the decoder.
std::string LZWEncode(const std::string& in, bool earlyChange, int fillOrder, bool clearAtEnd = true) {
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  int width = 9;
  auto put = [&](int code) {
    if (fillOrder == 1) {
      acc = acc << width | static_cast<uint32_t>(code);
      bits += width;
      while (bits >= 8) {
        out += static_cast<char>(acc >> (bits - 8));
        bits -= 8;
      }
    } else {
      acc |= static_cast<uint32_t>(code) << bits;
      bits += width;
      while (bits >= 8) {
        out += static_cast<char>(acc & 0xFF);
        acc >>= 8;
        bits -= 8;
      }
    }
  };
  std::map<std::string, int> table;
  auto reset = [&]() {
    table.clear();
    for (int i = 0; i < 256; ++i) table[std::string(1, static_cast<char>(i))] = i;
  };
  reset();
  int next = 258;
  put(256);
  std::string w;
  for (char c : in) {
    std::string wc = w + c;
    if (table.count(wc) != 0) {
      w = wc;
      continue;
    }
    put(table[w]);
    table[wc] = next;
    // The decoder adds each entry one code later, so its width changes one code later too.
    ++next;
    if (next + (earlyChange ? 1 : 0) == (1 << width) + 1 && width < 12) ++width;
    if (next == 4094) {
      put(256);
      reset();
      next = 258;
      width = 9;
    }
    w = std::string(1, c);
  }
  if (!w.empty()) put(table[w]);
  if (clearAtEnd) put(257);
  if (bits > 0) {
    if (fillOrder == 1) {
      out += static_cast<char>(acc << (8 - bits));
    } else {
      out += static_cast<char>(acc & 0xFF);
    }
  }
  return out;
}

TEST(LZW, ReferenceVectorFromThePdfReference) {
  // "-----A---B" with early change: codes 256 45 258 258 65 259 66 257.
  const std::string codes("\x80\x0B\x60\x50\x22\x0C\x0C\x85\x01", 9);
  TPDFLZWDecompressor lzw;
  lzw.EarlyChange = true;
  EXPECT_EQ(lzw.Decompress(codes), "-----A---B");
}

class LZWRoundTrip : public testing::TestWithParam<std::tuple<bool, int>> {};

TEST_P(LZWRoundTrip, BothFillOrdersAndEarlyChange) {
  const auto [early, fill] = GetParam();
  for (int alphabet : {2, 16, 256}) {
    const std::string x = RandomBytes(60000, static_cast<unsigned>(alphabet), alphabet);
    TPDFLZWDecompressor lzw;
    lzw.EarlyChange = early;
    lzw.FillOrder = static_cast<uint8_t>(fill);
    EXPECT_EQ(lzw.Decompress(LZWEncode(x, early, fill)), x) << alphabet;
  }
}

INSTANTIATE_TEST_SUITE_P(LZW, LZWRoundTrip, testing::Combine(testing::Bool(), testing::Values(0, 1)));

TEST(LZW, WidthGrowsRightAfterTheEntryAt510Or511) {
  // 255 distinct pairs fill entries 258..512 exactly; the code after them must be read with
  // the new width. A wrong switch point garbles the tail.
  std::string x;
  for (int i = 0; i < 600; ++i) x += static_cast<char>((i * 7) % 256);
  for (bool early : {true, false}) {
    TPDFLZWDecompressor lzw;
    lzw.EarlyChange = early;
    EXPECT_EQ(lzw.Decompress(LZWEncode(x, early, 1)), x);
    TPDFLZWDecompressor wrong;
    wrong.EarlyChange = !early;
    EXPECT_NE(wrong.Decompress(LZWEncode(x, early, 1)), x);
  }
}

TEST(LZW, UndefinedCodesAndCapsStayInBounds) {
  TPDFLZWDecompressor lzw;
  // Codes far above the next free code, garbage, and no clear code.
  const std::string junk = RandomBytes(200000, 11);
  const std::string out = lzw.Decompress(junk, 1 << 22);
  EXPECT_LE(out.size(), size_t{1} << 22);
  EXPECT_EQ(lzw.Decompress(""), "");
  EXPECT_NO_FATAL_FAILURE((void)lzw.Decompress(std::string("\xFF\xFF", 2)));  // code 511: an empty entry
  lzw.InitialCodeSize = 40;  // nonsense widths are clamped
  EXPECT_NO_FATAL_FAILURE((void)lzw.Decompress(junk.substr(0, 1000)));
}

TEST(FilterChain, DecodeFollowsFilterAndParameters) {
  TPDFStructure pool;
  const std::string rows("\x02\x01\x02\x03\x04\x05\x02\x01\x01\x01\x01\x01", 12);
  TPDFStream* s = pool.MakeStream(FlateEncode(rows));
  s->Dictionary()->Put("Filter", pool.Parse("[ /FlateDecode ]"));
  s->Dictionary()->Put("DecodeParms", pool.Parse("<< /Predictor 12 /Columns 5 >>"));
  EXPECT_EQ(s->Decode(), std::string("\x01\x02\x03\x04\x05\x02\x03\x04\x05\x06", 10));

  s->Dictionary()->Remove("DecodeParms");
  s->Dictionary()->Put("DP", pool.Parse("[ << /Predictor 12 /Columns 5 >> ]"));
  EXPECT_EQ(s->Decode(), std::string("\x01\x02\x03\x04\x05\x02\x03\x04\x05\x06", 10));

  TPDFStream* hex = pool.MakeStream("414243>");
  hex->Dictionary()->Put("Filter", pool.MakeName("ASCIIHexDecode"));
  EXPECT_EQ(hex->Decode(), "414243>");

  TPDFStream* chain = pool.MakeStream(ASCII85Encode(FlateEncode("chained data")));
  chain->Dictionary()->Put("Filter", pool.Parse("[ /ASCII85Decode /RunLengthDecode 5 /Fl ]"));
  EXPECT_EQ(chain->Decode(), "chained data");

  const std::string plain = "LZW in a stream, LZW in a stream";
  TPDFStream* lzw = pool.MakeStream(LZWEncode(plain, false, 1));
  lzw->Dictionary()->Put("Filter", pool.MakeName("LZWDecode"));
  lzw->Dictionary()->Put("DecodeParms", pool.Parse("<< /EarlyChange 0 >>"));
  EXPECT_EQ(lzw->Decode(), plain);
  TPDFStream* early = pool.MakeStream(LZWEncode(plain, true, 1));
  early->Dictionary()->Put("Filter", pool.MakeName("LZWDecode"));
  EXPECT_EQ(early->Decode(), plain);

  TPDFStream* none = pool.MakeStream("as is");
  none->Dictionary()->Put("Filter", pool.MakeNumber(3));
  EXPECT_EQ(none->Decode(), "as is");
}

}  // namespace
}  // namespace lumipage
