#pragma once
// The check a written PDF passes before it may replace the file it was made from: read back
// with the engine's own reader, without repair, it must hold what the save put into it.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace lumipage {

struct TSavedPdfExpectation {
  // Opens the file when it is protected.
  std::string Password;
  // The file must be protected (and open with Password).
  bool Protected = false;
  // Pages the file must hold, counted by walking its page tree.
  int PageCount = 0;
  // The last pages are the save's own, one entry each in page order: the width and height in
  // pixels of the image the page must paint (0 x 0: any image).
  std::vector<std::pair<int32_t, int32_t>> NewPageImages;
  // Old pages (numbered from 1) that had no media box in the file they come from: they may
  // still have none, since readers give such a page their default size.
  std::vector<int> PagesWithoutMediaBox;
  // The file must be PDF/A as the save made it: identifier, unfiltered metadata that claims
  // level B and repeats the Info dictionary, an output intent with a colour profile.
  bool Pdfa = false;
};

class TPDFDocument;
class TPDFDictionary;
// The page has a media box of four numbers, its own or the nearest ancestor's: the save
// check's reading.
[[nodiscard]] bool PageHasMediaBox(TPDFDocument& doc, TPDFDictionary* page);

// Reads the file and checks it against what the save meant to write: it reads without repair
// (and opens with the password), its page tree holds PageCount pages and says so in its /Count,
// every page is a dictionary with a media box (its own or inherited; old pages listed in
// PagesWithoutMediaBox may lack one), each new page paints its image, and a PDF/A file
// holds its PDF/A parts. Empty when all holds; otherwise what failed, as a phrase ("it has 4 pages instead
// of 5"). Only what a check needs is parsed, so a long document costs little more than reading
// its page dictionaries.
[[nodiscard]] std::string CheckSavedPdf(const std::string& fileName, const TSavedPdfExpectation& expected);
// The same for bytes in memory.
[[nodiscard]] std::string CheckSavedPdfBytes(std::string bytes, const TSavedPdfExpectation& expected);

}  // namespace lumipage
