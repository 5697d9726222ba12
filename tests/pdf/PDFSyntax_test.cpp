// Values scanned from text and written back: the scanner and serialiser rules, numbers,
// dates and the text-string permutation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "pdf/PDFDate.h"
#include "pdf/PDFLexer.h"
#include "pdf/PDFLimits.h"
#include "pdf/PDFNumberText.h"
#include "pdf/PDFStructure.h"
#include "pdf/PDFTextString.h"

namespace lumipage {
namespace {

constexpr const char* kNone = "<none>";

struct ParseCase {
  const char* name;
  std::string in;
  std::string out;  // ToText of the result, or kNone
};

class ParseTable : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseTable, ScansTheFirstValue) {
  TPDFStructure pool;
  TPDFObject* v = pool.Parse(GetParam().in);
  EXPECT_EQ(v == nullptr ? std::string(kNone) : v->ToText(), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Scanner, ParseTable,
    testing::Values(
        ParseCase{"Reference", "1 0 R", "1 0 R"},
        ParseCase{"TwoNumbersAreOne", "1 0", "1"},
        ParseCase{"ObjHeaderIsANumber", "1 0 obj", "1"},
        ParseCase{"Real", "12.5", "12.5"},
        ParseCase{"LeadingPoint", ".5", "0.5"},
        ParseCase{"NegativeLeadingPoint", "-.5", "-0.5"},
        ParseCase{"TrailingPoint", "7.", "7"},
        ParseCase{"MinusAlone", "-", "0"},
        ParseCase{"IntegerBeyond32Bits", "2147483648", "2147483648"},
        ParseCase{"UnsignedPermissions", "4294967292", "4294967292"},
        ParseCase{"NegativeBeyond32Bits", "-2147483649", "-2147483649"},
        ParseCase{"ReferenceBeyond32BitsIsNoObject", "4294967297 0 R", "0 0 R"},
        ParseCase{"ReferenceAcrossComment", "1 0 % note\nR", "1 0 R"},
        ParseCase{"ReferenceAcrossCommentAndIndent", "1 0 % note\n R", "1 0 R"},
        ParseCase{"PlusSign", "+5", "5"},
        ParseCase{"RealKeepsItsDecimals", "845.03998", "845.03998"},
        ParseCase{"RealKeepsTwelveDecimals", "595.303937007874", "595.303937007874"},
        ParseCase{"RealKeepsTenDecimals", "419.5199890137", "419.5199890137"},
        ParseCase{"RealBeyondADoubleReadsBackTheSame", "0.12345678901234567890123", "0.12345678901234568"},
        ParseCase{"TinyRealKeepsItsDigits", "-0.000000000000000000012", "-0.000000000000000000012"},
        ParseCase{"ShortRealUnchanged", "-1.5", "-1.5"},
        ParseCase{"CommentsInsideDictionary",
                  "<< /Type /Page % 1\n  /Rotate 90 %x\n\n%y\r\n/A [ 1 %z\n 2 ] >>",
                  "<<\n/Type /Page\n/Rotate 90\n/A [ 1 2 ]\n>>\n"},
        ParseCase{"RealCannotStartReference", "1.0 0 R", "1"},
        ParseCase{"Dictionary", "<< /A 1 /B [ 1 2 ] >>", "<<\n/A 1\n/B [ 1 2 ]\n>>\n"},
        ParseCase{"KeyWithoutValue", "<< /A >>", "<<\n>>\n"},
        ParseCase{"DictionarySkipsNonNameKeys", "<< /A 1 2 3 /B 4 >>", "<<\n/A 1\n/B 4\n>>\n"},
        ParseCase{"StrayReferenceTailInCatalog", "<< /X 1 0 R 0 R /Type /Catalog /PageMode /UseOutlines >>",
                  "<<\n/X 1 0 R\n/Type /Catalog\n/PageMode /UseOutlines\n>>\n"},
        ParseCase{"StrayWordAndReferenceInTrailer", "<< /Size 6 Junk 2 0 R /ID [<01><02>] >>",
                  "<<\n/Size 6\n/ID [ <01> <02> ]\n>>\n"},
        ParseCase{"KeyWithAWordForValueIsDropped", "<< /A Junk /B 2 >>", "<<\n/B 2\n>>\n"},
        ParseCase{"StrayClosingBrackets", "<< /A 1 ] ) } > /B 2 >>", "<<\n/A 1\n/B 2\n>>\n"},
        ParseCase{"EndobjEndsAnUnclosedDictionary", "<< /A 1 endobj 2 0 obj << /B 2 >>", "<<\n/A 1\n>>\n"},
        ParseCase{"StreamEndsAnUnclosedDictionary", "<< /A 1 stream /B 2 >>", "<<\n/A 1\n>>\n"},
        ParseCase{"UnclosedStringEndsTheDictionary", "<< /A 1 (abc /B 2 >>", "<<\n/A 1\n>>\n"},
        ParseCase{"Catalog", "<</Type/Catalog/Pages 1 0 R>>", "<<\n/Type /Catalog\n/Pages 1 0 R\n>>\n"},
        ParseCase{"UnclosedArray", "[1 2", "[ 1 2 ]"},
        ParseCase{"ArrayStopsAtJunk", "[1 ) 2]", "[ 1 ]"},
        ParseCase{"NestedParentheses", "(a(b)c)", "(a\\(b\\)c)"},
        ParseCase{"EscapedClose", "(a\\)b)", "(a\\)b)"},
        ParseCase{"Octal", "(\\101\\60\\0061)", "(A0\0061)"},
        ParseCase{"OctalWraps", "(\\501)", "(A)"},
        ParseCase{"LineContinuation", "(a\\\nb\\\r\nc)", "(abc)"},
        ParseCase{"CarriageReturnsBecomeLineFeeds", "(a\r\nb\rc)", "(a\\nb\\nc)"},
        ParseCase{"UnknownEscapeDropsBackslash", "(a\\qb)", "(aqb)"},
        ParseCase{"OctalStopsAtEight", "(\\18)", "(\0018)"},
        ParseCase{"UnterminatedLiteral", "(abc", kNone},
        ParseCase{"Hex", "<41 42 >", "<4142>"},
        ParseCase{"HexOddDigits", "<414>", "<4140>"},
        ParseCase{"HexLowerAndJunk", "<4a-4b>", "<4A4B>"},
        ParseCase{"HexUnterminated", "<41", "<41>"},
        ParseCase{"NameEscape", "/A#20B", "/A#20B"},
        ParseCase{"NameBadEscapeStays", "/A#2G", "/A#232G"},
        ParseCase{"NameWithClosingBrace", "/A}B", "/A#7DB"},
        ParseCase{"NameEndsAtDelimiter", "/A/B", "/A"},
        ParseCase{"True", "true", "true"},
        ParseCase{"FalseBeforeDelimiter", "false]", "false"},
        ParseCase{"NullKeyword", "null", "null"},
        ParseCase{"KeywordPrefixIsNotKeyword", "truex", kNone},
        ParseCase{"CloseParenthesis", ")", kNone},
        ParseCase{"RAlone", "R", kNone},
        ParseCase{"Endobj", "endobj", kNone},
        ParseCase{"Empty", "", kNone},
        ParseCase{"OneComment", "%c\n1", "1"},
        ParseCase{"CommentWithCrLf", "%c\r\n1", "1"},
        ParseCase{"CommentsInARow", "%a\n%b\n1", "1"}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(Scanner, LiteralBytesAndHexBytes) {
  TPDFStructure pool;
  auto* s = As<TPDFString>(pool.Parse("(a(b)c)"));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Value, "a(b)c");
  EXPECT_EQ(s->Mode, TPDFString::kLiteral);
  auto* h = As<TPDFString>(pool.Parse("<41 42 >"));
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->Value, "AB");
  EXPECT_EQ(h->Mode, TPDFString::kHexadecimal);
  auto* n = As<TPDFName>(pool.Parse("/A#20B"));
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->Value, "A B");
  EXPECT_FALSE(n->Shared);
}

TEST(Scanner, DeepNestingEndsAtTheLimitWithoutRecursingFurther) {
  for (const char* open : {"[", "<< /K "}) {
    TPDFStructure pool;
    std::string text;
    for (int i = 0; i < 100000; ++i) text += open;
    TPDFObject* v = pool.Parse(text);
    ASSERT_NE(v, nullptr);
    // Containers up to the limit, nothing deeper.
    EXPECT_LE(pool.ObjectCount(), static_cast<size_t>(2 * kMaxParseDepth + 2));
    EXPECT_FALSE(v->ToText().empty());
  }
}

TEST(Scanner, HugeHexStringAndUnbalancedBrackets) {
  TPDFStructure pool;
  std::string hex = "<" + std::string(1 << 20, 'F') + ">";
  auto* s = As<TPDFString>(pool.Parse(hex));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Value.size(), size_t{1} << 19);
  EXPECT_EQ(pool.Parse("]]]>>>"), nullptr);
  EXPECT_EQ(pool.Parse("[[[<<")->ToText(), "[ [ [ <<\n>>\n] ] ]");
}

struct NumberCase {
  double value;
  const char* text;
};

class NumberText : public testing::TestWithParam<NumberCase> {};

TEST_P(NumberText, PrecisionFourTruncates) {
  TPDFStructure pool;
  EXPECT_EQ(pool.MakeNumber(GetParam().value)->ToText(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Serialiser, NumberText,
                         testing::Values(NumberCase{612, "612"}, NumberCase{0.5, "0.5"},
                                         NumberCase{1.0 / 3, "0.3333"}, NumberCase{2.99999, "2.9999"},
                                         NumberCase{-0.25, "-0.25"}, NumberCase{0.000001, "0"},
                                         NumberCase{1e20, "0"}, NumberCase{100, "100"},
                                         NumberCase{0.1 + 0.2, "0.3"}, NumberCase{0.0000001, "0"},
                                         NumberCase{-7, "-7"}, NumberCase{123456.789, "123456.789"},
                                         NumberCase{0.00001, "0"}, NumberCase{-0.00001, "0"}, NumberCase{99999999999999.0, "99999999999999"}));

TEST(Serialiser, FormatNumberWidthAndDecimals) {
  EXPECT_EQ(FormatNumber(0, 4, 612), "612.0000");
  EXPECT_EQ(FormatNumber(0, 0, 2.7), "2");
  EXPECT_EQ(FormatNumber(6, 2, 3.14159), "003.14");
  EXPECT_EQ(FormatNumber(0, 2, 1e20), "0.00");
  EXPECT_EQ(FormatNumber(0, 0, 1e20), "0");
  EXPECT_EQ(FormatNumber(5, 0, 42), "00042");
  EXPECT_EQ(FormatNumber(0, 3, -0.0005), "-0.000");
  EXPECT_EQ(FormatNumber(0, 2, 1e15), "0.00");  // sixteen integer digits need an exponent
}

TEST(Serialiser, PrecisionIsKeptBetweenTwoAndEight) {
  TPDFStructure pool;
  pool.SetPrecision(1);
  EXPECT_EQ(pool.Precision(), 2);
  EXPECT_EQ(pool.MakeNumber(1.0 / 3)->ToText(), "0.33");
  pool.SetPrecision(12);
  EXPECT_EQ(pool.PrecisionMask(), "0.00000000");
  pool.Reset();
  EXPECT_EQ(pool.Precision(), 4);
  EXPECT_EQ(pool.PrecisionMask(), "0.0000");
}

TEST(Serialiser, ParseNumberAndIsNumber) {
  EXPECT_DOUBLE_EQ(ParseNumber("12.5"), 12.5);
  EXPECT_DOUBLE_EQ(ParseNumber("-1.25"), -1.25);
  EXPECT_DOUBLE_EQ(ParseNumber("-.5"), -0.5);
  EXPECT_DOUBLE_EQ(ParseNumber(" 42 "), 42);
  EXPECT_DOUBLE_EQ(ParseNumber("1.1234567891"), 1.123456789);  // nine decimals are read
  EXPECT_DOUBLE_EQ(ParseNumber("abc"), 0);
  EXPECT_DOUBLE_EQ(ParseNumber("99999999999"), 0);
  EXPECT_TRUE(IsNumber(""));
  EXPECT_TRUE(IsNumber("-3.5"));
  EXPECT_FALSE(IsNumber("3-5"));
  EXPECT_FALSE(IsNumber("1.2.3"));
  EXPECT_FALSE(IsNumber("1e5"));
}

TEST(Serialiser, AsIntegerRoundsHalvesToEven) {
  TPDFStructure pool;
  for (auto [v, want] : {std::pair{0.5, 0}, {1.5, 2}, {2.5, 2}, {-0.5, 0}, {-1.5, -2}, {2.6, 3}, {1e12, INT32_MAX}})
    EXPECT_EQ(pool.MakeNumber(v)->AsInteger(), want) << v;
}

TEST(Serialiser, NamesEscapeDelimitersWhitespaceAndHighBytes) {
  TPDFStructure pool;
  EXPECT_EQ(pool.MakeName(std::string("a b/()#%[]{}<>\x7F\xE9\x01z", 18))->ToText(),
            "/a#20b#2F#28#29#23#25#5B#5D#7B#7D#3C#3E#7F#E9#01z");
}

TEST(Serialiser, LiteralStringEscapes) {
  TPDFStructure pool;
  EXPECT_EQ(pool.MakeString("\b\t\n\f\r()\\\xE9")->ToText(), "(\\b\\t\\n\\f\\r\\(\\)\\\\\xE9)");
  EXPECT_EQ(pool.MakeString(std::string("\x00\xFF", 2), TPDFString::kHexadecimal)->ToText(), "<00FF>");
}

TEST(Serialiser, ArrayBreaksLinesAfterEightyCharacters) {
  TPDFStructure pool;
  TPDFArray* a = pool.MakeArray();
  EXPECT_EQ(a->ToText(), "[ ]");
  for (int i = 0; i < 30; ++i) a->Add(pool.MakeNumber(100));
  std::string want = "[ ";
  for (int i = 0; i < 20; ++i) want += "100 ";
  want += "\n";
  for (int i = 0; i < 10; ++i) want += "100 ";
  want += "]";
  EXPECT_EQ(a->ToText(), want);
}

TEST(Serialiser, ArrayItemEndingInLineFeedGetsNoSpace) {
  TPDFStructure pool;
  TPDFArray* a = pool.MakeArray();
  a->Add(pool.MakeDictionary());
  a->Add(pool.MakeNumber(1));
  EXPECT_EQ(a->ToText(), "[ <<\n>>\n1 ]");
}

// The token facts every reader of file text shares: a change here moves the parser, repair, the
// cross-reference reader, the quick page-tree reader and the save check together.
TEST(Lexer, WhitespaceCommentsDigitsAndKeywords) {
  using namespace std::string_view_literals;
  for (char c : "\0\t\n\f\r "sv) EXPECT_TRUE(pdflex::IsWhite(c)) << int{c};
  for (char c : "\v\x1c\x85\xa0x"sv) EXPECT_FALSE(pdflex::IsWhite(c)) << int{c};
  EXPECT_TRUE(pdflex::IsDelimiter('{'));
  EXPECT_FALSE(pdflex::IsDelimiter('}'));  // a closing brace continues a word

  struct Case {
    std::string_view text;
    size_t from;
    size_t white, whiteAndComments, digits, word;
  };
  for (const Case& c : {
           Case{" \r\n12 obj"sv, 0, 3, 3, 0, 0},
           Case{"12 obj"sv, 0, 0, 0, 2, 2},
           Case{" % a\r% b\n\f7"sv, 0, 1, 10, 0, 0},
           Case{"% to the end"sv, 0, 0, 12, 0, 0},
           Case{"ab}c/d"sv, 0, 0, 0, 0, 4},
           Case{"1 2"sv, 9, 9, 9, 9, 9},
       }) {
    EXPECT_EQ(pdflex::SkipWhite(c.text, c.from), c.white) << c.text;
    EXPECT_EQ(pdflex::SkipWhiteAndComments(c.text, c.from), c.whiteAndComments) << c.text;
    EXPECT_EQ(pdflex::SkipDigits(c.text, c.from), c.digits) << c.text;
    EXPECT_EQ(pdflex::SkipWord(c.text, c.from), c.word) << c.text;
  }

  EXPECT_EQ(pdflex::WhiteRunStart("12 \n obj", 5), 2u);
  EXPECT_EQ(pdflex::WhiteRunStart("12 \n obj", 5, 4), 4u);
  EXPECT_EQ(pdflex::DigitRunStart("a1234", 5), 1u);
  EXPECT_EQ(pdflex::DigitsValue("000123456789012"), 123456789012);

  EXPECT_TRUE(pdflex::KeywordAt("1 0 obj", 4, "obj"));
  EXPECT_TRUE(pdflex::KeywordAt("obj<<", 0, "obj"));
  EXPECT_FALSE(pdflex::KeywordAt("objx", 0, "obj"));
  EXPECT_FALSE(pdflex::KeywordAt("ob", 0, "obj"));
  EXPECT_FALSE(pdflex::KeywordAt("obj", 7, "obj"));
  EXPECT_TRUE(pdflex::TokenStartsAt("/a obj", 3));
  EXPECT_TRUE(pdflex::TokenStartsAt(")obj", 1));
  EXPECT_FALSE(pdflex::TokenStartsAt("endobj", 3));
}

TEST(Serialiser, StreamText) {
  TPDFStructure pool;
  TPDFStream* s = pool.MakeStream("abc");
  EXPECT_EQ(s->ToText(), "<<\n/Length 3\n>>\nstream\nabc\nendstream");
}

TEST(Serialiser, CycleBuiltInCodeWritesBugEntryAndEnds) {
  TPDFStructure pool;
  TPDFDictionary* d = pool.MakeDictionary();
  TPDFArray* a = pool.MakeArray();
  a->Add(d);
  d->Put("Self", a);
  d->Put("Ok", pool.MakeNumber(1));
  const std::string text = d->ToText();
  EXPECT_NE(text.find("% bug \n"), std::string::npos);
  EXPECT_NE(text.find("/Ok 1\n"), std::string::npos);
}

TEST(Serialiser, ToTextOfParsedTextParsesToTheSameText) {
  TPDFStructure pool;
  const char* text =
      "<< /Type /Page /Kids [ 1 0 R 2 0 R ] /Name (a\\)b\\\\c\\n) /H <00FF> /N -3.25 /B true /Z null "
      "/D << /X [ [ ] << >> ] >> >>";
  const std::string once = pool.Parse(text)->ToText();
  EXPECT_EQ(pool.Parse(once)->ToText(), once);
}

class ZoneTest : public testing::Test {
 protected:
  void SetZone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
  void TearDown() override {
    if (saved_.empty()) {
      unsetenv("TZ");
    } else {
      setenv("TZ", saved_.c_str(), 1);
    }
    tzset();
  }
  std::string saved_ = std::getenv("TZ") != nullptr ? std::getenv("TZ") : "";
};

TEST_F(ZoneTest, DateTextCarriesTheZone) {
  SetZone("EST5");
  const std::string west = PDFDateNow();
  EXPECT_EQ(west.size(), 23u);
  EXPECT_EQ(west.substr(0, 2), "D:");
  EXPECT_EQ(west.substr(16), "-05'00'");
  SetZone("UTC0");
  EXPECT_EQ(PDFDateNow().substr(16), "Z");
  SetZone("CET-1");
  // 15 March 2024 14:30:00 is day 45366 from 30 December 1899.
  const TDateTime t = 45366 + (14 * 60 + 30) / 1440.0;
  EXPECT_EQ(PDFDate(t, false), "D:20240315143000+01'00'");
  EXPECT_EQ(PDFDate(t, true), "D:20240315153000+01'00'");
  SetZone("IST-5:30");
  EXPECT_EQ(PDFDate(t, false).substr(16), "+05'30'");
}

TEST(TextString, PermutationBothWays) {
  const std::string from = "\x1A\x1F\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8D\x8E\x8F\x90\x91\x92\x93"
                           "\x94\x95\x96\x97\x98\x99\x9A\x9B\x9D\x9F\xA0\xAD";
  const std::string to = "\x9F\x87\xA0\x8A\x91\x86\x8C\x83\x81\x82\x1A\x8B\x97\x88\x96\x93\x99\x94\x95\x8F\x90\x8D"
                         "\x8E\x80\x85\x84\x1F\x92\x9D\x89\xAD\x98\x9A\x9B";
  EXPECT_EQ(EncodeTextString(from), to);
  EXPECT_EQ(DecodeTextString(to), from);
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  EXPECT_EQ(DecodeTextString(EncodeTextString(all)), all);
  int changed = 0;
  const std::string enc = EncodeTextString(all);
  for (int i = 0; i < 256; ++i) changed += enc[static_cast<size_t>(i)] != all[static_cast<size_t>(i)];
  EXPECT_EQ(changed, 34);
  EXPECT_EQ(EncodeTextString("plain"), "plain");
}

TEST(TextString, Utf16BigEndian) {
  const std::string utf16("\xFE\xFF\x00H\x00\xE9\x20\xAC\x4E\x2D", 10);
  EXPECT_EQ(EncodeTextString(utf16), utf16);
  EXPECT_EQ(DecodeTextString(utf16), "H\xE9\x80?");
}

}  // namespace
}  // namespace lumipage
