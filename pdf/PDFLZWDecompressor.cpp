#include "pdf/PDFLZWDecompressor.h"

#include <algorithm>

namespace lumipage {

void TPDFLZWDecompressor::ResetTable() {
  width_ = InitialCodeSize;
  mask_ = (1u << width_) - 1;
  nextCode_ = clearCode_ + 2;
  growAt_ = (1 << width_) - (EarlyChange ? 2 : 1);
}

int TPDFLZWDecompressor::ReadCode() {
  // Three zero bytes pad the input so that a code can always be read as 24 bits.
  const size_t stop = inputLength_ + (FillOrder == 1 ? 1 : 2);
  if (readPos_ >= stop) return endCode_;
  const auto b0 = static_cast<uint8_t>(input_[readPos_]);
  const auto b1 = static_cast<uint8_t>(input_[readPos_ + 1]);
  const auto b2 = static_cast<uint8_t>(input_[readPos_ + 2]);
  uint32_t code = 0;
  if (FillOrder == 1) {
    code = ((static_cast<uint32_t>(b0) << 16 | static_cast<uint32_t>(b1) << 8 | b2) >> (24 - bitPos_ - width_)) & mask_;
  } else {
    code = ((b0 | static_cast<uint32_t>(b1) << 8 | static_cast<uint32_t>(b2) << 16) >> bitPos_) & mask_;
  }
  bitPos_ += width_;
  readPos_ += static_cast<size_t>(bitPos_ / 8);
  bitPos_ %= 8;
  return static_cast<int>(code);
}

std::string TPDFLZWDecompressor::Decompress(std::string_view data, size_t maxOutput) {
  // Code widths outside 2 to 12 bits cannot index the table; the PDF value is 9.
  InitialCodeSize = std::clamp(InitialCodeSize, 3, kMaxCodeWidth);
  // The zero padding alone would read as one code 0: no data decodes to nothing.
  if (data.empty()) return {};
  input_.assign(data);
  input_.append(3, '\0');
  inputLength_ = data.size();
  readPos_ = 0;
  bitPos_ = 0;
  clearCode_ = 1 << (InitialCodeSize - 1);
  endCode_ = clearCode_ + 1;
  for (auto& entry : table_) entry.clear();
  for (int i = 0; i < 256 && i < kTableSize; ++i) table_[static_cast<size_t>(i)].assign(1, static_cast<char>(i));
  ResetTable();

  Intact = true;
  std::string out;
  auto emit = [&](const std::string& s) {
    out.append(s, 0, std::min(s.size(), maxOutput - out.size()));
    if (out.size() < maxOutput) return true;
    Intact = false;
    return false;
  };
  auto addEntry = [&](std::string entry) {
    table_[static_cast<size_t>(nextCode_)] = std::move(entry);
    if (nextCode_ == growAt_ && width_ < kMaxCodeWidth) {
      ++width_;
      mask_ = (1u << width_) - 1;
      growAt_ = (1 << width_) - (EarlyChange ? 2 : 1);
    }
    if (nextCode_ < kTableSize - 1) ++nextCode_;
  };

  int code = ReadCode();
  if (code == clearCode_) code = ReadCode();
  if (code == endCode_) return out;
  if (!emit(table_[static_cast<size_t>(code)])) return out;
  int prev = code;
  bool afterClear = false;
  for (;;) {
    code = ReadCode();
    if (code == endCode_) break;
    if (code == clearCode_) {
      ResetTable();
      afterClear = true;
      continue;
    }
    if (afterClear) {
      afterClear = false;
      if (!emit(table_[static_cast<size_t>(code)])) break;
      prev = code;
      continue;
    }
    const std::string& previous = table_[static_cast<size_t>(prev)];
    if (code < nextCode_) {
      const std::string& current = table_[static_cast<size_t>(code)];
      if (!emit(current)) break;
      std::string entry = previous;
      if (!current.empty()) entry += current.front();
      addEntry(std::move(entry));
    } else {
      if (code > nextCode_) Intact = false;
      // The code being defined right now: the previous entry plus its own first byte.
      std::string entry = previous;
      if (!previous.empty()) entry += previous.front();
      if (!emit(entry)) break;
      addEntry(std::move(entry));
    }
    prev = code;
  }
  return out;
}

}  // namespace lumipage
