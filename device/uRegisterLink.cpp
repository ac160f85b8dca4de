#include "device/uRegisterLink.h"

#include <algorithm>
#include <cstring>

#include "common/Common.Log.h"
#include "common/uCommonUtils.h"
#include "device/uEquipmentErrors.h"

char* TLinkInput::Space(size_t AMax) {
  if (FBegin == FEnd) {
    FBegin = FEnd = 0;
  } else if (FBegin > 0 && FBuffer.size() - FEnd < AMax) {
    std::memmove(FBuffer.data(), FBuffer.data() + FBegin, FEnd - FBegin);
    FEnd -= FBegin;
    FBegin = 0;
  }
  if (FBuffer.size() - FEnd < AMax) FBuffer.resize(FEnd + AMax);
  return FBuffer.data() + FEnd;
}

void TLinkInput::Commit(size_t ACount) {
  FEnd = std::min(FEnd + ACount, FBuffer.size());
}

std::string TRegisterLink::Message(const TLinkStatus& AStatus) const {
  if (AStatus.Fault == TLinkFault::lfProtocol) return std::string(EquMessages::ProtocolError);
  if (AStatus.Fault == TLinkFault::lfChecksum) return std::string(EquMessages::ChecksumError);
  return FailureText(AStatus);
}

void LogLinkBytes(std::string_view ASource, std::string_view AArrow, std::string_view ABytes,
                  bool ASucceeded) {
  WriteLogDump(ASource, AArrow, ABytes, ASucceeded ? llInfo : llError);
}
