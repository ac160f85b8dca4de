#include "transport/uCOMDevice.h"

#include <cerrno>
#include <chrono>
#include <string>

#include "common/uClock.h"
#include "common/uCommonUtils.h"
#include "device/uEquipmentErrors.h"
#include "transport/uLinkLog.h"

namespace {
constexpr std::string_view kSource = "TCOMDevice";
}  // namespace

TCOMDevice::TCOMDevice() : FCom(std::make_unique<TCOM>()) {}

TCOMDevice::~TCOMDevice() {
  TCOMDevice::Disable();
}

void TCOMDevice::RaisePortError() const {
  RaiseError(FCom->ExtResultDescription());
}

void TCOMDevice::Enable() {
  FCom->Close();
  if (!FCom->Open()) {
    int error = FCom->LastSystemError();
    // A missing device: the path does not exist, or nothing answers behind it.
    if (error == ENOENT || error == ENODEV || error == ENXIO ||
        LowerCase(FCom->ExtResultDescription()).find("файл") != std::string::npos)
      RaiseError(EquMessages::DeviceNotConnected);
    RaisePortError();
  }
  CheckConnection();
}

void TCOMDevice::Disable() {
  TDevice::Disable();
  if (FCom && FCom->Opened()) FCom->Close();
}

void TCOMDevice::CheckConnection() {
  const std::string enq(1, ENQ);
  bool written = false;
  bool read = false;
  for (int attempt = 0; attempt < cProbeAttempts; ++attempt) {
    if (attempt > 0) Clock().Sleep(std::chrono::milliseconds(cProbePauseMs));
    written = FCom->WriteChar(static_cast<uint8_t>(ENQ));
    LogLinkBytes(kSource, "-> ", enq, written);
    read = false;
    if (!written) continue;
    uint8_t answer = 0;
    read = FCom->ReadChar(answer);
    LogLinkBytes(kSource, "<- ", read ? std::string(1, char(answer)) : std::string(), read);
    if (read && answer == uint8_t(ACK)) return;
  }
  if (written && read) RaiseError(EquMessages::ProtocolError);
  RaisePortError();
}

void TCOMDevice::RunCommand(std::string_view ACmd, const TDeviceArgs& AData, int ATimeout) {
  FCommand = std::string(ACmd.substr(0, 2));
  std::string answer;
  FCom->Purge(true);  // stale bytes of an earlier exchange; a failure shows at the write
  const std::string frame = BuildPacket(ACmd, AData);

  uint8_t first = 0;
  const uint32_t firstByteLimit = ATimeout > 0 ? uint32_t(ATimeout) : 0;
  for (int attempt = 0; attempt < cSendAttempts; ++attempt) {
    if (attempt > 0) Clock().Sleep(std::chrono::milliseconds(cResendPauseMs));
    bool written = FCom->WriteStr(frame, 0);
    LogLinkBytes(kSource, "-> ", frame, written);
    if (!written) RaisePortError();
    bool read = FCom->ReadChar(first, firstByteLimit);
    LogLinkBytes(kSource, "<- ", read ? std::string(1, char(first)) : std::string(), read);
    if (!read) RaisePortError();
    if (first == uint8_t(STX)) break;
  }
  if (first != uint8_t(STX)) RaiseError(EquMessages::ProtocolError);

  for (;;) {
    uint8_t next = 0;
    if (!FCom->ReadChar(next)) {
      LogLinkBytes(kSource, "<- ", answer, false);
      RaisePortError();
    }
    answer.push_back(char(next));
    if (next == uint8_t(ETX)) break;
    if (answer.size() >= cMaxAnswerSize) {
      LogLinkBytes(kSource, "<- ", answer, false);
      RaiseError(EquMessages::ProtocolError);
    }
  }
  LogLinkBytes(kSource, "<- ", answer, true);

  std::string checksum;
  bool read = FCom->ReadString(2, checksum);
  LogLinkBytes(kSource, "<- ", checksum, read);
  if (!read) RaisePortError();
  CheckAnswer(answer, checksum);
}
