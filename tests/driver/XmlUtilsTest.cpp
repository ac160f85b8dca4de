// Host XML texts: what cleaning keeps and drops, the parser's message for a
// text that does not parse, and the form of the documents the driver writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/uXmlUtils.h"

namespace {

TEST(CleanXmlTextTest, DropsWhatXmlCannotHoldAndKeepsEverythingElse) {
  EXPECT_EQ(CleanXmlText(u"a\u0001b\u0008c\u001Fd"), u"abcd");
  EXPECT_EQ(CleanXmlText(u"\t\n\r x"), u"\t\n\r x") << "tab, LF and CR are kept";
  EXPECT_EQ(CleanXmlText(u"\uFFFE\uFFFF\uFFFD\uE000\uD7FF"), u"\uFFFD\uE000\uD7FF");
  EXPECT_EQ(CleanXmlText(std::u16string(1, u'\0') + u"z"), u"z");
  EXPECT_EQ(CleanXmlText(u"Чек №1"), u"Чек №1");
}

TEST(CleanXmlTextTest, KeepsSurrogatePairsAndDropsLoneHalves) {
  const std::u16string pair = u"\U0001F600";  // one character beyond U+FFFF
  ASSERT_EQ(pair.size(), 2u);
  EXPECT_EQ(CleanXmlText(u"a" + pair + u"b"), u"a" + pair + u"b");
  EXPECT_EQ(CleanXmlText(std::u16string{u'a', 0xD800, u'b'}), u"ab");
  EXPECT_EQ(CleanXmlText(std::u16string{u'a', 0xDC00, 0xD800}), u"a");
  EXPECT_EQ(CleanXmlText(std::u16string{0xDC00, 0xD800, u'x'}), u"x") << "reversed halves";
}

TEST(ParseXmlTextTest, AControlCharacterParsesAsIfAbsent) {
  pugi::xml_document doc;
  ParseXmlText(u"<Parameters>\u0001<Parameter Name=\"Log\u0002Enabled\"/></Parameters>", doc, "x");
  EXPECT_STREQ(doc.child("Parameters").child("Parameter").attribute("Name").value(), "LogEnabled");
}

// What 1C sent wrong, said in Russian with the document it was and the line
// and character an editor shows; characters, not bytes, are counted.
TEST(ParseXmlTextTest, TextThatDoesNotParseNamesTheDocumentWhatAndWhere) {
  struct TCase {
    std::u16string Text;
    std::string Message;
  };
  const std::vector<TCase> cases = {
      {u"", "документ пуст: нет ни одного элемента, строка 1, позиция 1"},
      {u"  \n ", "документ пуст: нет ни одного элемента, строка 2, позиция 2"},
      {u"<CheckPackage>\n  <Parameters>\n</CheckPackage>",
       "закрывающий тег не соответствует открывающему, строка 3, позиция 3"},
      {u"<Чек Сумма=100/>",
       "ошибка в атрибуте (значение пишется в кавычках после знака «=»), "
       "строка 1, позиция 12"},
      {u"<a>\u0001</b>", "закрывающий тег не соответствует открывающему, строка 1, позиция 6"},
  };
  pugi::xml_document doc;
  for (const TCase& c : cases) {
    try {
      ParseXmlText(c.Text, doc, "пакет чека");
      ADD_FAILURE() << c.Message << ": parsed";
    } catch (const EXmlParseError& E) {
      EXPECT_EQ(std::string(E.what()), "Ошибка разбора XML (пакет чека): " + c.Message);
    }
    EXPECT_FALSE(doc.document_element()) << "nothing half-parsed is left";
  }
}

TEST(ParseXmlTextTest, TheHostsTextIsReadAsItIsWhateverItsDeclarationSays) {
  pugi::xml_document doc;
  ParseXmlText(u"<?xml version=\"1.0\" encoding=\"windows-1251\"?><Text Value=\"Привет\"/>", doc,
               "x");
  EXPECT_STREQ(doc.child("Text").attribute("Value").value(), "Привет");
}

TEST(XmlTextTest, WrittenDocumentsDeclareVersionOne) {
  pugi::xml_document doc;
  NewXmlDocument(doc);
  EXPECT_EQ(XmlText(doc), "<?xml version=\"1.0\"?>");
  doc.append_child("Actions").append_attribute("Caption") = "Просмотр \"лога\" & <справка>";
  EXPECT_EQ(XmlText(doc),
            "<?xml version=\"1.0\"?><Actions Caption=\"Просмотр &quot;лога&quot; &amp; "
            "&lt;справка>\"/>");
}

TEST(XmlTextTest, WrittenDocumentsLeaveOutWhatXmlCannotCarry) {
  pugi::xml_document doc;
  NewXmlDocument(doc);
  pugi::xml_node root = doc.append_child("P");
  // A cashier name read from the register with SOH and ESC, a line break
  // (which stays), U+FFFE, and bytes that are no UTF-8 (a lone continuation
  // byte, a surrogate, a lead byte cut short).
  root.append_attribute("CashierName") = "Иван\x01ов\x1B\tа\n";
  root.append_attribute("Bad") =
      "a\xEF\xBF\xBE"
      "b\x80"
      "c\xED\xA0\x80"
      "d\xD0";
  root.append_child(pugi::node_pcdata).set_value("x\x02y\rz\xF0\x9F\x98\x80");
  EXPECT_EQ(XmlText(doc),
            "<?xml version=\"1.0\"?><P CashierName=\"Иванов&#09;а&#10;\" "
            "Bad=\"abcd\">xy\rz\xF0\x9F\x98\x80</P>");
  EXPECT_STREQ(root.attribute("CashierName").value(), "Иван\x01ов\x1B\tа\n")
      << "the document itself is left as it is";
  EXPECT_EQ(CleanXmlUtf8("Чек\x1C№1"), "Чек№1");
}

}  // namespace
