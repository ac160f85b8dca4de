// The driver's real register links against the virtual register, in one
// process: TEmuServer serves a TEmuRegister over loopback TCP and a
// pseudo-terminal, and the driver's TSocketDevice or TCOMDevice talks to it
// byte for byte. Every test runs over both links. The two sides share no
// protocol code, so a field that one side writes where the other does not
// read it fails here.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/ErrorOf.h"
#include "common/uClock.h"
#include "common/uCommonUtils.h"
#include "emulator/register/uEmuRegister.h"
#include "emulator/wire/uEmuServer.h"
#include "fiscal/uDeviceDriver.h"
#include "transport/uCOMDevice.h"
#include "transport/uSocketDevice.h"

enum class TEmuLink { Tcp, Serial };

class EmuDriverTest : public ::testing::TestWithParam<TEmuLink> {
 protected:
  // The serial port number the pty stands in for (QUARNEL_COM<n>).
  static constexpr int kComPort = 42;

  EmuDriverTest() : FScope(FClock) {}
  ~EmuDriverTest() override {
    // The link first, then the server, then the register it serves.
    FHolder.reset();
    FServer.reset();
    FRegister.reset();
    unsetenv("QUARNEL_COM42");
  }

  bool Serial() const { return GetParam() == TEmuLink::Serial; }

  // A fresh register in memory and its server; the driver is not connected yet.
  void StartRegister(const std::string& ffd = "1.2", bool registered = true) {
    FHolder.reset();
    FServer.reset();
    TEmuRegisterOptions options;
    options.FfdVersion = ffd;
    options.Tape = &FTape;
    options.Registered = registered;
    options.Diagnostics = &FDiagnostics;
    FRegister = std::make_unique<TEmuRegister>(options);
    TEmuServerOptions server;
    server.Port = 0;
    server.Pty = true;
    server.Log = [this](std::string_view text) { FServerLog << text << '\n'; };
    FServer = std::make_unique<TEmuServer>(*FRegister, server);
    FServer->Start();
    setenv("QUARNEL_COM42", FServer->PtyPath().c_str(), 1);
  }

  // A new link object of the test's kind, not yet enabled.
  std::unique_ptr<TDevice> NewDevice() {
    if (Serial()) {
      auto device = std::make_unique<TCOMDevice>();
      device->Com().SetPortNumber(kComPort);
      device->Com().SetBaudRateAsInt(57600);
      return device;
    }
    auto device = std::make_unique<TSocketDevice>();
    device->SetIPAddress("127.0.0.1");
    device->SetTCPPort(FServer->Port());
    return device;
  }

  // A connection of the driver with font AFont, opened by the driver's own
  // sequence: enable, the print-settings byte, start of work, line length
  // of the font, the data format version.
  void Connect(int font = 0) {
    FHolder = std::make_unique<TDeviceDriver>();
    FHolder->FFontNumber = font;
    FHolder->SetDevice(NewDevice());
    ASSERT_EQ(ErrorOf([&] { FHolder->Open(); }), "") << "the connection does not open";
    FInitPrintSetting = FHolder->FInitPrintSetting;
  }

  TDevice& Dev() { return FHolder->Device(); }
  // The connection's settings, which its register object reads.
  TDeviceDriver& Holder() { return *FHolder; }
  TEmuRegister& Reg() { return *FRegister; }
  TEmuServer& Server() { return *FServer; }
  TManualClock& ClockRef() { return FClock; }
  std::string Tape() const { return FTape.str(); }

  // The driver's step that cancels a document left open (status, then 32).
  void CancelOpenDocument() {
    uint8_t fatal = 0, document = 0;
    uint16_t current = 0;
    Dev().GetECRStatus(fatal, current, document);
    if (document != 0) {
      Dev().WriteSettingTableByte(1, 0, FInitPrintSetting);
      Dev().CancelDocument();
      Dev().WriteSettingTableByte(1, 0, FInitPrintSetting);
    }
  }

  // An item as the receipt code sends it for the register's format.
  void SellItem(const std::string& name, double quantity, int64_t price, int taxCode,
                const std::string& productCode = "", const std::string& requisite = "") {
    const bool f12 = Dev().FFDVersion() == 3;
    Dev().AddRequisite(productCode, requisite, "", f12 ? "" : "0", "", "", "", "", "", "", "", "",
                       "", "", "", "", "", "");
    Dev().RegisterItem(name, "", 1, quantity, price, taxCode, 0, 4, 1, "", "", 0, 0);
  }
  // The buyer-data close with nothing but an address.
  void CloseReceipt(const std::string& address = "") {
    Dev().CloseDocument(address, "", "", "", "", "", "", "", "", "", "", "");
  }

  int FInitPrintSetting = 0;
  std::ostringstream FTape, FDiagnostics, FServerLog;

 private:
  TManualClock FClock;
  TScopedClock FScope;
  std::unique_ptr<TEmuRegister> FRegister;
  std::unique_ptr<TEmuServer> FServer;
  std::unique_ptr<TDeviceDriver> FHolder;
};

inline std::string EmuLinkName(const ::testing::TestParamInfo<TEmuLink>& info) {
  return info.param == TEmuLink::Tcp ? "Tcp" : "Serial";
}

#define EMU_DRIVER_LINKS(suite)                                                              \
  INSTANTIATE_TEST_SUITE_P(Links, suite, ::testing::Values(TEmuLink::Tcp, TEmuLink::Serial), \
                           EmuLinkName)
