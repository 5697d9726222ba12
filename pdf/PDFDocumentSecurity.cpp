#include "pdf/PDFDocumentSecurity.h"

#include <unordered_set>
#include <utility>
#include <vector>

#include "pdf/PDFDocument.h"
#include "pdf/PDFLoader.h"

namespace lumipage {

TSecurityState TPDFDocumentSecurity::State() {
  if (!stateKnown_) {
    // Read before it is kept: resolving /Encrypt may parse objects that ask for the state again.
    const TSecurityState state = ReadState();
    state_ = state;
    stateKnown_ = true;
  }
  return state_;
}

TSecurityState TPDFDocumentSecurity::ReadState() {
  TPDFObject* entry = document_.Trailer()->Get("Encrypt");
  if (entry == nullptr) return TSecurityState::Unprotected;
  if (auto* ref = As<TPDFIndRef>(entry)) entry = ref->Resolve();
  auto* dict = As<TPDFDictionary>(entry);
  return dict != nullptr && handler_.ReadDictionary(*dict) ? TSecurityState::Standard : TSecurityState::Unsupported;
}

std::string TPDFDocumentSecurity::FirstID() {
  // Read, never made: an ID added to a protected file would change the key readers compute.
  auto* id = As<TPDFArray>(document_.Trailer()->Get("ID", true));
  TPDFObject* first = id == nullptr || id->Count() < 1 ? nullptr : id->Item(0);
  if (auto* ref = As<TPDFIndRef>(first)) first = ref->Resolve();
  auto* text = As<TPDFString>(first);
  return text == nullptr ? std::string() : text->Value;
}

TPasswordResult TPDFDocumentSecurity::CheckPassword(std::string_view password) {
  // Readers take the first string of /ID, or an empty one when /ID is missing or not the pair
  // it should be; either may have been the writer's, so both are tried.
  std::string id0 = FirstID();
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool user = handler_.CheckUser(password, id0);
    // The key of the check that passed, the user check's when both do: kept rather than
    // computed again (an AES-256 check runs 64 rounds of hashing).
    std::string userKey = user ? handler_.FileKey : std::string();
    const bool owner = handler_.CheckOwner(password, id0);
    if (user || owner) {
      if (user) handler_.FileKey = std::move(userKey);
      return user && owner ? TPasswordResult::Both : user ? TPasswordResult::User : TPasswordResult::Owner;
    }
    if (id0.empty() || handler_.Revision >= 5) break;
    id0.clear();
  }
  return TPasswordResult::Fails;
}

bool TPDFDocumentSecurity::IsEncryptObject(const TPDFIndObj& object) {
  auto* ref = As<TPDFIndRef>(document_.Trailer()->Get("Encrypt"));
  return ref != nullptr && ref->ObjectNumber() == object.Number && ref->Generation() == object.Generation;
}

int TPDFDocumentSecurity::Strength() { return State() == TSecurityState::Standard ? handler_.KeyBits : 0; }

void TPDFDocumentSecurity::ApplyPassword(std::string_view password) {
  if (State() != TSecurityState::Standard) return;
  if (CheckPassword(password) != TPasswordResult::Fails) {
    handler_.OpenPassword = "!" + std::string(password);
    handler_.ActiveKey = handler_.FileKey;
  } else {
    handler_.OpenPassword.clear();
  }
}

TPasswordResult TPDFDocumentSecurity::SetPassword(std::string_view password) {
  const TSecurityState state = State();
  if (state == TSecurityState::Unprotected) return TPasswordResult::Unprotected;
  if (state == TSecurityState::Unsupported) return TPasswordResult::Unsupported;
  const TPasswordResult result = CheckPassword(password);
  if (result == TPasswordResult::Fails) {
    handler_.OpenPassword.clear();
    return result;
  }
  handler_.OpenPassword = "!" + std::string(password);
  handler_.ActiveKey = handler_.FileKey;
  // The page tree could not be read before the password: it is checked now as on loading an
  // unprotected file (and rebuilt from the page objects found when it is broken).
  (void)TPDFLoader(document_).CheckPages();
  return result;
}

void TPDFDocumentSecurity::Decrypt(TPDFIndObj& object) {
  if (object.Decrypted || !HasKey() || State() != TSecurityState::Standard) return;
  if (IsEncryptObject(object)) return;  // the security dictionary itself is never encrypted
  TPDFObject* value = document_.GetValue(&object);
  if (object.Decrypted) return;  // it came from an object stream, decrypted with it
  handler_.CryptValue(value, object.Number, object.Generation, false);
  object.Decrypted = true;
}

void TPDFDocumentSecurity::CryptAll(bool encrypt) {
  for (size_t i = 0; i < document_.ObjectCount(); ++i) {
    TPDFIndObj& obj = *document_.ObjectAt(i);
    if (obj.Decrypted) continue;
    TPDFObject* value = document_.GetValue(&obj);
    if (obj.Decrypted) continue;
    if (!IsEncryptObject(obj)) handler_.CryptValue(value, obj.Number, obj.Generation, encrypt);
    if (document_.HasTempStore()) obj.Unload();
  }
}

bool TPDFDocumentSecurity::Unencrypt() {
  // The open password was checked when it opened the document, and ActiveKey is the key it
  // unlocked: it is not checked again.
  if (State() != TSecurityState::Standard || handler_.OpenPassword.empty()) return false;
  CryptAll(false);
  TPDFObject* entry = document_.Trailer()->Get("Encrypt");
  document_.SetEncryption(nullptr);
  if (auto* ref = As<TPDFIndRef>(entry)) {
    // The security dictionary goes with the protection, unless the trailer also names it as the
    // catalog or the information dictionary (a damaged file): that object stays.
    auto namedAs = [&](const char* key) {
      const auto* other = As<TPDFIndRef>(document_.Trailer()->Get(key));
      return other != nullptr && other->ObjectNumber() == ref->ObjectNumber() && other->Generation() == ref->Generation();
    };
    TPDFIndObj* obj = document_.FindIndirect(ref->ObjectNumber(), ref->Generation());
    if (obj != nullptr && !namedAs("Root") && !namedAs("Info") && As<TPDFDictionary>(document_.GetValue(obj)) != nullptr)
      document_.RemoveIndirect(obj);
  }
  Reset();
  FinishWholeDocumentPass();
  return true;
}

TPDFError TPDFDocumentSecurity::Encrypt(std::string_view owner, std::string_view user, int strength,
                                        int32_t permissions) {
  if (State() != TSecurityState::Unprotected) return TPDFError::AlreadyProtected;
  if (strength < 0 || strength > 2) return TPDFError::BadStrength;
  if (!TPDFSecurity::ValidPermissions(permissions)) return TPDFError::UncheckedPermissions;
  try {
    TPDFSecurity& sec = handler_;
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
      // A new protection needs the ID its key is made with.
      (void)document_.EnsureID();
      sec.Compute(FirstID());
    }
    sec.ActiveKey = sec.FileKey;
    CryptAll(true);

    TPDFStructure& s = document_.Structure();
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
    document_.SetEncryption(document_.MakeIndirect(dict));
    // AES-256 came with PDF 1.7's extension level 8 (ISO 32000-2 made it standard): readers
    // that know the version know the handler.
    if (aes && document_.Version() < "1.7") document_.SetVersion("1.7");
    FinishWholeDocumentPass();
    return TPDFError::None;
  } catch (...) {
    return TPDFError::EncryptFailed;
  }
}

void TPDFDocumentSecurity::FinishWholeDocumentPass() {
  if (!document_.HasTempStore()) return;
  // The unloaded objects live in the store: the document is saved and loaded again whole.
  const std::string saved = document_.SaveToString();
  document_.ClearTempStore();
  if (!saved.empty()) (void)document_.LoadFromString(saved);
}

void TPDFDocumentSecurity::EncryptForWriting(TPDFIndObj& object) {
  if (object.Decrypted && HasKey() && State() == TSecurityState::Standard && !IsEncryptObject(object)) {
    handler_.CryptValue(object.Value, object.Number, object.Generation, true);
    object.Decrypted = false;
  }
}

void TPDFDocumentSecurity::DecryptReachable(int32_t number, int32_t generation) {
  std::vector<std::pair<int32_t, int32_t>> pending{{number, generation}};
  std::vector<TPDFObject*> walk;
  // Objects that could not be decrypted (no password yet) keep their mark clear, so the walk
  // remembers what it visited by itself.
  std::unordered_set<TPDFIndObj*> visited;
  while (!pending.empty()) {
    const auto [n, g] = pending.back();
    pending.pop_back();
    TPDFIndObj* obj = document_.FindIndirect(n, g);
    if (obj == nullptr || obj->Decrypted || !visited.insert(obj).second) continue;
    TPDFObject* value = document_.GetValue(obj);
    Decrypt(*obj);
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

}  // namespace lumipage
