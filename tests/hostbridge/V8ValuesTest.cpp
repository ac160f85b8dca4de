// Host values: setters through the host's memory manager, readers and the
// conversions the call trace uses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "common/uCommonUtils.h"
#include "hostbridge/uV8UserObject.h"
#include "hostbridge/uV8Values.h"
#include "support/TestHost.h"

namespace {

class V8ValuesTest : public ::testing::Test {
 protected:
  void SetUp() override { Obj.V8MM = &Memory; }
  void TearDown() override {
    Obj.V8ClearVar(&V);
    EXPECT_EQ(Memory.Live(), 0) << "a host block was not returned";
    EXPECT_EQ(Memory.BadFrees(), 0) << "a host block was freed twice";
  }

  V8Variant Text(std::u16string_view text) {
    V8Variant v{};
    EXPECT_TRUE(Obj.V8SetWString(&v, text));
    return v;
  }

  TTestMemoryManager Memory;
  TV8UserObject Obj;
  V8Variant V{};
};

TEST_F(V8ValuesTest, WideStringSetterAllocatesTextAndTerminator) {
  ASSERT_TRUE(Obj.V8SetWString(&V, u"Привет"));
  EXPECT_EQ(V.vt, VTYPE_PWSTR);
  EXPECT_EQ(V.wstrLen, 6u);
  EXPECT_TRUE(Memory.Owns(V.pwstrVal)) << "text must come from the host's memory manager";
  EXPECT_EQ(std::u16string(V.pwstrVal), u"Привет");
  EXPECT_EQ(V8ToUtf8(&V), "Привет");
}

TEST_F(V8ValuesTest, EmptyWideStringIsATwoByteBlockNotNull) {
  ASSERT_TRUE(Obj.V8SetWString(&V, u""));
  EXPECT_EQ(V.vt, VTYPE_PWSTR);
  EXPECT_EQ(V.wstrLen, 0u);
  ASSERT_NE(V.pwstrVal, nullptr);
  EXPECT_EQ(V.pwstrVal[0], 0);
}

TEST_F(V8ValuesTest, SettersReplaceAndFreeWhatTheValueHeld) {
  V = Text(u"first");
  ASSERT_TRUE(Obj.V8SetInt(&V, 5));
  EXPECT_EQ(Memory.Live(), 0) << "the old text must be returned to the host";
  EXPECT_EQ(V.vt, VTYPE_I4);
  EXPECT_EQ(V.lVal, 5);
  ASSERT_TRUE(Obj.V8SetWString(&V, "second"));
  ASSERT_TRUE(Obj.V8SetWString(&V, "third"));
  EXPECT_EQ(Memory.Live(), 1);
  EXPECT_EQ(Memory.Frees(), 2);
}

// A value that keeps its text or blob type with a null pointer is read by the
// host as a text or a blob.
TEST_F(V8ValuesTest, RefusedAllocationLeavesAnEmptyValueAndReportsFalse) {
  V = Text(u"old");
  Memory.Refuse = true;
  EXPECT_FALSE(Obj.V8SetWString(&V, u"new"));
  EXPECT_EQ(V.vt, VTYPE_EMPTY);
  EXPECT_EQ(V.pwstrVal, nullptr);
  EXPECT_EQ(V8ToWideString(&V), u"") << "a null text reads as empty";
  EXPECT_FALSE(Obj.V8SetString(&V, "x"));
  EXPECT_EQ(V.vt, VTYPE_EMPTY);
  EXPECT_FALSE(Obj.V8SetBlob(&V, "ab", 2));
  EXPECT_EQ(V.vt, VTYPE_EMPTY);
  EXPECT_EQ(HostStringCopy(&Memory, "x"), nullptr);
  Memory.Refuse = false;
}

TEST_F(V8ValuesTest, MissingMemoryManagerMakesTextSettersFail) {
  TV8UserObject orphan;
  EXPECT_FALSE(orphan.V8SetWString(&V, u"x"));
  EXPECT_EQ(HostStringCopy(nullptr, u"x"), nullptr);
  EXPECT_TRUE(orphan.V8SetBool(&V, true));
}

TEST_F(V8ValuesTest, NullTextOrBlobLeavesTheValueUntouched) {
  ASSERT_TRUE(Obj.V8SetInt(&V, 9));
  EXPECT_TRUE(Obj.V8SetPChar(&V, nullptr));
  EXPECT_TRUE(Obj.V8SetBlob(&V, nullptr, 4));
  EXPECT_EQ(V.vt, VTYPE_I4);
  EXPECT_EQ(V.lVal, 9);
}

TEST_F(V8ValuesTest, EightBitAndBlobSettersKeepBytesAndLength) {
  ASSERT_TRUE(Obj.V8SetString(&V, std::string("a\0b", 3)));
  EXPECT_EQ(V.vt, VTYPE_PSTR);
  EXPECT_EQ(V.strLen, 3u);
  EXPECT_EQ(std::memcmp(V.pstrVal, "a\0b\0", 4), 0);
  ASSERT_TRUE(Obj.V8SetBlob(&V, "\xff\x00\x01", 3));
  EXPECT_EQ(V.vt, VTYPE_BLOB);
  EXPECT_EQ(V.strLen, 3u);
  EXPECT_EQ(std::get<std::vector<uint8_t>>(V8ToVariant(&V)), (std::vector<uint8_t>{0xff, 0, 1}));
}

TEST_F(V8ValuesTest, ClearVarZeroesEveryByte) {
  V = Text(u"abc");
  V.cbElements = 7;
  Obj.V8ClearVar(&V);
  const V8Variant zero{};
  EXPECT_EQ(std::memcmp(&V, &zero, sizeof V), 0);
  EXPECT_EQ(Memory.Live(), 0);
}

TEST_F(V8ValuesTest, EightBitTextWhereWideIsExpectedReadsAsEmpty) {
  ASSERT_TRUE(Obj.V8SetString(&V, "12"));
  EXPECT_TRUE(V8IsString(&V));
  EXPECT_EQ(V8GetPWideChar(&V), nullptr);
  EXPECT_EQ(V8ToWideString(&V), u"");
  EXPECT_EQ(V8ToInt(&V), 0);
  EXPECT_EQ(V8ToDouble(&V), 0.0);
}

TEST_F(V8ValuesTest, LoneSurrogatesSurviveAsReplacementCharacters) {
  const char16_t broken[] = {u'a', 0xD800, u'b', 0xDC00, 0};
  V = Text(broken);
  EXPECT_EQ(V8ToUtf8(&V),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
  EXPECT_EQ(V8ToText(&V),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
  const char16_t pair[] = {0xD83D, 0xDE00, 0};  // U+1F600
  Obj.V8ClearVar(&V);
  V = Text(pair);
  EXPECT_EQ(V8ToUtf8(&V), "\xF0\x9F\x98\x80");
}

TEST_F(V8ValuesTest, IntegerReadingRules) {
  V.vt = VTYPE_R8;
  V.dblVal = 2.9;
  EXPECT_EQ(V8ToInt(&V), 2);
  V.dblVal = -2.9;
  EXPECT_EQ(V8GetInt(&V), -2);
  V.dblVal = 1e300;
  EXPECT_EQ(V8ToInt(&V), INT32_MAX) << "an out-of-range float must not be undefined";
  V.vt = VTYPE_I2;
  V.shortVal = -7;
  EXPECT_EQ(V8ToInt(&V), -7);
  V.vt = VTYPE_UI1;
  V.ui8Val = 200;
  EXPECT_EQ(V8ToInt(&V), 200);
  V = Text(u"12a");
  EXPECT_EQ(V8ToInt(&V), 0);
  Obj.V8ClearVar(&V);
  V = Text(u"-42");
  EXPECT_EQ(V8GetInt(&V), -42);
  Obj.V8ClearVar(&V);
  V = Text(u"99999999999");
  EXPECT_EQ(V8ToInt(&V), 0) << "beyond 32 bits the text does not parse";
}

TEST_F(V8ValuesTest, EveryIntegerTypeReadsAsItsNumber) {
  V.vt = VTYPE_I8;
  V.llVal = 5;
  EXPECT_EQ(V8GetInt(&V), 5) << "a 64-bit integer must not read as 0";
  EXPECT_DOUBLE_EQ(V8GetDouble(&V), 5.0) << "a 64-bit amount must not read as 0";
  EXPECT_TRUE(V8ToBool(&V));
  V.llVal = int64_t{1} << 40;
  EXPECT_EQ(V8ToInt(&V), INT32_MAX) << "beyond 32 bits the number is pinned, not wrapped";
  EXPECT_DOUBLE_EQ(V8ToDouble(&V), 1099511627776.0);
  EXPECT_TRUE(V8ToBool(&V)) << "a large number is no false";
  V.llVal = -(int64_t{1} << 40);
  EXPECT_EQ(V8ToInt(&V), INT32_MIN);
  V.vt = VTYPE_UI8;
  V.ullVal = UINT64_MAX;
  EXPECT_EQ(V8ToInt(&V), INT32_MAX);
  V.vt = VTYPE_UI4;
  V.ulVal = 4000000000u;
  EXPECT_EQ(V8ToInt(&V), INT32_MAX);
  EXPECT_DOUBLE_EQ(V8ToDouble(&V), 4e9);
  V.vt = VTYPE_I1;
  V.llVal = 0;
  V.i8Val = -3;
  EXPECT_EQ(V8ToInt(&V), -3);
  V.vt = VTYPE_UI2;
  V.ushortVal = 65535;
  EXPECT_EQ(V8ToInt(&V), 65535);
  V.vt = VTYPE_INT;
  V.intVal = -70000;
  EXPECT_DOUBLE_EQ(V8ToDouble(&V), -70000.0);
  V.vt = 0;
}

TEST_F(V8ValuesTest, BooleanReadingRules) {
  V.vt = VTYPE_I4;
  V.lVal = 5;
  EXPECT_TRUE(V8ToBool(&V));
  V = Text(u"0");
  EXPECT_FALSE(V8ToBool(&V));
  Obj.V8ClearVar(&V);
  V = Text(u"abc");
  EXPECT_FALSE(V8ToBool(&V));
  Obj.V8ClearVar(&V);
  V.vt = VTYPE_BOOL;
  V.bVal = true;
  EXPECT_TRUE(V8ToBool(&V));
}

TEST_F(V8ValuesTest, DoubleReadingAcceptsEitherDecimalSeparator) {
  V = Text(u"12,5");
  EXPECT_DOUBLE_EQ(V8ToDouble(&V), 12.5);
  Obj.V8ClearVar(&V);
  V = Text(u" 12.25 ");
  EXPECT_DOUBLE_EQ(V8GetDouble(&V), 12.25);
  Obj.V8ClearVar(&V);
  V = Text(u"1.2.3");
  EXPECT_EQ(V8ToDouble(&V), 0.0);
  Obj.V8ClearVar(&V);
  V = Text(u"nan");
  EXPECT_EQ(V8ToDouble(&V), 0.0);
  Obj.V8ClearVar(&V);
  V.vt = VTYPE_R4;
  V.fltVal = 0.5f;
  EXPECT_DOUBLE_EQ(V8ToDouble(&V), 0.5);
  V.vt = VTYPE_R8;
  V.dblVal = -3.75;
  EXPECT_DOUBLE_EQ(V8ToDouble(&V), -3.75);
}

TEST_F(V8ValuesTest, DatesRoundTripThroughThePlatformDayCount) {
  const TDateTime moment{2024, 3, 5, 10, 30, 15, 0};
  ASSERT_TRUE(Obj.V8SetDate(&V, moment));
  EXPECT_EQ(V.vt, VTYPE_DATE);
  EXPECT_NEAR(V.date, 45356.4376736111, 1e-9);
  EXPECT_EQ(V8ToDateTime(&V), moment);
  EXPECT_EQ(V8DateToDateTime(0), (TDateTime{1899, 12, 30, 0, 0, 0, 0}));
  EXPECT_EQ(V8DateToDateTime(-1.25), (TDateTime{1899, 12, 29, 6, 0, 0, 0}));
  EXPECT_DOUBLE_EQ(DateTimeToV8Date({1899, 12, 29, 6, 0, 0, 0}), -1.25);
}

TEST_F(V8ValuesTest, CalendarTimeValueConvertsOrRaisesWhenImpossible) {
  V.vt = VTYPE_TM;
  V.tmVal.tm_year = 124;
  V.tmVal.tm_mon = 1;
  V.tmVal.tm_mday = 29;
  V.tmVal.tm_hour = 23;
  V.tmVal.tm_min = 59;
  V.tmVal.tm_sec = 58;
  EXPECT_EQ(V8ToDateTime(&V), (TDateTime{2024, 2, 29, 23, 59, 58, 0}));
  EXPECT_EQ(V8ToText(&V), "29.02.2024 23:59:58");
  V.tmVal.tm_mday = 30;
  EXPECT_THROW(V8ToDateTime(&V), std::runtime_error);
  V.tmVal.tm_mday = 1;
  V.tmVal.tm_hour = 24;
  EXPECT_THROW(V8ToText(&V), std::runtime_error);
  // Fields at the edge of their type: an error, not an overflow.
  V.tmVal.tm_hour = 0;
  V.tmVal.tm_year = INT32_MAX;
  EXPECT_THROW(V8ToDateTime(&V), std::runtime_error);
  V.tmVal.tm_year = 124;
  V.tmVal.tm_mon = INT32_MAX;
  EXPECT_THROW(V8ToDateTime(&V), std::runtime_error);
}

TEST_F(V8ValuesTest, TypeNamesWithFlagSuffixes) {
  V.vt = VTYPE_PWSTR | VTYPE_BYREF;
  EXPECT_EQ(V8TypeName(&V), "VTYPE_PWSTR by ref");
  V.vt = VTYPE_I4 | VTYPE_ARRAY | VTYPE_VECTOR;
  EXPECT_EQ(V8TypeName(&V), "VTYPE_I4 array");
  V.vt = VTYPE_BLOB | VTYPE_VECTOR;
  EXPECT_EQ(V8TypeName(&V), "VTYPE_BLOB vector");
  V.vt = VTYPE_STR_BLOB;
  EXPECT_EQ(V8TypeName(&V), "VTYPE_STR_BLOB");
  V.vt = 30 | VTYPE_BYREF;
  EXPECT_EQ(V8TypeName(&V), "unknown type");
  V.vt = 0;
}

TEST_F(V8ValuesTest, TextFormsOfTheTracedTypes) {
  V8Variant v{};
  EXPECT_EQ(V8ToText(&v), "");
  v.vt = VTYPE_I4;
  v.lVal = -5;
  EXPECT_EQ(V8ToText(&v), "-5");
  v.vt = VTYPE_R8;
  v.dblVal = 2.5;
  EXPECT_EQ(V8ToText(&v), "2.5");
  v.vt = VTYPE_BOOL;
  v.bVal = true;
  EXPECT_EQ(V8ToText(&v), "True");
  v.vt = VTYPE_I8;
  v.llVal = 1234567890123LL;
  EXPECT_EQ(V8ToText(&v), "1234567890123");
  v.vt = VTYPE_INTERFACE;
  v.pInterfaceVal = nullptr;
  v.lVal = 2;
  EXPECT_EQ(V8ToText(&v), "01.01.1900");
}

TEST_F(V8ValuesTest, UnsupportedTypesRaiseWithTheirName) {
  const struct {
    uint16_t vt;
    const char* message;
  } cases[] = {
      {VTYPE_DATE, "Unsupported data type - VTYPE_DATE"},
      {VTYPE_NULL, "Unsupported data type - VTYPE_NULL"},
      {VTYPE_PSTR, "Unsupported data type - VTYPE_PSTR"},
      {VTYPE_I2, "Unsupported data type - VTYPE_I2"},
      {VTYPE_I4 | VTYPE_BYREF, "Unsupported data type - VTYPE_I4 by ref"},
      {31, "Unsupported data type - unknown type"},
  };
  for (const auto& c : cases) {
    V8Variant v{};
    v.vt = c.vt;
    try {
      V8ToText(&v);
      ADD_FAILURE() << "no error for vt " << c.vt;
    } catch (const EV8UnsupportedType& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

}  // namespace
