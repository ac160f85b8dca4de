// TEcrlDriver: the fiscal-register half of the host's equipment interface
// (revision 4004). Every host method here has one shape: select the device
// named by argument 0, turn the other host arguments into C++ values and XML
// documents, run the virtual operation the device driver implements, write
// the out-arguments, and record the outcome. An EquException reports its own
// code; every other failure reports 1001. The methods are the entries of
// cHostMethods: a method's names and arguments come from its row in
// driver/uMethodArguments.h, its handler is written beside the entry.
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
  // Every fiscal host method is an entry of cHostMethods
  // (uEcrDriver4004.cpp): its row of arguments (uMethodArguments.h) and a
  // handler that unpacks them, runs the operation above and writes the
  // out-arguments, inside the wrapper every fiscal method shares.
  static const TExportMethodInfo cHostMethods[];

 protected:
  // The host arguments of one fiscal call, read and written by position.
  class THostCall {
   public:
    THostCall(TEcrlDriver& ADriver, const TMethodSignature& ARow, V8Variant* AParams, long ACount)
        : FDriver(ADriver), FRow(ARow), FParams(AParams), FCount(ACount) {}
    std::string Text(long AIndex) const;
    int32_t Int(long AIndex) const;
    double Number(long AIndex) const;
    bool Bool(long AIndex) const;
    // An XML-in argument, cleaned and parsed into ADoc; the method's row
    // names the document in the message of a text that does not parse.
    void ReadXml(long AIndex, pugi::xml_document& ADoc) const;
    // An XML-out argument: the document's text.
    void WriteXml(long AIndex, const pugi::xml_document& ADoc);
    void SetText(long AIndex, std::string_view AText);
    void SetInt(long AIndex, int32_t AValue);

   private:
    TEcrlDriver& FDriver;
    const TMethodSignature& FRow;
    V8Variant* FParams;
    long FCount;
  };
  using THandler = void (*)(TEcrlDriver& ADriver, THostCall& ACall);

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

  // A fiscal method's registry code: AHandler inside FiscalCall.
  template <TMethodName AName, THandler AHandler>
  static bool FiscalMethod(TV8UserObject& Obj, V8Variant* RetValue, V8Variant* Params, long Count,
                           TV8AddInDefBaseEx* /*V8*/) {
    static constexpr const TMethodSignature& row = MethodSignatureOf(AName.View());
    TEcrlDriver& driver = static_cast<TEcrlDriver&>(Obj);
    return driver.FiscalCall(RetValue, Params, Count, [&] {
      THostCall call(driver, row, Params, Count);
      AHandler(driver, call);
    });
  }
  // The table entry of a fiscal method.
  template <TMethodName AName, THandler AHandler>
  static consteval TExportMethodInfo FiscalEntry() {
    return ExportMethod(AName.View(), &FiscalMethod<AName, AHandler>);
  }
};
