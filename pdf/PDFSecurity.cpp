#include "pdf/PDFSecurity.h"

#include <nettle/aes.h>
#include <nettle/arcfour.h>
#include <nettle/cbc.h>
#include <nettle/md5.h>
#include <nettle/sha2.h>
#include <sys/random.h>

#include <algorithm>
#include <random>
#include <unordered_set>
#include <vector>

#include "pdf/PDFLimits.h"
#include "pdf/PDFStructure.h"
#include "platform/ByteOrder.h"

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

const uint8_t* Bytes(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }
uint8_t* Bytes(std::string& s) { return reinterpret_cast<uint8_t*>(s.data()); }

// The key as AES takes it: 32 bytes stay AES-256, anything else becomes an AES-128 key (cut, or
// completed with zeros), so that a damaged file's short key is never read past its end.
std::string AesKey(std::string_view key) {
  std::string k(key);
  if (k.size() != AES256_KEY_SIZE) k.resize(AES128_KEY_SIZE, '\0');
  return k;
}

// AES-CBC over whole blocks, no padding; the key is 16 or 32 bytes, iv 16 bytes.
std::string CbcEncrypt(std::string_view rawKey, std::string_view iv, std::string_view data) {
  const std::string key = AesKey(rawKey);
  std::string out(data.size() / AES_BLOCK_SIZE * AES_BLOCK_SIZE, '\0');
  uint8_t v[AES_BLOCK_SIZE];
  std::copy_n(Bytes(iv), AES_BLOCK_SIZE, v);
  if (key.size() == AES256_KEY_SIZE) {
    aes256_ctx ctx;
    aes256_set_encrypt_key(&ctx, Bytes(key));
    cbc_aes256_encrypt(&ctx, v, out.size(), Bytes(out), Bytes(data));
  } else {
    aes128_ctx ctx;
    aes128_set_encrypt_key(&ctx, Bytes(key));
    cbc_aes128_encrypt(&ctx, v, out.size(), Bytes(out), Bytes(data));
  }
  return out;
}

std::string CbcDecrypt(std::string_view rawKey, std::string_view iv, std::string_view data) {
  const std::string key = AesKey(rawKey);
  std::string out(data.size() / AES_BLOCK_SIZE * AES_BLOCK_SIZE, '\0');
  uint8_t v[AES_BLOCK_SIZE];
  std::copy_n(Bytes(iv), AES_BLOCK_SIZE, v);
  if (key.size() == AES256_KEY_SIZE) {
    aes256_ctx ctx;
    aes256_set_decrypt_key(&ctx, Bytes(key));
    cbc_decrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(aes256_decrypt), AES_BLOCK_SIZE, v, out.size(),
                Bytes(out), Bytes(data));
  } else {
    aes128_ctx ctx;
    aes128_set_decrypt_key(&ctx, Bytes(key));
    cbc_decrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(aes128_decrypt), AES_BLOCK_SIZE, v, out.size(),
                Bytes(out), Bytes(data));
  }
  return out;
}

const std::string kZeroIV(AES_BLOCK_SIZE, '\0');

template <typename Ctx, size_t Size>
std::string Sha2(std::string_view data, void (*init)(Ctx*), void (*update)(Ctx*, size_t, const uint8_t*),
                 void (*digest)(Ctx*, size_t, uint8_t*)) {
  Ctx ctx;
  init(&ctx);
  update(&ctx, data.size(), Bytes(data));
  std::string out(Size, '\0');
  digest(&ctx, Size, Bytes(out));
  return out;
}

std::string SHA384(std::string_view data) {
  return Sha2<sha384_ctx, SHA384_DIGEST_SIZE>(data, sha384_init, sha512_update, sha384_digest);
}

std::string SHA512(std::string_view data) {
  return Sha2<sha512_ctx, SHA512_DIGEST_SIZE>(data, sha512_init, sha512_update, sha512_digest);
}

// Passwords of revisions 5 and 6 are UTF-8 of at most 127 bytes.
std::string_view V5Password(std::string_view password) { return password.substr(0, 127); }

TCryptMethod MethodOf(const TPDFDictionary& dict, std::string_view entry, bool& known) {
  const std::string name = dict.GetText(entry);
  if (name.empty() || name == "Identity") return TCryptMethod::kIdentity;
  auto* filters = As<TPDFDictionary>(dict.Get("CF", true));
  auto* filter = filters == nullptr ? nullptr : As<TPDFDictionary>(filters->Get(name, true));
  const std::string cfm = filter == nullptr ? std::string() : filter->GetText("CFM");
  if (cfm == "V2") return TCryptMethod::kRC4;
  if (cfm == "AESV2") return TCryptMethod::kAESV2;
  if (cfm == "AESV3") return TCryptMethod::kAESV3;
  if (cfm == "None") return TCryptMethod::kIdentity;
  known = false;  // a filter we do not have, or a name /CF does not define
  return TCryptMethod::kIdentity;
}

}  // namespace

std::string TPDFSecurity::SHA256(std::string_view data) {
  return Sha2<sha256_ctx, SHA256_DIGEST_SIZE>(data, sha256_init, sha256_update, sha256_digest);
}

std::string TPDFSecurity::RandomBytes(size_t count) {
  std::string out(count, '\0');
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::getrandom(out.data() + done, count - done, 0);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  if (done < count) {
    std::random_device device;
    for (; done < count; ++done) out[done] = static_cast<char>(device());
  }
  return out;
}

std::string TPDFSecurity::AESEncrypt(std::string_view key, std::string_view data) {
  // PKCS#5: 1 to 16 bytes, each holding the count.
  std::string padded(data);
  const size_t pad = AES_BLOCK_SIZE - padded.size() % AES_BLOCK_SIZE;
  padded.append(pad, static_cast<char>(pad));
  const std::string iv = RandomBytes(AES_BLOCK_SIZE);
  return iv + CbcEncrypt(key, iv, padded);
}

std::string TPDFSecurity::AESDecrypt(std::string_view key, std::string_view data) {
  if (data.size() < 2 * AES_BLOCK_SIZE) return {};
  std::string out = CbcDecrypt(key, data.substr(0, AES_BLOCK_SIZE), data.substr(AES_BLOCK_SIZE));
  const auto pad = static_cast<uint8_t>(out.back());
  if (pad >= 1 && pad <= AES_BLOCK_SIZE &&
      std::all_of(out.end() - pad, out.end(), [pad](char c) { return static_cast<uint8_t>(c) == pad; }))
    out.resize(out.size() - pad);
  return out;
}

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
  // Revision 4 documents that leave their metadata in clear text say so in their key.
  if (Revision >= 4 && !EncryptMetadata) input += "\xFF\xFF\xFF\xFF";
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
  if (Revision >= 5) return CheckUserV5(password);
  Prepare(Revision >= 3, KeyBytes);
  UserPassword = password;
  OwnerPassword.clear();
  O = StoredO;
  U.clear();
  Compute(id0);
  return CompareU();
}

bool TPDFSecurity::CheckOwner(std::string_view password, std::string_view id0) {
  if (Revision >= 5) return CheckOwnerV5(password);
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

std::string TPDFSecurity::ObjectKey(int32_t number, int32_t generation, TCryptMethod method) const {
  if (method == TCryptMethod::kIdentity) return {};
  // AES-256 uses the file key for every object.
  if (method == TCryptMethod::kAESV3) return ActiveKey;
  std::string input = ActiveKey;
  // A revision 4 key shorter than 128 bits is filled with zero bytes to 16 before it makes the
  // object keys: the files that use such keys are encrypted that way, and the readers that open
  // them read them so (their password check still takes the short key).
  if (Revision == 4 && input.size() < 16) input.resize(16, '\0');
  const size_t keySize = input.size();
  const auto n = static_cast<uint32_t>(number);
  const auto g = static_cast<uint32_t>(generation);
  input += static_cast<char>(n);
  input += static_cast<char>(n >> 8);
  input += static_cast<char>(n >> 16);
  input += static_cast<char>(g);
  input += static_cast<char>(g >> 8);
  // Algorithm 3.1a: AES-128 keys are salted.
  if (method == TCryptMethod::kAESV2) {
    input += "sAlT";
    return MD5(input);  // AES-128 takes all 16 bytes, whatever the file key's length
  }
  return MD5(input).substr(0, std::min<size_t>(keySize + 5, 16));
}

namespace {

std::string Crypt(TCryptMethod method, const std::string& key, std::string_view data, bool encrypt) {
  switch (method) {
    case TCryptMethod::kRC4:
      return TPDFSecurity::RC4(key, data);
    case TCryptMethod::kAESV2:
    case TCryptMethod::kAESV3:
      return encrypt ? TPDFSecurity::AESEncrypt(key, data) : TPDFSecurity::AESDecrypt(key, data);
    case TCryptMethod::kIdentity:
      break;
  }
  return std::string(data);
}

// A stream whose own /Crypt filter names Identity (or no filter) is left as it is.
bool HasIdentityCryptFilter(const TPDFDictionary& dict) {
  TPDFObject* filter = dict.Get("Filter", true);
  TPDFObject* parms = dict.Get("DecodeParms", true);
  if (auto* a = As<TPDFArray>(filter)) {
    auto* first = a->Count() > 0 ? As<TPDFName>(a->Item(0)) : nullptr;
    if (first == nullptr || first->Value != "Crypt") return false;
    auto* p = As<TPDFArray>(parms);
    parms = p != nullptr && p->Count() > 0 ? p->Item(0) : nullptr;
  } else if (auto* n = As<TPDFName>(filter); n == nullptr || n->Value != "Crypt") {
    return false;
  }
  if (auto* ref = As<TPDFIndRef>(parms)) parms = ref->Resolve();
  auto* d = As<TPDFDictionary>(parms);
  const std::string name = d == nullptr ? std::string() : d->GetText("Name");
  return name.empty() || name == "Identity";
}

}  // namespace

void TPDFSecurity::CryptValue(TPDFObject* value, int32_t number, int32_t generation, bool encrypt) const {
  if (value == nullptr || ActiveKey.empty()) return;
  const std::string stringKey = ObjectKey(number, generation, StringMethod);
  // A value held twice inside one object is changed once; depth guards code-built cycles.
  std::unordered_set<TPDFObject*> seen;
  std::vector<std::pair<TPDFObject*, int>> work{{value, 0}};
  while (!work.empty()) {
    auto [v, depth] = work.back();
    work.pop_back();
    if (v == nullptr || depth > kMaxTextDepth || !seen.insert(v).second) continue;
    if (auto* s = As<TPDFString>(v)) {
      s->Value = Crypt(StringMethod, stringKey, s->Value, encrypt);
    } else if (auto* st = As<TPDFStream>(v)) {
      TPDFDictionary& dict = *st->Dictionary();
      const std::string type = dict.TypeName();
      TCryptMethod method = type == "EmbeddedFile" ? FileMethod : StreamMethod;
      // Cross-reference streams are never encrypted, metadata only when the document says so.
      if (type == "XRef" || (type == "Metadata" && !EncryptMetadata) || HasIdentityCryptFilter(dict))
        method = TCryptMethod::kIdentity;
      if (method != TCryptMethod::kIdentity) {
        std::string& raw = st->MutableRawData();
        const size_t before = raw.size();
        raw = Crypt(method, ObjectKey(number, generation, method), raw, encrypt);
        // AES changes the length; RC4 keeps it (and an indirect /Length with it).
        if (raw.size() != before) st->SetRawData(std::move(raw));
      }
      work.emplace_back(st->Dictionary(), depth + 1);
    } else if (auto* d = As<TPDFDictionary>(v)) {
      for (int i = 0; i < d->Count(); ++i) work.emplace_back(d->EntryAt(i).Value, depth + 1);
    } else if (auto* a = As<TPDFArray>(v)) {
      for (int i = 0; i < a->Count(); ++i) work.emplace_back(a->Item(i), depth + 1);
    }
  }
}

bool TPDFSecurity::ReadDictionary(const TPDFDictionary& dict) {
  const int32_t v = dict.GetInteger("V", 0);
  const int32_t r = dict.GetInteger("R", 0);
  if (dict.GetText("Filter") != "Standard") return false;
  bool known = true;
  if ((v == 1 || v == 2) && (r == 2 || r == 3)) {
    // /V 2 takes its key length from /Length (40 bits when absent), as the PDF standard says.
    KeyBits = std::clamp((v == 1 ? 40 : dict.GetInteger("Length", 40)) / 8 * 8, 40, 128);
    StreamMethod = StringMethod = FileMethod = TCryptMethod::kRC4;
  } else if ((v == 4 && r == 4) || (v == 5 && (r == 5 || r == 6))) {
    StreamMethod = MethodOf(dict, "StmF", known);
    StringMethod = MethodOf(dict, "StrF", known);
    FileMethod = dict.Get("EFF") != nullptr ? MethodOf(dict, "EFF", known) : StreamMethod;
    for (TCryptMethod m : {StreamMethod, StringMethod, FileMethod}) {
      // AES-256 belongs to revisions 5 and 6 and nothing else does.
      if ((m == TCryptMethod::kAESV3) != (v == 5) && m != TCryptMethod::kIdentity) known = false;
    }
    // Some producers give the length of revision 4 in bytes; AES-128 is always 128 bits.
    int bits = dict.GetInteger("Length", 128);
    if (bits > 0 && bits <= 16) bits *= 8;
    if (StreamMethod == TCryptMethod::kAESV2 || StringMethod == TCryptMethod::kAESV2) bits = 128;
    KeyBits = v == 5 ? 256 : std::clamp(bits / 8 * 8, 40, 128);
  } else {
    return false;
  }
  if (!known) return false;
  Version = v;
  Revision = r;
  KeyBytes = KeyBits / 8;
  auto* metadata = As<TPDFBoolean>(dict.Get("EncryptMetadata", true));
  EncryptMetadata = v < 4 || metadata == nullptr || metadata->Value;
  StoredO = dict.GetText("O");
  StoredU = dict.GetText("U");
  StoredOE = dict.GetText("OE");
  StoredUE = dict.GetText("UE");
  StoredPerms = dict.GetText("Perms");
  if (auto* p = As<TPDFNumeric>(dict.Get("P", true))) {
    // Some producers write the unsigned form; both read as the same 32 bits.
    const double value = p->Value;
    StoredP = value >= 2147483648.0 && value < 4294967296.0 ? static_cast<int32_t>(static_cast<uint32_t>(value))
                                                            : p->AsInteger();
  } else {
    StoredP = 0;
  }
  return true;
}

std::string TPDFSecurity::HashV5(std::string_view password, std::string_view salt, std::string_view userKey,
                                 int revision) {
  password = V5Password(password);
  std::string k = SHA256(std::string(password) + std::string(salt) + std::string(userKey));
  if (revision < 6) return k;
  // Algorithm 2.B: at least 64 rounds of AES-128-CBC over 64 copies of password, K and the
  // user key, each round's hash chosen by the encrypted bytes, until the last byte of the
  // round's output is at most the round number minus 32.
  std::string block;
  for (int round = 1;; ++round) {
    block.clear();
    for (int i = 0; i < 64; ++i) {
      block += password;
      block += k;
      block += userKey;
    }
    const std::string e = CbcEncrypt(std::string_view(k).substr(0, 16), std::string_view(k).substr(16, 16), block);
    int sum = 0;
    for (int i = 0; i < 16; ++i) sum += static_cast<uint8_t>(e[static_cast<size_t>(i)]);
    switch (sum % 3) {
      case 0: k = SHA256(e); break;
      case 1: k = SHA384(e); break;
      default: k = SHA512(e); break;
    }
    if (round >= 64 && static_cast<uint8_t>(e.back()) <= round - 32) break;
  }
  return k.substr(0, 32);
}

bool TPDFSecurity::CheckUserV5(std::string_view password) {
  // Algorithm 11: U is the hash of the password with its validation salt, then that salt and
  // the key salt. Algorithm 2.A then unlocks the file key from UE.
  if (StoredU.size() < 48 || StoredUE.size() < 32) return false;
  const std::string_view u(StoredU);
  if (HashV5(password, u.substr(32, 8), {}, Revision) != u.substr(0, 32)) return false;
  const std::string key = HashV5(password, u.substr(40, 8), {}, Revision);
  FileKey = CbcDecrypt(key, kZeroIV, std::string_view(StoredUE).substr(0, 32));
  return true;
}

bool TPDFSecurity::CheckOwnerV5(std::string_view password) {
  // Algorithm 12: as the user check, with O, OE and the 48 bytes of U hashed in.
  if (StoredO.size() < 48 || StoredOE.size() < 32 || StoredU.size() < 48) return false;
  const std::string_view o(StoredO);
  const std::string_view u = std::string_view(StoredU).substr(0, 48);
  if (HashV5(password, o.substr(32, 8), u, Revision) != o.substr(0, 32)) return false;
  const std::string key = HashV5(password, o.substr(40, 8), u, Revision);
  FileKey = CbcDecrypt(key, kZeroIV, std::string_view(StoredOE).substr(0, 32));
  return true;
}

bool TPDFSecurity::PermsValid() const {
  if (StoredPerms.size() < 16 || FileKey.size() != 32) return false;
  // ECB of one block is CBC with a zero IV.
  const std::string perms = CbcDecrypt(FileKey, kZeroIV, std::string_view(StoredPerms).substr(0, 16));
  const uint32_t p = platform::LoadLE32(perms.data());
  return perms.compare(9, 3, "adb") == 0 && p == static_cast<uint32_t>(StoredP) &&
         (perms[8] == 'T') == EncryptMetadata;
}

void TPDFSecurity::ComputeRevision6() {
  BuildP();
  FileKey = RandomBytes(32);
  const std::string& owner = OwnerPassword.empty() ? UserPassword : OwnerPassword;
  // Algorithm 8: U and UE from the user password and two random salts.
  const std::string userSalts = RandomBytes(16);
  U = HashV5(UserPassword, std::string_view(userSalts).substr(0, 8), {}, 6) + userSalts;
  UE = CbcEncrypt(HashV5(UserPassword, std::string_view(userSalts).substr(8, 8), {}, 6), kZeroIV, FileKey);
  // Algorithm 9: O and OE the same way, with U hashed in.
  const std::string ownerSalts = RandomBytes(16);
  O = HashV5(owner, std::string_view(ownerSalts).substr(0, 8), U, 6) + ownerSalts;
  OE = CbcEncrypt(HashV5(owner, std::string_view(ownerSalts).substr(8, 8), U, 6), kZeroIV, FileKey);
  // Algorithm 10: P, four FF bytes, the metadata flag, "adb" and four random bytes.
  std::string perms;
  const auto p = static_cast<uint32_t>(P);
  for (int i = 0; i < 4; ++i) perms += static_cast<char>(p >> (8 * i));
  perms += "\xFF\xFF\xFF\xFF";
  perms += EncryptMetadata ? 'T' : 'F';
  perms += "adb";
  perms += RandomBytes(4);
  Perms = CbcEncrypt(FileKey, kZeroIV, perms);
}

}  // namespace lumipage
