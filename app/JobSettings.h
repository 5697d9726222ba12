#pragma once
// The job's settings: the settings file beside the executable combined with the program arguments.
#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/CommandLine.h"
#include "platform/IniFile.h"

namespace lumipage {

enum TOutputFormat : int { ofBmp = 0, ofJpeg = 1, ofTiff = 2, ofMultiTiff = 3, ofPdf = 4 };
constexpr int kDefaultLockWait = 60;
constexpr int kMaxLockWait = 3600;

enum TPaperMode : int { pmNone = 0, pmA4 = 1, pmLetter = 2, pmBank = 99 };
// Where the report goes: nowhere (0 or less), beside the program (1 and any other value), or
// beside the output file under its name (2).
enum TIndicator : int { inNone = 0, inProgramFolder = 1, inBesideFile = 2 };
// How a password protects a new PDF: RC4 with 128-bit keys, or AES-256 (revision 6).
enum TPdfEncryption : int { peRC4 = 0, peAES256 = 1 };
// The sheet that ends one document of a feeder load and starts the next: none (one document),
// a patch code sheet, a sheet with the separator barcode, or a sheet blank on both sides.
enum class TSeparator : std::uint8_t { None, Patch, Barcode, Blank };
// How the documents after the first are named: by their number, or by their separator's barcode.
enum class TSeparatorName : std::uint8_t { Number, Barcode };
constexpr const char* kDefaultSeparatorText = "PATCHT";

// Longest wait WaitForPaper and RetryBusy may ask for; values beyond are cut to it, negative ones
// to 0.
constexpr int kMaxWaitSeconds = 3600;

// The scan area in millimetres: left, top, right, bottom.
using TScanAreaMm = std::array<std::int64_t, 4>;

struct TJobSettings {
  TOutputFormat OutputFormat = ofJpeg;
  std::string Extension = ".jpg";
  bool Mono = false;
  bool ScanMono = false;
  TPaperMode PaperMode = pmNone;
  bool SelectScanner = false;
  bool ShowUI = false;
  bool ShowProgress = false;
  bool NoScan = false;
  bool NoADF = false;
  bool Duplex = false;
  bool Film = false;
  bool MonoEnhance = false;
  bool Append = false;
  bool Help = false;
  int Resolution = 200;
  TIndicator Indicator = inProgramFolder;
  int JpgQuality = 85;
  int LockWait = 60;  // seconds a job waits for another job in the same program folder
  // Seconds an empty feeder at the first page is waited on, and a busy scanner tried again
  // (0 to kMaxWaitSeconds).
  int WaitForPaper = 0;
  int RetryBusy = 0;
  std::string Scanner;
  std::string ProdName = "Orrinwell Lumipage";
  std::string ScanArea;
  // ScanArea read as numbers (parts missing or malformed take the A4 page's); none when empty.
  std::optional<TScanAreaMm> ScanAreaMm;
  // The caption written across the top of every page (command line only); empty: none.
  std::string Banner;
  std::string PDFPassword;
  TPdfEncryption PDFEncryption = peRC4;
  // Languages of the PDF's text layer ("eng", "eng+deu"); empty: no text recognition.
  std::string OcrLanguages;
  // Pages are turned upright (PDF output) as text recognition finds them.
  bool AutoRotate = false;
  // Sides without content are not stored.
  bool SkipBlank = false;
  // Pages turned by a few degrees are straightened before anything else is done to them.
  bool Deskew = false;
  // New and appended PDFs are written as PDF/A-1b (archival).
  bool PDFA = false;
  // Black-and-white pages are thresholded by their neighbourhood instead of dithered: text
  // stays sharp and compresses far better.
  bool MonoText = false;
  // Separator sheets split the job into documents, each a file of its own (PDF, multi-page TIFF).
  TSeparator Separator = TSeparator::None;
  std::string SeparatorText = kDefaultSeparatorText;  // the barcode text of a separator sheet
  TSeparatorName SeparatorName = TSeparatorName::Number;
  std::string FileName;
  std::string ExeFolder;
};

// "RC4" or "AES256" in any case; nothing for any other text.
[[nodiscard]] std::optional<TPdfEncryption> ParsePdfEncryption(const std::string& text);

// Integers: decimal with an optional sign, or hexadecimal after "$"; with allowCHex also after
// "0x"/"0X" (the settings file). Hexadecimal wraps into 32 bits; decimal out of range is invalid.
[[nodiscard]] std::optional<std::int32_t> ParseInteger(const std::string& text, bool allowCHex);

// The part of s before the first delimiter, removed from s with the delimiter; all of s (then
// emptied) when there is no delimiter.
std::string SplitNext(std::string& s, const std::string& delimiter);
// ScanArea's text "l,t,r,b" in millimetres; nothing for an empty text.
[[nodiscard]] std::optional<TScanAreaMm> ParseScanArea(const std::string& text);

// The switches and pairs of the usage text (`lumipage --help`), one line per few, from the
// same table the settings are read by.
[[nodiscard]] std::string OptionsUsage();

// FileName is set but its folder does not exist (it could not be created).
[[nodiscard]] bool FileNameFolderMissing(const TJobSettings& settings);

struct TOption;

class TJobSettingsReader {
 public:
  // exeFolder carries its trailing '/'; the settings file is exeFolder + "lumipage.ini".
  TJobSettingsReader(const TCommandLine& cmd, std::string exeFolder);

  [[nodiscard]] const std::string& SettingsFileName() const { return iniName_; }
  // Everything up to and including the FileName normalisation (the settings file is read once).
  [[nodiscard]] TJobSettings LoadJobSettings() const;
  // LockWait alone, read before the job takes its lock (clamped to 0 .. kMaxLockWait).
  [[nodiscard]] int ReadLockWait() const;
  // The Help flag, read after the scanner list has been written.
  [[nodiscard]] bool ReadHelp() const;
  // The settings file exists and has a write bit: only then is it ever written.
  [[nodiscard]] bool SettingsFileWritable() const;
  // Writes one key of [Scanners]; raises "Unable to write to %s" when the platform refuses.
  void WriteScannersKey(const std::string& key, const std::string& value) const;
  // Writes several keys of [Scanners] in one replacement of the file (one flush to disk).
  void WriteScannersKeys(const std::vector<std::pair<std::string, std::string>>& values) const;

 private:
  // The switch of each group of choices (formats, papers) that wins, in the file and on the
  // command line.
  struct TChoices {
    const TOption* File = nullptr;
    const TOption* Command = nullptr;
  };
  // Reads one setting into s (a choice into choices).
  void ReadOption(const platform::IniFile& ini, const TOption& option, TJobSettings& s, TChoices& choices) const;
  // Default settings with the one option of that name read, for the answers needed before the job.
  [[nodiscard]] TJobSettings ReadOneOption(const char* name) const;
  [[nodiscard]] bool ReadBool(const platform::IniFile& ini, const std::string& key) const;
  [[nodiscard]] int ReadInt(const platform::IniFile& ini, const std::string& key, int def) const;
  // A setting within [lo, hi]: values beyond are cut to the bounds; malformed ones keep the
  // file's value or def. The command line's name is the key's.
  // Raises "Invalid file name ..." (or the setting's name) for a text setting that holds a line
  // break, a carriage return or a NUL.
  void RefuseMultiLineText(const TJobSettings& s) const;
  [[nodiscard]] int BoundedInteger(const platform::IniFile& ini, const std::string& key, int def, int lo,
                                   int hi) const;

  const TCommandLine& cmd_;
  std::string exeFolder_;
  std::string iniName_;
};

// "Unable to write to %s" and other failures of the job itself.
class EJobError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace lumipage
