// The driver description the host reads with GetDescription, and the kinds
// of equipment the host's equipment library knows.
#pragma once

#include <string>

enum TEquipmentType : int {
  etScanner = 0,
  etMCR = 1,
  etFR = 2,
  etReceiptPrinter = 3,
  etLabelPrinter = 4,
  etCustomerDisplay = 5,
  etDataCollectionTerminal = 6,
  etAcquiringTerminal = 7,
  etScale = 8,
  etPrintingScale = 9,
  etRFIDReader = 10,
  etECR = 11,
  etVideocamera = 12,
  etElectronicLock = 13,
  etUnknown = 14,
};

// The host's name of an equipment kind ("ККТ" for etECR); a value outside
// the enumeration raises std::runtime_error("Enum value unacceptable").
std::string EquipmentTypeText(TEquipmentType type);

struct TDriverInfo {
  std::string Name;
  std::string Description;
  TEquipmentType EquipmentType = etUnknown;
  bool IntegrationComponent = false;
  bool MainDriverInstalled = false;
  std::string DriverVersion;
  std::string IntegrationComponentVersion;
  std::string DownloadURL;
  bool LogIsEnabled = false;
  std::string LogPath;

  // Resets the kind, the three flags and the download address; the names and
  // versions stay.
  void Clear() {
    EquipmentType = etUnknown;
    IntegrationComponent = false;
    MainDriverInstalled = false;
    LogIsEnabled = false;
    DownloadURL.clear();
  }
};
