// The fiscal host wrappers in process: the device is selected before any
// argument is read, the arguments reach the operation converted as the host
// interface prescribes, out-arguments come back as host values, and failures
// are reported with the EquException's code or 1001.
#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "device/uEquipmentErrors.h"
#include "driver/uEcrDriver4004.h"
#include "driver/uXmlUtils.h"
#include "tests/driver/DriverTestSupport.h"

namespace {

const char kDevice[] = "0F8A3C2E-1B4D-4E5F-9A6B-7C8D9E0F1A2B";

// A fiscal driver whose operations record what they were given and do what
// the test scripts: write an output, or raise.
class TScriptedDriver : public TEcrlDriver {
 public:
  std::vector<std::string> Selected;
  std::vector<std::string> Calls;
  std::optional<EquException> RaiseEqu;
  std::optional<std::runtime_error> RaiseOther;

  bool LastElectronically = false;
  bool LastIsCorrection = true;
  std::string LastInputRoot;
  int64_t LastAmount = 0;
  uint8_t LastOperationType = 0;
  int32_t LastInt = 0;
  std::string LastText;
  int64_t LineLength = 0;

  int32_t GetInterfaceRevision() override { return 4004; }
  void SelectDevice(const std::string& ADeviceID) override {
    Selected.push_back(ADeviceID);
    if (ADeviceID != kDevice) throw std::runtime_error("unknown device " + ADeviceID);
  }

  void GetDataKKT(pugi::xml_document& Out) override {
    Run("GetDataKKT");
    Out.append_child("TableParametersKKT").append_attribute("KKTNumber") = "0001";
  }
  void OperationFN(uint8_t Type, const pugi::xml_document& In) override {
    LastOperationType = Type;
    Input(In);
    Run("OperationFN");
  }
  void OpenShift(const pugi::xml_document& In, pugi::xml_document& Out) override {
    Input(In);
    Run("OpenShift");
    Out.append_child("OutputParameters")
        .append_child("Parameters")
        .append_attribute("ShiftNumber") = 7;
  }
  void CloseShift(const pugi::xml_document& In, pugi::xml_document&) override {
    Input(In);
    Run("CloseShift");
  }
  void ProcessCheck(bool Electronically, const pugi::xml_document& In, pugi::xml_document& Out,
                    bool IsCorrection) override {
    LastElectronically = Electronically;
    LastIsCorrection = IsCorrection;
    Input(In);
    Run("ProcessCheck");
    Out.append_child("DocumentOutputParameters");
  }
  void ProcessCorrectionCheck(bool Electronically, const pugi::xml_document& In,
                              pugi::xml_document&) override {
    LastElectronically = Electronically;
    Input(In);
    Run("ProcessCorrectionCheck");
  }
  void PrintTextDocument(const pugi::xml_document& In) override {
    Input(In);
    Run("PrintTextDocument");
  }
  void CashInOutcome(const pugi::xml_document& In, int64_t Amount) override {
    Input(In);
    LastAmount = Amount;
    Run("CashInOutcome");
  }
  void PrintXReport(const pugi::xml_document& In) override {
    Input(In);
    Run("PrintXReport");
  }
  void GetCurrentStatus(const pugi::xml_document& In, pugi::xml_document&) override {
    Input(In);
    Run("GetCurrentStatus");
  }
  void ReportCurrentStatusOfSettlements(const pugi::xml_document& In,
                                        pugi::xml_document&) override {
    Input(In);
    Run("ReportCurrentStatusOfSettlements");
  }
  void OpenCashDrawer() override { Run("OpenCashDrawer"); }
  void GetLineLength(int64_t& Length) override {
    Run("GetLineLength");
    Length = LineLength;
  }
  void PrintCheckCopy(const std::string& Number) override {
    LastText = Number;
    Run("PrintCheckCopy");
  }
  void OpenSessionRegistrationKM() override { Run("OpenSessionRegistrationKM"); }
  void CloseSessionRegistrationKM() override { Run("CloseSessionRegistrationKM"); }
  void RequestKM(const pugi::xml_document& In, pugi::xml_document&) override {
    Input(In);
    Run("RequestKM");
  }
  void GetProcessingKMResult(pugi::xml_document& Out, int32_t& Status) override {
    Run("GetProcessingKMResult");
    Out.append_child("ProcessingKMResult");
    Status = 2;
  }
  void ConfirmKM(const std::string& Guid, int32_t Type) override {
    LastText = Guid;
    LastInt = Type;
    Run("ConfirmKM");
  }
  void SetDateTime(const std::string& Text) override {
    LastText = Text;
    Run("SetDateTime");
  }
  void GetDateTime(std::string& Text) override {
    Run("GetDateTime");
    Text = "2024-02-01T09:05:03";
  }
  void GetDocumentInformation(int32_t Number, pugi::xml_document&) override {
    LastInt = Number;
    Run("GetDocumentInformation");
  }

 private:
  void Input(const pugi::xml_document& In) { LastInputRoot = In.document_element().name(); }
  void Run(const char* Name) {
    Calls.push_back(Name);
    if (RaiseEqu) throw *RaiseEqu;
    if (RaiseOther) throw *RaiseOther;
  }
};

class EcrDriverTest : public ::testing::Test {
 protected:
  EcrDriverTest() { Driver.V8MM = &Memory; }
  void TearDown() override {
    EXPECT_EQ(Memory.Live(), 0) << "a host block was left behind";
    EXPECT_EQ(Memory.BadFrees(), 0) << "a host block was freed twice";
  }
  // A host method as the registry runs it.
  bool Call(std::string_view Method, V8Variant* Result, TParamArray& Args) {
    return Driver.CallHostMethod(Method, Result, Args.Data(), Args.Count());
  }
  TTestMemoryManager Memory;
  TScriptedDriver Driver;
};

TEST(FiscalArgumentConversionTest, AmountBecomesTenThousandthsRoundedHalfToEven) {
  EXPECT_EQ(AmountToTenThousandths(12.34), 123400);
  EXPECT_EQ(AmountToTenThousandths(0.1), 1000);
  EXPECT_EQ(AmountToTenThousandths(-5.5), -55000);
  // 1/32 and 3/32 are exact binary fractions whose products end in exactly .5.
  EXPECT_EQ(AmountToTenThousandths(0.03125), 312) << "a tie rounds to the even neighbour";
  EXPECT_EQ(AmountToTenThousandths(0.09375), 938) << "a tie rounds to the even neighbour";
  EXPECT_THROW(AmountToTenThousandths(1e300), std::runtime_error);
  EXPECT_THROW(AmountToTenThousandths(std::numeric_limits<double>::quiet_NaN()),
               std::runtime_error);
}

TEST(FiscalArgumentConversionTest, OperationTypeAndLineLengthKeepTheLowBits) {
  EXPECT_EQ(OperationTypeByte(0x1FF), 0xFF);
  EXPECT_EQ(OperationTypeByte(2), 2);
  EXPECT_EQ(OperationTypeByte(-1), 0xFF);
  EXPECT_EQ(LineLengthForHost(48), 48);
  EXPECT_EQ(LineLengthForHost((int64_t{1} << 32) + 48), 48);
}

TEST_F(EcrDriverTest, SelectsTheDeviceBeforeReadingAnyArgument) {
  TParamArray p(Driver, Memory, 4);
  p.Text(0, "no such device").Bool(1, true).Text(2, "<not xml").Text(3, "");
  EXPECT_TRUE(Call("ProcessCheck", &p.Result, p));
  EXPECT_FALSE(p.Result.bVal);
  EXPECT_EQ(Driver.LastResult().ErrorDescription, "unknown device no such device")
      << "the selection error must win over the malformed package";
  EXPECT_EQ(Driver.LastResult().GetIntResult(), 1001);
  EXPECT_TRUE(Driver.Calls.empty()) << "the operation must not run";
  EXPECT_EQ(p.TextAt(3), "") << "an out-argument not reached keeps what the host passed";
}

TEST_F(EcrDriverTest, ProcessCheckPassesTheFlagThePackageAndNoCorrection) {
  TParamArray p(Driver, Memory, 4);
  p.Text(0, kDevice).Int(1, 1).Text(2, "<CheckPackage/>");
  EXPECT_TRUE(Call("ProcessCheck", &p.Result, p));
  ASSERT_EQ(p.Result.vt, VTYPE_BOOL);
  EXPECT_TRUE(p.Result.bVal) << Driver.LastResult().ErrorDescription;
  EXPECT_TRUE(Driver.LastElectronically);
  EXPECT_FALSE(Driver.LastIsCorrection);
  EXPECT_EQ(Driver.LastInputRoot, "CheckPackage");
  EXPECT_EQ(p.TextAt(3), "<?xml version=\"1.0\"?><DocumentOutputParameters/>");
  EXPECT_EQ(Driver.LastResult().GetIntResult(), 0);
}

TEST_F(EcrDriverTest, MalformedXmlAfterSelectionFailsNamingTheDocument) {
  TParamArray p(Driver, Memory, 3);
  p.Text(0, kDevice).Text(1, "<InputParameters><Parameters></InputParameters>");
  EXPECT_TRUE(Call("OpenShift", &p.Result, p));
  EXPECT_FALSE(p.Result.bVal);
  EXPECT_EQ(Driver.Selected, std::vector<std::string>{kDevice});
  EXPECT_TRUE(Driver.Calls.empty());
  EXPECT_EQ(Driver.LastResult().ErrorCode, 1001);
  EXPECT_EQ(Driver.LastResult().ErrorDescription,
            "Ошибка разбора XML (входные параметры открытия смены): закрывающий тег не "
            "соответствует открывающему, строка 1, позиция 32");
}

TEST_F(EcrDriverTest, DeviceErrorsKeepTheirCodeOtherErrorsReport1001) {
  {
    Driver.RaiseEqu = EquException(3005, "Смена закрыта");
    TParamArray p(Driver, Memory, 2);
    p.Text(0, kDevice).Text(1, "<InputParameters/>");
    Call("PrintXReport", &p.Result, p);
    EXPECT_FALSE(p.Result.bVal);
    EXPECT_EQ(Driver.LastResult().GetIntResult(), 3005);
    EXPECT_EQ(Driver.LastResult().ErrorDescription, "Смена закрыта");
  }
  {
    Driver.RaiseEqu.reset();
    Driver.RaiseOther = std::runtime_error("Устройство не включено");
    TParamArray p(Driver, Memory, 1);
    p.Text(0, kDevice);
    Call("OpenCashDrawer", &p.Result, p);
    EXPECT_FALSE(p.Result.bVal);
    EXPECT_EQ(Driver.LastResult().GetIntResult(), 1001);
    EXPECT_EQ(Driver.LastResult().ErrorDescription, "Устройство не включено");
  }
  {
    Driver.RaiseOther.reset();
    TParamArray p(Driver, Memory, 1);
    p.Text(0, kDevice);
    Call("OpenCashDrawer", &p.Result, p);
    EXPECT_TRUE(p.Result.bVal);
    EXPECT_EQ(Driver.LastResult().GetIntResult(), 0);
    EXPECT_EQ(Driver.LastResult().ErrorDescription, "");
  }
}

TEST_F(EcrDriverTest, NumbersAndTextsReachTheOperationsConverted) {
  {
    TParamArray p(Driver, Memory, 3);
    p.Text(0, kDevice).Text(1, "<InputParameters/>").Double(2, 12.34);
    Call("CashInOutcome", &p.Result, p);
    EXPECT_TRUE(p.Result.bVal) << Driver.LastResult().ErrorDescription;
    EXPECT_EQ(Driver.LastAmount, 123400);
    Driver.V8SetInt64(&p[2], 12);
    Call("CashInOutcome", &p.Result, p);
    EXPECT_EQ(Driver.LastAmount, 120000) << "an amount sent as a 64-bit integer";
  }
  {
    TParamArray p(Driver, Memory, 3);
    p.Text(0, kDevice).Int(1, 0x102).Text(2, "<ParametersFiscal/>");
    Call("OperationFN", &p.Result, p);
    EXPECT_EQ(Driver.LastOperationType, 2);
    EXPECT_EQ(Driver.LastInputRoot, "ParametersFiscal");
  }
  {
    TParamArray p(Driver, Memory, 3);
    p.Text(0, kDevice).Text(1, "3F2504E0-4F89-11D3-9A0C-0305E82C3301").Text(2, "1");
    Call("ConfirmKM", &p.Result, p);
    EXPECT_EQ(Driver.LastText, "3F2504E0-4F89-11D3-9A0C-0305E82C3301");
    EXPECT_EQ(Driver.LastInt, 1) << "a number sent as text counts as the number it spells";
  }
  {
    TParamArray p(Driver, Memory, 2);
    p.Text(0, kDevice).Text(1, "Чек 15");
    Call("PrintCheckCopy", &p.Result, p);
    EXPECT_EQ(Driver.LastText, "Чек 15");
  }
}

TEST_F(EcrDriverTest, OutArgumentsComeBackAsHostValues) {
  {
    Driver.LineLength = (int64_t{1} << 32) + 48;
    TParamArray p(Driver, Memory, 2);
    p.Text(0, kDevice);
    Call("GetLineLength", &p.Result, p);
    ASSERT_EQ(p[1].vt, VTYPE_I4);
    EXPECT_EQ(p[1].lVal, 48);
  }
  {
    TParamArray p(Driver, Memory, 3);
    p.Text(0, kDevice);
    Call("GetProcessingKMResult", &p.Result, p);
    EXPECT_EQ(p.TextAt(1), "<?xml version=\"1.0\"?><ProcessingKMResult/>");
    ASSERT_EQ(p[2].vt, VTYPE_I4);
    EXPECT_EQ(p[2].lVal, 2);
  }
  {
    TParamArray p(Driver, Memory, 2);
    p.Text(0, kDevice);
    Call("GetDateTime", &p.Result, p);
    EXPECT_EQ(p.TextAt(1), "2024-02-01T09:05:03");
  }
  {
    TParamArray p(Driver, Memory, 2);
    p.Text(0, kDevice);
    Call("GetDataKKT", &p.Result, p);
    EXPECT_EQ(p.TextAt(1), "<?xml version=\"1.0\"?><TableParametersKKT KKTNumber=\"0001\"/>");
  }
}

TEST_F(EcrDriverTest, AProcedureCallRunsWithoutAResultValue) {
  TParamArray p(Driver, Memory, 3);
  p.Text(0, kDevice).Text(1, "<InputParameters/>");
  EXPECT_TRUE(Call("OpenShift", nullptr, p));
  EXPECT_EQ(Driver.Calls, std::vector<std::string>{"OpenShift"});
  EXPECT_NE(p.TextAt(2).find("ShiftNumber=\"7\""), std::string::npos);
}

TEST_F(EcrDriverTest, RefusedHostMemoryIsAFailureNotASilentSuccess) {
  TParamArray p(Driver, Memory, 3);
  p.Text(0, kDevice).Text(1, "<InputParameters/>");
  Memory.Refuse = true;
  Call("OpenShift", &p.Result, p);
  Memory.Refuse = false;
  EXPECT_FALSE(p.Result.bVal);
  EXPECT_EQ(Driver.LastResult().GetIntResult(), 1001);
  EXPECT_EQ(Driver.LastResult().ErrorDescription,
            "Платформа не выделила память для возвращаемого значения");
}

TEST_F(EcrDriverTest, AnEightBitDeviceIdentifierReadsAsEmpty) {
  TParamArray p(Driver, Memory, 1);
  char bytes[] = "0F8A3C2E-1B4D-4E5F-9A6B-7C8D9E0F1A2B";
  p[0].vt = VTYPE_PSTR;
  p[0].pstrVal = bytes;
  p[0].strLen = sizeof bytes - 1;
  Call("OpenCashDrawer", &p.Result, p);
  p[0] = V8Variant{};  // the bytes are the test's, not the host memory's
  EXPECT_EQ(Driver.Selected, std::vector<std::string>{""});
  EXPECT_FALSE(p.Result.bVal);
}

TEST_F(EcrDriverTest, TooFewArgumentsAreReportedNotRead) {
  TParamArray p(Driver, Memory, 1);
  p.Text(0, kDevice);
  Call("OpenShift", &p.Result, p);
  EXPECT_FALSE(p.Result.bVal);
  EXPECT_EQ(Driver.LastResult().ErrorDescription, "Не передан параметр номер 2");
}

}  // namespace
