// What every correction receipt takes from its "CorrectionData": the base
// date in the register's form and the correction type byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The base document's date "yyyy-mm-dd" (characters 1-4, 6-7 and 9-10; a
// time may follow) as "ddmmyy"; empty text is today. A date that does not
// read or names no real day raises a plain error naming it.
std::string CorrectionBaseDate(std::string_view ADate);

// The correction type byte: bit 0 for a correction ordered by the tax
// authority (AType 1), bit 1 for a purchase, the taxation system from bit 2,
// then bit 5 in formats before 1.2 or bit 6 for a return in format 1.2.
// AOperationType is the host's 1..4. A taxation system outside 0..5 (the
// host leaves it out as -1) would spill into the kind bits and record a
// correction of another kind: it raises EquException 1004 instead.
uint8_t CorrectionTypeByte(int AType, int AOperationType, int ATaxationSystem, bool AFormat12);
