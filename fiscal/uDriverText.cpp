// Text documents, cash deposits and withdrawals, and the receipt copy.
#include "fiscal/uDriver.h"

void TDriver::PrintTextDocument(const pugi::xml_document&) {
  OperationUnavailable("PrintTextDocument");
}
void TDriver::CashInOutcome(const pugi::xml_document&, int64_t) {
  OperationUnavailable("CashInOutcome");
}
void TDriver::PrintCheckCopy(const std::string&) {
  OperationUnavailable("PrintCheckCopy");
}
