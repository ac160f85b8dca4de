// The state file: JSON so that a person can read it and a shift survives a restart.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "common/uCommonUtils.h"
#include "emulator/register/uEmuRegisterState.h"

void to_json(nlohmann::json& j, const TEmuBytes& b) {
  j = BytesToHex(b.Data);
}

void from_json(const nlohmann::json& j, TEmuBytes& b) {
  try {
    b.Data = HexToBytes(j.get<std::string>());
  } catch (const EConvertError& e) {
    throw std::runtime_error(std::string("bad hexadecimal value: ") + e.what());
  }
}

NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(TEmuFnDocument, Number, Type, Time, FiscalSign, Tlv)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(TEmuItem, Name, Quantity, Price, Sum, TaxCode,
                                                Department, Method, Subject, Measure, Excise,
                                                ProductCode, MarkingCode, PlannedStatus,
                                                ValidationResult, Extra)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(TEmuReceiptTag, Tag, Value)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(TEmuOpenDocument, Type, State, Correction, Copy,
                                                TaxIndex, OpenedAt, Cashier, Items, Payments,
                                                Encash, Discounts, Margins, ReceiptDiscount,
                                                HasPending, PendingProductCode, PendingExtra,
                                                BoundCode, BoundPlannedStatus, BoundValidation,
                                                Tags, Lines, CorrectionKind, CorrectionBaseDate,
                                                CorrectionBaseNumber)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(TEmuOperationTotals, Sums, Counts, TaxSums,
                                                Receipts, Total)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(TEmuShift, Open, Number, OpenedAt, Receipts,
                                                Documents, Operations, CashInCount, CashInSum,
                                                CashOutCount, CashOutSum, Corrections, Cancelled,
                                                Discounts, Margins)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(TEmuRegistration, Registered, ArchiveClosed, Inn,
                                                RegNumber, FnSerial, KktSerial, TaxSystems,
                                                WorkMode, AddWorkMode, AgentTypes, DocumentNumber,
                                                Time)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(TEmuAcceptedCode, Code, PlannedStatus,
                                                ValidationResult)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(TEmuMarkingState, Pending, PendingCode,
                                                PendingPlannedStatus, PendingValidation, Accepted)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(TEmuLastReceipt, Type, Number, DocNumber, Sum,
                                                Discount, Margin, FiscalSign)

void to_json(nlohmann::json& j, const TEmuState& s) {
  j = nlohmann::json{{"Format", 1},
                     {"Ffd", s.Ffd},
                     {"ClockOffset", s.ClockOffset},
                     {"Registration", s.Registration},
                     {"Tables", s.Tables},
                     {"Shift", s.Shift},
                     {"GrandTotals", s.GrandTotals},
                     {"Cash", s.Cash},
                     {"Document", s.Document},
                     {"LastReceipt", s.LastReceipt},
                     {"FnDocuments", s.FnDocuments},
                     {"LastSentDocument", s.LastSentDocument},
                     {"OfdOnline", s.OfdOnline},
                     {"FnWarnings", s.FnWarnings},
                     {"PaperOut", s.PaperOut},
                     {"CoverOpen", s.CoverOpen},
                     {"DrawerOpen", s.DrawerOpen},
                     {"Marking", s.Marking}};
}

void from_json(const nlohmann::json& j, TEmuState& s) {
  if (!j.is_object()) throw std::runtime_error("the document is not a JSON object");
  if (j.value("Format", 0) != 1) throw std::runtime_error("unknown state format");
  const TEmuState defaults;
  s.Ffd = j.value("Ffd", defaults.Ffd);
  s.ClockOffset = j.value("ClockOffset", defaults.ClockOffset);
  s.Registration = j.value("Registration", defaults.Registration);
  s.Tables = j.value("Tables", defaults.Tables);
  s.Shift = j.value("Shift", defaults.Shift);
  s.GrandTotals = j.value("GrandTotals", defaults.GrandTotals);
  s.Cash = j.value("Cash", defaults.Cash);
  s.Document = j.value("Document", defaults.Document);
  s.LastReceipt = j.value("LastReceipt", defaults.LastReceipt);
  s.FnDocuments = j.value("FnDocuments", defaults.FnDocuments);
  s.LastSentDocument = j.value("LastSentDocument", defaults.LastSentDocument);
  s.OfdOnline = j.value("OfdOnline", defaults.OfdOnline);
  s.FnWarnings = j.value("FnWarnings", defaults.FnWarnings);
  s.PaperOut = j.value("PaperOut", defaults.PaperOut);
  s.CoverOpen = j.value("CoverOpen", defaults.CoverOpen);
  s.DrawerOpen = j.value("DrawerOpen", defaults.DrawerOpen);
  s.Marking = j.value("Marking", defaults.Marking);
}

namespace {

void Require(bool condition, const char* what) {
  if (!condition) throw std::runtime_error(what);
}

// Every number of the state is an integer; a fraction or an exponent (a
// hand-edited file) would not convert to one. Walked without recursion: the
// parser takes any nesting depth.
void RequireIntegers(const nlohmann::json& root) {
  std::vector<const nlohmann::json*> pending{&root};
  while (!pending.empty()) {
    const nlohmann::json* j = pending.back();
    pending.pop_back();
    if (j->is_number_float()) throw std::runtime_error("not a whole number: " + j->dump());
    if (j->is_structured())
      for (const auto& child : *j) pending.push_back(&child);
  }
}

// Times are 4-byte register timestamps; a clock moved by more than this is a damaged file.
constexpr int64_t kMaxTime = 0xFFFFFFFFLL;
constexpr int64_t kMaxClockOffset = 200LL * 366 * 86400;

bool TimeInRange(int64_t t) {
  return t >= 0 && t <= kMaxTime;
}

// Running money totals grow by at most a document's limit per fiscal
// document; starting below this bound they can never overflow.
constexpr int64_t kMaxStoredMoney = 1000000000000000000LL;

bool MoneyInRange(int64_t kopecks) {
  return kopecks >= 0 && kopecks <= kMaxStoredMoney;
}

}  // namespace

void ValidateEmuState(const TEmuState& s) {
  Require(s.Ffd == "1.05" || s.Ffd == "1.1" || s.Ffd == "1.2", "unknown format version");
  Require(s.GrandTotals.size() == 4, "grand totals must have 4 entries");
  for (const int64_t total : s.GrandTotals)
    Require(MoneyInRange(total), "grand total out of range");
  Require(MoneyInRange(s.Cash), "cash out of range");
  Require(s.Shift.Operations.size() == 4, "shift totals must have 4 kinds");
  const auto allInRange = [](const std::vector<int64_t>& values) {
    return std::all_of(values.begin(), values.end(), MoneyInRange);
  };
  for (const auto& op : s.Shift.Operations) {
    Require(op.Sums.size() == 16 && op.Counts.size() == 16 && op.TaxSums.size() == 10,
            "shift totals have the wrong size");
    // Shift totals and counts grow like the grand totals.
    Require(allInRange(op.Sums) && allInRange(op.Counts) && allInRange(op.TaxSums) &&
                MoneyInRange(op.Receipts) && MoneyInRange(op.Total),
            "shift totals out of range");
  }
  const TEmuShift& sh = s.Shift;
  Require(allInRange({sh.CashInCount, sh.CashInSum, sh.CashOutCount, sh.CashOutSum, sh.Corrections,
                      sh.Cancelled, sh.Discounts, sh.Margins}),
          "shift totals out of range");
  Require(s.Shift.Number >= 0 && s.Shift.Receipts >= 0 && s.Shift.Documents >= 0,
          "negative shift counters");
  Require(s.Shift.Number < 1000000000 && s.Shift.Receipts < 1000000000 &&
              s.Shift.Documents < 1000000000,
          "shift counters out of range");
  Require(s.ClockOffset >= -kMaxClockOffset && s.ClockOffset <= kMaxClockOffset,
          "clock offset out of range");
  Require(TimeInRange(s.Shift.OpenedAt) && TimeInRange(s.Registration.Time) &&
              TimeInRange(s.Document.OpenedAt) && TimeInRange(s.Document.CorrectionBaseDate),
          "time out of range");
  Require(s.Registration.TaxSystems >= 0 && s.Registration.TaxSystems <= 63 &&
              s.Registration.WorkMode >= 0 && s.Registration.WorkMode <= 255 &&
              s.Registration.AddWorkMode >= 0 && s.Registration.AddWorkMode <= 255 &&
              s.Registration.AgentTypes >= 0 && s.Registration.AgentTypes <= 127,
          "registration modes out of range");
  const auto& d = s.Document;
  Require(d.Type >= edtNone && d.Type <= edtPurchaseReturn, "open document type out of range");
  Require(d.State >= 0 && d.State <= 4, "open document state out of range");
  Require((d.Type == edtNone) == (d.State == 0), "open document type and state disagree");
  Require(d.Payments.size() == 16, "payments must have 16 entries");
  Require(d.TaxIndex >= 0 && d.TaxIndex <= 5, "taxation system out of range");
  for (const auto& item : d.Items)
    Require(item.TaxCode >= 0 && item.TaxCode <= 9 && item.Quantity > 0 &&
                item.Quantity < 100000000000LL && item.Price >= 0 && item.Price <= 10000000000LL &&
                item.Sum >= 0 && item.Sum <= 10000000000LL,
            "open document item out of range");
  for (size_t i = 0; i < s.FnDocuments.size(); ++i) {
    Require(s.FnDocuments[i].Number == static_cast<int>(i) + 1,
            "fiscal documents are not numbered 1, 2, 3 ...");
    Require(TimeInRange(s.FnDocuments[i].Time), "fiscal document time out of range");
  }
  Require(s.LastSentDocument >= 0 && s.LastSentDocument <= static_cast<int>(s.FnDocuments.size()),
          "last sent document out of range");
  Require(s.FnWarnings >= 0 && s.FnWarnings <= 255, "warning flags out of range");
}

bool LoadEmuState(const std::string& file, TEmuState& state) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::FILE* probe = std::fopen(file.c_str(), "rb");
    if (probe == nullptr && errno == ENOENT) return false;
    if (probe != nullptr) std::fclose(probe);
    throw std::runtime_error("cannot read the register state file " + file);
  }
  std::stringstream text;
  text << in.rdbuf();
  try {
    const nlohmann::json json = nlohmann::json::parse(text.str());
    RequireIntegers(json);
    TEmuState loaded = json.get<TEmuState>();
    ValidateEmuState(loaded);
    state = std::move(loaded);
  } catch (const std::exception& e) {
    throw std::runtime_error("the register state file " + file + " is corrupt: " + e.what());
  }
  return true;
}

namespace {

std::string StateError(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

void WriteAllTo(int fd, const std::string& bytes, const std::string& file) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      throw std::runtime_error(StateError("cannot write the register state file " + file, errno));
    done += static_cast<size_t>(n);
  }
}

}  // namespace

// A new file made beside the old one (never through a name someone else
// prepared), on disk before it replaces the old one, and the replacement
// itself on disk before the register answers: a crash leaves either state.
void SaveEmuState(const std::string& file, const TEmuState& state) {
  const std::string text =
      nlohmann::json(state).dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  const std::filesystem::path target(file);
  const std::filesystem::path folder =
      target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // O_CREAT | O_EXCL: no link is followed
  if (fd < 0)
    throw std::runtime_error(StateError("cannot create a temporary file beside " + file, errno));
  bool open = true;
  try {
    WriteAllTo(fd, text, temp);
    if (::fsync(fd) != 0)
      throw std::runtime_error(StateError("cannot write the register state file " + temp, errno));
    open = false;
    if (::close(fd) != 0)
      throw std::runtime_error(StateError("cannot write the register state file " + temp, errno));
    if (std::rename(temp.c_str(), file.c_str()) != 0)
      throw std::runtime_error(StateError("cannot replace the register state file " + file, errno));
  } catch (...) {
    if (open) ::close(fd);
    ::unlink(temp.c_str());
    throw;
  }
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0 || ::fsync(dir) != 0) {
    const int error = errno;
    if (dir >= 0) ::close(dir);
    throw std::runtime_error(StateError("cannot sync the folder of " + file, error));
  }
  ::close(dir);
}
