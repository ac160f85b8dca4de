// The host's marking-code flow: a check of each code with the register (and
// through it with the marking service), the cashier's confirmation, and the
// session that clears the register's code table before and after. The flow
// exists only in fiscal data format 1.2: on a register in another format
// every method returns at once without a command and without output.
#include <stdexcept>

#include "common/uCommonUtils.h"
#include "device/uEquipmentErrors.h"
#include "driver/uXmlUtils.h"
#include "fiscal/uDriver.h"
#include "fiscal/uInputReading.h"
#include "resources/uResources.h"

namespace {

bool MarkingFormat(const TDeviceDriver& AInstance) {
  return AInstance.FFFDVersion == ffd12;
}

bool Bit(int32_t AValue, int ABit) {
  return (AValue >> ABit & 1) != 0;
}

}  // namespace

void TDriver::OpenSessionRegistrationKM() {
  ResetMarkingSession();
}

void TDriver::CloseSessionRegistrationKM() {
  ResetMarkingSession();
}

void TDriver::ResetMarkingSession() {
  TDeviceDriver& instance = Instance();
  if (!MarkingFormat(instance)) return;
  EnsureShiftState(true);
  CancelOpenDocument();
  instance.Device().ClearBufferKM();
  instance.FKMListResult.Clear();
  instance.FRequestCounter = 0;
}

void TDriver::RequestKM(const pugi::xml_document& AInputParameters,
                        pugi::xml_document& AOutputParameters) {
  TDeviceDriver& instance = Instance();
  if (!MarkingFormat(instance)) return;
  EnsureShiftState(true);
  const pugi::xml_node request = AInputParameters.child("RequestKM");
  if (!request) throw EquException(ecInvalidInput, ResString("RequestKMNotFound"));
  const pugi::xml_node fraction = request.child("FractionalQuantity");

  TDevice& device = instance.Device();
  TMarkingCodes& checked = instance.FKMListResult;
  if (instance.FRequestCounter == 1) {
    // The code checked last was never confirmed: the register must drop it
    // before it takes the next one, and no receipt may bind it.
    device.AcceptMarkingCode(false);
    checked.Forget(instance.FCurrentKM);
    instance.FRequestCounter = 0;
  }

  instance.FCurrentKM =
      TDevice::SetMarkingCode(AnsiToUtf8(Base64Decode(ReadTextAttr(request, "MarkingCode"))));
  const int32_t plannedStatus = ReadIntAttr(request, "PlannedStatus", 0);
  const double quantity = ReadFloatAttr(request, "Quantity", -1);
  const int32_t measure = ReadIntAttr(request, "MeasureOfQuantity", 0);
  const int32_t numerator = fraction ? ReadIntAttr(fraction, "Numerator", 0) : 0;
  const int32_t denominator = fraction ? ReadIntAttr(fraction, "Denominator", 0) : 0;

  TKMResult result;
  try {
    device.CheckMarkingCode(1, instance.FCurrentKM, plannedStatus, quantity, measure, numerator,
                            denominator, result);
  } catch (...) {
    // A check that failed leaves the code unchecked: no receipt may bind
    // what an earlier check of it answered.
    checked.Forget(instance.FCurrentKM);
    // The host's next look at the outcome must show this request as failed,
    // not the answer an earlier code got.
    instance.FKMResult = result;
    instance.FKMResult.GUID = ReadTextAttr(request, "GUID");
    throw;
  }
  checked.Record(instance.FCurrentKM, result);
  instance.FKMResult = result;
  instance.FKMResult.GUID = ReadTextAttr(request, "GUID");

  pugi::xml_node output = AOutputParameters.append_child("RequestKMResult");
  output.append_attribute("Checking") = XmlBool(Bit(result.MarkingValidationResult, 0));
  output.append_attribute("CheckingResult") = XmlBool(Bit(result.MarkingValidationResult, 1));
  if (instance.FRequestCounter == 0) instance.FRequestCounter = 1;
}

void TDriver::GetProcessingKMResult(pugi::xml_document& AOutputParameters,
                                    int32_t& ARequestStatus) {
  TDeviceDriver& instance = Instance();
  if (!MarkingFormat(instance)) return;
  const TKMResult& result = instance.FKMResult;
  pugi::xml_node output = AOutputParameters.append_child("ProcessingKMResult");
  output.append_attribute("GUID") = result.GUID.c_str();
  output.append_attribute("Result") = XmlBool(Bit(result.ProcessingResult, 1));
  output.append_attribute("ResultCode") = result.MarkingValidationResult;
  output.append_attribute("StatusInfo") = result.StatusInfo;
  output.append_attribute("HandleCode") = result.ProcessingCode;
  ARequestStatus = result.RequestStatus;
}

void TDriver::ConfirmKM(const std::string& /*AGUID*/, int32_t AConfirmationType) {
  TDeviceDriver& instance = Instance();
  if (!MarkingFormat(instance)) return;
  // Type 0 accepts the code; any other value rejects it. The code stays in
  // the register's results either way, and a receipt sells it only when
  // accepted.
  const bool accepted = AConfirmationType == 0;
  instance.Device().AcceptMarkingCode(accepted);
  instance.FKMListResult.SetAccepted(instance.FCurrentKM, accepted);
  instance.FRequestCounter = 0;
}
