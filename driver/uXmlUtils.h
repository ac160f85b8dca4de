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

// A host XML text that does not parse; the message is the parser's.
class EXmlParseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Cleans `text`, then parses it into `doc` (whose previous content is
// dropped). Raises EXmlParseError with the parser's message.
void ParseXmlText(std::u16string_view text, pugi::xml_document& doc);
// The same for a UTF-8 text (already internal, e.g. a compiled-in resource).
void ParseXmlUtf8(std::string_view text, pugi::xml_document& doc);

// Empties `doc` and gives it the declaration version "1.0".
void NewXmlDocument(pugi::xml_document& doc);

// The document as UTF-8 text with its declaration. Characters of its values
// that XML 1.0 does not allow are left out, by the rule of CleanXmlText.
std::string XmlText(const pugi::xml_document& doc);

// "true" / "false", the XML form of a Boolean.
inline const char* XmlBool(bool value) {
  return value ? "true" : "false";
}
