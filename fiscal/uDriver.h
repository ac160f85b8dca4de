// TDriver: the device-specific fiscal driver, the class the host creates as
// "quarnel". It keeps the table of open connections (device identifier ->
// TDeviceDriver), makes the named one current before every fiscal operation,
// and implements the operations of the common and fiscal interfaces.
//
// Adding an operation: override its virtual from TEcrlDriver / TCommonDriver
// here (the host wrapper, argument conversion, error codes and tracing are
// already done by the base classes) and work on Instance(), the connection
// SelectDevice made current. A new fiscal host method is a row in
// driver/uMethodArguments.h, an entry with its handler in
// TEcrlDriver::cHostMethods and the virtual operation the handler runs.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "driver/uEcrDriver4004.h"
#include "fiscal/uDeviceDriver.h"

struct TReceipt;

class TDriver : public TEcrlDriver {
 public:
  TDriver();
  ~TDriver() override;

  static const TDriverClassInfo Info;
  const TDriverClassInfo& ClassInfo() const override { return Info; }

  // The interface revision of the host's equipment interface: 4004.
  int32_t GetInterfaceRevision() override;
  bool GetInterfaceRevision(V8Variant* RetValue, V8Variant* Params, long Count,
                            TV8AddInDefBaseEx* V8) override;

  // Opens a new connection from the "Parameters" document; it becomes
  // current and FDeviceID names it. A failure at any step leaves nothing
  // behind (no holder, no open link, no current connection).
  void ConnectEquipment(const pugi::xml_document& ASettings) override;
  // Closes the named connection; an unknown identifier is not an error.
  void DisconnectEquipment(const std::string& ADeviceID) override;
  void SelectDevice(const std::string& ADeviceID) override;
  // Connects, prints the driver's description on a service document unless
  // EnablePrinting is 2, and always disconnects again.
  void EquipmentTest(const pugi::xml_document& ASettings, std::string& ADescription,
                     std::string& ADemoModeIsActivated) override;

  void GetDataKKT(pugi::xml_document& ATableParametersKKT) override;
  void OperationFN(uint8_t AOperationType, const pugi::xml_document& AParametersFiscal) override;
  void OpenShift(const pugi::xml_document& AInputParameters,
                 pugi::xml_document& AOutputParameters) override;
  void CloseShift(const pugi::xml_document& AInputParameters,
                  pugi::xml_document& AOutputParameters) override;
  void ProcessCheck(bool AElectronically, const pugi::xml_document& ACheckPackage,
                    pugi::xml_document& ADocumentOutputParameters, bool AIsCorrection) override;
  void ProcessCorrectionCheck(bool AElectronically,
                              const pugi::xml_document& ACheckCorrectionPackage,
                              pugi::xml_document& ADocumentOutputParameters) override;
  void PrintTextDocument(const pugi::xml_document& ADocumentPackage) override;
  void CashInOutcome(const pugi::xml_document& AInputParameters, int64_t AAmount) override;
  void PrintXReport(const pugi::xml_document& AInputParameters) override;
  void GetCurrentStatus(const pugi::xml_document& AInputParameters,
                        pugi::xml_document& AOutputParameters) override;
  void ReportCurrentStatusOfSettlements(const pugi::xml_document& AInputParameters,
                                        pugi::xml_document& AOutputParameters) override;
  void OpenCashDrawer() override;
  void GetLineLength(int64_t& ALineLength) override;
  void PrintCheckCopy(const std::string& ACheckNumber) override;
  void OpenSessionRegistrationKM() override;
  void CloseSessionRegistrationKM() override;
  void RequestKM(const pugi::xml_document& AInputParameters,
                 pugi::xml_document& AOutputParameters) override;
  void GetProcessingKMResult(pugi::xml_document& AOutputParameters,
                             int32_t& ARequestStatus) override;
  void ConfirmKM(const std::string& AGUID, int32_t AConfirmationType) override;
  void SetDateTime(const std::string& ADateTime) override;
  void GetDateTime(std::string& ADateTime) override;
  void GetDocumentInformation(int32_t ADocNumber, pugi::xml_document& AOutputParameters) override;

  // The register's day state minus one: 0 closed, 1 open, 2 open for more
  // than 24 hours.
  int GetShiftState();

  // Output parts of the shift operations, by bit of their field set.
  enum TCounterField : uint32_t {
    cfShiftNumber = 1u << 0,
    cfCheckNumber = 1u << 1,
    cfShiftClosingCheckNumber = 1u << 2,
    cfDateTime = 1u << 3,
    cfShiftState = 1u << 4,
    cfCountersSale = 1u << 5,
    cfCountersRefund = 1u << 6,
    cfBacklogCounter = 1u << 9,
    cfCashBalance = 1u << 10,
    cfBacklogFirstNumber = 1u << 11,
    cfBacklogFirstDateTime = 1u << 12,
    cfFNError = 1u << 13,
    cfFNOverflow = 1u << 14,
    cfFNFail = 1u << 15,
    cfPayments = 1u << 17,
    cfCashInOut = 1u << 18,
    cfDeviceState = 1u << 19,
  };

 protected:
  // The current connection; raises "Устройство не включено" when there is none.
  TDeviceDriver& Instance();
  // The current connection's register; raises "Устройство не включено".
  TDevice& Device() { return Instance().Device(); }

  // ---- shared steps of the fiscal operations ----
  // Cancels a document the register still has open (a failed operation
  // leaves it so): the receipt print rule first, then the cancel, then the
  // print-settings byte written back as read at connect, even when the
  // cancel fails.
  void CancelOpenDocument();
  // Bit 7 of the print-settings byte means "do not print". From AByte, set it
  // by FPrintRequired (-1: by EnablePrinting / EnableReportPrinting being 2,
  // 0: set, 1: clear, other: AByte as it is) and write the byte to settings
  // table 1 index 0. The caller writes FInitPrintSetting back when done.
  void ApplyReceiptPrinting(uint8_t AByte);
  void ApplyReportPrinting(uint8_t AByte);
  // Writes the print-settings byte read at connect back to the register.
  void RestorePrintSetting();
  // Writes the print-settings byte read at connect with the "do not print"
  // bit set (ANoPaper) or cleared, whatever FPrintRequired says.
  void WritePaperSetting(bool ANoPaper);

  // The shift must be open (AMustBeOpen) or closed: a closed shift raises
  // EquException 3005, an open one 3015, and a shift open for more than 24
  // hours 3002 in both modes. Only the status query is sent.
  void EnsureShiftState(bool AMustBeOpen);
  // After a fiscal document: waits 500 ms (OperationWait), then reads the
  // last document's number, date and fiscal sign, the shift number, the
  // receipt number in the shift and the tax authority's site, and writes
  // them to ADocumentOutputParameters as
  // <DocumentOutputParameters><Parameters .../></DocumentOutputParameters>.
  void FillDocumentOutputParameters(pugi::xml_document& ADocumentOutputParameters);

  // ---- shifts, reports, text documents, cash, older-format corrections ----
  // CashierName, CashierINN (both through the register's code page) and
  // PrintRequired of the input's "Parameters" into the connection, each on
  // its own; a missing or unreadable one takes its default. A cashier text
  // with a byte below 0x20 is refused (1004 naming it) and nothing is kept.
  // Nothing here talks to the register, so the operations read it first.
  void ReadInputParameters(const pugi::xml_document& AInputParameters);
  // Fills the connection's FCashCounters from the register, after a pause
  // that lets the counters settle behind the last report or document.
  void ReadCounters();
  // ReadCounters, then <OutputParameters><Parameters .../>[<Payments/>]
  // with the parts AFields names, in their fixed order.
  void WriteCountersOutput(pugi::xml_document& AOutputParameters, uint32_t AFields);
  // The frame of the shift operations and reports: the input read (cashier,
  // print flag), a document left open cancelled, the print-settings byte
  // set by the report rule, then AStep with the cashier text, and the byte
  // written back also when AStep fails.
  template <class TStep>
  void RunReport(const pugi::xml_document& AInputParameters, TStep&& AStep);
  // Runs AStep, then writes the print-settings byte read at connect back,
  // also when AStep fails; a failing write-back never hides AStep's error.
  template <class TStep>
  void KeepingPrintSetting(TStep&& AStep) {
    try {
      AStep();
    } catch (...) {
      try {
        RestorePrintSetting();
      } catch (...) {
      }
      throw;
    }
    RestorePrintSetting();
  }

  // The register link of a new connection, not yet enabled: a TSocketDevice
  // for PortNumber 9999, else a TCOMDevice. The connect gives it the holder's
  // settings, whichever link this made, so in-process harnesses (fuzzing,
  // benchmarks) put a link of their own here and keep the rest of the
  // connect sequence.
  virtual std::unique_ptr<TDevice> CreateDevice(const TDeviceDriver& AHolder);

  // Open connections by device identifier; owns them.
  std::map<std::string, std::unique_ptr<TDeviceDriver>> FInstanceList;
  // The current connection (borrowed from FInstanceList), or null.
  TDeviceDriver* FInstance = nullptr;

 private:
  // The body of ProcessCheck between print control and its restore: open
  // (or the correction's open), agent data, positions, receipt text,
  // subtotal, payments, format 1.2 tags, close, output parameters.
  void RegisterReceipt(const TReceipt& AReceipt, bool AIsCorrection,
                       pugi::xml_document& ADocumentOutputParameters);
  // The correction of formats before 1.2: one command with totals per
  // payment kind and per tax rate.
  void ProcessLegacyCorrection(const pugi::xml_document& ACheckCorrectionPackage,
                               pugi::xml_document& ADocumentOutputParameters);
  // ApplyReceiptPrinting / ApplyReportPrinting with their parameter.
  void WritePrintSetting(uint8_t AByte, uint8_t AEnableParameter);
  // Start and end of a marking session: the register's code table and the
  // connection's check results are cleared, no check awaits confirmation.
  void ResetMarkingSession();
};
