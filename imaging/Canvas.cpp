#include "imaging/Canvas.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include "imaging/CanvasLibraries.h"
#include "imaging/DibGraphic.h"
#include "platform/Interrupt.h"

namespace lumipage {

namespace {

// Character height used for a font height of 0 (the platform's "default size").
constexpr double kDefaultEmPixels = 12.0;

// The font file fontconfig chooses for a face name ("Arial" gives Liberation Sans, its
// metric-compatible replacement). Looked up once per name.
std::pair<std::string, int> FontFileFor(const TCanvasLibraries& fc, const std::string& name) {
  static std::map<std::string, std::pair<std::string, int>> cache;
  if (const auto it = cache.find(name); it != cache.end()) return it->second;
  std::pair<std::string, int> result{"", 0};
  FcPattern* pattern = fc.PatternCreate();
  if (pattern) {
    fc.PatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
    fc.PatternAddBool(pattern, FC_SCALABLE, FcTrue);
    fc.ConfigSubstitute(nullptr, pattern, FcMatchPattern);
    fc.DefaultSubstitute(pattern);
    FcResult res = FcResultNoMatch;
    FcPattern* match = fc.FontMatch(nullptr, pattern, &res);
    if (match) {
      FcChar8* file = nullptr;
      int index = 0;
      if (fc.PatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
        fc.PatternGetInteger(match, FC_INDEX, 0, &index);
        result = {reinterpret_cast<const char*>(file), index};
      }
      fc.PatternDestroy(match);
    }
    fc.PatternDestroy(pattern);
  }
  cache.emplace(name, result);
  return result;
}

// UTF-8 to code points; malformed or truncated sequences become U+FFFD.
std::vector<char32_t> DecodeUtf8(const std::string& text) {
  std::vector<char32_t> out;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    char32_t cp = c;
    if (c >= 0x80) {
      if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
      else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
      else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
      else { out.push_back(0xFFFD); ++i; continue; }
    }
    bool ok = i + extra < n;
    for (std::size_t k = 1; ok && k <= extra; ++k) {
      const auto d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) ok = false;
      else cp = (cp << 6) | (d & 0x3F);
    }
    if (!ok) { out.push_back(0xFFFD); ++i; continue; }
    out.push_back(cp);
    i += 1 + extra;
  }
  return out;
}

}  // namespace

// A FreeType face sized for one font name and height.
class TCanvas::FontFace {
 public:
  FontFace(const std::string& name, std::int32_t height)
      : ft_(TCanvasLibraries::Get()), name_(name), height_(height) {
    if (ft_->InitFreeType(&library_) != 0) throw Exception("Cannot initialise the font engine");
    const auto [file, index] = FontFileFor(*ft_, name);
    if (file.empty() || ft_->NewFace(library_, file.c_str(), index, &face_) != 0) {
      ft_->DoneFreeType(library_);
      throw Exception("Cannot load font \"" + name + "\"");
    }
    // Cell height = ascent + descent from the Windows metrics of the font, as the platform
    // measures a positive font height.
    double ascentUnits = face_->ascender;
    double descentUnits = -face_->descender;
    if (const auto* os2 = static_cast<const TT_OS2*>(ft_->GetSfntTable(face_, FT_SFNT_OS2));
        os2 && os2->usWinAscent + os2->usWinDescent > 0) {
      ascentUnits = os2->usWinAscent;
      descentUnits = os2->usWinDescent;
    }
    const double upem = face_->units_per_EM > 0 ? face_->units_per_EM : 2048;
    double em = kDefaultEmPixels;
    if (height > 0) em = height * upem / (ascentUnits + descentUnits);
    if (height < 0) em = -static_cast<double>(height);
    em = std::clamp(em, 1.0, 8192.0);
    ft_->SetCharSize(face_, 0, static_cast<FT_F26Dot6>(std::lround(em * 64)), 72, 72);
    ascent_ = static_cast<std::int32_t>(std::lround(ascentUnits * em / upem));
    descent_ = static_cast<std::int32_t>(std::lround(descentUnits * em / upem));
    if (height > 0) descent_ = height - ascent_;
  }
  FontFace(const FontFace&) = delete;
  FontFace& operator=(const FontFace&) = delete;
  ~FontFace() {
    ft_->DoneFace(face_);
    ft_->DoneFreeType(library_);
  }

  [[nodiscard]] bool Matches(const std::string& name, std::int32_t height) const {
    return name == name_ && height == height_;
  }
  [[nodiscard]] std::int32_t Ascent() const { return ascent_; }
  [[nodiscard]] std::int32_t CellHeight() const { return ascent_ + descent_; }

  // Loads and renders one glyph as a 1-bit bitmap; false when the font cannot.
  bool Load(char32_t cp) {
    return ft_->LoadChar(face_, cp, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) == 0;
  }
  [[nodiscard]] FT_GlyphSlot Glyph() const { return face_->glyph; }
  [[nodiscard]] std::int32_t Advance() const { return static_cast<std::int32_t>((face_->glyph->advance.x + 32) >> 6); }

 private:
  std::shared_ptr<const TCanvasLibraries> ft_;
  std::string name_;
  std::int32_t height_;
  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
  std::int32_t ascent_ = 0;
  std::int32_t descent_ = 0;
};

TCanvas::TCanvas(TDibGraphic& image) : image_(image) {}
TCanvas::~TCanvas() = default;

TCanvas::FontFace& TCanvas::Face() {
  if (!face_ || !face_->Matches(font_.Name, font_.Height)) {
    face_.reset();
    face_ = std::make_unique<FontFace>(font_.Name, font_.Height);
  }
  return *face_;
}

std::int32_t TCanvas::TextWidth(const std::string& text) {
  FontFace& face = Face();
  std::int32_t width = 0;
  for (const char32_t cp : DecodeUtf8(text))
    if (face.Load(cp)) width += face.Advance();
  return width;
}

std::int32_t TCanvas::TextHeight(const std::string&) { return Face().CellHeight(); }

void TCanvas::TextOut(std::int32_t x, std::int32_t y, const std::string& text) {
  FontFace& face = Face();
  if (brush_.Style == bsSolid) FillRect(x, y, x + TextWidth(text), y + face.CellHeight());
  const std::uint32_t rgb = ColorToRgb(font_.Color);
  const std::int32_t width = image_.Width();
  const std::int32_t height = image_.Height();
  const std::int32_t baseline = y + face.Ascent();
  std::int64_t pen = x;
  for (const char32_t cp : DecodeUtf8(text)) {
    platform::CheckInterrupt();
    if (!face.Load(cp)) continue;
    const FT_GlyphSlot g = face.Glyph();
    const FT_Bitmap& bm = g->bitmap;
    const std::int64_t left = pen + g->bitmap_left;
    const std::int64_t top = static_cast<std::int64_t>(baseline) - g->bitmap_top;
    for (unsigned row = 0; row < bm.rows; ++row) {
      // The caption of a huge page has glyphs of hundreds of rows: a safe point for a time-out.
      if ((row & 255) == 255) platform::CheckInterrupt();
      const std::int64_t py = top + row;
      if (py < 0 || py >= height) continue;
      const unsigned char* bits = bm.buffer + static_cast<std::ptrdiff_t>(row) * bm.pitch;
      for (unsigned col = 0; col < bm.width; ++col) {
        const std::int64_t px = left + col;
        if (px < 0 || px >= width) continue;
        const bool on = bm.pixel_mode == FT_PIXEL_MODE_MONO ? ((bits[col >> 3] >> (7 - (col & 7))) & 1) != 0
                                                            : bits[col] >= 128;
        if (on) image_.SetRgbPixel(static_cast<std::int32_t>(px), static_cast<std::int32_t>(py), rgb);
      }
    }
    pen += face.Advance();
  }
}

void TCanvas::FillRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) {
  if (image_.Empty()) return;
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, image_.Width());
  bottom = std::min(bottom, image_.Height());
  const std::uint32_t rgb = ColorToRgb(brush_.Color);
  for (std::int32_t yy = top; yy < bottom; ++yy) {
    if (((yy - top) & 255) == 255) platform::CheckInterrupt();
    for (std::int32_t xx = left; xx < right; ++xx) image_.SetRgbPixel(xx, yy, rgb);
  }
}

}  // namespace lumipage
