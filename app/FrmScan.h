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
#include "app/PageStore.h"
#include "platform/JobLock.h"
#include "twain/ScannerOperations.h"

namespace lumipage {

// Thrown to end the process: every path of the job ends with it, caught once in TFrmScan::Run.
struct TProcessExit {};

// What the job needs from its surroundings; tests give a temporary executable folder, a
// scripted scanner and a look at the output files.
struct TJobEnvironment {
  TCommandLine CommandLine;
  std::string ExeFolder;  // with trailing '/'
  std::function<std::unique_ptr<ScannerOperations>()> CreateScanner;
  std::string TerminalPath = "/dev/tty";
  // Called with the PDF or multi-page TIFF file a save has just written, before the save checks
  // it; none in the product.
  TFileWritten OnFileWritten;
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
  // A split job lists its documents in order; documents, when given, receives the first and last
  // position (from 1) of each document's files in the list.
  [[nodiscard]] std::vector<std::string> OutputFiles(
      std::vector<std::pair<std::size_t, std::size_t>>* documents = nullptr) const;
  // Why the last report could not be written; empty when it was (or none was due).
  [[nodiscard]] const std::string& ReportFailure() const { return reportFailure_; }

  [[nodiscard]] std::string ReportFileName() const;

  // The job's pages: names, table and the pages still being put in place.
  [[nodiscard]] TPageStore& Pages() { return pages_; }
  [[nodiscard]] const TPageStore& Pages() const { return pages_; }

  // Per-page handler given to Acquire.
  void ImageAcquired(TTransferBlock& dib, std::uint16_t xres, std::uint16_t yres, std::intptr_t passThrough);

  TJobSettings Settings;
  // Set when the source failed a transfer after the pages in the table: ScanDone reports it.
  std::string TransferFailure;
  std::string EditVer;

 private:
  [[noreturn]] void EndProcess();
  void SplitOutputFiles(std::vector<std::string>& files,
                        std::vector<std::pair<std::size_t, std::size_t>>* documents) const;
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
  // What the page pipeline and the PDF assembly work with.
  [[nodiscard]] TPageJob PageJob() { return {Settings, pages_, ocr_.get(), env_.OnFileWritten}; }

  TJobEnvironment env_;
  // Entries recorded for the report besides Pages, in order.
  std::vector<std::pair<std::string, std::pair<std::string, std::string>>> reportEntries_;
  std::string reportFailure_;
  bool pdfWritten_ = false;  // the PDF assembly saved the job's PDF
  std::string reportText_;
  std::unique_ptr<ScannerOperations> scanner_;
  std::unique_ptr<TOcrQueue> ocr_;
  TPageStore pages_{Settings};
  platform::TJobLock jobLock_;  // held until the process ends, after the report is written
  int exitCode_ = 0;
  std::string outputToReplace_;  // the old PDF or multi-page TIFF that this job's file replaces
};

// The lock file in the program folder that keeps jobs there from running at the same time.
constexpr const char* kJobLockFile = "lumipage.lock";

}  // namespace lumipage
