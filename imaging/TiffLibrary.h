#pragma once
// libtiff, loaded at run time by the first TIFF a job reads or writes. A process that links it
// pays for loading it and its six codec libraries at every start, and most jobs never touch a
// TIFF.
#include <tiffio.h>

#include <memory>
#include <string>

#include "platform/SharedLibrary.h"

namespace lumipage {

class TTiffLibrary {
 public:
  // The name the dynamic loader finds it by, and the Debian package that brings it.
  static constexpr const char* kLibrary = "libtiff.so.6";
  static constexpr const char* kPackage = "libtiff6";

  // The process's library, loaded on first use. Raises Exception with a sentence that names the
  // package to install when it cannot be loaded; the failure is kept and repeated.
  [[nodiscard]] static const TTiffLibrary& Get();
  // Loads the library of this name: null with the reason in problem when it is missing or lacks
  // an entry point.
  [[nodiscard]] static std::unique_ptr<TTiffLibrary> Load(const char* name, std::string& problem);

  TTiffLibrary(const TTiffLibrary&) = delete;
  TTiffLibrary& operator=(const TTiffLibrary&) = delete;

  decltype(&::TIFFClientOpenExt) ClientOpenExt = nullptr;
  decltype(&::TIFFClose) Close = nullptr;
  decltype(&::TIFFFlush) Flush = nullptr;
  decltype(&::TIFFGetMode) GetMode = nullptr;
  decltype(&::TIFFOpenOptionsAlloc) OpenOptionsAlloc = nullptr;
  decltype(&::TIFFOpenOptionsFree) OpenOptionsFree = nullptr;
  decltype(&::TIFFOpenOptionsSetMaxSingleMemAlloc) OpenOptionsSetMaxSingleMemAlloc = nullptr;
  decltype(&::TIFFOpenOptionsSetErrorHandlerExtR) OpenOptionsSetErrorHandlerExtR = nullptr;
  decltype(&::TIFFOpenOptionsSetWarningHandlerExtR) OpenOptionsSetWarningHandlerExtR = nullptr;
  decltype(&::TIFFSetTagExtender) SetTagExtender = nullptr;
  decltype(&::TIFFMergeFieldInfo) MergeFieldInfo = nullptr;
  decltype(&::TIFFGetField) GetField = nullptr;
  decltype(&::TIFFGetFieldDefaulted) GetFieldDefaulted = nullptr;
  decltype(&::TIFFSetField) SetField = nullptr;
  decltype(&::TIFFReadDirectory) ReadDirectory = nullptr;
  decltype(&::TIFFSetDirectory) SetDirectory = nullptr;
  decltype(&::TIFFLastDirectory) LastDirectory = nullptr;
  decltype(&::TIFFNumberOfDirectories) NumberOfDirectories = nullptr;
  decltype(&::TIFFCurrentDirOffset) CurrentDirOffset = nullptr;
  decltype(&::TIFFIsTiled) IsTiled = nullptr;
  decltype(&::TIFFNumberOfStrips) NumberOfStrips = nullptr;
  decltype(&::TIFFNumberOfTiles) NumberOfTiles = nullptr;
  decltype(&::TIFFGetStrileOffset) GetStrileOffset = nullptr;
  decltype(&::TIFFGetStrileByteCount) GetStrileByteCount = nullptr;
  decltype(&::TIFFReadScanline) ReadScanline = nullptr;
  decltype(&::TIFFReadEncodedStrip) ReadEncodedStrip = nullptr;
  decltype(&::TIFFReadRGBAImageOriented) ReadRGBAImageOriented = nullptr;
  decltype(&::TIFFWriteScanline) WriteScanline = nullptr;
  decltype(&::TIFFScanlineSize64) ScanlineSize64 = nullptr;

 private:
  TTiffLibrary() = default;

  platform::TSharedLibrary library_;
};

// The process's libtiff, for the calls of the TIFF classes.
[[nodiscard]] inline const TTiffLibrary& Tiff() { return TTiffLibrary::Get(); }

}  // namespace lumipage
