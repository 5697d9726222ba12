// The standard security handler: files protected by qpdf open with their passwords and can be
// unprotected; documents we protect open in qpdf with the permissions we set.
#include <gtest/gtest.h>

#include "pdf/PDFDocument.h"
#include "pdf/PDFDocumentSecurity.h"
#include "pdf/PDFLoader.h"
#include "pdf/PDFSecurity.h"
#include "pdf/PDFWriter.h"
#include "tests/pdf/PdfFileBuilder.h"
#include "tests/pdf/PdfTestUtil.h"

namespace lumipage {
namespace {

using namespace testutil;

TEST(Permissions, ValuesCarryTheirCheckByte) {
  EXPECT_EQ(TPDFSecurity::Permissions(1, 0, 0, 0, 0, 0, 0, 0), 0xCC0001);
  EXPECT_EQ(TPDFSecurity::Permissions(2, 2, 2, 2, 2, 2, 2, 2), 0xCD0000);
  EXPECT_EQ(TPDFSecurity::Permissions(1, 1, 1, 1, 1, 1, 1, 1), 0x3200FF);
  EXPECT_TRUE(TPDFSecurity::ValidPermissions(0x3200FF));
  EXPECT_FALSE(TPDFSecurity::ValidPermissions(0xFF));
}

TEST(Permissions, EncryptRefusesBadArgumentsWithoutChange) {
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  const std::string before = SaveToString(doc);
  EXPECT_EQ(TPDFDocumentSecurity(doc).Encrypt("o", "u", 1, 0xFF), TPDFError::UncheckedPermissions);
  EXPECT_EQ(TPDFDocumentSecurity(doc).Encrypt("o", "u", 3, 0x3200FF), TPDFError::BadStrength);
  EXPECT_EQ(doc.SecurityState(), TSecurityState::Unprotected);
  EXPECT_EQ(TPDFDocumentSecurity(doc).Encrypt("o", "u", 0, 0x3200FF), TPDFError::None);
  EXPECT_EQ(TPDFDocumentSecurity(doc).Encrypt("o", "u", 1, 0x3200FF), TPDFError::AlreadyProtected);
  EXPECT_EQ(doc.SecurityState(), TSecurityState::Standard);
  EXPECT_EQ(doc.EncryptionStrength(), 40);
  EXPECT_EQ(TPDFDocumentSecurity(doc).SetPassword("o"), TPasswordResult::Owner);
}

struct ProtectCase {
  const char* name;
  int strength;
  int32_t permissions;
  int32_t p;
  const char* expectedLine;  // a line qpdf --show-encryption prints
};

class Protect : public ::testing::TestWithParam<ProtectCase> {};

TEST_P(Protect, QpdfOpensWithThePasswordAndShowsThePermissions) {
  const auto& c = GetParam();
  TempDir dir("protect");
  TPDFDocument doc;
  BuildTextDocument(doc, 2);
  ASSERT_EQ(TPDFDocumentSecurity(doc).Encrypt("owner pw", "user pw", c.strength, c.permissions), TPDFError::None);
  EXPECT_EQ(doc.SecurityState(), TSecurityState::Standard);
  EXPECT_EQ(doc.EncryptionStrength(), c.strength == 1 ? 128 : 40);
  ASSERT_TRUE(SaveDocument(doc, dir.File("p.pdf")));
  const std::string file = dir.File("p.pdf");
  const std::string pdf = ReadFile(file);
  EXPECT_NE(pdf.find("/P " + std::to_string(c.p) + "\n"), std::string::npos);
  EXPECT_NE(pdf.find(c.strength == 1 ? "/V 2\n/R 3\n/Length 128\n" : "/V 1\n/R 2\n"), std::string::npos);
  EXPECT_EQ(pdf.find("lumipage test"), std::string::npos);  // the Info title is encrypted
  std::string out;
  EXPECT_TRUE(QpdfClean(file, "--password='user pw'", &out)) << out;
  EXPECT_TRUE(QpdfClean(file, "--password='owner pw'", &out)) << out;
  const CommandResult wrong = RunCommand("qpdf --check --password=wrong '" + file + "'");
  EXPECT_NE(wrong.status, 0);
  EXPECT_NE(wrong.output.find("invalid password"), std::string::npos) << wrong.output;
  const std::string shown = RunCommand("qpdf --show-encryption --password='owner pw' '" + file + "'").output;
  EXPECT_NE(shown.find(c.expectedLine), std::string::npos) << shown;
  EXPECT_NE(Text(file, "-upw 'user pw'").find("Page 2 of lumipage"), std::string::npos);

  // Our reader opens it again with either password.
  TPDFDocument again;
  ASSERT_TRUE(LoadFromString(again, pdf));
  EXPECT_EQ(again.SecurityState(), TSecurityState::Standard);
  EXPECT_EQ(TPDFDocumentSecurity(again).SetPassword("wrong"), TPasswordResult::Fails);
  EXPECT_EQ(TPDFDocumentSecurity(again).Unencrypt(), false);
  EXPECT_EQ(TPDFDocumentSecurity(again).SetPassword("user pw"), TPasswordResult::User);
  EXPECT_EQ(again.GetInfo("Title"), "lumipage test");
  EXPECT_EQ(TPDFDocumentSecurity(again).SetPassword("owner pw"), TPasswordResult::Owner);
  EXPECT_EQ(TPDFDocumentSecurity(again).Unencrypt(), true);
  EXPECT_EQ(again.SecurityState(), TSecurityState::Unprotected);
  ASSERT_TRUE(SaveDocument(again, dir.File("plain.pdf")));
  EXPECT_TRUE(QpdfClean(dir.File("plain.pdf"), "", &out)) << out;
  EXPECT_NE(Text(dir.File("plain.pdf")).find("Page 1 of lumipage"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Security, Protect,
    ::testing::Values(ProtectCase{"Rc4_40_All", 0, TPDFSecurity::Permissions(1, 1, 1, 1, 1, 1, 1, 1), -4,
                                "print low resolution: allowed"},
                    ProtectCase{"Rc4_40_None", 0, TPDFSecurity::Permissions(0, 0, 0, 0, 0, 0, 0, 0), -64,
                                "extract for any purpose: not allowed"},
                    ProtectCase{"Rc4_128_All", 1, TPDFSecurity::Permissions(1, 1, 1, 1, 1, 1, 1, 1), -4,
                                "print high resolution: allowed"},
                    ProtectCase{"Rc4_128_None", 1, TPDFSecurity::Permissions(0, 0, 0, 0, 0, 0, 0, 0), -3904,
                                "modify document assembly: not allowed"},
                    ProtectCase{"Rc4_128_PrintOnly", 1, TPDFSecurity::Permissions(1, 0, 0, 0, 0, 0, 0, 0), -3900,
                                "print low resolution: allowed"}),
    [](const ::testing::TestParamInfo<ProtectCase>& info) { return std::string(info.param.name); });

// A one-page text document encrypted with every permission, as saved.
std::string EncryptedTextDocument(std::string_view owner, std::string_view user, int strength) {
  TPDFDocument doc;
  BuildTextDocument(doc, 1);
  EXPECT_EQ(TPDFDocumentSecurity(doc).Encrypt(owner, user, strength, TPDFSecurity::Permissions(1, 1, 1, 1, 1, 1, 1, 1)),
            TPDFError::None);
  return SaveToString(doc);
}

TEST(Security, SamePasswordForBothGivesFiveAndEmptyPasswordsOpenOnLoad) {
  TPDFDocument again;
  ASSERT_TRUE(LoadFromString(again, EncryptedTextDocument("same", "same", 1)));
  EXPECT_EQ(again.OpenPassword(), "");
  EXPECT_EQ(TPDFDocumentSecurity(again).SetPassword("same"), TPasswordResult::Both);
  EXPECT_EQ(again.OpenPassword(), "!same");

  TPDFDocument loaded;
  ASSERT_TRUE(LoadFromString(loaded, EncryptedTextDocument("", "", 0)));
  EXPECT_EQ(loaded.OpenPassword(), "!");
  EXPECT_EQ(loaded.GetInfo("Title"), "lumipage test");
  EXPECT_EQ(TPDFDocumentSecurity(loaded).Unencrypt(), true);
}

struct QpdfCrypt {
  const char* name;
  const char* args;  // qpdf --encrypt arguments
  int bits;
  const char* options = "";  // other qpdf options
};

class QpdfEncrypted : public ::testing::TestWithParam<QpdfCrypt> {};

TEST_P(QpdfEncrypted, OpensWithEitherPasswordAndUnencrypts) {
  TempDir dir("qcrypt");
  TPDFDocument src;
  BuildTextDocument(src, 2);
  // Metadata in clear text, to see which handlers encrypt it.
  const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'>lumipage metadata</x:xmpmeta>";
  TPDFStream* metadata = src.Structure().MakeStream("");
  metadata->SetData(xmp, false);
  metadata->Dictionary()->Put("Type", src.Structure().MakeName("Metadata"));
  metadata->Dictionary()->Put("Subtype", src.Structure().MakeName("XML"));
  src.Catalog()->Put("Metadata", src.MakeIndirect(metadata));
  ASSERT_TRUE(SaveDocument(src, dir.File("src.pdf")));
  const CommandResult made = RunCommand(std::string("qpdf --allow-weak-crypto ") + GetParam().options + " --encrypt " + GetParam().args + " -- '" +
                                        dir.File("src.pdf") + "' '" + dir.File("enc.pdf") + "'");
  ASSERT_EQ(made.status, 0) << made.output;
  const std::string bytes = ReadFile(dir.File("enc.pdf"));
  const bool emptyUser = std::string(GetParam().args).starts_with("''");
  const bool clearMetadata = std::string(GetParam().args).find("cleartext-metadata") != std::string::npos;
  EXPECT_EQ(bytes.find(xmp) != std::string::npos, clearMetadata);
  for (const char* password : {"user", "owner"}) {
    TPDFDocument doc;
    ASSERT_TRUE(LoadFromString(doc, bytes));
    EXPECT_EQ(doc.SecurityState(), TSecurityState::Standard);
    EXPECT_EQ(doc.EncryptionStrength(), GetParam().bits);
    if (emptyUser) {
      EXPECT_EQ(doc.OpenPassword(), "!");
    } else {
      EXPECT_EQ(doc.OpenPassword(), "");
      EXPECT_EQ(TPDFDocumentSecurity(doc).SetPassword("nope"), TPasswordResult::Fails);
      EXPECT_EQ(TPDFDocumentSecurity(doc).SetPassword(password),
                std::string(password) == "user" ? TPasswordResult::User : TPasswordResult::Owner);
    }
    EXPECT_EQ(doc.GetInfo("Title"), "lumipage test");
    EXPECT_EQ(TPDFDocumentSecurity(doc).Unencrypt(), true);
    ASSERT_TRUE(SaveDocument(doc, dir.File("out.pdf")));
    std::string out;
    EXPECT_TRUE(QpdfClean(dir.File("out.pdf"), "", &out)) << out;
    EXPECT_EQ(PageCount(dir.File("out.pdf")), "2");
    EXPECT_EQ(Text(dir.File("out.pdf")), Text(dir.File("src.pdf")));
    // The metadata decrypted exactly once (or left alone when it was in clear text).
    ASSERT_EQ(RunCommand("qpdf --stream-data=uncompress '" + dir.File("out.pdf") + "' '" + dir.File("plain.pdf") + "'").status, 0);
    EXPECT_NE(ReadFile(dir.File("plain.pdf")).find(xmp), std::string::npos);
  }
  // Saved without unprotecting: still protected the same way, still opening in qpdf, with the
  // catalog (and its metadata) and the pages decrypted and encrypted again.
  TPDFDocument keep;
  ASSERT_TRUE(LoadFromString(keep, bytes));
  if (!emptyUser) {
    ASSERT_EQ(TPDFDocumentSecurity(keep).SetPassword("user"), TPasswordResult::User);
  }
  keep.DecryptReachable(1, 0);
  auto* root = As<TPDFIndRef>(keep.Trailer()->Get("Root"));
  ASSERT_NE(root, nullptr);
  keep.DecryptReachable(root->ObjectNumber(), root->Generation());
  ASSERT_TRUE(SaveDocument(keep, dir.File("kept.pdf")));
  std::string out;
  EXPECT_TRUE(QpdfClean(dir.File("kept.pdf"), "--password=owner", &out)) << out;
  EXPECT_EQ(Text(dir.File("kept.pdf"), emptyUser ? "" : "-upw user"), Text(dir.File("src.pdf")));
  EXPECT_EQ(EncryptionMethod(dir.File("kept.pdf"), "owner"), EncryptionMethod(dir.File("enc.pdf"), "owner"));
  EXPECT_EQ(ReadFile(dir.File("kept.pdf")).find(xmp) != std::string::npos, clearMetadata);
  ASSERT_EQ(RunCommand("qpdf --password=owner --decrypt --stream-data=uncompress '" + dir.File("kept.pdf") + "' '" +
                       dir.File("dec.pdf") + "'")
                .status,
            0);
  EXPECT_NE(ReadFile(dir.File("dec.pdf")).find(xmp), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Security, QpdfEncrypted,
    ::testing::Values(QpdfCrypt{"Rc4_40", "user owner 40", 40},
                    QpdfCrypt{"Rc4_40_NoPrint", "user owner 40 --print=n --modify=n", 40},
                    QpdfCrypt{"Rc4_128", "user owner 128 --use-aes=n", 128},
                    QpdfCrypt{"Rc4_128_Restricted", "user owner 128 --use-aes=n --print=none --extract=n", 128},
                    QpdfCrypt{"Rc4_128_ObjectStreams", "user owner 128 --use-aes=n", 128, "--object-streams=generate"},
                    QpdfCrypt{"EmptyUser_128", "'' owner 128 --use-aes=n", 128},
                    QpdfCrypt{"Rc4_128_CryptFilters", "user owner 128 --use-aes=n --force-V4", 128},
                    QpdfCrypt{"Aes128", "user owner 128 --use-aes=y", 128},
                    QpdfCrypt{"Aes128_ObjectStreams", "user owner 128 --use-aes=y", 128, "--object-streams=generate"},
                    QpdfCrypt{"Aes128_ClearMetadata", "user owner 128 --use-aes=y --cleartext-metadata", 128},
                    QpdfCrypt{"Aes256", "user owner 256", 256},
                    QpdfCrypt{"Aes256_ObjectStreams", "user owner 256", 256, "--object-streams=generate"},
                    QpdfCrypt{"Aes256_R5", "user owner 256 --force-R5", 256},
                    QpdfCrypt{"Aes256_ClearMetadata", "user owner 256 --cleartext-metadata", 256},
                    QpdfCrypt{"EmptyUser_Aes256", "'' owner 256", 256}),
    [](const ::testing::TestParamInfo<QpdfCrypt>& info) { return std::string(info.param.name); });

TEST(Security, ReachableObjectsReadBeforeThePasswordAreDecryptedAfterIt) {
  TPDFDocument again;
  ASSERT_TRUE(LoadFromString(again, EncryptedTextDocument("o", "u", 1)));
  again.DecryptReachable(3, 0);  // no password yet: nothing can be decrypted
  ASSERT_EQ(TPDFDocumentSecurity(again).SetPassword("u"), TPasswordResult::User);
  again.DecryptReachable(3, 0);
  TempDir dir("reach");
  ASSERT_TRUE(SaveDocument(again, dir.File("r.pdf")));
  std::string out;
  EXPECT_TRUE(QpdfClean(dir.File("r.pdf"), "--password=u", &out)) << out;
  EXPECT_NE(Text(dir.File("r.pdf"), "-upw u").find("Page 1 of lumipage"), std::string::npos);
}

TEST(Security, WholeDocumentPassThroughTheTemporaryStore) {
  TempDir dir("store");
  TPDFDocument doc;
  BuildTextDocument(doc, 3);
  TPDFStream* big = doc.Structure().MakeStream("");
  big->SetData(std::string(5000, 'z'), false);
  doc.AddIndirect(big);
  ASSERT_TRUE(doc.SetTempStore(dir.File("objects.tmp")));
  ASSERT_EQ(TPDFDocumentSecurity(doc).Encrypt("o", "u", 0, TPDFSecurity::Permissions(1, 1, 1, 1, 1, 1, 1, 1)),
            TPDFError::None);
  EXPECT_FALSE(doc.HasTempStore());
  EXPECT_FALSE(std::filesystem::exists(dir.File("objects.tmp")));
  EXPECT_EQ(doc.SecurityState(), TSecurityState::Standard);
  ASSERT_TRUE(SaveDocument(doc, dir.File("e.pdf")));
  std::string out;
  EXPECT_TRUE(QpdfClean(dir.File("e.pdf"), "--password=u", &out)) << out;
  EXPECT_NE(Text(dir.File("e.pdf"), "-upw u").find("Page 3 of lumipage"), std::string::npos);
}

TEST(Security, ShortPermissionValueOpens) {
  // A producer that wrote /P as the unsigned 16-bit value 65532 and keyed with it.
  for (bool revision3 : {false, true}) {
    TPDFSecurity producer;
    producer.SetA = 15;
    producer.SetB = 15;
    producer.Revision3 = revision3;
    producer.KeyBytes = revision3 ? 16 : 5;
    producer.ShortP = true;
    producer.UserPassword = "pw";
    producer.OwnerPassword = "own";
    producer.Compute("0123456789abcdef");
    ASSERT_EQ(producer.P, 65532);
    TPDFSecurity reader;
    reader.Revision = revision3 ? 3 : 2;
    reader.KeyBytes = producer.KeyBytes;
    reader.StoredO = producer.O;
    reader.StoredU = producer.U;
    reader.StoredP = 65532;
    EXPECT_TRUE(reader.CheckUser("pw", "0123456789abcdef"));
    EXPECT_TRUE(reader.CheckOwner("own", "0123456789abcdef"));
    EXPECT_FALSE(reader.CheckUser("own", "0123456789abcdef"));
    EXPECT_EQ(reader.FileKey.size(), producer.FileKey.size());
  }
}

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// Revision 4 RC4 with a key shorter than 128 bits, as some producers write it: the password
// check takes the short key, and every object's key is made from the key filled with zero bytes
// to 16. Read with the short key itself, every stream and string came out as garbage.
TEST(Security, ShortRevisionFourKeyIsFilledToSixteenBytes) {
  const std::string id0 = "0123456789abcdef";
  TPDFSecurity producer;
  producer.SetA = 15;
  producer.SetB = 15;
  producer.Revision3 = true;  // revision 4 keys and checks as revision 3 does
  producer.KeyBytes = 5;
  producer.OwnerPassword = "owner";
  producer.Compute(id0);
  const std::string filled = producer.FileKey + std::string(11, '\0');
  auto encrypt = [&](int number, const std::string& data) {
    std::string key = filled;
    key += {static_cast<char>(number), '\0', '\0', '\0', '\0'};
    return TPDFSecurity::RC4(TPDFSecurity::MD5(key), data);
  };
  const std::string text = "BT /F1 24 Tf 72 700 Td (Forty bits, filled) Tj ET";
  FileBuilder b("%PDF-1.6\n");
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Object(2, "<< /Type /Pages /Kids [ 3 0 R ] /Count 1 >>");
  b.Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [ 0 0 612 792 ] /Contents 4 0 R"
              " /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >> >>");
  const std::string data = encrypt(4, text);
  b.Object(4, "<< /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream");
  b.Object(5, "<< /Filter /Standard /V 4 /R 4 /Length 40 /CF << /StdCF << /AuthEvent /DocOpen /CFM /V2 /Length 5 >> >>"
              " /StmF /StdCF /StrF /StdCF /O <" + Hex(producer.O) + "> /U <" + Hex(producer.U) + "> /P " +
              std::to_string(producer.P) + " >>");
  b.Object(6, "<< /Title <" + Hex(encrypt(6, "Short key")) + "> >>");
  b.ClassicTable(6, "/Size 7 /Root 1 0 R /Info 6 0 R /Encrypt 5 0 R /ID [ <" + Hex(id0) + "> <" + Hex(id0) + "> ]");

  TempDir dir("shortkey");
  auto check = [&](TPDFDocument& doc) {
    EXPECT_EQ(TPDFDocumentSecurity(doc).SetPassword(""), TPasswordResult::User);
    EXPECT_EQ(doc.GetInfo("Title"), "Short key");
    TPDFIndObj* content = doc.FindIndirect(4, 0);
    ASSERT_NE(content, nullptr);
    doc.DecryptObject(*content);
    auto* stream = As<TPDFStream>(doc.GetValue(content));
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->Decode(), text);
  };
  TPDFDocument doc;
  ASSERT_TRUE(LoadFromString(doc, b.Text()));
  check(doc);
  // Saved with its protection, it reads back the same; unprotected, other readers show the text.
  TPDFDocument again;
  ASSERT_TRUE(LoadFromString(again, SaveToString(doc)));
  check(again);
  ASSERT_TRUE(TPDFDocumentSecurity(again).Unencrypt());
  ASSERT_TRUE(SaveDocument(again, dir.File("plain.pdf")));
  EXPECT_NE(Text(dir.File("plain.pdf")).find("Forty bits, filled"), std::string::npos);
}

TEST(Security, RevisionThreeUComparesOnlySixteenBytes) {
  TPDFSecurity producer;
  producer.SetA = 15;
  producer.Revision3 = true;
  producer.KeyBytes = 16;
  producer.UserPassword = "u";
  producer.Compute("id");
  ASSERT_EQ(producer.U.size(), 32u);
  EXPECT_EQ(producer.U.substr(16), std::string(16, '\0'));
  TPDFSecurity reader;
  reader.Revision = 3;
  reader.KeyBytes = 16;
  reader.StoredO = producer.O;
  reader.StoredU = producer.U.substr(0, 16) + std::string(16, 'x');
  reader.StoredP = producer.P;
  EXPECT_TRUE(reader.CheckUser("u", "id"));
}

std::string FromHex(std::string_view hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  return out;
}

struct V5Vector {
  const char* name;
  int revision;
  const char* u;  // 48 bytes: hash, validation salt, key salt
  const char* ue;
  const char* o;
  const char* oe;
  const char* perms;
  const char* fileKey;
};

class PublishedV5 : public ::testing::TestWithParam<V5Vector> {};

// Published vectors of the AES-256 password algorithms (the crypto tests of pdf.js): user
// "user", owner "owner"; revision 5 hashes with SHA-256, revision 6 with Algorithm 2.B. Their
// /Perms carry P -4.
TEST_P(PublishedV5, BothPasswordsUnlockTheFileKey) {
  const V5Vector& v = GetParam();
  TPDFSecurity sec;
  sec.Revision = v.revision;
  sec.StoredU = FromHex(v.u);
  sec.StoredUE = FromHex(v.ue);
  sec.StoredO = FromHex(v.o);
  sec.StoredOE = FromHex(v.oe);
  sec.StoredPerms = FromHex(v.perms);
  sec.StoredP = -4;
  EXPECT_EQ(sec.HashV5("user", sec.StoredU.substr(32, 8), {}, v.revision), sec.StoredU.substr(0, 32));
  ASSERT_TRUE(sec.CheckUser("user", ""));
  EXPECT_EQ(sec.FileKey, FromHex(v.fileKey));
  EXPECT_TRUE(sec.PermsValid());
  sec.FileKey.clear();
  ASSERT_TRUE(sec.CheckOwner("owner", ""));
  EXPECT_EQ(sec.FileKey, FromHex(v.fileKey));
  EXPECT_FALSE(sec.CheckUser("owner", ""));
  EXPECT_FALSE(sec.CheckOwner("user", ""));
  EXPECT_FALSE(sec.CheckUser("", ""));
  sec.StoredP = -1084;  // Perms binds P
  EXPECT_FALSE(sec.PermsValid());
}

INSTANTIATE_TEST_SUITE_P(
    Security, PublishedV5,
    ::testing::Values(
        V5Vector{"Revision5", 5,
                 "83f28fa057028a864ffdbdade04990f1be51c50ff96991970fc24103017ebbdd75a904209f6516dca85ed7c06426bc28",
                 "2396c3a9f53333ff9e9e21f2e74b7dbe197eac72c3f489f5eaa52a4a3c261111",
                 "3c6289233365c898d2b2e2e486cda318cc7eb1246a32247dd2acab78de6c8b73f37647998011653ec8f5f20cda7b1878",
                 "d5ca0ebd6e4c46bf06c30abe9d649055083e7bb29ce53228e5d836de22266adf", "d8fc8434e5650d425d7f66fd3c4f4d4d",
                 "3f7288d1573d0c1ef901ba90fef8a3999733850a5098ce0f48bbe721e0ef0dd5"},
        V5Vector{"Revision6", 6,
                 "5ee6cd4ba663fa4cdb801155391121a4962e67b0a09cbbe9a6dfa3fd93eb5fb853f59265c6f722c6bf0b105eedd814af",
                 "79d002b5e6599c3cfd8fd41c54b4c4b1ad80dd6b2e145eba87335f1814dffe24",
                 "58e83e36f51af5d1897bdd48c73125d91f4a73a77f9eb04d2da3572f275ad98d8ee8a9d0cad605b91dd0b92e0b4c8795",
                 "d149e04d679bc9b5be44df143e5a38d205f0b280ee7c44fefdf43e6cd0870afb", "6cad0fa0eb4d86574d3ecbb5e058c937",
                 "2adad527495b484f4326f88512bd3d226b4f1d383bb5d576712241d257ae16ef"}),
    [](const ::testing::TestParamInfo<V5Vector>& info) { return std::string(info.param.name); });

TEST(Security, AesStringsRoundTripAndDamagedDataStaysHarmless) {
  // A damaged file can give a key of any length: it is never read past its end.
  const std::string key128(16, 'k'), key256(32, 'K'), shortKey(5, 's');
  for (const std::string& key : {key128, key256, shortKey}) {
    for (size_t n : {0u, 1u, 15u, 16u, 17u, 1000u}) {
      const std::string plain(n, 'p');
      const std::string enc = TPDFSecurity::AESEncrypt(key, plain);
      EXPECT_EQ(enc.size(), 16 + (n / 16 + 1) * 16);
      EXPECT_EQ(TPDFSecurity::AESDecrypt(key, enc), plain);
      EXPECT_NE(TPDFSecurity::AESEncrypt(key, plain), enc);  // a fresh IV every time
    }
    // Too short, a partial block, or padding that does not check out: no crash, no overrun.
    EXPECT_EQ(TPDFSecurity::AESDecrypt(key, "short"), "");
    EXPECT_EQ(TPDFSecurity::AESDecrypt(key, std::string(16, 'x')), "");
    EXPECT_EQ(TPDFSecurity::AESDecrypt(key, std::string(40, 'x')).size() % 16, 0u);
  }
}

TEST(Security, Aes256ProtectionOpensInQpdfAndPoppler) {
  TempDir dir("aes256");
  TPDFDocument doc;
  BuildTextDocument(doc, 2);
  ASSERT_EQ(
      TPDFDocumentSecurity(doc).Encrypt("owner pw", "user pw", 2, TPDFSecurity::Permissions(1, 1, 1, 1, 1, 1, 1, 1)),
      TPDFError::None);
  EXPECT_EQ(doc.SecurityState(), TSecurityState::Standard);
  EXPECT_EQ(doc.EncryptionStrength(), 256);
  ASSERT_TRUE(SaveDocument(doc, dir.File("a.pdf")));
  const std::string file = dir.File("a.pdf");
  EXPECT_EQ(ReadFile(file).find("lumipage test"), std::string::npos);
  std::string out;
  EXPECT_TRUE(QpdfClean(file, "--password='user pw'", &out)) << out;
  EXPECT_TRUE(QpdfClean(file, "--password='owner pw'", &out)) << out;
  const std::string method = EncryptionMethod(file, "user pw");
  EXPECT_NE(method.find("R = 6"), std::string::npos) << method;
  EXPECT_NE(method.find("stream encryption method: AESv3"), std::string::npos) << method;
  EXPECT_NE(method.find("string encryption method: AESv3"), std::string::npos) << method;
  EXPECT_NE(RunCommand("qpdf --check --password=wrong '" + file + "'").status, 0);
  EXPECT_NE(Text(file, "-upw 'user pw'").find("Page 2 of lumipage"), std::string::npos);
  EXPECT_NE(Text(file, "-opw 'owner pw'").find("Page 1 of lumipage"), std::string::npos);
  // And it opens here again with either password, the permissions check included.
  TPDFDocument again;
  ASSERT_TRUE(LoadFromString(again, ReadFile(file)));
  EXPECT_EQ(TPDFDocumentSecurity(again).SetPassword("wrong"), TPasswordResult::Fails);
  EXPECT_EQ(TPDFDocumentSecurity(again).SetPassword("owner pw"), TPasswordResult::Owner);
  EXPECT_EQ(TPDFDocumentSecurity(again).SetPassword("user pw"), TPasswordResult::User);
  EXPECT_EQ(again.GetInfo("Title"), "lumipage test");
  // Unprotected with the key the password unlocked when it opened the document.
  ASSERT_TRUE(TPDFDocumentSecurity(again).Unencrypt());
  EXPECT_EQ(again.SecurityState(), TSecurityState::Unprotected);
  ASSERT_TRUE(SaveDocument(again, dir.File("plain.pdf")));
  EXPECT_TRUE(QpdfClean(dir.File("plain.pdf"), "", &out)) << out;
  EXPECT_NE(Text(dir.File("plain.pdf"), "").find("Page 2 of lumipage"), std::string::npos);
}

TEST(Security, UnsupportedAndShortEntries) {
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  EXPECT_EQ(TPDFDocumentSecurity(doc).SetPassword("x"), TPasswordResult::Unprotected);
  // Crypt filters that name a method we lack, or none that /CF defines, or AES-256 under
  // revision 4: the document cannot be opened.
  for (const char* dict : {"<< /Filter /Standard /V 4 /R 4 /CF << /StdCF << /CFM /Unknown >> >> /StmF /StdCF >>",
                           "<< /Filter /Standard /V 4 /R 4 /StmF /Missing >>",
                           "<< /Filter /Standard /V 4 /R 4 /CF << /StdCF << /CFM /AESV3 >> >> /StrF /StdCF >>",
                           "<< /Filter /Standard /V 5 /R 4 >>", "<< /Filter /Other /V 5 /R 6 >>"}) {
    doc.SetEncryption(doc.Structure().Parse(dict));
    EXPECT_EQ(doc.SecurityState(), TSecurityState::Unsupported) << dict;
  }
  // Identity everywhere, or AES-256 with short entries: supported, and no password passes.
  doc.SetEncryption(doc.Structure().Parse("<< /Filter /Standard /V 4 /R 4 /O <01> /U <02> /P -4 >>"));
  EXPECT_EQ(doc.SecurityState(), TSecurityState::Standard);
  doc.SetEncryption(doc.Structure().Parse("<< /Filter /Standard /V 5 /R 6 /O <01> /U <02> /P -4 >>"));
  EXPECT_EQ(doc.SecurityState(), TSecurityState::Standard);
  EXPECT_EQ(doc.EncryptionStrength(), 256);
  EXPECT_EQ(TPDFDocumentSecurity(doc).SetPassword(""), TPasswordResult::Fails);
  doc.SetEncryption(doc.Structure().Parse("<< /Filter /Standard /V 3 /R 3 >>"));
  EXPECT_EQ(TPDFDocumentSecurity(doc).SetPassword("x"), TPasswordResult::Unsupported);
  EXPECT_EQ(TPDFDocumentSecurity(doc).Unencrypt(), false);
  EXPECT_EQ(TPDFDocumentSecurity(doc).Encrypt("a", "b", 1, 0x3200FF), TPDFError::AlreadyProtected);
  doc.SetEncryption(doc.Structure().Parse("<< /Filter /Standard /V 2 /R 3 /O <01> /U <> /P -4 >>"));
  EXPECT_EQ(doc.SecurityState(), TSecurityState::Standard);
  EXPECT_EQ(TPDFDocumentSecurity(doc).SetPassword(""), TPasswordResult::Fails);
  EXPECT_EQ(TPDFDocumentSecurity(doc).SetPassword("x"), TPasswordResult::Fails);
}

struct TrailerIdCase {
  const char* name;
  const char* keyedWith;  // the first ID the writer made the key with
  const char* written;    // the trailer's /ID as the writer left it ("" for none)
};

class TrailerId : public ::testing::TestWithParam<TrailerIdCase> {};

// Readers take the first string of an /ID pair, or an empty ID when /ID is missing or odd; a
// file keyed either way opens, and an ID is never added where the file had none.
TEST_P(TrailerId, RevisionsTwoToFourOpenAsReadersOpenThem) {
  for (int strength : {0, 1}) {
    SCOPED_TRACE(strength);
    TPDFDocument writer;
    BuildTextDocument(writer, 1);
    writer.Trailer()->Put("ID", writer.Structure().Parse("[<" + std::string(GetParam().keyedWith) + "> <" +
                                                         GetParam().keyedWith + ">]"));
    ASSERT_EQ(TPDFDocumentSecurity(writer).Encrypt("owner", "user", strength,
                                                   TPDFSecurity::Permissions(1, 1, 1, 1, 1, 1, 1, 1)),
              TPDFError::None);
    std::string bytes = SaveToString(writer);
    // The trailer comes after every object and the table: editing it moves no offset.
    const size_t id = bytes.find("/ID [", bytes.rfind("trailer"));
    ASSERT_NE(id, std::string::npos);
    bytes.replace(id, bytes.find(']', id) + 1 - id, GetParam().written);
    for (const char* password : {"user", "owner"}) {
      TPDFDocument doc;
      ASSERT_TRUE(LoadFromString(doc, bytes));
      EXPECT_EQ(TPDFDocumentSecurity(doc).SetPassword(password),
                std::string(password) == "user" ? TPasswordResult::User : TPasswordResult::Owner)
          << password;
      EXPECT_EQ(doc.GetInfo("Title"), "lumipage test");
      if (std::string(GetParam().written).empty()) {
        EXPECT_EQ(doc.Trailer()->Get("ID"), nullptr);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Security, TrailerId,
    ::testing::Values(TrailerIdCase{"Pair", "0A0B", "/ID [<0A0B> <0C0D>]"},
                      TrailerIdCase{"Missing", "", ""},
                      TrailerIdCase{"NotAnArray", "", "/ID <0A0B>"},
                      TrailerIdCase{"FirstNotAString", "", "/ID [1 <0A0B>]"},
                      TrailerIdCase{"OneStringKeyedWithIt", "0A0B", "/ID [<0A0B>]"},
                      TrailerIdCase{"OneStringKeyedEmpty", "", "/ID [<0A0B>]"}),
    [](const ::testing::TestParamInfo<TrailerIdCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumipage
