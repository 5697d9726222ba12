#pragma once
// LZW decoding as PDF (and TIFF) streams use it: variable code width from InitialCodeSize up
// to 12 bits, clear and end-of-data codes, optional early change.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "pdf/PDFLimits.h"

namespace lumipage {

class TPDFLZWDecompressor {
 public:
  // Codes to bytes with the current settings; stops at maxOutput bytes.
  [[nodiscard]] std::string Decompress(std::string_view data, size_t maxOutput = kMaxDecodedSize);

  uint8_t FillOrder = 1;  // 1: codes packed most significant bit first; 0: least first
  bool EarlyChange = false;
  int32_t InitialCodeSize = 9;
  // After Decompress: false when a code named no entry yet (the data is damaged; what follows
  // the fault is guessed) or the output reached its cap.
  bool Intact = true;

 private:
  static constexpr int kTableSize = 4096;
  static constexpr int kMaxCodeWidth = 12;

  [[nodiscard]] int ReadCode();
  void ResetTable();

  int width_ = 9;
  std::string input_;
  size_t readPos_ = 0;
  int bitPos_ = 0;
  uint32_t mask_ = 0;
  size_t inputLength_ = 0;
  int endCode_ = 257;
  int clearCode_ = 256;
  int nextCode_ = 258;
  int growAt_ = 0;
  std::array<std::string, kTableSize> table_;
};

}  // namespace lumipage
