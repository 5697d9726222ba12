// Image files as the PDF engine embeds them: type detection, the JPEG marker walk, the TIFF
// structure reader and the strip embedding, then placing, compressing and writing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "pdf/PDFDocument.h"
#include "pdf/PDFImage.h"
#include "pdf/PDFImageTIFF.h"
#include "pdf/PDFPageImages.h"
#include "pdf/PDFPageTree.h"
#include "pdf/PDFWriter.h"
#include "pdf/Vellox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  lumipage::TPDFTIFF tiff;
  if (tiff.Read(bytes))
    for (int i = 0; i < tiff.PageCount(); ++i) (void)tiff.Page(i).Strips.size();
  lumipage::TJpegInfo info;
  (void)lumipage::TPDFImage::ReadJpegHeader(bytes, info);

  lumipage::TVellox pdf;
  for (int option : {1, 2}) {
    lumipage::TPDFImage* image = lumipage::AddImageFromBytes(pdf.Pages(), bytes, option);
    if (image == nullptr) break;
    (void)lumipage::FitImage(pdf.Pages(), *image, 0, 0, 612, 792, 1, 1, option);
  }
  (void)pdf.CompressContent();
  (void)SaveToString(*pdf.SelectedDocument());
  return 0;
}
