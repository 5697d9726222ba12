#pragma once
// TJpegGraphic: a TDibGraphic that reads and writes JFIF files through libjpeg (IJG 6b API).
// 256-level grey and true-colour images only.
#include <cstdint>

#include "imaging/DibGraphic.h"

namespace lumipage {

class TJpegGraphic : public TDibGraphic {
 public:
  TJpegGraphic();
  [[nodiscard]] const char* ClassName() const override { return "TJpegGraphic"; }
  [[nodiscard]] std::unique_ptr<TDibGraphic> CreateSame() const override;

  // Reads 20 bytes and steps back: FF D8 FF E0, then "JFIF\0" at offset 6.
  [[nodiscard]] bool IsFormatOf(TStream& stream) override;
  // Decodes the JPEG at the stream's position (n is ignored). Grey files load as ikGray256,
  // everything else as ikTrueColor; resolution from the JFIF density.
  void LoadImage(TStream& stream, int n) override;
  // EJpegError "JPEG image must be gray scale or true color" for other kinds, before anything
  // is written; codec failures raise Exception with the codec's message.
  void SaveToStream(TStream& stream) override;

  // The codec's quality for writing (0 counts as 1, above 100 as 100).
  std::uint8_t Quality = 80;
  bool Progressive = false;
  bool OptimizeCoding = false;

  // Rows go to and from the codec in blue, green, red order without a copy. Off: each row is
  // copied and swapped to red, green, blue first (the reference the tests compare against).
  bool UseFastPaths = true;

  // Large colour pages are written by two threads where a core is free (platform::TwoThreadsPay):
  // one makes the codec's colour samples while the other transforms and codes those before
  // them. The bytes are the same either way; One and Two fix the choice (Two for any size).
  enum class TThreads { Auto, One, Two };
  TThreads Threads = TThreads::Auto;

  // Codec warnings of the last load or save (counted, otherwise ignored).
  [[nodiscard]] long WarningCount() const { return warnings_; }

 private:
  long warnings_ = 0;
};

}  // namespace lumipage
