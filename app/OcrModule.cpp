#include "app/OcrModule.h"

#include <cstdlib>

#include "app/JobSettings.h"
#include "platform/Files.h"

namespace lumipage {

namespace {

bool LanguageChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

LumiOcrImage ImageOf(const TGreyPage& page) {
  return LumiOcrImage{page.Pixels.data(), page.Width, page.Height, page.Width, page.Dpi};
}

// Debian's name of the package with a language's data.
std::string LanguagePackage(const std::string& language) {
  std::string name;
  for (char c : language) name += c == '_' ? '-' : static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return "tesseract-ocr-" + name;
}

}  // namespace

std::string NormalisedOcrLanguages(const std::string& text) {
  bool fresh = true;  // at the start of a name
  for (char c : text) {
    if (c == '+') {
      if (fresh) return {};
      fresh = true;
    } else if (LanguageChar(c)) {
      fresh = false;
    } else {
      return {};
    }
  }
  return fresh ? std::string() : text;
}

std::string OcrModuleLoadFailure(const std::string& reason) {
  if (reason.find("libtesseract.so") != std::string::npos)
    return "Text recognition needs Tesseract: install the package libtesseract5 (" + reason + ")";
  if (reason.find("liblept.so") != std::string::npos || reason.find("libleptonica.so") != std::string::npos)
    return "Text recognition needs Leptonica: install the package liblept5 (" + reason + ")";
  return "Text recognition is not available: " + reason;
}

void TOcrModule::EngineCloser::operator()(LumiOcrEngine* engine) const {
  if (engine != nullptr) Module->close_(engine);
}

std::shared_ptr<TOcrModule> TOcrModule::Load(const std::string& folder) {
  // Tesseract's own threads would compete with the job's recognition threads for the same
  // cores; one thread per page recognised is faster on the whole job. A caller's own setting
  // stays.
  ::setenv("OMP_THREAD_LIMIT", "1", 0);
  const std::string path = folder + kOcrModuleFileName;
  if (!platform::FileExists(path))
    throw EJobError("Text recognition is not available: " + path + " is missing");
  std::shared_ptr<TOcrModule> module(new TOcrModule);
  module->library_ = platform::TSharedLibrary(path);
  if (!module->library_) throw EJobError(OcrModuleLoadFailure(module->library_.Failure()));
  platform::TSharedLibrary& library = module->library_;
  const auto complete = [&library] {
    if (!library.Missing().empty())
      throw EJobError(std::string("Text recognition is not available: ") + kOcrModuleFileName + " lacks " +
                      library.Missing());
  };
  decltype(&lumi_ocr_abi_version) version = nullptr;
  library.Bind("lumi_ocr_abi_version", version);
  complete();
  if (version() != LUMI_OCR_ABI_VERSION)
    throw EJobError(std::string("Text recognition is not available: ") + kOcrModuleFileName +
                    " belongs to another version of the program");
  library.Bind("lumi_ocr_open", module->open_);
  library.Bind("lumi_ocr_close", module->close_);
  library.Bind("lumi_ocr_orientation", module->orientation_);
  library.Bind("lumi_ocr_recognise", module->recognise_);
  complete();
  return module;
}

TOcrModule::Engine TOcrModule::Open(const std::string& languages, bool withOrientation) const {
  LumiOcrEngine* engine = nullptr;
  char message[512] = {};
  const int r = open_(languages.c_str(), withOrientation ? 1 : 0, &engine, message, sizeof message);
  Engine owned(engine, EngineCloser{this});
  if (r == LUMI_OCR_MISSING_LANGUAGE)
    throw EJobError("Text recognition data for the language " + std::string(message) +
                    " is not installed: install the package " + LanguagePackage(message));
  if (r != LUMI_OCR_OK || engine == nullptr)
    throw EJobError("Text recognition could not start: " + std::string(message[0] != '\0' ? message : "unknown reason"));
  return owned;
}

int TOcrModule::Orientation(LumiOcrEngine& engine, const TGreyPage& page, int& degrees, float& confidence) const {
  const LumiOcrImage image = ImageOf(page);
  return orientation_(&engine, &image, &degrees, &confidence);
}

int TOcrModule::Recognise(LumiOcrEngine& engine, const TGreyPage& page, int timeoutMs, const volatile int* cancel,
                          std::vector<TOcrWord>& words) const {
  words.clear();
  const LumiOcrImage image = ImageOf(page);
  auto sink = [](void* context, const LumiOcrWord* w) {
    auto* out = static_cast<std::vector<TOcrWord>*>(context);
    try {
      out->push_back(TOcrWord{w->Left, w->Top, w->Right, w->Bottom, w->LineLeft, w->LineTop, w->LineRight, w->LineBottom,
                              w->BaselineX1, w->BaselineY1, w->BaselineX2, w->BaselineY2,
                              w->Confidence, w->Text != nullptr ? w->Text : ""});
    } catch (...) {
      // A word that does not fit in memory is left out; the page keeps the others.
    }
  };
  const int r = recognise_(&engine, &image, timeoutMs, cancel, sink, &words);
  if (r != LUMI_OCR_OK) words.clear();
  return r;
}

}  // namespace lumipage
