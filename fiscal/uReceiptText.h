// Text forms a receipt builds from the host's values before they reach the
// register: product codes, phone lists, the two-column discount line, the
// wrapped receipt text and the dates of the format 1.2 receipt tags.
// Texts are UTF-8; marking codes are kept as text whose characters are the
// code's bytes (CP1251), so that the register receives them unchanged.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

// The attribute's Base64-decoded bytes taken as CP1251 text; empty when missing.
std::string ReadBase64Attribute(const pugi::xml_node& ANode, const char* AName);

// Splits at ";" and ",", keeps the digits of each piece, writes a piece with
// digits as "+" and its digits, joins them with ",".
std::string NormalizePhoneList(std::string_view APhones);

// ALeft cut so that ARight fits, ARight right-aligned: one line of AWidth
// characters (24 when AWidth is 0).
std::string FormatTwoColumnLine(std::string_view ALeft, std::string_view ARight, int AWidth);

// Lines of at most AWidth characters: broken at line ends, then at the last
// blank of a full line, or cut hard when it has none.
std::vector<std::string> WrapTextToLines(std::string_view AText, int AWidth);

// The product code of a marking code for formats before 1.2: "DM", the GTIN
// as 6 bytes, then the serial, escaped like every marking code. A code
// without "01" at its start, without "21" or without an end of its serial
// raises "Некорректный код маркировки <code>".
std::string BuildLegacyMarkingCode(std::string_view ACode);

// "dd.mm.yyyy" -> "ddmmyyyy" (the characters at 1-2, 4-5 and 7-10); empty
// stays empty.
std::string CompactDocumentDate(std::string_view ADate);
// The value of tag 1263: a compact date of fewer than 8 characters
// ("ddmmyy") gets its century ("ddmm20yy"); dots are dropped.
std::string DocumentDateTagValue(std::string_view ACompactDate);
// An ISO 8601 date and time (with "Z", an offset, or none for local time)
// as its UTC date "ddmmyy"; false when the text does not parse.
bool IsoDateToUtcDeviceDate(std::string_view AText, std::string& ADate);
