// Registration data of the register and the fiscal-storage operations.
#include "fiscal/uDriver.h"

void TDriver::GetDataKKT(pugi::xml_document&) {
  OperationUnavailable("GetDataKKT");
}
void TDriver::OperationFN(uint8_t, const pugi::xml_document&) {
  OperationUnavailable("OperationFN");
}
