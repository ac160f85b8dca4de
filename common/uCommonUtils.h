// Text and byte helpers shared by every layer: UTF-8/UTF-16, the register's
// code pages, Base64, hexadecimal text, markup escapes and case-insensitive
// comparison.
//
// Internal text is UTF-8. The host speaks UTF-16; the register speaks CP866.
// "ANSI" is fixed to CP1251 and "OEM" to CP866, whatever the locale, because
// the registers and the documents they print are Russian.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// UTF-8 -> UTF-16. Malformed UTF-8 sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// UTF-16 -> UTF-8. Surrogate pairs are joined; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// Reads a zero-terminated UTF-16 text; nullptr reads as empty.
std::u16string Utf16FromZ(const char16_t* text);

// UTF-8 -> CP1251 ("ANSI"). A character CP1251 cannot hold becomes '?'.
std::string Utf8ToAnsi(std::string_view text);
// CP1251 -> UTF-8.
std::string AnsiToUtf8(std::string_view bytes);
// UTF-8 -> CP866 ("OEM"). A character CP866 cannot hold becomes '?'.
std::string Utf8ToOem(std::string_view text);
// CP866 -> UTF-8.
std::string OemToUtf8(std::string_view bytes);
// CP1251 bytes -> CP866 bytes, byte for byte (what CharToOemA does on a Russian system).
std::string AnsiToOem(std::string_view bytes);
// CP866 bytes -> CP1251 bytes, byte for byte (OemToCharA).
std::string OemToAnsi(std::string_view bytes);

// Thrown for malformed Base64 or hexadecimal text; the message names the fault.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Standard alphabet with '=' padding.
std::string Base64Encode(std::string_view bytes);
// White space (the platform wraps long Base64 lines) is skipped and missing
// padding is accepted; any other foreign character raises EConvertError.
std::string Base64Decode(std::string_view text);

// Each byte as two upper-case hexadecimal digits followed by `separator`
// ("" gives a plain run of digits).
std::string BytesToHex(std::string_view bytes, std::string_view separator = "");
// Hexadecimal text (either letter case) -> bytes. Odd length or a non-hex
// character raises EConvertError.
std::string HexToBytes(std::string_view text);

// Upper and lower case of Latin and Cyrillic letters (Ё/ё included); other
// characters are kept.
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
// Comparison without regard to case of Latin and Cyrillic letters.
bool SameText(std::string_view a, std::string_view b);

// The text with &, <, > and " as entities, fit for XML or HTML text and
// attribute values in double quotes.
std::string EscapeMarkup(std::string_view text);

// Leading and trailing blanks and control characters (bytes up to 0x20) removed.
std::string Trim(std::string_view text);
// The same part of text, without a copy.
std::string_view TrimView(std::string_view text);

// Decimal integer of the whole text; false when the text is not one (empty,
// signs only, foreign characters or out of range).
bool TryStrToInt64(std::string_view text, int64_t& value);
