#pragma once
// The job's pages: the names their files take, the table of pages stored and the pages whose
// files are still being put in place. One store per job, owned by the job controller.
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/JobSettings.h"
#include "imaging/BitmapGraphic.h"
#include "imaging/PageInk.h"
#include "imaging/TiffAppend.h"

namespace lumipage {

// One page of the job as saved.
struct TImageProps {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int32_t Dpi = 0;      // horizontal dots per inch, used for both directions
  std::string PageFile;      // empty for pages appended to a multi-page TIFF
  int Side = 0;              // the job's page number: its place among the sides this job scanned
};

// One document of a job split by separator sheets: a run of the job's pages.
struct TDocument {
  int FirstPage = 0;  // page numbers in the page table
  int LastPage = 0;
  // The document's own file (PDF and multi-page TIFF); empty for page files.
  std::string File;
  bool Saved = false;  // its PDF is written
};

// The front of a duplex sheet held until its back shows whether the sheet is a separator.
struct THeldSide {
  std::unique_ptr<TBitmapGraphic> Page;
  std::uint16_t XRes = 0, YRes = 0;
  int Side = 0;
  std::optional<TPageInk> Ink;  // measured by the separator check
};

class TPageStore {
 public:
  // The names follow the settings as they stand when asked (the job loads them after it starts).
  explicit TPageStore(const TJobSettings& settings) : settings_(settings) {}
  TPageStore(const TPageStore&) = delete;
  TPageStore& operator=(const TPageStore&) = delete;

  [[nodiscard]] std::string PageBaseName(int n) const;
  [[nodiscard]] std::string PageFileName(int n) const { return PageBaseName(n) + settings_.Extension; }
  [[nodiscard]] std::string MultiTiffFileName() const;
  [[nodiscard]] std::string PdfFileName() const;
  // The job is split into documents by separator sheets.
  [[nodiscard]] bool Split() const { return settings_.Separator != TSeparator::None; }
  // The file of document number of a split job: the PDF or multi-page TIFF name with "-NNN".
  [[nodiscard]] std::string NumberedDocumentName(int number) const;

  // A separator sheet ends the document being stored; the next page stored starts a new one,
  // named after text when the job names documents by barcode.
  void EndDocument(const std::string& text);
  // Page n was stored: it joins the open document or starts the next one (and names its file).
  void AddToDocument(int n);
  // The document being stored, nullptr when none is open.
  [[nodiscard]] TDocument* OpenDocument();
  // Pages counted as stored only go back out of the documents too.
  void TrimDocuments();

  // The record of page n (from 1); the table grows as pages arrive.
  TImageProps& PageRecord(int n);
  [[nodiscard]] const std::vector<TImageProps>& PageTable() const { return table_; }
  // Those of the sides (job's page numbers) whose pages are stored now.
  [[nodiscard]] std::vector<int> StoredSides(const std::vector<int>& sides) const;

  // Pages stored so far; the last page's number.
  std::int32_t LastPageNo = 0;
  // Sides the scanner delivered in this job, stored or not; the job's page numbers count them.
  int SidesScanned = 0;
  // Sides dropped as blank, and sides straightened, by the job's page numbers.
  std::vector<int> BlankSides;
  std::vector<int> DeskewedSides;
  // Pages whose files the helper thread is still flushing and putting in place (or, appended
  // to a multi-page file, flushing), oldest first.
  std::deque<int> InFlight;
  // The page appended to the multi-page file and not linked in yet, and the chain it continues.
  TTiffAppend TiffAppend;
  // The documents a split job stored, in order; one is open while its pages arrive.
  std::vector<TDocument> Documents;
  // Sides whose barcode could not be decoded, by the job's page numbers.
  std::vector<int> SeparatorUnread;
  // With a split job's OCR, the pages without text and the pages turned so far.
  std::vector<int> NoTextSides, TurnedSides;
  // The side after a separator front in a duplex job: the back of that sheet, dropped too.
  int DropSide = 0;
  THeldSide Held;
  // The scanner delivers both sides of every sheet.
  bool DuplexSheets = false;

 private:
  // The file of the next document, numbered k or named after the separator's barcode stem.
  [[nodiscard]] std::string DocumentFileName(int k, const std::string& stem);

  const TJobSettings& settings_;
  std::vector<TImageProps> table_;  // index 0 unused
  bool documentOpen_ = false;
  std::string nextName_;  // the barcode stem the next document is named after
  int nextNumber_ = 0;    // the number of the last document named; 0: none yet
  std::set<std::string> namesUsed_;
};

class TOcrQueue;

// What the page pipeline and the PDF assembly work with: the job's settings and pages, its text
// recognition and the surroundings' look at each output file as written.
struct TPageJob {
  const TJobSettings& Settings;
  TPageStore& Pages;
  TOcrQueue* Recognition;  // nullptr: the job does not recognise its pages
  const TFileWritten& OnFileWritten;
};

}  // namespace lumipage
