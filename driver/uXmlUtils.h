// XML texts exchanged with the host: cleaning, parsing and writing.
//
// The host sends XML as UTF-16 text; it is cleaned of characters XML cannot
// hold, converted to UTF-8 and parsed with pugixml. Documents the driver
// writes carry the declaration version "1.0" and are serialised without
// indentation.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include <pugixml.hpp>

// Keeps tab, line feed, carriage return, U+0020..U+D7FF, U+E000..U+FFFD and
// well-formed surrogate pairs; drops every other code unit (other control
// characters, lone surrogates, U+FFFE, U+FFFF).
std::u16string CleanXmlText(std::u16string_view text);
// The same rule for a UTF-8 text; bytes that are not well-formed UTF-8 are
// dropped too.
std::string CleanXmlUtf8(std::string_view text);

// A host XML text that does not parse. The message names the document, what
// is wrong and where, in Russian:
//   "Ошибка разбора XML (пакет чека): закрывающий тег не соответствует
//    открывающему, строка 3, позиция 14"
class EXmlParseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Cleans `text`, then parses it into `doc` (whose previous content is
// dropped). AWhat names the document for the message of EXmlParseError
// ("параметры подключения", "пакет чека", ...); the position counts lines
// and characters of the cleaned text from 1.
void ParseXmlText(std::u16string_view text, pugi::xml_document& doc, std::string_view AWhat);
// The same for a UTF-8 text (already internal, e.g. a compiled-in resource).
void ParseXmlUtf8(std::string_view text, pugi::xml_document& doc, std::string_view AWhat);

// Empties `doc` and gives it the declaration version "1.0".
void NewXmlDocument(pugi::xml_document& doc);

// The document as UTF-8 text with its declaration. Characters of its values
// that XML 1.0 does not allow are left out, by the rule of CleanXmlText.
std::string XmlText(const pugi::xml_document& doc);

// "true" / "false", the XML form of a Boolean.
inline const char* XmlBool(bool value) {
  return value ? "true" : "false";
}
