#include "app/FrmScan.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/OcrQueue.h"
#include "app/PagePipeline.h"
#include "imaging/FileStream.h"
#include "imaging/TiffAppend.h"
#include "app/PdfAssembly.h"
#include "app/SeparatorSheet.h"
#include "platform/FileReplace.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/InfoDialog.h"
#include "platform/Interrupt.h"
#include "platform/SystemFolder.h"
#include "twain/Scanner.h"

namespace lumipage {

namespace {
// The scanner's image types the job asks for: one bit per pixel, or 24-bit colour.
enum TScanImageType : std::uint8_t { itBlackWhite = 0, itTrueColour = 5 };
}  // namespace

TFrmScan::TFrmScan(TJobEnvironment env) : env_(std::move(env)) {}
TFrmScan::~TFrmScan() = default;

int TFrmScan::Run() {
  try {
    FormCreate();
    // A scanner that returns from Acquire without reporting the end must not leave the caller
    // without a report.
    WriteReport("", "", "");
  } catch (const TProcessExit&) {
  } catch (const platform::EJobInterrupted&) {
    try {
      JobInterrupted();
    } catch (const TProcessExit&) {
    }
  } catch (const std::exception& e) {
    try {
      AppError(e);
    } catch (const TProcessExit&) {
    }
  } catch (...) {
    try {
      ScError(this, "Unknown failure");
    } catch (const TProcessExit&) {
    }
  }
  if (!reportFailure_.empty()) return ReportOnStandardError(reportText_, reportFailure_);
  return exitCode_;
}

void TFrmScan::EndProcess() { throw TProcessExit{}; }

void TFrmScan::ScError(void*, const std::string& msg) {
  WriteReport("Error", "Message", msg);
  EndProcess();
}

void TFrmScan::AppError(const std::exception& e) {
  std::string message = e.what();
  // Pages of a PDF job that fails stay on disk, out of reach of the next job's clean-up.
  if (Settings.OutputFormat == ofPdf && pages_.LastPageNo > 0) {
    try {
      message += KeepUnsavedPages(pages_, Settings, pages_.PdfFileName());
    } catch (...) {
    }
  }
  ScError(this, message);
}

void TFrmScan::FinishOutput() {
  if (pages_.LastPageNo == 0 && !outputToReplace_.empty()) platform::DeleteTargetFile(outputToReplace_);
  outputToReplace_.clear();
}

void TFrmScan::ScanDone(void*) {
  StoreHeldSide(PageJob());
  FinishOutput();
  if (pages_.LastPageNo > 0 && Settings.OutputFormat == ofPdf) {
    // From here on the job's file name is the PDF's, also for a report named after it.
    if (Settings.FileName.empty()) Settings.FileName = pages_.PdfFileName();
    AssemblePdf(PageJob(), [this](const std::string& key, const std::string& value) {
      RecordReportEntry("Scan", key, value);
    });
    pdfWritten_ = true;
  }
  if (!TransferFailure.empty()) WriteReport("Error", "Message", TransferFailure);
  WriteReport("", "", "");
  EndProcess();
}

void TFrmScan::JobInterrupted() {
  if (ocr_) ocr_->Cancel();
  if (Settings.OutputFormat == ofPdf) {
    // Not written: the PDF holds none of this job's pages, and its page files were temporary.
    // The documents of a split job written before stay, with their pages.
    int kept = 0;
    for (const TDocument& document : pages_.Documents)
      if (document.Saved) kept = document.LastPage;
    for (int n = kept + 1; n < static_cast<int>(pages_.PageTable().size()); ++n) {
      TImageProps& page = pages_.PageRecord(n);
      if (!page.PageFile.empty()) platform::DeleteFile(page.PageFile);
      page = TImageProps{};
    }
    pages_.LastPageNo = kept;
    pages_.TrimDocuments();
  }
  ScError(this, platform::EJobInterrupted().what());
}

std::string TFrmScan::ReportFileName() const {
  if (Settings.Indicator == inBesideFile) return platform::ChangeFileExt(Settings.FileName, ".dat");
  return Settings.ExeFolder + "lp_done.dat";
}

void TFrmScan::RecordReportEntry(const std::string& section, const std::string& key, const std::string& value) {
  reportEntries_.push_back({section, {key, value}});
}

TJobReport TFrmScan::BuildReport() const {
  TJobReport report;
  for (const auto& [section, entry] : reportEntries_) report.Set(section, entry.first, entry.second);
  report.Set("Scan", "Pages", std::to_string(pages_.LastPageNo));
  if (Settings.SkipBlank) report.Set("Scan", "Blank", JoinNumbers(pages_.BlankSides));
  if (Settings.Deskew) report.Set("Scan", "Deskewed", JoinNumbers(pages_.StoredSides(pages_.DeskewedSides)));
  if (pages_.Split()) {
    report.Set("Scan", "SeparatorUnread", JoinNumbers(pages_.SeparatorUnread));
    // A split PDF's documents are written one by one: the lists cover those written.
    if (ocr_ && !Settings.OcrLanguages.empty())
      report.Set("Scan", "NoText", JoinNumbers(pages_.StoredSides(pages_.NoTextSides)));
    if (ocr_ && Settings.AutoRotate) report.Set("Scan", "Rotated", JoinNumbers(pages_.StoredSides(pages_.TurnedSides)));
  }
  // Always written, so that the list of an earlier job in the same report never survives.
  std::vector<std::pair<std::size_t, std::size_t>> documents;
  const std::vector<std::string> files = OutputFiles(&documents);
  report.Set("Files", "Count", std::to_string(files.size()));
  for (std::size_t i = 0; i < files.size(); ++i) report.Set("Files", "File" + std::to_string(i + 1), files[i]);
  if (pages_.Split()) {
    report.Set("Documents", "Count", std::to_string(documents.size()));
    for (std::size_t k = 0; k < documents.size(); ++k)
      report.Set("Documents", "Doc" + std::to_string(k + 1),
                 std::to_string(documents[k].first) + "-" + std::to_string(documents[k].second));
  }
  return report;
}

std::vector<std::string> TFrmScan::OutputFiles(std::vector<std::pair<std::size_t, std::size_t>>* documents) const {
  std::vector<std::string> files;
  if (pages_.Split()) {
    SplitOutputFiles(files, documents);
    return files;
  }
  // Only what is there: a page file the PDF took in, or an old output a job without pages
  // removed, is no output of this job.
  auto add = [&files](const std::string& name) {
    if (!name.empty() && platform::FileExists(name) && std::find(files.begin(), files.end(), name) == files.end())
      files.push_back(name);
  };
  const std::vector<TImageProps>& table = pages_.PageTable();
  const int last = std::min<int>(pages_.LastPageNo, static_cast<int>(table.size()) - 1);
  switch (Settings.OutputFormat) {
    case ofMultiTiff:
      if (pages_.LastPageNo > 0) add(pages_.MultiTiffFileName());
      break;
    case ofPdf:
      if (pdfWritten_) {
        add(pages_.PdfFileName());
        break;
      }
      // A PDF that was not written leaves its pages, which the job kept.
      [[fallthrough]];
    default:
      for (int n = 1; n <= last; ++n) add(table[static_cast<std::size_t>(n)].PageFile);
  }
  return files;
}

void TFrmScan::SplitOutputFiles(std::vector<std::string>& files,
                                std::vector<std::pair<std::size_t, std::size_t>>* documents) const {
  const std::vector<TImageProps>& table = pages_.PageTable();
  const int last = std::min<int>(pages_.LastPageNo, static_cast<int>(table.size()) - 1);
  for (const TDocument& document : pages_.Documents) {
    if (document.FirstPage > last) break;
    const std::size_t before = files.size();
    auto add = [&files](const std::string& name) {
      if (!name.empty() && platform::FileExists(name) && std::find(files.begin(), files.end(), name) == files.end())
        files.push_back(name);
    };
    // A document file, or for page files (and a PDF not written) its pages.
    if (Settings.OutputFormat == ofMultiTiff || document.Saved) {
      add(document.File);
    } else {
      for (int n = document.FirstPage; n <= std::min(document.LastPage, last); ++n)
        add(table[static_cast<std::size_t>(n)].PageFile);
    }
    if (documents != nullptr && files.size() > before) documents->emplace_back(before + 1, files.size());
  }
}

void TFrmScan::WriteReport(const std::string& section, const std::string& key, const std::string& value) noexcept {
  try {
    // The files the report lists are on disk before it says so. A failure here is the job's
    // failure unless the job already names one.
    try {
      FinishPreviousPage(PageJob());
    } catch (const std::exception& e) {
      reportEntries_.push_back({"Error", {"Message", e.what()}});
    }
    std::string unsynced;
    if (!platform::SyncDeferred(unsynced))
      reportEntries_.push_back({"Error", {"Message", "Cannot flush \"" + unsynced + "\" to disk. " + std::strerror(errno)}});
    if (Settings.Indicator <= inNone) return;
    if (!value.empty()) reportEntries_.push_back({section, {key, value}});
    const TJobReport report = BuildReport();
    reportText_ = report.Text();
    std::string error;
    if (report.WriteTo(ReportFileName(), error))
      reportFailure_.clear();
    else
      reportFailure_ = error.empty() ? ReportFileName() + ": cannot be written" : error;
  } catch (const std::exception& e) {
    reportFailure_ = e.what();
  } catch (...) {
    reportFailure_ = "the report cannot be written";
  }
}

void TFrmScan::ImageAcquired(TTransferBlock& dib, std::uint16_t xres, std::uint16_t yres, std::intptr_t) {
  // What the scanner agreed to: a source without a duplex unit delivers one side per sheet.
  pages_.DuplexSheets = scanner_->SidesInPairs;
  lumipage::ImageAcquired(PageJob(), dib, xres, yres);
}

std::string TFrmScan::CurrentScannerName() const {
  int i = scanner_->SourceIndex();
  const auto& list = scanner_->Sources();
  if (i < 0 || static_cast<size_t>(i) >= list.size()) {
    std::string name = scanner_->DefaultSourceName();
    if (name.empty()) throw EJobError("The default scanner is not in the list of installed scanners");
    throw EJobError("The default scanner \"" + name + "\" is not in the list of installed scanners");
  }
  return list[static_cast<size_t>(i)];
}

int TFrmScan::NamedScanner() const {
  const auto& list = scanner_->Sources();
  auto n = ParseInteger(Settings.Scanner, false).value_or(-1);
  if (n >= 0 && n <= 255 && static_cast<size_t>(n) < list.size()) return n;
  for (size_t i = 0; i < list.size(); ++i) {
    if (SameText(list[i], Settings.Scanner)) return static_cast<int>(i);
  }
  // A SANE device name, as a scanner-button daemon hands it to its scripts (SCANBD_DEVICE).
  return Settings.Scanner.empty() ? -1 : scanner_->DeviceSource(Settings.Scanner);
}

void TFrmScan::ChooseScanner() {
  const int n = NamedScanner();
  if (n >= 0) scanner_->SelectSource(n);
}

void TFrmScan::ConfigureScanner() {
  ScannerOperations& s = *scanner_;
  s.FeederEnabled = !Settings.NoADF;
  s.DuplexEnabled = Settings.Duplex;
  s.Transmissive = Settings.Film;
  s.SetProductName(Settings.ProdName);
  s.ShowUI = Settings.ShowUI;
  // The scanner holds resolutions as 16-bit values.
  s.XResolution = static_cast<std::int16_t>(Settings.Resolution);
  s.YResolution = static_cast<std::int16_t>(Settings.Resolution);
  s.ShowIndicators = Settings.ShowProgress;
  s.OnError = [this](void* sender, const std::string& msg) { ScError(sender, msg); };
  s.OnDone = [this](void* sender) { ScanDone(sender); };
  s.ImageType = Settings.ScanMono ? itBlackWhite : itTrueColour;
  s.WaitForPaper = Settings.WaitForPaper;
  s.RetryBusy = Settings.RetryBusy;
}

void TFrmScan::TakeJobLock(const TJobSettingsReader& reader) {
  const int wait = reader.ReadLockWait();
  const auto result = jobLock_.Acquire(env_.ExeFolder + kJobLockFile, wait);
  using TResult = platform::TJobLock::TResult;
  if (result != TResult::TimedOut && result != TResult::Interrupted) return;
  // The other job owns the folder and its report: say so elsewhere and touch nothing.
  if (result == TResult::Interrupted)
    std::fprintf(stderr, "lumipage: Job interrupted while another job was running in %s; nothing was done\n",
                 env_.ExeFolder.c_str());
  else
    std::fprintf(stderr,
                 "lumipage: another job is running in %s and did not finish within %d seconds (LockWait); "
                 "nothing was done\n",
                 env_.ExeFolder.c_str(), wait);
  exitCode_ = 1;
  EndProcess();
}

void TFrmScan::CheckOutputTarget() const {
  // Refused before anything is deleted or scanned: pages scanned for a file that can never be
  // written would be lost paper work.
  const TOutputFormat f = Settings.OutputFormat;
  if (f != ofPdf && f != ofMultiTiff) return;
  std::string name = f == ofPdf ? pages_.PdfFileName() : pages_.MultiTiffFileName();
  // A split job writes new files beside that name; the first one stands for them.
  if (pages_.Split()) name = pages_.NumberedDocumentName(1);
  platform::TSaveTarget target;
  const std::string error = platform::ResolveSaveTarget(name, target);
  if (!error.empty()) {
    if (f == ofPdf) throw EJobError("Unable to save PDF file " + name + ": " + error);
    throw EJobError("Cannot create file \"" + name + "\". " + error);
  }
  if (f == ofPdf) CheckPdfaJob(Settings, name, target.Exists && !pages_.Split());
  if (f == ofMultiTiff && Settings.Append && target.Exists && !pages_.Split()) {
    // Appending to a damaged file would bury the new pages where no reader finds them.
    bool whole = false;
    try {
      TFileStream stream(target.Path, fmOpenRead | fmShareDenyWrite);
      whole = TiffFileIsWhole(stream);
    } catch (const std::exception&) {
    }
    if (!whole) throw EJobError("Unable to open TIFF file " + name);
  }
}

void TFrmScan::PrepareOutput() {
  pages_.LastPageNo = 0;
  const TOutputFormat f = Settings.OutputFormat;
  CheckOutputTarget();
  if (Settings.Append && (f == ofBmp || f == ofJpeg || f == ofTiff)) {
    // Continue after the last page on disk; the first gap ends the search (the page pipeline
    // passes over numbers that are taken further on).
    int n = 1;
    while (platform::NameTaken(pages_.PageFileName(n))) ++n;
    pages_.LastPageNo = n - 1;
    return;
  }
  // Deletions follow links to the file they name and never remove devices, FIFOs or files
  // without a write bit. The PDF or multi-page TIFF is not deleted now but replaced whole when
  // the job has pages for it, so a job that fails keeps the old file and a replaced file keeps
  // its mode; a job that ends without pages deletes it then (FinishOutput).
  // The file name itself is not deleted for page files: with another extension than the
  // pages' (`tif filename doc.pdf`) it names someone else's file, and with the same one it is
  // the first page file, which the loop below deletes.
  // A split job's documents are new files; the file of the job's name is not its own.
  if (!Settings.Append && !pages_.Split()) {
    if (f == ofPdf)
      outputToReplace_ = pages_.PdfFileName();
    else if (f == ofMultiTiff)
      outputToReplace_ = pages_.MultiTiffFileName();
  }
  for (int n = 1; platform::DeleteTargetFile(pages_.PageFileName(n)); ++n) {
  }
}

void TFrmScan::StartRecognition() {
  // Recognition serves the PDF's text layer and page turns; other outputs have neither.
  if (Settings.OutputFormat != ofPdf || (Settings.OcrLanguages.empty() && !Settings.AutoRotate)) return;
  const std::string languages = NormalisedOcrLanguages(Settings.OcrLanguages);
  if (languages.empty() && !Settings.OcrLanguages.empty())
    throw EJobError("Invalid OCR languages \"" + Settings.OcrLanguages + "\" (names such as eng or eng+deu)");
  ocr_ = std::make_unique<TOcrQueue>(TOcrModule::Load(platform::SystemFolder()), languages, Settings.AutoRotate);
}

void TFrmScan::FormCreate() {
  // The failure handler is Run's; the executable's folder comes with the environment.
  Settings.ExeFolder = env_.ExeFolder;
  EditVer = platform::FileVersionText();

  TJobSettingsReader reader(env_.CommandLine, env_.ExeFolder);
  // Before the old report goes: a second job must not delete the running job's report.
  TakeJobLock(reader);

  const std::string oldReport = env_.ExeFolder + "lp_done.dat";
  if (platform::FileExists(oldReport) && !platform::IsReadOnly(oldReport)) platform::DeleteFile(oldReport);

  scanner_ = env_.CreateScanner();
  scanner_->Open();

  Settings = reader.LoadJobSettings();
  if (FileNameFolderMissing(Settings)) {
    std::string folder = platform::ExtractFilePath(Settings.FileName);
    if (folder.size() > 1) folder.pop_back();
    throw EJobError("Unable to create folder " + folder);
  }
  // Half-written files of a job that was killed: the lock says no job of this folder runs now,
  // and the name says whose they were.
  platform::RemoveStaleTemporaries(env_.ExeFolder);
  if (!Settings.FileName.empty()) platform::RemoveStaleTemporaries(platform::ExtractFilePath(Settings.FileName));
  // Listing the scanners and choosing one by hand need the devices that are there now, not the
  // source manager's cached list; so does a scanner named but not listed, which may have been
  // attached since the list was cached.
  if (Settings.NoScan || Settings.SelectScanner || (!Settings.Scanner.empty() && NamedScanner() < 0))
    scanner_->RefreshSources();

  if (reader.SettingsFileWritable()) {
    const auto& list = scanner_->Sources();
    std::vector<std::pair<std::string, std::string>> keys{{"Count", std::to_string(list.size())}};
    for (size_t i = 0; i < list.size(); ++i) keys.emplace_back("Scanner" + std::to_string(i), list[i]);
    reader.WriteScannersKeys(keys);
  }

  Settings.Help = reader.ReadHelp();
  if (Settings.Help &&
      platform::ShowInformationPage(Settings.ProdName, EditVer, env_.TerminalPath) != platform::mrOk) {
    platform::CheckInterrupt();  // the page ended by a caller's time-out, not by Cancel
    WriteReport("", "", "");
    EndProcess();
  }

  ChooseScanner();
  ConfigureScanner();

  if (!Settings.NoScan) {
    CheckSeparatorAvailable(Settings);
    StartRecognition();
    PrepareOutput();
  }

  bool success = Settings.SelectScanner ? scanner_->SelectSourceDialog() : true;
  if (success && reader.SettingsFileWritable()) reader.WriteScannersKey("LastScanner", CurrentScannerName());
  if (!success || Settings.NoScan) {
    FinishOutput();
    WriteReport("", "", "");
    EndProcess();
  }

  (void)CurrentScannerName();  // a clear failure before scanning when the current scanner is unknown
  platform::CheckInterrupt();
  try {
    scanner_->Acquire(1, [this](TTransferBlock& dib, std::uint16_t x, std::uint16_t y, std::intptr_t pass) {
      ImageAcquired(dib, x, y, pass);
    });
  } catch (const ETransferError& e) {
    // A jam after two of ten sheets must not read as a clean two-page job: the pages delivered
    // are kept and assembled as usual, and the report names the condition.
    TransferFailure = e.Text();
    ScanDone(scanner_.get());
  }
}

}  // namespace lumipage
