// TEcrlDriver: the fiscal-register half of the host's equipment interface
// (revision 4004). Every host method here has one shape: select the device
// named by argument 0, turn the other host arguments into C++ values and XML
// documents, run the virtual operation the device driver implements, write
// the out-arguments, and record the outcome. An EquException reports its own
// code; every other failure reports 1001.
#pragma once

#include <cstdint>

#include <pugixml.hpp>

#include "device/uEquipmentErrors.h"
#include "driver/uCommonDriver4004.h"

// ---- argument conversions of the fiscal methods ----

// The host's amount as ten-thousandths: Amount x 10000 rounded to the nearest
// whole, ties to even. An amount that is not a number or does not fit raises.
int64_t AmountToTenThousandths(double Amount);
// The operation type of OperationFN: the low byte of the host integer.
inline uint8_t OperationTypeByte(int32_t Value) {
  return static_cast<uint8_t>(Value & 0xFF);
}
// The line length handed to the host: the low 32 bits.
inline int32_t LineLengthForHost(int64_t Value) {
  return static_cast<int32_t>(static_cast<uint32_t>(Value));
}

class TEcrlDriver : public TCommonDriver {
 public:
  TEcrlDriver();

  static const TDriverClassInfo Info;
  const TDriverClassInfo& ClassInfo() const override { return Info; }

  // Runs the common update, then describes the equipment as a cash register.
  static void UpdateDriverInfo(TDriverInfo& AInfo);

  // ---- fiscal operations, implemented by the device driver ----
  // Input documents are parsed from the host's XML; output documents arrive
  // empty (declaration version "1.0") and are handed back as text.
  virtual void GetDataKKT(pugi::xml_document& ATableParametersKKT) = 0;
  virtual void OperationFN(uint8_t AOperationType, const pugi::xml_document& AParametersFiscal) = 0;
  virtual void OpenShift(const pugi::xml_document& AInputParameters,
                         pugi::xml_document& AOutputParameters) = 0;
  virtual void CloseShift(const pugi::xml_document& AInputParameters,
                          pugi::xml_document& AOutputParameters) = 0;
  virtual void ProcessCheck(bool AElectronically, const pugi::xml_document& ACheckPackage,
                            pugi::xml_document& ADocumentOutputParameters, bool AIsCorrection) = 0;
  virtual void ProcessCorrectionCheck(bool AElectronically,
                                      const pugi::xml_document& ACheckCorrectionPackage,
                                      pugi::xml_document& ADocumentOutputParameters) = 0;
  virtual void PrintTextDocument(const pugi::xml_document& ADocumentPackage) = 0;
  // AAmount in ten-thousandths (four implied decimals).
  virtual void CashInOutcome(const pugi::xml_document& AInputParameters, int64_t AAmount) = 0;
  virtual void PrintXReport(const pugi::xml_document& AInputParameters) = 0;
  virtual void GetCurrentStatus(const pugi::xml_document& AInputParameters,
                                pugi::xml_document& AOutputParameters) = 0;
  virtual void ReportCurrentStatusOfSettlements(const pugi::xml_document& AInputParameters,
                                                pugi::xml_document& AOutputParameters) = 0;
  virtual void OpenCashDrawer() = 0;
  virtual void GetLineLength(int64_t& ALineLength) = 0;
  virtual void PrintCheckCopy(const std::string& ACheckNumber) = 0;
  virtual void OpenSessionRegistrationKM() = 0;
  virtual void CloseSessionRegistrationKM() = 0;
  virtual void RequestKM(const pugi::xml_document& AInputParameters,
                         pugi::xml_document& AOutputParameters) = 0;
  virtual void GetProcessingKMResult(pugi::xml_document& AOutputParameters,
                                     int32_t& ARequestStatus) = 0;
  virtual void ConfirmKM(const std::string& AGUID, int32_t AConfirmationType) = 0;
  virtual void SetDateTime(const std::string& ADateTime) = 0;
  virtual void GetDateTime(std::string& ADateTime) = 0;
  virtual void GetDocumentInformation(int32_t ADocNumber,
                                      pugi::xml_document& AOutputParameters) = 0;

  // ---- host methods ----
  bool GetDataKKT(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool OperationFN(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool OpenShift(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool CloseShift(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool ProcessCheck(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool ProcessCorrectionCheck(V8Variant* RetValue, V8Variant* Params, long Count,
                              TV8AddInDefBaseEx* V8);
  bool PrintTextDocument(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool CashInOutcome(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool PrintXReport(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool GetCurrentStatus(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool ReportCurrentStatusOfSettlements(V8Variant* RetValue, V8Variant* Params, long Count,
                                        TV8AddInDefBaseEx* V8);
  bool OpenCashDrawer(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool GetLineLength(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool PrintCheckCopy(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool OpenSessionRegistrationKM(V8Variant* RetValue, V8Variant* Params, long Count,
                                 TV8AddInDefBaseEx* V8);
  bool CloseSessionRegistrationKM(V8Variant* RetValue, V8Variant* Params, long Count,
                                  TV8AddInDefBaseEx* V8);
  bool RequestKM(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool GetProcessingKMResult(V8Variant* RetValue, V8Variant* Params, long Count,
                             TV8AddInDefBaseEx* V8);
  bool ConfirmKM(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool SetDateTime(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool GetDateTime(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool GetDocumentInformation(V8Variant* RetValue, V8Variant* Params, long Count,
                              TV8AddInDefBaseEx* V8);

 protected:
  // The wrapper every fiscal host method runs in: selects the device named
  // by argument 0, then runs Body; records success, or the failure with the
  // EquException's code or 1001. Always true for the dispatcher.
  template <class F>
  bool FiscalCall(V8Variant* RetValue, V8Variant* Params, long Count, F&& Body) {
    try {
      SelectDevice(V8ToUtf8(Arg(Params, Count, 0)));
      Body();
      CallSucceeded(RetValue);
    } catch (const std::exception& E) {
      HandleCallError(E, RetValue, ErrorCodeOf(E));
    }
    return true;
  }

  // The shape shared by the reports, shifts and marking-code request:
  // argument 1 an XML-in document, argument 2 the XML-out document.
  using TInOutOperation = void (TEcrlDriver::*)(const pugi::xml_document& AInputParameters,
                                                pugi::xml_document& AOutputParameters);
  // AWhat names the input document in its parse message.
  bool InOutCall(V8Variant* RetValue, V8Variant* Params, long Count, TInOutOperation Operation,
                 const char* AWhat);

  // An XML-in argument: cleaned and parsed into Doc; AWhat names it in the
  // message of a text that does not parse.
  static void ReadXmlArg(V8Variant* Params, long Count, long Index, pugi::xml_document& Doc,
                         const char* AWhat);
  // An XML-out argument: the document's text.
  void WriteXmlArg(V8Variant* Params, long Count, long Index, const pugi::xml_document& Doc);
};
