// TMarkingCodes: the outcomes of a connection's marking-code checks, by the
// escaped code (TDevice::SetMarkingCode). The marking methods record each
// check and the cashier's answer; a receipt looks a code up before it sells
// it and binds it through here; a sold code is forgotten, since the register
// binds a check to one sale.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "device/uKMResult.h"

class TDevice;

class TMarkingCodes {
 public:
  // The outcome of the latest check of AEscapedCode, or null when the code
  // was never checked, or was sold or dropped since.
  const TKMResult* Find(std::string_view AEscapedCode) const;
  // AResult in place of what an earlier check of the code left: the bind
  // carries what the register answered last, and a new check needs the
  // cashier's answer again.
  void Record(std::string_view AEscapedCode, const TKMResult& AResult);
  // The cashier's answer to the latest check of a code; nothing for a code
  // with no outcome.
  void SetAccepted(std::string_view AEscapedCode, bool AAccepted);
  void Forget(std::string_view AEscapedCode);
  void Clear() { FKMListResult.clear(); }

  // Binds a checked code to the register's next item with its recorded
  // planned status and validation result. A code without an outcome raises
  // before anything is sent.
  void Bind(TDevice& ADevice, std::string_view AEscapedCode, int AMeasureOfQuantity) const;

 private:
  std::map<std::string, TKMResult, std::less<>> FKMListResult;
};
