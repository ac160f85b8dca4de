// The driver's stored-document readout against the virtual register: every
// document the register stored reads back through GetDocumentFromFN as the
// emulator's own reader decodes it, element for element (amounts past 32
// bits and a marking code included), and the receipt package says the same.
#include <pugixml.hpp>

#include "emulator/driver/EmuDriverFixture.h"
#include "emulator/driver/EmuFnReadout.h"

namespace {

class EmuDriverReadout : public EmuDriverTest {};
EMU_DRIVER_LINKS(EmuDriverReadout);

TEST_P(EmuDriverReadout, StoredDocumentsReadBackAsTheRegisterStoredThem) {
  StartRegister("1.2");
  Connect();
  Dev().OpenDay("Иванов");
  const std::string code = "0104601234567890215abcDEF$1D93abcd";
  Dev().RunCommand("79", {"1", code, "0", "1", "1", "0", "0"}, 30000);
  Dev().RunCommand("79", {"2", "1"}, 15000);
  Dev().OpenDocument(2, 1, "Иванов", 1, 0);
  Dev().RunCommand("79", {"15", code, "1", "0", "15", "0"}, 15000);
  SellItem("Шуба", 1, 300000000000, 3);  // 30 000 000.00: past a 32-bit kopeck count
  SellItem("Хлеб", 0.5, 600000, 1, "@4601234567890");
  Dev().SubTotal();
  Dev().Payment(1, 300000000000, "");
  Dev().Payment(0, 300000, "");
  CloseReceipt();
  const int last = Reg().LastDocumentNumber();

  for (int number = 0; number <= last; ++number) {
    SCOPED_TRACE("document " + std::to_string(number));
    const fn_readout::TDocument expected = fn_readout::Read(Dev(), number == 0 ? last : number);
    pugi::xml_document out;
    ASSERT_EQ(ErrorOf([&] { Dev().GetDocumentFromFN(number, out); }), "");
    const auto& elements = Dev().DocElementList();
    ASSERT_EQ(elements.size(), expected.Elements.size());
    for (size_t i = 0; i < elements.size(); ++i) {
      EXPECT_EQ(elements[i].Tag, expected.Elements[i].Tag) << i;
      EXPECT_EQ(elements[i].Value, expected.Elements[i].Value) << "tag " << elements[i].Tag;
      EXPECT_EQ(elements[i].TagSection, expected.Elements[i].TagSection) << elements[i].Tag;
    }
    const pugi::xml_node root = out.child("CheckPackage");
    EXPECT_EQ(root.child("Parameters").attribute("DocumentType").as_int(), expected.DocumentType);
    for (const auto& [name, value] : expected.Parameters)
      EXPECT_EQ(root.child("Parameters").attribute(name.c_str()).value(), value) << name;
    for (const auto& [name, value] : expected.Payments)
      EXPECT_EQ(root.child("Payments").attribute(name.c_str()).value(), value) << name;
    size_t index = 0;
    for (pugi::xml_node p : root.child("Positions").children("FiscalString")) {
      ASSERT_LT(index, expected.Positions.size());
      for (const auto& [name, value] : expected.Positions[index])
        EXPECT_EQ(p.attribute(name.c_str()).value(), value) << name;
      ++index;
    }
    EXPECT_EQ(index, expected.Positions.size());
  }
}

}  // namespace
