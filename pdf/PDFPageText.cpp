#include "pdf/PDFPageText.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "pdf/PDFPageTree.h"
#include "pdf/PDFStructure.h"
#include "platform/ByteOrder.h"

namespace lumipage {

namespace {

constexpr uint16_t kUnitsPerEm = 1000;
constexpr int kAdvance = 500;  // of the one glyph, in font units
constexpr uint16_t kFirstExtraCode = 0xD800;  // surrogates never stand for themselves
constexpr uint16_t kLastExtraCode = 0xDFFF;
constexpr const char* kFontBaseName = "LumipageText";

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>((v >> 8) & 0xFF);
  out += static_cast<char>(v & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v >> 16);
  Put16(out, v & 0xFFFF);
}

uint32_t TableChecksum(const std::string& data) {
  uint32_t sum = 0;
  for (size_t i = 0; i < data.size(); i += 4) {
    char word[4] = {};  // the last word padded with zeros
    data.copy(word, 4, i);
    sum += platform::LoadBE32(word);
  }
  return sum;
}

// Numbers for content streams: fixed decimals, trailing zeros dropped.
std::string Number(double v, int decimals) {
  if (!std::isfinite(v)) v = 0;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  std::string s = buf;
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

void AppendHex16(std::string& out, uint32_t v) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(v >> shift) & 0xF];
}

// UTF-16BE of one character, in hexadecimal.
std::string Utf16Hex(char32_t c) {
  std::string out;
  if (c >= 0x10000) {
    const uint32_t v = static_cast<uint32_t>(c) - 0x10000;
    AppendHex16(out, 0xD800 + (v >> 10));
    AppendHex16(out, 0xDC00 + (v & 0x3FF));
  } else {
    AppendHex16(out, static_cast<uint32_t>(c));
  }
  return out;
}

}  // namespace

std::u32string DecodeUtf8(std::string_view text) {
  std::u32string out;
  size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<uint8_t>(text[i]);
    int extra = 0;
    char32_t c = 0;
    char32_t least = 0;
    if (b < 0x80) {
      c = b;
    } else if ((b & 0xE0) == 0xC0) {
      extra = 1, c = b & 0x1F, least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2, c = b & 0x0F, least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3, c = b & 0x07, least = 0x10000;
    } else {
      out += U'\uFFFD';
      ++i;
      continue;
    }
    size_t k = 1;
    for (; k <= static_cast<size_t>(extra); ++k) {
      if (i + k >= text.size() || (static_cast<uint8_t>(text[i + k]) & 0xC0) != 0x80) break;
      c = (c << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
    }
    if (k <= static_cast<size_t>(extra) || c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out += U'\uFFFD';
      i += k;  // the lead byte and the continuation bytes read so far
      continue;
    }
    out += c;
    i += k;
  }
  return out;
}

// A TrueType font (Apple's TrueType Reference Manual / OpenType "sfnt" layout) with glyph 0
// (.notdef) and glyph 1, both without outlines, 1000 units per em, ascent 800, descent 200.
std::string PageTextFontProgram() {
  constexpr int kGlyphs = 2;
  std::string head;
  Put32(head, 0x00010000);  // version
  Put32(head, 0x00010000);  // font revision
  Put32(head, 0);           // checksum adjustment, set below
  Put32(head, 0x5F0F3CF5);  // magic number
  Put16(head, 0x000B);      // baseline at y 0, left side bearing at x 0, integer scaling
  Put16(head, kUnitsPerEm);
  for (int i = 0; i < 4; ++i) Put32(head, 0);  // created, modified
  Put16(head, 0);
  Put16(head, static_cast<uint16_t>(-200));
  Put16(head, kAdvance);
  Put16(head, 800);
  Put16(head, 0);  // mac style
  Put16(head, 8);  // smallest readable size
  Put16(head, 2);  // direction hint
  Put16(head, 0);  // short offsets in loca
  Put16(head, 0);  // glyph data format

  std::string hhea;
  Put32(hhea, 0x00010000);
  Put16(hhea, 800);
  Put16(hhea, static_cast<uint16_t>(-200));
  Put16(hhea, 0);         // line gap
  Put16(hhea, kAdvance);  // widest advance
  Put16(hhea, 0);
  Put16(hhea, 0);
  Put16(hhea, kAdvance);  // widest extent
  Put16(hhea, 1);         // caret slope rise
  Put16(hhea, 0);
  Put16(hhea, 0);
  for (int i = 0; i < 4; ++i) Put16(hhea, 0);
  Put16(hhea, 0);  // metric data format
  Put16(hhea, kGlyphs);

  std::string maxp;
  Put32(maxp, 0x00010000);
  Put16(maxp, kGlyphs);
  for (int i = 0; i < 4; ++i) Put16(maxp, 0);  // points, contours, composite points and contours
  Put16(maxp, 2);                              // zones
  for (int i = 0; i < 8; ++i) Put16(maxp, 0);

  std::string hmtx;
  for (int i = 0; i < kGlyphs; ++i) {
    Put16(hmtx, kAdvance);
    Put16(hmtx, 0);
  }
  std::string loca;
  for (int i = 0; i <= kGlyphs; ++i) Put16(loca, 0);  // every glyph empty
  const std::string glyf(4, '\0');

  // A Windows Unicode map with the one segment the format requires (U+FFFF, unmapped).
  std::string cmap;
  Put16(cmap, 0);
  Put16(cmap, 1);
  Put16(cmap, 3);
  Put16(cmap, 1);
  Put32(cmap, 12);
  Put16(cmap, 4);   // format
  Put16(cmap, 24);  // length
  Put16(cmap, 0);   // language
  Put16(cmap, 2);   // segments * 2
  Put16(cmap, 2);   // search range
  Put16(cmap, 0);   // entry selector
  Put16(cmap, 0);   // range shift
  Put16(cmap, 0xFFFF);
  Put16(cmap, 0);
  Put16(cmap, 0xFFFF);
  Put16(cmap, 1);
  Put16(cmap, 0);

  std::string post;
  Put32(post, 0x00030000);  // no glyph names
  Put32(post, 0);           // italic angle
  Put16(post, static_cast<uint16_t>(-100));
  Put16(post, 50);
  Put32(post, 1);  // fixed pitch
  for (int i = 0; i < 4; ++i) Put32(post, 0);

  const std::pair<const char*, const std::string*> tables[] = {{"cmap", &cmap}, {"glyf", &glyf}, {"head", &head},
                                                               {"hhea", &hhea}, {"hmtx", &hmtx}, {"loca", &loca},
                                                               {"maxp", &maxp}, {"post", &post}};
  constexpr uint16_t kTables = 8;
  std::string font;
  Put32(font, 0x00010000);
  Put16(font, kTables);
  Put16(font, 128);  // search range: 16 * largest power of two <= tables
  Put16(font, 3);
  Put16(font, kTables * 16 - 128);
  uint32_t offset = 12 + 16 * kTables;
  uint32_t headOffset = 0;
  std::string body;
  for (const auto& [tag, data] : tables) {
    font.append(tag, 4);
    Put32(font, TableChecksum(*data));
    Put32(font, offset);
    Put32(font, static_cast<uint32_t>(data->size()));
    if (data == &head) headOffset = offset;
    std::string padded = *data;
    padded.resize((padded.size() + 3) / 4 * 4, '\0');
    body += padded;
    offset += static_cast<uint32_t>(padded.size());
  }
  font += body;
  const uint32_t adjustment = 0xB1B0AFBAu - TableChecksum(font);
  for (int i = 0; i < 4; ++i) font[headOffset + 8 + i] = static_cast<char>((adjustment >> (24 - 8 * i)) & 0xFF);
  return font;
}

uint16_t TPDFPageText::CodeOf(char32_t c) {
  uint16_t code = 0xFFFD;
  if (c < 0x10000 && (c < kFirstExtraCode || c > kLastExtraCode)) {
    code = static_cast<uint16_t>(c);
  } else if (auto it = extraCodes_.find(c); it != extraCodes_.end()) {
    code = it->second;
  } else if (extraCodes_.size() <= static_cast<size_t>(kLastExtraCode - kFirstExtraCode)) {
    code = static_cast<uint16_t>(kFirstExtraCode + extraCodes_.size());
    extraCodes_.emplace(c, code);
  } else {
    c = 0xFFFD;  // more characters beyond the plane than codes kept for them
  }
  usedCodes_.emplace(code, c);
  return code;
}

void TPDFPageText::MakeFont() {
  TPDFStructure& s = pages_->Store();
  const std::string program = PageTextFontProgram();
  TPDFStream* file = s.MakeStream("");
  file->SetData(program, true);
  file->Dictionary()->Put("Length1", s.MakeNumber(static_cast<double>(program.size())));

  TPDFDictionary* descriptor = s.MakeDictionary();
  descriptor->Put("Type", s.CommonName("FontDescriptor"));
  descriptor->Put("FontName", s.MakeName(kFontBaseName));
  descriptor->Put("Flags", s.MakeNumber(5));  // fixed pitch, symbolic
  static constexpr int32_t kBox[] = {0, -200, kAdvance, 800};
  descriptor->Put("FontBBox", s.MakeIntegerArray(kBox, 3));
  descriptor->Put("ItalicAngle", s.MakeNumber(0));
  descriptor->Put("Ascent", s.MakeNumber(800));
  descriptor->Put("Descent", s.MakeNumber(-200));
  descriptor->Put("CapHeight", s.MakeNumber(700));
  descriptor->Put("StemV", s.MakeNumber(80));
  descriptor->Put("FontFile2", pages_->Register(file));

  // Every code to glyph 1.
  std::string gids;
  gids.reserve(2 * 65536);
  for (int i = 0; i < 65536; ++i) gids += std::string("\x00\x01", 2);
  TPDFStream* map = s.MakeStream("");
  map->SetData(gids, true);

  TPDFDictionary* system = s.MakeDictionary();
  system->Put("Registry", s.MakeString("Adobe"));
  system->Put("Ordering", s.MakeString("Identity"));
  system->Put("Supplement", s.MakeNumber(0));

  TPDFDictionary* cidFont = s.MakeDictionary();
  cidFont->Put("Type", s.CommonName("Font"));
  cidFont->Put("Subtype", s.CommonName("CIDFontType2"));
  cidFont->Put("BaseFont", s.MakeName(kFontBaseName));
  cidFont->Put("CIDSystemInfo", system);
  cidFont->Put("FontDescriptor", pages_->Register(descriptor));
  cidFont->Put("DW", s.MakeNumber(kAdvance));
  cidFont->Put("CIDToGIDMap", pages_->Register(map));

  toUnicode_ = s.MakeStream("");
  TPDFDictionary* font = s.MakeDictionary();
  font->Put("Type", s.CommonName("Font"));
  font->Put("Subtype", s.CommonName("Type0"));
  font->Put("BaseFont", s.MakeName(kFontBaseName));
  font->Put("Encoding", s.CommonName("Identity-H"));
  TPDFObject* descendants[] = {pages_->Register(cidFont)};
  font->Put("DescendantFonts", s.MakeArray(descendants, 0));
  font->Put("ToUnicode", pages_->Register(toUnicode_));
  font_ = pages_->Register(font);
  Finish();  // a valid map from the start, completed by the last Finish
}

void TPDFPageText::Finish() {
  if (toUnicode_ == nullptr) return;
  std::string cmap =
      "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
      "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
      "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
      "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
  // One entry per code used (readers differ in how they read ranges; single codes they all read).
  std::vector<std::pair<uint16_t, char32_t>> used(usedCodes_.begin(), usedCodes_.end());
  for (size_t i = 0; i < used.size(); i += 100) {
    const size_t n = std::min<size_t>(100, used.size() - i);
    cmap += std::to_string(n) + " beginbfchar\n";
    for (size_t k = i; k < i + n; ++k) {
      std::string code;
      AppendHex16(code, used[k].first);
      cmap += "<" + code + "> <" + Utf16Hex(used[k].second) + ">\n";
    }
    cmap += "endbfchar\n";
  }
  cmap += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
  toUnicode_->SetData(cmap, true);
}

int TPDFPageText::DrawWords(std::span<const TPageTextWord> words, int32_t imageWidth, int32_t imageHeight) {
  if (pages_->SelectedPageDictionary() == nullptr || pages_->ImageMatrixPage != pages_->SelectedPage() ||
      imageWidth <= 0 || imageHeight <= 0)
    return 0;
  std::string text;
  for (const TPageTextWord& w : words) {
    const std::u32string chars = DecodeUtf8(w.Text);
    if (chars.empty() || !(w.Size > 0) || !(w.Length > 0) || !std::isfinite(w.X) || !std::isfinite(w.Y)) continue;
    const double norm = std::hypot(w.DirectionX, w.DirectionY);
    if (!(norm > 0)) continue;
    if (font_ == nullptr) MakeFont();
    const double ux = w.DirectionX / norm, uy = w.DirectionY / norm;
    // The glyphs' natural extent at this size, stretched to the word's length.
    const double natural = static_cast<double>(chars.size()) * kAdvance / kUnitsPerEm * w.Size;
    text += Number(100 * w.Length / natural, 3) + " Tz\n";
    // In the image's pixels y grows downwards: the glyphs' up is the baseline turned back.
    const double size = w.Size;
    text += Number(ux * size, 4) + " " + Number(uy * size, 4) + " " + Number(uy * size, 4) + " " +
            Number(-ux * size, 4) + " " + Number(w.X, 3) + " " + Number(w.Y, 3) + " Tm\n<";
    for (char32_t c : chars) AppendHex16(text, CodeOf(c));
    text += "> Tj\n";
  }
  if (text.empty()) return 1;

  TPDFStructure& s = pages_->Store();
  TPDFDictionary* resources = pages_->Resources();
  if (resources == nullptr) return 0;
  TPDFDictionary* fonts = nullptr;
  if (TPDFObject* entry = resources->Get("Font")) {
    if (auto* ref = As<TPDFIndRef>(entry)) entry = ref->Resolve();
    fonts = As<TPDFDictionary>(entry);
  }
  if (fonts == nullptr) {
    fonts = s.MakeDictionary();
    resources->Put("Font", fonts);
  }
  fonts->Put(kPageTextFontName, s.MakeReference(font_->ObjectNumber(), font_->Generation()));

  // Image pixels (y down) to page points, through the image's own placement.
  const double* m = pages_->ImageMatrix;
  const double sx = 1.0 / imageWidth, sy = 1.0 / imageHeight;
  const double cm[6] = {m[0] * sx, m[1] * sx, -m[2] * sy, -m[3] * sy, m[2] + m[4], m[3] + m[5]};
  std::string line = "q\n";
  for (double v : cm) line += Number(v, 6) + " ";
  line += "cm\nBT\n3 Tr\n/" + std::string(kPageTextFontName) + " 1 Tf\n";
  TPDFPainter& painter = pages_->Painter();
  painter.AppendText(line);
  painter.AppendText(text);
  painter.AppendLine("ET\nQ");
  painter.Store();
  return 1;
}

}  // namespace lumipage
