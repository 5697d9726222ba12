// The document store: objects, catalog, information and identifier, and the temporary store.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "PdfTestUtil.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFWriter.h"

namespace lumipage {
namespace {

using testutil::TempDir;

TEST(Store, AddFindAndSize) {
  TPDFDocument doc;
  EXPECT_EQ(doc.Version(), "");
  ASSERT_TRUE(doc.NewDocument());
  EXPECT_EQ(doc.Version(), "1.4");
  EXPECT_FALSE(doc.VersionSet());
  TPDFIndObj* o = doc.AddIndirect(doc.Structure().MakeNumber(3));
  EXPECT_EQ(o->Number, 5);
  EXPECT_TRUE(o->Value->IsIndirect());
  EXPECT_EQ(o->Value->ObjectNumber(), 5);
  EXPECT_EQ(doc.Trailer()->GetInteger("Size", 0), 6);
  EXPECT_EQ(doc.FindIndirect(5, 0), o);
  EXPECT_EQ(doc.FindIndirect(5, 1), nullptr);
  EXPECT_EQ(doc.FindIndirect(99, 0), nullptr);
  TPDFIndRef* ref = doc.MakeIndirect(doc.Structure().MakeString("x"));
  EXPECT_EQ(ref->ToText(), "6 0 R");
  EXPECT_EQ(ref->Resolve()->ToText(), "(x)");
  EXPECT_EQ(doc.PagesDictionary()->GetInteger("Count", 0), 1);
  doc.SetVersion("1.6");
  EXPECT_TRUE(doc.VersionSet());
  EXPECT_TRUE(SaveToString(doc).starts_with("%PDF-1.6\n"));
  // The structure's register hook adds indirect objects too.
  const auto [n, g] = doc.Structure().OnRegister(doc.Structure().MakeNull());
  EXPECT_EQ(n, 7);
  EXPECT_EQ(g, 0);
}

TEST(Store, CatalogInfoAndIdAreMadeWhenMissing) {
  TPDFDocument doc;
  TPDFDictionary* catalog = doc.Catalog();
  EXPECT_EQ(doc.Trailer()->Get("Root")->ToText(), "1 0 R");
  EXPECT_EQ(doc.Catalog(), catalog);
  EXPECT_EQ(doc.PagesDictionary(), nullptr);
  TPDFDictionary* made = doc.InfoDictionary();
  EXPECT_EQ(doc.Trailer()->Get("Info")->ToText(), "2 0 R");
  TPDFIndObj* info = doc.FindIndirect(2, 0);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(made, info->Value);
  EXPECT_EQ(doc.InfoDictionary(), made);
  TPDFArray* id = doc.EnsureID();
  EXPECT_EQ(id->Count(), 2);
  EXPECT_EQ(id->Item(0), id->Item(1));
  EXPECT_EQ(doc.EnsureID(), id);
  doc.Trailer()->Put("ID", doc.Structure().MakeNumber(1));
  EXPECT_NE(doc.EnsureID(), id);
  EXPECT_EQ(doc.Trailer()->Get("ID")->Kind(), TPDFObject::kKindArray);
}

TEST(Store, InfoEntriesUseTheTextStringPermutation) {
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  doc.SetInfo("Title", "Caf\xE9 \x80 5");
  EXPECT_EQ(doc.InfoDictionary()->GetText("Title"), "Caf\xE9 \xA0 5");
  EXPECT_EQ(doc.GetInfo("Title"), "Caf\xE9 \x80 5");
  TPDFObject* before = doc.InfoDictionary()->Get("Title");
  doc.SetInfo("Title", "Other");
  EXPECT_EQ(doc.InfoDictionary()->Get("Title"), before);  // the string's bytes are replaced
  EXPECT_NE(SaveToString(doc).find("/Title (Other)"), std::string::npos);
  doc.SetInfo("Title", "");
  EXPECT_EQ(doc.InfoDictionary()->Get("Title"), nullptr);
  EXPECT_EQ(doc.GetInfo("Title"), "");
  TPDFStream* s = doc.Structure().MakeStream(std::string("\xFE\xFF\x00H\x00i", 6));
  doc.InfoDictionary()->Put("Subject", s);
  EXPECT_EQ(doc.GetInfo("Subject"), "Hi");
  doc.SetInfo("Subject", "plain");
  EXPECT_EQ(s->RawData(), "");
  EXPECT_EQ(doc.GetInfo("Subject"), "plain");
  doc.SetEncryption(doc.Structure().Parse("<< /Filter /Other >>"));
  EXPECT_EQ(doc.SecurityState(), TSecurityState::Unsupported);
  doc.SetInfo("Author", "ignored");
  EXPECT_EQ(doc.InfoDictionary()->Get("Author"), nullptr);
  EXPECT_EQ(doc.GetInfo("Subject"), "");
}

TEST(TempStore, UnloadedObjectsSaveTheSameAndParseAgain) {
  TempDir dir;
  TPDFDocument doc;
  ASSERT_TRUE(doc.NewDocument());
  TPDFStructure& s = doc.Structure();
  TPDFIndObj* big = doc.AddIndirect(s.MakeStream(std::string(3000, 'b')));
  TPDFIndObj* small = doc.AddIndirect(s.Parse("[ 1 2 3 ]"));
  TPDFIndObj* dict = doc.AddIndirect(s.Parse("<< /A (x) >>"));
  const std::string before = SaveToString(doc);
  const size_t pooled = s.ObjectCount();

  ASSERT_TRUE(doc.SetTempStore(dir.File("store.tmp")));
  big->Unload();
  small->Unload();
  dict->Unload();
  EXPECT_TRUE(big->Swapped);
  EXPECT_EQ(big->CachedText, nullptr);
  EXPECT_FALSE(small->Swapped);
  EXPECT_EQ(*small->CachedText, "6 0 obj\n[ 1 2 3 ]\nendobj\n");
  EXPECT_EQ(*dict->CachedText, "7 0 obj\n<<\n/A (x)\n>>\nendobj\n");
  EXPECT_LT(s.ObjectCount(), pooled);
  EXPECT_EQ(std::filesystem::file_size(dir.File("store.tmp")), 8u + big->ObjectText().size());
  EXPECT_EQ(SaveToString(doc), before);
  EXPECT_EQ(As<TPDFStream>(doc.GetValue(big))->RawData(), std::string(3000, 'b'));
  doc.ClearTempStore();
  EXPECT_FALSE(std::filesystem::exists(dir.File("store.tmp")));
}

TEST(TempStore, RecordsAreFoundForwardsThenFromTheStart) {
  TempDir dir;
  TPDFDocument doc;
  ASSERT_TRUE(doc.SetTempStore(dir.File("s.tmp")));
  ASSERT_TRUE(doc.StoreText(1, "one"));
  ASSERT_TRUE(doc.StoreText(2, "two"));
  ASSERT_TRUE(doc.StoreText(3, "three"));
  EXPECT_EQ(doc.ReadStoredText(2), "two");
  EXPECT_EQ(doc.ReadStoredText(1), "one");
  EXPECT_EQ(doc.ReadStoredText(3), "three");
  EXPECT_EQ(doc.ReadStoredText(4), "");
  EXPECT_FALSE(doc.SetTempStore("/nonexistent-folder/s.tmp"));
  EXPECT_FALSE(doc.HasTempStore());
}

}  // namespace
}  // namespace lumipage
