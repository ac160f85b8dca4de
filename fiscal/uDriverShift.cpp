// Shifts, the X and settlements reports, the current status and the counters.
#include "fiscal/uDriver.h"

void TDriver::OpenShift(const pugi::xml_document&, pugi::xml_document&) {
  OperationUnavailable("OpenShift");
}
void TDriver::CloseShift(const pugi::xml_document&, pugi::xml_document&) {
  OperationUnavailable("CloseShift");
}
void TDriver::PrintXReport(const pugi::xml_document&) {
  OperationUnavailable("PrintXReport");
}
void TDriver::GetCurrentStatus(const pugi::xml_document&, pugi::xml_document&) {
  OperationUnavailable("GetCurrentStatus");
}
void TDriver::ReportCurrentStatusOfSettlements(const pugi::xml_document&, pugi::xml_document&) {
  OperationUnavailable("ReportCurrentStatusOfSettlements");
}
