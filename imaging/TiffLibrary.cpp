#include "imaging/TiffLibrary.h"


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
  platform::TSharedLibrary& library = lib->library_;
  library.Bind("TIFFClientOpenExt", lib->ClientOpenExt);
  library.Bind("TIFFClose", lib->Close);
  library.Bind("TIFFFlush", lib->Flush);
  library.Bind("TIFFGetMode", lib->GetMode);
  library.Bind("TIFFOpenOptionsAlloc", lib->OpenOptionsAlloc);
  library.Bind("TIFFOpenOptionsFree", lib->OpenOptionsFree);
  library.Bind("TIFFOpenOptionsSetMaxSingleMemAlloc", lib->OpenOptionsSetMaxSingleMemAlloc);
  library.Bind("TIFFOpenOptionsSetErrorHandlerExtR", lib->OpenOptionsSetErrorHandlerExtR);
  library.Bind("TIFFOpenOptionsSetWarningHandlerExtR", lib->OpenOptionsSetWarningHandlerExtR);
  library.Bind("TIFFSetTagExtender", lib->SetTagExtender);
  library.Bind("TIFFMergeFieldInfo", lib->MergeFieldInfo);
  library.Bind("TIFFGetField", lib->GetField);
  library.Bind("TIFFGetFieldDefaulted", lib->GetFieldDefaulted);
  library.Bind("TIFFSetField", lib->SetField);
  library.Bind("TIFFReadDirectory", lib->ReadDirectory);
  library.Bind("TIFFSetDirectory", lib->SetDirectory);
  library.Bind("TIFFLastDirectory", lib->LastDirectory);
  library.Bind("TIFFNumberOfDirectories", lib->NumberOfDirectories);
  library.Bind("TIFFCurrentDirOffset", lib->CurrentDirOffset);
  library.Bind("TIFFIsTiled", lib->IsTiled);
  library.Bind("TIFFNumberOfStrips", lib->NumberOfStrips);
  library.Bind("TIFFNumberOfTiles", lib->NumberOfTiles);
  library.Bind("TIFFGetStrileOffset", lib->GetStrileOffset);
  library.Bind("TIFFGetStrileByteCount", lib->GetStrileByteCount);
  library.Bind("TIFFReadScanline", lib->ReadScanline);
  library.Bind("TIFFReadEncodedStrip", lib->ReadEncodedStrip);
  library.Bind("TIFFReadRGBAImageOriented", lib->ReadRGBAImageOriented);
  library.Bind("TIFFWriteScanline", lib->WriteScanline);
  library.Bind("TIFFScanlineSize64", lib->ScanlineSize64);
  if (!library.Missing().empty()) {
    problem = std::string("TIFF files cannot be read or written: ") + name + " lacks " + library.Missing();
    return nullptr;
  }
  return lib;
}

}  // namespace lumipage
