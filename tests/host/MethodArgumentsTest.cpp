// The argument table that quarnel-host shows and checks calls against, held
// against the add-in itself: a method without its row, or a row whose count
// is not the add-in's, would mislead every user of the host.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "driver/uMethodArguments.h"
#include "support/TestHost.h"

namespace {

TEST(MethodArguments, EveryMethodOfTheAddInHasItsRowWithTheAddInsCount) {
  TTestHost host;
  const long methods = host.Lang()->GetNMethods();
  ASSERT_EQ(methods, 37);
  std::set<std::string> named;
  for (long i = 0; i < methods; ++i) {
    const std::string name = host.MethodName(i, 0);
    named.insert(name);
    const TMethodSignature* row = FindMethodSignature(name);
    ASSERT_NE(row, nullptr) << name << " has no row of arguments";
    EXPECT_EQ(row->Count(), host.Lang()->GetNParams(i)) << name;
    for (int a = 0; a < row->Count(); ++a) {
      const TMethodArgument& arg = row->Args[a];
      // An XML document the method reads is named in its parse message.
      const bool readXml = arg.Direction == TArgDirection::adIn && arg.Type == TArgType::atXml;
      EXPECT_EQ(readXml, arg.Caption != nullptr) << name << " argument " << a;
    }
  }
  for (const TMethodSignature& row : method_arguments::kSignatures)
    EXPECT_TRUE(named.count(row.Method)) << row.Method << " is no method of the add-in";
}

}  // namespace
