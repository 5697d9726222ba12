#pragma once
// The text recognition module's interface: a plain C surface, so that the program loads the
// module at run time and runs where Tesseract is not installed. Images are 8-bit grey, rows from
// the top. Nothing here throws.
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Raised whenever the functions or structures below change shape.
#define LUMI_OCR_ABI_VERSION 2

typedef struct LumiOcrEngine LumiOcrEngine;

typedef struct {
  const unsigned char* Pixels;
  int Width;
  int Height;
  int BytesPerLine;
  int Dpi;
} LumiOcrImage;

// One recognised word, in pixels of the image given. The Line fields bound its text line
// (ascenders to descenders). The line's baseline runs through (BaselineX1, BaselineY1) and
// (BaselineX2, BaselineY2), sloped on a skewed line; BaselineX1 == BaselineX2 when none was found.
typedef struct {
  int Left;
  int Top;
  int Right;
  int Bottom;
  int LineLeft;
  int LineTop;
  int LineRight;
  int LineBottom;
  int BaselineX1;
  int BaselineY1;
  int BaselineX2;
  int BaselineY2;
  float Confidence;
  const char* Text;  // UTF-8, valid only during the call
} LumiOcrWord;

typedef void (*LumiOcrWordSink)(void* context, const LumiOcrWord* word);

enum {
  LUMI_OCR_OK = 0,
  LUMI_OCR_MISSING_LANGUAGE = 1,  // message holds the language's name alone
  LUMI_OCR_FAILED = 2,            // message holds the reason
  LUMI_OCR_TIMED_OUT = 3,         // the deadline passed or the cancel flag was set
};

int lumi_ocr_abi_version(void);
// An engine for languages ("eng", "eng+deu"; empty: orientation only); withOrientation also loads the orientation data
// ("osd"). Only one thread may use an engine at a time; engines of different threads are apart.
int lumi_ocr_open(const char* languages, int withOrientation, LumiOcrEngine** engine, char* message,
                  size_t messageSize);
void lumi_ocr_close(LumiOcrEngine* engine);
// The clockwise turn in degrees (0, 90, 180, 270) that makes the page upright, and how sure the
// detection is (Tesseract's orientation confidence).
int lumi_ocr_orientation(LumiOcrEngine* engine, const LumiOcrImage* image, int* degrees, float* confidence);
// Recognises the page and hands each word to sink, in reading order. Gives up after timeoutMs
// milliseconds or once *cancel is non-zero.
int lumi_ocr_recognise(LumiOcrEngine* engine, const LumiOcrImage* image, int timeoutMs, const volatile int* cancel,
                       LumiOcrWordSink sink, void* context);

#ifdef __cplusplus
}
#endif
