#include "fiscal/uMarkingCodes.h"

#include <stdexcept>

#include "device/uDevice.h"
#include "resources/uResources.h"

const TKMResult* TMarkingCodes::Find(std::string_view AEscapedCode) const {
  const auto found = FKMListResult.find(AEscapedCode);
  return found == FKMListResult.end() ? nullptr : &found->second;
}

void TMarkingCodes::Record(std::string_view AEscapedCode, const TKMResult& AResult) {
  FKMListResult.insert_or_assign(std::string(AEscapedCode), AResult);
}

void TMarkingCodes::SetAccepted(std::string_view AEscapedCode, bool AAccepted) {
  if (const auto found = FKMListResult.find(AEscapedCode); found != FKMListResult.end())
    found->second.Accepted = AAccepted;
}

void TMarkingCodes::Forget(std::string_view AEscapedCode) {
  if (const auto found = FKMListResult.find(AEscapedCode); found != FKMListResult.end())
    FKMListResult.erase(found);
}

void TMarkingCodes::Bind(TDevice& ADevice, std::string_view AEscapedCode,
                         int AMeasureOfQuantity) const {
  const TKMResult* checked = Find(AEscapedCode);
  if (checked == nullptr)
    throw std::runtime_error(ResFormat("MarkingCodeNotChecked", {AEscapedCode}));
  ADevice.BindMarkingCode(AEscapedCode, *checked, AMeasureOfQuantity);
}
