// Requests to the fiscal storage (command 78): its identity, state, the last
// document, the data operator backlog, and reading stored documents back
// record by record.
#include "common/uCommonUtils.h"
#include "emulator/register/uEmuRegister.h"

TEmuAnswer TEmuRegister::CmdFnInfo(const TEmuArgs& args) {
  args.ExpectCount({1, 2, 3});
  const int64_t request = args.Int(0, 0, 255, EmuExt::RequestNumber);
  const int64_t offset = args.IntOr(1, 0, 0, 0x7FFFFFFF, EmuExt::None);
  args.IntOr(2, 0, 0, 0xFFFF, EmuExt::None);
  const std::string echo = NumText(request);
  const auto& reg = FState.Registration;
  const int last = static_cast<int>(FState.FnDocuments.size());
  const auto document = [&](int64_t number) -> const TEmuFnDocument& {
    if (number < 1 || number > last) Refuse(EmuError::FnNoData, EmuExt::None, "no such document");
    return FState.FnDocuments[static_cast<size_t>(number - 1)];
  };
  switch (request) {
    case 1:
      return {0, {echo, reg.FnSerial}};
    case 2: {
      // Life phase: 1 ready for registration, 3 fiscal mode, 7 archive closed.
      const int phase = reg.ArchiveClosed ? 7 : reg.Registered ? 3 : 1;
      return {0, {echo, NumText(phase)}};
    }
    case 3:
      return {0, {echo, NumText(last)}};
    case 4: {
      if (!reg.Registered) return {0, {echo, "000000", "000000"}};
      const TDateTime t = SecondsToCivil(reg.Time);
      return {0, {echo, DateText(t), TimeText(t)}};
    }
    case 5:
      return {0, {echo, NumText(reg.Registered ? reg.DocumentNumber : 0)}};
    case 6:
      return {0,
              {echo, FState.Shift.Open ? "1" : "0", NumText(FState.Shift.Number),
               NumText(FState.Shift.Receipts)}};
    case 7: {
      const int first = FirstUnsent();
      if (first == 0) return {0, {echo, NumText(FState.FnWarnings), "0", "0", "000000", "000000"}};
      const TDateTime t = SecondsToCivil(FState.FnDocuments[static_cast<size_t>(first - 1)].Time);
      return {0,
              {echo, NumText(FState.FnWarnings), NumText(last - FState.LastSentDocument),
               NumText(first), DateText(t), TimeText(t)}};
    }
    case 11: {
      // Year - 2000, month, day, hour, minute, number (4 bytes LE), sign (4 bytes LE).
      const TEmuFnDocument& doc = document(offset);
      const TDateTime t = SecondsToCivil(doc.Time);
      std::string bytes;
      for (int v : {t.Year - 2000, t.Month, t.Day, t.Hour, t.Minute})
        bytes.push_back(static_cast<char>(v));
      for (uint32_t v : {static_cast<uint32_t>(doc.Number), doc.FiscalSign})
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>(v >> shift));
      return {0, {echo, BytesToHex(bytes)}};
    }
    case 14:
      // Versions: the register's highest, the storage's highest, the one in
      // use, reserved, the storage's one in use (2 = 1.05, 3 = 1.1, 4 = 1.2).
      return {0, {echo, "4", "4", NumText(FfdCode()), "0", NumText(FfdCode())}};
    case 15: {
      const TEmuFnDocument& doc = document(offset);
      FReadDocument = doc.Number;
      FReadRecord = 0;
      return {0, {echo, NumText(doc.Type), NumText(static_cast<int64_t>(doc.Tlv.Data.size()))}};
    }
    case 16: {
      if (FReadDocument < 1 || FReadDocument > last)
        Refuse(EmuError::FnNoData, EmuExt::None, "no document being read");
      std::vector<TEmuTlvRecord> records;
      if (!SplitTlv(FState.FnDocuments[static_cast<size_t>(FReadDocument - 1)].Tlv.Data, records))
        Refuse(EmuError::Fatal, EmuExt::None, "stored document damaged");
      if (FReadRecord >= records.size()) {
        FReadDocument = 0;
        Refuse(EmuError::FnNoData, EmuExt::None, "document read to its end");
      }
      return {0, {BytesToHex(records[FReadRecord++].Whole)}};
    }
    default:
      Refuse(EmuError::BadParameter, EmuExt::RequestNumber, "unknown storage request");
  }
}
