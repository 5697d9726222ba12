// The owner pool's rules (who frees what, when a value survives) and the container operations.
#include <gtest/gtest.h>

#include <sstream>

#include "pdf/PDFFilters.h"
#include "pdf/PDFNameTree.h"
#include "pdf/PDFRectangle.h"
#include "pdf/PDFStructure.h"

namespace lumipage {
namespace {

bool Pooled(TPDFStructure& pool, const TPDFObject* v) {
  for (size_t i = 0; i < pool.ObjectCount(); ++i)
    if (pool.ObjectAt(i) == v) return true;
  return false;
}

TEST(Pool, SharedNameSurvivesDeleteObject) {
  TPDFStructure pool;
  TPDFName* type = pool.CommonName("Type");
  EXPECT_TRUE(type->Shared);
  pool.DeleteObject(type);
  EXPECT_TRUE(Pooled(pool, type));
  EXPECT_EQ(pool.CommonName("Type"), type);
  TPDFName* plain = pool.MakeName("Type2");
  pool.DeleteObject(plain);
  EXPECT_FALSE(Pooled(pool, plain));
}

TEST(Pool, CommonNameReusesTheFirstPooledNameOfThatValue) {
  TPDFStructure pool;
  TPDFName* parsed = pool.MakeName("Page");
  EXPECT_FALSE(parsed->Shared);
  EXPECT_EQ(pool.CommonName("Page"), parsed);
  EXPECT_TRUE(parsed->Shared);
  TPDFName* a = pool.CommonName("Catalog");
  TPDFName* b = pool.CommonName("Catalog");
  EXPECT_NE(a, b);  // not on the common list: a new shared name each time
  EXPECT_TRUE(a->Shared && b->Shared);
  EXPECT_TRUE(TPDFStructure::IsCommonName("MediaBox"));
  EXPECT_TRUE(TPDFStructure::IsCommonName("Velx"));
  EXPECT_FALSE(TPDFStructure::IsCommonName("Catalog"));
  EXPECT_FALSE(TPDFStructure::IsCommonName(""));
  EXPECT_EQ(pool.FindName("Page"), parsed);
  EXPECT_EQ(pool.FindName("Nothing"), nullptr);
}

TEST(Pool, ValueHeldByAContainerSurvivesReleaseOfASibling) {
  TPDFStructure pool;
  TPDFNumeric* shared = pool.MakeNumber(7);
  TPDFArray* a = pool.MakeArray();
  TPDFArray* b = pool.MakeArray();
  TPDFNumeric* own = pool.MakeNumber(8);
  a->Add(shared);
  a->Add(own);
  b->Add(shared);
  a->Release();
  EXPECT_FALSE(Pooled(pool, a));
  EXPECT_FALSE(Pooled(pool, own));  // only a held it
  EXPECT_TRUE(Pooled(pool, shared));
  EXPECT_EQ(b->ToText(), "[ 7 ]");
  EXPECT_EQ(pool.ObjectCount(), 2u);
}

TEST(Pool, HeldIndirectAndForeignValuesAreNotFreed) {
  TPDFStructure pool;
  TPDFStructure other;
  TPDFArray* holder = pool.MakeArray();
  TPDFNumeric* held = pool.MakeNumber(1);
  holder->Add(held);
  pool.DeleteObject(held);
  EXPECT_TRUE(Pooled(pool, held));
  holder->Release();  // a value still held stays
  TPDFDictionary* body = pool.MakeDictionary();
  body->MarkIndirect(5, 0);
  pool.DeleteObject(body);
  EXPECT_TRUE(Pooled(pool, body));
  TPDFNumeric* foreign = other.MakeNumber(1);
  pool.DeleteObject(foreign);
  EXPECT_TRUE(Pooled(other, foreign));
  pool.DeleteObject(nullptr);
}

TEST(Pool, ReleaseOfADeepChainBuiltInCode) {
  TPDFStructure pool;
  TPDFArray* top = pool.MakeArray();
  TPDFArray* cur = top;
  for (int i = 0; i < 200000; ++i) {
    TPDFArray* next = pool.MakeArray();
    cur->Add(next);
    cur = next;
  }
  top->Release();
  EXPECT_EQ(pool.ObjectCount(), 0u);
}

TEST(Pool, ResetFreesEverythingAndObjectAtKeepsCreationOrder) {
  TPDFStructure pool;
  std::vector<TPDFObject*> made;
  for (int i = 0; i < 3000; ++i) made.push_back(pool.MakeNumber(i));
  for (int i = 0; i < 3000; i += 2) pool.DeleteObject(made[static_cast<size_t>(i)]);
  ASSERT_EQ(pool.ObjectCount(), 1500u);
  for (size_t i = 0; i < 1500; ++i) EXPECT_EQ(pool.ObjectAt(i), made[2 * i + 1]);
  EXPECT_EQ(pool.ObjectAt(1500), nullptr);
  pool.Reset();
  EXPECT_EQ(pool.ObjectCount(), 0u);
}

TEST(Dictionary, PutGetRemoveDelete) {
  TPDFStructure pool;
  auto* d = As<TPDFDictionary>(pool.Parse("<< /A 1 /A 2 /B [ 3 ] /C (x) /T /Page >>"));
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->IndexOf("A"), 1);  // the last entry with the key
  EXPECT_EQ(d->Get("A")->ToText(), "2");
  EXPECT_EQ(d->IndexOf("Z"), -1);
  d->Put("A", pool.MakeNumber(9));
  EXPECT_EQ(d->Count(), 5);
  EXPECT_EQ(d->EntryAt(1).Value->ToText(), "9");
  EXPECT_EQ(d->EntryAt(7).Key, nullptr);
  d->Put("Self", d);
  EXPECT_EQ(d->IndexOf("Self"), -1);
  TPDFObject* b = d->Get("B");
  d->Remove("B");
  EXPECT_TRUE(Pooled(pool, b));  // Remove frees nothing
  EXPECT_EQ(d->IndexOf("B"), -1);
  d->Put("B", b);
  d->Delete("B");
  EXPECT_FALSE(Pooled(pool, b));
  EXPECT_EQ(d->GetText("C"), "x");
  EXPECT_EQ(d->GetText("T"), "Page");
  EXPECT_EQ(d->GetInteger("A", -1), 9);
  EXPECT_EQ(d->GetInteger("C", -1), -1);
  EXPECT_EQ(d->TypeName(), "");
  d->Put("Type", pool.CommonName("Catalog"));
  EXPECT_EQ(d->TypeName(), "Catalog");
  d->Clear();
  EXPECT_EQ(d->Count(), 0);
  EXPECT_EQ(d->ToText(), "<<\n>>\n");
}

TEST(Dictionary, GetResolvesReferencesThroughTheLookupHook) {
  TPDFStructure pool;
  TPDFNumeric* target = pool.MakeNumber(42);
  pool.OnLookup = [&](TPDFIndRef*, int32_t n, int32_t g) -> TPDFObject* {
    return n == 7 && g == 0 ? target : nullptr;
  };
  auto* d = As<TPDFDictionary>(pool.Parse("<< /L 7 0 R /M 8 0 R >>"));
  EXPECT_EQ(d->Get("L", true), target);
  EXPECT_EQ(d->Get("L")->Kind(), TPDFObject::kKindIndRef);
  EXPECT_EQ(d->GetInteger("L", 0), 42);
  EXPECT_EQ(d->Get("M", true), nullptr);
  TPDFStructure bare;
  EXPECT_EQ(bare.MakeReference(1, 0)->Resolve(), nullptr);
}

TEST(Dictionary, AssignSharesWithinAPoolAndCopiesAcrossPools) {
  TPDFStructure pool;
  TPDFStructure other;
  auto* src = As<TPDFDictionary>(pool.Parse("<< /A [ 1 ] /B (b) >>"));
  TPDFDictionary* same = pool.MakeDictionary();
  same->Put("Old", pool.MakeNumber(0));
  same->Assign(*src);
  EXPECT_EQ(same->ToText(), src->ToText());
  EXPECT_EQ(same->Get("A"), src->Get("A"));
  src->Release();  // the values stay with the copy
  EXPECT_EQ(same->ToText(), "<<\n/A [ 1 ]\n/B (b)\n>>\n");
  TPDFDictionary* far = other.MakeDictionary();
  far->Assign(*same);
  EXPECT_EQ(far->ToText(), same->ToText());
  EXPECT_EQ(&far->Get("A")->Owner(), &other);
}

TEST(Array, Operations) {
  TPDFStructure pool;
  auto* a = As<TPDFArray>(pool.Parse("[ 1 2 3 ]"));
  ASSERT_NE(a, nullptr);
  a->Insert(9, pool.MakeNumber(9));  // beyond the end: ignored
  EXPECT_EQ(a->ToText(), "[ 1 2 3 ]");
  a->Insert(0, pool.MakeNumber(0));
  a->Insert(4, pool.MakeNumber(4));
  EXPECT_EQ(a->ToText(), "[ 0 1 2 3 4 ]");
  a->Move(0, 4);
  EXPECT_EQ(a->ToText(), "[ 1 2 3 4 0 ]");
  TPDFObject* old = a->Item(0);
  a->SetItem(0, pool.MakeName("X"));
  EXPECT_TRUE(Pooled(pool, old));
  TPDFObject* replaced = a->Item(1);
  a->Replace(1, pool.MakeString("s"));
  EXPECT_FALSE(Pooled(pool, replaced));
  EXPECT_EQ(a->ToText(), "[ /X (s) 3 4 0 ]");
  TPDFNumeric* probe = pool.MakeNumber(4);
  EXPECT_EQ(a->IndexOfText(probe), 3);
  EXPECT_TRUE(a->ContainsText("(s)"));
  EXPECT_FALSE(a->ContainsText("(t)"));
  a->Remove(probe, false);  // not the same object
  EXPECT_EQ(a->Count(), 5);
  a->Remove(probe, true);
  EXPECT_EQ(a->ToText(), "[ /X (s) 3 0 ]");
  a->Delete(0);
  EXPECT_EQ(a->Item(-1), nullptr);
  EXPECT_EQ(a->Item(3), nullptr);
  a->Clear();
  EXPECT_EQ(a->Count(), 0);
  EXPECT_EQ(pool.MakeIntegerArray(std::vector<int32_t>{1, 2, 3}, 1)->ToText(), "[ 1 2 ]");
  EXPECT_EQ(pool.MakeRealArray(std::vector<double>{0.5, 1.25}, 1)->ToText(), "[ 0.5 1.25 ]");
}

TEST(Array, SameValueTwiceIsFreedOnceOnClear) {
  TPDFStructure pool;
  TPDFArray* id = pool.MakeArray();
  TPDFString* s = pool.MakeString("x", TPDFString::kHexadecimal);
  id->Add(s);
  id->Add(s);
  id->Delete(0);
  EXPECT_TRUE(Pooled(pool, s));
  id->Add(s);
  id->Clear();
  EXPECT_FALSE(Pooled(pool, s));
}

TEST(Values, ShiftNumbersAndRefers) {
  TPDFStructure pool;
  TPDFObject* v = pool.Parse("<< /A 1 0 R /B [ 2 0 R << /C 3 0 R >> ] >>");
  v->ShiftNumbers(10);
  EXPECT_EQ(v->ToText(), "<<\n/A 11 0 R\n/B [ 12 0 R <<\n/C 13 0 R\n>>\n]\n>>\n");
  auto* d = As<TPDFDictionary>(v);
  EXPECT_TRUE(d->Refers(d->Get("B")));
  EXPECT_FALSE(d->Refers(As<TPDFArray>(d->Get("B"))->Item(0)));
  TPDFStream* s = pool.MakeStream("x");
  EXPECT_TRUE(s->Refers(s->Dictionary()->Get("Length")));
}

TEST(Values, CreateMakesAnEmptyValueOfTheSameClassInTheGivenPool) {
  TPDFStructure pool;
  TPDFStructure other;
  TPDFObject* v = pool.Parse("[ null true 1 (s) <00> /N [ ] << >> 1 0 R ]");
  auto* a = As<TPDFArray>(v);
  std::string texts;
  for (int i = 0; i < a->Count(); ++i) {
    TPDFObject* made = a->Item(i)->Create(other);
    EXPECT_EQ(&made->Owner(), &other);
    texts += made->ToText() + " ";
  }
  EXPECT_EQ(texts, "null false 0 () <> / [ ] <<\n>>\n 0 0 R ");
  EXPECT_EQ(pool.MakeStream("x")->Create(other)->ToText(), "<<\n/Length 0\n>>\nstream\n\nendstream");
}

TEST(Stream, DataLengthAndFilters) {
  TPDFStructure pool;
  TPDFStream* s = pool.MakeStream("hello");
  EXPECT_EQ(s->Dictionary()->GetInteger("Length", 0), 5);
  s->Dictionary()->Put("DecodeParms", pool.Parse("<< /Predictor 12 >>"));
  const std::string plain(1000, 'a');
  s->SetData(plain, true);
  EXPECT_EQ(s->Dictionary()->GetText("Filter"), "FlateDecode");
  EXPECT_EQ(s->Dictionary()->Get("DecodeParms"), nullptr);
  EXPECT_EQ(s->Dictionary()->GetInteger("Length", 0), static_cast<int>(s->RawData().size()));
  EXPECT_LT(s->RawData().size(), plain.size());
  EXPECT_EQ(s->Decode(), plain);
  s->SetData("raw", false);
  EXPECT_EQ(s->Dictionary()->Get("Filter"), nullptr);
  EXPECT_EQ(s->ToText(), "<<\n/Length 3\n>>\nstream\nraw\nendstream");
  std::istringstream in("streamed bytes");
  in.seekg(4);  // read from the start whatever the position
  s->LoadData(in, false);
  EXPECT_EQ(s->RawData(), "streamed bytes");
  std::istringstream empty("");
  s->LoadData(empty, true);
  EXPECT_EQ(s->RawData(), "streamed bytes");
  TPDFDictionary* fresh = pool.MakeDictionary();
  TPDFDictionary* old = s->Dictionary();
  s->SetDictionary(fresh);
  EXPECT_FALSE(Pooled(pool, old));
}

TEST(Rectangle, OrdersEdgesWithoutChangingTheArray) {
  TPDFStructure pool;
  auto* a = As<TPDFArray>(pool.Parse("[ 100 200 10 20 ]"));
  TPDFRectangle r(a);
  ASSERT_TRUE(r.Valid());
  EXPECT_EQ(r.Left(), 10);
  EXPECT_EQ(r.Bottom(), 20);
  EXPECT_EQ(r.Right(), 100);
  EXPECT_EQ(r.Top(), 200);
  EXPECT_EQ(r.Width(), 90);
  EXPECT_EQ(r.Height(), 180);
  EXPECT_EQ(r.Edge(1), 200);
  EXPECT_EQ(r.Edge(5), 20);
  EXPECT_EQ(r.Edge(6), 0);
  EXPECT_EQ(a->ToText(), "[ 100 200 10 20 ]");
  EXPECT_FALSE(TPDFRectangle(As<TPDFArray>(pool.Parse("[ 0 0 1 ]"))).Valid());
  EXPECT_FALSE(TPDFRectangle(As<TPDFArray>(pool.Parse("[ 0 0 1 /x ]"))).Valid());
  EXPECT_FALSE(TPDFRectangle(nullptr).Valid());
}

TEST(NameTree, InsertsInByteOrder) {
  TPDFStructure pool;
  TPDFDictionary* d = pool.MakeDictionary();
  TPDFNameTree tree(d);
  EXPECT_EQ(d->ToText(), "<<\n/Names [ ]\n>>\n");
  tree.Insert("m", pool.MakeReference(2, 0));
  tree.Insert("a", pool.MakeReference(1, 0));
  tree.Insert("z", pool.MakeReference(3, 0));
  EXPECT_EQ(d->ToText(), "<<\n/Names [ (a) 1 0 R (m) 2 0 R (z) 3 0 R ]\n>>\n");
  EXPECT_EQ(tree.Count(), 3);
  EXPECT_EQ(tree.Key(1), "m");
  EXPECT_EQ(tree.Key(3), "");
  EXPECT_TRUE(tree.Contains("z"));
  EXPECT_FALSE(tree.Contains("q"));
  EXPECT_EQ(tree.Find("m")->ObjectNumber(), 2);
  EXPECT_EQ(tree.Find("q"), nullptr);
}

}  // namespace
}  // namespace lumipage
