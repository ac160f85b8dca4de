#include "transport/uCOMDevice.h"

#include <string>

#include "device/uDeviceExchange.h"
#include "device/uEquipmentErrors.h"
#include "transport/uPortMap.h"

TCOMDevice::TCOMDevice() : FCom(std::make_unique<TCOM>()), FLink(*FCom) {
  SetLink(FLink);
}

TCOMDevice::~TCOMDevice() {
  TCOMDevice::Disable();
}

void TCOMDevice::Enable() {
  TLinkStatus status = FLink.Open();
  if (status.Ok()) status = TDeviceExchange(FLink).Probe();
  if (status.Ok()) return;
  std::string message = FLink.Message(status);
  // A map line the lookup could not use may be the one meant for this port,
  // which then opened the wrong device or none.
  const std::string notes = PortMapNotes(FCom->PortLookup());
  if (!notes.empty()) message += ". " + notes;
  RaiseError(message);
}

void TCOMDevice::Disable() {
  TDevice::Disable();
  FLink.Close();
}
