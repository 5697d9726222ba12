#include "app/JobSettings.h"

#include <algorithm>
#include <cstring>
#include <vector>
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

// How a setting is read: a switch of a group of choices (the file's keys, then the command
// line's switches; of those set, the highest rank wins), a switch, an integer (the file's value
// unless the command line has a valid one), an integer cut to bounds, a text (the command line's
// unless empty, else the file's), the PDF encryption, or a text of the command line alone.
// A keyword (one of Words, any case; empty: the first) is read as a text and refused when it is
// none of them.
enum class TOptionKind { Choice, Flag, Integer, Bounded, Text, Encryption, CommandText, Keyword };

struct TOption {
  const char* Name;   // on the command line, and the key in [Scan] unless Key says otherwise
  const char* Usage;  // what follows the name in the usage text; nullptr: a switch
  TOptionKind Kind;
  void (*Set)(TJobSettings&, int) = nullptr;  // Choice, Integer, Bounded, Encryption
  int Value = 0;   // Choice: the value chosen; Integer, Bounded: the default
  int Rank = 0;    // Choice
  int Lo = 0, Hi = 0;  // Bounded
  bool TJobSettings::*Flag = nullptr;
  std::string TJobSettings::*Text = nullptr;
  const char* Key = nullptr;          // Text: the key in [Scan] when it is spelt otherwise
  const char* TextDefault = "";       // Text
  const char* const* Words = nullptr;  // Keyword: its words, nullptr-terminated; Set takes the index
};

namespace {

void SetFormat(TJobSettings& s, int v) { s.OutputFormat = static_cast<TOutputFormat>(v); }
void SetPaper(TJobSettings& s, int v) { s.PaperMode = static_cast<TPaperMode>(v); }
void SetResolution(TJobSettings& s, int v) { s.Resolution = v; }
void SetIndicator(TJobSettings& s, int v) { s.Indicator = static_cast<TIndicator>(v); }
void SetJpgQuality(TJobSettings& s, int v) { s.JpgQuality = v; }
void SetLockWait(TJobSettings& s, int v) { s.LockWait = v; }
void SetWaitForPaper(TJobSettings& s, int v) { s.WaitForPaper = v; }
void SetRetryBusy(TJobSettings& s, int v) { s.RetryBusy = v; }
void SetEncryption(TJobSettings& s, int v) { s.PDFEncryption = static_cast<TPdfEncryption>(v); }
void SetSeparator(TJobSettings& s, int v) { s.Separator = static_cast<TSeparator>(v); }
void SetSeparatorName(TJobSettings& s, int v) { s.SeparatorName = static_cast<TSeparatorName>(v); }

// In the order of the enums.
constexpr const char* kSeparatorWords[] = {"", "patch", "barcode", "blank", nullptr};
constexpr const char* kSeparatorNameWords[] = {"", "barcode", nullptr};

using K = TOptionKind;
using S = TJobSettings;

// Every setting, in the order the usage text lists them. Of the formats the first given wins,
// of the papers the last.
const TOption kOptions[] = {
    {"bmp", nullptr, K::Choice, SetFormat, ofBmp, 5},
    {"jpg", nullptr, K::Choice, SetFormat, ofJpeg, 4},
    {"tif", nullptr, K::Choice, SetFormat, ofTiff, 3},
    {"multi_tif", nullptr, K::Choice, SetFormat, ofMultiTiff, 2},
    {"pdf", nullptr, K::Choice, SetFormat, ofPdf, 1},
    {.Name = "Mono", .Usage = nullptr, .Kind = K::Flag, .Flag = &S::Mono},
    {.Name = "ScanMono", .Usage = nullptr, .Kind = K::Flag, .Flag = &S::ScanMono},
    {"A4", nullptr, K::Choice, SetPaper, pmA4, 1},
    {"Letter", nullptr, K::Choice, SetPaper, pmLetter, 2},
    {"Bank", nullptr, K::Choice, SetPaper, pmBank, 3},
    {.Name = "selectscanner", .Usage = nullptr, .Kind = K::Flag, .Flag = &S::SelectScanner},
    {.Name = "ShowUI", .Usage = nullptr, .Kind = K::Flag, .Flag = &S::ShowUI},
    {.Name = "ShowProgress", .Usage = nullptr, .Kind = K::Flag, .Flag = &S::ShowProgress},
    {.Name = "noscan", .Usage = nullptr, .Kind = K::Flag, .Flag = &S::NoScan},
    {.Name = "NoADF", .Usage = nullptr, .Kind = K::Flag, .Flag = &S::NoADF},
    {.Name = "Duplex", .Usage = nullptr, .Kind = K::Flag, .Flag = &S::Duplex},
    {.Name = "Film", .Usage = nullptr, .Kind = K::Flag, .Flag = &S::Film},
    {.Name = "MonoEnhance", .Usage = nullptr, .Kind = K::Flag, .Flag = &S::MonoEnhance},
    {.Name = "Append", .Usage = nullptr, .Kind = K::Flag, .Flag = &S::Append},
    {.Name = "AutoRotate", .Usage = nullptr, .Kind = K::Flag, .Flag = &S::AutoRotate},
    {.Name = "SkipBlank", .Usage = nullptr, .Kind = K::Flag, .Flag = &S::SkipBlank},
    {.Name = "Deskew", .Usage = nullptr, .Kind = K::Flag, .Flag = &S::Deskew},
    {.Name = "PDFA", .Usage = nullptr, .Kind = K::Flag, .Flag = &S::PDFA},
    {.Name = "MonoText", .Usage = nullptr, .Kind = K::Flag, .Flag = &S::MonoText},
    {.Name = "Help", .Usage = nullptr, .Kind = K::Flag, .Flag = &S::Help},
    {"Resolution", "N", K::Integer, SetResolution, 200},
    {"Indicator", "N", K::Integer, SetIndicator, inProgramFolder},
    {"jpg_quality", "N", K::Integer, SetJpgQuality, 85},
    {.Name = "Scanner", .Usage = "N|name|SANE device", .Kind = K::Text, .Text = &S::Scanner},
    {.Name = "prodname", .Usage = "text", .Kind = K::Text, .Text = &S::ProdName, .Key = "ProdName",
     .TextDefault = "Orrinwell Lumipage"},
    {.Name = "ScanArea", .Usage = "l,t,r,b (mm)", .Kind = K::Text, .Text = &S::ScanArea},
    {.Name = "PDFPassword", .Usage = "text", .Kind = K::Text, .Text = &S::PDFPassword},
    {"PDFEncryption", "RC4|AES256", K::Encryption, SetEncryption},
    {.Name = "filename", .Usage = "path", .Kind = K::Text, .Text = &S::FileName},
    {.Name = "Banner", .Usage = "text", .Kind = K::CommandText, .Text = &S::Banner},
    {.Name = "OCR", .Usage = "langs (eng or eng+deu)", .Kind = K::Text, .Text = &S::OcrLanguages},
    {"LockWait", "N", K::Bounded, SetLockWait, kDefaultLockWait, 0, 0, kMaxLockWait},
    {"WaitForPaper", "N", K::Bounded, SetWaitForPaper, 0, 0, 0, kMaxWaitSeconds},
    {"RetryBusy", "N", K::Bounded, SetRetryBusy, 0, 0, 0, kMaxWaitSeconds},
    {.Name = "Separator", .Usage = "patch|barcode|blank", .Kind = K::Keyword, .Set = SetSeparator,
     .Words = kSeparatorWords},
    {.Name = "SeparatorText", .Usage = "text", .Kind = K::Text, .Text = &S::SeparatorText,
     .TextDefault = kDefaultSeparatorText},
    {.Name = "SeparatorName", .Usage = "barcode", .Kind = K::Keyword, .Set = SetSeparatorName,
     .Words = kSeparatorNameWords},
};

const TOption& OptionNamed(const char* name) {
  for (const TOption& o : kOptions)
    if (std::strcmp(o.Name, name) == 0) return o;
  throw std::logic_error(std::string("no option ") + name);
}

// Words joined by separator into lines of at most kUsageWidth characters, the lines after the
// first indented under the first.
constexpr std::size_t kUsageWidth = 91;
void AppendWrapped(std::string& out, const char* head, const std::vector<std::string>& words) {
  std::string line = head;
  const std::string indent(line.size(), ' ');
  bool first = true;
  for (const std::string& word : words) {
    if (!first && line.size() + 1 + word.size() > kUsageWidth) {
      out += line + "\n";
      line = indent;
      first = true;
    }
    line += (first ? "" : " ") + word;
    first = false;
  }
  out += line + "\n";
}

}  // namespace

std::string OptionsUsage() {
  std::vector<std::string> switches, pairs;
  for (const TOption& o : kOptions) {
    if (o.Usage == nullptr)
      switches.emplace_back(o.Name);
    else
      pairs.push_back(std::string(o.Name) + " " + o.Usage + ",");
  }
  if (!pairs.empty()) pairs.back().pop_back();
  std::string out;
  AppendWrapped(out, "Switches: ", switches);
  AppendWrapped(out, "Pairs:    ", pairs);
  return out;
}

void TJobSettingsReader::ReadOption(const platform::IniFile& ini, const TOption& o, TJobSettings& s,
                                    TChoices& choices) const {
  switch (o.Kind) {
    case TOptionKind::Choice:
      // The file's keys, then the switches: a switch given overrides every key.
      if (ReadBool(ini, o.Name) && (!choices.File || o.Rank > choices.File->Rank)) choices.File = &o;
      if (cmd_.ParamSwitch(o.Name) && (!choices.Command || o.Rank > choices.Command->Rank)) choices.Command = &o;
      break;
    case TOptionKind::Flag:
      s.*o.Flag = ReadBool(ini, o.Name) || cmd_.ParamSwitch(o.Name);
      break;
    case TOptionKind::Integer: {
      int v = ReadInt(ini, o.Name, o.Value);
      if (auto p = ParseInteger(cmd_.ParamValue(o.Name), false)) v = *p;
      o.Set(s, v);
      break;
    }
    case TOptionKind::Bounded:
      o.Set(s, BoundedInteger(ini, o.Name, o.Value, o.Lo, o.Hi));
      break;
    case TOptionKind::Text: {
      std::string v = cmd_.ParamValue(o.Name);
      s.*o.Text = v.empty() ? ini.ReadString("Scan", o.Key ? o.Key : o.Name, o.TextDefault) : v;
      break;
    }
    case TOptionKind::Encryption:
      // Like the integers: the file's value unless the command line has a valid one.
      if (auto e = ParsePdfEncryption(ini.ReadString("Scan", o.Name, ""))) o.Set(s, *e);
      if (auto e = ParsePdfEncryption(cmd_.ParamValue(o.Name))) o.Set(s, *e);
      break;
    case TOptionKind::CommandText:
      s.*o.Text = cmd_.ParamValue(o.Name);
      break;
    case TOptionKind::Keyword: {
      // A word misspelt would quietly run another job (one file instead of many): refused before
      // anything is touched.
      std::string v = cmd_.ParamValue(o.Name);
      if (v.empty()) v = ini.ReadString("Scan", o.Name, "");
      int index = -1;
      for (int i = 0; o.Words[i] != nullptr; ++i)
        if (SameText(v, o.Words[i])) index = i;
      if (index < 0) {
        std::string words;
        for (int i = 1; o.Words[i] != nullptr; ++i) words += std::string(words.empty() ? "" : ", ") + o.Words[i];
        throw EJobError(std::string("Invalid ") + o.Name + " \"" + Escaped(v) + "\" (" + words + " or empty)");
      }
      o.Set(s, index);
      break;
    }
  }
}

TJobSettings TJobSettingsReader::LoadJobSettings() const {
  platform::IniFile ini(iniName_);
  TJobSettings s;
  s.ExeFolder = exeFolder_;
  TChoices formats, papers;
  for (const TOption& o : kOptions) ReadOption(ini, o, s, o.Set == SetPaper ? papers : formats);
  for (const TChoices* c : {&formats, &papers}) {
    if (const TOption* chosen = c->Command ? c->Command : c->File) chosen->Set(s, chosen->Value);
  }

  if (s.OutputFormat == ofTiff || s.OutputFormat == ofMultiTiff || (s.OutputFormat == ofPdf && s.Mono))
    s.Extension = ".tif";
  else if (s.OutputFormat == ofJpeg || s.OutputFormat == ofPdf)
    s.Extension = ".jpg";
  else
    s.Extension = ".bmp";
  s.ScanAreaMm = ParseScanArea(s.ScanArea);

  RefuseMultiLineText(s);
  // An empty text is no barcode anyone can print.
  if (s.SeparatorText.empty()) s.SeparatorText = kDefaultSeparatorText;

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
               {"OCR", s.OcrLanguages, false},           {"SeparatorText", s.SeparatorText, false},
               {"PDFPassword", s.PDFPassword, true}};
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

TJobSettings TJobSettingsReader::ReadOneOption(const char* name) const {
  platform::IniFile ini(iniName_);
  TJobSettings s;
  TChoices unused;
  ReadOption(ini, OptionNamed(name), s, unused);
  return s;
}

int TJobSettingsReader::ReadLockWait() const { return ReadOneOption("LockWait").LockWait; }

bool TJobSettingsReader::ReadHelp() const { return ReadOneOption("Help").Help; }

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
