#pragma once
// The entries a page-tree walk needs of one object, read straight from the object's text
// without building its values: walking a long document's tree this way costs little more than
// reading its page dictionaries once.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumipage {

struct TPageTreeEntries {
  // The /Type name; empty when there is none.
  std::string Type;
  // /Kids is an array; each kid is a reference (number, generation).
  bool HasKids = false;
  std::vector<std::pair<int32_t, int32_t>> Kids;
  // /Count is an integer.
  bool HasCount = false;
  int64_t Count = 0;
  // /Parent is a reference.
  bool HasParent = false;
  int32_t ParentNumber = 0;
  int32_t ParentGeneration = 0;
  // /MediaBox is an array of four numbers.
  bool HasMediaBox = false;
};

// Reads the entries from the text that object number/generation has in its file ("n g obj",
// a dictionary, "endobj"). False whenever the parser could read the text any other way or an
// entry is not of the plain kind above: escapes in keys or the type, an entry given twice, an
// entry of another kind (a reference to the kids, a media box of references), a value the
// parser would refuse or read differently (an unclosed string, a stray delimiter), a stream,
// anything but "endobj" after the dictionary. The caller then parses the object in full.
[[nodiscard]] bool ReadPageTreeEntries(std::string_view text, int32_t number, int32_t generation,
                                       TPageTreeEntries& entries);

}  // namespace lumipage
