// The driver's stored-document readout against the virtual register: every
// document the register stored reads back through GetDocumentFromFN record
// for record in the order the register stored them, each field marked as an
// item's where it sits in one (amounts past 32 bits and a marking code
// included), and the receipt package names each field as the host's format
// does: a receipt paid in every kind, each with its own sum, so no two kinds
// can trade places unseen.
#include <pugixml.hpp>

#include "emulator/driver/EmuDriverFixture.h"
#include "emulator/register/uEmuTlv.h"
#include "fiscal/uCheckPackage.h"

namespace {

// A stored field: its tag and whether it belongs to an item (it sits in a
// 1059 item or its 1163 product code).
using TStoredField = std::pair<int32_t, bool>;

// The fields (records that are no container) of a stored TLV sequence as
// the register's own encoder laid them out, containers opened in place; a
// top-level record of a tag the format does not know is no field.
void StoredFields(std::string_view ABytes, int32_t AParent, std::vector<TStoredField>& AOut) {
  std::vector<TEmuTlvRecord> records;
  ASSERT_TRUE(SplitTlv(ABytes, records)) << "the register stored a sequence that does not split";
  for (const TEmuTlvRecord& r : records) {
    const TTLVTag* entry = FindTLVTag(r.Tag);
    if (entry != nullptr && entry->DataType == tdtSTLV)
      StoredFields(r.Value, r.Tag, AOut);
    else if (entry != nullptr || AParent != 0)
      AOut.emplace_back(r.Tag, AParent == 1059 || AParent == 1163);
  }
}

class EmuDriverReadout : public EmuDriverTest {};
EMU_DRIVER_LINKS(EmuDriverReadout);

// The attributes of a node, as "name=value" lines in their order.
std::string Attributes(const pugi::xml_node& ANode) {
  std::string text;
  for (const pugi::xml_attribute a : ANode.attributes())
    text += std::string(a.name()) + "=" + a.value() + "\n";
  return text;
}

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
  // Electronic, prepayment, credit (post-payment), counter-provision, cash.
  Dev().Payment(1, 299990000000, "");
  Dev().Payment(13, 5000000, "");
  Dev().Payment(14, 3000000, "");
  Dev().Payment(15, 2000000, "");
  Dev().Payment(0, 300000, "");
  CloseReceipt();
  const int last = Reg().LastDocumentNumber();

  const TEmuState state = Reg().Snapshot();
  for (int number = 0; number <= last; ++number) {
    SCOPED_TRACE("document " + std::to_string(number));
    const TEmuFnDocument& stored = state.FnDocuments.at((number == 0 ? last : number) - 1);
    std::vector<TStoredField> expected;
    StoredFields(stored.Tlv.Data, 0, expected);
    pugi::xml_document out;
    ASSERT_EQ(ErrorOf([&] { ReadCheckPackage(Dev(), number, out); }), "");
    std::vector<TStoredField> fields;
    for (const TDocElement& e : Dev().DocElementList())
      if (e.DataType != tdtSTLV) fields.emplace_back(e.Tag, e.TagSection);
    EXPECT_EQ(fields, expected);
    const pugi::xml_node root = out.child("CheckPackage");
    EXPECT_EQ(root.child("Parameters").attribute("DocumentType").as_int(), stored.Type);
    EXPECT_EQ(root.child("Parameters").attribute("DocNumber").as_int(), stored.Number);
  }

  // The receipt (number 0: the last document) as the host reads it.
  pugi::xml_document receipt;
  ReadCheckPackage(Dev(), 0, receipt);
  const pugi::xml_node package = receipt.child("CheckPackage");
  EXPECT_EQ(Attributes(package.child("Payments")),
            "Cash=30\nElectronicPayment=29999000\nPrePayment=500\nPostPayment=300\nBarter=200\n");
  const pugi::xml_node fur = package.child("Positions").child("FiscalString");
  EXPECT_STREQ(fur.attribute("Name").value(), "Шуба");
  EXPECT_STREQ(fur.attribute("Quantity").value(), "1");
  EXPECT_STREQ(fur.attribute("PriceWithDiscount").value(), "30000000");
  EXPECT_STREQ(fur.attribute("AmountWithDiscount").value(), "30000000");
  EXPECT_STREQ(fur.attribute("MarkingCode").value(), Base64Encode("0104601234567890215abcDEF\x1D"
                                                                  "93abcd")
                                                         .c_str())
      << "the bound code, group separator restored";
  const pugi::xml_node bread = fur.next_sibling("FiscalString");
  EXPECT_STREQ(bread.attribute("Name").value(), "Хлеб");
  EXPECT_STREQ(bread.attribute("Quantity").value(), "0.5");
  EXPECT_STREQ(bread.attribute("AmountWithDiscount").value(), "30");
  const pugi::xml_node parameters = package.child("Parameters");
  EXPECT_STREQ(parameters.attribute("CashierName").value(), "Иванов");
  EXPECT_STREQ(parameters.attribute("OperationType").value(), "1");
  EXPECT_EQ(parameters.attribute("DocNumber").as_int(), last);
}

}  // namespace
