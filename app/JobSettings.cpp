#include "app/JobSettings.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/Files.h"
#include "platform/IntegerText.h"

namespace lumipage {

std::optional<TPdfEncryption> ParsePdfEncryption(const std::string& text) {
  std::string upper = text;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (upper == "RC4") return peRC4;
  if (upper == "AES256") return peAES256;
  return std::nullopt;
}

std::optional<std::int32_t> ParseInteger(const std::string& text, bool allowCHex) {
  const auto n = platform::ReadIntegerText(text, allowCHex);
  if (!n) return std::nullopt;
  if (n->Hex) {
    // Hexadecimal wraps into 32 bits.
    if (n->Magnitude > 0xFFFFFFFFull) return std::nullopt;
    const auto v = static_cast<std::uint32_t>(n->Magnitude);
    return static_cast<std::int32_t>(n->Negative ? 0u - v : v);
  }
  if (n->Magnitude > (n->Negative ? 0x80000000ull : 0x7FFFFFFFull)) return std::nullopt;
  return static_cast<std::int32_t>(n->Negative ? -static_cast<std::int64_t>(n->Magnitude)
                                               : static_cast<std::int64_t>(n->Magnitude));
}

namespace {

constexpr TScanAreaMm kDefaultArea = {0, 0, 210, 297};  // the A4 page

std::string trimBlanks(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

}  // namespace

std::string SplitNext(std::string& s, const std::string& delimiter) {
  auto pos = delimiter.empty() ? std::string::npos : s.find(delimiter);
  if (pos == std::string::npos) {
    std::string all = std::move(s);
    s.clear();
    return all;
  }
  std::string head = s.substr(0, pos);
  s.erase(0, pos + delimiter.size());
  return head;
}

std::optional<TScanAreaMm> ParseScanArea(const std::string& text) {
  if (text.empty()) return std::nullopt;
  std::string work = text;
  TScanAreaMm mm;
  for (std::size_t i = 0; i < mm.size(); ++i) {
    auto v = ParseInteger(trimBlanks(SplitNext(work, ",")), false);
    mm[i] = v ? *v : kDefaultArea[i];
  }
  return mm;
}

TJobSettingsReader::TJobSettingsReader(const TCommandLine& cmd, std::string exeFolder)
    : cmd_(cmd), exeFolder_(std::move(exeFolder)), iniName_(exeFolder_ + "lumipage.ini") {}

bool TJobSettingsReader::ReadBool(const platform::IniFile& ini, const std::string& key) const {
  return ReadInt(ini, key, 0) != 0;
}

int TJobSettingsReader::ReadInt(const platform::IniFile& ini, const std::string& key, int def) const {
  auto v = ParseInteger(ini.ReadString("Scan", key, ""), true);
  return v ? *v : def;
}

TJobSettings TJobSettingsReader::LoadJobSettings() const {
  platform::IniFile ini(iniName_);
  TJobSettings s;
  s.ExeFolder = exeFolder_;

  // Output format: keys, then switches; the last one set wins.
  static const struct {
    const char* word;
    int code;
  } formats[] = {{"pdf", ofPdf}, {"multi_tif", ofMultiTiff}, {"tif", ofTiff}, {"jpg", ofJpeg}, {"bmp", ofBmp}};
  s.OutputFormat = ofJpeg;
  for (const auto& f : formats)
    if (ReadBool(ini, f.word)) s.OutputFormat = f.code;
  for (const auto& f : formats)
    if (cmd_.ParamSwitch(f.word)) s.OutputFormat = f.code;

  s.Mono = ReadBool(ini, "Mono") || cmd_.ParamSwitch("Mono");
  s.ScanMono = ReadBool(ini, "ScanMono") || cmd_.ParamSwitch("ScanMono");

  if (s.OutputFormat == ofTiff || s.OutputFormat == ofMultiTiff || (s.OutputFormat == ofPdf && s.Mono))
    s.Extension = ".tif";
  else if (s.OutputFormat == ofJpeg || s.OutputFormat == ofPdf)
    s.Extension = ".jpg";
  else
    s.Extension = ".bmp";

  static const struct {
    const char* word;
    int code;
  } papers[] = {{"A4", pmA4}, {"Letter", pmLetter}, {"Bank", pmBank}};
  s.PaperMode = pmNone;
  for (const auto& p : papers)
    if (ReadBool(ini, p.word)) s.PaperMode = p.code;
  for (const auto& p : papers)
    if (cmd_.ParamSwitch(p.word)) s.PaperMode = p.code;

  auto flag = [&](const char* word) { return ReadBool(ini, word) || cmd_.ParamSwitch(word); };
  s.SelectScanner = flag("selectscanner");
  s.ShowUI = flag("ShowUI");
  s.ShowProgress = flag("ShowProgress");
  s.NoScan = flag("noscan");
  s.NoADF = flag("NoADF");
  s.Duplex = flag("Duplex");
  s.Film = flag("Film");
  s.MonoEnhance = flag("MonoEnhance");
  s.Append = flag("Append");
  s.AutoRotate = flag("AutoRotate");
  s.SkipBlank = flag("SkipBlank");
  s.Deskew = flag("Deskew");
  s.PDFA = flag("PDFA");
  s.MonoText = flag("MonoText");

  auto integer = [&](const char* word, int def) {
    int v = ReadInt(ini, word, def);
    if (auto p = ParseInteger(cmd_.ParamValue(word), false)) v = *p;
    return v;
  };
  s.Resolution = integer("Resolution", 200);
  s.Indicator = integer("Indicator", 1);
  s.JpgQuality = integer("jpg_quality", 85);
  s.LockWait = ReadLockWait();
  s.WaitForPaper = BoundedInteger(ini, "WaitForPaper", 0, 0, kMaxWaitSeconds);
  s.RetryBusy = BoundedInteger(ini, "RetryBusy", 0, 0, kMaxWaitSeconds);

  auto text = [&](const char* word, const char* key, const char* def) {
    std::string v = cmd_.ParamValue(word);
    return v.empty() ? ini.ReadString("Scan", key, def) : v;
  };
  s.Scanner = text("Scanner", "Scanner", "");
  s.ProdName = text("prodname", "ProdName", "Orrinwell Lumipage");
  s.ScanArea = text("ScanArea", "ScanArea", "");
  s.ScanAreaMm = ParseScanArea(s.ScanArea);
  s.PDFPassword = text("PDFPassword", "PDFPassword", "");
  // Like the integers: the file's value unless the command line has a valid one.
  if (auto e = ParsePdfEncryption(ini.ReadString("Scan", "PDFEncryption", ""))) s.PDFEncryption = *e;
  if (auto e = ParsePdfEncryption(cmd_.ParamValue("PDFEncryption"))) s.PDFEncryption = *e;
  s.FileName = text("filename", "filename", "");
  s.OcrLanguages = text("OCR", "OCR", "");
  s.Banner = cmd_.ParamValue("Banner");

  RefuseMultiLineText(s);

  if (!s.FileName.empty() && platform::ExtractFilePath(s.FileName).empty())
    s.FileName = exeFolder_ + platform::ExtractFileName(s.FileName);
  // The report lies elsewhere than the caller's current folder: every name it gives is whole.
  if (!s.FileName.empty()) s.FileName = platform::AbsoluteFileName(s.FileName);
  // A folder that cannot be made is not cleared away: falling back to the default names would
  // delete and overwrite output beside the program that belongs to someone else. The job
  // controller refuses the name before touching anything (FileNameFolderMissing).
  if (!s.FileName.empty()) platform::ForceDirectories(platform::ExtractFilePath(s.FileName));
  return s;
}

namespace {

// The text as it can be shown on one line: line breaks, carriage returns and NULs as escapes.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\0') out += "\\0";
    else if (c == '\\') out += "\\\\";
    else out += c;
  }
  return out;
}

const char* LineBreakIn(const std::string& text) {
  if (text.find('\n') != std::string::npos) return "a line break";
  if (text.find('\r') != std::string::npos) return "a carriage return";
  if (text.find('\0') != std::string::npos) return "a NUL character";
  return nullptr;
}

}  // namespace

void TJobSettingsReader::RefuseMultiLineText(const TJobSettings& s) const {
  // No file name or other text of these systems needs them, and each of these values reaches the
  // report, the settings file or a file name: refused before anything is deleted or scanned.
  if (const char* what = LineBreakIn(s.FileName))
    throw EJobError("Invalid file name \"" + Escaped(s.FileName) + "\": it holds " + what);
  const struct {
    const char* name;
    const std::string& value;
    bool secret;
  } texts[] = {{"Banner", s.Banner, false}, {"prodname", s.ProdName, false},
               {"Scanner", s.Scanner, false},           {"ScanArea", s.ScanArea, false},
               {"OCR", s.OcrLanguages, false},           {"PDFPassword", s.PDFPassword, true}};
  for (const auto& t : texts) {
    if (const char* what = LineBreakIn(t.value)) {
      if (t.secret) throw EJobError(std::string("Invalid ") + t.name + ": it holds " + what);
      throw EJobError(std::string("Invalid ") + t.name + " \"" + Escaped(t.value) + "\": it holds " + what);
    }
  }
}

bool FileNameFolderMissing(const TJobSettings& s) {
  return !s.FileName.empty() && !platform::DirectoryExists(platform::ExtractFilePath(s.FileName));
}

int TJobSettingsReader::BoundedInteger(const platform::IniFile& ini, const std::string& key, int def, int lo,
                                       int hi) const {
  std::int64_t v = def;
  if (auto p = platform::ParseClampedInteger(ini.ReadString("Scan", key, ""), true, lo, hi)) v = *p;
  if (auto p = platform::ParseClampedInteger(cmd_.ParamValue(key), false, lo, hi)) v = *p;
  return static_cast<int>(v);
}

int TJobSettingsReader::ReadLockWait() const {
  platform::IniFile ini(iniName_);
  return BoundedInteger(ini, "LockWait", kDefaultLockWait, 0, kMaxLockWait);
}

bool TJobSettingsReader::ReadHelp() const {
  platform::IniFile ini(iniName_);
  return ReadBool(ini, "Help") || cmd_.ParamSwitch("Help");
}

bool TJobSettingsReader::SettingsFileWritable() const {
  // A FIFO or device in the file's place counts as no settings file: writing to it could block.
  // Nor is a file too large to be read whole: writing it back would cut it short.
  // Its size says so without reading it (the job asks twice).
  std::error_code error;
  const auto size = std::filesystem::file_size(iniName_, error);
  return platform::IsRegularFile(iniName_) && !platform::IsReadOnly(iniName_) && !error &&
         size <= platform::kMaxIniFileSize;
}

void TJobSettingsReader::WriteScannersKey(const std::string& key, const std::string& value) const {
  WriteScannersKeys({{key, value}});
}

void TJobSettingsReader::WriteScannersKeys(const std::vector<std::pair<std::string, std::string>>& values) const {
  if (!platform::IniFile(iniName_).WriteStrings("Scanners", values)) throw EJobError("Unable to write to " + iniName_);
}

}  // namespace lumipage
