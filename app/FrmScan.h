#pragma once
// The job controller: one scan job from process start to process end.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/JobReport.h"
#include "app/JobSettings.h"
#include "platform/JobLock.h"
#include "twain/ScannerOperations.h"

namespace lumipage {

// Thrown to end the process: every path of the job ends with it, caught once in TFrmScan::Run.
struct TProcessExit {};

// One page of the job as saved.
struct TImageProps {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int32_t Dpi = 0;      // horizontal dots per inch, used for both directions
  std::string PageFile;      // empty for pages appended to a multi-page TIFF
  int Side = 0;              // the job's page number: its place among the sides this job scanned
};

// What the job needs from its surroundings; tests give a temporary executable folder and a
// scripted scanner.
struct TJobEnvironment {
  TCommandLine CommandLine;
  std::string ExeFolder;  // with trailing '/'
  std::function<std::unique_ptr<ScannerOperations>()> CreateScanner;
  std::string TerminalPath = "/dev/tty";
};

class TOcrQueue;

class TFrmScan {
 public:
  explicit TFrmScan(TJobEnvironment env);
  ~TFrmScan();
  TFrmScan(const TFrmScan&) = delete;
  TFrmScan& operator=(const TFrmScan&) = delete;

  // Runs the job under the failure handler; the process's exit code: 0, or 1 when the report
  // could not be written where the caller reads it (it then went to standard error) or when the
  // job could not start because another job held the program folder (nothing was touched then).
  int Run();

  // The job itself; ends by throwing TProcessExit (or a failure that Run hands to AppError).
  void FormCreate();
  [[noreturn]] void ScError(void* sender, const std::string& msg);
  [[noreturn]] void AppError(const std::exception& e);
  [[noreturn]] void ScanDone(void* sender);
  // The job was stopped from outside: the PDF's page files, which only the PDF would have kept,
  // are removed, and the report says "Job interrupted" with the pages stored.
  [[noreturn]] void JobInterrupted();
  // Records value under [section] key when value is not empty, then writes the whole report (the
  // job's entries and Pages). Never raises: a report that cannot be written is kept for standard
  // error and makes Run's exit code 1.
  void WriteReport(const std::string& section, const std::string& key, const std::string& value) noexcept;
  // Records an entry for the next report, also an empty value; writes nothing now.
  void RecordReportEntry(const std::string& section, const std::string& key, const std::string& value);
  // The report's entries as they stand: the recorded entries, then [Scan] Pages.
  [[nodiscard]] TJobReport BuildReport() const;
  // Full names of the files this job wrote or changed and that are there now, in page order:
  // the page files, the multi-page TIFF or the PDF; for a PDF that was not written, the pages
  // the job kept. Reported under [Files].
  [[nodiscard]] std::vector<std::string> OutputFiles() const;
  // Those of the sides (job's page numbers) whose pages are stored now.
  [[nodiscard]] std::vector<int> StoredSides(const std::vector<int>& sides) const;
  // Why the last report could not be written; empty when it was (or none was due).
  [[nodiscard]] const std::string& ReportFailure() const { return reportFailure_; }

  [[nodiscard]] std::string PageBaseName(int n) const;
  [[nodiscard]] std::string PageFileName(int n) const { return PageBaseName(n) + Settings.Extension; }
  [[nodiscard]] std::string MultiTiffFileName() const;
  [[nodiscard]] std::string PdfFileName() const;
  [[nodiscard]] std::string ReportFileName() const;

  // The record of page n (from 1); the table grows as pages arrive.
  TImageProps& PageRecord(int n);
  [[nodiscard]] const std::vector<TImageProps>& PageTable() const { return pageTable_; }

  // Per-page handler given to Acquire.
  void ImageAcquired(TTransferBlock& dib, std::uint16_t xres, std::uint16_t yres, std::intptr_t passThrough);

  TJobSettings Settings;
  std::int32_t LastPageNo = 0;
  // Sides the scanner delivered in this job, stored or not; the job's page numbers count them.
  int SidesScanned = 0;
  // Sides dropped as blank, and sides straightened, by the job's page numbers.
  std::vector<int> BlankSides;
  std::vector<int> DeskewedSides;
  // Set when the source failed a transfer after the pages in the table: ScanDone reports it.
  std::string TransferFailure;
  std::string EditVer;
  [[nodiscard]] const TCommandLine& CommandLine() const { return env_.CommandLine; }
  [[nodiscard]] ScannerOperations* Scanner() const { return scanner_.get(); }
  // The job's text recognition; nullptr when the job does not recognise its pages.
  [[nodiscard]] TOcrQueue* Recognition() const { return ocr_.get(); }

  // Replace the page pipeline and the PDF assembly (tests of the controller alone).
  std::function<void(TFrmScan&, TTransferBlock&, std::uint16_t, std::uint16_t)> PageHandler;
  std::function<void(TFrmScan&)> PdfAssembler;
  // Called with the PDF or multi-page TIFF file a save has just written, before the save checks
  // it (tests damage the file here to see the check refuse it).
  std::function<void(const std::string& fileName)> OnFileWritten;

 private:
  [[noreturn]] void EndProcess();
  // Position of the scanner that Settings.Scanner names in the list (by position, product name or
  // device name); -1 when it names none.
  [[nodiscard]] int NamedScanner() const;
  void ChooseScanner();
  void ConfigureScanner();
  void TakeJobLock(const TJobSettingsReader& reader);
  void CheckOutputTarget() const;
  void PrepareOutput();
  // Loads the text recognition a PDF job asks for; raises before scanning when it cannot.
  void StartRecognition();
  void FinishOutput();
  [[nodiscard]] std::string CurrentScannerName() const;

  TJobEnvironment env_;
  // Entries recorded for the report besides Pages, in order.
  std::vector<std::pair<std::string, std::pair<std::string, std::string>>> reportEntries_;
  std::string reportFailure_;
  bool pdfWritten_ = false;  // the PDF assembly saved the job's PDF
  std::string reportText_;
  std::unique_ptr<ScannerOperations> scanner_;
  std::unique_ptr<TOcrQueue> ocr_;
  std::vector<TImageProps> pageTable_;  // index 0 unused
  platform::TJobLock jobLock_;  // held until the process ends, after the report is written
  int exitCode_ = 0;
  std::string outputToReplace_;  // the old PDF or multi-page TIFF that this job's file replaces
};

// The lock file in the program folder that keeps jobs there from running at the same time.
constexpr const char* kJobLockFile = "lumipage.lock";

}  // namespace lumipage
