// Marking codes (command 79): check a code with the marking service, accept or
// reject the checked code, clear the register's code table, and bind an
// accepted code to the next receipt position.
#include <algorithm>

#include "common/uCommonUtils.h"
#include "emulator/register/uEmuRegister.h"
#include "emulator/wire/uEmuCodePage.h"

namespace {

constexpr size_t kMaxCodeLength = 256;

// The code (raw bytes kept as UTF-8 of the register's code page, like every
// text of the state), or a refusal when it cannot be a marking code.
std::string CodeArgument(const TEmuArgs& args, size_t i) {
  const std::string& escaped = args.Raw(i);
  if (escaped.size() > kMaxCodeLength * 3)
    Refuse(EmuError::BadParameter, EmuExt::MarkingType, "marking code too long");
  std::string raw = UnescapeMarkingCode(escaped);
  if (raw.empty() || raw.size() > kMaxCodeLength)
    Refuse(EmuError::BadParameter, EmuExt::MarkingType, "marking code empty or too long");
  return EmuOemToUtf8(raw);
}

// Quantity of a check: a number, or numerator/denominator of a fraction.
void CheckQuantity(const std::string& text, bool measured) {
  const size_t slash = text.find('/');
  if (slash != std::string::npos) {
    int64_t n = 0, d = 0;
    if (!measured || !TryStrToInt64(text.substr(0, slash), n) ||
        !TryStrToInt64(text.substr(slash + 1), d) || n <= 0 || d <= n)
      Refuse(EmuError::BadParameter, EmuExt::Quantity, "bad fractional quantity");
    return;
  }
  double value = 0;
  if (!ParseDecimal(text, value) || value < 0 || value > 99999.999)
    Refuse(EmuError::BadParameter, EmuExt::Quantity, "bad quantity");
}

}  // namespace

TEmuAnswer TEmuRegister::CmdMarking(const TEmuArgs& args) {
  if (args.Count() < 1) Refuse(EmuError::BadParameter, EmuExt::None, "no sub-command");
  const int64_t sub = args.Int(0, 0, 255, EmuExt::RequestNumber);
  if (!Ffd12()) Refuse(EmuError::WrongState, EmuExt::Ffd12Only, "marking codes need format 1.2");
  auto& marking = FState.Marking;
  switch (sub) {
    case 1: {
      args.ExpectCount({7});
      const std::string code = CodeArgument(args, 1);
      args.Int(2, 0, 255, EmuExt::None);
      const int planned = static_cast<int>(args.Int(3, 1, 255, EmuExt::None));
      if (planned > 4 && planned != 255)
        Refuse(EmuError::BadParameter, EmuExt::None, "unknown planned status");
      CheckQuantity(args.Raw(4), planned == 2 || planned == 4);
      args.Int(5, 0, 255, EmuExt::Quantity);
      args.Int(6, 0, 255, EmuExt::None);
      if (marking.Pending)
        Refuse(EmuError::MarkingSequence, EmuExt::None, "previous code not yet accepted");
      const auto found = FMarkingOutcomes.find(EmuUtf8ToOem(code));
      const TEmuMarkingOutcome& outcome =
          found != FMarkingOutcomes.end() ? found->second : FMarkingDefault;
      if (outcome.Error != 0) Refuse(outcome.Error, outcome.Ext, "marking check failed");
      marking.Pending = true;
      marking.PendingCode = code;
      marking.PendingPlannedStatus = planned;
      marking.PendingValidation = outcome.ValidationResult;
      return {0,
              {"1", NumText(outcome.ValidationResult), NumText(outcome.LocalValidationResult),
               NumText(outcome.ProcessingResult), NumText(outcome.ProcessingCode),
               NumText(outcome.StatusInfo)}};
    }
    case 2: {
      args.ExpectCount({2});
      const bool accept = args.Int(1, 0, 1, EmuExt::None) == 1;
      if (!marking.Pending)
        Refuse(EmuError::MarkingSequence, EmuExt::None, "no checked code awaits acceptance");
      // The cashier's latest answer on a code stands: a rejected re-check
      // withdraws an earlier acceptance.
      auto& list = marking.Accepted;
      std::erase_if(list, [&](const TEmuAcceptedCode& a) { return a.Code == marking.PendingCode; });
      if (accept) {
        if (list.size() >= kMaxAcceptedCodes)
          Refuse(EmuError::MarkingTableFull, EmuExt::None, "code table full");
        list.push_back(
            {marking.PendingCode, marking.PendingPlannedStatus, marking.PendingValidation});
      }
      marking.Pending = false;
      marking.PendingCode.clear();
      return {0, {"2"}};
    }
    case 3:
      args.ExpectCount({1});
      marking = TEmuMarkingState{};
      FState.Document.BoundCode.clear();
      return {0, {"3"}};
    case 15: {
      args.ExpectCount({6});
      const std::string code = CodeArgument(args, 1);
      const int planned = static_cast<int>(args.Int(2, 1, 255, EmuExt::None));
      args.Int(3, 0, 255, EmuExt::None);
      const int validation = static_cast<int>(args.Int(4, 0, 255, EmuExt::None));
      args.IntOr(5, -1, 0, 255, EmuExt::Quantity);
      auto& doc = RequireReceipt(1);
      const auto accepted = std::find_if(marking.Accepted.begin(), marking.Accepted.end(),
                                         [&](const TEmuAcceptedCode& a) { return a.Code == code; });
      if (accepted == marking.Accepted.end())
        Refuse(EmuError::MarkingUnchecked, EmuExt::None, "code was not checked and accepted");
      // The storage binds the code as it checked it last: with that check's
      // planned status and answer.
      const bool recheck = marking.Pending && marking.PendingCode == code;
      const int lastPlanned = recheck ? marking.PendingPlannedStatus : accepted->PlannedStatus;
      const int lastValidation = recheck ? marking.PendingValidation : accepted->ValidationResult;
      if (planned != lastPlanned || validation != lastValidation)
        Refuse(EmuError::MarkingUnchecked, EmuExt::None,
               "bound with another planned status or result than its last check");
      const bool alreadySold =
          std::any_of(doc.Items.begin(), doc.Items.end(),
                      [&](const TEmuItem& item) { return item.MarkingCode == code; });
      if (!doc.BoundCode.empty() || alreadySold)
        Refuse(EmuError::MarkingSequence, EmuExt::None, "code already bound");
      doc.BoundCode = code;
      doc.BoundPlannedStatus = planned;
      doc.BoundValidation = validation;
      return {0, {"15"}};
    }
    default:
      Refuse(EmuError::BadParameter, EmuExt::RequestNumber, "unknown marking sub-command");
  }
}
