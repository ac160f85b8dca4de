// TCommonDriver: the part of the host's equipment interface (revision 4004)
// that every kind of equipment shares: identification, the last error, the
// parameters description and parameter setting, connecting, disconnecting and
// testing, additional actions, localisation and application information.
//
// Each host method unpacks its host values, calls a virtual operation that
// the device driver overrides where device work is needed, writes its
// out-arguments and records the outcome in LastResult: result value true, or
// false with the code and message the host then reads with GetLastError.
#pragma once

#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "driver/uCustomDriver.h"
#include "driver/uDriverInfo.h"

// A new device identifier: a GUID in upper case without braces (36 characters).
std::string NewDeviceIdentifier();

class TCommonDriver : public TCustomDriver {
 public:
  TCommonDriver();

  static const TDriverClassInfo Info;
  const TDriverClassInfo& ClassInfo() const override { return Info; }

  // Registers AClass under AExtension (TCustomDriver::RegisterDriver), then
  // fills the driver description with AName, ADescription and the class's
  // UpdateDriverInfo, and names the log again.
  static TClassReg& RegisterDriver(TClassRegList& List, const TDriverClassInfo& AClass,
                                   TV8ObjectFactory AFactory, std::string_view AExtension,
                                   std::string_view AName, std::string_view ADescription);
  // The process-wide driver description (a copy; it is shared between objects).
  static TDriverInfo DriverInfo();
  // Base version of the class-level description update.
  static void UpdateDriverInfo(TDriverInfo& AInfo);

  // ---- virtual operations ----
  // Assigns a new device identifier to FDeviceID.
  virtual void ConnectEquipment(const pugi::xml_document& ASettings);
  // Clears FDeviceID.
  virtual void DisconnectEquipment(const std::string& ADeviceID);
  // Makes the named connection current; raises for an unknown one.
  virtual void SelectDevice(const std::string& ADeviceID) = 0;
  // The interface revision the driver implements.
  virtual int32_t GetInterfaceRevision() = 0;
  // Connects with ASettings, answers the driver description, disconnects.
  virtual void EquipmentTest(const pugi::xml_document& ASettings, std::string& ADescription,
                             std::string& ADemoModeIsActivated);
  virtual std::string GetParametersDescription();
  virtual std::string GetDriverDescription();
  // The "Actions" document listing the additional actions.
  virtual std::string GetAdditionalActions();
  // Runs every additional action named exactly AName; "Action not found" when none.
  virtual void DoAdditionalAction(const std::string& AName);

  // ---- host methods (the member shape of the registry) ----
  virtual bool GetInterfaceRevision(V8Variant* RetValue, V8Variant* Params, long Count,
                                    TV8AddInDefBaseEx* V8);
  bool GetDescription(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool GetLastError(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool ConnectEquipment(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool DisconnectEquipment(V8Variant* RetValue, V8Variant* Params, long Count,
                           TV8AddInDefBaseEx* V8);
  bool EquipmentParameters(V8Variant* RetValue, V8Variant* Params, long Count,
                           TV8AddInDefBaseEx* V8);
  bool SetParameter(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool EquipmentTest(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);
  bool GetAdditionalActions(V8Variant* RetValue, V8Variant* Params, long Count,
                            TV8AddInDefBaseEx* V8);
  bool DoAdditionalAction(V8Variant* RetValue, V8Variant* Params, long Count,
                          TV8AddInDefBaseEx* V8);
  bool EquipmentAutoSetup(V8Variant* RetValue, V8Variant* Params, long Count,
                          TV8AddInDefBaseEx* V8);
  bool SetApplicationInformation(V8Variant* RetValue, V8Variant* Params, long Count,
                                 TV8AddInDefBaseEx* V8);
  bool GetLocalizationPattern(V8Variant* RetValue, V8Variant* Params, long Count,
                              TV8AddInDefBaseEx* V8);
  bool SetLocalization(V8Variant* RetValue, V8Variant* Params, long Count, TV8AddInDefBaseEx* V8);

  // ---- exported property ----
  // Whether the log mode is not off; writing selects all or off and records
  // the flag for the current device identifier.
  bool GetLogEnabled() const;
  void SetLogEnabled(bool Value);

  // ---- additional actions ----
  // Opens the log folder in the desktop's file manager.
  void ViewLog();
  // The help manual ("help" of md.zip beside the library) in the desktop's browser.
  void ShowHelp();

 protected:
  // Runs the registered class's UpdateDriverInfo on the process-wide
  // description; Update when no class has been registered.
  static void RefreshDriverInfo(TUpdateDriverInfoCode Update);

  // Runs Body inside the common guard: success -> CallSucceeded, any
  // exception -> HandleCallError with its code (ErrorCodeOf). Always true for
  // the dispatcher.
  template <class F>
  bool Guarded(V8Variant* RetValue, F&& Body) {
    try {
      Body();
      CallSucceeded(RetValue);
    } catch (const std::exception& E) {
      HandleCallError(E, RetValue, ErrorCodeOf(E));
    }
    return true;
  }
};

// The parameters description built from a class's exported properties (one
// page "Параметры"); used when the library holds no parameters resource.
std::string BuildParametersDescription(const TDriverClassInfo& AClass);
