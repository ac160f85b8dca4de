// TDataKKT: the register's registration data as read from it, kept per
// connection and answered to the host as its table of registration
// parameters. Texts are UTF-8.
#pragma once

#include <string>

#include "common/uClock.h"

struct TDataKKT {
  bool Fiscal = false;    // registered with its fiscal storage
  std::string KKTNumber;  // registration number
  std::string FNSerialNumber;
  std::string FFDVersion;
  std::string FFDVersionFN;
  std::string FFDVersionKKT;
  std::string KKTSerialNumber;
  std::string DocumentNumber;
  TDateTime DateTime;
  std::string CompanyName;
  std::string INN;
  std::string SaleAddress;
  std::string SaleLocation;
  std::string TaxationSystems;
  bool IsEncrypted = false;
  bool IsAutomatic = false;
  bool IsOffline = false;
  bool IsAutomaticPrinter = false;
  bool IsService = false;
  bool IsExcisable = false;
  bool IsLottery = false;
  bool IsGambling = false;
  bool IsOnlineOnly = false;
  bool BSOSing = false;
  bool IsMarking = false;
  bool IsPawnshop = false;
  bool IsAssurance = false;
  bool IsVendingMachine = false;
  bool IsCateringServices = false;
  bool IsWholesaleTrade = false;
  bool PermissiveMarking = false;
  std::string AutomaticNumber;
  std::string AgentTypes;
  std::string OFDCompany;
  std::string OFDCompanyINN;
  std::string FNSURL;
  std::string SenderEmail;
  std::string FirmwareVersion;  // not read from the register
};
