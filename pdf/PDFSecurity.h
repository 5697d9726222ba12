#pragma once
// The standard security handler's state and computations: RC4 with 40-bit (revision 2) or
// longer (revision 3) keys, Algorithms 3.1 to 3.7 of the PDF 1.4 Reference (section 3.5).
#include <cstdint>
#include <string>
#include <string_view>

namespace lumipage {

class TPDFObject;

class TPDFSecurity {
 public:
  // The permission value of the eight permissions (1 grants): bits 0 to 7, and in bits 16 to
  // 23 a check byte, the low byte XOR CD.
  [[nodiscard]] static int32_t Permissions(int print, int copy, int modify, int annotate, int fillForms,
                                           int extract, int assemble, int printHighQuality);
  // True when the value carries a valid check byte.
  [[nodiscard]] static bool ValidPermissions(int32_t permissions);

  // P from the permission sets (and the short-P rule).
  void BuildP();
  // The permission sets from the stored /P of a loaded document.
  void LoadStoredP();
  // Algorithms 3.2 to 3.5: O when empty, the file key, U.
  void Compute(std::string_view id0);
  // Algorithm 3.6: the password as user password against the stored O and U.
  [[nodiscard]] bool CheckUser(std::string_view password, std::string_view id0);
  // Algorithm 3.7: the password as owner password; leaves the owner key in FileKey.
  [[nodiscard]] bool CheckOwner(std::string_view password, std::string_view id0);
  // Algorithm 3.1: the key of one object from the active key.
  [[nodiscard]] std::string ObjectKey(int32_t number, int32_t generation) const;

  [[nodiscard]] static std::string MD5(std::string_view data);
  [[nodiscard]] static std::string RC4(std::string_view key, std::string_view data);
  // Every string and stream data inside value (not behind references) through RC4 with key.
  static void CryptValue(TPDFObject* value, const std::string& key);

  // Loaded /Encrypt entries.
  int Version = 0;
  int Revision = 0;
  int KeyBits = 0;
  std::string StoredO;
  std::string StoredU;
  int32_t StoredP = 0;

  // Inputs and results of the computations.
  std::string OwnerPassword;
  std::string UserPassword;
  int SetA = 0;  // 1 print, 2 copy, 4 modify, 8 annotate
  int SetB = 0;  // 1 fill forms, 2 extract for accessibility, 4 assemble, 8 print high quality
  bool Revision3 = false;  // revision 3 computations (50 MD5 rounds, 20 RC4 passes)
  int KeyBytes = 5;        // 5 for 40 bits, up to 16
  bool ShortP = false;
  int32_t P = 0;
  std::string O;
  std::string U;
  std::string FileKey;
  std::string ActiveKey;
  // "!" and the password that last opened the document; empty when none did.
  std::string OpenPassword;

 private:
  [[nodiscard]] bool CompareU() const;
  void Prepare(bool revision3, int keyBytes);
};

}  // namespace lumipage
