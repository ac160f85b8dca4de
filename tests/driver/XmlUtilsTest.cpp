// Host XML texts: what cleaning keeps and drops, the parser's message for a
// text that does not parse, and the form of the documents the driver writes.
#include <gtest/gtest.h>

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
  ParseXmlText(u"<Parameters>\u0001<Parameter Name=\"Log\u0002Enabled\"/></Parameters>", doc);
  EXPECT_STREQ(doc.child("Parameters").child("Parameter").attribute("Name").value(), "LogEnabled");
}

TEST(ParseXmlTextTest, TextThatDoesNotParseRaisesTheParsersMessage) {
  pugi::xml_document doc;
  for (const char16_t* text : {u"", u"<a>", u"<a></b>", u"not xml", u"<a x=1/>"}) {
    pugi::xml_document probe;
    const std::string utf8(text, text + std::char_traits<char16_t>::length(text));
    const pugi::xml_parse_result expected = probe.load_string(utf8.c_str());
    try {
      ParseXmlText(text, doc);
      ADD_FAILURE() << "\"" << utf8 << "\" parsed";
    } catch (const EXmlParseError& E) {
      EXPECT_STREQ(E.what(), expected.description()) << utf8;
    }
  }
}

TEST(ParseXmlTextTest, TheHostsTextIsReadAsItIsWhateverItsDeclarationSays) {
  pugi::xml_document doc;
  ParseXmlText(u"<?xml version=\"1.0\" encoding=\"windows-1251\"?><Text Value=\"Привет\"/>", doc);
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
