// Two driver objects in one process, each with its own register, driven from
// two threads at once (as two workplaces of one server process do): neither
// sees the other's connection, results or errors, and the shared day log
// holds whole lines only, from the connection whose log is on.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <pugixml.hpp>

#include "fiscal/EmuHostFixture.h"

namespace {

constexpr int kSales = 15;

struct TWorkplace {
  TEmuBench* Bench;
  THostLink Link;
  bool Logged;
  int Price;  // each sells at its own price, so a receipt shows whose it is
  std::vector<std::string> Failures;
  std::string Id;  // the connection's device identifier
};

void Sell(TWorkplace& AWork, TTestHost& host);

// One workplace: its own driver object (host), connection and sales.
void Work(TWorkplace& AWork) {
  auto fail = [&](const std::string& AWhat) { AWork.Failures.push_back(AWhat); };
  TTestHost host;
  Sell(AWork, host);
  if (host.Memory.Live() != 0 || host.Memory.BadFrees() != 0) fail("host memory");
}

void Sell(TWorkplace& AWork, TTestHost& host) {
  auto fail = [&](const std::string& AWhat) { AWork.Failures.push_back(AWhat); };
  TCallResult connect = host.Call(
      "ConnectEquipment",
      {THostArg::Empty(), THostArg::Empty(),
       AWork.Bench->Parameters(AWork.Link, {{"LogEnabled", AWork.Logged ? "true" : "false"}})});
  if (!connect.Bool()) return fail("connect");
  const std::string id = connect.ParamText(0);
  AWork.Id = id;
  const std::string sale =
      "<CheckPackage><Parameters CashierName=\"Кассир\" OperationType=\"1\"/><Positions>"
      "<FiscalString Name=\"Товар\" Quantity=\"1\" PriceWithDiscount=\"" +
      std::to_string(AWork.Price) + "\" VATRate=\"20\"/></Positions><Payments Cash=\"" +
      std::to_string(AWork.Price) + "\"/></CheckPackage>";
  for (int i = 0; i < kSales; ++i) {
    TCallResult r = host.Call("ProcessCheck", {id, false, sale, THostArg::Empty()});
    if (!r.Bool()) {
      TCallResult e = host.Call("GetLastError", {THostArg::Empty()});
      return fail("sale " + std::to_string(i) + ": " + e.ParamText(0));
    }
    pugi::xml_document out;
    out.load_string(r.ParamText(3).c_str());
    const int number =
        out.child("DocumentOutputParameters").child("Parameters").attribute("CheckNumber").as_int();
    if (number != AWork.Bench->Reg().LastDocumentNumber())
      fail("sale " + std::to_string(i) + " answered document " + std::to_string(number));
    // A call that fails on this object leaves its error here only.
    if (host.Call("OpenShift", {id, "<InputParameters/>", THostArg::Empty()}).Bool())
      fail("an open shift opened again");
    TCallResult e = host.Call("GetLastError", {THostArg::Empty()});
    if (e.ParamText(0) != "Смена открыта") fail("error of this object: " + e.ParamText(0));
  }
  if (!host.Call("DisconnectEquipment", {id}).Bool()) fail("disconnect");
}

// A log line is a time stamp, a level and text, or part of the start and
// stop blocks.
bool WholeLine(const std::string& ALine) {
  static const std::regex stamped(
      R"(\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d\.\d{3}\t(INFO|DEBUG|ERROR)\t[^\t].*)");
  static const std::regex block(
      R"( *|=+(Start|Stop) log=+|(OS version|Application|App\. version):\t.+)");
  return std::regex_match(ALine, stamped) || std::regex_match(ALine, block);
}

TEST(ConcurrencyScenarioTest, DriverObjectsOnThreadsOfTheirOwnKeepApart) {
  setenv("QUARNEL_TEST_SKIP_WAITS", "1", 1);
  TTempDataDir dataDir;
  // Two connections log, one does not.
  TEmuBench tcpA("1.2", 45), tcpB("1.05", 46), pty("1.2", 47);
  TWorkplace works[3] = {{&tcpA, THostLink::Tcp, true, 11, {}, {}},
                         {&tcpB, THostLink::Tcp, true, 13, {}, {}},
                         {&pty, THostLink::Serial, false, 17, {}, {}}};
  std::vector<std::thread> threads;
  for (TWorkplace& w : works) {
    w.Bench->OpenShift();
    threads.emplace_back([&w] { Work(w); });
  }
  for (std::thread& t : threads) t.join();

  for (const TWorkplace& w : works) {
    EXPECT_TRUE(w.Failures.empty()) << "price " << w.Price << ": " << w.Failures.front();
    EXPECT_EQ(w.Bench->Calls("42").size(), size_t(kSales)) << "price " << w.Price;
    for (const TEmuCall& item : w.Bench->Calls("42"))
      EXPECT_EQ(item.Args.at(3), std::to_string(w.Price)) << "a sale reached another register";
  }

  const std::string log = dataDir.ReadLogs();
  std::istringstream lines(log);
  int serial = 0, broken = 0;
  int traced[3] = {0, 0, 0};
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!WholeLine(line) && ++broken <= 3) ADD_FAILURE() << "not a whole log line: " << line;
    serial += line.find("\tTCOMDevice: \t") != std::string::npos;
    for (int i = 0; i < 3; ++i)
      traced[i] += !works[i].Id.empty() &&
                   line.find("> ProcessCheck: \tParams: [" + works[i].Id) != std::string::npos;
  }
  EXPECT_EQ(broken, 0);
  EXPECT_EQ(traced[0], kSales) << "every sale of a logged connection is traced";
  EXPECT_EQ(traced[1], kSales);
  EXPECT_EQ(traced[2], 0) << "the connection without a log was traced";
  EXPECT_EQ(serial, 0) << "the connection without a log wrote its bytes";
}

}  // namespace
