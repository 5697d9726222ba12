#pragma once
// The barcode module's interface: a plain C surface, so that the program loads the module at run
// time, runs where the barcode library is not installed, and only jobs that look for separator
// sheets load it. Images are 8-bit grey, rows from the top. Nothing here throws.
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Raised whenever the functions or structures below change shape.
#define LUMI_BARCODE_ABI_VERSION 1

typedef struct {
  const unsigned char* Pixels;
  int Width;
  int Height;
  int BytesPerLine;
  int Dpi;  // 0 when unknown
} LumiBarcodeImage;

// One symbol's content: its text in UTF-8, or its bytes as they are when it holds binary data.
// Valid only during the call.
typedef void (*LumiBarcodeSink)(void* context, const unsigned char* bytes, size_t size);

int lumi_barcode_abi_version(void);
// Hands every Code 39, Code 128, QR and Data Matrix symbol on the image to sink. The number of
// symbols found, or -1 when the library failed (message then holds the reason).
int lumi_barcode_read(const LumiBarcodeImage* image, LumiBarcodeSink sink, void* context, char* message,
                      size_t messageSize);

#ifdef __cplusplus
}
#endif
