// The clock, the cash drawer and stored document information.
#include "fiscal/uDriver.h"

void TDriver::OpenCashDrawer() {
  OperationUnavailable("OpenCashDrawer");
}
void TDriver::SetDateTime(const std::string&) {
  OperationUnavailable("SetDateTime");
}
void TDriver::GetDateTime(std::string&) {
  OperationUnavailable("GetDateTime");
}
void TDriver::GetDocumentInformation(int32_t, pugi::xml_document&) {
  OperationUnavailable("GetDocumentInformation");
}
