// The text recognition module over Tesseract's C++ API. Built as its own shared library so that
// only this file depends on libtesseract.
#include "ocr/OcrPlugin.h"

#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

#define LUMI_OCR_EXPORT extern "C" __attribute__((visibility("default")))

struct LumiOcrEngine {
  tesseract::TessBaseAPI Text;
  bool HasText = false;
  std::unique_ptr<tesseract::TessBaseAPI> Orientation;
};

namespace {

void SetMessage(char* message, size_t size, const std::string& text) {
  if (message != nullptr && size > 0) std::snprintf(message, size, "%s", text.c_str());
}

bool IsFile(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The folders Tesseract 5 reads language data from: $TESSDATA_PREFIX (also with "tessdata"
// below it), else the folder Debian's packages install into.
std::vector<std::string> DataFolders() {
  std::vector<std::string> folders;
  if (const char* prefix = std::getenv("TESSDATA_PREFIX"); prefix != nullptr && *prefix != '\0') {
    std::string p = prefix;
    if (p.back() != '/') p += '/';
    folders.push_back(p);
    folders.push_back(p + "tessdata/");
  }
  folders.push_back("/usr/share/tesseract-ocr/5/tessdata/");
  return folders;
}

// The first language of the list whose data file is in none of the folders; empty when all are.
std::string MissingLanguage(const std::string& languages) {
  const std::vector<std::string> folders = DataFolders();
  size_t start = 0;
  while (start <= languages.size()) {
    size_t end = languages.find('+', start);
    if (end == std::string::npos) end = languages.size();
    const std::string language = languages.substr(start, end - start);
    bool found = language.empty();
    for (const std::string& folder : folders)
      if (!found && IsFile(folder + language + ".traineddata")) found = true;
    if (!found) return language;
    start = end + 1;
  }
  return {};
}

// Tesseract writes its diagnostics to standard error unless told otherwise; the job's caller
// reads the report, not the terminal.
const std::vector<std::string> kQuietNames = {"debug_file"};
const std::vector<std::string> kQuietValues = {"/dev/null"};

int InitApi(tesseract::TessBaseAPI& api, const std::string& languages, char* message, size_t size) {
  if (const std::string missing = MissingLanguage(languages); !missing.empty()) {
    SetMessage(message, size, missing);
    return LUMI_OCR_MISSING_LANGUAGE;
  }
  if (api.Init(nullptr, languages.c_str(), tesseract::OEM_DEFAULT, nullptr, 0, &kQuietNames, &kQuietValues,
               false) != 0) {
    SetMessage(message, size, "Tesseract could not load the language data for " + languages);
    return LUMI_OCR_FAILED;
  }
  return LUMI_OCR_OK;
}

void SetPage(tesseract::TessBaseAPI& api, const LumiOcrImage& image) {
  api.SetImage(image.Pixels, image.Width, image.Height, 1, image.BytesPerLine);
  if (image.Dpi > 0) api.SetSourceResolution(image.Dpi);
}

bool Usable(const LumiOcrImage* image) {
  return image != nullptr && image->Pixels != nullptr && image->Width > 0 && image->Height > 0 &&
         image->BytesPerLine >= image->Width;
}

struct CancelState {
  const volatile int* Flag;
};

bool Cancelled(void* state, int) {
  const auto* s = static_cast<CancelState*>(state);
  return s->Flag != nullptr && *s->Flag != 0;
}

}  // namespace

LUMI_OCR_EXPORT int lumi_ocr_abi_version(void) { return LUMI_OCR_ABI_VERSION; }

LUMI_OCR_EXPORT int lumi_ocr_open(const char* languages, int withOrientation, LumiOcrEngine** engine, char* message,
                                  size_t messageSize) {
  if (engine == nullptr || languages == nullptr) return LUMI_OCR_FAILED;
  *engine = nullptr;
  try {
    auto e = std::make_unique<LumiOcrEngine>();
    e->HasText = *languages != '\0';
    if (e->HasText)
      if (int r = InitApi(e->Text, languages, message, messageSize); r != LUMI_OCR_OK) return r;
    if (withOrientation != 0) {
      e->Orientation = std::make_unique<tesseract::TessBaseAPI>();
      if (int r = InitApi(*e->Orientation, "osd", message, messageSize); r != LUMI_OCR_OK) return r;
      e->Orientation->SetPageSegMode(tesseract::PSM_OSD_ONLY);
    }
    *engine = e.release();
    return LUMI_OCR_OK;
  } catch (const std::exception& ex) {
    SetMessage(message, messageSize, ex.what());
    return LUMI_OCR_FAILED;
  }
}

LUMI_OCR_EXPORT void lumi_ocr_close(LumiOcrEngine* engine) { delete engine; }

LUMI_OCR_EXPORT int lumi_ocr_orientation(LumiOcrEngine* engine, const LumiOcrImage* image, int* degrees,
                                         float* confidence) {
  if (engine == nullptr || engine->Orientation == nullptr || !Usable(image) || degrees == nullptr ||
      confidence == nullptr)
    return LUMI_OCR_FAILED;
  try {
    tesseract::TessBaseAPI& api = *engine->Orientation;
    SetPage(api, *image);
    int turned = 0;
    float sure = 0;
    const char* script = nullptr;
    float scriptSure = 0;
    const bool found = api.DetectOrientationScript(&turned, &sure, &script, &scriptSure);
    api.Clear();
    if (!found) return LUMI_OCR_FAILED;
    // Tesseract gives the page's own clockwise turn; undoing it is the turn the other way.
    *degrees = (360 - turned % 360) % 360;
    *confidence = sure;
    return LUMI_OCR_OK;
  } catch (...) {
    return LUMI_OCR_FAILED;
  }
}

LUMI_OCR_EXPORT int lumi_ocr_recognise(LumiOcrEngine* engine, const LumiOcrImage* image, int timeoutMs,
                                       const volatile int* cancel, LumiOcrWordSink sink, void* context) {
  if (engine == nullptr || !engine->HasText || !Usable(image) || sink == nullptr) return LUMI_OCR_FAILED;
  try {
    tesseract::TessBaseAPI& api = engine->Text;
    SetPage(api, *image);
    CancelState state{cancel};
    tesseract::ETEXT_DESC monitor;
    monitor.cancel = &Cancelled;
    monitor.cancel_this = &state;
    monitor.set_deadline_msecs(timeoutMs);
    const int r = api.Recognize(&monitor);
    if (monitor.deadline_exceeded() || Cancelled(&state, 0)) {
      api.Clear();
      return LUMI_OCR_TIMED_OUT;
    }
    if (r != 0) {
      api.Clear();
      return LUMI_OCR_FAILED;
    }
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (it != nullptr && !it->Empty(tesseract::RIL_WORD)) {
      LumiOcrWord line{};
      do {
        if (it->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) {
          line = LumiOcrWord{};
          (void)it->BoundingBox(tesseract::RIL_TEXTLINE, &line.LineLeft, &line.LineTop, &line.LineRight,
                                &line.LineBottom);
          if (!it->Baseline(tesseract::RIL_TEXTLINE, &line.BaselineX1, &line.BaselineY1, &line.BaselineX2,
                            &line.BaselineY2))
            line.BaselineX1 = line.BaselineX2 = 0;
        }
        std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_WORD));
        LumiOcrWord word = line;
        if (text == nullptr || text[0] == '\0' ||
            !it->BoundingBox(tesseract::RIL_WORD, &word.Left, &word.Top, &word.Right, &word.Bottom))
          continue;
        word.Confidence = it->Confidence(tesseract::RIL_WORD);
        word.Text = text.get();
        sink(context, &word);
      } while (it->Next(tesseract::RIL_WORD));
    }
    api.Clear();
    return LUMI_OCR_OK;
  } catch (...) {
    return LUMI_OCR_FAILED;
  }
}
