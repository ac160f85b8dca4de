// The registry and the dispatcher linked in directly: registration order,
// the class-name list, default parameter values and the argument text.
#include <gtest/gtest.h>

#include "hostbridge/uClassReg.h"
#include "hostbridge/uV8Dispatch.h"
#include "hostbridge/uV8Values.h"
#include "support/TestHost.h"

namespace {

class TPlain : public TV8UserObject {
 public:
  bool Run(V8Variant* RetValue, V8Variant*, long Count, TV8AddInDefBaseEx*) {
    if (RetValue != nullptr) V8SetInt(RetValue, static_cast<int32_t>(Count));
    return true;
  }
};

TEST(ClassRegTest, ClassNameListJoinsNamesInRegistrationOrder) {
  TClassRegList list;
  EXPECT_EQ(std::u16string(list.ClassNames()), u"");
  list.RegisterClass<TPlain>("ext", "one");
  EXPECT_EQ(std::u16string(list.ClassNames()), u"one");
  list.RegisterClass<TPlain>("ext", "two");
  EXPECT_EQ(std::u16string(list.ClassNames()), u"one|two");
  EXPECT_EQ(list.ClassCount(), 2);
  EXPECT_EQ(list.FindClass(u"two"), &list.Class(1));
  EXPECT_EQ(list.FindClass(u"One"), nullptr);
}

TEST(ClassRegTest, MethodNumbersFollowTheTableOrder) {
  TClassRegList list;
  TClassReg& reg = list.RegisterClass<TPlain>("ext", "plain");
  static const TMethDef table[] = {
      {"B", "Б", 1, V8Func<&TPlain::Run>},
      {"A", "А", 0, V8Func<&TPlain::Run>},
  };
  reg.AddFuncs(table);
  EXPECT_EQ(reg.MethCount(), 2);
  EXPECT_EQ(reg.FindMethod(u"B"), 0);
  EXPECT_EQ(reg.FindMethod(u"А"), 1);
  EXPECT_EQ(reg.Method(0).ParamCount, 1);
  EXPECT_TRUE(reg.Method(1).IsFunction);
  EXPECT_EQ(reg.Method(1).DefParams.ValueCount(), 0);
}

TEST(ClassRegTest, DefaultParameterNumbersAreOneBasedOnEntry) {
  TDefParamList defs;
  defs.AddInt(5, 1);
  defs.AddBool(true, 2);
  ASSERT_EQ(defs.ValueCount(), 2);
  EXPECT_EQ(defs.Values[0].ParamNum, 0);
  EXPECT_EQ(defs.Values[1].ParamNum, 1);
  EXPECT_EQ(defs.TempParam, &defs.Values[1].Value);
  EXPECT_EQ(defs.TempParam->vt, VTYPE_BOOL);
  defs.AddAString("abc", 3);
  EXPECT_EQ(defs.TempParam->strLen, 3u);
}

TEST(ClassRegTest, ArgumentTextOfTheTrace) {
  EXPECT_EQ(V8ParamsText(nullptr, 0), "[]");
  TTestMemoryManager memory;
  TPlain obj;
  obj.V8MM = &memory;
  V8Variant params[3]{};
  obj.V8SetWString(&params[0], "abc");
  obj.V8SetInt(&params[1], 5);
  obj.V8SetBlob(&params[2], "\x01", 1);
  EXPECT_EQ(V8ParamsText(params, 2), "[abc; 5]");
  EXPECT_EQ(V8ParamsText(params, 3), "[abc; 5; BLOB]");
  params[2].vt |= VTYPE_BYREF;
  EXPECT_THROW(V8ParamsText(params, 3), EV8UnsupportedType)
      << "only a plain blob is written as BLOB";
  params[2].vt = VTYPE_BLOB;
  for (V8Variant& v : params) obj.V8ClearVar(&v);
  EXPECT_EQ(memory.Live(), 0);
}

}  // namespace
