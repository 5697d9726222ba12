#pragma once
// Opening a protected document with a password, and protecting or unprotecting a document whole.
// It takes the document, which holds the protection and decrypts its objects as they are read;
// the standard security handler's computations live in TPDFSecurity.
#include <cstdint>
#include <string_view>

#include "pdf/PDFCodes.h"

namespace lumipage {

class TPDFDocument;

class TPDFDocumentSecurity {
 public:
  explicit TPDFDocumentSecurity(TPDFDocument& document) : document_(document) {}
  TPDFDocumentSecurity(const TPDFDocumentSecurity&) = delete;
  TPDFDocumentSecurity& operator=(const TPDFDocumentSecurity&) = delete;

  // What the password opens; User, Owner and Both open the document, whose page tree is then
  // checked as on loading an unprotected file.
  [[nodiscard]] TPasswordResult SetPassword(std::string_view password);
  // Removes the protection of an opened document; false when it is not open or not protected.
  [[nodiscard]] bool Unencrypt();
  // Protects the document with RC4 (strength 0: 40 bits, 1: 128 bits) or AES-256 (strength 2,
  // revision 6). TPDFError::None on success.
  [[nodiscard]] TPDFError Encrypt(std::string_view owner, std::string_view user, int strength, int32_t permissions);

 private:
  // Encrypts (or decrypts) every object not marked decrypted, with its own key.
  void CryptAll(bool encrypt);
  // With a temporary store set, the document is saved and loaded again after a whole pass.
  void FinishWholeDocumentPass();

  TPDFDocument& document_;
};

}  // namespace lumipage
