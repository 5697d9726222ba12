#include "pdf/PDFFilters.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "pdf/PDFLexer.h"

namespace lumipage {

namespace {

// zlib failures while compressing; caught inside FlateEncode.
class EZCompressionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Deflater {
 public:
  // Raw deflate, sized for the input: zlib's largest window and hash tables cost about
  // 256 KB, which a one-line content stream does not need. Inputs of 8 KB and more keep the
  // full hash table. FlateEncode writes the zlib wrapper itself.
  explicit Deflater(size_t inputSize) {
    int windowBits = 9;
    while (windowBits < 15 && (size_t{1} << windowBits) < inputSize + 262) ++windowBits;
    const int memLevel = std::min(8, windowBits - 6);
    if (deflateInit2(&z_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -windowBits, memLevel, Z_DEFAULT_STRATEGY) != Z_OK)
      throw EZCompressionError(Message());
    open_ = true;
  }
  ~Deflater() {
    if (open_) deflateEnd(&z_);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;
  z_stream& Stream() { return z_; }
  [[nodiscard]] std::string Message() const { return z_.msg != nullptr ? z_.msg : "zlib error"; }

 private:
  z_stream z_{};
  bool open_ = false;
};

class Inflater {
 public:
  Inflater() { open_ = inflateInit(&z_) == Z_OK; }
  ~Inflater() {
    if (open_) inflateEnd(&z_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  [[nodiscard]] bool Open() const { return open_; }
  z_stream& Stream() { return z_; }

 private:
  z_stream z_{};
  bool open_ = false;
};

}  // namespace

std::string FlateEncode(std::string_view bytes) {
  if (bytes.empty()) return {};
  try {
    Deflater d(bytes.size());
    z_stream& z = d.Stream();
    // The zlib header for a 32 KB window at the default level, as zlib itself writes it: a
    // smaller window is covered by it, so readers see the same wrapper for every size.
    std::string out("\x78\x9C", 2);
    // zlib's own bound: one deflate call with Z_FINISH always completes.
    out.resize(2 + deflateBound(&z, static_cast<uLong>(bytes.size())));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data() + 2);
    z.avail_out = static_cast<uInt>(out.size() - 2);
    for (;;) {
      const int rc = deflate(&z, Z_FINISH);
      if (rc == Z_STREAM_END) break;
      if (rc < 0 && rc != Z_BUF_ERROR) throw EZCompressionError(d.Message());
      const size_t used = out.size() - z.avail_out;
      out.resize(out.size() + 256);
      z.next_out = reinterpret_cast<Bytef*>(out.data() + used);
      z.avail_out = static_cast<uInt>(out.size() - used);
    }
    out.resize(2 + z.total_out);
    const uLong check = adler32(adler32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()),
                                static_cast<uInt>(bytes.size()));
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((check >> shift) & 0xFF);
    return out;
  } catch (...) {
    return {};
  }
}

std::string FlateDecode(std::string_view bytes, size_t maxOutput, bool* intact) {
  if (intact != nullptr) *intact = false;
  if (bytes.empty()) return {};
  try {
    Inflater inf;
    if (!inf.Open()) return {};
    z_stream& z = inf.Stream();
    const size_t step = std::max<size_t>((bytes.size() + 255) / 256 * 256, 256);
    std::string out;
    out.resize(std::min(step, maxOutput));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    size_t used = 0;
    for (;;) {
      z.next_out = reinterpret_cast<Bytef*>(out.data() + used);
      z.avail_out = static_cast<uInt>(out.size() - used);
      const uInt inBefore = z.avail_in;
      const uInt outBefore = z.avail_out;
      const int rc = inflate(&z, Z_NO_FLUSH);
      used = out.size() - z.avail_out;
      if (rc == Z_STREAM_END && intact != nullptr) *intact = true;
      if (rc == Z_STREAM_END || rc == Z_DATA_ERROR) break;
      // Truncated data, a missing dictionary or an internal error: no further progress.
      if (rc != Z_OK && rc != Z_BUF_ERROR) break;
      if (z.avail_in == inBefore && z.avail_out == outBefore) break;
      if (z.avail_out == 0) {
        if (out.size() >= maxOutput) break;  // decoded-size cap
        out.resize(std::min(maxOutput, out.size() + std::max(step, out.size())));
      }
    }
    out.resize(used);
    return out;
  } catch (...) {
    return {};
  }
}

namespace {

int Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

}  // namespace

void UnfilterPNGRow(uint8_t type, uint8_t* row, const uint8_t* previous, size_t length, size_t step) {
  // One loop per type: the type is fixed for the row, so no byte asks for it again.
  switch (type) {
    case 1:
      for (size_t i = step; i < length; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - step]);
      break;
    case 2:
      if (previous != nullptr)
        for (size_t i = 0; i < length; ++i) row[i] = static_cast<uint8_t>(row[i] + previous[i]);
      break;
    case 3:
      for (size_t i = 0; i < length; ++i) {
        const int a = i >= step ? row[i - step] : 0;
        const int b = previous != nullptr ? previous[i] : 0;
        row[i] = static_cast<uint8_t>(row[i] + (a + b) / 2);
      }
      break;
    case 4:
      for (size_t i = 0; i < length; ++i) {
        const int a = i >= step ? row[i - step] : 0;
        const int b = previous != nullptr ? previous[i] : 0;
        const int c = previous != nullptr && i >= step ? previous[i - step] : 0;
        row[i] = static_cast<uint8_t>(row[i] + Paeth(a, b, c));
      }
      break;
    default:
      break;
  }
}

std::string UndoPredictor(std::string data, int32_t predictor, int32_t colors, int32_t bitsPerComponent,
                          int32_t columns) {
  if (bitsPerComponent != 8) return data;
  if (predictor == 2) {
    if (colors != 1 && colors != 3 && colors != 4) return data;
    if (columns <= 0) return data;
    const auto rowLength = static_cast<size_t>(columns) * static_cast<size_t>(colors);
    const auto step = static_cast<size_t>(colors);
    // Bytes after the last whole row stay as they are.
    const size_t rows = data.size() / rowLength;
    for (size_t r = 0; r < rows; ++r) {
      char* row = data.data() + r * rowLength;
      for (size_t i = step; i < rowLength; ++i)
        row[i] = static_cast<char>(static_cast<uint8_t>(row[i]) + static_cast<uint8_t>(row[i - step]));
    }
    return data;
  }
  if (predictor < 10) return data;
  if (columns < 0 || colors < 0) return {};
  const auto width = static_cast<size_t>(columns) * static_cast<size_t>(colors);
  if (width >= data.size()) return {};
  const size_t rowLength = width + 1;
  const size_t rows = data.size() / rowLength;
  const auto bpp = static_cast<size_t>(colors);
  std::string out(rows * width, '\0');
  const auto* in = reinterpret_cast<const uint8_t*>(data.data());
  auto* o = reinterpret_cast<uint8_t*>(out.data());
  for (size_t r = 0; r < rows; ++r) {
    uint8_t* cur = o + r * width;
    std::copy_n(in + r * rowLength + 1, width, cur);
    UnfilterPNGRow(in[r * rowLength], cur, r > 0 ? cur - width : nullptr, width, bpp);
  }
  return out;
}

std::string FlateDecodePredicted(std::string_view bytes, int32_t predictor, int32_t colors,
                                 int32_t bitsPerComponent, int32_t columns, size_t maxOutput, bool* intact) {
  return UndoPredictor(FlateDecode(bytes, maxOutput, intact), predictor, colors, bitsPerComponent, columns);
}

std::string ASCII85Decode(std::string_view bytes, bool* intact) {
  if (intact != nullptr) *intact = true;
  auto damaged = [intact]() {
    if (intact != nullptr) *intact = false;
  };
  std::string text;
  text.reserve(bytes.size());
  // The data ends at the end mark "~>", wherever it stands (readers ignore what follows it);
  // without one whatever is there is decoded.
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '~') break;
    if (c == 'z') {
      if (text.size() % 5 != 0) damaged();  // only a whole group may be written as z
      text += "!!!!!";
    } else if (c >= '!' && c <= 'u') {
      text += static_cast<char>(c);
    } else if (!pdflex::IsWhite(ch)) {
      damaged();  // readers disagree on such a character: one skips it, one counts it, one stops
    }
  }

  std::string out;
  out.reserve(text.size() / 5 * 4 + 4);
  auto group = [&](const char* g, size_t keep) {
    uint64_t v = 0;
    for (int i = 0; i < 5; ++i) v = v * 85 + static_cast<uint64_t>(static_cast<unsigned char>(g[i]) - 33);
    // A group beyond 32 bits (damaged data) keeps its low 32 bits: every reader decodes it so.
    if (v > 0xFFFFFFFFull) damaged();
    const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
    out.append(b, keep);
  };
  size_t i = 0;
  for (; i + 5 <= text.size(); i += 5) group(text.data() + i, 4);
  const size_t rest = text.size() - i;
  if (rest == 1) damaged();  // one character says nothing
  if (rest > 0) {
    char g[5] = {'u', 'u', 'u', 'u', 'u'};
    std::copy_n(text.data() + i, rest, g);
    group(g, rest - 1);
  }
  return out;
}

std::string ASCII85Encode(std::string_view bytes) {
  std::string out;
  std::string line;
  out.reserve(bytes.size() * 5 / 4 + bytes.size() / 35 + 8);
  for (size_t i = 0; i < bytes.size(); i += 4) {
    const size_t k = std::min<size_t>(4, bytes.size() - i);
    uint32_t v = 0;
    for (size_t j = 0; j < 4; ++j)
      v = v << 8 | (j < k ? static_cast<uint8_t>(bytes[i + j]) : 0u);
    char digits[5];
    for (int j = 4; j >= 0; --j) {
      digits[j] = static_cast<char>(v % 85 + 33);
      v /= 85;
    }
    // Only a whole group of four zero bytes becomes "z": a short final group never does, or
    // its padding would be lost.
    if (k == 4 && std::string_view(digits, 5) == "!!!!!") {
      line += 'z';
    } else {
      line.append(digits, k + 1);
    }
    if (line.size() > 70) {
      out += line;
      out += "\r\n";
      line.clear();
    }
  }
  out += line;
  out += "~>";
  return out;
}

}  // namespace lumipage
