// PDF/A-1b: XMP metadata, output intent and file identifier (ISO 19005-1 6.7 and 6.2.2).
#include "pdf/PDFArchive.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "pdf/PDFArray.h"
#include "pdf/PDFDictionary.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFIndRef.h"
#include "pdf/PDFName.h"
#include "pdf/PDFStream.h"
#include "pdf/PDFString.h"
#include "pdf/SrgbProfile.h"

namespace lumipage {

namespace {

constexpr std::string_view kIntentSubtype = "GTS_PDFA1";
constexpr std::string_view kSrgbCondition = "sRGB IEC61966-2.1";
// An ICC profile's header: 128 bytes, the colour space at 16, the signature "acsp" at 36.
constexpr size_t kIccHeader = 128;

TPDFObject* Resolved(TPDFObject* value) {
  if (auto* ref = As<TPDFIndRef>(value)) return ref->Resolve();
  return value;
}

// ---- Text: Info strings to UTF-8, UTF-8 into XML ----

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// PDFDocEncoding (PDF Reference 1.7, Appendix D) where it differs from ISO Latin-1; 0 undefined.
char32_t PdfDocCharacter(uint8_t b) {
  static constexpr std::array<char32_t, 8> kLow{0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
  static constexpr std::array<char32_t, 33> kHigh{
      0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039, 0x203A, 0x2212,
      0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019, 0x201A, 0x2122, 0xFB01, 0xFB02, 0x0141,
      0x0152, 0x0160, 0x0178, 0x017D, 0x0131, 0x0142, 0x0153, 0x0161, 0x017E, 0,      0x20AC};
  if (b >= 0x18 && b <= 0x1F) return kLow[b - 0x18u];
  if (b >= 0x80 && b <= 0xA0) return kHigh[b - 0x80u];
  if (b == 0xAD) return 0;
  return b;
}

// A text string (PDF Reference 3.8.1): UTF-16BE after its byte order mark, else PDFDocEncoding.
std::u32string TextStringCharacters(std::string_view bytes) {
  std::u32string out;
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFE && static_cast<uint8_t>(bytes[1]) == 0xFF) {
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      char32_t u = static_cast<char32_t>(static_cast<uint8_t>(bytes[i]) << 8 | static_cast<uint8_t>(bytes[i + 1]));
      if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
        const auto low = static_cast<char32_t>(static_cast<uint8_t>(bytes[i + 2]) << 8 | static_cast<uint8_t>(bytes[i + 3]));
        if (low >= 0xDC00 && low <= 0xDFFF) {
          u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
          i += 2;
        }
      }
      out += u;
    }
    return out;
  }
  for (char c : bytes) out += PdfDocCharacter(static_cast<uint8_t>(c));
  return out;
}

// Characters XML 1.0 cannot hold are left out; markup characters are escaped.
std::string XmlText(std::string_view pdfText) {
  std::string out;
  for (char32_t c : TextStringCharacters(pdfText)) {
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || (c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE ||
        c == 0xFFFF || c == 0)
      continue;
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else AppendUtf8(out, c);
  }
  return out;
}

// ---- Dates ----

struct TPdfDateFields {
  int Year = 0, Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0;
  char Zone = 'Z';  // 'Z', '+' or '-'
  int ZoneHour = 0, ZoneMinute = 0;
  bool BareZ = false;  // the text ends in a bare "Z", which both forms can repeat as it is
};

std::optional<TPdfDateFields> ParsePdfDate(std::string_view text) {
  if (text.substr(0, 2) == "D:") text.remove_prefix(2);
  size_t p = 0;
  auto digits = [&](size_t n, int& value, int low, int high) {
    if (p + n > text.size()) return false;
    int v = 0;
    for (size_t i = 0; i < n; ++i) {
      const char c = text[p + i];
      if (c < '0' || c > '9') return false;
      v = v * 10 + (c - '0');
    }
    if (v < low || v > high) return false;
    value = v;
    p += n;
    return true;
  };
  TPdfDateFields f;
  if (!digits(4, f.Year, 0, 9999)) return std::nullopt;
  int* const fields[] = {&f.Month, &f.Day, &f.Hour, &f.Minute, &f.Second};
  static constexpr int kLow[] = {1, 1, 0, 0, 0}, kHigh[] = {12, 31, 23, 59, 59};
  for (size_t i = 0; i < 5 && p < text.size() && text[p] >= '0' && text[p] <= '9'; ++i)
    if (!digits(2, *fields[i], kLow[i], kHigh[i])) return std::nullopt;
  if (p == text.size()) return f;
  f.Zone = text[p++];
  f.BareZ = f.Zone == 'Z' && p == text.size();
  if (f.Zone == 'Z') {
    // Some writers follow Z with 00'00'.
    if (p < text.size() && !digits(2, f.ZoneHour, 0, 0)) return std::nullopt;
  } else if (f.Zone == '+' || f.Zone == '-') {
    if (!digits(2, f.ZoneHour, 0, 23)) return std::nullopt;
  } else {
    return std::nullopt;
  }
  if (p < text.size() && text[p] == '\'') ++p;
  if (p < text.size() && !digits(2, f.ZoneMinute, 0, 59)) return std::nullopt;
  if (p < text.size() && text[p] == '\'') ++p;
  if (p != text.size()) return std::nullopt;
  if (f.ZoneHour == 0 && f.ZoneMinute == 0) f.Zone = 'Z';
  return f;
}

// The date in the given layouts: date and time, then the zone (its sign, hours and minutes).
// Validators compare the zones as well as the instants, so both forms state UTC alike: as "Z"
// where the date said a bare "Z" (it stays as its writer put it), else as an offset.
std::string FormatDate(const TPdfDateFields& f, const char* dateTime, const char* zone) {
  char date[40];
  char offset[16];
  std::snprintf(date, sizeof date, dateTime, f.Year, f.Month, f.Day, f.Hour, f.Minute, f.Second);
  if (f.BareZ) return std::string(date) + "Z";
  std::snprintf(offset, sizeof offset, zone, f.Zone == 'Z' ? '+' : f.Zone, f.ZoneHour, f.ZoneMinute);
  return std::string(date) + offset;
}

std::string CanonicalPdfDate(const TPdfDateFields& f) { return FormatDate(f, "D:%04d%02d%02d%02d%02d%02d", "%c%02d'%02d'"); }

std::string XmpDate(const TPdfDateFields& f) { return FormatDate(f, "%04d-%02d-%02dT%02d:%02d:%02d", "%c%02d:%02d"); }

// ---- Info entries ----

// The string an Info entry holds; nothing for an absent entry or one that is no string.
std::optional<std::string> InfoString(TPDFDictionary* info, std::string_view key) {
  if (info == nullptr) return std::nullopt;
  if (auto* s = As<TPDFString>(Resolved(info->Get(key)))) return s->Value;
  return std::nullopt;
}

// The Info dictionary without creating one.
TPDFDictionary* ExistingInfo(TPDFDocument& doc) { return As<TPDFDictionary>(Resolved(doc.Trailer()->Get("Info"))); }

// The dates are stated in full, so that the metadata repeats them exactly; one that is no date
// at all cannot be repeated and goes.
void NormaliseInfoDates(TPDFDocument& doc) {
  TPDFDictionary* info = ExistingInfo(doc);
  if (info == nullptr) return;
  for (std::string_view key : {"CreationDate", "ModDate"}) {
    TPDFObject* value = Resolved(info->Get(key));
    if (value == nullptr) continue;
    auto* s = As<TPDFString>(value);
    const auto fields = s != nullptr ? ParsePdfDate(s->Value) : std::nullopt;
    if (!fields) {
      info->Remove(key);
      continue;
    }
    const std::string canonical = CanonicalPdfDate(*fields);
    if (s->Value != canonical) info->Put(key, doc.Structure().MakeString(canonical, TPDFString::kLiteral));
  }
}

// ---- Metadata and output intent ----

TPDFStream* MetadataStream(TPDFDocument& doc) { return As<TPDFStream>(Resolved(doc.Catalog()->Get("Metadata"))); }

// The value of an XMP property written as an element (<p>v</p>) or an attribute (p="v").
std::string XmpProperty(std::string_view xmp, std::string_view name) {
  const std::string open = "<" + std::string(name) + ">";
  if (const size_t at = xmp.find(open); at != std::string_view::npos) {
    const size_t start = at + open.size();
    const size_t end = xmp.find('<', start);
    if (end != std::string_view::npos) return std::string(xmp.substr(start, end - start));
  }
  for (const char quote : {'"', '\''}) {
    const std::string attribute = std::string(name) + "=" + quote;
    if (const size_t at = xmp.find(attribute); at != std::string_view::npos) {
      const size_t start = at + attribute.size();
      const size_t end = xmp.find(quote, start);
      if (end != std::string_view::npos) return std::string(xmp.substr(start, end - start));
    }
  }
  return {};
}

std::string Trimmed(std::string text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  size_t i = 0;
  while (i < text.size() && blank(text[i])) ++i;
  return text.substr(i);
}

// The GTS_PDFA1 output intent of the catalog, nullptr when there is none.
TPDFDictionary* PdfaIntent(TPDFDocument& doc) {
  auto* intents = As<TPDFArray>(Resolved(doc.Catalog()->Get("OutputIntents")));
  if (intents == nullptr) return nullptr;
  for (int i = 0; i < intents->Count(); ++i) {
    auto* intent = As<TPDFDictionary>(Resolved(intents->Item(i)));
    if (intent != nullptr && intent->GetText("S") == kIntentSubtype) return intent;
  }
  return nullptr;
}

// The profile's colour space signature ("RGB ", "GRAY", "CMYK"); empty when it is no ICC profile.
std::string ProfileColourSpace(TPDFDictionary* intent) {
  auto* profile = intent != nullptr ? As<TPDFStream>(Resolved(intent->Get("DestOutputProfile"))) : nullptr;
  if (profile == nullptr) return {};
  const std::string data = profile->Decode();
  if (data.size() < kIccHeader || data.compare(36, 4, "acsp") != 0) return {};
  return data.substr(16, 4);
}

TPDFIndRef* MakeProfileStream(TPDFDocument& doc) {
  TPDFStructure& s = doc.Structure();
  TPDFStream* profile = s.MakeStream("");
  profile->SetData(SrgbProfile(), true);
  profile->Dictionary()->Put("N", s.MakeNumber(3));
  return doc.MakeIndirect(profile);
}

void EnsureOutputIntent(TPDFDocument& doc) {
  TPDFStructure& s = doc.Structure();
  if (TPDFDictionary* intent = PdfaIntent(doc)) {
    if (!ProfileColourSpace(intent).empty()) return;
    // An intent without a usable profile is given ours, as a new one would have.
    intent->Put("DestOutputProfile", MakeProfileStream(doc));
    return;
  }
  TPDFDictionary* intent = s.MakeDictionary();
  intent->Put("Type", s.CommonName("OutputIntent"));
  intent->Put("S", s.MakeName(kIntentSubtype));
  intent->Put("OutputConditionIdentifier", s.MakeString(std::string(kSrgbCondition)));
  intent->Put("RegistryName", s.MakeString("http://www.color.org"));
  intent->Put("Info", s.MakeString(std::string(kSrgbCondition)));
  intent->Put("DestOutputProfile", MakeProfileStream(doc));
  TPDFDictionary* catalog = doc.Catalog();
  auto* intents = As<TPDFArray>(Resolved(catalog->Get("OutputIntents")));
  if (intents == nullptr) {
    intents = s.MakeArray();
    catalog->Put("OutputIntents", intents);
  }
  intents->Add(doc.MakeIndirect(intent));
}

// The trailer's /ID: an array of two strings (PDF Reference 10.3).
bool IdentifierValid(TPDFDocument& doc) {
  auto* id = As<TPDFArray>(doc.Trailer()->Get("ID"));
  return id != nullptr && id->Count() == 2 && As<TPDFString>(id->Item(0)) != nullptr &&
         As<TPDFString>(id->Item(1)) != nullptr;
}

// Whitespace that lets an editor rewrite the packet in place (XMP Specification Part 1, 7.3.2).
constexpr size_t kPacketPadding = 2048;

}  // namespace

std::string_view SrgbProfile() { return {reinterpret_cast<const char*>(kSrgbProfileData), kSrgbProfileSize}; }

std::string XmpDateFromPdfDate(std::string_view pdfDate) {
  const auto fields = ParsePdfDate(pdfDate);
  return fields ? XmpDate(*fields) : std::string();
}

TPdfaIdentification ReadPdfaIdentification(TPDFDocument& doc) {
  TPdfaIdentification id;
  TPDFObject* entry = Resolved(doc.Catalog()->Get("Metadata"));
  if (entry == nullptr) return id;
  auto* stream = As<TPDFStream>(entry);
  const std::string xmp = stream != nullptr ? stream->Decode() : std::string();
  const size_t rdf = xmp.find("<rdf:RDF");
  if (rdf == std::string::npos || xmp.find("</rdf:RDF>", rdf) == std::string::npos) {
    id.Claim = TPdfaClaim::Unreadable;
    return id;
  }
  const std::string part = Trimmed(XmpProperty(xmp, "pdfaid:part"));
  if (part.empty()) return id;
  if (part.size() > 2 || part.find_first_not_of("0123456789") != std::string::npos) {
    id.Claim = TPdfaClaim::Unreadable;
    return id;
  }
  id.Claim = TPdfaClaim::Claimed;
  id.Part = std::stoi(part);
  id.Conformance = Trimmed(XmpProperty(xmp, "pdfaid:conformance"));
  return id;
}

std::string PdfaAppendRefusal(TPDFDocument& doc, bool colourPages) {
  if (doc.SecurityState() != TSecurityState::Unprotected) return "it is protected with a password, which PDF/A does not allow";
  const TPdfaIdentification id = ReadPdfaIdentification(doc);
  if (id.Claim == TPdfaClaim::Unreadable) return "its metadata cannot be read";
  if (id.Claim == TPdfaClaim::None) return "it is not a PDF/A-1b file";
  if (id.Part != 1) return "it is a PDF/A-" + std::to_string(id.Part) + " file, not PDF/A-1b";
  // A file without device colour needs no output intent: it is given ours with the new pages.
  TPDFDictionary* intent = PdfaIntent(doc);
  if (intent == nullptr) return {};
  const std::string space = ProfileColourSpace(intent);
  if (space.empty()) return "its output intent has no colour profile";
  if (colourPages && space != "RGB ") return "its output intent is not for RGB colour";
  return {};
}

bool PdfaOutputIntentSuits(TPDFDocument& doc, bool colourPages) {
  const std::string space = ProfileColourSpace(PdfaIntent(doc));
  return !space.empty() && (!colourPages || space == "RGB ");
}

std::string PdfaMetadata(TPDFDocument& doc, int part) {
  TPDFDictionary* info = ExistingInfo(doc);
  std::string x = "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
                  "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
                  "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n";
  x += "<rdf:Description rdf:about=\"\" xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\">\n"
       "<pdfaid:part>" + std::to_string(part) + "</pdfaid:part>\n<pdfaid:conformance>B</pdfaid:conformance>\n"
       "</rdf:Description>\n";
  x += "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
       "<dc:format>application/pdf</dc:format>\n";
  if (auto title = InfoString(info, "Title"))
    x += "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">" + XmlText(*title) + "</rdf:li></rdf:Alt></dc:title>\n";
  if (auto author = InfoString(info, "Author"))
    x += "<dc:creator><rdf:Seq><rdf:li>" + XmlText(*author) + "</rdf:li></rdf:Seq></dc:creator>\n";
  if (auto subject = InfoString(info, "Subject"))
    x += "<dc:description><rdf:Alt><rdf:li xml:lang=\"x-default\">" + XmlText(*subject) +
         "</rdf:li></rdf:Alt></dc:description>\n";
  x += "</rdf:Description>\n";
  x += "<rdf:Description rdf:about=\"\" xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\">\n";
  if (auto producer = InfoString(info, "Producer")) x += "<pdf:Producer>" + XmlText(*producer) + "</pdf:Producer>\n";
  if (auto keywords = InfoString(info, "Keywords")) x += "<pdf:Keywords>" + XmlText(*keywords) + "</pdf:Keywords>\n";
  x += "</rdf:Description>\n";
  x += "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\">\n";
  if (auto creator = InfoString(info, "Creator")) x += "<xmp:CreatorTool>" + XmlText(*creator) + "</xmp:CreatorTool>\n";
  for (const auto& [key, property] : {std::pair<const char*, const char*>{"CreationDate", "xmp:CreateDate"},
                                      std::pair<const char*, const char*>{"ModDate", "xmp:ModifyDate"}}) {
    if (auto date = InfoString(info, key); date && !XmpDateFromPdfDate(*date).empty())
      x += std::string("<") + property + ">" + XmpDateFromPdfDate(*date) + "</" + property + ">\n";
  }
  x += "</rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n";
  for (size_t i = 0; i < kPacketPadding / 64; ++i) x += std::string(63, ' ') + "\n";
  x += "<?xpacket end=\"w\"?>";
  return x;
}

bool MakePdfa(TPDFDocument& doc, int part) {
  if (doc.SecurityState() != TSecurityState::Unprotected) return false;
  // A file identifier of anything but two strings is made anew.
  if (!IdentifierValid(doc)) doc.Trailer()->Delete("ID");
  (void)doc.EnsureID();
  NormaliseInfoDates(doc);
  EnsureOutputIntent(doc);
  TPDFStructure& s = doc.Structure();
  // The metadata stream stays unfiltered (ISO 19005-1 6.7.2): any reader finds the claim.
  const std::string xmp = PdfaMetadata(doc, part);
  TPDFStream* stream = MetadataStream(doc);
  if (stream == nullptr) {
    stream = s.MakeStream("");
    doc.Catalog()->Put("Metadata", doc.MakeIndirect(stream));
  }
  stream->SetData(xmp, false);
  stream->Dictionary()->Remove("DecodeParms");
  stream->Dictionary()->Put("Type", s.CommonName("Metadata"));
  stream->Dictionary()->Put("Subtype", s.MakeName("XML"));
  return true;
}

std::string PdfaFailure(TPDFDocument& doc) {
  if (doc.SecurityState() != TSecurityState::Unprotected) return "it is protected, which PDF/A does not allow";
  if (!IdentifierValid(doc)) return "it has no file identifier";
  TPDFStream* metadata = MetadataStream(doc);
  if (metadata == nullptr) return "it has no metadata";
  if (metadata->Dictionary()->Get("Filter") != nullptr) return "its metadata is compressed";
  const TPdfaIdentification claim = ReadPdfaIdentification(doc);
  if (claim.Claim != TPdfaClaim::Claimed || claim.Conformance != "B") return "its metadata does not claim PDF/A level B";
  if (metadata->RawData() != PdfaMetadata(doc, claim.Part)) return "its metadata does not repeat its document information";
  if (ProfileColourSpace(PdfaIntent(doc)).empty()) return "it has no output intent with a colour profile";
  return {};
}

}  // namespace lumipage
