#include "pdf/PDFSecurity.h"

#include <nettle/arcfour.h>
#include <nettle/md5.h>

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "pdf/PDFLimits.h"
#include "pdf/PDFStructure.h"

namespace lumipage {

namespace {

// The standard security handler's password padding string.
constexpr unsigned char kPad[32] = {0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E,
                                    0x56, 0xFF, 0xFA, 0x01, 0x08, 0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68,
                                    0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

std::string_view Pad() { return {reinterpret_cast<const char*>(kPad), sizeof kPad}; }

// At most 32 bytes of the password, completed with the pad string.
std::string PreparePassword(std::string_view password) {
  std::string out(password.substr(0, 32));
  out.append(Pad().substr(0, 32 - out.size()));
  return out;
}

std::string XorKey(std::string_view key, int i) {
  std::string k(key);
  for (char& c : k) c = static_cast<char>(static_cast<uint8_t>(c) ^ i);
  return k;
}

}  // namespace

std::string TPDFSecurity::MD5(std::string_view data) {
  md5_ctx ctx;
  md5_init(&ctx);
  md5_update(&ctx, data.size(), reinterpret_cast<const uint8_t*>(data.data()));
  std::string digest(MD5_DIGEST_SIZE, '\0');
  md5_digest(&ctx, MD5_DIGEST_SIZE, reinterpret_cast<uint8_t*>(digest.data()));
  return digest;
}

std::string TPDFSecurity::RC4(std::string_view key, std::string_view data) {
  std::string out(data);
  if (key.empty() || data.empty()) return out;
  arcfour_ctx ctx;
  arcfour_set_key(&ctx, std::min<size_t>(key.size(), ARCFOUR_MAX_KEY_SIZE), reinterpret_cast<const uint8_t*>(key.data()));
  arcfour_crypt(&ctx, out.size(), reinterpret_cast<uint8_t*>(out.data()), reinterpret_cast<const uint8_t*>(out.data()));
  return out;
}

int32_t TPDFSecurity::Permissions(int print, int copy, int modify, int annotate, int fillForms, int extract,
                                  int assemble, int printHighQuality) {
  const int args[8] = {print, copy, modify, annotate, fillForms, extract, assemble, printHighQuality};
  uint32_t low = 0;
  for (int i = 0; i < 8; ++i)
    if (args[i] == 1) low |= 1u << i;
  return static_cast<int32_t>(low | (low ^ 0xCDu) << 16);
}

bool TPDFSecurity::ValidPermissions(int32_t permissions) {
  const auto v = static_cast<uint32_t>(permissions);
  return ((v & 0xFF) ^ 0xCD) == ((v >> 16) & 0xFF);
}

void TPDFSecurity::BuildP() {
  uint32_t p = 0xFFFFFFFC;
  if ((SetA & 1) == 0) p &= 0xFFFFFFF8;
  if ((SetA & 4) == 0) p &= 0xFFFFFFF4;
  if ((SetA & 2) == 0) p &= 0xFFFFFFEC;
  if ((SetA & 8) == 0) p &= 0xFFFFFFDC;
  // The second set has meaning only for the longer keys; with 40 bits these bits stay set.
  if (Revision3) {
    if ((SetB & 1) == 0) p &= ~0x100u;
    if ((SetB & 2) == 0) p &= ~0x200u;
    if ((SetB & 4) == 0) p &= ~0x400u;
    if ((SetB & 8) == 0) p &= ~0x800u;
  }
  if (ShortP) p &= 0xFFFF;
  P = static_cast<int32_t>(p);
}

void TPDFSecurity::LoadStoredP() {
  const auto p = static_cast<uint32_t>(StoredP);
  SetA = ((p & 4) != 0 ? 1 : 0) | ((p & 8) != 0 ? 4 : 0) | ((p & 0x10) != 0 ? 2 : 0) | ((p & 0x20) != 0 ? 8 : 0);
  SetB = ((p & 0x100) != 0 ? 1 : 0) | ((p & 0x200) != 0 ? 2 : 0) | ((p & 0x400) != 0 ? 4 : 0) |
         ((p & 0x800) != 0 ? 8 : 0);
}

void TPDFSecurity::Compute(std::string_view id0) {
  FileKey.clear();
  BuildP();
  const auto n = static_cast<size_t>(KeyBytes);
  bool keySet = false;
  if (O.empty()) {
    // Algorithm 3.3: O from the owner password (the user password when there is none).
    std::string d = MD5(PreparePassword(OwnerPassword.empty() ? UserPassword : OwnerPassword));
    if (Revision3)
      for (int i = 0; i < 50; ++i) d = MD5(d);
    const std::string k = d.substr(0, n);
    std::string s;
    if (U.empty()) {
      s = PreparePassword(UserPassword);
    } else {
      FileKey = k;
      keySet = true;
      s = PreparePassword(U);
    }
    O = RC4(k, s);
    if (Revision3)
      for (int i = 1; i <= 19; ++i) O = RC4(XorKey(k, i), O);
  }
  // Algorithm 3.2: the file key.
  std::string input = PreparePassword(UserPassword);
  input += O;
  const auto p = static_cast<uint32_t>(P);
  for (int i = 0; i < 4; ++i) input += static_cast<char>(p >> (8 * i));
  input += id0;
  std::string d = MD5(input);
  if (Revision3)
    for (int i = 0; i < 50; ++i) d = MD5(d.substr(0, n));
  const std::string k = d.substr(0, n);
  if (!keySet) FileKey = k;
  // Algorithms 3.4 and 3.5: U.
  if (Revision3) {
    std::string u = RC4(k, MD5(std::string(Pad()) + std::string(id0)));
    for (int i = 1; i <= 19; ++i) u = RC4(XorKey(k, i), u);
    U = u + std::string(16, '\0');
  } else {
    U = RC4(k, Pad());
  }
}

void TPDFSecurity::Prepare(bool revision3, int keyBytes) {
  Revision3 = revision3;
  KeyBytes = keyBytes;
  LoadStoredP();
  ShortP = static_cast<uint32_t>(StoredP) < 65536;
}

bool TPDFSecurity::CompareU() const {
  // Revision 3 stores 16 computed bytes and 16 arbitrary ones: only the first 16 count.
  const size_t n = Revision3 ? 16 : 32;
  return U.size() >= n && StoredU.size() >= n && U.compare(0, n, StoredU, 0, n) == 0;
}

bool TPDFSecurity::CheckUser(std::string_view password, std::string_view id0) {
  Prepare(Revision >= 3, KeyBytes);
  UserPassword = password;
  OwnerPassword.clear();
  O = StoredO;
  U.clear();
  Compute(id0);
  return CompareU();
}

bool TPDFSecurity::CheckOwner(std::string_view password, std::string_view id0) {
  Prepare(Revision >= 3, KeyBytes);
  OwnerPassword = password;
  UserPassword = password;
  O.clear();
  U = StoredU;
  Compute(id0);
  // FileKey now holds the owner key: it unlocks the user password stored in O.
  std::string user = StoredO;
  if (Revision3) {
    for (int i = 19; i >= 0; --i) user = RC4(XorKey(FileKey, i), user);
  } else {
    user = RC4(FileKey, user);
  }
  O = StoredO;
  U.clear();
  UserPassword = user;
  Compute(id0);
  return CompareU();
}

std::string TPDFSecurity::ObjectKey(int32_t number, int32_t generation) const {
  std::string input = ActiveKey;
  const auto n = static_cast<uint32_t>(number);
  const auto g = static_cast<uint32_t>(generation);
  input += static_cast<char>(n);
  input += static_cast<char>(n >> 8);
  input += static_cast<char>(n >> 16);
  input += static_cast<char>(g);
  input += static_cast<char>(g >> 8);
  return MD5(input).substr(0, std::min<size_t>(ActiveKey.size() + 5, 16));
}

void TPDFSecurity::CryptValue(TPDFObject* value, const std::string& key) {
  if (value == nullptr || key.empty()) return;
  // A value held twice inside one object is changed once; depth guards code-built cycles.
  std::unordered_set<TPDFObject*> seen;
  std::vector<std::pair<TPDFObject*, int>> work{{value, 0}};
  while (!work.empty()) {
    auto [v, depth] = work.back();
    work.pop_back();
    if (v == nullptr || depth > kMaxTextDepth || !seen.insert(v).second) continue;
    if (auto* s = As<TPDFString>(v)) {
      s->Value = RC4(key, s->Value);
    } else if (auto* st = As<TPDFStream>(v)) {
      std::string& raw = st->MutableRawData();
      raw = RC4(key, raw);
      work.emplace_back(st->Dictionary(), depth + 1);
    } else if (auto* d = As<TPDFDictionary>(v)) {
      for (int i = 0; i < d->Count(); ++i) work.emplace_back(d->EntryAt(i).Value, depth + 1);
    } else if (auto* a = As<TPDFArray>(v)) {
      for (int i = 0; i < a->Count(); ++i) work.emplace_back(a->Item(i), depth + 1);
    }
  }
}

}  // namespace lumipage
