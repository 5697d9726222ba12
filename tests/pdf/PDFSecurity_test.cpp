// The standard security handler: files protected by qpdf open with their passwords and can be
// unprotected; documents we protect open in qpdf with the permissions we set.
#include <gtest/gtest.h>

#include "pdf/PDFDocument.h"
#include "pdf/PDFSecurity.h"
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
  const std::string before = doc.SaveToString();
  EXPECT_EQ(doc.Encrypt("o", "u", 1, 0xFF), 102);
  EXPECT_EQ(doc.Encrypt("o", "u", 2, 0x3200FF), 101);
  EXPECT_EQ(doc.SecurityState(), 0);
  EXPECT_EQ(doc.Encrypt("o", "u", 0, 0x3200FF), 0);
  EXPECT_EQ(doc.Encrypt("o", "u", 1, 0x3200FF), 103);
  EXPECT_EQ(doc.SecurityState(), 1);
  EXPECT_EQ(doc.EncryptionStrength(), 40);
  EXPECT_EQ(doc.SetPassword("o"), 2);
}

struct ProtectCase {
  const char* name;
  int strength;
  int32_t permissions;
  int32_t p;
  const char* expectedLine;  // a line qpdf --show-encryption prints
};

class Protect : public testing::TestWithParam<ProtectCase> {};

TEST_P(Protect, QpdfOpensWithThePasswordAndShowsThePermissions) {
  const auto& c = GetParam();
  TempDir dir("protect");
  TPDFDocument doc;
  BuildTextDocument(doc, 2);
  ASSERT_EQ(doc.Encrypt("owner pw", "user pw", c.strength, c.permissions), 0);
  EXPECT_EQ(doc.SecurityState(), 1);
  EXPECT_EQ(doc.EncryptionStrength(), c.strength == 1 ? 128 : 40);
  ASSERT_TRUE(doc.SaveToFile(dir.File("p.pdf")));
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
  ASSERT_TRUE(again.LoadFromString(pdf));
  EXPECT_EQ(again.SecurityState(), 1);
  EXPECT_EQ(again.SetPassword("wrong"), 0);
  EXPECT_EQ(again.Unencrypt(), 0);
  EXPECT_EQ(again.SetPassword("user pw"), 1);
  EXPECT_EQ(again.GetInfo("Title"), "lumipage test");
  EXPECT_EQ(again.SetPassword("owner pw"), 2);
  EXPECT_EQ(again.Unencrypt(), 1);
  EXPECT_EQ(again.SecurityState(), 0);
  ASSERT_TRUE(again.SaveToFile(dir.File("plain.pdf")));
  EXPECT_TRUE(QpdfClean(dir.File("plain.pdf"), "", &out)) << out;
  EXPECT_NE(Text(dir.File("plain.pdf")).find("Page 1 of lumipage"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Security, Protect,
    testing::Values(ProtectCase{"Rc4_40_All", 0, TPDFSecurity::Permissions(1, 1, 1, 1, 1, 1, 1, 1), -4,
                                "print low resolution: allowed"},
                    ProtectCase{"Rc4_40_None", 0, TPDFSecurity::Permissions(0, 0, 0, 0, 0, 0, 0, 0), -64,
                                "extract for any purpose: not allowed"},
                    ProtectCase{"Rc4_128_All", 1, TPDFSecurity::Permissions(1, 1, 1, 1, 1, 1, 1, 1), -4,
                                "print high resolution: allowed"},
                    ProtectCase{"Rc4_128_None", 1, TPDFSecurity::Permissions(0, 0, 0, 0, 0, 0, 0, 0), -3904,
                                "modify document assembly: not allowed"},
                    ProtectCase{"Rc4_128_PrintOnly", 1, TPDFSecurity::Permissions(1, 0, 0, 0, 0, 0, 0, 0), -3900,
                                "print low resolution: allowed"}),
    [](const testing::TestParamInfo<ProtectCase>& info) { return std::string(info.param.name); });

TEST(Security, SamePasswordForBothGivesFiveAndEmptyPasswordsOpenOnLoad) {
  TPDFDocument doc;
  BuildTextDocument(doc, 1);
  ASSERT_EQ(doc.Encrypt("same", "same", 1, TPDFSecurity::Permissions(1, 1, 1, 1, 1, 1, 1, 1)), 0);
  TPDFDocument again;
  ASSERT_TRUE(again.LoadFromString(doc.SaveToString()));
  EXPECT_EQ(again.OpenPassword(), "");
  EXPECT_EQ(again.SetPassword("same"), 5);
  EXPECT_EQ(again.OpenPassword(), "!same");

  TPDFDocument open;
  BuildTextDocument(open, 1);
  ASSERT_EQ(open.Encrypt("", "", 0, TPDFSecurity::Permissions(1, 1, 1, 1, 1, 1, 1, 1)), 0);
  TPDFDocument loaded;
  ASSERT_TRUE(loaded.LoadFromString(open.SaveToString()));
  EXPECT_EQ(loaded.OpenPassword(), "!");
  EXPECT_EQ(loaded.GetInfo("Title"), "lumipage test");
  EXPECT_EQ(loaded.Unencrypt(), 1);
}

struct QpdfCrypt {
  const char* name;
  const char* args;  // qpdf --encrypt arguments
  int bits;
  const char* options = "";  // other qpdf options
};

class QpdfEncrypted : public testing::TestWithParam<QpdfCrypt> {};

TEST_P(QpdfEncrypted, OpensWithEitherPasswordAndUnencrypts) {
  TempDir dir("qcrypt");
  TPDFDocument src;
  BuildTextDocument(src, 2);
  ASSERT_TRUE(src.SaveToFile(dir.File("src.pdf")));
  const CommandResult made = RunCommand(std::string("qpdf --allow-weak-crypto ") + GetParam().options + " --encrypt " + GetParam().args + " -- '" +
                                        dir.File("src.pdf") + "' '" + dir.File("enc.pdf") + "'");
  ASSERT_EQ(made.status, 0) << made.output;
  const std::string bytes = ReadFile(dir.File("enc.pdf"));
  const bool emptyUser = std::string(GetParam().args).starts_with("''");
  for (const char* password : {"user", "owner"}) {
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromString(bytes));
    EXPECT_EQ(doc.SecurityState(), 1);
    EXPECT_EQ(doc.EncryptionStrength(), GetParam().bits);
    if (emptyUser) {
      EXPECT_EQ(doc.OpenPassword(), "!");
    } else {
      EXPECT_EQ(doc.OpenPassword(), "");
      EXPECT_EQ(doc.SetPassword("nope"), 0);
      EXPECT_EQ(doc.SetPassword(password), std::string(password) == "user" ? 1 : 2);
    }
    EXPECT_EQ(doc.GetInfo("Title"), "lumipage test");
    EXPECT_EQ(doc.Unencrypt(), 1);
    ASSERT_TRUE(doc.SaveToFile(dir.File("out.pdf")));
    std::string out;
    EXPECT_TRUE(QpdfClean(dir.File("out.pdf"), "", &out)) << out;
    EXPECT_EQ(PageCount(dir.File("out.pdf")), "2");
    EXPECT_EQ(Text(dir.File("out.pdf")), Text(dir.File("src.pdf")));
  }
  // Saved without unprotecting: still protected, still opening in qpdf.
  TPDFDocument keep;
  ASSERT_TRUE(keep.LoadFromString(bytes));
  if (!emptyUser) {
    ASSERT_EQ(keep.SetPassword("user"), 1);
  }
  keep.DecryptReachable(1, 0);
  ASSERT_TRUE(keep.SaveToFile(dir.File("kept.pdf")));
  std::string out;
  EXPECT_TRUE(QpdfClean(dir.File("kept.pdf"), "--password=owner", &out)) << out;
  EXPECT_EQ(Text(dir.File("kept.pdf"), emptyUser ? "" : "-upw user"), Text(dir.File("src.pdf")));
}

INSTANTIATE_TEST_SUITE_P(
    Security, QpdfEncrypted,
    testing::Values(QpdfCrypt{"Rc4_40", "user owner 40", 40},
                    QpdfCrypt{"Rc4_40_NoPrint", "user owner 40 --print=n --modify=n", 40},
                    QpdfCrypt{"Rc4_128", "user owner 128 --use-aes=n", 128},
                    QpdfCrypt{"Rc4_128_Restricted", "user owner 128 --use-aes=n --print=none --extract=n", 128},
                    QpdfCrypt{"Rc4_128_ObjectStreams", "user owner 128 --use-aes=n", 128, "--object-streams=generate"},
                    QpdfCrypt{"EmptyUser_128", "'' owner 128 --use-aes=n", 128}),
    [](const testing::TestParamInfo<QpdfCrypt>& info) { return std::string(info.param.name); });

TEST(Security, ReachableObjectsReadBeforeThePasswordAreDecryptedAfterIt) {
  TPDFDocument doc;
  BuildTextDocument(doc, 1);
  ASSERT_EQ(doc.Encrypt("o", "u", 1, TPDFSecurity::Permissions(1, 1, 1, 1, 1, 1, 1, 1)), 0);
  TPDFDocument again;
  ASSERT_TRUE(again.LoadFromString(doc.SaveToString()));
  again.DecryptReachable(3, 0);  // no password yet: nothing can be decrypted
  ASSERT_EQ(again.SetPassword("u"), 1);
  again.DecryptReachable(3, 0);
  TempDir dir("reach");
  ASSERT_TRUE(again.SaveToFile(dir.File("r.pdf")));
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
  ASSERT_EQ(doc.Encrypt("o", "u", 0, TPDFSecurity::Permissions(1, 1, 1, 1, 1, 1, 1, 1)), 0);
  EXPECT_FALSE(doc.HasTempStore());
  EXPECT_FALSE(std::filesystem::exists(dir.File("objects.tmp")));
  EXPECT_EQ(doc.SecurityState(), 1);
  ASSERT_TRUE(doc.SaveToFile(dir.File("e.pdf")));
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

TEST(Security, UnsupportedAndShortEntries) {
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  EXPECT_EQ(doc.SetPassword("x"), 3);
  doc.Trailer()->Put("Encrypt", doc.Structure().Parse("<< /Filter /Standard /V 4 /R 4 >>"));
  EXPECT_EQ(doc.SecurityState(), 2);
  EXPECT_EQ(doc.SetPassword("x"), 4);
  EXPECT_EQ(doc.Unencrypt(), 0);
  EXPECT_EQ(doc.Encrypt("a", "b", 1, 0x3200FF), 103);
  doc.Trailer()->Put("Encrypt", doc.Structure().Parse("<< /Filter /Standard /V 2 /R 3 /O <01> /U <> /P -4 >>"));
  EXPECT_EQ(doc.SecurityState(), 1);
  EXPECT_EQ(doc.SetPassword(""), 0);
  EXPECT_EQ(doc.SetPassword("x"), 0);
}

}  // namespace
}  // namespace lumipage
