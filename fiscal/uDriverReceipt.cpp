// Receipts: from the host's receipt package to the register's commands and back.
#include "fiscal/uDriver.h"

void TDriver::ProcessCheck(bool, const pugi::xml_document&, pugi::xml_document&, bool) {
  OperationUnavailable("ProcessCheck");
}
