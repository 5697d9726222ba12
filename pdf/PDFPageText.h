#pragma once
// Invisible text over a page's image (text rendering mode 3), so that the page's words can be
// searched, selected and copied while the page looks as before. The words are given in the
// image's pixels and drawn through the same placement as the image drawn last on the page
// (FitImage), wherever and however large that drew it. One embedded font per document maps every
// character code to one blank glyph and every code back to its Unicode character (ToUnicode), so
// text extraction gives exactly the words given, in any script; horizontal scaling stretches
// each word over its box.
#include <cstdint>
#include <map>
#include <span>
#include <string>

namespace lumipage {

class TPDFIndRef;
class TPDFPageTree;
class TPDFStream;

struct TPageTextWord {
  std::string Text;           // UTF-8
  double X = 0;               // start of the baseline, in image pixels from the top-left corner
  double Y = 0;
  double DirectionX = 1;      // unit vector along the baseline (image pixels, y down)
  double DirectionY = 0;
  double Length = 0;          // the word's extent along the baseline
  double Size = 0;            // its line's height: ascent (0.8) above the baseline, descent (0.2) below
};

inline constexpr double kPageTextAscent = 0.8;
inline constexpr double kPageTextDescent = 0.2;
// The name of the text layer's font in a page's /Resources /Font.
inline constexpr const char* kPageTextFontName = "VelxOcr";

// The font program: a TrueType font with a blank .notdef and one blank glyph, advance 500/1000.
[[nodiscard]] std::string PageTextFontProgram();

class TPDFPageText {
 public:
  explicit TPDFPageText(TPDFPageTree& pages) : pages_(&pages) {}

  // Draws the words over the image that FitImage drew last on the selected page; the image is
  // imageWidth by imageHeight pixels. 0 when no image was drawn on the selected page.
  [[nodiscard]] int DrawWords(std::span<const TPageTextWord> words, int32_t imageWidth, int32_t imageHeight);
  // Writes the font's map back to Unicode (the codes used so far); call once all words are
  // drawn, before saving.
  void Finish();

 private:
  void MakeFont();
  // The two-byte code of a character: itself within the Basic Multilingual Plane, otherwise
  // a code from the surrogate range kept for this document.
  [[nodiscard]] uint16_t CodeOf(char32_t c);

  TPDFPageTree* pages_;
  TPDFIndRef* font_ = nullptr;
  TPDFStream* toUnicode_ = nullptr;
  std::map<char32_t, uint16_t> extraCodes_;
  std::map<uint16_t, char32_t> usedCodes_;  // what the map back to Unicode lists
};

// The Unicode characters of UTF-8 text; malformed bytes give U+FFFD.
[[nodiscard]] std::u32string DecodeUtf8(std::string_view text);

}  // namespace lumipage
