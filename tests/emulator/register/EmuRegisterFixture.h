// Shared fixture: a virtual register on a manual clock, driven command by
// command as the driver drives it, with a small independent TLV reader.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/uClock.h"
#include "common/uCommonUtils.h"
#include "emulator/register/uEmuRegister.h"

// One decoded record; containers keep their children.
struct TTestTlv {
  uint16_t Tag = 0;
  std::string Value;
  std::vector<TTestTlv> Children;
};

// Reads a TLV sequence the way the fiscal data format lays it out. Returns
// false on a truncated record. Containers are the tags the test names.
inline bool ReadTestTlv(const std::string& bytes, std::vector<TTestTlv>& out) {
  size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.size() - at < 4) return false;
    const auto u = [&](size_t i) { return static_cast<unsigned>(static_cast<uint8_t>(bytes[i])); };
    TTestTlv r;
    r.Tag = static_cast<uint16_t>(u(at) + 256 * u(at + 1));
    const size_t len = u(at + 2) + 256 * u(at + 3);
    if (bytes.size() - at - 4 < len) return false;
    r.Value = bytes.substr(at + 4, len);
    if (r.Tag == 1059 || r.Tag == 1163 || r.Tag == 1174 || r.Tag == 1256 || r.Tag == 1084 ||
        r.Tag == 1223 || r.Tag == 1224 || r.Tag == 1260 || r.Tag == 1261 || r.Tag == 1270) {
      if (!ReadTestTlv(r.Value, r.Children)) return false;
    }
    out.push_back(std::move(r));
    at += 4 + len;
  }
  return true;
}

inline uint64_t LittleEndianValue(const std::string& v) {
  uint64_t x = 0;
  for (size_t i = v.size(); i-- > 0;) x = x * 256 + static_cast<uint8_t>(v[i]);
  return x;
}

inline const TTestTlv* FindTag(const std::vector<TTestTlv>& records, uint16_t tag) {
  for (const auto& r : records)
    if (r.Tag == tag) return &r;
  return nullptr;
}

class EmuRegisterTest : public ::testing::Test {
 protected:
  EmuRegisterTest() : FScope(FClock) {}

  // Options for the register; tests adjust them before the first Reg() call.
  TEmuRegisterOptions Options;
  std::ostringstream Tape;

  TEmuRegister& Reg() {
    if (!FRegister) {
      if (Options.Tape == nullptr) Options.Tape = &Tape;
      FRegister = std::make_unique<TEmuRegister>(Options);
    }
    return *FRegister;
  }
  void Restart() {
    FRegister.reset();
    Reg();
  }
  TManualClock& ClockRef() { return FClock; }

  // Texts are given in UTF-8 and sent in the register's code page.
  TEmuAnswer Run(const std::string& cmd, const std::vector<std::string>& args = {}) {
    std::vector<std::string> oem;
    for (const auto& a : args) oem.push_back(Utf8ToOem(a));
    return Reg().Execute(cmd, oem);
  }
  void Ok(const std::string& cmd, const std::vector<std::string>& args = {}) {
    const TEmuAnswer a = Run(cmd, args);
    ASSERT_EQ(a.Error, 0) << "command " << cmd << " was refused, extended code "
                          << Reg().LastExtendedError();
  }
  // The command is refused with `error`; command 06 then reports `ext`.
  void Refused(const std::string& cmd, const std::vector<std::string>& args, uint8_t error,
               int ext) {
    const TEmuAnswer a = Run(cmd, args);
    EXPECT_EQ(a.Error, error) << "command " << cmd << " got the wrong error byte";
    const TEmuAnswer e = Run("06", {"1"});
    ASSERT_EQ(e.Error, 0);
    ASSERT_EQ(e.Fields.size(), 2u);
    EXPECT_EQ(e.Fields[1], std::to_string(ext)) << "command " << cmd << ": extended code";
  }
  std::string Field(const std::string& cmd, const std::vector<std::string>& args, size_t i) {
    const TEmuAnswer a = Run(cmd, args);
    EXPECT_EQ(a.Error, 0) << "command " << cmd;
    return i < a.Fields.size() ? OemToUtf8(a.Fields[i]) : std::string("<missing>");
  }

  // The driver's own argument lists for the common steps.
  void OpenShift() { Ok("23", {"Иванов"}); }
  void OpenReceipt(int type = 2, const std::string& cashier = "Иванов") {
    Ok("30", {std::to_string(type), "1", cashier, "1", "255"});
  }
  void Item(const std::string& name, const std::string& qty, const std::string& price,
            const std::string& tax = "0") {
    if (Reg().Ffd() == "1.2")
      Ok("42", {name, "", qty, price, tax, "", "1", "", "", "", "4", "1", "", "", "0"});
    else
      Ok("42", {name, "", qty, price, tax, "", "1", "", "", "", "4", "1"});
  }
  void Pay(int code, const std::string& amount) { Ok("47", {std::to_string(code), amount, ""}); }
  void Close() {
    if (Reg().Ffd() == "1.2")
      Ok("31", {"0", "", "0", "", "", "", "", "", "", "", "", "", "", "", ""});
    else
      Ok("31", {"0", "", "0", "", "", "", "", "", "", ""});
  }
  // Reads a stored document back with 78/15 and 78/16, record by record.
  std::string ReadDocument(int number, int* type = nullptr) {
    const TEmuAnswer start = Run("78", {"15", std::to_string(number), "0"});
    EXPECT_EQ(start.Error, 0);
    if (start.Error != 0 || start.Fields.size() < 3) return {};
    if (type) *type = std::stoi(start.Fields[1]);
    const size_t length = std::stoul(start.Fields[2]);
    std::string bytes;
    for (int guard = 0; bytes.size() < length && guard < 1000; ++guard) {
      const TEmuAnswer rec = Run("78", {"16", "0", "0"});
      EXPECT_EQ(rec.Error, 0);
      if (rec.Error != 0 || rec.Fields.empty()) break;
      bytes += HexToBytes(rec.Fields[0]);
    }
    EXPECT_EQ(bytes.size(), length);
    return bytes;
  }

 private:
  TManualClock FClock;
  TScopedClock FScope;
  std::unique_ptr<TEmuRegister> FRegister;
};
