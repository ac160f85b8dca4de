#include "common/uCommonUtils.h"

#include <gtest/gtest.h>

TEST(Utf, RoundTripsCyrillicAndAstralCharacters) {
  const std::string text = "Касса №1 — ёЁ 😀";
  const std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide.size(), 16u) << "the emoji must take a surrogate pair";
  EXPECT_EQ(Utf16ToUtf8(wide), text);
}

TEST(Utf, LoneSurrogatesAndMalformedBytesBecomeReplacementCharacters) {
  const std::u16string lone = {u'a', 0xD800, u'b', 0xDC00};
  EXPECT_EQ(Utf16ToUtf8(lone),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
  // A truncated sequence, an overlong form and an encoded surrogate.
  EXPECT_EQ(Utf8ToUtf16("\xD0"), u"\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80x"), u"\uFFFD\uFFFD\uFFFDx");
  EXPECT_EQ(Utf16FromZ(nullptr), u"");
}

TEST(CodePages, CyrillicTravelsBothWaysThroughBothPages) {
  const std::string text = "Привет, ЁЖИК ёж №5";
  EXPECT_EQ(AnsiToUtf8(Utf8ToAnsi(text)), text);
  EXPECT_EQ(OemToUtf8(Utf8ToOem(text)), text);
  EXPECT_EQ(Utf8ToAnsi("А"), "\xC0");
  EXPECT_EQ(Utf8ToOem("А"), "\x80");
  EXPECT_EQ(Utf8ToOem("я"), "\xEF");
  EXPECT_EQ(Utf8ToOem("Ё"), "\xF0");
  EXPECT_EQ(AnsiToOem("\xC0\xFF\xA8"), "\x80\xEF\xF0") << "А я Ё from CP1251 to CP866";
  EXPECT_EQ(OemToAnsi("\x80\xEF\xF0"), "\xC0\xFF\xA8");
}

TEST(CodePages, CharactersOutsideThePageBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToAnsi("a€b中"),
            "a\x88"
            "b?");
  EXPECT_EQ(Utf8ToOem("€"), "?");
  EXPECT_EQ(AnsiToOem("\x88"), "?") << "the euro sign has no place in CP866";
  EXPECT_EQ(OemToAnsi("\xB0"), "?") << "box drawing has no place in CP1251";
}

TEST(Base64, EncodesAndDecodesEveryPaddingLength) {
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("f"), "Zg==");
  EXPECT_EQ(Base64Encode("fo"), "Zm8=");
  EXPECT_EQ(Base64Encode("foo"), "Zm9v");
  EXPECT_EQ(Base64Decode("Zm9vYg=="), "foob");
  EXPECT_EQ(Base64Decode("Zm9vYg"), "foob") << "missing padding is accepted";
  EXPECT_EQ(Base64Decode("Zm9v\r\nYmFy"), "foobar") << "wrapped lines are accepted";
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  EXPECT_EQ(Base64Decode(Base64Encode(all)), all);
}

TEST(Base64, MalformedTextIsAClearError) {
  EXPECT_THROW(Base64Decode("Zm9v!"), EConvertError);
  EXPECT_THROW(Base64Decode("Z"), EConvertError) << "a single character cannot hold a byte";
  EXPECT_THROW(Base64Decode("Zg==Zg=="), EConvertError) << "data after padding";
}

TEST(Hex, RoundTripAndSeparators) {
  EXPECT_EQ(BytesToHex("\x02\xAB\x1C", " "), "02 AB 1C ");
  EXPECT_EQ(BytesToHex("\x02\xAB"), "02AB");
  EXPECT_EQ(HexToBytes("02ab1C"), std::string("\x02\xAB\x1C"));
  EXPECT_EQ(HexToBytes(""), "");
  EXPECT_THROW(HexToBytes("ABC"), EConvertError);
  EXPECT_THROW(HexToBytes("0G"), EConvertError);
}

TEST(Case, CyrillicAndLatinCompareWithoutCase) {
  EXPECT_TRUE(SameText("LogEnabled", "logenabled"));
  EXPECT_TRUE(SameText("Параметр", "пАРАМЕТР"));
  EXPECT_TRUE(SameText("ЁЛКА", "ёлка"));
  EXPECT_FALSE(SameText("Параметр", "Параметры"));
  EXPECT_FALSE(SameText("е", "ё"));
  EXPECT_EQ(UpperCase("mode=horeca ёж"), "MODE=HORECA ЁЖ");
  EXPECT_EQ(LowerCase("ФАЙЛ Not"), "файл not");
}

TEST(Numbers, WholeTextMustBeADecimalInteger) {
  int64_t v = 7;
  EXPECT_TRUE(TryStrToInt64("-42", v));
  EXPECT_EQ(v, -42);
  EXPECT_TRUE(TryStrToInt64("+5", v));
  EXPECT_EQ(v, 5);
  for (const char* bad : {"", "+", "-", "12a", " 1", "99999999999999999999"}) {
    EXPECT_FALSE(TryStrToInt64(bad, v)) << bad;
  }
  EXPECT_EQ(Trim(" \t\x01 abc \r\n"), "abc");
}
