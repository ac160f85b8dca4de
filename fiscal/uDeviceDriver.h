// TDeviceDriver: one open connection of a driver object, keyed in the
// driver's connection table by its device identifier. It holds the
// connection parameters, the register object and the working state that the
// fiscal operations share.
//
// The connection parameters the host sends ("Parameters" document) are
// written to the properties listed by PublishedProperties(), by exact name.
// A parameter the host omits leaves its field at zero, empty or false.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "device/uConnectionSettings.h"
#include "device/uDevice.h"
#include "device/uKMResult.h"
#include "driver/uCustomDriver.h"
#include "fiscal/uCashCounters.h"
#include "fiscal/uDataKKT.h"
#include "fiscal/uMarkingCodes.h"

// The tax rates the host names in VATRate, in the order whose positions the
// receipts turn into the register's tax codes.
class TTaxValues {
 public:
  TTaxValues();
  // Zero-based position of ARate (compared without regard to case, not
  // trimmed), or -1 when the list has no such rate.
  int IDOfTax(std::string_view ARate) const;
  const std::vector<std::string>& Rates() const { return FRates; }

 private:
  std::vector<std::string> FRates;
};

// The connection settings its register object reads (password, cut marker,
// font, line length, data format) are this holder's own fields: the
// register object is given a reference to them when it is created.
class TDeviceDriver : public TConnectionSettings {
 public:
  // Values of EnablePrinting and EnableReportPrinting.
  static constexpr uint8_t cPrintAlways = 0;
  static constexpr uint8_t cPrintUserChooses = 1;
  static constexpr uint8_t cPrintNever = 2;
  // Settings table and index of the print-settings byte; its bit 7 means
  // "do not print the document on paper".
  static constexpr int cPrintSettingTable = 1;
  static constexpr int cPrintSettingIndex = 0;

  TDeviceDriver();
  ~TDeviceDriver();
  TDeviceDriver(const TDeviceDriver&) = delete;
  TDeviceDriver& operator=(const TDeviceDriver&) = delete;

  // The register; raises "Устройство не включено" while none was created.
  TDevice& Device() const;
  bool HasDevice() const { return FDevice != nullptr; }
  // Takes ownership of the register object the connection talks through
  // and gives it this connection's settings.
  void SetDevice(std::unique_ptr<TDevice> ADevice);
  // The register's side of connecting, once SetDevice gave the register
  // object: the link opened, the print-settings byte read, the start of
  // work, then the line length of the font and the data format read into
  // the settings. The registration data is to be read afresh.
  void Open();

  // The properties the connection parameters are written to.
  static std::span<const TPropertyInfo<TDeviceDriver>> PublishedProperties();

  std::unique_ptr<TDevice> FDevice;
  TTaxValues FTaxValues;
  std::string FCashierName;  // cashier of the operation in progress
  std::string FCashierINN;
  int32_t FPrintRequired = -1;  // -1 not given by the host, 0 do not print, 1 print
  TKMResult FKMResult;          // the last marking-code check
  std::string FCurrentKM;       // escaped marking code under check
  int32_t FRequestCounter = 0;  // 1 while a check awaits confirmation
  TMarkingCodes FKMListResult;  // outcomes of the checks, for the receipts
  bool FKKTDataCompleted = false;
  TCashCounters FCashCounters;
  TDataKKT FDataKKT;
  uint8_t FInitPrintSetting = 0;  // settings table 1 index 0 as read at connect

  // Connection parameters.
  int32_t FPortNumber = 0;  // 9999 selects TCP, anything else the serial port of that number
  int32_t FBaudRate = 0;
  std::string FIPAddress;
  int32_t FIPPort = 0;
  bool FSingleCommand = false;         // informs the host only
  uint8_t FEnablePrinting = 0;         // 0 print receipts, 1 the user chooses, 2 do not print
  uint8_t FEnableReportPrinting = 0;   // 0 print reports, 2 do not print
  bool FReceiptTextAvailable = false;  // informs the host only
  bool FLogEnabled = false;
};
