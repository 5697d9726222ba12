#pragma once
// FreeType and fontconfig, loaded at run time by the first text a canvas measures or draws. Only
// captions need them, and a process that links them pays for loading them (and the libraries
// they bring) at every start, caption or not.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <memory>
#include <string>

#include "platform/SharedLibrary.h"

namespace lumipage {

class TCanvasLibraries {
 public:
  // The names the dynamic loader finds them by, and the Debian packages that bring them.
  static constexpr const char* kFreeTypeLibrary = "libfreetype.so.6";
  static constexpr const char* kFreeTypePackage = "libfreetype6";
  static constexpr const char* kFontconfigLibrary = "libfontconfig.so.1";
  static constexpr const char* kFontconfigPackage = "libfontconfig1";

  // The process's libraries, loaded on first use. Raises Exception with a sentence that names
  // the package to install when one cannot be loaded; the failure is kept and repeated. Shared,
  // so that a font face still alive at process end keeps them loaded until it is gone.
  [[nodiscard]] static std::shared_ptr<const TCanvasLibraries> Get();
  // Loads the libraries of these names: null with the reason in problem when one is missing or
  // lacks an entry point.
  [[nodiscard]] static std::unique_ptr<TCanvasLibraries> Load(const char* freetype, const char* fontconfig,
                                                             std::string& problem);

  TCanvasLibraries(const TCanvasLibraries&) = delete;
  TCanvasLibraries& operator=(const TCanvasLibraries&) = delete;

  // FreeType
  decltype(&::FT_Init_FreeType) InitFreeType = nullptr;
  decltype(&::FT_Done_FreeType) DoneFreeType = nullptr;
  decltype(&::FT_New_Face) NewFace = nullptr;
  decltype(&::FT_Done_Face) DoneFace = nullptr;
  decltype(&::FT_Get_Sfnt_Table) GetSfntTable = nullptr;
  decltype(&::FT_Set_Char_Size) SetCharSize = nullptr;
  decltype(&::FT_Load_Char) LoadChar = nullptr;
  // fontconfig
  decltype(&::FcPatternCreate) PatternCreate = nullptr;
  decltype(&::FcPatternDestroy) PatternDestroy = nullptr;
  decltype(&::FcPatternAddString) PatternAddString = nullptr;
  decltype(&::FcPatternAddBool) PatternAddBool = nullptr;
  decltype(&::FcPatternGetString) PatternGetString = nullptr;
  decltype(&::FcPatternGetInteger) PatternGetInteger = nullptr;
  decltype(&::FcConfigSubstitute) ConfigSubstitute = nullptr;
  decltype(&::FcDefaultSubstitute) DefaultSubstitute = nullptr;
  decltype(&::FcFontMatch) FontMatch = nullptr;

 private:
  TCanvasLibraries() = default;

  platform::TSharedLibrary freetype_;
  platform::TSharedLibrary fontconfig_;
};

}  // namespace lumipage
