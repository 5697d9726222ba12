#include "imaging/CanvasLibraries.h"

#include <type_traits>

#include "imaging/Errors.h"

// The sonames above belong to these major versions; a newer major would have a new soname.
static_assert(FREETYPE_MAJOR == 2, "libfreetype.so.6 is FreeType 2");
static_assert(FC_MAJOR == 2, "libfontconfig.so.1 is fontconfig 2");

namespace lumipage {

namespace {

struct TLoaded {
  std::shared_ptr<const TCanvasLibraries> Libraries;
  std::string Problem;
};

TLoaded LoadDefault() {
  TLoaded loaded;
  loaded.Libraries = TCanvasLibraries::Load(TCanvasLibraries::kFreeTypeLibrary, TCanvasLibraries::kFontconfigLibrary,
                                            loaded.Problem);
  return loaded;
}

}  // namespace

std::shared_ptr<const TCanvasLibraries> TCanvasLibraries::Get() {
  static const TLoaded loaded = LoadDefault();
  if (!loaded.Libraries) throw Exception(loaded.Problem);
  return loaded.Libraries;
}

std::unique_ptr<TCanvasLibraries> TCanvasLibraries::Load(const char* freetype, const char* fontconfig,
                                                         std::string& problem) {
  std::unique_ptr<TCanvasLibraries> libs(new TCanvasLibraries);
  auto open = [&problem](const char* name, const char* what, const char* package) {
    platform::TSharedLibrary library(name);
    if (!library)
      problem = std::string("Captions need ") + what + ": install the package " + package + " (" + library.Failure() + ")";
    return library;
  };
  libs->freetype_ = open(freetype, "FreeType", kFreeTypePackage);
  if (!libs->freetype_) return nullptr;
  libs->fontconfig_ = open(fontconfig, "fontconfig", kFontconfigPackage);
  if (!libs->fontconfig_) return nullptr;
  bool ok = true;
  auto resolve = [&](const platform::TSharedLibrary& handle, const char* library, const char* name, auto& out) {
    if (!ok) return;
    out = handle.Function<std::remove_reference_t<decltype(out)>>(name);
    if (out == nullptr) {
      ok = false;
      problem = std::string("Captions cannot be drawn: ") + library + " lacks " + name;
    }
  };
  const platform::TSharedLibrary& ft = libs->freetype_;
  resolve(ft, freetype, "FT_Init_FreeType", libs->InitFreeType);
  resolve(ft, freetype, "FT_Done_FreeType", libs->DoneFreeType);
  resolve(ft, freetype, "FT_New_Face", libs->NewFace);
  resolve(ft, freetype, "FT_Done_Face", libs->DoneFace);
  resolve(ft, freetype, "FT_Get_Sfnt_Table", libs->GetSfntTable);
  resolve(ft, freetype, "FT_Set_Char_Size", libs->SetCharSize);
  resolve(ft, freetype, "FT_Load_Char", libs->LoadChar);
  const platform::TSharedLibrary& fc = libs->fontconfig_;
  resolve(fc, fontconfig, "FcPatternCreate", libs->PatternCreate);
  resolve(fc, fontconfig, "FcPatternDestroy", libs->PatternDestroy);
  resolve(fc, fontconfig, "FcPatternAddString", libs->PatternAddString);
  resolve(fc, fontconfig, "FcPatternAddBool", libs->PatternAddBool);
  resolve(fc, fontconfig, "FcPatternGetString", libs->PatternGetString);
  resolve(fc, fontconfig, "FcPatternGetInteger", libs->PatternGetInteger);
  resolve(fc, fontconfig, "FcConfigSubstitute", libs->ConfigSubstitute);
  resolve(fc, fontconfig, "FcDefaultSubstitute", libs->DefaultSubstitute);
  resolve(fc, fontconfig, "FcFontMatch", libs->FontMatch);
  if (!ok) return nullptr;
  return libs;
}

}  // namespace lumipage
