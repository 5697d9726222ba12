#include "pdf/PDFDocumentSecurity.h"

#include <string>

#include "pdf/PDFDocument.h"
#include "pdf/PDFLoader.h"
#include "pdf/PDFWriter.h"

namespace lumipage {

TPasswordResult TPDFDocumentSecurity::SetPassword(std::string_view password) {
  const TPasswordResult result = document_.ApplyPassword(password);
  // The page tree could not be read before the password: it is checked now as on loading an
  // unprotected file (and rebuilt from the page objects found when it is broken).
  if (Opens(result)) (void)TPDFLoader(document_).CheckPages();
  return result;
}

void TPDFDocumentSecurity::CryptAll(bool encrypt) {
  for (size_t i = 0; i < document_.ObjectCount(); ++i) {
    TPDFIndObj& obj = *document_.ObjectAt(i);
    if (obj.Decrypted) continue;
    TPDFObject* value = document_.GetValue(&obj);
    if (obj.Decrypted) continue;
    if (!document_.IsEncryptObject(obj))
      document_.SecurityHandler().CryptValue(value, obj.Number, obj.Generation, encrypt);
    if (document_.HasTempStore()) obj.Unload();
  }
}

bool TPDFDocumentSecurity::Unencrypt() {
  // The open password was checked when it opened the document, and ActiveKey is the key it
  // unlocked: it is not checked again.
  if (document_.SecurityState() != TSecurityState::Standard || document_.OpenPassword().empty()) return false;
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
  document_.ClearSecurity();
  FinishWholeDocumentPass();
  return true;
}

TPDFError TPDFDocumentSecurity::Encrypt(std::string_view owner, std::string_view user, int strength,
                                        int32_t permissions) {
  if (document_.SecurityState() != TSecurityState::Unprotected) return TPDFError::AlreadyProtected;
  if (strength < 0 || strength > 2) return TPDFError::BadStrength;
  if (!TPDFSecurity::ValidPermissions(permissions)) return TPDFError::UncheckedPermissions;
  try {
    TPDFSecurity& sec = document_.SecurityHandler();
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
      sec.Compute(document_.FirstID());
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
  const std::string saved = SaveToString(document_);
  document_.ClearTempStore();
  if (!saved.empty()) (void)LoadFromString(document_, saved);
}

}  // namespace lumipage
