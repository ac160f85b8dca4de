// Correction receipts in every fiscal data format.
#include "fiscal/uDriver.h"

void TDriver::ProcessCorrectionCheck(bool, const pugi::xml_document&, pugi::xml_document&) {
  OperationUnavailable("ProcessCorrectionCheck");
}
