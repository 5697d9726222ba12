#pragma once
// The pages of one document: finding them by number through the /Pages tree, one selected page
// with the content stream the engine draws into, new pages, page sizes, and the geometry
// settings (measurement unit and origin corner) that callers' coordinates are given in. Inside,
// every length is in points and every position is measured from the bottom-left corner.
// It also keeps the document's images, which pages refer to from their resources.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "pdf/PDFLimits.h"
#include "pdf/PDFPainter.h"

namespace lumipage {

class TPDFArray;
class TPDFDictionary;
class TPDFDocument;
class TPDFImage;
class TPDFIndRef;
class TPDFObject;
class TPDFStream;
class TPDFStructure;

// Pages one NewPages call may add.
inline constexpr int kMaxNewPages = 99999;
// An engine content stream is drawn into further only up to this decoded size.
inline constexpr size_t kMaxReusedContentSize = 500000;
// The name an engine content stream carries under /LC.
inline constexpr std::string_view kEngineStreamMark = "Velx";

// Unit factors: user units per point.
inline constexpr double kUnitPoints = 1.0;
inline constexpr double kUnitMillimetres = 0.3527777777777778;  // 25.4 / 72, correctly rounded
inline constexpr double kUnitInches = 0.013888888888888888;     // 1 / 72

class TPDFPageTree {
 public:
  explicit TPDFPageTree(TPDFDocument& document);
  ~TPDFPageTree();
  TPDFPageTree(const TPDFPageTree&) = delete;
  TPDFPageTree& operator=(const TPDFPageTree&) = delete;

  [[nodiscard]] TPDFDocument& Document() const { return *document_; }
  [[nodiscard]] TPDFStructure& Store() const;

  // ---- Pages ----
  // The pages found by walking the tree from the root node (its /Count is not trusted).
  [[nodiscard]] int PageCount();
  // The page dictionary of page n (1-based), nullptr when there is none.
  [[nodiscard]] TPDFDictionary* FindPage(int n);
  // Selects page n (an out-of-range n re-selects the current page); 1 when page n is selected.
  [[nodiscard]] int SelectPage(int n);
  [[nodiscard]] int SelectedPage() const { return selectedNumber_; }
  [[nodiscard]] TPDFDictionary* SelectedPageDictionary() const { return page_; }
  // Drops every cached page (the tree was changed behind the page tree's back).
  void ClearCache();
  // Adds count pages after the last one, of the selected page's size, and selects the first
  // new page: the new page count, or 0 (nothing changed for a count below 1 or above
  // kMaxNewPages).
  [[nodiscard]] int NewPages(int count);
  // Inserts count pages of width by height points at position (1 to PageCount + 1) and
  // selects that position.
  void InsertPages(int count, int position, double width, double height);

  // ---- Sizes in points ----
  [[nodiscard]] double Width();
  [[nodiscard]] double Height();
  void SetWidth(double points);
  void SetHeight(double points);
  // A named paper size, with LANDSCAPE anywhere in the name for the turned size: 1 when the
  // name is known.
  [[nodiscard]] int SetPageSize(std::string_view name);

  // ---- Geometry in user units ----
  // 1 when the page now measures exactly width by height; otherwise the old size stays, 0.
  [[nodiscard]] int SetPageDimensions(double width, double height);
  [[nodiscard]] double PageWidth() { return Width() * unitFactor_; }
  [[nodiscard]] double PageHeight() { return Height() * unitFactor_; }
  [[nodiscard]] double GetPageBox(int boxType, int valueIndex);
  // Out-of-range codes select 0.
  void SetOrigin(int origin) { origin_ = origin >= 0 && origin <= 3 ? origin : 0; }
  [[nodiscard]] int Origin() const { return origin_; }
  void SetMeasurementUnits(int units);
  // false (nothing changed) for a zero or non-finite value.
  [[nodiscard]] bool SetScale(double pointsPerUnit);
  [[nodiscard]] bool MultiplyScale(double factor);
  [[nodiscard]] double UnitFactor() const { return unitFactor_; }
  // User coordinates to points from the bottom-left corner.
  [[nodiscard]] double HorizontalToPoints(double x);
  [[nodiscard]] double VerticalToPoints(double y);

  // ---- Content ----
  // The selected page's resource dictionary, made when the page and its parent have none.
  [[nodiscard]] TPDFDictionary* Resources();
  [[nodiscard]] TPDFPainter& Painter() { return painter_; }
  [[nodiscard]] const std::vector<TPDFStream*>& ContentStreams() const { return streams_; }
  // Stores text (with a final line feed) as the data of the last content stream, uncompressed.
  void StoreText(const std::string& text);
  // A new empty content stream marked as the engine's own, registered.
  [[nodiscard]] TPDFIndRef* NewEngineStream();
  // Makes value a new indirect object of the document. In a protected document it is written
  // encrypted like every other object.
  TPDFIndRef* Register(TPDFObject* value);

  // ---- Images ----
  [[nodiscard]] std::vector<std::unique_ptr<TPDFImage>>& Images() { return images_; }
  // The running count of images added (resource names are made from it).
  [[nodiscard]] int32_t NextImageNumber() { return ++imageCount_; }
  // 0 or 1: whether images decoded to pixels are Flate-compressed.
  int CompressImages = 0;

  // On: the writer may draw into a last content stream that the engine did not make.
  bool ForeignStreams = false;

  // Where FitImage drew last: the matrix that maps the image's unit square to points from the
  // page's bottom-left corner, and the page it drew on (0: none yet).
  double ImageMatrix[6] = {0, 0, 0, 0, 0, 0};
  int ImageMatrixPage = 0;

  // /Rotate of the selected page: its clockwise turn for display (0, 90, 180, 270).
  void SetRotation(int degrees);

 private:
  struct CachedPage {
    TPDFDictionary* Page = nullptr;
    TPDFDictionary* Parent = nullptr;
    int32_t Number = 0;  // object number and generation of the page
    int32_t Generation = 0;
  };

  [[nodiscard]] TPDFDictionary* Root();
  // Walks the tree once into pages_; ClearCache makes the next call walk again.
  void Walk();
  [[nodiscard]] bool Lookup(int n, CachedPage& found);
  // Width (index 0) or height (index 1) of the selected page's /MediaBox.
  [[nodiscard]] double Dimension(int index);
  void SetDimension(int index, double points);
  void DefaultSize(double& width, double& height);
  void PrepareContents();
  [[nodiscard]] TPDFDictionary* NewPage(TPDFDictionary* parent, double width, double height);
  // The box of that name on the page or the nearest ancestor holding one.
  [[nodiscard]] TPDFObject* InheritedEntry(std::string_view key);

  TPDFDocument* document_;
  std::vector<CachedPage> pages_;
  bool walked_ = false;
  int selectedNumber_ = 0;
  TPDFDictionary* page_ = nullptr;
  TPDFDictionary* parent_ = nullptr;
  std::vector<TPDFStream*> streams_;
  TPDFPainter painter_;
  double cachedSize_[2] = {0, 0};
  bool cachedValid_[2] = {false, false};

  double unitFactor_ = kUnitPoints;
  int origin_ = 0;

  std::vector<std::unique_ptr<TPDFImage>> images_;
  int32_t imageCount_ = 0;
};

}  // namespace lumipage
