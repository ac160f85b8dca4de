// Number reading and the cashier text: the edge cases that decide what
// amount or name reaches a fiscal document.
#include <gtest/gtest.h>

#include <clocale>
#include <functional>

#include "device/uEquipmentErrors.h"
#include "fiscal/uInputReading.h"

namespace {

pugi::xml_node Node(pugi::xml_document& ADoc, const char* AXml) {
  ADoc.load_string(AXml);
  return ADoc.first_child();
}

int CodeOf(const std::function<void()>& AAction) {
  try {
    AAction();
  } catch (const EquException& E) {
    return E.Code;
  }
  return 0;
}

TEST(InputReadingTest, NumbersTakeEitherSeparatorAndFallBackToTheirDefault) {
  pugi::xml_document doc;
  pugi::xml_node n = Node(doc, "<P a=' 12 ' b='1,5' c='2.25' d='x' e='' f='7.5'/>");
  EXPECT_EQ(ReadIntAttr(n, "a", -1), 12);
  EXPECT_EQ(ReadIntAttr(n, "f", -1), -1) << "a fraction is no integer";
  EXPECT_EQ(ReadIntAttr(n, "missing", -1), -1);
  EXPECT_DOUBLE_EQ(ReadFloatAttr(n, "b", 0), 1.5);
  EXPECT_DOUBLE_EQ(ReadFloatAttr(n, "d", -1), -1);
  EXPECT_DOUBLE_EQ(ReadFloatAttr(n, "e", 3), 3);
  EXPECT_EQ(ReadMoneyAttr(n, "c"), 22500);
  EXPECT_EQ(ReadMoneyAttr(n, "d", 7), 7);
  // A host process with a comma locale must not change what is read.
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old != nullptr ? old : "C";
  if (std::setlocale(LC_NUMERIC, "ru_RU.UTF-8") != nullptr) {
    EXPECT_EQ(ReadMoneyAttr(n, "c"), 22500);
    std::setlocale(LC_NUMERIC, saved.c_str());
  }
}

TEST(InputReadingTest, AmountsThatCannotBeHeldAreRefusedInsteadOfWrapping) {
  pugi::xml_document doc;
  pugi::xml_node n = Node(
      doc, "<P big='922337203685478' edge='922337203685477' inf='inf' nan='nan' huge='1e400'/>");
  EXPECT_EQ(CodeOf([&] { ReadMoneyAttr(n, "big"); }), 1004) << "x 10000 leaves 64 bits";
  EXPECT_EQ(CodeOf([&] { ReadMoneyAttr(n, "edge"); }), 0);
  EXPECT_EQ(CodeOf([&] { ReadMoneyAttr(n, "inf"); }), 1004);
  EXPECT_EQ(CodeOf([&] { ReadFloatAttr(n, "nan", 0); }), 1004);
  EXPECT_EQ(CodeOf([&] { ReadFloatAttr(n, "huge", 0); }), 1004);
}

TEST(InputReadingTest, CashierTextJoinsTheInnAndTheNameOnlyWhenGiven) {
  EXPECT_EQ(CashierText("Иванов", "   "), "Иванов");
  EXPECT_EQ(CashierText("", "123456789012"), "123456789012&");
  EXPECT_EQ(CashierText(" Иванов", "123456789012"), "123456789012& Иванов") << "untrimmed";
  EXPECT_EQ(CashierText("  ", ""), "");
}

}  // namespace
