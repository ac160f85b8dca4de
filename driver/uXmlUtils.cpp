#include "driver/uXmlUtils.h"

#include <algorithm>
#include <sstream>

#include "common/uCommonUtils.h"
#include "resources/uResources.h"

namespace {

// A character XML 1.0 allows.
bool IsXmlChar(char32_t c) {
  return c == 0x09 || c == 0x0A || c == 0x0D || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

bool IsXmlCodeUnit(char16_t c) {
  return IsXmlChar(c);
}

bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// The length of the well-formed UTF-8 character at the start of AText and
// its code point; 0 when the bytes there are not one.
size_t Utf8Char(std::string_view AText, char32_t& ACode) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(AText[i]); };
  const unsigned char lead = byte(0);
  size_t length = 0;
  char32_t code = 0, least = 0;
  if (lead < 0x80) {
    ACode = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (AText.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3F);
  }
  if (code < least || code > 0x10FFFF) return 0;
  ACode = code;
  return length;
}

bool IsXmlTextClean(const char* AText) {
  std::string_view text(AText);
  while (!text.empty()) {
    char32_t code = 0;
    const size_t length = Utf8Char(text, code);
    if (length == 0 || !IsXmlChar(code)) return false;
    text.remove_prefix(length);
  }
  return true;
}

// True when every value of ANode and below (attributes, texts, comments)
// holds only characters XML allows.
bool TextsClean(const pugi::xml_node& ANode) {
  if (!IsXmlTextClean(ANode.value())) return false;
  for (const pugi::xml_attribute attr : ANode.attributes())
    if (!IsXmlTextClean(attr.value())) return false;
  for (const pugi::xml_node child : ANode.children())
    if (!TextsClean(child)) return false;
  return true;
}

void CleanTexts(pugi::xml_node ANode) {
  if (!IsXmlTextClean(ANode.value())) ANode.set_value(CleanXmlUtf8(ANode.value()).c_str());
  for (pugi::xml_attribute attr : ANode.attributes())
    if (!IsXmlTextClean(attr.value())) attr.set_value(CleanXmlUtf8(attr.value()).c_str());
  for (pugi::xml_node child : ANode.children()) CleanTexts(child);
}

// What the parser found wrong, in the user's words.
std::string ParseStatusText(const pugi::xml_parse_result& AResult) {
  switch (AResult.status) {
    case pugi::status_no_document_element:
      return ResString("XmlNoDocumentElement");
    case pugi::status_unrecognized_tag:
    case pugi::status_bad_start_element:
      return ResString("XmlBadStartTag");
    case pugi::status_bad_end_element:
      return ResString("XmlBadEndTag");
    case pugi::status_end_element_mismatch:
      return ResString("XmlEndTagMismatch");
    case pugi::status_bad_attribute:
      return ResString("XmlBadAttribute");
    case pugi::status_bad_pcdata:
      return ResString("XmlBadText");
    case pugi::status_bad_comment:
      return ResString("XmlBadComment");
    case pugi::status_bad_cdata:
      return ResString("XmlBadCdata");
    case pugi::status_bad_pi:
      return ResString("XmlBadDeclaration");
    case pugi::status_bad_doctype:
      return ResString("XmlBadDoctype");
    default:
      // Memory and internal failures: the parser's own words are all there is.
      return AResult.description();
  }
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

std::string CleanXmlUtf8(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  while (!text.empty()) {
    char32_t code = 0;
    const size_t length = Utf8Char(text, code);
    if (length == 0) {
      text.remove_prefix(1);
      continue;
    }
    if (IsXmlChar(code)) result.append(text.substr(0, length));
    text.remove_prefix(length);
  }
  return result;
}

void ParseXmlUtf8(std::string_view text, pugi::xml_document& doc, std::string_view AWhat) {
  doc.reset();
  // The text is already UTF-8 whatever its declaration says: it came to us
  // as a host string, not as bytes of a file.
  const pugi::xml_parse_result result =
      doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!result) {
    doc.reset();
    // Line and character of the parser's byte offset, as an editor counts them.
    const size_t offset =
        std::min(static_cast<size_t>(std::max<ptrdiff_t>(result.offset, 0)), text.size());
    size_t line = 1, column = 1;
    for (size_t i = 0; i < offset; ++i) {
      if (text[i] == '\n') {
        ++line;
        column = 1;
      } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
        ++column;
      }
    }
    throw EXmlParseError(
        ResFormat("XmlParseFailed", {std::string(AWhat), ParseStatusText(result),
                                     std::to_string(line), std::to_string(column)}));
  }
}

void ParseXmlText(std::u16string_view text, pugi::xml_document& doc, std::string_view AWhat) {
  ParseXmlUtf8(Utf16ToUtf8(CleanXmlText(text)), doc, AWhat);
}

void NewXmlDocument(pugi::xml_document& doc) {
  doc.reset();
  pugi::xml_node declaration = doc.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
}

std::string XmlText(const pugi::xml_document& doc) {
  // Texts read from the register may hold characters XML cannot carry (a
  // cashier name with ESC); written as they are, no reader accepts the
  // answer. A document that holds none is written without a copy.
  const pugi::xml_document* written = &doc;
  pugi::xml_document cleaned;
  if (!TextsClean(doc)) {
    cleaned.reset(doc);
    CleanTexts(cleaned);
    written = &cleaned;
  }
  std::ostringstream out;
  written->save(out, "", pugi::format_raw, pugi::encoding_utf8);
  return out.str();
}
