#include "pdf/PDFDocument.h"

#include <nettle/md5.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <iterator>
#include <ostream>
#include <sstream>

#include "pdf/PDFExtra.h"
#include "pdf/PDFLimits.h"
#include "pdf/PDFParser.h"
#include "pdf/PDFRepair.h"
#include "pdf/PDFXRefReader.h"

namespace lumipage {

namespace {

std::string MD5(std::string_view data) {
  md5_ctx ctx;
  md5_init(&ctx);
  md5_update(&ctx, data.size(), reinterpret_cast<const uint8_t*>(data.data()));
  std::string digest(MD5_DIGEST_SIZE, '\0');
  md5_digest(&ctx, MD5_DIGEST_SIZE, reinterpret_cast<uint8_t*>(digest.data()));
  return digest;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A 32-bit decimal from a run of digits and points; 0 when it is not a valid integer.
int32_t RunToInt(std::string_view run) {
  if (run.empty() || run.size() > 10) return 0;
  int64_t v = 0;
  for (char c : run) {
    if (!IsDigit(c)) return 0;
    v = v * 10 + (c - '0');
  }
  return v > INT32_MAX ? 0 : static_cast<int32_t>(v);
}

}  // namespace

TPDFDocument::TPDFDocument() : structure_(std::make_unique<TPDFStructure>()) {
  structure_->OnLookup = [this](TPDFIndRef*, int32_t number, int32_t generation) -> TPDFObject* {
    TPDFIndObj* obj = FindIndirect(number, generation);
    return obj == nullptr ? nullptr : GetValue(obj);
  };
  structure_->OnRegister = [this](TPDFObject* value) -> std::pair<int32_t, int32_t> {
    TPDFIndObj* obj = AddIndirect(value);
    return {obj->Number, obj->Generation};
  };
  Reset();
}

TPDFDocument::~TPDFDocument() { ClearTempStore(); }

void TPDFDocument::Reset() {
  objects_.clear();
  byNumber_.clear();
  highestNumber_ = 0;
  structure_->Reset();
  trailer_ = structure_->MakeDictionary();
  fileText_.clear();
  xrefTableSize_ = 0;
  parseNesting_ = 0;
  objectStreamCache_ = ObjectStreamCache{};
  sectionOffsets_.clear();
  linearized_ = false;
  headerOffset_ = 0;
  repaired_ = false;
  trailerTaken_ = false;
  security_ = TPDFSecurity();
}

void TPDFDocument::AppendObject(std::unique_ptr<TPDFIndObj> object) {
  if (object->Number >= 0) {
    const auto n = static_cast<size_t>(object->Number);
    if (n >= byNumber_.size()) byNumber_.resize(n + 1, 0);
    if (byNumber_[n] == 0) byNumber_[n] = static_cast<uint32_t>(objects_.size() + 1);
  }
  if (object->Number > highestNumber_) highestNumber_ = object->Number;
  objects_.push_back(std::move(object));
}

TPDFIndObj* TPDFDocument::AddIndirect(TPDFObject* value) {
  auto* size = As<TPDFNumeric>(trailer_->Get("Size"));
  if (size == nullptr) {
    size = structure_->MakeNumber(1);
    trailer_->Put("Size", size);
  }
  const int32_t n = highestNumber_ + 1;
  auto obj = std::make_unique<TPDFIndObj>(*this);
  obj->Number = n;
  obj->Generation = 0;
  obj->Value = value;
  obj->Parsed = true;
  if (value != nullptr) value->MarkIndirect(n, 0);
  TPDFIndObj* result = obj.get();
  AppendObject(std::move(obj));
  size->Value = static_cast<double>(n) + 1;
  return result;
}

TPDFIndRef* TPDFDocument::MakeIndirect(TPDFObject* value) {
  TPDFIndObj* obj = AddIndirect(value);
  return structure_->MakeReference(obj->Number, obj->Generation);
}

TPDFIndObj* TPDFDocument::FindIndirect(int32_t number, int32_t generation) const {
  if (number < 0 || static_cast<size_t>(number) >= byNumber_.size()) return nullptr;
  const uint32_t slot = byNumber_[static_cast<size_t>(number)];
  if (slot != 0) {
    TPDFIndObj* first = objects_[slot - 1].get();
    if (first->Generation == generation) return first;
    // Several objects of one number: the first in list order with that generation.
    for (const auto& obj : objects_)
      if (obj->Number == number && obj->Generation == generation) return obj.get();
  }
  return nullptr;
}

TPDFObject* TPDFDocument::GetValue(TPDFIndObj* object) {
  if (object == nullptr) return nullptr;
  if (!object->Parsed) {
    if (parseNesting_ >= kMaxObjectNesting) return nullptr;
    ++parseNesting_;
    ParseObject(*object);
    --parseNesting_;
  }
  return object->Value;
}

void TPDFDocument::ParseObject(TPDFIndObj& object) {
  // Objects of a protected file's object streams cannot be read before a password opens it;
  // they stay unparsed so that they read correctly once it does.
  if (object.InObjectStream && security_.ActiveKey.empty() && SecurityState() == 1) return;
  // Marked first, so that a failing parse is not retried and a /Length that refers back to
  // this object finds no value instead of recursing.
  object.Parsed = true;
  const std::string text = object.RawText();
  if (object.InObjectStream) object.Decrypted = true;

  size_t p = 0;
  auto readRun = [&]() {
    while (p < text.size() && !IsDigit(text[p]) && text[p] != '.') ++p;
    const size_t start = p;
    while (p < text.size() && (IsDigit(text[p]) || text[p] == '.')) ++p;
    return RunToInt(std::string_view(text).substr(start, p - start));
  };
  const int32_t number = readRun();
  const int32_t generation = readRun();

  TPDFObject* value = nullptr;
  if (number == object.Number && generation == object.Generation) {
    while (p < text.size() && TPDFParser::IsWhite(static_cast<unsigned char>(text[p]))) ++p;
    std::string_view rest = std::string_view(text).substr(p);
    bool isObj = false;
    if (rest.starts_with("obj") &&
        (rest.size() == 3 || TPDFParser::IsDelimiter(static_cast<unsigned char>(rest[3])))) {
      isObj = true;
      rest.remove_prefix(3);
    } else {
      size_t k = 0;
      while (k < rest.size() && !TPDFParser::IsWhite(static_cast<unsigned char>(rest[k]))) ++k;
      isObj = rest.substr(0, k) == "obj";
      rest.remove_prefix(k);
    }
    while (!rest.empty() && TPDFParser::IsWhite(static_cast<unsigned char>(rest.front()))) rest.remove_prefix(1);
    if (isObj && !rest.empty()) {
      TPDFParser parser(*structure_, rest);
      value = parser.ParseFirst();
      // Objects of object streams are never streams themselves: whatever follows their
      // dictionary (a comment naming the next object, say) is no stream data.
      auto* dict = object.InObjectStream ? nullptr : As<TPDFDictionary>(value);
      if (dict != nullptr) {
        // The stream keyword is looked for after the dictionary, never inside it.
        const std::string_view after = rest.substr(parser.Position());
        TPDFObject* length = dict->Get("Length");
        if (auto* ref = As<TPDFIndRef>(length))
          length = GetValue(FindIndirect(ref->ObjectNumber(), ref->Generation()));
        const auto* n = As<TPDFNumeric>(length);
        size_t dataStart = 0;
        size_t count = 0;
        if (LocateStreamData(after, n != nullptr && n->Value >= 0 ? n->Value : -1, dataStart, count)) {
          TPDFStream* stream = structure_->MakeStream(std::string(after.substr(dataStart, count)));
          stream->Dictionary()->Assign(*dict);
          stream->SetRawData(std::move(stream->MutableRawData()));
          structure_->ReleaseObject(dict);
          value = stream;
        }
      }
    }
  }
  if (value == nullptr) value = structure_->MakeNull();
  value->MarkIndirect(object.Number, object.Generation);
  object.Value = value;
}

bool TPDFDocument::FillObjectStreamCache(TPDFIndObj& holder, TPDFStream* stream) {
  if (stream == nullptr) return false;
  // A protected document's object stream is decrypted as a whole, its objects with it.
  DecryptObject(holder);
  TPDFDictionary* dict = stream->Dictionary();
  if (dict->TypeName() != "ObjStm") return false;
  auto* first = As<TPDFNumeric>(dict->Get("First", true));
  auto* count = As<TPDFNumeric>(dict->Get("N", true));
  if (first == nullptr || count == nullptr || first->Value <= 0 || count->Value <= 0) return false;

  // Objects of one stream are mostly read one after another: its decoded data and header are
  // kept for the next read. Only one stream is kept at a time.
  ObjectStreamCache& c = objectStreamCache_;
  if (c.Holder == &holder && c.Stream == stream && c.Raw == stream->RawData().data() &&
      c.RawSize == stream->RawData().size())
    return true;
  c = ObjectStreamCache{};
  c.Holder = &holder;
  c.Stream = stream;
  c.Raw = stream->RawData().data();
  c.RawSize = stream->RawData().size();
  c.Data = stream->Decode();
  c.First = first->AsInteger();
  c.Count = count->AsInteger();
  c.CountValue = count->Value;
  if (c.First > 0 && static_cast<size_t>(c.First) <= c.Data.size()) {
    // The header pairs are parsed in a scratch pool: the document's pool keeps nothing.
    TPDFStructure scratch;
    if (auto* pairs = As<TPDFArray>(scratch.Parse("[ " + c.Data.substr(0, static_cast<size_t>(c.First)) + " ]"))) {
      c.Header.reserve(static_cast<size_t>(pairs->Count()));
      for (int i = 0; i < pairs->Count(); ++i) {
        auto* v = As<TPDFNumeric>(pairs->Item(i));
        c.Header.push_back(v == nullptr ? std::numeric_limits<double>::quiet_NaN() : v->Value);
      }
      c.Valid = true;
    }
  }
  return true;
}

bool TPDFDocument::DropParsedValue(TPDFIndObj& object) {
  if (!object.Parsed || object.TextCached || object.InObjectStream || object.Offset <= 0 || object.Length <= 0 ||
      SecurityState() != 0)
    return false;
  TPDFObject* value = object.Value;
  object.Value = nullptr;
  object.Parsed = false;
  if (value != nullptr) structure_->ReleaseIndirect(value);
  if (objectStreamCache_.Holder == &object) {
    // Its value is gone: a later parse must not pass for the cached one by address.
    objectStreamCache_.Stream = nullptr;
    objectStreamCache_.Raw = nullptr;
    objectStreamCache_.Dropped = true;
  }
  return true;
}

bool TPDFDocument::ObjectStreamBytes(const TPDFIndObj& object, std::string_view& bytes) {
  TPDFIndObj* holder = FindIndirect(object.StreamNumber, 0);
  if (holder == nullptr || holder == &object) return false;
  ObjectStreamCache& c = objectStreamCache_;
  // A holder dropped back to its file text after decoding (below) cannot have changed since.
  const bool dropped = c.Holder == holder && c.Dropped && !holder->Parsed;
  const bool wasParsed = holder->Parsed;
  auto* stream = dropped ? nullptr : As<TPDFStream>(GetValue(holder));
  if (!dropped && !FillObjectStreamCache(*holder, stream)) return false;
  // The stream's value is only a way to its decoded data: dropped again, it is not kept
  // beside the file text that still holds it.
  if (!dropped && !wasParsed) (void)DropParsedValue(*holder);
  const int64_t n = c.Count;
  if (!c.Valid || static_cast<int64_t>(c.Header.size()) < 2 * n) return false;
  // The cross-reference entry's index is taken when the header names the object there; else
  // the object is looked up by its number in the header (an index that is off, or a stream
  // that lists itself first, as qpdf reads them).
  size_t index = 0;
  bool found = false;
  if (object.StreamIndex >= 0 && static_cast<double>(object.StreamIndex) < c.CountValue &&
      c.Header[2 * static_cast<size_t>(object.StreamIndex)] == object.Number) {
    index = static_cast<size_t>(object.StreamIndex);
    found = true;
  }
  if (!found) {
    if (c.ByNumber.empty()) {
      c.ByNumber.reserve(static_cast<size_t>(n));
      for (size_t i = 0; i < static_cast<size_t>(n); ++i)
        if (!std::isnan(c.Header[2 * i])) c.ByNumber.emplace_back(c.Header[2 * i], i);
      std::stable_sort(c.ByNumber.begin(), c.ByNumber.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    const auto it = std::lower_bound(c.ByNumber.begin(), c.ByNumber.end(), static_cast<double>(object.Number),
                                     [](const auto& entry, double number) { return entry.first < number; });
    if (it == c.ByNumber.end() || it->first != object.Number) return false;
    index = it->second;
  }
  const double off = c.Header[2 * index + 1];
  if (!(off >= 0) || off > static_cast<double>(c.Data.size())) return false;
  size_t end = c.Data.size();
  if (static_cast<int64_t>(index) < n - 1) {
    const double next = c.Header[2 * index + 3];
    if (next >= 0 && next <= static_cast<double>(c.Data.size()))
      end = std::min(c.Data.size(), static_cast<size_t>(c.First) + static_cast<size_t>(next));
  }
  const size_t start = static_cast<size_t>(c.First) + static_cast<size_t>(off);
  if (start > end) return false;
  bytes = std::string_view(c.Data).substr(start, end - start);
  return true;
}

std::string TPDFDocument::ObjectStreamText(const TPDFIndObj& object) {
  const std::string header = std::to_string(object.Number) + ' ' + std::to_string(object.Generation) + " obj\r";
  std::string_view bytes;
  if (!ObjectStreamBytes(object, bytes)) return header + "null\rendobj";
  return header + std::string(bytes);
}

TPDFDictionary* TPDFDocument::Catalog() {
  if (auto* dict = As<TPDFDictionary>(trailer_->Get("Root", true))) return dict;
  TPDFDictionary* dict = structure_->MakeDictionary();
  trailer_->Put("Root", MakeIndirect(dict));
  return dict;
}

TPDFDictionary* TPDFDocument::PagesDictionary() { return As<TPDFDictionary>(Catalog()->Get("Pages", true)); }

TPDFDictionary* TPDFDocument::InfoDictionary() {
  if (auto* dict = As<TPDFDictionary>(trailer_->Get("Info", true))) return dict;
  TPDFDictionary* dict = structure_->MakeDictionary();
  trailer_->Put("Info", MakeIndirect(dict));
  return dict;
}

TPDFIndObj* TPDFDocument::InfoObject() {
  if (auto* ref = As<TPDFIndRef>(trailer_->Get("Info"))) {
    if (TPDFIndObj* obj = FindIndirect(ref->ObjectNumber(), ref->Generation())) return obj;
  }
  TPDFIndObj* obj = AddIndirect(structure_->MakeDictionary());
  trailer_->Put("Info", structure_->MakeReference(obj->Number, obj->Generation));
  return obj;
}

void TPDFDocument::SetInfo(std::string_view key, std::string_view text) {
  if (SecurityState() != 0) return;
  const std::string converted = EncodeTextString(text);
  TPDFDictionary* info = InfoDictionary();
  if (converted.empty()) {
    info->Remove(key);
    return;
  }
  TPDFObject* current = info->Get(key);
  if (auto* stream = As<TPDFStream>(current)) {
    stream->SetData("", false);
  } else if (auto* s = As<TPDFString>(current)) {
    s->Value = converted;
    return;
  }
  info->Put(key, structure_->MakeString(converted, TPDFString::kLiteral));
}

std::string TPDFDocument::GetInfo(std::string_view key) {
  const int state = SecurityState();
  if (state == 2) return {};
  if (state == 1) {
    if (security_.OpenPassword.empty()) return {};
    if (TPDFIndObj* info = InfoObject()) DecryptObject(*info);
  }
  TPDFObject* v = InfoDictionary()->Get(key, true);
  if (auto* s = As<TPDFString>(v)) return DecodeTextString(s->Value);
  if (auto* stream = As<TPDFStream>(v)) return DecodeTextString(stream->Decode());
  return {};
}

void TPDFDocument::SetVersion(std::string version) {
  version_ = std::move(version);
  versionSet_ = true;
}

TPDFArray* TPDFDocument::MakeID() {
  // The file identifier: MD5 of the current local time as a decimal day count, or of
  // SOURCE_DATE_EPOCH for reproducible output.
  const std::string digest = MD5(IdentifierSeed());
  TPDFString* id = structure_->MakeString(digest, TPDFString::kHexadecimal);
  TPDFArray* array = structure_->MakeArray();
  array->Add(id);
  array->Add(id);
  return array;
}

TPDFArray* TPDFDocument::EnsureID() {
  if (auto* array = As<TPDFArray>(trailer_->Get("ID", true))) return array;
  trailer_->Delete("ID");
  TPDFArray* array = MakeID();
  trailer_->Put("ID", array);
  return array;
}

bool TPDFDocument::NewDocument() {
  Reset();
  version_ = "1.4";
  TPDFStructure& s = *structure_;
  TPDFDictionary* info = s.MakeDictionary();
  TPDFDictionary* catalog = s.MakeDictionary();
  TPDFDictionary* pages = s.MakeDictionary();
  TPDFDictionary* page = s.MakeDictionary();
  TPDFDictionary* resources = s.MakeDictionary();
  const TPDFIndObj* pagesObj = AddIndirect(pages);

  static constexpr int32_t kLetter[] = {0, 0, 612, 792};
  page->Put("Type", s.CommonName("Page"));
  page->Put("Parent", s.MakeReference(pagesObj->Number, 0));
  page->Put("MediaBox", s.MakeIntegerArray(kLetter, 3));
  page->Put("CropBox", s.MakeIntegerArray(kLetter, 3));
  page->Put("Resources", resources);
  TPDFArray* procSet = s.MakeArray();
  for (const char* name : {"PDF", "Text", "ImageB", "ImageC", "ImageI"}) procSet->Add(s.MakeName(name));
  resources->Put("ProcSet", procSet);

  pages->Put("Type", s.CommonName("Pages"));
  pages->Put("Count", s.MakeNumber(1));
  TPDFArray* kids = s.MakeArray();
  kids->Add(MakeIndirect(page));
  pages->Put("Kids", kids);

  catalog->Put("Type", s.CommonName("Catalog"));
  catalog->Put("Pages", s.MakeReference(pagesObj->Number, 0));

  TPDFArray* id = MakeID();
  trailer_->Put("Root", MakeIndirect(catalog));
  trailer_->Put("Info", MakeIndirect(info));
  trailer_->Put("ID", id);
  return true;
}

int TPDFDocument::SecurityState() {
  TPDFObject* entry = trailer_->Get("Encrypt");
  if (entry == nullptr) return 0;
  if (auto* ref = As<TPDFIndRef>(entry)) entry = ref->Resolve();
  auto* dict = As<TPDFDictionary>(entry);
  return dict != nullptr && security_.ReadDictionary(*dict) ? 1 : 2;
}

namespace {

bool IsCrossReferenceData(const TPDFObject* value) {
  const auto* stream = As<TPDFStream>(value);
  if (stream == nullptr) return false;
  const std::string type = stream->Dictionary()->TypeName();
  return type == "ObjStm" || type == "XRef";
}

}  // namespace

std::string TPDFDocument::SaveText(TPDFIndObj& object) {
  if (!object.Parsed) {
    // Objects from object streams are written as ordinary objects; object streams and
    // cross-reference streams would dangle beside a classic table and are left out.
    if (object.InObjectStream && !object.TextCached && SecurityState() == 0) {
      // Copied as an ordinary object without parsing (objects in streams are never streams).
      std::string_view bytes;
      if (!ObjectStreamBytes(object, bytes)) return {};
      std::string text = std::to_string(object.Number) + ' ' + std::to_string(object.Generation) + " obj\n";
      text += bytes;
      text += "\nendobj\n";
      return text;
    }
    bool parse = object.InObjectStream;
    if (!parse && !object.TextCached) {
      const std::string_view raw =
          object.Offset > 0 && static_cast<size_t>(object.Offset) < fileText_.size()
              ? std::string_view(fileText_).substr(static_cast<size_t>(object.Offset), static_cast<size_t>(object.Length))
              : std::string_view();
      parse = raw.find("/ObjStm") != std::string_view::npos || raw.find("/XRef") != std::string_view::npos;
    }
    if (!parse) return object.RawText();
    GetValue(&object);
    if (IsCrossReferenceData(object.Value)) {
      // Parsed only to be recognised and left out: its file text still holds it.
      (void)DropParsedValue(object);
      return {};
    }
  }
  if (IsCrossReferenceData(object.Value)) return {};
  if (object.Decrypted && !security_.ActiveKey.empty() && SecurityState() == 1 && !IsEncryptObject(object)) {
    security_.CryptValue(object.Value, object.Number, object.Generation, true);
    object.Decrypted = false;
  }
  return object.ObjectText();
}

bool TPDFDocument::SaveToStream(std::ostream& out) {
  try {
    xrefTableSize_ = 0;
    // Written through a modest buffer: the document is never held twice, and a file stream
    // still gets few large writes (a write costs far more than copying 64 KB) rather than one
    // for every 8 KB of its own buffer.
    constexpr size_t kBuffer = size_t{64} << 10;
    std::string pending;
    pending.reserve(kBuffer);
    lastSaveResult_ = TSaveResult::WriteFailed;
    uint64_t written = saveOffsetOrigin_;
    auto flush = [&]() {
      out.write(pending.data(), static_cast<std::streamsize>(pending.size()));
      pending.clear();
      return static_cast<bool>(out);
    };
    // The last bytes written, for the look-back check before the table.
    std::string tail;
    auto put = [&](std::string_view text) {
      written += text.size();
      if (text.size() >= 10) {
        tail.assign(text.substr(text.size() - 10));
      } else {
        tail += text;
        if (tail.size() > 10) tail.erase(0, tail.size() - 10);
      }
      if (pending.size() + text.size() > kBuffer) {
        if (!flush()) return false;
        if (text.size() >= kBuffer) {
          out.write(text.data(), static_cast<std::streamsize>(text.size()));
          return static_cast<bool>(out);
        }
      }
      pending += text;
      return true;
    };
    if (!put("%PDF-" + version_ + "\n%\xE2\xE3\xCF\xD3\n")) return false;

    // One entry per number: offset << 16 | generation, 0 while the number is free. Offsets
    // are never 0 (the header comes first).
    std::vector<uint64_t> table(static_cast<size_t>(highestNumber_) + 1, 0);
    for (const auto& obj : objects_) {
      if (obj->Number <= 0) continue;
      uint64_t& entry = table[static_cast<size_t>(obj->Number)];
      if (entry != 0) continue;  // a second object of one number cannot be addressed
      std::string text = SaveText(*obj);
      if (text.empty()) continue;
      if (text.back() != '\n' && text.back() != '\r') text += '\n';
      // An entry that needs more digits would make the table unreadable.
      if (written > kMaxEntryOffset) {
        lastSaveResult_ = TSaveResult::TooLarge;
        return false;
      }
      entry = written << 16 | static_cast<uint64_t>(std::clamp(obj->Generation, 0, 65535));
      if (!put(text)) return false;
    }
    // Released at once: nothing else reads the decoded stream after the copy.
    objectStreamCache_ = ObjectStreamCache{};

    // The reader looks for "xref" in a window starting 10 bytes before it; copied text that
    // ends in an object header or in "xref" there would hide the table from it.
    if (tail.find(" obj") != std::string::npos || tail.find("xref") != std::string::npos) {
      if (!put(std::string(10, '\n'))) return false;
    }
    const uint64_t xref = written;
    std::string buf = "xref\n0 " + std::to_string(table.size()) + "\n";
    char line[40];
    for (size_t i = 0; i < table.size(); ++i) {
      const uint64_t entry = table[i];
      if (i == 0) {
        buf += "0000000000 65535 f \n";
      } else if (entry == 0) {
        buf += "0000000000 00000 f \n";
      } else {
        std::snprintf(line, sizeof line, "%010llu %05u n \n", static_cast<unsigned long long>(entry >> 16),
                      static_cast<unsigned>(entry & 0xFFFF));
        buf += line;
      }
      if (buf.size() >= 4096) {
        if (!put(buf)) return false;
        buf.clear();
      }
    }
    buf += "trailer\n";
    // A loaded trailer's /Size describes the old file; the table written here decides it.
    if (auto* size = As<TPDFNumeric>(trailer_->Get("Size"))) {
      size->Value = static_cast<double>(table.size());
    } else {
      trailer_->Put("Size", structure_->MakeNumber(static_cast<double>(table.size())));
    }
    trailer_->AppendText(buf, 0);
    buf += "startxref\n" + std::to_string(xref) + "\n%%EOF\n";
    if (!put(buf) || !flush()) return false;
    out.flush();
    xrefTableSize_ = table.size();
    if (out) lastSaveResult_ = TSaveResult::Saved;
    return static_cast<bool>(out);
  } catch (...) {
    return false;
  }
}

bool TPDFDocument::SaveToFile(const std::string& fileName) {
  std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  if (!SaveToStream(file)) return false;
  file.close();
  return !file.fail();
}

std::string TPDFDocument::SaveToString() {
  std::ostringstream out;
  if (!SaveToStream(out)) return {};
  return std::move(out).str();
}

bool TPDFDocument::SetTempStore(const std::string& fileName) {
  ClearTempStore();
  std::remove(fileName.c_str());
  tempStore_.open(fileName, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
  if (!tempStore_.is_open()) return false;
  tempStoreName_ = fileName;
  tempStoreReadPos_ = 0;
  return true;
}

void TPDFDocument::ClearTempStore() {
  if (tempStore_.is_open()) tempStore_.close();
  if (!tempStoreName_.empty()) std::remove(tempStoreName_.c_str());
  tempStoreName_.clear();
  tempStoreReadPos_ = 0;
}

namespace {

void PutLE32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}

uint32_t GetLE32(const char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(p[i]);
  return v;
}

}  // namespace

bool TPDFDocument::StoreText(int32_t number, std::string_view text) {
  if (!tempStore_.is_open() || text.size() > UINT32_MAX) return false;
  std::string record;
  PutLE32(record, static_cast<uint32_t>(number));
  PutLE32(record, static_cast<uint32_t>(text.size()));
  record += text;
  tempStore_.clear();
  tempStore_.seekp(0, std::ios::end);
  tempStore_.write(record.data(), static_cast<std::streamsize>(record.size()));
  tempStore_.flush();
  return static_cast<bool>(tempStore_);
}

std::string TPDFDocument::ReadStoredText(int32_t number) {
  if (!tempStore_.is_open()) return {};
  tempStore_.clear();
  tempStore_.seekg(0, std::ios::end);
  const std::streamoff end = tempStore_.tellg();
  auto scan = [&](std::streamoff from, std::streamoff to, std::string& text) {
    std::streamoff pos = from;
    char head[8];
    while (pos + 8 <= to) {
      tempStore_.seekg(pos);
      if (!tempStore_.read(head, 8)) return false;
      const uint32_t n = GetLE32(head);
      const uint32_t len = GetLE32(head + 4);
      const std::streamoff next = pos + 8 + static_cast<std::streamoff>(len);
      if (next > end) return false;
      if (static_cast<int32_t>(n) == number) {
        text.resize(len);
        if (!tempStore_.read(text.data(), len)) return false;
        tempStoreReadPos_ = next;
        return true;
      }
      pos = next;
    }
    return false;
  };
  std::string text;
  if (scan(tempStoreReadPos_, end, text) || scan(0, end, text)) return text;
  return {};
}

// ---- Loading ----

bool TPDFDocument::LoadFromStream(std::istream& in) {
  std::string bytes;
  try {
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (...) {
    Reset();
    return false;
  }
  return LoadFromString(std::move(bytes));
}

bool TPDFDocument::LoadFromString(std::string bytes) {
  bool ok = false;
  try {
    Reset();
    fileText_ = std::move(bytes);
    ok = Open();
  } catch (...) {
    ok = false;
  }
  if (!ok) Reset();
  try {
    ApplyPassword("");
  } catch (...) {
  }
  if (ok) {
    try {
      ok = CheckPages();
    } catch (...) {
      ok = false;
    }
    if (!ok) Reset();
  }
  return ok;
}

bool TPDFDocument::HasCatalog() { return As<TPDFDictionary>(trailer_->Get("Root", true)) != nullptr; }

bool TPDFDocument::Open() {
  if (!ReadHeader()) return false;
  // The cross-reference data as the file names it; then, for a file with junk before its
  // header, with offsets counted from the header; then rebuilt by scanning the file.
  bool ok = ReadCrossReference(0) && EntriesValid();
  if (!ok && headerOffset_ > 0) ok = ReadCrossReference(headerOffset_) && EntriesValid();
  if (!ok || !HasCatalog()) {
    if (!AllowRepair) return false;
    RepairObjectTable();
  }
  if (!HasCatalog()) return false;
  CheckLinearized();
  return true;
}

bool TPDFDocument::ReadHeader() {
  const std::string_view head = std::string_view(fileText_).substr(0, 1024);
  auto versionAfter = [&](size_t at, std::string& version) {
    if (at >= head.size()) return false;
    const std::string_view run = head.substr(at, 10);
    size_t k = 0;
    while (k < run.size() && (IsDigit(run[k]) || run[k] == '.')) ++k;
    version = std::string(run.substr(0, k));
    return IsNumber(version);
  };
  std::string version;
  bool found = false;
  const size_t ps = head.find("%!PS-Adobe-");
  if (ps != std::string_view::npos) {
    const size_t pdf = head.substr(ps + 11, 20).find("PDF-");
    if (pdf != std::string_view::npos) found = versionAfter(ps + 11 + pdf + 4, version);
  }
  if (!found) {
    const size_t pdf = head.find("%PDF-");
    if (pdf != std::string_view::npos) found = versionAfter(pdf + 5, version);
    if (found) headerOffset_ = static_cast<int64_t>(pdf);
  }
  if (!found) return false;
  version_ = version;
  return true;
}

bool TPDFDocument::ReadCrossReference(int64_t base) {
  // A second attempt starts afresh.
  sectionOffsets_.clear();
  trailer_ = structure_->MakeDictionary();
  objectStreamCache_ = ObjectStreamCache{};
  TPDFXRefReader reader(fileText_);
  reader.Base = base;
  std::vector<XRefEntry> entries;
  // Sections are read newest first: the first registration of a number wins.
  std::vector<bool> seen;
  reader.OnEntry = [&](int64_t number, int64_t value1, char kind, int64_t value2) {
    if (kind != 'n' && kind != 'c') return;
    if (number < 0 || number > kMaxObjectNumber) return;
    // An in-use entry at offset 0 is how some writers mark a deleted object.
    if (kind == 'n' && value1 <= base) return;
    const auto n = static_cast<size_t>(number);
    if (n >= seen.size()) seen.resize(std::max(n + 1, seen.size() * 2));
    if (seen[n]) return;
    seen[n] = true;
    XRefEntry e;
    e.Number = static_cast<int32_t>(n);
    e.Value1 = static_cast<int32_t>(std::clamp<int64_t>(value1, 0, INT32_MAX));
    e.Compressed = kind == 'c';
    e.Value2 = static_cast<int32_t>(e.Compressed ? std::clamp<int64_t>(value2, 0, INT32_MAX)
                                                 : std::clamp<int64_t>(value2, -1, 65535));
    entries.push_back(e);
  };
  reader.OnTrailer = [this](const std::string& text) { TakeTrailer(text); };
  reader.OnSection = [this](int64_t offset) {
    if (offset >= 0 && offset <= INT32_MAX) sectionOffsets_.push_back(static_cast<int32_t>(offset));
  };
  trailerTaken_ = false;
  const bool ok = reader.ReadSection(reader.FindStartXRef());
  BuildObjectTable(entries);
  return ok && trailerTaken_;
}

bool TPDFDocument::EntriesValid() {
  for (const auto& obj : objects_) {
    if (obj->InObjectStream) {
      if (FindIndirect(obj->StreamNumber, 0) == nullptr) return false;
    } else if (!ObjectHeaderAt(fileText_, obj->Offset, obj->Number, obj->Generation)) {
      return false;
    }
  }
  return true;
}

void TPDFDocument::TakeTrailer(const std::string& text) {
  if (trailerTaken_) return;
  auto* dict = As<TPDFDictionary>(structure_->Parse(text));
  if (dict == nullptr) return;
  // Keys describing the old file's cross-reference data would not fit the saved file.
  for (const char* key : {"Prev", "Type", "W", "Index", "Length", "Filter", "XRefStm", "DecodeParms"})
    dict->Delete(key);
  trailer_ = dict;
  trailerTaken_ = true;
}

void TPDFDocument::BuildObjectTable(const std::vector<XRefEntry>& entries) {
  // An object's text runs up to the next object or cross-reference section in the file.
  struct Item {
    int32_t key;
    int32_t tag;  // index into entries; -1 for a section
  };
  std::vector<Item> items;
  items.reserve(sectionOffsets_.size() + entries.size());
  for (int32_t offset : sectionOffsets_) items.push_back({offset, -1});
  for (size_t i = 0; i < entries.size(); ++i)
    items.push_back({entries[i].Compressed ? 0 : entries[i].Value1, static_cast<int32_t>(i)});
  std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.key < b.key; });
  objects_.clear();
  byNumber_.clear();
  highestNumber_ = 0;
  objects_.reserve(entries.size());
  const auto fileLength = static_cast<int64_t>(fileText_.size());
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].tag < 0) continue;
    const XRefEntry& e = entries[static_cast<size_t>(items[i].tag)];
    if (!e.Compressed && e.Value2 < 0) continue;
    const int64_t next = i + 1 < items.size() ? items[i + 1].key : fileLength;
    auto obj = std::make_unique<TPDFIndObj>(*this);
    obj->Number = e.Number;
    if (e.Compressed) {
      obj->InObjectStream = true;
      obj->StreamNumber = e.Value1;
      obj->StreamIndex = e.Value2;
      obj->Length = static_cast<int32_t>(std::clamp<int64_t>(next, 0, INT32_MAX));
    } else {
      obj->Generation = e.Value2;
      obj->Offset = e.Value1;
      obj->Length = static_cast<int32_t>(std::clamp<int64_t>(next - e.Value1, 0, INT32_MAX));
    }
    AppendObject(std::move(obj));
  }
}

void TPDFDocument::CheckLinearized() {
  linearized_ = false;
  const std::string_view head = std::string_view(fileText_).substr(0, 1024);
  if (head.find("/Linearized") == std::string_view::npos) return;
  const size_t obj = head.find(" obj");
  if (obj == std::string_view::npos) return;
  // The two digit runs before the first " obj": number and generation.
  size_t p = obj;
  int32_t values[2] = {0, 0};
  for (int k = 1; k >= 0; --k) {
    while (p > 0 && !IsDigit(head[p - 1])) --p;
    const size_t end = p;
    while (p > 0 && IsDigit(head[p - 1])) --p;
    values[k] = RunToInt(head.substr(p, end - p));
  }
  auto* dict = As<TPDFDictionary>(GetValue(FindIndirect(values[0], values[1])));
  if (dict == nullptr || dict->Get("Linearized") == nullptr) return;
  linearized_ = true;
  dict->Clear();  // a saved copy no longer claims to be linearized
}

void TPDFDocument::DecryptReachable(int32_t number, int32_t generation) {
  std::vector<std::pair<int32_t, int32_t>> pending{{number, generation}};
  std::vector<TPDFObject*> walk;
  // Objects that could not be decrypted (no password yet) keep their mark clear, so the walk
  // remembers what it visited by itself.
  std::unordered_set<TPDFIndObj*> visited;
  while (!pending.empty()) {
    const auto [n, g] = pending.back();
    pending.pop_back();
    TPDFIndObj* obj = FindIndirect(n, g);
    if (obj == nullptr || obj->Decrypted || !visited.insert(obj).second) continue;
    TPDFObject* value = GetValue(obj);
    DecryptObject(*obj);
    walk.assign(1, value);
    int steps = 0;
    while (!walk.empty() && ++steps < 10000000) {
      TPDFObject* v = walk.back();
      walk.pop_back();
      if (auto* ref = As<TPDFIndRef>(v)) {
        pending.emplace_back(ref->ObjectNumber(), ref->Generation());
      } else if (auto* d = As<TPDFDictionary>(v)) {
        for (int i = 0; i < d->Count(); ++i) walk.push_back(d->EntryAt(i).Value);
      } else if (auto* a = As<TPDFArray>(v)) {
        for (int i = 0; i < a->Count(); ++i) walk.push_back(a->Item(i));
      }
    }
  }
}

// ---- Security ----

std::string TPDFDocument::FirstID() {
  TPDFArray* id = EnsureID();
  auto* first = As<TPDFString>(id->Item(0));
  return first == nullptr ? std::string() : first->Value;
}

bool TPDFDocument::IsEncryptObject(const TPDFIndObj& object) {
  auto* ref = As<TPDFIndRef>(trailer_->Get("Encrypt"));
  return ref != nullptr && ref->ObjectNumber() == object.Number && ref->Generation() == object.Generation;
}

int TPDFDocument::EncryptionStrength() { return SecurityState() == 1 ? security_.KeyBits : 0; }

void TPDFDocument::ApplyPassword(std::string_view password) {
  if (SecurityState() != 1) return;
  const std::string id0 = FirstID();
  if (security_.CheckUser(password, id0) || security_.CheckOwner(password, id0)) {
    security_.OpenPassword = "!" + std::string(password);
    security_.ActiveKey = security_.FileKey;
  } else {
    security_.OpenPassword.clear();
  }
}

int TPDFDocument::SetPassword(std::string_view password) {
  const int state = SecurityState();
  if (state == 0) return 3;
  if (state == 2) return 4;
  const std::string id0 = FirstID();
  const bool user = security_.CheckUser(password, id0);
  const bool owner = security_.CheckOwner(password, id0);
  const int result = user && owner ? 5 : user ? 1 : owner ? 2 : 0;
  if (result == 0) {
    security_.OpenPassword.clear();
    return 0;
  }
  ApplyPassword(password);
  // The page tree could not be read before the password: it is checked now as on loading an
  // unprotected file (and rebuilt from the page objects found when it is broken).
  (void)CheckPages();
  return result;
}

void TPDFDocument::DecryptObject(TPDFIndObj& object) {
  if (object.Decrypted || security_.ActiveKey.empty() || SecurityState() != 1) return;
  if (IsEncryptObject(object)) return;  // the security dictionary itself is never encrypted
  TPDFObject* value = GetValue(&object);
  if (object.Decrypted) return;  // it came from an object stream, decrypted with it
  security_.CryptValue(value, object.Number, object.Generation, false);
  object.Decrypted = true;
}

void TPDFDocument::CryptAll(bool encrypt) {
  for (size_t i = 0; i < objects_.size(); ++i) {
    TPDFIndObj& obj = *objects_[i];
    if (obj.Decrypted) continue;
    TPDFObject* value = GetValue(&obj);
    if (obj.Decrypted) continue;
    if (!IsEncryptObject(obj)) security_.CryptValue(value, obj.Number, obj.Generation, encrypt);
    if (HasTempStore()) obj.Unload();
  }
}

void TPDFDocument::RemoveIndirect(TPDFIndObj* object) {
  auto it = std::find_if(objects_.begin(), objects_.end(), [&](const auto& o) { return o.get() == object; });
  if (it == objects_.end()) return;
  std::unique_ptr<TPDFIndObj> owned = std::move(*it);
  objects_.erase(it);
  if (objectStreamCache_.Holder == object) objectStreamCache_ = ObjectStreamCache{};
  byNumber_.assign(byNumber_.size(), 0);
  highestNumber_ = 0;
  for (size_t i = 0; i < objects_.size(); ++i) {
    const int32_t n = objects_[i]->Number;
    if (n >= 0 && byNumber_[static_cast<size_t>(n)] == 0) byNumber_[static_cast<size_t>(n)] = static_cast<uint32_t>(i + 1);
    highestNumber_ = std::max(highestNumber_, n);
  }
  if (owned->Value != nullptr) structure_->ReleaseIndirect(owned->Value);
}

int TPDFDocument::Unencrypt() {
  if (SecurityState() != 1 || security_.OpenPassword.empty()) return 0;
  const std::string password = security_.OpenPassword.substr(1);
  const std::string id0 = FirstID();
  if (!security_.CheckUser(password, id0)) (void)security_.CheckOwner(password, id0);
  security_.ActiveKey = security_.FileKey;
  CryptAll(false);
  TPDFObject* entry = trailer_->Get("Encrypt");
  trailer_->Remove("Encrypt");
  if (auto* ref = As<TPDFIndRef>(entry)) {
    // The security dictionary goes with the protection, unless the trailer also names it as the
    // catalog or the information dictionary (a damaged file): that object stays.
    auto namedAs = [&](const char* key) {
      const auto* other = As<TPDFIndRef>(trailer_->Get(key));
      return other != nullptr && other->ObjectNumber() == ref->ObjectNumber() && other->Generation() == ref->Generation();
    };
    TPDFIndObj* obj = FindIndirect(ref->ObjectNumber(), ref->Generation());
    if (obj != nullptr && !namedAs("Root") && !namedAs("Info") && As<TPDFDictionary>(GetValue(obj)) != nullptr)
      RemoveIndirect(obj);
  }
  security_ = TPDFSecurity();
  FinishWholeDocumentPass();
  return 1;
}

int TPDFDocument::Encrypt(std::string_view owner, std::string_view user, int strength, int32_t permissions) {
  if (SecurityState() != 0) return 103;
  if (strength < 0 || strength > 2) return 101;
  if (!TPDFSecurity::ValidPermissions(permissions)) return 102;
  try {
    TPDFSecurity& sec = security_;
    const bool aes = strength == 2;
    sec.SetA = permissions & 0xF;
    sec.SetB = (permissions >> 4) & 0xF;
    sec.Revision3 = strength >= 1;
    sec.KeyBytes = aes ? 32 : strength == 1 ? 16 : 5;
    sec.OwnerPassword = owner;
    sec.UserPassword = user;
    sec.O.clear();
    sec.U.clear();
    if (aes) {
      sec.StreamMethod = sec.StringMethod = sec.FileMethod = TCryptMethod::kAESV3;
      sec.ComputeRevision6();
    } else {
      sec.StreamMethod = sec.StringMethod = sec.FileMethod = TCryptMethod::kRC4;
      sec.Compute(FirstID());
    }
    sec.ActiveKey = sec.FileKey;
    CryptAll(true);

    TPDFStructure& s = *structure_;
    TPDFDictionary* dict = s.MakeDictionary();
    dict->Put("Filter", s.MakeName("Standard"));
    if (aes) {
      // AES-256 through one crypt filter for strings and streams alike.
      dict->Put("V", s.MakeNumber(5));
      dict->Put("R", s.MakeNumber(6));
      dict->Put("Length", s.MakeNumber(256));
      dict->Put("CF", s.Parse("<< /StdCF << /AuthEvent /DocOpen /CFM /AESV3 /Length 32 >> >>"));
      dict->Put("StmF", s.MakeName("StdCF"));
      dict->Put("StrF", s.MakeName("StdCF"));
    } else {
      dict->Put("V", s.MakeNumber(strength == 1 ? 2 : 1));
      dict->Put("R", s.MakeNumber(strength == 1 ? 3 : 2));
      if (strength == 1) dict->Put("Length", s.MakeNumber(128));
    }
    dict->Put("O", s.MakeString(sec.O, TPDFString::kHexadecimal));
    dict->Put("U", s.MakeString(sec.U, TPDFString::kHexadecimal));
    if (aes) {
      dict->Put("OE", s.MakeString(sec.OE, TPDFString::kHexadecimal));
      dict->Put("UE", s.MakeString(sec.UE, TPDFString::kHexadecimal));
      dict->Put("Perms", s.MakeString(sec.Perms, TPDFString::kHexadecimal));
    }
    dict->Put("P", s.MakeNumber(sec.P));
    trailer_->Put("Encrypt", MakeIndirect(dict));
    // AES-256 came with PDF 1.7's extension level 8 (ISO 32000-2 made it standard): readers
    // that know the version know the handler.
    if (aes && version_ < "1.7") version_ = "1.7";
    FinishWholeDocumentPass();
    return 0;
  } catch (...) {
    return 104;
  }
}

void TPDFDocument::FinishWholeDocumentPass() {
  if (!HasTempStore()) return;
  // The unloaded objects live in the store: the document is saved and loaded again whole.
  const std::string saved = SaveToString();
  ClearTempStore();
  if (!saved.empty()) (void)LoadFromString(saved);
}

}  // namespace lumipage
