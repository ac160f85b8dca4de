// Connects that fail, through the real library: the message the cashier
// reads and the log line the support desk reads name what was tried (the
// address and port, or the device and its port number) and why, in Russian.
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

class LinkMessageScenarioTest : public EmuHostBase {
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

TEST_F(LinkMessageScenarioTest, ARefusedConnectNamesAddressPortAndKindInResultAndLog) {
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

TEST_F(LinkMessageScenarioTest, AFileNamedAsThePortKeepsThePortOpeningMessage) {
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

}  // namespace
