#include "pdf/PDFDocument.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <unordered_set>
#include <utility>

#include "pdf/PDFDate.h"
#include "pdf/PDFLimits.h"
#include "pdf/PDFNumberText.h"
#include "pdf/PDFParser.h"
#include "pdf/PDFLexer.h"
#include "pdf/PDFStreamData.h"
#include "pdf/PDFTextString.h"
#include "platform/ByteOrder.h"

namespace lumipage {

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

void TPDFDocument::ClearObjects() {
  objects_.clear();
  byNumber_.clear();
  highestNumber_ = 0;
}

void TPDFDocument::Reset() {
  ClearObjects();
  structure_->Reset();
  trailer_ = structure_->MakeDictionary();
  fileText_.clear();
  parseNesting_ = 0;
  objectStreams_.Release();
  sectionOffsets_.clear();
  linearized_ = false;
  repaired_ = false;
  emptyPageTree_ = false;
  ClearSecurity();
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

void TPDFDocument::RemoveIndirect(TPDFIndObj* object) {
  auto it = std::find_if(objects_.begin(), objects_.end(), [&](const auto& o) { return o.get() == object; });
  if (it == objects_.end()) return;
  std::unique_ptr<TPDFIndObj> owned = std::move(*it);
  objects_.erase(it);
  objectStreams_.Forget(*object);
  byNumber_.assign(byNumber_.size(), 0);
  highestNumber_ = 0;
  for (size_t i = 0; i < objects_.size(); ++i) {
    const int32_t n = objects_[i]->Number;
    if (n >= 0 && byNumber_[static_cast<size_t>(n)] == 0) byNumber_[static_cast<size_t>(n)] = static_cast<uint32_t>(i + 1);
    highestNumber_ = std::max(highestNumber_, n);
  }
  if (owned->Value != nullptr) structure_->ReleaseIndirect(owned->Value);
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
  if (object.InObjectStream && !HasSecurityKey() && SecurityState() == TSecurityState::Standard) return;
  // Marked first, so that a failing parse is not retried and a /Length that refers back to
  // this object finds no value instead of recursing.
  object.Parsed = true;
  const std::string text = object.RawText();
  if (object.InObjectStream) object.Decrypted = true;

  size_t p = 0;
  auto readRun = [&]() {
    while (p < text.size() && !pdflex::IsDigit(text[p]) && text[p] != '.') ++p;
    const size_t start = p;
    while (p < text.size() && (pdflex::IsDigit(text[p]) || text[p] == '.')) ++p;
    return DigitRunToInt(std::string_view(text).substr(start, p - start));
  };
  const int32_t number = readRun();
  const int32_t generation = readRun();

  TPDFObject* value = nullptr;
  if (number == object.Number && generation == object.Generation) {
    std::string_view rest = std::string_view(text).substr(pdflex::SkipWhite(text, p));
    bool isObj = false;
    if (rest.starts_with("obj") &&
        (rest.size() == 3 || TPDFParser::IsDelimiter(static_cast<unsigned char>(rest[3])))) {
      isObj = true;
      rest.remove_prefix(3);
    } else {
      size_t k = 0;
      while (k < rest.size() && !pdflex::IsWhite(rest[k])) ++k;
      isObj = rest.substr(0, k) == "obj";
      rest.remove_prefix(k);
    }
    rest.remove_prefix(pdflex::SkipWhite(rest, 0));
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

bool TPDFDocument::DropParsedValue(TPDFIndObj& object) {
  if (!object.Parsed || object.TextCached || object.InObjectStream || object.Offset <= 0 || object.Length <= 0 ||
      SecurityState() != TSecurityState::Unprotected)
    return false;
  TPDFObject* value = object.Value;
  object.Value = nullptr;
  object.Parsed = false;
  if (value != nullptr) structure_->ReleaseIndirect(value);
  objectStreams_.HolderDropped(object);
  return true;
}

bool TPDFDocument::ObjectStreamBytes(const TPDFIndObj& object, std::string_view& bytes) {
  TPDFIndObj* holder = FindIndirect(object.StreamNumber, 0);
  if (holder == nullptr || holder == &object) return false;
  // A holder dropped back to its file text after decoding (below) cannot have changed since.
  if (!objectStreams_.HoldsDropped(*holder)) {
    const bool wasParsed = holder->Parsed;
    auto* stream = As<TPDFStream>(GetValue(holder));
    if (stream == nullptr) return false;
    // A protected document's object stream is decrypted as a whole, its objects with it.
    DecryptObject(*holder);
    if (!objectStreams_.Fill(*holder, stream)) return false;
    // The stream's value is only a way to its decoded data: dropped again, it is not kept
    // beside the file text that still holds it.
    if (!wasParsed) (void)DropParsedValue(*holder);
  }
  return objectStreams_.Bytes(object, bytes);
}

std::string TPDFDocument::ObjectStreamText(const TPDFIndObj& object) {
  const std::string header = std::to_string(object.Number) + ' ' + std::to_string(object.Generation) + " obj\r";
  std::string_view bytes;
  if (!ObjectStreamBytes(object, bytes)) return header + "null\rendobj";
  return header + std::string(bytes);
}

void TPDFDocument::SetEncryption(TPDFObject* entry) {
  if (entry == nullptr) {
    trailer_->Remove("Encrypt");
  } else {
    trailer_->Put("Encrypt", entry);
  }
  securityStateKnown_ = false;
}

// ---- Protection as objects are read and written ----

void TPDFDocument::ClearSecurity() {
  security_ = TPDFSecurity();
  securityStateKnown_ = false;
}

TSecurityState TPDFDocument::SecurityState() {
  if (!securityStateKnown_) {
    // Read before it is kept: resolving /Encrypt may parse objects that ask for the state again.
    const TSecurityState state = ReadSecurityState();
    securityState_ = state;
    securityStateKnown_ = true;
  }
  return securityState_;
}

TSecurityState TPDFDocument::ReadSecurityState() {
  TPDFObject* entry = trailer_->Get("Encrypt");
  if (entry == nullptr) return TSecurityState::Unprotected;
  if (auto* ref = As<TPDFIndRef>(entry)) entry = ref->Resolve();
  auto* dict = As<TPDFDictionary>(entry);
  return dict != nullptr && security_.ReadDictionary(*dict) ? TSecurityState::Standard : TSecurityState::Unsupported;
}

int TPDFDocument::EncryptionStrength() {
  return SecurityState() == TSecurityState::Standard ? security_.KeyBits : 0;
}

std::string TPDFDocument::FirstID() {
  auto* id = As<TPDFArray>(trailer_->Get("ID", true));
  TPDFObject* first = id == nullptr || id->Count() < 1 ? nullptr : id->Item(0);
  if (auto* ref = As<TPDFIndRef>(first)) first = ref->Resolve();
  auto* text = As<TPDFString>(first);
  return text == nullptr ? std::string() : text->Value;
}

TPasswordResult TPDFDocument::CheckPassword(std::string_view password) {
  // Readers take the first string of /ID, or an empty one when /ID is missing or not the pair
  // it should be; either may have been the writer's, so both are tried.
  std::string id0 = FirstID();
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool user = security_.CheckUser(password, id0);
    // The key of the check that passed, the user check's when both do: kept rather than
    // computed again (an AES-256 check runs 64 rounds of hashing).
    std::string userKey = user ? security_.FileKey : std::string();
    const bool owner = security_.CheckOwner(password, id0);
    if (user || owner) {
      if (user) security_.FileKey = std::move(userKey);
      return user && owner ? TPasswordResult::Both : user ? TPasswordResult::User : TPasswordResult::Owner;
    }
    if (id0.empty() || security_.Revision >= 5) break;
    id0.clear();
  }
  return TPasswordResult::Fails;
}

TPasswordResult TPDFDocument::ApplyPassword(std::string_view password) {
  const TSecurityState state = SecurityState();
  if (state == TSecurityState::Unprotected) return TPasswordResult::Unprotected;
  if (state == TSecurityState::Unsupported) return TPasswordResult::Unsupported;
  const TPasswordResult result = CheckPassword(password);
  if (result == TPasswordResult::Fails) {
    security_.OpenPassword.clear();
  } else {
    security_.OpenPassword = "!" + std::string(password);
    security_.ActiveKey = security_.FileKey;
  }
  return result;
}

bool TPDFDocument::IsEncryptObject(const TPDFIndObj& object) {
  auto* ref = As<TPDFIndRef>(trailer_->Get("Encrypt"));
  return ref != nullptr && ref->ObjectNumber() == object.Number && ref->Generation() == object.Generation;
}

void TPDFDocument::DecryptObject(TPDFIndObj& object) {
  if (object.Decrypted || !HasSecurityKey() || SecurityState() != TSecurityState::Standard) return;
  if (IsEncryptObject(object)) return;  // the security dictionary itself is never encrypted
  TPDFObject* value = GetValue(&object);
  if (object.Decrypted) return;  // it came from an object stream, decrypted with it
  security_.CryptValue(value, object.Number, object.Generation, false);
  object.Decrypted = true;
}

void TPDFDocument::EncryptForWriting(TPDFIndObj& object) {
  if (object.Decrypted && HasSecurityKey() && SecurityState() == TSecurityState::Standard && !IsEncryptObject(object)) {
    security_.CryptValue(object.Value, object.Number, object.Generation, true);
    object.Decrypted = false;
  }
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

void TPDFDocument::SetInfo(std::string_view key, std::string_view text) {
  if (SecurityState() != TSecurityState::Unprotected) return;
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

bool TPDFDocument::HasInfo(std::string_view key) {
  auto* info = As<TPDFDictionary>(trailer_->Get("Info", true));
  TPDFObject* value = info == nullptr ? nullptr : info->Get(key, true);
  return value != nullptr && As<TPDFNull>(value) == nullptr;
}

std::string TPDFDocument::GetInfo(std::string_view key) {
  const TSecurityState state = SecurityState();
  if (state == TSecurityState::Unsupported) return {};
  if (state == TSecurityState::Standard) {
    if (OpenPassword().empty()) return {};
    // Only an Info object is encrypted: one written into the trailer is plain text, and reading
    // must not put an empty object in its place.
    if (auto* ref = As<TPDFIndRef>(trailer_->Get("Info")))
      if (TPDFIndObj* info = FindIndirect(ref->ObjectNumber(), ref->Generation())) DecryptObject(*info);
  }
  auto* info = As<TPDFDictionary>(trailer_->Get("Info", true));
  TPDFObject* v = info == nullptr ? nullptr : info->Get(key, true);
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
  const std::string digest = TPDFSecurity::MD5(IdentifierSeed());
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

void TPDFDocument::TakeFileText(std::string bytes) {
  Reset();
  fileText_ = std::move(bytes);
}

TLoadedFile TPDFDocument::File() const {
  TLoadedFile file;
  file.Version = version_;
  file.Trailer = trailer_;
  file.SectionOffsets = sectionOffsets_;
  file.Repaired = repaired_;
  file.Linearized = linearized_;
  file.EmptyPageTree = emptyPageTree_;
  return file;
}

void TPDFDocument::TakeFile(TLoadedFile file) {
  version_ = std::move(file.Version);
  trailer_ = file.Trailer;
  sectionOffsets_ = std::move(file.SectionOffsets);
  repaired_ = file.Repaired;
  linearized_ = file.Linearized;
  emptyPageTree_ = file.EmptyPageTree;
  securityStateKnown_ = false;
}

void TPDFDocument::TakeObjects(std::vector<std::unique_ptr<TPDFIndObj>> objects) {
  ClearObjects();
  objects_.reserve(objects.size());
  for (auto& object : objects) AppendObject(std::move(object));
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

uint32_t GetLE32(const char* p) { return platform::LoadLE32(p); }

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

}  // namespace lumipage
