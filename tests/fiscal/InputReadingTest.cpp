// Number reading and the cashier text: edge cases no scenario reaches.
#include <gtest/gtest.h>

#include <string>

#include "device/uEquipmentErrors.h"
#include "support/CommaLocale.h"
#include "fiscal/uInputReading.h"

namespace {

TEST(InputReadingTest, NumbersIgnoreTheLocaleAndStopAtTheMoneyRange) {
  pugi::xml_document doc;
  doc.load_string(
      "<P a=' 12 ' f='7.5' c='2.25' wide='12345678901.2345' edge='922337203685477' "
      "big='922337203685478'/>");
  const pugi::xml_node n = doc.first_child();
  EXPECT_EQ(ReadIntAttr(n, "a", -1), 12);
  EXPECT_EQ(ReadIntAttr(n, "f", -1), -1) << "a fraction is no integer";
  EXPECT_EQ(ReadMoneyAttr(n, "wide"), 123456789012345) << "fifteen digits, each kept";
  EXPECT_GT(ReadMoneyAttr(n, "edge"), 9223372036854000000) << "the largest amount still held";
  EXPECT_THROW(ReadMoneyAttr(n, "big"), EquException) << "x 10000 leaves 64 bits";
  // A host process with a comma locale must not change what is read.
  const std::string folder = ::testing::TempDir() + "quarnel-input-locale";
  TCommaLocale comma(folder);
  if (!comma.Active()) GTEST_SKIP() << "localedef could not build a comma locale in " << folder;
  EXPECT_EQ(ReadMoneyAttr(n, "c"), 22500);
  EXPECT_EQ(ReadIntAttr(n, "f", -1), -1) << "a comma locale makes no fraction an integer";
}

TEST(InputReadingTest, CashierTextJoinsTheInnAndTheNameOnlyWhenGiven) {
  EXPECT_EQ(CashierText("Иванов", "   "), "Иванов");
  EXPECT_EQ(CashierText("", "123456789012"), "123456789012&");
  EXPECT_EQ(CashierText(" Иванов", "123456789012"), "123456789012& Иванов") << "untrimmed";
  EXPECT_EQ(CashierText("  ", ""), "");
}

TEST(InputReadingTest, AControlByteInAFieldIsRefusedNamingTheField) {
  // GS, FS, ETX and a NUL would each act in a frame; DEL and Cyrillic are text.
  for (const std::string& value : {std::string("46\x1d"),
                                   std::string("1\x1c"
                                               "2"),
                                   std::string("\x03"
                                               "99"),
                                   std::string("a\0b", 3)}) {
    try {
      RefuseControlBytes(value, "GoodCodeData.EAN13");
      ADD_FAILURE() << "accepted a control byte";
    } catch (const EquException& e) {
      EXPECT_EQ(e.Code, ecInvalidInput);
      EXPECT_STREQ(e.what(),
                   "Ошибка входных параметров команды. Недопустимый управляющий символ в поле "
                   "GoodCodeData.EAN13");
    }
  }
  EXPECT_NO_THROW(RefuseControlBytes("Молоко 3,2% \x7f", "Name"));
}

}  // namespace
