// The register's code pages through glibc's iconv: CP866 for every text on
// the wire, CP1251 for the connection password the driver sends. The driver
// has tables of its own; converting here with another implementation means a
// wrong entry on either side shows up as a failing test instead of agreement.
#pragma once

#include <string>
#include <string_view>

// CP866 bytes to UTF-8; every byte has a character.
std::string EmuOemToUtf8(std::string_view Bytes);
// UTF-8 to CP866; a character CP866 lacks, or a malformed byte, becomes "?".
std::string EmuUtf8ToOem(std::string_view Text);
// UTF-8 to CP1251, with "?" as above.
std::string EmuUtf8ToAnsi(std::string_view Text);
