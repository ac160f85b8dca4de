// One entry of a zip archive held in memory, stored or deflated (what zip
// tools write for documents), with zlib. The Windows build reads the help
// archive with it, where Debian offers no libzip. Every size and offset is
// checked against the archive before it is used, and the entry's CRC.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The entry named AEntry into AContent: true; false when the archive has no
// such entry. Raises std::runtime_error with the reason when the archive is
// damaged or the entry is larger than AMaxSize.
bool ExtractZipEntry(std::string_view AZip, std::string_view AEntry, size_t AMaxSize,
                     std::string& AContent);
