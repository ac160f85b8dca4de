// The manual's troubleshooting part against the messages the library can
// give: a cashier who searches the manual for the text on the screen must
// find it, with what to do. A message is found by its start, or by its
// longest fixed part when it starts with a value ("Позиция 2 «Сыр»: ...").
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "device/uEquipmentErrors.h"
#include "resources/uResources.h"

namespace {

// Keys of the string table that are no message of their own.
const std::set<std::string> kNoMessage = {
    // No failure: the driver's names and lines of a receipt.
    "DriverName", "DriverDescription", "ParametersPage", "DiscountLine", "MarginLine",
    // Parts of a longer message, which the manual names by its own start.
    "PortNumberRange", "ParametersDescription", "XmlNoDocumentElement", "XmlBadStartTag",
    "XmlBadEndTag", "XmlEndTagMismatch", "XmlBadAttribute", "XmlBadText", "XmlBadComment",
    "XmlBadCdata", "XmlBadDeclaration", "XmlBadDoctype", "ReceiptLine", "PositionField",
    "FnEmptyRecord", "FnDocumentTooLong", "FnDocumentTooLarge", "FnTooManyRecords", "FnReadTooLong",
    "FnHeaderCut", "FnRecordPastEnd", "FnRecordTrailing", "FnNestingTooDeep",
    "DateTimeFormatInvalid", "PortMapNotAFile", "PortMapTooLarge", "PortMapNoEquals",
    "PortMapBadPort", "PortMapNoDevice", "PortMapRelativeDevice", "PortMapDuplicate",
    "PortOriginEnvironment", "PortOriginMap", "PortOriginByName", "PortOpenFailed", "PortNotSerial",
    "PortSettingsRefused", "ConnectRefused", "ConnectTimedOut", "ConnectUnreachable",
    "ConnectBadPort",
    // Never shown through the platform: it passes every argument, the one
    // property is a writable Boolean, and a control byte is refused by its
    // field before any frame is made.
    "ArgumentMissing", "PropertyReadOnly", "PropertyTypeUnacceptable", "ValueTypeUnacceptable",
    "EnumValueUnacceptable", "PropertyNotFoundInSource", "ControlByteInArgument",
    "ControlByteInPassword"};

std::string ReadFile(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The troubleshooting part of the built-in manual.
std::string Troubleshooting() {
  const std::string manual(HelpResource("help.md").value_or(""));
  const size_t from = manual.find("\n## Устранение неполадок");
  const size_t to = manual.find("\n## ", from + 1);
  return from == std::string::npos ? "" : manual.substr(from, to - from);
}

size_t Characters(const std::string& AText) {
  size_t n = 0;
  for (char c : AText) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

std::string TrimPunctuation(std::string AText) {
  const std::string ends[] = {" ", ".", ",", ":", ";", "(", ")", "\"", "«", "»"};
  for (bool trimmed = true; trimmed;) {
    trimmed = false;
    for (const std::string& e : ends) {
      if (AText.starts_with(e)) AText.erase(0, e.size()), trimmed = true;
      if (AText.ends_with(e)) AText.erase(AText.size() - e.size()), trimmed = true;
    }
  }
  return AText;
}

// What a user searches the manual for: the message's start up to its first
// value, or its longest fixed part when the start is too short to tell.
std::string Searched(const std::string& AMessage) {
  std::vector<std::string> parts;
  for (size_t from = 0;;) {
    const size_t at = AMessage.find("%s", from);
    parts.push_back(TrimPunctuation(AMessage.substr(from, at - from)));
    if (at == std::string::npos) break;
    from = at + 2;
  }
  if (Characters(parts.front()) >= 12) return parts.front();
  std::string longest;
  for (const std::string& p : parts)
    if (Characters(p) > Characters(longest)) longest = p;
  return longest;
}

TEST(ManualTest, EveryMessageOfTheStringTableIsFoundWithWhatToDo) {
  const std::string manual = Troubleshooting();
  ASSERT_FALSE(manual.empty());
  std::istringstream table(
      ReadFile(std::string(QUARNEL_SOURCE_DIR) + "/resources/Messages.ru.txt"));
  size_t messages = 0;
  for (std::string line; std::getline(table, line);) {
    const size_t eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    if (kNoMessage.count(key)) continue;
    ++messages;
    const std::string searched = Searched(ResString(key));
    EXPECT_NE(manual.find(searched), std::string::npos)
        << key << ": the manual does not name \"" << searched << "\"";
  }
  EXPECT_GT(messages, 60u) << "the string table was not read";
}

TEST(ManualTest, EveryTextOfTheErrorCatalogueIsFound) {
  const std::string manual = Troubleshooting();
  std::vector<std::string> texts;
  for (int code = 1; code <= 0xFF; ++code)
    if (HasRegisterErrorText(static_cast<uint8_t>(code)))
      texts.push_back(RegisterErrorText(static_cast<uint8_t>(code)));
  // Code 0 is "no error"; the codes of a wrong parameter share one row.
  for (int code = 1; code <= 0xFF; ++code) {
    const std::string text = ExtendedErrorText(code);
    if (!text.starts_with(EquMessages::UnknownError) &&
        !text.starts_with(std::string(EquMessages::InvalidParameter) + " \""))
      texts.push_back(text);
  }
  for (int code = 1000; code < 4000; ++code)
    if (!DriverErrorText(code).empty()) texts.emplace_back(DriverErrorText(code));
  // What the links and the register object raise ("Данные в буфере
  // отсутствуют" is raised by nothing on the driver's path).
  for (std::string_view text :
       {EquMessages::InvalidPassword, EquMessages::ProtocolError, EquMessages::ChecksumError,
        EquMessages::PortOpenError, EquMessages::DeviceNotConnected, EquMessages::PortWriteError,
        EquMessages::PortNotOpen, EquMessages::DeviceNoAnswer, EquMessages::PortReadError,
        EquMessages::SocketLibraryError, EquMessages::IPAddressSyntax,
        EquMessages::SocketCreateError, EquMessages::ConnectError, EquMessages::SendError,
        EquMessages::ReceiveError, EquMessages::InvalidDataLength})
    texts.emplace_back(text);
  for (const std::string& text : texts)
    EXPECT_NE(manual.find(TrimPunctuation(text)), std::string::npos)
        << "the manual does not name \"" << text << "\"";
  EXPECT_GT(texts.size(), 100u);
  // The texts of codes the catalogue lacks, up to their number or name.
  for (const std::string& text :
       {RegisterErrorText(0x13), ExtendedErrorText(6), ExtendedErrorText(40)})
    EXPECT_NE(manual.find(text.substr(0, text.find_first_of("(\"") + 1)), std::string::npos)
        << "the manual does not name \"" << text << "\"";
}

}  // namespace
