// Fiscal documents: the TLV form the fiscal storage keeps, the fiscal sign,
// the shift totals a closed receipt adds to, and the printed receipt.
#include <algorithm>
#include <cstdio>
#include <numeric>

#include "common/uCommonUtils.h"
#include "emulator/register/uEmuRegister.h"
#include "emulator/register/uEmuSettingTables.h"
#include "emulator/wire/uEmuCodePage.h"

namespace {

// Tag 1199 (VAT rate) of each register tax code, and the rate's fraction.
constexpr int kRateTag[10] = {1, 2, 5, 6, 3, 4, 7, 8, 9, 10};
constexpr int kVatNum[10] = {20, 10, 0, 0, 20, 10, 5, 7, 5, 7};
constexpr int kVatDen[10] = {120, 110, 1, 1, 120, 110, 105, 107, 105, 107};
const char* const kRateName[10] = {"НДС 20%",    "НДС 10%", "НДС 0%", "БЕЗ НДС",   "НДС 20/120",
                                   "НДС 10/110", "НДС 5%",  "НДС 7%", "НДС 5/105", "НДС 7/107"};
const char* const kOperationName[4] = {"ПРИХОД", "ВОЗВРАТ ПРИХОДА", "РАСХОД", "ВОЗВРАТ РАСХОДА"};
// Taxation systems by their bit in tag 1055, as a receipt prints them.
const char* const kTaxSystemName[6] = {"ОСН",  "УСН ДОХОД", "УСН ДОХОД-РАСХОД",
                                       "ЕНВД", "ЕСХН",      "ПСН"};

std::string TaxSystemLine(int taxIndex) {
  return TEmuTape::TwoColumns(
      "СНО", taxIndex >= 0 && taxIndex < 6 ? kTaxSystemName[taxIndex] : std::to_string(taxIndex));
}

int64_t Vat(int taxCode, int64_t sum) {
  if (kVatNum[taxCode] == 0) return 0;
  const __int128 v = static_cast<__int128>(sum) * kVatNum[taxCode];
  return static_cast<int64_t>((v + kVatDen[taxCode] / 2) / kVatDen[taxCode]);
}

int OperationIndex(int docType) {
  switch (docType) {
    case edtSaleReturn:
      return 1;
    case edtPurchase:
      return 2;
    case edtPurchaseReturn:
      return 3;
    default:
      return 0;
  }
}

uint32_t Fnv1a(std::string_view bytes, uint32_t hash = 2166136261u) {
  for (char c : bytes) hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
  return hash;
}

std::string QuantityText(int64_t micro) {
  std::string s = std::to_string(micro / 1000000);
  int64_t frac = micro % 1000000;
  if (frac == 0) return s;
  char buf[8];
  std::snprintf(buf, sizeof buf, "%06lld", static_cast<long long>(frac));
  std::string f = buf;
  while (!f.empty() && f.back() == '0') f.pop_back();
  return s + "." + f;
}

// Tag of a product code sent with the item requisites ("@" and the code).
uint16_t ProductCodeTag(const std::string& code) {
  const bool digits =
      std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (digits && code.size() == 8) return 1301;
  if (digits && code.size() == 13) return 1302;
  if (digits && code.size() == 14) return 1303;
  return 1300;
}

}  // namespace

TEmuFnDocument& TEmuRegister::StoreDocument(int type, TEmuTlv body, int64_t time) {
  TEmuFnDocument doc;
  doc.Number = static_cast<int>(FState.FnDocuments.size()) + 1;
  doc.Type = type;
  doc.Time = time;
  body.U32(1040, static_cast<uint32_t>(doc.Number));
  // The storage's signature over the document, keyed by its serial number.
  const uint32_t key = Fnv1a(FState.Registration.FnSerial);
  doc.FiscalSign = Fnv1a(body.Bytes(), key);
  const uint32_t high = Fnv1a(std::to_string(doc.FiscalSign), key);
  std::string sign;
  sign.push_back(static_cast<char>(high >> 8));
  sign.push_back(static_cast<char>(high));
  for (int shift = 24; shift >= 0; shift -= 8)
    sign.push_back(static_cast<char>(doc.FiscalSign >> shift));
  body.Raw(1077, sign);
  doc.Tlv.Data = body.Bytes();
  FState.FnDocuments.push_back(std::move(doc));
  ++FState.Shift.Documents;
  if (FState.OfdOnline) FState.LastSentDocument = static_cast<int>(FState.FnDocuments.size());
  return FState.FnDocuments.back();
}

void TEmuRegister::AddHeader(TEmuTlv& tlv, const char* name, int64_t time,
                             const std::string& cashier) {
  const auto& reg = FState.Registration;
  std::string inn = reg.Inn;
  inn.resize(std::max<size_t>(inn.size(), 12), ' ');
  tlv.Str(1000, EmuUtf8ToOem(name));
  tlv.Time(1012, time);
  tlv.Str(1048,
          EmuUtf8ToOem(Trim(Table(EmuTable::Organisation, 0) + Table(EmuTable::Organisation, 1))));
  tlv.Str(1018, inn);
  tlv.Str(1037, reg.RegNumber);
  tlv.Str(1013, reg.KktSerial);
  tlv.Str(1041, reg.FnSerial);
  tlv.Str(1009,
          EmuUtf8ToOem(Trim(Table(EmuTable::Organisation, 2) + Table(EmuTable::Organisation, 3))));
  const std::string place = Table(EmuTable::SettlementPlace, 0);
  if (!place.empty()) tlv.Str(1187, EmuUtf8ToOem(place));
  tlv.Byte(1209, static_cast<uint8_t>(FfdCode()));
  // The driver sends "INN&name" when it knows the cashier's tax number.
  const size_t amp = cashier.find('&');
  std::string person = cashier, personInn;
  if (amp != std::string::npos) {
    personInn = Trim(cashier.substr(0, amp));
    person = cashier.substr(amp + 1);
  }
  if (!Trim(person).empty()) tlv.Str(1021, EmuUtf8ToOem(Trim(person)));
  if (!personInn.empty()) tlv.Str(1203, EmuUtf8ToOem(personInn));
}

namespace {

TEmuTlv ItemTlv(const TEmuItem& item, bool f12) {
  TEmuTlv t;
  t.Str(1030, EmuUtf8ToOem(item.Name));
  int64_t digits = item.Quantity;
  uint8_t decimals = 6;
  while (decimals > 0 && digits % 10 == 0) {
    digits /= 10;
    --decimals;
  }
  t.Fvln(1023, static_cast<uint64_t>(digits), decimals);
  // The unit price after discounts and margins.
  const __int128 full = static_cast<__int128>(item.Quantity) * item.Price;
  const int64_t undiscounted = static_cast<int64_t>((full + 500000) / 1000000);
  const int64_t unit =
      undiscounted == item.Sum
          ? item.Price
          : static_cast<int64_t>((static_cast<__int128>(item.Sum) * 1000000 + item.Quantity / 2) /
                                 item.Quantity);
  t.Vln(1079, static_cast<uint64_t>(unit));
  t.Vln(1043, static_cast<uint64_t>(item.Sum));
  t.Byte(1199, static_cast<uint8_t>(kRateTag[item.TaxCode]));
  if (kVatNum[item.TaxCode] != 0) t.Vln(1200, static_cast<uint64_t>(Vat(item.TaxCode, item.Sum)));
  t.Byte(1212, static_cast<uint8_t>(item.Subject));
  t.Byte(1214, static_cast<uint8_t>(item.Method));
  if (f12) t.Byte(2108, static_cast<uint8_t>(item.Measure < 0 ? 0 : item.Measure));
  if (item.Excise > 0) t.Vln(1229, static_cast<uint64_t>(item.Excise));
  const std::string product = EmuUtf8ToOem(item.ProductCode);
  if (f12) {
    TEmuTlv codes;
    if (!product.empty()) {
      // Codes that carry GS1 data come escaped like a marking code.
      const std::string code = UnescapeMarkingCode(product[0] == '@' ? product.substr(1) : product);
      if (!code.empty()) codes.Str(ProductCodeTag(code), code);
    }
    if (!item.MarkingCode.empty()) codes.Str(1305, EmuUtf8ToOem(item.MarkingCode));
    if (!codes.Empty()) t.Container(1163, codes);
    if (!item.MarkingCode.empty()) {
      t.Byte(2106, static_cast<uint8_t>(item.ValidationResult));
      t.Byte(2110, static_cast<uint8_t>(item.PlannedStatus));
    }
  } else if (!product.empty()) {
    t.Raw(1162, UnescapeMarkingCode(product));
  }
  t.Append(item.Extra.Data);
  return t;
}

}  // namespace

TEmuFnDocument& TEmuRegister::CloseReceipt(const TEmuBuyer& buyer) {
  RequireFiscalMode();
  RequireShiftOpen();
  if (Printing()) RequirePrinter();
  const bool f12 = Ffd12();
  auto& doc = FState.Document;
  const int op = OperationIndex(doc.Type);
  const int64_t total = ReceiptTotal();
  const int64_t paid = std::accumulate(doc.Payments.begin(), doc.Payments.end(), int64_t{0});
  const int64_t change = paid - total;
  const int64_t cashNet = doc.Payments[0] - change;
  const bool cashComesIn = op == 0 || op == 3;
  if (!cashComesIn && cashNet > FState.Cash)
    Refuse(EmuError::Negative, EmuExt::None, "not enough cash in the drawer");

  const int64_t now = NowSeconds();
  TEmuTlv t;
  AddHeader(t, doc.Correction ? "Кассовый чек коррекции" : "Кассовый чек", now, doc.Cashier);
  t.U32(1038, static_cast<uint32_t>(FState.Shift.Number));
  t.U32(1042, static_cast<uint32_t>(FState.Shift.Receipts + 1));
  t.Byte(1054, static_cast<uint8_t>(op + 1));
  t.Byte(1055, static_cast<uint8_t>(1 << doc.TaxIndex));
  if (doc.Correction) {
    t.Byte(1173, static_cast<uint8_t>(doc.CorrectionKind));
    TEmuTlv base;
    base.Time(1178, doc.CorrectionBaseDate);
    base.Str(1179, EmuUtf8ToOem(doc.CorrectionBaseNumber));
    t.Container(1174, base);
  }
  if (!buyer.Address.empty()) t.Str(1008, buyer.Address);
  if (f12) {
    TEmuTlv b;
    if (!buyer.Info.empty()) b.Str(1227, buyer.Info);
    if (!buyer.Inn.empty()) b.Str(1228, buyer.Inn);
    if (!buyer.DateOfBirth.empty()) b.Str(1243, buyer.DateOfBirth);
    if (!buyer.Citizenship.empty()) b.Str(1244, buyer.Citizenship);
    if (!buyer.DocumentCode.empty()) b.Str(1245, buyer.DocumentCode);
    if (!buyer.DocumentData.empty()) b.Str(1246, buyer.DocumentData);
    if (!buyer.PostalAddress.empty()) b.Str(1254, buyer.PostalAddress);
    if (!b.Empty()) t.Container(1256, b);
  } else {
    if (!buyer.Info.empty()) t.Str(1227, buyer.Info);
    if (!buyer.Inn.empty()) t.Str(1228, buyer.Inn);
  }
  if (!buyer.UserAttributeName.empty()) {
    TEmuTlv user;
    user.Str(1085, buyer.UserAttributeName).Str(1086, buyer.UserAttributeValue);
    t.Container(1084, user);
  }
  for (const auto& item : doc.Items) t.Container(1059, ItemTlv(item, f12));
  int64_t electronic = 0;
  for (int code = 1; code <= 12; ++code) electronic += doc.Payments[code];
  t.Vln(1020, static_cast<uint64_t>(total));
  t.Vln(1031, static_cast<uint64_t>(cashNet));
  t.Vln(1081, static_cast<uint64_t>(electronic));
  t.Vln(1215, static_cast<uint64_t>(doc.Payments[13]));
  t.Vln(1216, static_cast<uint64_t>(doc.Payments[14]));
  t.Vln(1217, static_cast<uint64_t>(doc.Payments[15]));
  std::vector<int64_t> rateSums(10, 0), rateVat(10, 0);
  std::vector<bool> rateUsed(10, false);
  for (const auto& item : doc.Items) {
    rateSums[item.TaxCode] += item.Sum;
    rateVat[item.TaxCode] += Vat(item.TaxCode, item.Sum);
    rateUsed[item.TaxCode] = true;
  }
  const int rateTags[6] = {1102, 1103, 1104, 1105, 1106, 1107};
  for (int code = 0; code < 6; ++code)
    if (rateUsed[code])
      t.Vln(static_cast<uint16_t>(rateTags[code]),
            static_cast<uint64_t>(code == 2 || code == 3 ? rateSums[code] : rateVat[code]));
  TEmuTlv industry, operation;
  for (const auto& tag : doc.Tags) {
    if (tag.Tag >= 1262 && tag.Tag <= 1265)
      industry.Raw(static_cast<uint16_t>(tag.Tag), tag.Value.Data);
    else if (tag.Tag >= 1271 && tag.Tag <= 1273)
      operation.Raw(static_cast<uint16_t>(tag.Tag), tag.Value.Data);
    else
      t.Raw(static_cast<uint16_t>(tag.Tag), tag.Value.Data);
  }
  if (!industry.Empty()) t.Container(1261, industry);
  if (!operation.Empty()) t.Container(1270, operation);
  const std::string email = Table(EmuTable::SenderEmail, 0);
  if (!email.empty()) t.Str(1117, EmuUtf8ToOem(email));
  t.Str(1060, EmuUtf8ToOem(Table(EmuTable::FnsSite, 0)));

  const TEmuFnDocument& fn = StoreDocument(doc.Correction ? efdCorrection : efdReceipt, t, now);

  auto& shift = FState.Shift;
  auto& totals = shift.Operations[op];
  ++totals.Receipts;
  totals.Total += total;
  for (int code = 0; code < 16; ++code) {
    const int64_t amount = code == 0 ? cashNet : doc.Payments[code];
    if (amount <= 0) continue;
    totals.Sums[code] += amount;
    ++totals.Counts[code];
  }
  for (const auto& item : doc.Items) totals.TaxSums[item.TaxCode] += item.Sum;
  FState.GrandTotals[op] += total;
  ++shift.Receipts;
  if (doc.Correction) ++shift.Corrections;
  shift.Discounts += doc.Discounts;
  shift.Margins += doc.Margins;
  FState.Cash += cashComesIn ? cashNet : -cashNet;
  FState.LastReceipt = {doc.Type,      shift.Receipts, fn.Number,    total,
                        doc.Discounts, doc.Margins,    fn.FiscalSign};
  auto& accepted = FState.Marking.Accepted;
  for (const auto& item : doc.Items)
    if (!item.MarkingCode.empty())
      std::erase_if(accepted,
                    [&](const TEmuAcceptedCode& a) { return a.Code == item.MarkingCode; });

  if (Printing())
    PrintReceipt(doc, buyer, &fn);
  else
    FTape.Line("[электронный чек: ФД " + std::to_string(fn.Number) + ", ФП " +
               std::to_string(fn.FiscalSign) + ", не печатается]");
  FState.Document = TEmuOpenDocument{};
  return FState.FnDocuments.back();
}

// Cash in and cash out are no fiscal documents in any data format the
// register speaks (1.05, 1.1, 1.2): none requires them in the fiscal storage,
// so they take no document number and no fiscal sign there. Only the shift's
// cash counters and the drawer know them.
void TEmuRegister::CloseCashDocument(bool cut) {
  RequireFiscalMode();
  RequireShiftOpen();
  if (Printing()) RequirePrinter();
  auto& doc = FState.Document;
  const bool in = doc.Type == edtCashIn;
  if (!in && doc.Encash > FState.Cash)
    Refuse(EmuError::Negative, EmuExt::None, "not enough cash in the drawer");
  const int64_t now = NowSeconds();
  FState.Cash += in ? doc.Encash : -doc.Encash;
  auto& shift = FState.Shift;
  (in ? shift.CashInCount : shift.CashOutCount) += 1;
  (in ? shift.CashInSum : shift.CashOutSum) += doc.Encash;
  if (Printing()) {
    const auto& reg = FState.Registration;
    PrintHeader(in ? "ВНЕСЕНИЕ" : "ИЗЪЯТИЕ");
    FTape.Lines(RenderLines(doc));
    FTape.Line(TEmuTape::TwoColumns("ИТОГ", "=" + MoneyText(doc.Encash)));
    FTape.Line(TEmuTape::TwoColumns("НАЛИЧНЫХ В КАССЕ", "=" + MoneyText(FState.Cash)));
    if (!Trim(doc.Cashier).empty()) FTape.Line("КАССИР " + doc.Cashier);
    FTape.Separator();
    FTape.Line(TEmuTape::TwoColumns("СМЕНА " + std::to_string(shift.Number), DateTimeText(now)));
    FTape.Line(TEmuTape::TwoColumns("ИНН " + reg.Inn, "РН ККТ " + reg.RegNumber));
    FTape.Line(TEmuTape::TwoColumns("ЗН ККТ " + reg.KktSerial, "ФН " + reg.FnSerial));
    if (cut) FTape.Cut();
  }
  FState.Document = TEmuOpenDocument{};
}

TEmuFnDocument& TEmuRegister::StoreLegacyCorrection(const TEmuArgs& args) {
  const int64_t cash = args.Money(1, EmuExt::PaymentSum);
  const int64_t electronic = args.Money(2, EmuExt::PaymentSum);
  const int64_t advance = args.Money(3, EmuExt::PaymentSum);
  const int64_t credit = args.Money(4, EmuExt::PaymentSum);
  const int64_t provision = args.Money(5, EmuExt::PaymentSum);
  const int kind = static_cast<int>(args.Int(6, 0, 255, EmuExt::CorrectionType));
  const int64_t baseDate = CivilToSeconds(args.DateAt(7, EmuExt::DateTime));
  const std::string baseNumber = args.Raw(8);
  int64_t taxes[6];
  for (int i = 0; i < 6; ++i) taxes[i] = args.Money(10 + static_cast<size_t>(i), EmuExt::None);
  const int64_t total = cash + electronic + advance + credit + provision;
  if (total == 0) Refuse(EmuError::WrongState, EmuExt::ZeroTotal, "zero correction");
  const int op = (kind & 0x02) ? 2 : 0;
  if (op == 2 && cash > FState.Cash)
    Refuse(EmuError::Negative, EmuExt::None, "not enough cash in the drawer");
  if (Printing()) RequirePrinter();

  const int64_t now = NowSeconds();
  const std::string cashier = args.Text(0, 64, EmuExt::None);
  TEmuTlv t;
  AddHeader(t, "Кассовый чек коррекции", now, cashier);
  t.U32(1038, static_cast<uint32_t>(FState.Shift.Number));
  t.U32(1042, static_cast<uint32_t>(FState.Shift.Receipts + 1));
  t.Byte(1054, static_cast<uint8_t>(op + 1));
  t.Byte(1055, static_cast<uint8_t>(1 << ((kind >> 2) & 0x07)));
  t.Byte(1173, static_cast<uint8_t>(kind & 0x01));
  TEmuTlv base;
  base.Time(1178, baseDate).Str(1179, baseNumber);
  t.Container(1174, base);
  t.Vln(1020, static_cast<uint64_t>(total));
  t.Vln(1031, static_cast<uint64_t>(cash));
  t.Vln(1081, static_cast<uint64_t>(electronic));
  t.Vln(1215, static_cast<uint64_t>(advance));
  t.Vln(1216, static_cast<uint64_t>(credit));
  t.Vln(1217, static_cast<uint64_t>(provision));
  const int taxTags[6] = {1102, 1103, 1104, 1105, 1106, 1107};
  for (int i = 0; i < 6; ++i)
    if (taxes[i] > 0) t.Vln(static_cast<uint16_t>(taxTags[i]), static_cast<uint64_t>(taxes[i]));
  const TEmuFnDocument& fn = StoreDocument(efdCorrection, t, now);

  auto& shift = FState.Shift;
  auto& totals = shift.Operations[op];
  ++totals.Receipts;
  totals.Total += total;
  const std::pair<int, int64_t> byCode[] = {
      {0, cash}, {1, electronic}, {13, advance}, {14, credit}, {15, provision}};
  for (const auto& [code, amount] : byCode) {
    if (amount <= 0) continue;
    totals.Sums[code] += amount;
    ++totals.Counts[code];
  }
  FState.GrandTotals[op] += total;
  ++shift.Receipts;
  ++shift.Corrections;
  FState.Cash += op == 0 ? cash : -cash;
  FState.LastReceipt = {
      op == 0 ? edtSale : edtPurchase, shift.Receipts, fn.Number, total, 0, 0, fn.FiscalSign};
  if (Printing()) {
    PrintHeader("КАССОВЫЙ ЧЕК КОРРЕКЦИИ");
    FTape.Line(TEmuTape::Center(kOperationName[op]));
    FTape.Line(TEmuTape::TwoColumns("ИТОГ", "=" + MoneyText(total)));
    if (cash) FTape.Line(TEmuTape::TwoColumns("НАЛИЧНЫМИ", "=" + MoneyText(cash)));
    if (electronic) FTape.Line(TEmuTape::TwoColumns("БЕЗНАЛИЧНЫМИ", "=" + MoneyText(electronic)));
    FTape.Line(TaxSystemLine((kind >> 2) & 0x07));
    PrintFiscalFooter(fn, true);
  }
  return FState.FnDocuments.back();
}

// ---- printing ----

void TEmuRegister::PrintHeader(const char* title) {
  FTape.Separator('=');
  FTape.Line(
      TEmuTape::Center(Trim(Table(EmuTable::Organisation, 0) + Table(EmuTable::Organisation, 1))));
  FTape.Line(
      TEmuTape::Center(Trim(Table(EmuTable::Organisation, 2) + Table(EmuTable::Organisation, 3))));
  const std::string place = Table(EmuTable::SettlementPlace, 0);
  if (!place.empty()) FTape.Line(TEmuTape::Center(place));
  FTape.Line(TEmuTape::Center(title));
}

void TEmuRegister::PrintFiscalFooter(const TEmuFnDocument& doc, bool cut) {
  const auto& reg = FState.Registration;
  FTape.Separator();
  FTape.Line(
      TEmuTape::TwoColumns("СМЕНА " + std::to_string(FState.Shift.Number), DateTimeText(doc.Time)));
  FTape.Line(TEmuTape::TwoColumns("ИНН " + reg.Inn, "РН ККТ " + reg.RegNumber));
  FTape.Line(TEmuTape::TwoColumns("ЗН ККТ " + reg.KktSerial, "ФН " + reg.FnSerial));
  FTape.Line(TEmuTape::TwoColumns("ФД " + std::to_string(doc.Number),
                                  "ФП " + std::to_string(doc.FiscalSign)));
  FTape.Line("САЙТ ФНС: " + Table(EmuTable::FnsSite, 0));
  if (cut) FTape.Cut();
}

std::vector<std::string> TEmuRegister::RenderLines(const TEmuOpenDocument& doc) const {
  std::vector<std::string> out;
  const std::string itemMarker = kItemLineMarker;
  for (const auto& line : doc.Lines) {
    if (line == kCutLineMarker) {
      out.push_back("- - - - - - - - - - - - ✂ - - - - - - - - - - - -");
    } else if (line.compare(0, itemMarker.size(), itemMarker) == 0) {
      int64_t index = -1;
      if (!TryStrToInt64(line.substr(itemMarker.size()), index) || index < 0 ||
          index >= static_cast<int64_t>(doc.Items.size()))
        continue;
      const TEmuItem& item = doc.Items[static_cast<size_t>(index)];
      out.push_back(std::to_string(index + 1) + ". " + item.Name);
      out.push_back(
          TEmuTape::TwoColumns("   " + QuantityText(item.Quantity) + " x " + MoneyText(item.Price),
                               "=" + MoneyText(item.Sum)));
      out.push_back("   " + std::string(kRateName[item.TaxCode]) +
                    (item.MarkingCode.empty() ? "" : "   [М+]"));
    } else {
      out.push_back(line);
    }
  }
  return out;
}

void TEmuRegister::PrintReceipt(const TEmuOpenDocument& doc, const TEmuBuyer& buyer,
                                const TEmuFnDocument* fn) {
  const int op = OperationIndex(doc.Type);
  PrintHeader(doc.Correction ? "КАССОВЫЙ ЧЕК КОРРЕКЦИИ" : "КАССОВЫЙ ЧЕК");
  FTape.Line(TEmuTape::Center(kOperationName[op]));
  FTape.Lines(RenderLines(doc));
  FTape.Separator();
  int64_t total = 0;
  for (const auto& item : doc.Items) total += item.Sum;
  FTape.Line(TEmuTape::TwoColumns("ИТОГ", "=" + MoneyText(total)));
  const int64_t paid = std::accumulate(doc.Payments.begin(), doc.Payments.end(), int64_t{0});
  int64_t electronic = 0;
  for (int code = 1; code <= 12; ++code) electronic += doc.Payments[code];
  const std::pair<const char*, int64_t> payments[] = {
      {"НАЛИЧНЫМИ", doc.Payments[0]},
      {"БЕЗНАЛИЧНЫМИ", electronic},
      {"ПРЕДВАРИТЕЛЬНАЯ ОПЛАТА (АВАНС)", doc.Payments[13]},
      {"ПОСЛЕДУЮЩАЯ ОПЛАТА (КРЕДИТ)", doc.Payments[14]},
      {"ИНАЯ ФОРМА ОПЛАТЫ", doc.Payments[15]}};
  for (const auto& [name, amount] : payments)
    if (amount > 0) FTape.Line(TEmuTape::TwoColumns(name, "=" + MoneyText(amount)));
  if (paid > total) FTape.Line(TEmuTape::TwoColumns("СДАЧА", "=" + MoneyText(paid - total)));
  std::vector<int64_t> vat(10, 0);
  std::vector<bool> used(10, false);
  for (const auto& item : doc.Items) {
    vat[item.TaxCode] += Vat(item.TaxCode, item.Sum);
    used[item.TaxCode] = true;
  }
  for (int code = 0; code < 10; ++code)
    if (used[code] && kVatNum[code] != 0)
      FTape.Line(TEmuTape::TwoColumns(std::string("СУММА ") + kRateName[code],
                                      "=" + MoneyText(vat[code])));
  FTape.Line(TaxSystemLine(doc.TaxIndex));
  if (!Trim(doc.Cashier).empty()) FTape.Line("КАССИР " + doc.Cashier);
  if (!buyer.Address.empty()) FTape.Line("ЭЛ. АДР. ПОКУПАТЕЛЯ " + EmuOemToUtf8(buyer.Address));
  if (fn != nullptr) {
    PrintFiscalFooter(*fn, buyer.Cut);
  } else {
    FTape.Line(TEmuTape::Center("*** КОПИЯ ***"));
    if (buyer.Cut) FTape.Cut();
  }
}

// A stored document in readable form, for its printed copy.
std::vector<std::string> TEmuRegister::DescribeDocument(const TEmuFnDocument& doc) const {
  std::vector<std::string> out;
  out.push_back(TEmuTape::Center("КОПИЯ ДОКУМЕНТА ФД " + std::to_string(doc.Number)));
  const auto describe = [&](auto&& self, std::string_view bytes,
                            const std::string& indent) -> void {
    std::vector<TEmuTlvRecord> records;
    if (!SplitTlv(bytes, records)) return;
    for (const auto& r : records) {
      static const uint16_t kContainers[] = {1059, 1084, 1163, 1174, 1223,
                                             1224, 1256, 1260, 1261, 1270};
      static const uint16_t kNumbers[] = {
          1001, 1002, 1038, 1040, 1042, 1054, 1055, 1056, 1057, 1062, 1097, 1108, 1109, 1110, 1111,
          1116, 1118, 1173, 1193, 1199, 1207, 1209, 1212, 1214, 1221, 1222, 1271, 2106, 2108, 2110};
      static const uint16_t kMoney[] = {1020, 1031, 1043, 1079, 1081, 1102, 1103, 1104,
                                        1105, 1106, 1107, 1200, 1215, 1216, 1217, 1229};
      const auto in = [&](const auto& list) {
        return std::find(std::begin(list), std::end(list), r.Tag) != std::end(list);
      };
      const std::string head = indent + std::to_string(r.Tag) + ": ";
      uint64_t number = 0;
      for (size_t i = r.Value.size(); i-- > 0;)
        number = number << 8 | static_cast<uint8_t>(r.Value[i]);
      if (in(kContainers)) {
        out.push_back(indent + std::to_string(r.Tag) + ":");
        self(self, r.Value, indent + "  ");
      } else if (in(kMoney)) {
        out.push_back(head + MoneyText(static_cast<int64_t>(number)));
      } else if (r.Tag == 1012 || r.Tag == 1178) {
        out.push_back(head + DateTimeText(static_cast<int64_t>(number)));
      } else if (r.Tag == 1077) {
        out.push_back(head + std::to_string(doc.FiscalSign));
      } else if (r.Tag == 1023 && !r.Value.empty()) {
        uint64_t digits = 0;
        for (size_t i = r.Value.size(); i-- > 1;)
          digits = digits << 8 | static_cast<uint8_t>(r.Value[i]);
        int64_t micro = static_cast<int64_t>(digits);
        for (int d = static_cast<uint8_t>(r.Value[0]); d < 6; ++d) micro *= 10;
        out.push_back(head + QuantityText(micro));
      } else if (in(kNumbers)) {
        out.push_back(head + std::to_string(number));
      } else {
        std::string text = EmuOemToUtf8(r.Value);
        for (char& c : text)
          if (static_cast<unsigned char>(c) < 0x20) c = ' ';
        out.push_back(head + text);
      }
    }
  };
  describe(describe, doc.Tlv.Data, "");
  return out;
}
