// A register whose stored document never ends, through the real library on
// both links: the readout stops at its record cap, and the log of a call that
// exchanges bytes without end keeps its byte dumps to the per-call cap and
// says how much it left out.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "fiscal/EmuHostFixture.h"

namespace {

class ReadoutBoundsScenarioTest : public EmuHostTest {
 protected:
  // Any stored document is announced as ATotal bytes and handed over as
  // ARecord, again and again.
  void StoreEndlessly(int64_t ATotal, const std::string& ARecord) {
    Bench().Intercept([=](const std::string& ACommand,
                          const std::vector<std::string>& AArgs) -> std::optional<TEmuAnswer> {
      if (ACommand != "78" || AArgs.empty()) return std::nullopt;
      if (AArgs[0] == "15") return TEmuAnswer{0, {"15", "3", std::to_string(ATotal)}};
      if (AArgs[0] == "16") return TEmuAnswer{0, {BytesToHex(ARecord)}};
      return std::nullopt;
    });
  }
};

TEST_P(ReadoutBoundsScenarioTest, ADocumentHandedOverInCrumbsStopsAtTheRecordCap) {
  const std::string id = Connect();
  // A tag the table does not hold: each record is skipped, none is wrong.
  StoreEndlessly(1024 * 1024, std::string("\x0F\x27", 2));
  Bench().ClearCommands();
  THostError e = Failure("GetDocumentInformation", {id, 1, THostArg::Empty()});
  EXPECT_EQ(e.Text,
            "Ошибка чтения данных из ФН. Документ не уместился в 10000 записей: касса передаёт "
            "его слишком мелкими частями");
  EXPECT_EQ(Bench().Calls("78").size(), 10001u) << "the start, then the records up to the cap";
  Bench().Intercept(nullptr);
  EXPECT_TRUE(Host.Call("OpenCashDrawer", {id}).Bool())
      << "the next call works: " << LastError().Text;
}

TEST_P(ReadoutBoundsScenarioTest, ByteDumpsOfOneCallStopAtTheCapAndTheRestIsCounted) {
  const std::string id = Connect({{"LogEnabled", "true"}});
  // 30 records of 30000 bytes, each answer 60000 hexadecimal characters.
  StoreEndlessly(30 * 30000, std::string("\x0F\x27\x2C\x75", 4) + std::string(29996, 'x'));
  TCallResult r = Host.Call("GetDocumentInformation", {id, 1, THostArg::Empty()});
  ASSERT_TRUE(r.Bool()) << LastError().Text;
  const std::string log = DataDir.ReadLogs();
  EXPECT_NE(log.find("\tLog: \tbyte dumps of this call reached 1048576 bytes"), std::string::npos);
  const size_t note = log.find("\tLog: \tbyte dumps of this call not written: ");
  ASSERT_NE(note, std::string::npos) << "what was left out is counted";
  EXPECT_NE(log.find(" lines, ", note), std::string::npos);
  // Each byte is three characters: 1 MiB of dumps, the rest of the call's lines.
  EXPECT_LT(log.size(), 3u * 1024 * 1024 + 256 * 1024) << "uncapped, the dumps alone are 5 MB";
  ASSERT_TRUE(Host.Call("OpenCashDrawer", {id}).Bool()) << LastError().Text;
  EXPECT_NE(DataDir.ReadLogs().find("-> ", log.size()), std::string::npos)
      << "the next call's dumps are written again";
}

EMU_HOST_LINKS(ReadoutBoundsScenarioTest);

}  // namespace
