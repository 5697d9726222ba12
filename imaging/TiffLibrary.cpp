#include "imaging/TiffLibrary.h"

#include <type_traits>

#include "imaging/Errors.h"

namespace lumipage {

namespace {

struct TLoaded {
  std::unique_ptr<const TTiffLibrary> Library;
  std::string Problem;
};

TLoaded LoadDefault() {
  TLoaded loaded;
  loaded.Library = TTiffLibrary::Load(TTiffLibrary::kLibrary, loaded.Problem);
  return loaded;
}

}  // namespace

const TTiffLibrary& TTiffLibrary::Get() {
  static const TLoaded loaded = LoadDefault();
  if (!loaded.Library) throw Exception(loaded.Problem);
  return *loaded.Library;
}

std::unique_ptr<TTiffLibrary> TTiffLibrary::Load(const char* name, std::string& problem) {
  std::unique_ptr<TTiffLibrary> lib(new TTiffLibrary);
  lib->library_ = platform::TSharedLibrary(name);
  if (!lib->library_) {
    problem = std::string("TIFF files need libtiff: install the package ") + kPackage + " (" +
              lib->library_.Failure() + ")";
    return nullptr;
  }
  bool ok = true;
  auto resolve = [&](const char* symbol, auto& out) {
    if (!ok) return;
    out = lib->library_.Function<std::remove_reference_t<decltype(out)>>(symbol);
    if (out == nullptr) {
      ok = false;
      problem = std::string("TIFF files cannot be read or written: ") + name + " lacks " + symbol;
    }
  };
  resolve("TIFFClientOpenExt", lib->ClientOpenExt);
  resolve("TIFFClose", lib->Close);
  resolve("TIFFFlush", lib->Flush);
  resolve("TIFFGetMode", lib->GetMode);
  resolve("TIFFOpenOptionsAlloc", lib->OpenOptionsAlloc);
  resolve("TIFFOpenOptionsFree", lib->OpenOptionsFree);
  resolve("TIFFOpenOptionsSetMaxSingleMemAlloc", lib->OpenOptionsSetMaxSingleMemAlloc);
  resolve("TIFFOpenOptionsSetErrorHandlerExtR", lib->OpenOptionsSetErrorHandlerExtR);
  resolve("TIFFOpenOptionsSetWarningHandlerExtR", lib->OpenOptionsSetWarningHandlerExtR);
  resolve("TIFFSetTagExtender", lib->SetTagExtender);
  resolve("TIFFMergeFieldInfo", lib->MergeFieldInfo);
  resolve("TIFFGetField", lib->GetField);
  resolve("TIFFGetFieldDefaulted", lib->GetFieldDefaulted);
  resolve("TIFFSetField", lib->SetField);
  resolve("TIFFReadDirectory", lib->ReadDirectory);
  resolve("TIFFSetDirectory", lib->SetDirectory);
  resolve("TIFFLastDirectory", lib->LastDirectory);
  resolve("TIFFNumberOfDirectories", lib->NumberOfDirectories);
  resolve("TIFFCurrentDirOffset", lib->CurrentDirOffset);
  resolve("TIFFIsTiled", lib->IsTiled);
  resolve("TIFFNumberOfStrips", lib->NumberOfStrips);
  resolve("TIFFNumberOfTiles", lib->NumberOfTiles);
  resolve("TIFFGetStrileOffset", lib->GetStrileOffset);
  resolve("TIFFGetStrileByteCount", lib->GetStrileByteCount);
  resolve("TIFFReadScanline", lib->ReadScanline);
  resolve("TIFFReadEncodedStrip", lib->ReadEncodedStrip);
  resolve("TIFFReadRGBAImageOriented", lib->ReadRGBAImageOriented);
  resolve("TIFFWriteScanline", lib->WriteScanline);
  resolve("TIFFScanlineSize64", lib->ScanlineSize64);
  if (!ok) return nullptr;
  return lib;
}

}  // namespace lumipage
