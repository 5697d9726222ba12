#include "pdf/PDFImageDecoded.h"

#include <algorithm>

#include "pdf/PDFImageBMP.h"
#include "pdf/PDFImageGIFDecoder.h"
#include "pdf/PDFImageMetafile.h"
#include "pdf/PDFImagePNGReader.h"
#include "pdf/PDFImageTIFF.h"
#include "pdf/PDFImageTIFFPixels.h"
#include "pdf/PDFIndRef.h"
#include "pdf/PDFPageTree.h"
#include "pdf/PDFStream.h"

namespace lumipage {

namespace {

bool BuildTiffPage(TPDFStructure& store, const TPDFTIFF* tiff, int page, bool compress, TBuiltImage& built) {
  if (tiff == nullptr || tiff->PageCount() == 0) return false;
  const TTIFFPage& record = tiff->Page(std::clamp(page, 1, tiff->PageCount()) - 1);
  if (DecodesTiffPixels(record.Compression)) {
    // Strips pointing outside the file, or none at all: there is no picture to show.
    if (!record.StripsValid || (record.Strips.empty() && record.Width > 0 && record.Length > 0)) return false;
  }
  return BuildTiffPixelsImage(store, record, compress, built);
}

}  // namespace

bool BuildImageByDecoding(TPDFImage& image, TPDFPageTree& pages, EImageFileType type, std::string_view bytes,
                          const TPDFTIFF* tiff, int page) {
  TPDFStructure& store = image.Store();
  const bool compress = image.CompressPixels == 1;
  TBuiltImage built;
  bool ok = false;
  switch (type) {
    case EImageFileType::PlaceableMetafile: ok = BuildMetafileImage(store, bytes, false, built); break;
    case EImageFileType::EnhancedMetafile: ok = BuildMetafileImage(store, bytes, true, built); break;
    case EImageFileType::Bmp: ok = BuildBmpImage(store, bytes, compress, built); break;
    case EImageFileType::Png: ok = BuildPngImage(store, bytes, built); break;
    case EImageFileType::Gif: ok = BuildGifImage(store, bytes, built); break;
    case EImageFileType::Tiff: ok = BuildTiffPage(store, tiff, page, compress, built); break;
    default: break;
  }
  if (!ok || built.Stream == nullptr) return false;
  RecordBuiltImage(image, pages, built);
  return true;
}

void RecordBuiltImage(TPDFImage& image, TPDFPageTree& pages, const TBuiltImage& built) {
  const TPDFIndRef* ref = pages.Register(built.Stream);
  image.ObjectNumber = ref->ObjectNumber();
  image.Generation = ref->Generation();
  image.Dictionary = built.Stream->Dictionary();
  image.Width = built.Width;
  image.Height = built.Height;
  image.Kind = built.Kind;
  image.HorizontalResolution = built.HorizontalResolution;
  image.VerticalResolution = built.VerticalResolution;
  image.ResolutionUnit = built.ResolutionUnit;
}

}  // namespace lumipage
