// The built-in data: the parameters description as the host's equipment
// library reads it, and the string table with its substitutions.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "resources/uResources.h"

namespace {

struct TParam {
  std::string Page, Group, Name, TypeValue, DefaultValue;
  std::vector<std::pair<std::string, std::string>> Choices;
  pugi::xml_node Node;
};

std::vector<TParam> ReadParameters(const pugi::xml_document& doc) {
  std::vector<TParam> result;
  const auto add = [&](pugi::xml_node page, pugi::xml_node group, pugi::xml_node p) {
    TParam param{page.attribute("Caption").value(),
                 group.attribute("Caption").value(),
                 p.attribute("Name").value(),
                 p.attribute("TypeValue").value(),
                 p.attribute("DefaultValue").value(),
                 {},
                 p};
    for (pugi::xml_node item : p.child("ChoiceList").children("Item"))
      param.Choices.emplace_back(item.attribute("Value").value(), item.text().get());
    result.push_back(param);
  };
  for (pugi::xml_node page : doc.child("Settings").children("Page")) {
    for (pugi::xml_node p : page.children("Parameter")) add(page, {}, p);
    for (pugi::xml_node group : page.children("Group"))
      for (pugi::xml_node p : group.children("Parameter")) add(page, group, p);
  }
  return result;
}

class ParametersResourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string_view text = ParametersResource();
    const auto parsed = Doc.load_buffer(text.data(), text.size());
    ASSERT_TRUE(parsed) << parsed.description();
    Params = ReadParameters(Doc);
  }
  const TParam& Find(const std::string& name) {
    for (const TParam& p : Params)
      if (p.Name == name) return p;
    throw std::runtime_error("no parameter " + name);
  }
  pugi::xml_document Doc;
  std::vector<TParam> Params;
};

TEST_F(ParametersResourceTest, FourPagesOfTwelveParametersInTheirOrder) {
  std::vector<std::string> pages;
  for (pugi::xml_node page : Doc.child("Settings").children("Page"))
    pages.push_back(page.attribute("Caption").value());
  EXPECT_EQ(pages, (std::vector<std::string>{"Параметры", "Настройки печати", "Настройка лога",
                                             "Служебные"}));
  std::vector<std::string> names;
  for (const TParam& p : Params) names.push_back(p.Name);
  EXPECT_EQ(names, (std::vector<std::string>{
                       "PortNumber", "BaudRate", "ConnectionPassword", "IPAddress", "IPPort",
                       "FontNumber", "ReceiptTextAvailable", "CutString", "EnablePrinting",
                       "EnableReportPrinting", "LogEnabled", "SingleCommand"}));
  EXPECT_EQ(Find("SingleCommand").Group, "") << "the last page holds its parameter directly";
  EXPECT_EQ(Find("PortNumber").Group, "Параметры подключения");
}

TEST_F(ParametersResourceTest, PortNumberOffersTcpFirstThenComPorts) {
  const TParam& port = Find("PortNumber");
  EXPECT_EQ(port.TypeValue, "Number");
  EXPECT_EQ(port.DefaultValue, "1");
  ASSERT_EQ(port.Choices.size(), 129u);
  EXPECT_EQ(port.Choices[0], (std::pair<std::string, std::string>{"9999", "TCP/IP"}));
  for (int n = 1; n <= 128; ++n)
    EXPECT_EQ(port.Choices[n],
              (std::pair<std::string, std::string>{std::to_string(n), "COM" + std::to_string(n)}));
}

TEST_F(ParametersResourceTest, ChoicesDefaultsAndFlags) {
  EXPECT_EQ(Find("BaudRate").Choices.size(), 8u);
  EXPECT_EQ(Find("BaudRate").Choices.back().first, "115200");
  EXPECT_EQ(Find("BaudRate").DefaultValue, "57600");
  EXPECT_EQ(Find("FontNumber").Choices.size(), 7u);
  EXPECT_EQ(Find("FontNumber").Choices[2].second, "2 (Шрифт 13х24 жирный)");
  EXPECT_EQ(Find("EnableReportPrinting").Choices,
            (std::vector<std::pair<std::string, std::string>>{{"0", "Печатать отчеты"},
                                                              {"2", "Не печатать отчеты"}}));
  EXPECT_EQ(Find("ConnectionPassword").DefaultValue, "KVNT");
  EXPECT_EQ(Find("IPPort").DefaultValue, "50003");
  EXPECT_EQ(Find("CutString").DefaultValue, "[cut]");
  EXPECT_EQ(Find("LogEnabled").DefaultValue, "false");
  const pugi::xml_node text = Find("ReceiptTextAvailable").Node;
  EXPECT_STREQ(text.attribute("ReadOnly").value(), "true");
  EXPECT_STREQ(text.attribute("Description").value(),
               "Поддержка печати произвольного текста в чеке");
  EXPECT_STREQ(Find("SingleCommand").Node.attribute("ReadOnly").value(), "true");
  EXPECT_FALSE(Find("PortNumber").Node.attribute("ReadOnly"));
}

TEST(StringTableTest, MessagesAreStoredByteForByte) {
  // The Latin "c" in "c идентификатором" is part of the message.
  EXPECT_EQ(ResFormat("DeviceNotFound", {"X"}),
            "Экземпляр устройства c идентификатором X не существует или уже был отключен");
  EXPECT_EQ(ResString("DeviceIdMissing"), "Не передан идентификатор устройства");
  EXPECT_EQ(ResString("DriverName"), "Драйвер ККТ онлайн Велмор");
  EXPECT_EQ(ResString("DriverDescription"),
            "Драйвер ККТ онлайн Велмор 1С:Совместимо для 1С:БПО NativeAPI");
  EXPECT_EQ(ResFormat("PropertyNotFoundInSource", {"PortNumber"}),
            "Property \"PortNumber\" not found in Source object.");
  EXPECT_THROW(ResString("NoSuchMessage"), std::out_of_range);
}

TEST(StringTableTest, SubstitutionInsertsArgumentsAsTheyAre) {
  EXPECT_EQ(FormatText("%s. %s", {"a", "b"}), "a. b");
  EXPECT_EQ(FormatText("[%s]", {"%s"}), "[%s]") << "an argument is not expanded again";
  EXPECT_EQ(FormatText("%s and %s", {"one"}), "one and %s");
  EXPECT_EQ(FormatText("no marks", {"x"}), "no marks");
}

}  // namespace
