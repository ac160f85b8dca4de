// Why a serial port could not be opened, on Windows: the system's own
// message says it (a port that does not exist, one another program holds),
// in the words the platform's users know, and there are no port maps.
#include "transport/uPortAccess.h"

std::optional<std::string> ExplainPortOpenFailure(const TPortLookup&, int) {
  return std::nullopt;
}

std::string PortMapNotes(const TPortLookup&) {
  return {};
}
