// Refusals through the real library: the message the cashier reads and the
// log line the support desk reads name what was tried (the address and port,
// the device and its port number, the parameter, the XML document) and why,
// in Russian.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "fiscal/EmuHostFixture.h"

namespace {

// A loopback port on which nothing listens.
int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

class RefusalMessageScenarioTest : public EmuHostBase {
 protected:
  // Connects with the log on and answers the error the host reads.
  std::string FailedConnect(const std::string& AParameters) {
    const std::string settings = "<Parameters><Parameter Name=\"LogEnabled\" Value=\"true\"/>" +
                                 AParameters + "</Parameters>";
    TCallResult r = Host.Call("ConnectEquipment", {THostArg::Empty(), THostArg::Empty(), settings});
    EXPECT_FALSE(r.Bool());
    return LastError().Text;
  }
  static std::string Parameter(const std::string& AName, const std::string& AValue) {
    return "<Parameter Name=\"" + AName + "\" Value=\"" + AValue + "\"/>";
  }
};

TEST_F(RefusalMessageScenarioTest, ARefusedConnectNamesAddressPortAndKindInResultAndLog) {
  const std::string port = std::to_string(ClosedPort());
  const std::string text =
      FailedConnect(Parameter("PortNumber", "9999") + Parameter("IPAddress", "127.0.0.1") +
                    Parameter("IPPort", port));
  EXPECT_EQ(text, "Ошибка при установлении подключения к ФР 127.0.0.1:" + port +
                      ": в подключении отказано: на этом порту никто не принимает подключения "
                      "(проверьте IP-порт и что касса включена)");
  const std::string log = DataDir.ReadLogs();
  EXPECT_NE(log.find("\tERROR\tTSocketDevice: \t" + text), std::string::npos) << log;
  EXPECT_NE(log.find("\tERROR\tException: \t" + text), std::string::npos) << log;
}

TEST_F(RefusalMessageScenarioTest, AFileNamedAsThePortKeepsThePortOpeningMessage) {
  const std::string file = DataDir.Path() + "/not-a-port";
  std::ofstream(file) << "x";
  ::setenv("QUARNEL_COM5", file.c_str(), 1);
  const std::string text = FailedConnect(Parameter("PortNumber", "5"));
  ::unsetenv("QUARNEL_COM5");
  EXPECT_EQ(text, "Ошибка открытия порта. " + file +
                      " (COM5, переменная QUARNEL_COM5): устройство не является "
                      "последовательным портом (" +
                      std::generic_category().message(ENOTTY) + ")");
  const std::string log = DataDir.ReadLogs();
  EXPECT_NE(log.find("\tERROR\tException: \t" + text), std::string::npos) << log;
}

// 0 is what a document without the parameter gives; neither it nor a number
// the parameter page does not offer may open a device nobody chose.
TEST_F(RefusalMessageScenarioTest, APortNumberOutsideItsRangeIsRefusedNamingTheParameter) {
  const std::string range = "; допустимы номера от 1 до 128 (порты COM1–COM128) и 9999 (TCP/IP)";
  for (const char* number : {"0", "129", "9998", "-1"})
    EXPECT_EQ(
        FailedConnect(Parameter("PortNumber", number)),
        std::string("Недопустимое значение параметра подключения PortNumber: ") + number + range);
  EXPECT_EQ(FailedConnect(""), "Недопустимое значение параметра подключения PortNumber: 0" + range);
  const std::string log = DataDir.ReadLogs();
  EXPECT_EQ(log.find("TCOMDevice"), std::string::npos) << "no port was tried:\n" << log;
}

TEST_F(RefusalMessageScenarioTest, AnXmlDocumentThatDoesNotParseIsNamedWithThePlace) {
  TCallResult connect = Host.Call("ConnectEquipment", {THostArg::Empty(), THostArg::Empty(), ""});
  EXPECT_FALSE(connect.Bool());
  EXPECT_EQ(LastError().Text,
            "Ошибка разбора XML (параметры подключения): документ пуст: нет ни одного элемента, "
            "строка 1, позиция 1");
  const std::string id = ConnectTo(Bench(), THostLink::Tcp);
  const THostError e =
      Failure("ProcessCheck",
              {id, false, "<CheckPackage>\n<Positions>\n</CheckPackage>", THostArg::Empty()});
  EXPECT_EQ(e.Code, 1001);
  EXPECT_EQ(e.Text,
            "Ошибка разбора XML (пакет чека): закрывающий тег не соответствует открывающему, "
            "строка 3, позиция 3");
}

// The ends of the range open the devices they name.
class PortNumberRangeScenarioTest : public EmuHostTest {};

TEST_P(PortNumberRangeScenarioTest, TheLastComPortConnects) {
  ::setenv("QUARNEL_COM128", Bench().Server().PtyPath().c_str(), 1);
  const std::string id = Connect({{"PortNumber", "128"}});
  ::unsetenv("QUARNEL_COM128");
  EXPECT_EQ(id.size(), 36u);
}

INSTANTIATE_TEST_SUITE_P(Links, PortNumberRangeScenarioTest, ::testing::Values(THostLink::Serial),
                         HostLinkName);

}  // namespace
