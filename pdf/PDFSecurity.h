#pragma once
// The standard security handler's state and computations: RC4 with 40-bit (revision 2) or
// longer (revision 3) keys, Algorithms 3.1 to 3.7 of the PDF 1.4 Reference (section 3.5);
// crypt filters of revision 4 (RC4 or AES-128, Algorithm 3.1a of the PDF 1.7 Reference); and
// AES-256 of revisions 5 and 6 (ISO 32000-2, Algorithms 2.A, 2.B and 8 to 13).
#include <cstdint>
#include <string>
#include <string_view>

namespace lumipage {

class TPDFDictionary;
class TPDFObject;

// How one kind of data (strings, streams, embedded files) is protected: the crypt filter's
// method. Identity leaves the data as it is.
enum class TCryptMethod { kIdentity, kRC4, kAESV2, kAESV3 };

class TPDFSecurity {
 public:
  // The permission value of the eight permissions (1 grants): bits 0 to 7, and in bits 16 to
  // 23 a check byte, the low byte XOR CD.
  [[nodiscard]] static int32_t Permissions(int print, int copy, int modify, int annotate, int fillForms,
                                           int extract, int assemble, int printHighQuality);
  // True when the value carries a valid check byte.
  [[nodiscard]] static bool ValidPermissions(int32_t permissions);

  // Takes the entries of a standard /Encrypt dictionary; false when it is a kind this handler
  // cannot open (another handler, version or revision, or an unknown crypt filter method).
  [[nodiscard]] bool ReadDictionary(const TPDFDictionary& dict);

  // P from the permission sets (and the short-P rule).
  void BuildP();
  // The permission sets from the stored /P of a loaded document.
  void LoadStoredP();
  // Algorithms 3.2 to 3.5: O when empty, the file key, U.
  void Compute(std::string_view id0);
  // Algorithm 3.6 (revisions 2 to 4) or Algorithm 11 (revisions 5 and 6): the password as user
  // password against the stored entries; sets FileKey when it passes.
  [[nodiscard]] bool CheckUser(std::string_view password, std::string_view id0);
  // Algorithm 3.7 (revisions 2 to 4; leaves the owner key in FileKey) or Algorithm 12.
  [[nodiscard]] bool CheckOwner(std::string_view password, std::string_view id0);
  // Algorithm 3.1 (RC4) or 3.1a (AES-128): the key of one object from the active key; the
  // active key itself for AES-256.
  [[nodiscard]] std::string ObjectKey(int32_t number, int32_t generation, TCryptMethod method) const;

  // Algorithms 8, 9 and 10: new AES-256 protection (revision 6) from OwnerPassword,
  // UserPassword and P: a random file key, U, UE, O, OE and Perms.
  void ComputeRevision6();
  // Algorithm 13: /Perms, decrypted with the file key, carries "adb" and the dictionary's P.
  // Readers only warn when it does not, so the handler does not refuse such a file either.
  [[nodiscard]] bool PermsValid() const;
  // Algorithm 2.B (revision 6) or plain SHA-256 (revision 5): the hash of a password (at most
  // 127 bytes), an 8-byte salt and, for the owner, the 48 bytes of U.
  [[nodiscard]] static std::string HashV5(std::string_view password, std::string_view salt, std::string_view userKey,
                                          int revision);

  [[nodiscard]] static std::string MD5(std::string_view data);
  [[nodiscard]] static std::string SHA256(std::string_view data);
  [[nodiscard]] static std::string RC4(std::string_view key, std::string_view data);
  // AES in CBC mode with PKCS#5 padding, a random 16-byte IV written before the data (the
  // form of PDF strings and streams). The key is 16 or 32 bytes.
  [[nodiscard]] static std::string AESEncrypt(std::string_view key, std::string_view data);
  // The inverse, lenient as readers are: a short input gives nothing, a trailing partial
  // block is dropped, padding that does not check out is kept.
  [[nodiscard]] static std::string AESDecrypt(std::string_view key, std::string_view data);
  [[nodiscard]] static std::string RandomBytes(size_t count);

  // Every string and stream data inside the value of object number/generation (not behind
  // references), encrypted or decrypted with that object's key and the method of its kind.
  void CryptValue(TPDFObject* value, int32_t number, int32_t generation, bool encrypt) const;

  // Loaded /Encrypt entries.
  int Version = 0;
  int Revision = 0;
  int KeyBits = 0;
  std::string StoredO;
  std::string StoredU;
  std::string StoredOE;
  std::string StoredUE;
  std::string StoredPerms;
  int32_t StoredP = 0;
  // /EncryptMetadata: false leaves metadata streams in clear text (revision 4 and above).
  bool EncryptMetadata = true;
  // The crypt filter methods of /StmF, /StrF and /EFF; RC4 below version 4.
  TCryptMethod StreamMethod = TCryptMethod::kRC4;
  TCryptMethod StringMethod = TCryptMethod::kRC4;
  TCryptMethod FileMethod = TCryptMethod::kRC4;

  // Inputs and results of the computations.
  std::string OwnerPassword;
  std::string UserPassword;
  int SetA = 0;  // 1 print, 2 copy, 4 modify, 8 annotate
  int SetB = 0;  // 1 fill forms, 2 extract for accessibility, 4 assemble, 8 print high quality
  bool Revision3 = false;  // revision 3 computations (50 MD5 rounds, 20 RC4 passes)
  int KeyBytes = 5;        // 5 for 40 bits, up to 16; 32 for AES-256
  bool ShortP = false;
  int32_t P = 0;
  std::string O;
  std::string U;
  std::string OE;
  std::string UE;
  std::string Perms;
  std::string FileKey;
  std::string ActiveKey;
  // "!" and the password that last opened the document; empty when none did.
  std::string OpenPassword;

 private:
  [[nodiscard]] bool CompareU() const;
  void Prepare(bool revision3, int keyBytes);
  [[nodiscard]] bool CheckUserV5(std::string_view password);
  [[nodiscard]] bool CheckOwnerV5(std::string_view password);
};

}  // namespace lumipage
