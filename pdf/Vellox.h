#pragma once
// The PDF engine's facade: a list of open documents with one selected, and the document, page,
// image and security calls that act on the selected one. Nothing here throws to the caller:
// calls report through their result (1 success, 0 failure unless noted) and LastErrorCode.
// A caller that goes on whatever a call reported says so with a (void) cast.
// Lengths and positions are in the selected document's measurement units, measured from its
// origin corner.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/PDFCodes.h"

namespace lumipage {

class TPDFDocument;
class TPDFImage;
class TPDFPageTree;

class TVellox {
 public:
  // Opens a blank one-page document (Letter size) and selects its page 1.
  TVellox();
  ~TVellox();
  TVellox(const TVellox&) = delete;
  TVellox& operator=(const TVellox&) = delete;

  // ---- Document list ----
  [[nodiscard]] int DocumentCount() const;
  // The document at a 1-based position, nullptr out of range.
  [[nodiscard]] TPDFDocument* DocumentID(int position) const;
  // 0 when the document is not open here; otherwise selects it (and its first image), 1.
  [[nodiscard]] int SelectDocument(TPDFDocument* document);
  [[nodiscard]] TPDFDocument* SelectedDocument() const;
  // A further blank document, selected with its page 1; nullptr when it cannot be made.
  [[nodiscard]] TPDFDocument* NewDocument();
  // 0 for a document not open here or the only one; otherwise frees it, 1.
  [[nodiscard]] int RemoveDocument(TPDFDocument* document);
  // Loads a PDF as a new, selected document; 0 (list and selection unchanged) on failure.
  [[nodiscard]] int LoadFromFile(const std::string& fileName);
  [[nodiscard]] int LoadFromStream(std::istream& in);
  // Sets ModDate and writes the selected document. The file is replaced only once the whole
  // document is written: a failed save leaves an existing file as it was.
  [[nodiscard]] int SaveToFile(const std::string& fileName);
  // Looks at a written file before it replaces the target: given the temporary file's name,
  // says what is wrong with it (empty when nothing is).
  using SaveCheck = std::function<std::string(const std::string& temporaryName)>;
  // SaveToFile, with the target replaced only when check finds nothing wrong; otherwise 0, the
  // target as it was, and SaveCheckFailure says what the check found.
  [[nodiscard]] int SaveToFile(const std::string& fileName, const SaveCheck& check);
  // What the check of the last save found; empty when it found nothing or did not run.
  [[nodiscard]] const std::string& SaveCheckFailure() const { return saveCheckFailure_; }
  // After a SaveToFile that failed for a reason of the system (a full disk, no permission), that
  // reason as the system words it ("No space left on device"); empty otherwise.
  [[nodiscard]] const std::string& SaveSystemError() const { return saveSystemError_; }
  [[nodiscard]] std::string LibraryVersion();
  // Saves of the selected document write PDF/A (part 1, or the part an appended file claims),
  // level B: metadata, output intent and identifier are made as it is saved. 0 turns it off.
  // 0 (nothing changed) for a protected document or a part outside 0 to 3.
  [[nodiscard]] int SetPdfA(int part);
  // 0 none; 101-104 Encrypt; 201, 202 SetInformation; kErrorTooLarge SaveToFile.
  [[nodiscard]] int LastErrorCode() const { return ErrorCode(lastError_); }
  // The number callers see for an engine error.
  [[nodiscard]] static int ErrorCode(TPDFError error);
  // SaveToFile: the document is larger than a PDF's cross-reference table can address (an
  // object would start past 9,999,999,999 bytes); nothing was written.
  static constexpr int kErrorTooLarge = 301;

  // ---- Document information ----
  // Key 0 header version ("1.0" to "1.5"); 1 Author, 2 Title, 3 Subject, 4 Keywords,
  // 5 Creator, 6 Producer (empty text removes the entry). 1 when the entry reads back equal.
  [[nodiscard]] int SetInformation(int key, std::string_view value);
  // As SetInformation, and 7 CreationDate, 8 ModDate; empty for other keys.
  [[nodiscard]] std::string GetInformation(int key);
  // 1 when the document already has the entry of that key (1 to 8 as GetInformation), whatever
  // its value and whether or not it can be read; 0 otherwise.
  [[nodiscard]] int InformationPresent(int key);

  // ---- Pages and geometry ----
  [[nodiscard]] int PageCount();
  // Appends count pages (1 to 99999) of the selected page's size and selects the first new one;
  // the new page count, or 0.
  [[nodiscard]] int NewPages(int count);
  // 1 when that page is now selected; otherwise the current page stays selected, 0.
  [[nodiscard]] int SelectPage(int pageNumber);
  [[nodiscard]] int SelectedPage() const;
  // A named paper size (LETTER, A4, ... optionally with LANDSCAPE) for the selected page.
  [[nodiscard]] int SetPageSize(std::string_view name);
  [[nodiscard]] int SetPageDimensions(double width, double height);
  [[nodiscard]] double PageWidth();
  [[nodiscard]] double PageHeight();
  // Box 1 MediaBox, 2 CropBox, 3 BleedBox, 4 TrimBox, 5 ArtBox; value 0 left, 1 top, 2 width,
  // 3 height, 4 right, 5 bottom. 0 for anything out of range.
  [[nodiscard]] double GetPageBox(int boxType, int valueIndex);
  // 0 bottom-left, 1 top-left, 2 top-right, 3 bottom-right. Always 1.
  [[nodiscard]] int SetOrigin(int origin);
  [[nodiscard]] int GetOrigin() const;
  // 0 points, 1 millimetres, 2 inches. Always 1.
  [[nodiscard]] int SetMeasurementUnits(int units);
  // Points per user unit; 0 (nothing changed) for a zero or non-finite value.
  [[nodiscard]] int SetScale(double pointsPerUnit);
  [[nodiscard]] int MultiplyScale(double factor);

  // ---- Images ----
  // JPEG and CCITT-coded TIFF files are embedded as they are. option: page of a multi-page TIFF.
  // The new image becomes the selected image; nullptr when the file is not a usable image.
  [[nodiscard]] TPDFImage* AddImageFromFile(const std::string& fileName, int option);
  // Draws the selected image into the box, keeping its aspect ratio. hAlign 0 left, 1 centre,
  // 2 right; vAlign 0 top, 1 middle, 2 bottom; rotation 0 none, 1 90 anticlockwise,
  // 2 90 clockwise, 3 180.
  [[nodiscard]] int FitImage(double left, double top, double width, double height, int hAlign, int vAlign, int rotation);
  // Flate-compresses the content streams of every page (CompressPage: of the selected page).
  [[nodiscard]] int CompressContent();
  [[nodiscard]] int CompressPage();
  [[nodiscard]] int CompressImages(int compress);
  [[nodiscard]] TPDFImage* SelectedImage() const { return selectedImage_; }

  // ---- Security ----
  // 3 unprotected, 4 unsupported; 5 user and owner, 1 user, 2 owner password, 0 neither.
  [[nodiscard]] int SetPassword(std::string_view password);
  // Removes the protection of an opened document and re-selects the current page.
  [[nodiscard]] int Unencrypt();
  // strength 0: RC4 40 bits, 1: RC4 128 bits, 2: AES-256; permissions from Permissions.
  [[nodiscard]] int Encrypt(std::string_view owner, std::string_view user, int strength, int32_t permissions);
  [[nodiscard]] int32_t Permissions(int print, int copy, int modify, int annotate, int fillForms, int extract,
                                    int assemble, int printHighQuality) const;
  // 0 unprotected, 1 standard security, 2 other protection.
  [[nodiscard]] int Encrypted();
  // Key length in bits; 0 unprotected.
  [[nodiscard]] int EncryptionStrength();

  // The selected document's page tree (pages, geometry settings and images).
  [[nodiscard]] TPDFPageTree& Pages() const;

 private:
  struct Entry;
  [[nodiscard]] std::unique_ptr<Entry> MakeBlankDocument();
  [[nodiscard]] Entry* Find(const TPDFDocument* document) const;
  void Select(Entry* entry);

  std::vector<std::unique_ptr<Entry>> documents_;
  Entry* selected_ = nullptr;
  TPDFImage* selectedImage_ = nullptr;
  TPDFError lastError_ = TPDFError::None;
  std::string saveCheckFailure_;
  std::string saveSystemError_;
  std::string tempFolder_;
};

}  // namespace lumipage
