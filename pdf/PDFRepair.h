#pragma once
// Reading files as they are written rather than as they should be: the object headers and
// trailers found by scanning the file (from which the loader rebuilds the object table when the
// cross-reference data cannot be trusted), and the page tree walked (never trusting /Count) and
// rebuilt from the page objects found when it is broken.
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace lumipage {

class TPDFDictionary;
class TPDFDocument;
class TPDFIndRef;
class TPDFObject;

// One "n g obj" header found in the file text.
struct TScannedObject {
  int32_t Number = 0;
  int32_t Generation = 0;
  int64_t Offset = 0;  // of the first digit of the number
};
// Every object header of the file, in file order.
[[nodiscard]] std::vector<TScannedObject> ScanObjectHeaders(std::string_view file);
// Offsets of the "trailer" keywords of the file, in file order.
[[nodiscard]] std::vector<int64_t> ScanTrailers(std::string_view file);
// Whether "n g obj" stands at offset (after whitespace).
[[nodiscard]] bool ObjectHeaderAt(std::string_view file, int64_t offset, int32_t number, int32_t generation);

// One page found by walking the tree: its dictionary, the node holding it in /Kids, and its
// object number and generation.
struct TWalkedPage {
  TPDFDictionary* Page = nullptr;
  TPDFDictionary* Parent = nullptr;
  int32_t Number = 0;
  int32_t Generation = 0;
};
// Walks the page tree below root in page order, with loop and depth limits. A node is
// anything with /Kids (or /Type /Pages); a page anything else of /Type /Page or without /Type.
// Each node's /Count is set to the pages found below it where it differs. A kid written as a
// direct dictionary is made an indirect object by makeIndirect (which returns the reference that
// replaces it in /Kids); without makeIndirect, or when it returns nullptr, it is skipped. With
// makeIndirect, a kid that is no dictionary (a missing object) is taken out of /Kids.
void WalkPageTree(TPDFDictionary* root, std::vector<TWalkedPage>& pages,
                  const std::function<TPDFIndRef*(TPDFObject*)>& makeIndirect = {});
// The makeIndirect for WalkPageTree that adds direct kids to document as new objects (none for a
// protected document).
[[nodiscard]] std::function<TPDFIndRef*(TPDFObject*)> DirectKidMaker(TPDFDocument& document);

// Rebuilds a broken tree: every object of /Type /Page in the document, in object-number
// order, becomes a kid of root, taking over what it inherited from its old ancestors. Returns
// the number of pages it holds then.
int RebuildPageTree(TPDFDocument& document, TPDFDictionary* root);

}  // namespace lumipage
