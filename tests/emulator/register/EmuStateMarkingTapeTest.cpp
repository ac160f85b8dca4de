// State file round trip, marking-code outcomes and the paper tape.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "EmuRegisterFixture.h"

namespace {

// The process's own temporary folder, removed when the process ends.
struct TTempFolder {
  std::filesystem::path Path = std::filesystem::temp_directory_path() /
                               ("quarnel-emu-register-" + std::to_string(::getpid()));
  ~TTempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
};

// A fresh file name in the test's own temporary folder.
std::string TempStateFile(const std::string& name) {
  static const TTempFolder folder;
  std::filesystem::create_directories(folder.Path);
  const auto path = folder.Path / name;
  std::filesystem::remove(path);
  return path.string();
}

std::string Gs(const std::string& a, const std::string& b) {
  return a + '\x1D' + b;
}

// The driver's escaped form: bytes below 0x20 as "$" and two hex digits.
std::string Escape(const std::string& raw) {
  std::string out;
  for (char c : raw) {
    if (static_cast<unsigned char>(c) < 0x20) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "$%02X", static_cast<unsigned>(c));
      out += buf;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace

TEST_F(EmuRegisterTest, ShiftAndOpenReceiptSurviveARestart) {
  Options.StateFile = TempStateFile("roundtrip.json");
  OpenShift();
  Ok("30", {"4", "1", " ", "1", "0"});
  Ok("48", {"", "300"});
  Close();
  OpenReceipt();
  Item("Кефир", "1", "70");
  Ok("12", {"1", "0", "128"});
  Reg().MoveClock(120);
  const TEmuState before = Reg().Snapshot();

  Restart();
  const TEmuState after = Reg().Snapshot();
  EXPECT_EQ(nlohmann::json(after), nlohmann::json(before)) << "the state file lost something";
  EXPECT_EQ(Reg().DayState(), 2);
  EXPECT_EQ(Field("00", {}, 3), "2") << "the receipt is still open";
  Pay(0, "100");
  Close();
  EXPECT_EQ(Field("02", {"7"}, 1), "370.00");
  EXPECT_EQ(Field("11", {"1", "0"}, 0), "128");
  std::vector<TTestTlv> doc;
  ASSERT_TRUE(ReadTestTlv(ReadDocument(Reg().LastDocumentNumber()), doc));
  EXPECT_EQ(OemToUtf8(FindTag(FindTag(doc, 1059)->Children, 1030)->Value), "Кефир");
}

TEST_F(EmuRegisterTest, CorruptStateFileIsAClearError) {
  const std::string file = TempStateFile("corrupt.json");
  const auto expectError = [&](const std::string& content) {
    {
      std::ofstream out(file, std::ios::binary | std::ios::trunc);
      out << content;
    }
    TEmuRegisterOptions o;
    o.StateFile = file;
    try {
      TEmuRegister r(o);
      ADD_FAILURE() << "accepted: " << content.substr(0, 60);
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(file), std::string::npos)
          << "the message names the file: " << e.what();
    }
  };
  expectError("{ not json");
  expectError("[]");
  expectError("{\"Format\": 1, \"Cash\": \"many\"}");
  expectError("{\"Format\": 1, \"GrandTotals\": [1, 2]}");
  expectError("{\"Format\": 1, \"Document\": {\"Type\": 9, \"State\": 1}}");
  expectError("{\"Format\": 1, \"FnDocuments\": [{\"Number\": 5, \"Tlv\": \"00\"}]}");
  expectError("{\"Format\": 1, \"FnDocuments\": [{\"Number\": 1, \"Tlv\": \"XYZ\"}]}");
  expectError("{\"Format\": 2}");
  // Values a hand-edited file may hold that would overflow the clock or the counters.
  expectError("{\"Format\": 1, \"ClockOffset\": 1e300}");
  expectError("{\"Format\": 1, \"Cash\": 12.5}");
  expectError("{\"Format\": 1, \"ClockOffset\": 9000000000000000000}");
  expectError("{\"Format\": 1, \"Shift\": {\"Open\": true, \"Number\": 2147483647}}");
  expectError("{\"Format\": 1, \"FnDocuments\": [{\"Number\": 1, \"Time\": -5}]}");
  expectError("{\"Format\": 1, \"Registration\": {\"TaxSystems\": 4096}}");
  expectError("{\"Format\": 1, \"Tables\": " + std::string(100000, '[') + std::string(100000, ']') +
              "}");
}

TEST_F(EmuRegisterTest, StateFileRefusesMoneyThatLaterOperationsWouldOverflow) {
  const std::string file = TempStateFile("money.json");
  for (const std::string& money :
       {std::string("\"Cash\": 9223372036854775000"), std::string("\"Cash\": -1"),
        std::string("\"GrandTotals\": [0, 9223372036854775000, 0, 0]"),
        std::string("\"GrandTotals\": [0, 0, -5, 0]"),
        std::string("\"Shift\": {\"CashInSum\": 9223372036854775000}")}) {
    {
      std::ofstream(file, std::ios::binary | std::ios::trunc) << "{\"Format\": 1, " << money << "}";
    }
    TEmuRegisterOptions o;
    o.StateFile = file;
    EXPECT_THROW(TEmuRegister{o}, std::runtime_error) << "accepted " << money;
  }
}

TEST_F(EmuRegisterTest, SavingTheStateNeverWritesThroughALinkBesideIt) {
  namespace fs = std::filesystem;
  Options.StateFile = TempStateFile("linked.json");
  const fs::path victim = Options.StateFile + ".victim";
  { std::ofstream(victim) << "keep"; }
  fs::remove(Options.StateFile + ".tmp");
  fs::create_symlink(victim, Options.StateFile + ".tmp");
  OpenShift();
  std::ifstream in(victim);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
  Restart();
  EXPECT_EQ(Reg().DayState(), 2) << "the state itself was saved";
  for (const auto& entry : fs::directory_iterator(fs::path(Options.StateFile).parent_path()))
    EXPECT_EQ(entry.path().filename().string().rfind(".linked.json.", 0), std::string::npos)
        << "a temporary file was left behind: " << entry.path();
}

TEST_F(EmuRegisterTest, MissingStateFileStartsAFreshRegisteredRegister) {
  Options.StateFile = TempStateFile("fresh.json");
  Options.FfdVersion = "1.1";
  EXPECT_EQ(Field("78", {"2", "0", "0"}, 1), "3");
  EXPECT_TRUE(std::filesystem::exists(Options.StateFile)) << "created at once";
  Options.FfdVersion.clear();
  Restart();
  EXPECT_EQ(Reg().Ffd(), "1.1") << "an empty version keeps the one in the file";
  TEmuRegisterOptions wrong;
  wrong.FfdVersion = "2.0";
  EXPECT_THROW(TEmuRegister{wrong}, std::invalid_argument);
}

TEST_F(EmuRegisterTest, MarkingCodeCheckAcceptAndBind) {
  const std::string code = Gs("0104600439931256215Aq7t", "93dGVz");
  const std::string escaped = Escape(code);
  OpenShift();
  TEmuMarkingOutcome outcome;
  outcome.ValidationResult = 3;
  outcome.ProcessingResult = 2;
  outcome.ProcessingCode = 7;
  outcome.StatusInfo = 5;
  Reg().SetMarkingOutcomeFor(code, outcome);
  const TEmuAnswer check = Run("79", {"1", escaped, "0", "1", "1", "0", "0"});
  ASSERT_EQ(check.Error, 0);
  EXPECT_EQ(check.Fields, (std::vector<std::string>{"1", "3", "1", "2", "7", "5"}));
  // a new check while the last one awaits acceptance
  Refused("79", {"1", escaped, "0", "1", "1", "0", "0"}, EmuError::MarkingSequence, EmuExt::None);
  Ok("79", {"2", "1"});
  Refused("79", {"2", "1"}, EmuError::MarkingSequence, EmuExt::None);

  OpenReceipt();
  Refused("79", {"15", Escape(Gs("0104600439931256215OTHER", "93xx")), "1", "0", "3", ""},
          EmuError::MarkingUnchecked, EmuExt::None);
  // bound as its last check went: planned status 1, answer 3
  Refused("79", {"15", escaped, "2", "0", "3", "0"}, EmuError::MarkingUnchecked, EmuExt::None);
  Refused("79", {"15", escaped, "1", "0", "15", "0"}, EmuError::MarkingUnchecked, EmuExt::None);
  Ok("79", {"15", escaped, "1", "0", "3", "0"});
  Ok("24", {"", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", ""});
  Item("Туфли", "1", "3000");
  Pay(1, "3000");
  Close();
  std::vector<TTestTlv> doc;
  ASSERT_TRUE(ReadTestTlv(ReadDocument(Reg().LastDocumentNumber()), doc));
  const TTestTlv* item = FindTag(doc, 1059);
  ASSERT_NE(item, nullptr);
  const TTestTlv* codes = FindTag(item->Children, 1163);
  ASSERT_NE(codes, nullptr) << "a marked item carries its code container";
  const TTestTlv* gs1 = FindTag(codes->Children, 1305);
  ASSERT_NE(gs1, nullptr);
  EXPECT_EQ(gs1->Value, code) << "the code is stored unescaped, group separator included";
  EXPECT_TRUE(Reg().Snapshot().Marking.Accepted.empty()) << "a sold code leaves the table";
}

TEST_F(EmuRegisterTest, MarkingOutcomesRejectionsAndFormatLimits) {
  OpenShift();
  TEmuMarkingOutcome failing;
  failing.Error = 0x4A;
  Reg().SetMarkingOutcome(failing);
  Refused("79", {"1", "010460", "0", "2", "1/3", "0", "0"}, 0x4A, EmuExt::None);
  Reg().SetMarkingOutcome(TEmuMarkingOutcome{});
  EXPECT_EQ(Field("79", {"1", "010460", "0", "2", "1/3", "0", "0"}, 1), "15");
  Ok("79", {"2", "0"});  // rejected
  // a re-check rejected withdraws the code's earlier acceptance
  Ok("79", {"1", "010461", "0", "1", "1", "0", "0"});
  Ok("79", {"2", "1"});
  Ok("79", {"1", "010461", "0", "1", "1", "0", "0"});
  Ok("79", {"2", "0"});
  OpenReceipt();
  // a rejected code cannot be bound
  Refused("79", {"15", "010460", "2", "0", "15", "0"}, EmuError::MarkingUnchecked, EmuExt::None);
  Refused("79", {"15", "010461", "1", "0", "15", "0"}, EmuError::MarkingUnchecked, EmuExt::None);
  Ok("32");
  Refused("79", {"1", "x", "0", "1", "3/2", "0", "0"}, EmuError::BadParameter, EmuExt::Quantity);
  Refused("79", {"1", "", "0", "1", "1", "0", "0"}, EmuError::BadParameter, EmuExt::MarkingType);
  Refused("79", {"7"}, EmuError::BadParameter, EmuExt::RequestNumber);
  Ok("79", {"3"});

  Options.FfdVersion = "1.05";
  Restart();
  Refused("79", {"3"}, EmuError::WrongState, EmuExt::Ffd12Only);
}

TEST_F(EmuRegisterTest, TapeShowsReceiptsTextDocumentsAndCuts) {
  OpenShift();
  OpenReceipt();
  Item("Чай зелёный", "2", "150");
  Ok("49", {"0", "0", "Спасибо за покупку!", "", "", ""});
  Ok("41", {"0", "6", "0", "8", "https://example.ru/чек"});
  Pay(0, "300");
  Close();
  const std::string tape = Tape.str();
  EXPECT_NE(tape.find("Чай зелёный"), std::string::npos) << tape;
  EXPECT_NE(tape.find("=300.00"), std::string::npos);
  EXPECT_NE(tape.find("Спасибо за покупку!"), std::string::npos);
  EXPECT_NE(tape.find("[QR ||| https://example.ru/чек |||]"), std::string::npos);
  EXPECT_NE(
      tape.find("ФП " + std::to_string(Reg().Document(Reg().LastDocumentNumber())->FiscalSign)),
      std::string::npos);
  EXPECT_NE(tape.find("✂"), std::string::npos);

  // A text document: lines, a cut in the middle, no cut at the end (cut code 1).
  Tape.str("");
  Ok("30", {"1", "1", "", "1", "0"});
  Ok("40", {"строка один", "0"});
  Ok("34");
  Ok("40", {"строка два", "0"});
  Ok("31", {"1", ""});
  EXPECT_EQ(Tape.str(),
            "строка один\n- - - - - - - - - - - - ✂ - - - - - - - - - - - -\nстрока два\n");

  // Print byte bit 7: the receipt is made but not printed.
  Tape.str("");
  Ok("12", {"1", "0", "128"});
  OpenReceipt();
  Item("Вода", "1", "20");
  Pay(0, "20");
  Close();
  EXPECT_EQ(Tape.str().find("Вода"), std::string::npos);
  EXPECT_NE(Tape.str().find("не печатается"), std::string::npos);
  Ok("12", {"1", "0", "0"});

  // Paper out refuses printing.
  Reg().SetPaperOut(true);
  Refused("20", {}, EmuError::PaperOut, EmuExt::None);
  Reg().SetPaperOut(false);
  Tape.str("");
  Ok("20");
  EXPECT_NE(Tape.str().find("X-ОТЧЁТ"), std::string::npos);
  EXPECT_NE(Tape.str().find("ПРИХОД (2)"), std::string::npos) << Tape.str();
}

TEST_F(EmuRegisterTest, XReportAndCancelledDocumentsSayWhenAndWhatTheyWere) {
  OpenShift();
  Tape.str("");
  Ok("20");
  EXPECT_NE(Tape.str().find("05.03.2024 10:00"), std::string::npos)
      << "the X report dates itself like every other document:\n"
      << Tape.str();
  EXPECT_EQ(Tape.str().find("100000 050324"), std::string::npos) << "not in the raw protocol form";

  Tape.str("");
  OpenReceipt(3);
  Item("Кефир", "1", "70");
  Ok("32");
  const std::string refund = Tape.str();
  const size_t kind = refund.find("ВОЗВРАТ ПРИХОДА"), mark = refund.find("ДОКУМЕНТ АННУЛИРОВАН");
  ASSERT_NE(mark, std::string::npos) << refund;
  EXPECT_LT(kind, mark) << "the cancelled receipt names its kind above the mark:\n" << refund;
  EXPECT_NE(refund.find("КАССОВЫЙ ЧЕК"), std::string::npos);
  EXPECT_NE(refund.find("ОТКРЫТ 05.03.2024 10:00"), std::string::npos) << refund;

  Tape.str("");
  Ok("30", {"4", "1", " ", "1", "0"});
  Ok("32");
  EXPECT_LT(Tape.str().find("ВНЕСЕНИЕ"), Tape.str().find("ДОКУМЕНТ АННУЛИРОВАН")) << Tape.str();
}

// What the paper says must be what happened: the taxation system a receipt
// was made under, no fiscal numbers on cash documents, and an X report that
// does not pass a closed shift off as a running one.
TEST_F(EmuRegisterTest, ThePaperSaysTheTaxationSystemAndWhatIsNoFiscalDocument) {
  OpenShift();
  Tape.str("");
  Ok("30", {"2", "1", "Иванов", "1", "1"});
  Item("Хлеб", "1", "45");
  Pay(0, "45");
  Close();
  EXPECT_NE(Tape.str().find(TEmuTape::TwoColumns("СНО", "УСН ДОХОД")), std::string::npos)
      << Tape.str();

  Tape.str("");
  Ok("30", {"4", "1", "Иванов", "1", "0"});
  Ok("48", {"", "100"});
  Close();
  const std::string cashIn = Tape.str();
  EXPECT_NE(cashIn.find("ВНЕСЕНИЕ"), std::string::npos) << cashIn;
  EXPECT_EQ(cashIn.find("ФД "), std::string::npos) << "no fiscal document number:\n" << cashIn;
  EXPECT_EQ(cashIn.find("ФП "), std::string::npos) << "no fiscal sign:\n" << cashIn;

  Ok("21", {"Иванов"});
  Tape.str("");
  Ok("20");
  const std::string closed = Tape.str();
  EXPECT_NE(closed.find("СМЕНА НЕ ОТКРЫТА"), std::string::npos) << closed;
  EXPECT_NE(closed.find(TEmuTape::TwoColumns("ПОСЛЕДНЯЯ СМЕНА", "1 ЗАКРЫТА")), std::string::npos)
      << closed;
  EXPECT_EQ(closed.find("ПРИХОД"), std::string::npos) << "the closed shift's sales:\n" << closed;

  Restart();
  Tape.str("");
  Ok("20");
  EXPECT_NE(Tape.str().find("СМЕНА НЕ ОТКРЫТА"), std::string::npos) << Tape.str();
  EXPECT_EQ(Tape.str().find("СМЕНА 0"), std::string::npos) << Tape.str();
}
