// Reading the host's input documents, shared by every fiscal operation:
// attributes as integers, floating-point numbers, money and texts, and the
// cashier text and the other texts as the register receives them.
//
// A missing attribute reads as empty text. An integer attribute is trimmed
// and converted; anything that does not convert gives the default. A
// floating-point attribute takes "," or "." as the decimal separator and
// gives the default when empty or unconvertible. Money is the floating-point
// value x 10000 rounded to a 64-bit integer (four implied decimals).
//
// A number that converts but cannot be worked with safely (infinite, not a
// number, or money whose x 10000 leaves the 64-bit range) raises
// EquException 1004 "Ошибка входных параметров команды" instead of wrapping
// around into an amount nobody asked for.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <pugixml.hpp>

std::string ReadTextAttr(const pugi::xml_node& ANode, const char* AName);
// The same, trimmed.
std::string ReadTrimmedAttr(const pugi::xml_node& ANode, const char* AName);
int32_t ReadIntAttr(const pugi::xml_node& ANode, const char* AName, int32_t ADefault);
double ReadFloatAttr(const pugi::xml_node& ANode, const char* AName, double ADefault);
int64_t ReadMoneyAttr(const pugi::xml_node& ANode, const char* AName, int64_t ADefault = 0);

// The cashier field of the register's commands: the INN followed by "&" when
// the trimmed INN is not empty, then the name when the trimmed name is not
// empty (both as given, untrimmed).
std::string CashierText(std::string_view AName, std::string_view AINN);

// Refuses the host's input with EquException 1004 "Ошибка входных параметров
// команды. <ADetail>": ADetail says what is wrong and where.
[[noreturn]] void RefuseInput(std::string_view ADetail);

// A text bound for a field of a register frame. A byte below 0x20 there acts
// as a control byte of the frame (FS splits fields, ETX ends the frame, and
// what follows is read as a frame of its own), so it is refused with
// EquException 1004 "Ошибка входных параметров команды. Недопустимый
// управляющий символ в поле <AField>" before anything is sent. AField names
// the field as the host's document does, for example "GoodCodeData.EAN13".
void RefuseControlBytes(std::string_view AValue, std::string_view AField);
// The same for a text that is only printed and never stored in a fiscal
// document (a line of a text document or of a receipt, the receipt text):
// tab, CR and LF there are layout, which the register's text conversion
// turns into blanks before the frame, so they pass; every other byte below
// 0x20 is refused all the same.
void RefusePrintedControlBytes(std::string_view AValue, std::string_view AField);

// A text as the register's code page holds it: a character the code page
// lacks is replaced, so the text reads as it will be printed and stored.
std::string ThroughAnsi(std::string_view AText);
