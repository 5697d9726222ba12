#pragma once
// The protection of one document: what protects it, opening it with a password, decrypting its
// objects as they are read and encrypting them again as they are written, and protecting or
// unprotecting it whole. The standard security handler's computations live in TPDFSecurity.
#include <cstdint>
#include <string>
#include <string_view>

#include "pdf/PDFCodes.h"
#include "pdf/PDFSecurity.h"

namespace lumipage {

class TPDFDocument;
class TPDFIndObj;

class TPDFDocumentSecurity {
 public:
  explicit TPDFDocumentSecurity(TPDFDocument& document) : document_(document) {}
  TPDFDocumentSecurity(const TPDFDocumentSecurity&) = delete;
  TPDFDocumentSecurity& operator=(const TPDFDocumentSecurity&) = delete;

  // Unprotected, no password known.
  void Reset() {
    handler_ = TPDFSecurity();
    ForgetState();
  }
  // The trailer's /Encrypt changed (or the trailer did): State reads it again.
  void ForgetState() { stateKnown_ = false; }

  // The same calls on TPDFDocument say what these do.
  [[nodiscard]] TSecurityState State();
  [[nodiscard]] int Strength();
  [[nodiscard]] TPasswordResult SetPassword(std::string_view password);
  [[nodiscard]] bool Unencrypt();
  [[nodiscard]] TPDFError Encrypt(std::string_view owner, std::string_view user, int strength, int32_t permissions);
  [[nodiscard]] const std::string& OpenPassword() const { return handler_.OpenPassword; }

  // A key is at hand: a password opened the document, or it has just been protected.
  [[nodiscard]] bool HasKey() const { return !handler_.ActiveKey.empty(); }
  // Opens the document when the password passes; forgets the open password when it does not.
  void ApplyPassword(std::string_view password);
  // Decrypts the object in place with its own key when the document is protected and open.
  void Decrypt(TPDFIndObj& object);
  void DecryptReachable(int32_t number, int32_t generation);
  // An object held decrypted is encrypted again, so that it is written as the file states it.
  void EncryptForWriting(TPDFIndObj& object);

 private:
  [[nodiscard]] std::string FirstID();
  // The password against the stored entries with the ID readers would use (Fails, User, Owner
  // or Both). The key it unlocks is left in the handler's FileKey.
  [[nodiscard]] TPasswordResult CheckPassword(std::string_view password);
  // Reads the trailer's /Encrypt into the handler.
  [[nodiscard]] TSecurityState ReadState();
  [[nodiscard]] bool IsEncryptObject(const TPDFIndObj& object);
  // Encrypts (or decrypts) every object not marked decrypted, with its own key.
  void CryptAll(bool encrypt);
  // With a temporary store set, the document is saved and loaded again after a whole pass.
  void FinishWholeDocumentPass();

  TPDFDocument& document_;
  TPDFSecurity handler_;
  // State is asked for with every object parsed and every object written: /Encrypt is read
  // once, and again only after ForgetState.
  TSecurityState state_ = TSecurityState::Unprotected;
  bool stateKnown_ = false;
};

}  // namespace lumipage
