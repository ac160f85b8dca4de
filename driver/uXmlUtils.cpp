#include "driver/uXmlUtils.h"

#include <sstream>

#include "common/uCommonUtils.h"

namespace {

bool IsXmlCodeUnit(char16_t c) {
  return c == 0x09 || c == 0x0A || c == 0x0D || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD);
}

bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

std::u16string CleanXmlText(std::u16string_view text) {
  std::u16string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsXmlCodeUnit(c)) {
      result.push_back(c);
    } else if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      // A character beyond U+FFFF is valid XML: keep both halves.
      result.push_back(c);
      result.push_back(text[++i]);
    }
  }
  return result;
}

void ParseXmlUtf8(std::string_view text, pugi::xml_document& doc) {
  doc.reset();
  // The text is already UTF-8 whatever its declaration says: it came to us
  // as a host string, not as bytes of a file.
  const pugi::xml_parse_result result =
      doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!result) {
    doc.reset();
    throw EXmlParseError(result.description());
  }
}

void ParseXmlText(std::u16string_view text, pugi::xml_document& doc) {
  ParseXmlUtf8(Utf16ToUtf8(CleanXmlText(text)), doc);
}

void NewXmlDocument(pugi::xml_document& doc) {
  doc.reset();
  pugi::xml_node declaration = doc.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
}

std::string XmlText(const pugi::xml_document& doc) {
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw, pugi::encoding_utf8);
  return out.str();
}
