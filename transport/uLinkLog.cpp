#include "transport/uLinkLog.h"

#include <string>

#include "common/Common.Log.h"
#include "common/uCommonUtils.h"

void LogLinkBytes(std::string_view ASource, std::string_view AArrow, std::string_view ABytes,
                  bool ASucceeded) {
  std::string text(AArrow);
  text += BytesToHex(ABytes, " ");
  WriteLog(ASource, text, ASucceeded ? llInfo : llError);
}
