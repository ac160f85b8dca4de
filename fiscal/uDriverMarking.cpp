// The host's marking-code flow: checks, confirmation and the session.
#include "fiscal/uDriver.h"

void TDriver::OpenSessionRegistrationKM() {
  OperationUnavailable("OpenSessionRegistrationKM");
}
void TDriver::CloseSessionRegistrationKM() {
  OperationUnavailable("CloseSessionRegistrationKM");
}
void TDriver::RequestKM(const pugi::xml_document&, pugi::xml_document&) {
  OperationUnavailable("RequestKM");
}
void TDriver::GetProcessingKMResult(pugi::xml_document&, int32_t&) {
  OperationUnavailable("GetProcessingKMResult");
}
void TDriver::ConfirmKM(const std::string&, int32_t) {
  OperationUnavailable("ConfirmKM");
}
