#pragma once
// Scanned sides drawn for the tests and benchmarks of blank-page and skew detection: paper of
// any colour with noise and texture, the things that must not count as content (a shadow along
// an edge, punch holes, show-through, dust) and the small marks that must (a pencil note, a page
// number alone, a stamp). Pages can be turned by a known angle, by a rotation of their own,
// independent of the program's.
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "imaging/BitmapGraphic.h"

namespace lumipage::testing {

// What is on the side besides the paper.
enum class TSideMark {
  None,
  FaintText,       // two lines of 7-point text in light grey
  PencilNote,      // a short handwritten scribble in soft grey
  PageNumber,      // "7" alone at the foot, 10 points
  Stamp,           // a red ring with a bar, faded
  SignatureLine,   // a thin 60 mm rule
  Tick,            // a 3 mm ballpoint tick in blue
  TextPage,        // lines of ordinary black text
  Drawing,         // freehand circles and curves, no lines of text
  Photo,           // a smooth picture with soft shapes
  EdgeToEdgeBand,  // a grey band printed across the sheet, edge to edge
  PatchCode,       // a separator sheet: a patch code's four bars (TSideSpec::Patch) and a label
  ThickRules,      // a table: thick and thin rules across, a few millimetres apart
  RuledLines,      // a ruled writing pad: thin lines every 8 mm and a margin rule
  ThickBorder,     // a black frame 5 mm wide printed around the page
};

// What is on a blank side that is no content.
struct TSideFlaws {
  int Noise = 0;              // scanner noise, standard deviation in levels
  int Texture = 0;            // blotchy paper texture, amplitude in levels
  bool ShadowStrip = false;   // a dark gradient along the top edge
  bool DarkFrame = false;     // the scan reaches past the sheet onto a dark lid
  bool PunchHoles = false;    // two holes near the left edge, seen as dark discs
  bool HoleShadows = false;   // two holes seen as grey rings
  int ShowThrough = 0;        // mirrored text from the back, this much darker than the paper
  int Dust = 0;               // this many specks of dust
};

struct TSideSpec {
  int Dpi = 300;
  double WidthMm = 210;
  double HeightMm = 297;
  std::uint32_t Paper = 0xFFFFFF;  // 0x00RRGGBB
  TSideFlaws Flaws;
  TSideMark Mark = TSideMark::None;
  bool Grey = false;           // an 8-bit grey page instead of true colour
  double SkewDegrees = 0;      // lines falling to the right by this much
  std::uint32_t Seed = 1;
  std::string Name;            // for test output
  // With TSideMark::PatchCode: the bars from the leading edge (the top), W wide and N narrow,
  // and how dark they are printed (1: black, 0.4: 40 % black).
  std::string Patch = "NWNW";
  double PatchInk = 1.0;
  // The sheet turned clockwise by this many quarter turns before any skew (fed sideways or
  // upside down); the page's width and height swap with an odd number.
  int QuarterTurns = 0;
};

[[nodiscard]] std::unique_ptr<TBitmapGraphic> DrawSide(const TSideSpec& spec);

// The page in black and white: a pixel is black where its blue channel is below 128.
[[nodiscard]] std::unique_ptr<TBitmapGraphic> AsBlackWhite(const TBitmapGraphic& page);
// Test output names a side by its name.
inline void PrintTo(const TSideSpec& spec, std::ostream* os) { *os << spec.Name; }

// The set of hard cases: sides with a little content and blank sides with every kind of flaw,
// at the given resolutions, in colour and grey, on pages of the given size.
[[nodiscard]] std::vector<TSideSpec> ContentSides(const std::vector<int>& dpis, double widthMm, double heightMm);
[[nodiscard]] std::vector<TSideSpec> BlankSides(const std::vector<int>& dpis, double widthMm, double heightMm);

// The angle, in degrees, at which the rows of dark pixels (below the paper by half) of the page
// at full resolution pile up most sharply, looked for within range of 0 in steps of step: the
// turn that remains on a page, measured without the program's detector.
[[nodiscard]] double MeasuredSkew(const TDibGraphic& page, double range = 1.0, double step = 0.02);

}  // namespace lumipage::testing
