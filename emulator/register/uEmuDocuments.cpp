// Documents on the register: opening, positions with their requisites,
// discounts, payments, printed lines, cancel and close.
#include <algorithm>
#include <numeric>

#include "common/uCommonUtils.h"
#include "emulator/register/uEmuRegister.h"
#include "emulator/wire/uEmuCodePage.h"

namespace {

// The kind of settlement a receipt of this document type records.
const char* SettlementName(int type) {
  switch (type) {
    case edtSaleReturn:
      return "ВОЗВРАТ ПРИХОДА";
    case edtPurchase:
      return "РАСХОД";
    case edtPurchaseReturn:
      return "ВОЗВРАТ РАСХОДА";
    default:
      return "ПРИХОД";
  }
}

constexpr int64_t kMaxSum = 10000000000;  // 100 000 000.00 in kopecks

bool IsFiscalReceipt(int type) {
  return type == edtSale || type == edtSaleReturn || type == edtPurchase ||
         type == edtPurchaseReturn;
}

// User text for the tape: control characters would break the markers.
std::string Printable(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return text;
}

int64_t RoundDiv(__int128 value, int64_t divisor) {
  const __int128 half = divisor / 2;
  return static_cast<int64_t>(value >= 0 ? (value + half) / divisor : (value - half) / divisor);
}

// Ends the frame argument check of a text that goes into the fiscal storage.
std::string Bytes(const TEmuArgs& args, size_t i, size_t maxLen, int ext) {
  args.Text(i, maxLen, ext);
  return args.Raw(i);
}

}  // namespace

// ---- shared ----

void TEmuRegister::PrintLine(const std::string& utf8) {
  auto& doc = FState.Document;
  if (doc.Type != edtNone) {
    if (doc.Lines.size() >= kMaxDocumentLines)
      Refuse(EmuError::BadParameter, EmuExt::ExtraText, "document too long");
    doc.Lines.push_back(utf8);
    return;
  }
  if (!Printing()) return;
  RequirePrinter();
  if (utf8 == kCutLineMarker)
    FTape.Cut();
  else
    FTape.Line(utf8);
}

TEmuOpenDocument& TEmuRegister::RequireReceipt(int maxState) {
  auto& doc = FState.Document;
  if (doc.Type == edtNone)
    Refuse(EmuError::WrongState, EmuExt::DocumentNotOpen, "no document open");
  if (!IsFiscalReceipt(doc.Type))
    Refuse(EmuError::WrongState, EmuExt::NotSaleOrReturn, "the open document is not a receipt");
  if (doc.State > maxState) {
    const int ext = maxState == 1   ? EmuExt::DocState1
                    : maxState == 2 ? EmuExt::DocState12
                                    : EmuExt::DocState123;
    Refuse(EmuError::WrongState, ext, "document state does not allow this");
  }
  return doc;
}

int64_t TEmuRegister::ReceiptTotal() const {
  int64_t total = 0;
  for (const auto& item : FState.Document.Items) total += item.Sum;
  return total;
}

// ---- opening ----

TEmuAnswer TEmuRegister::CmdOpenDocument(const TEmuArgs& args) {
  args.ExpectCount({5});
  const int type = static_cast<int>(args.Int(0, 1, 7, EmuExt::DocType));
  args.Int(1, 0, 99, EmuExt::Department);
  const std::string cashier = args.Text(2, 64, EmuExt::None);
  args.Int(3, 0, 99999999, EmuExt::DocNumber);
  const int64_t taxVariant = args.Int(4, 0, 255, EmuExt::TaxSystem);
  RequireNoDocument();
  int taxIndex = 0;
  if (type != edtService) {
    RequireFiscalMode();
    RequireShiftOpen();
  }
  if (IsFiscalReceipt(type)) {
    const int systems = FState.Registration.TaxSystems;
    if (taxVariant == 255) {  // not given: the first registered system
      while (taxIndex < 5 && (systems & (1 << taxIndex)) == 0) ++taxIndex;
    } else if (taxVariant > 5 || (systems & (1 << taxVariant)) == 0) {
      Refuse(EmuError::BadParameter, EmuExt::TaxSystem, "taxation system not registered");
    } else {
      taxIndex = static_cast<int>(taxVariant);
    }
  }
  TEmuOpenDocument doc;
  doc.Type = type;
  doc.State = 1;
  doc.TaxIndex = taxIndex;
  doc.OpenedAt = NowSeconds();
  doc.Cashier = cashier;
  FState.Document = std::move(doc);
  return {};
}

TEmuAnswer TEmuRegister::CmdReceiptCopy(const TEmuArgs& args) {
  args.ExpectCount({7});
  const int type = static_cast<int>(args.Int(0, 2, 3, EmuExt::DocType));
  args.Int(1, 1, 99, EmuExt::Department);
  const std::string cashier = args.Text(2, 64, EmuExt::None);
  const int64_t receipt = args.Int(3, 0, 99999999, EmuExt::DocNumber);
  const int64_t register_ = args.Int(4, 1, 9999, EmuExt::None);
  const TDateTime when = args.DateTimeAt(5, EmuExt::DateTime);
  RequireNoDocument();
  TEmuOpenDocument doc;
  doc.Type = type;
  doc.State = 1;
  doc.Copy = true;
  doc.OpenedAt = NowSeconds();
  doc.Cashier = cashier;
  doc.Lines.push_back(TEmuTape::Center("КОПИЯ ЧЕКА № " + std::to_string(receipt)));
  doc.Lines.push_back(TEmuTape::Center("ККМ " + std::to_string(register_) + " " + DateText(when) +
                                       " " + TimeText(when)));
  FState.Document = std::move(doc);
  return {};
}

TEmuAnswer TEmuRegister::CmdCorrection(const TEmuArgs& args) {
  args.ExpectCount({Ffd12() ? size_t{9} : size_t{16}});
  const std::string cashier = args.Text(0, 64, EmuExt::None);
  const int kind = static_cast<int>(args.Int(6, 0, 255, EmuExt::CorrectionType));
  args.DateAt(7, EmuExt::DateTime);
  args.Text(8, 32, EmuExt::CorrectionNumber);
  const int taxIndex = (kind >> 2) & 0x07;
  if (taxIndex > 5 || (FState.Registration.TaxSystems & (1 << taxIndex)) == 0 || (kind & 0x80))
    Refuse(EmuError::BadParameter, EmuExt::TaxSystem, "taxation system not registered");
  if (Ffd12() && (kind & 0x20))
    Refuse(EmuError::BadParameter, EmuExt::CorrectionType, "correction type of older formats");
  if (!Ffd12() && (kind & 0x40))
    Refuse(EmuError::BadParameter, EmuExt::CorrectionType, "returns cannot be corrected here");
  RequireFiscalMode();
  RequireShiftOpen();
  RequireNoDocument();
  if (!Ffd12()) {
    StoreLegacyCorrection(args);
    return {0, {std::to_string(FState.FnDocuments.size())}};
  }
  TEmuOpenDocument doc;
  const bool purchase = kind & 0x02, refund = kind & 0x40;
  doc.Type =
      purchase ? (refund ? edtPurchaseReturn : edtPurchase) : (refund ? edtSaleReturn : edtSale);
  doc.State = 1;
  doc.Correction = true;
  doc.TaxIndex = taxIndex;
  doc.OpenedAt = NowSeconds();
  doc.Cashier = cashier;
  doc.CorrectionKind = kind & 0x01;
  doc.CorrectionBaseDate = CivilToSeconds(args.DateAt(7, EmuExt::DateTime));
  doc.CorrectionBaseNumber = args.Text(8, 32, EmuExt::CorrectionNumber);
  FState.Document = std::move(doc);
  return {};
}

// ---- positions ----

TEmuAnswer TEmuRegister::CmdRequisites(const TEmuArgs& args) {
  const bool f12 = Ffd12();
  args.ExpectCount({f12 ? size_t{18} : size_t{14}});
  const size_t phone1 = f12 ? 40 : 19, phone2 = f12 ? 60 : 19;
  const std::string code = Bytes(args, 0, 256, EmuExt::ProductCode);
  const std::string requisite = Bytes(args, 1, 64, EmuExt::ExtraText);
  const std::string unit = f12 ? std::string() : Bytes(args, 2, 16, EmuExt::ExtraText);
  const int64_t agent = args.IntOr(3, -1, 0, 127, EmuExt::AgentSign);
  const std::string vendorInn = Bytes(args, 4, 12, EmuExt::None);
  const std::string vendorPhone = Bytes(args, 5, phone1, EmuExt::Phone);
  const std::string vendorName = Bytes(args, 6, 256, EmuExt::None);
  const std::string acqAddress = Bytes(args, 7, 256, EmuExt::None);
  const std::string acqInn = Bytes(args, 8, 12, EmuExt::None);
  const std::string acqName = Bytes(args, 9, 64, EmuExt::None);
  const std::string acqPhone = Bytes(args, 10, phone1, EmuExt::Phone);
  const std::string agentOperation = Bytes(args, 11, 24, EmuExt::None);
  const std::string agentPhone = Bytes(args, 12, phone2, EmuExt::Phone);
  const std::string processorPhone = Bytes(args, 13, phone2, EmuExt::Phone);
  std::string foiv, docDate, docNumber, attrValue;
  if (f12) {
    foiv = Bytes(args, 14, 3, EmuExt::None);
    docDate = Bytes(args, 15, 10, EmuExt::None);
    docNumber = Bytes(args, 16, 32, EmuExt::None);
    attrValue = Bytes(args, 17, 256, EmuExt::None);
  }
  auto& doc = RequireReceipt(1);

  TEmuTlv extra;
  if (!requisite.empty()) extra.Str(1191, requisite);
  if (!unit.empty()) extra.Str(1197, unit);
  if (agent > 0) extra.Byte(1222, static_cast<uint8_t>(agent));  // 0: no agent
  TEmuTlv agentData;
  if (!agentOperation.empty()) agentData.Str(1044, agentOperation);
  if (!agentPhone.empty()) agentData.Str(1073, agentPhone);
  if (!processorPhone.empty()) agentData.Str(1074, processorPhone);
  if (!acqName.empty()) agentData.Str(1026, acqName);
  if (!acqAddress.empty()) agentData.Str(1005, acqAddress);
  if (!acqInn.empty()) agentData.Str(1016, acqInn);
  if (!acqPhone.empty()) agentData.Str(1075, acqPhone);
  if (!agentData.Empty()) extra.Container(1223, agentData);
  TEmuTlv vendor;
  if (!vendorPhone.empty()) vendor.Str(1171, vendorPhone);
  if (!vendorName.empty()) vendor.Str(1225, vendorName);
  if (!vendor.Empty()) extra.Container(1224, vendor);
  if (!vendorInn.empty()) extra.Str(1226, vendorInn);
  TEmuTlv industry;
  if (!foiv.empty()) industry.Str(1262, foiv);
  if (!docDate.empty()) industry.Str(1263, docDate);
  if (!docNumber.empty()) industry.Str(1264, docNumber);
  if (!attrValue.empty()) industry.Str(1265, attrValue);
  if (!industry.Empty()) extra.Container(1260, industry);

  doc.HasPending = true;
  doc.PendingProductCode = EmuOemToUtf8(code);
  doc.PendingExtra.Data = extra.Bytes();
  return {};
}

TEmuAnswer TEmuRegister::CmdItem(const TEmuArgs& args) {
  const bool f12 = Ffd12();
  args.ExpectCount({10, f12 ? size_t{15} : size_t{12}});
  TEmuItem item;
  // The command takes 256 characters; the stored name (tag 1030) holds 128.
  args.Text(0, 256, EmuExt::ItemName);
  item.Name = EmuOemToUtf8(args.Raw(0).substr(0, 128));
  if (Trim(item.Name).empty()) Refuse(EmuError::BadParameter, EmuExt::ItemName, "empty name");
  args.Text(1, 18, EmuExt::Article);
  item.Quantity = args.Quantity(2, EmuExt::Quantity);
  item.Price = args.Money(3, EmuExt::Price);
  item.TaxCode = static_cast<int>(args.Int(4, 0, f12 ? 9 : 5, EmuExt::TaxCode));
  if (args.Count() == 10) {
    item.Department = 0;
  } else {
    item.Department = static_cast<int>(args.IntOr(6, 0, 0, 99, EmuExt::Section));
    const int64_t method = args.IntOr(10, 0, 0, 7, EmuExt::PaymentMethod);
    const int64_t subject = args.IntOr(11, 0, 0, 33, EmuExt::PaymentSubject);
    // Zero means "not given": full payment for goods.
    item.Method = method == 0 ? 4 : static_cast<int>(method);
    item.Subject = subject == 0 ? 1 : static_cast<int>(subject);
    if (args.Count() == 15) {
      item.Measure = static_cast<int>(args.IntOr(8, -1, 0, 255, EmuExt::Quantity));
      double excise = 0;
      if (!args.Empty(14) && (!ParseDecimal(args.Raw(14), excise) || excise < 0 || excise > 1e12))
        Refuse(EmuError::BadParameter, EmuExt::None, "bad excise amount");
      item.Excise = static_cast<int64_t>(excise * 100.0 + 0.5);
    }
  }
  const __int128 product = static_cast<__int128>(item.Quantity) * item.Price;
  item.Sum = RoundDiv(product, 1000000);
  if (item.Sum > kMaxSum) Refuse(EmuError::BadParameter, EmuExt::Price, "position sum too large");
  auto& doc = RequireReceipt(1);
  if (doc.Items.size() >= kMaxItems)
    Refuse(EmuError::BadParameter, EmuExt::Position, "too many positions");
  if (ReceiptTotal() + item.Sum > kMaxSum)
    Refuse(EmuError::BadParameter, EmuExt::Price, "receipt total too large");
  if (doc.Lines.size() >= kMaxDocumentLines)
    Refuse(EmuError::BadParameter, EmuExt::ExtraText, "document too long");
  if (doc.HasPending) {
    item.ProductCode = doc.PendingProductCode;
    item.Extra = doc.PendingExtra;
  }
  if (!doc.BoundCode.empty()) {
    item.MarkingCode = doc.BoundCode;
    item.PlannedStatus = doc.BoundPlannedStatus;
    item.ValidationResult = doc.BoundValidation;
  }
  doc.HasPending = false;
  doc.PendingProductCode.clear();
  doc.PendingExtra.Data.clear();
  doc.BoundCode.clear();
  doc.Lines.push_back(kItemLineMarker + std::to_string(doc.Items.size()));
  doc.Items.push_back(std::move(item));
  return {};
}

TEmuAnswer TEmuRegister::CmdSubtotal(const TEmuArgs& args) {
  args.ExpectCount({0});
  auto& doc = RequireReceipt(2);
  doc.State = 2;
  return {0, {MoneyText(ReceiptTotal())}};
}

void TEmuRegister::ApplyDiscount(int64_t amount, bool margin, const std::string& name,
                                 bool wholeReceipt) {
  auto& doc = FState.Document;
  if (doc.Items.empty()) Refuse(EmuError::BadParameter, EmuExt::Position, "no positions");
  const int64_t total = ReceiptTotal();
  std::vector<int64_t> shares(doc.Items.size(), 0);
  if (!wholeReceipt) {
    shares.back() = amount;
  } else {
    if (doc.ReceiptDiscount)
      Refuse(EmuError::WrongState, EmuExt::OneDiscountOnly, "one receipt discount only");
    if (total == 0) Refuse(EmuError::BadParameter, EmuExt::DiscountSum, "nothing to discount");
    int64_t given = 0;
    for (size_t i = 0; i < shares.size(); ++i) {
      shares[i] = static_cast<int64_t>(static_cast<__int128>(amount) * doc.Items[i].Sum / total);
      given += shares[i];
    }
    // Kopecks left by the rounding go to positions that still have room.
    for (size_t i = 0; given < amount && i < shares.size(); ++i) {
      const int64_t room = margin ? amount : doc.Items[i].Sum - shares[i];
      const int64_t add = std::min(room, amount - given);
      shares[i] += add;
      given += add;
    }
  }
  for (size_t i = 0; i < shares.size(); ++i) {
    if (!margin && shares[i] > doc.Items[i].Sum)
      Refuse(EmuError::BadParameter, EmuExt::DiscountSum, "discount above the position sum");
    if (margin && doc.Items[i].Sum + shares[i] > kMaxSum)
      Refuse(EmuError::BadParameter, EmuExt::DiscountSum, "margin too large");
  }
  if (doc.Lines.size() >= kMaxDocumentLines)
    Refuse(EmuError::BadParameter, EmuExt::ExtraText, "document too long");
  for (size_t i = 0; i < shares.size(); ++i) doc.Items[i].Sum += margin ? shares[i] : -shares[i];
  (margin ? doc.Margins : doc.Discounts) += amount;
  if (wholeReceipt) doc.ReceiptDiscount = true;
  const std::string label = name.empty() ? (margin ? "НАДБАВКА" : "СКИДКА") : Printable(name);
  doc.Lines.push_back(TEmuTape::TwoColumns(label, (margin ? "+" : "-") + MoneyText(amount)));
}

TEmuAnswer TEmuRegister::CmdDiscount(const TEmuArgs& args) {
  args.ExpectCount({3});
  const int64_t kind = args.Int(0, 0, 1, EmuExt::None);
  const std::string name = args.Text(1, 38, EmuExt::DiscountName);
  const int64_t amount = args.Money(2, EmuExt::DiscountSum);
  RequireReceipt(2);
  ApplyDiscount(amount, false, name, kind == 0);
  return {};
}

TEmuAnswer TEmuRegister::CmdMargin(const TEmuArgs& args) {
  args.ExpectCount({3});
  const int64_t kind = args.Int(0, 0, 1, EmuExt::None);
  const std::string name = args.Text(1, 38, EmuExt::DiscountName);
  const int64_t amount = args.Money(2, EmuExt::DiscountSum);
  RequireReceipt(2);
  ApplyDiscount(amount, true, name, kind == 0);
  return {};
}

// ---- payments and cash ----

TEmuAnswer TEmuRegister::CmdPayment(const TEmuArgs& args) {
  args.ExpectCount({3});
  const int code = static_cast<int>(args.Int(0, 0, 15, EmuExt::PaymentType));
  const int64_t amount = args.Money(1, EmuExt::PaymentSum);
  args.Text(2, 40, EmuExt::ExtraText);
  auto& doc = RequireReceipt(3);
  const int64_t total = ReceiptTotal();
  int64_t nonCash = 0;
  for (int i = 1; i < 16; ++i) nonCash += doc.Payments[i];
  if (code != 0 && nonCash + amount > total)
    Refuse(EmuError::BadParameter, EmuExt::PaymentSum, "non-cash payments above the total");
  doc.Payments[code] += amount;
  const int64_t paid = std::accumulate(doc.Payments.begin(), doc.Payments.end(), int64_t{0});
  doc.State = paid >= total ? 4 : 3;
  return {0,
          {MoneyText(std::max<int64_t>(0, total - paid)),
           MoneyText(std::max<int64_t>(0, paid - total))}};
}

TEmuAnswer TEmuRegister::CmdEncash(const TEmuArgs& args) {
  args.ExpectCount({2});
  const std::string comment = args.Text(0, 41, EmuExt::ExtraText);
  const int64_t amount = args.Money(1, EmuExt::PaymentSum);
  auto& doc = FState.Document;
  if (doc.Type == edtNone)
    Refuse(EmuError::WrongState, EmuExt::DocumentNotOpen, "no document open");
  if (doc.Type != edtCashIn && doc.Type != edtCashOut)
    Refuse(EmuError::WrongState, EmuExt::NotCashInOut, "not a cash document");
  if (doc.Type == edtCashOut && doc.Encash + amount > FState.Cash)
    Refuse(EmuError::Negative, EmuExt::None, "not enough cash in the drawer");
  if (doc.Encash + amount > kMaxSum)
    Refuse(EmuError::BadParameter, EmuExt::PaymentSum, "amount too large");
  if (doc.Lines.size() >= kMaxDocumentLines)
    Refuse(EmuError::BadParameter, EmuExt::ExtraText, "document too long");
  doc.Encash += amount;
  doc.Lines.push_back(TEmuTape::TwoColumns(comment.empty() ? "СУММА" : Printable(comment),
                                           "=" + MoneyText(amount)));
  return {};
}

// ---- printing ----

TEmuAnswer TEmuRegister::CmdPrintString(const TEmuArgs& args) {
  args.ExpectCount({1, 2});
  const std::string text = args.Text(0, 72, EmuExt::ExtraText);
  const int64_t attr = args.IntOr(1, 0, 0, 127, EmuExt::None);
  if ((attr & 0x0F) > 6) Refuse(EmuError::BadParameter, EmuExt::None, "no such font");
  PrintLine(Printable(text));
  return {};
}

TEmuAnswer TEmuRegister::CmdPrintProps(const TEmuArgs& args) {
  args.ExpectCount({6});
  args.Int(0, 0, 255, EmuExt::None);
  const int64_t attr = args.Int(1, 0, 127, EmuExt::None);
  if ((attr & 0x0F) > 6) Refuse(EmuError::BadParameter, EmuExt::None, "no such font");
  PrintLine(Printable(args.Text(2, 72, EmuExt::ExtraText)));
  return {};
}

TEmuAnswer TEmuRegister::CmdBarcode(const TEmuArgs& args) {
  args.ExpectCount({5});
  args.Int(0, 0, 255, EmuExt::None);
  args.Int(1, 0, 255, EmuExt::None);
  args.Int(2, 0, 255, EmuExt::None);
  const int64_t type = args.Int(3, 0, 8, EmuExt::None);
  const std::string& data = args.Raw(4);
  if (data.empty() || data.size() > 1024)
    Refuse(EmuError::BadParameter, EmuExt::None, "barcode data empty or too long");
  static const char* const kNames[] = {"UPC-A", "UPC-E",   "EAN-13",  "EAN-8", "CODE39",
                                       "ITF",   "CODABAR", "CODE128", "QR"};
  const bool digits =
      std::all_of(data.begin(), data.end(), [](char c) { return c >= '0' && c <= '9'; });
  const bool ok =
      type == 2   ? digits && (data.size() == 12 || data.size() == 13)
      : type == 3 ? digits && (data.size() == 7 || data.size() == 8)
      : type == 4
          ? std::all_of(data.begin(), data.end(),
                        [](char c) {
                          return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                                 (c >= 'a' && c <= 'z') ||
                                 std::string_view(" -.$/+%*").find(c) != std::string_view::npos;
                        })
          : true;
  if (!ok) Refuse(EmuError::BadParameter, EmuExt::None, "barcode data does not fit its type");
  PrintLine(TEmuTape::BarcodeLine(kNames[type], Printable(EmuOemToUtf8(data))));
  return {};
}

TEmuAnswer TEmuRegister::CmdCut(const TEmuArgs& args) {
  args.ExpectCount({0});
  PrintLine(kCutLineMarker);
  return {};
}

TEmuAnswer TEmuRegister::CmdOfdProps(const TEmuArgs& args) {
  args.ExpectCount({4});
  const int tag = static_cast<int>(args.Int(0, 1000, 2999, EmuExt::ReceiptRequisite));
  const int64_t attr = args.Int(1, 0, 127, EmuExt::None);
  const std::string name = args.Text(2, 72, EmuExt::UserRequisiteName);
  const std::string value = Bytes(args, 3, 256, EmuExt::UserRequisiteValue);
  auto& doc = RequireReceipt(4);
  std::string encoded = value;
  if (attr & 0x40) {  // the value is a number written as "#n"
    int64_t n = 0;
    if (value.size() < 2 || value[0] != '#' || !TryStrToInt64(value.substr(1), n) || n < 0 ||
        n > 0xFFFFFFFFLL)
      Refuse(EmuError::BadParameter, EmuExt::UserRequisiteValue, "bad numeric requisite");
    encoded = n <= 0xFF ? std::string(1, static_cast<char>(n))
                        : TEmuTlv().U32(0, static_cast<uint32_t>(n)).Bytes().substr(4);
  } else if (tag == 1273) {  // operation date, "ddmmyy"
    TDateTime date;
    if (!ParseDate6(value, date))
      Refuse(EmuError::BadParameter, EmuExt::UserRequisiteValue, "bad operation date");
    encoded = TEmuTlv().Time(0, CivilToSeconds(date)).Bytes().substr(4);
  }
  const auto same = std::find_if(doc.Tags.begin(), doc.Tags.end(),
                                 [&](const TEmuReceiptTag& t) { return t.Tag == tag; });
  if (same != doc.Tags.end()) {
    same->Value.Data = encoded;
  } else {
    if (doc.Tags.size() >= kMaxReceiptTags)
      Refuse(EmuError::BadParameter, EmuExt::ReceiptRequisite, "too many requisites");
    doc.Tags.push_back({tag, {encoded}});
  }
  const bool named = !Trim(name).empty() && name != "(null)";
  PrintLine(Printable(named ? name + " " + EmuOemToUtf8(value) : EmuOemToUtf8(value)));
  return {};
}

// ---- cancel and close ----

TEmuAnswer TEmuRegister::CmdCancelDocument(const TEmuArgs& args) {
  args.ExpectCount({0});
  auto& doc = FState.Document;
  if (doc.Type == edtNone)
    Refuse(EmuError::WrongState, EmuExt::DocumentNotOpen, "no document open");
  if (IsFiscalReceipt(doc.Type) && !doc.Copy) ++FState.Shift.Cancelled;
  if (Printing() && !FState.PaperOut && !FState.CoverOpen && doc.Type != edtService) {
    // The header and the line under the mark say which document it was.
    const bool cash = doc.Type == edtCashIn || doc.Type == edtCashOut;
    PrintHeader(cash             ? (doc.Type == edtCashIn ? "ВНЕСЕНИЕ" : "ИЗЪЯТИЕ")
                : doc.Correction ? "КАССОВЫЙ ЧЕК КОРРЕКЦИИ"
                                 : "КАССОВЫЙ ЧЕК");
    if (!cash) FTape.Line(TEmuTape::Center(SettlementName(doc.Type)));
    FTape.Lines(RenderLines(doc));
    FTape.Line(TEmuTape::Center("*** ДОКУМЕНТ АННУЛИРОВАН ***"));
    FTape.Line(TEmuTape::TwoColumns("СМЕНА " + std::to_string(FState.Shift.Number),
                                    "ОТКРЫТ " + DateTimeText(doc.OpenedAt)));
    FTape.Cut();
  }
  FState.Document = TEmuOpenDocument{};
  return {};
}

TEmuAnswer TEmuRegister::CmdCloseDocument(const TEmuArgs& args) {
  const bool f12 = Ffd12();
  args.ExpectCount({2, f12 ? size_t{15} : size_t{10}});
  TEmuBuyer buyer;
  buyer.Cut = args.Int(0, 0, 1, EmuExt::None) == 0;
  buyer.Address = Bytes(args, 1, 64, EmuExt::BuyerAddress);
  if (args.Count() > 2) {
    args.IntOr(2, 0, 0, 255, EmuExt::None);
    buyer.SaleAddress = Bytes(args, 3, 256, EmuExt::None);
    buyer.SaleLocation = Bytes(args, 4, 256, EmuExt::None);
    buyer.UserAttributeName = Bytes(args, 6, 64, EmuExt::UserRequisiteName);
    buyer.UserAttributeValue = Bytes(args, 7, 256, EmuExt::UserRequisiteValue);
    buyer.Info = Bytes(args, 8, 256, EmuExt::Buyer);
    buyer.Inn = Bytes(args, 9, 12, EmuExt::BuyerInn);
    if (args.Count() == 15) {
      buyer.DateOfBirth = Bytes(args, 10, 10, EmuExt::Buyer);
      buyer.Citizenship = Bytes(args, 11, 3, EmuExt::Buyer);
      buyer.DocumentCode = Bytes(args, 12, 2, EmuExt::Buyer);
      buyer.DocumentData = Bytes(args, 13, 64, EmuExt::Buyer);
      buyer.PostalAddress = Bytes(args, 14, 256, EmuExt::Buyer);
    }
  }
  auto& doc = FState.Document;
  if (doc.Type == edtNone)
    Refuse(EmuError::WrongState, EmuExt::DocumentNotOpen, "no document open");
  if (doc.Type == edtService) {
    if (Printing()) {
      RequirePrinter();
      FTape.Lines(RenderLines(doc));
      if (buyer.Cut) FTape.Cut();
    }
    FState.Document = TEmuOpenDocument{};
    return {};
  }
  if (doc.Type == edtCashIn || doc.Type == edtCashOut) {
    // No fiscal document: the answer carries no number, as for a service document.
    CloseCashDocument(buyer.Cut);
    return {};
  }
  if (doc.Items.empty()) Refuse(EmuError::WrongState, EmuExt::ZeroTotal, "no positions");
  const int64_t paid = std::accumulate(doc.Payments.begin(), doc.Payments.end(), int64_t{0});
  if (paid < ReceiptTotal())
    Refuse(EmuError::WrongState, EmuExt::DocState4, "receipt not paid in full");
  if (doc.Copy) {
    if (Printing()) {
      RequirePrinter();
      PrintReceipt(doc, buyer, nullptr);
    }
    FState.Document = TEmuOpenDocument{};
    return {};
  }
  const TEmuFnDocument& fn = CloseReceipt(buyer);
  return {0, {std::to_string(fn.Number), std::to_string(fn.FiscalSign)}};
}
