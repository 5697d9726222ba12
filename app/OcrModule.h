#pragma once
// The text recognition module (liblumipage_ocr.so beside the source manager), loaded at run time
// so that the program runs where Tesseract is absent; only a job that asks for recognition needs
// it. Every failure to load it or its language data raises EJobError with a sentence that names
// the package to install.
#include <memory>
#include <string>
#include <vector>

#include "ocr/OcrPlugin.h"
#include "platform/SharedLibrary.h"

namespace lumipage {

inline constexpr const char* kOcrModuleFileName = "liblumipage_ocr.so";

struct TOcrWord {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int LineLeft = 0;
  int LineTop = 0;
  int LineRight = 0;
  int LineBottom = 0;
  // The line's baseline through two points; BaselineX1 == BaselineX2 when there is none.
  int BaselineX1 = 0;
  int BaselineY1 = 0;
  int BaselineX2 = 0;
  int BaselineY2 = 0;
  float Confidence = 0;
  std::string Text;  // UTF-8
};

// An 8-bit grey page, rows from the top, no padding.
struct TGreyPage {
  int Width = 0;
  int Height = 0;
  int Dpi = 0;
  std::vector<unsigned char> Pixels;
};

// "eng", "eng+deu": language names of letters, digits and underscores joined by '+'. Empty
// when the text is not such a list (it could name files outside the data folder).
[[nodiscard]] std::string NormalisedOcrLanguages(const std::string& text);

// The job's message when the module cannot be loaded, from the loader's reason: a missing
// Tesseract or Leptonica library names the package that brings it.
[[nodiscard]] std::string OcrModuleLoadFailure(const std::string& reason);

class TOcrModule {
 public:
  struct EngineCloser {
    const TOcrModule* Module;
    void operator()(LumiOcrEngine* engine) const;
  };
  using Engine = std::unique_ptr<LumiOcrEngine, EngineCloser>;

  // Loads the module from folder (with its trailing '/').
  [[nodiscard]] static std::shared_ptr<TOcrModule> Load(const std::string& folder);
  TOcrModule(const TOcrModule&) = delete;
  TOcrModule& operator=(const TOcrModule&) = delete;

  // An engine for the languages (and the orientation data when asked); raises naming the
  // missing language's package.
  [[nodiscard]] Engine Open(const std::string& languages, bool withOrientation) const;
  // LUMI_OCR_OK and the clockwise turn that makes the page upright, or another result.
  [[nodiscard]] int Orientation(LumiOcrEngine& engine, const TGreyPage& page, int& degrees, float& confidence) const;
  // LUMI_OCR_OK with the page's words, or another result (words then empty).
  [[nodiscard]] int Recognise(LumiOcrEngine& engine, const TGreyPage& page, int timeoutMs, const volatile int* cancel,
                              std::vector<TOcrWord>& words) const;

 private:
  TOcrModule() = default;

  platform::TSharedLibrary library_;
  decltype(&lumi_ocr_open) open_ = nullptr;
  decltype(&lumi_ocr_close) close_ = nullptr;
  decltype(&lumi_ocr_orientation) orientation_ = nullptr;
  decltype(&lumi_ocr_recognise) recognise_ = nullptr;
};

}  // namespace lumipage
