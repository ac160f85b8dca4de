// The register's setting tables that the driver reads and writes (commands 11
// and 12): the print-settings byte and the registration texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

struct TEmuTableField {
  int Table;
  int Index;
  bool Numeric;  // a number 0..MaxValue, otherwise a text of at most MaxLength bytes
  int64_t MaxValue;
  size_t MaxLength;
  bool Registration;    // changes only through registration once the register is registered
  const char* Default;  // UTF-8
};

// Print settings: bit 7 of table 1 index 0 set means documents are not printed.
constexpr int kPrintSettingsTable = 1;
constexpr uint8_t kNoPrintBit = 0x80;

namespace EmuTable {
constexpr int Organisation = 30;  // 0, 1: name halves; 2, 3: address halves
constexpr int AutomaticNumber = 70;
constexpr int OfdInn = 71;
constexpr int OfdName = 81;
constexpr int SenderEmail = 82;
constexpr int FnsSite = 83;
constexpr int SettlementPlace = 85;
}  // namespace EmuTable

const TEmuTableField* FindTableField(int table, int index);
std::string TableKey(int table, int index);
// Every field with its default value.
std::map<std::string, std::string> DefaultTables();
