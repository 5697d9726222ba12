#pragma once
// The engine's outcomes by name. The facade (TVellox) alone turns them into the numbers its
// callers see; inside the engine they stay named.

namespace lumipage {

// What protects a document.
enum class TSecurityState {
  Unprotected,
  Standard,     // the standard security handler in a form it can open
  Unsupported,  // another handler, or a version, revision or method it cannot open
};

// What a password opens.
enum class TPasswordResult {
  Fails,        // neither the user nor the owner password
  User,         // the user password only
  Owner,        // the owner password only
  Unprotected,  // the document has nothing to open
  Unsupported,  // its protection cannot be opened here
  Both,         // user and owner password alike
};

// The password opened the document.
[[nodiscard]] constexpr bool Opens(TPasswordResult result) {
  return result == TPasswordResult::User || result == TPasswordResult::Owner || result == TPasswordResult::Both;
}

// Why a call of the engine failed.
enum class TPDFError {
  None,
  BadStrength,             // Encrypt: a strength other than RC4 40, RC4 128 or AES-256
  UncheckedPermissions,    // Encrypt: a permission value without its check byte
  AlreadyProtected,        // Encrypt: the document is protected already
  EncryptFailed,           // Encrypt: the encryption itself failed
  InformationOfProtected,  // SetInformation: a protected document's information stays as it is
  InformationKey,          // SetInformation: no such key
  TooLarge,                // SaveToFile: an object would start past what the table can state
};

}  // namespace lumipage
