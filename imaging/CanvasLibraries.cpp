#include "imaging/CanvasLibraries.h"

#include <initializer_list>
#include <utility>

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
  platform::TSharedLibrary& ft = libs->freetype_;
  ft.Bind("FT_Init_FreeType", libs->InitFreeType);
  ft.Bind("FT_Done_FreeType", libs->DoneFreeType);
  ft.Bind("FT_New_Face", libs->NewFace);
  ft.Bind("FT_Done_Face", libs->DoneFace);
  ft.Bind("FT_Get_Sfnt_Table", libs->GetSfntTable);
  ft.Bind("FT_Set_Char_Size", libs->SetCharSize);
  ft.Bind("FT_Load_Char", libs->LoadChar);
  platform::TSharedLibrary& fc = libs->fontconfig_;
  fc.Bind("FcPatternCreate", libs->PatternCreate);
  fc.Bind("FcPatternDestroy", libs->PatternDestroy);
  fc.Bind("FcPatternAddString", libs->PatternAddString);
  fc.Bind("FcPatternAddBool", libs->PatternAddBool);
  fc.Bind("FcPatternGetString", libs->PatternGetString);
  fc.Bind("FcPatternGetInteger", libs->PatternGetInteger);
  fc.Bind("FcConfigSubstitute", libs->ConfigSubstitute);
  fc.Bind("FcDefaultSubstitute", libs->DefaultSubstitute);
  fc.Bind("FcFontMatch", libs->FontMatch);
  for (const auto& [library, name] : {std::pair{&ft, freetype}, std::pair{&fc, fontconfig}}) {
    if (library->Missing().empty()) continue;
    problem = std::string("Captions cannot be drawn: ") + name + " lacks " + library->Missing();
    return nullptr;
  }
  return libs;
}

}  // namespace lumipage
