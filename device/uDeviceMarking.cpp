// Marking codes on the register (command 79): the escaped code form, the
// check with the marking service, acceptance, clearing the register's code
// table and binding a checked code to a receipt item.
#include <cmath>
#include <exception>
#include <stdexcept>

#include "device/uDevice.h"
#include "device/uDeviceFormat.h"
#include "resources/uResources.h"

using namespace DeviceFormat;

namespace {

// The serial link's message when the register's answer does not start within
// the command's time limit. For a code check that means the marking service
// behind the register did not answer in time.
constexpr std::string_view kReadTimedOut = "Ошибка при чтении данных";

// Sub-commands of command 79.
constexpr int kAcceptCode = 2;
constexpr int kClearCodes = 3;
constexpr int kBindCode = 15;

// Goods sold by weight or volume may be checked for a fraction of a package.
bool IsMeasuredStatus(int APlannedStatus) {
  return APlannedStatus == 2 || APlannedStatus == 4;
}

// Nearest whole number, a half to the even neighbour, whatever rounding mode
// the host process left behind.
double RoundHalfEven(double AValue) {
  const double floor = std::floor(AValue);
  const double rest = AValue - floor;
  if (rest > 0.5) return floor + 1;
  if (rest < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

// Quantity and measure fields of a check. Measured goods carry a real
// quantity or a fraction of a package; piece goods a whole number of pieces.
void QuantityFields(int APlannedStatus, double AQuantity, int AMeasureOfQuantity, int ANumerator,
                    int ADenominator, std::string& AQuantityText, std::string& AMeasureText) {
  if (IsMeasuredStatus(APlannedStatus)) {
    if (ANumerator > 0 && ANumerator < ADenominator && AMeasureOfQuantity == 0)
      AQuantityText = Int(ANumerator) + "/" + Int(ADenominator);
    else
      AQuantityText = TDevice::FloatToDevice(AQuantity);
    AMeasureText = Int(AMeasureOfQuantity);
    return;
  }
  AQuantityText = AQuantity > 0 ? TDevice::FloatToDevice(RoundHalfEven(AQuantity)) : "0";
  AMeasureText = AMeasureOfQuantity >= 1 ? Int(AMeasureOfQuantity) : "0";
}

}  // namespace

std::string TDevice::SetMarkingCode(std::string_view ACode) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(ACode.size());
  for (char c : ACode) {
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x20) {
      escaped += '$';
      escaped += kHex[b >> 4];
      escaped += kHex[b & 0x0F];
    } else {
      escaped += c;
    }
  }
  return escaped;
}

void TDevice::CheckMarkingCode(int ARequestNum, std::string_view AMarkingCode, int APlannedStatus,
                               double AQuantity, int AMeasureOfQuantity, int ANumerator,
                               int ADenominator, TKMResult& AKMResult) {
  AKMResult = TKMResult{};
  AKMResult.PlannedStatus = APlannedStatus;
  std::string quantity, measure;
  QuantityFields(APlannedStatus, AQuantity, AMeasureOfQuantity, ANumerator, ADenominator, quantity,
                 measure);
  try {
    Run("79",
        {Int(ARequestNum), AsIs(AMarkingCode), "0", Int(APlannedStatus), quantity, measure, "0"},
        cMarkingCheckTimeout);
  } catch (const std::exception& e) {
    AKMResult.RequestStatus = 2;
    if (std::string_view(e.what()).find(kReadTimedOut) != std::string_view::npos)
      throw std::runtime_error(ResString("MarkingServiceNoAnswer"));
    throw;
  }
  AKMResult.MarkingValidationResult = static_cast<int32_t>(GetDataAsInteger(1));
  AKMResult.LocalValidationResult = static_cast<int32_t>(GetDataAsInteger(2));
  AKMResult.ProcessingResult = static_cast<int32_t>(GetDataAsInteger(3));
  AKMResult.ProcessingCode = static_cast<int32_t>(GetDataAsInteger(4));
  AKMResult.StatusInfo = static_cast<int32_t>(GetDataAsInteger(5));
  AKMResult.RequestStatus = 0;
}

void TDevice::AcceptMarkingCode(bool AIsAccepted) {
  Run("79", {Int(kAcceptCode), AIsAccepted ? "1" : "0"});
}

void TDevice::ClearBufferKM() {
  Run("79", {Int(kClearCodes)});
}

void TDevice::BindMarkingCode(std::string_view AMarkingCode, const TKMResult& AChecked,
                              int AMeasureOfQuantity) {
  const TKMResult& checked = AChecked;
  Run("79", {Int(kBindCode), AsIs(AMarkingCode), Int(checked.PlannedStatus), "0",
             Int(checked.MarkingValidationResult),
             AMeasureOfQuantity >= 0 ? Int(AMeasureOfQuantity) : std::string{}});
}
