#pragma once
// The job's pages: the names their files take, the table of pages stored and the pages whose
// files are still being put in place. One store per job, owned by the job controller.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "app/JobSettings.h"
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

 private:
  const TJobSettings& settings_;
  std::vector<TImageProps> table_;  // index 0 unused
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
