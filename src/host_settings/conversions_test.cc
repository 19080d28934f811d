#include "host_settings/conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/error.h"

namespace sa::host_settings {
namespace {

// The number of the sa::Error `convert(text)` throws, or 0.
template <typename Convert>
long FailureOf(Convert convert, std::string_view text) {
  try {
    convert(text);
  } catch (const Error& e) {
    return e.Number();
  }
  return 0;
}

TEST(ToBooleanTest, AcceptsWordsInAnyCaseAndNumbers) {
  EXPECT_TRUE(ToBoolean("true"));
  EXPECT_TRUE(ToBoolean("TRUE"));
  EXPECT_FALSE(ToBoolean("False"));
  EXPECT_FALSE(ToBoolean(" false\t"));
  EXPECT_FALSE(ToBoolean("0"));
  EXPECT_FALSE(ToBoolean("-0.0"));
  EXPECT_TRUE(ToBoolean("-1"));
  EXPECT_TRUE(ToBoolean("2"));
  EXPECT_TRUE(ToBoolean("0.001"));
}

TEST(ToBooleanTest, RefusesEverythingElse) {
  for (const char* text : {"", " ", "yes", "Y", "truex", "t rue", "1e3", "0x1", "+-1"}) {
    EXPECT_EQ(FailureOf(ToBoolean, text), ErrorCode::kTypeMismatch) << '"' << text << '"';
  }
}

TEST(ToInt16Test, RoundsHalvesToEven) {
  EXPECT_EQ(ToInt16("2.5"), 2);
  EXPECT_EQ(ToInt16("3.5"), 4);
  EXPECT_EQ(ToInt16("-2.5"), -2);
  EXPECT_EQ(ToInt16("2.5000001"), 3);
  EXPECT_EQ(ToInt16("0.49"), 0);
  EXPECT_EQ(ToInt16(" +7 "), 7);
  EXPECT_EQ(ToInt16("5."), 5);
  EXPECT_EQ(ToInt16(".5"), 0);
  EXPECT_EQ(ToInt16("007"), 7);
}

TEST(ToInt16Test, ChecksTheRangeAfterRounding) {
  EXPECT_EQ(ToInt16("32767"), 32767);
  EXPECT_EQ(ToInt16("-32768"), -32768);
  EXPECT_EQ(ToInt16("-32768.5"), -32768);
  EXPECT_EQ(ToInt16("32767.4"), 32767);
  EXPECT_EQ(FailureOf(ToInt16, "32767.5"), ErrorCode::kOverflow);
  EXPECT_EQ(FailureOf(ToInt16, "-32769"), ErrorCode::kOverflow);
  EXPECT_EQ(FailureOf(ToInt16, "40000"), ErrorCode::kOverflow);
  EXPECT_EQ(FailureOf(ToInt16, std::string(400, '9')), ErrorCode::kOverflow);
  for (const char* text : {"", "abc", "1.2.3", "- 5", "5-", "12abc", ".", "-", "1,5"}) {
    EXPECT_EQ(FailureOf(ToInt16, text), ErrorCode::kTypeMismatch) << '"' << text << '"';
  }
}

TEST(ToNumberTest, ReadsDecimalNumbersOnly) {
  EXPECT_DOUBLE_EQ(ToNumber("3.25"), 3.25);
  EXPECT_DOUBLE_EQ(ToNumber(" -0.5 "), -0.5);
  EXPECT_DOUBLE_EQ(ToNumber("0." + std::string(400, '0') + "1"), 0.0);
  EXPECT_EQ(FailureOf(ToNumber, "x"), ErrorCode::kTypeMismatch);
  EXPECT_EQ(FailureOf(ToNumber, ""), ErrorCode::kTypeMismatch);
  EXPECT_EQ(FailureOf(ToNumber, std::string(400, '9')), ErrorCode::kOverflow);
}

TEST(LeadingNumberTest, ReadsTheNumberAtTheStartIgnoringBlanks) {
  EXPECT_DOUBLE_EQ(LeadingNumber("3.5"), 3.5);
  EXPECT_DOUBLE_EQ(LeadingNumber("7 users"), 7);
  EXPECT_DOUBLE_EQ(LeadingNumber(" 1 2"), 12);
  EXPECT_DOUBLE_EQ(LeadingNumber("\t- 4 .5x9"), -4.5);
  EXPECT_DOUBLE_EQ(LeadingNumber("+8"), 8);
  EXPECT_DOUBLE_EQ(LeadingNumber("1.2.3"), 1.2);
  EXPECT_DOUBLE_EQ(LeadingNumber("5-3"), 5);
  EXPECT_DOUBLE_EQ(LeadingNumber("-.25"), -0.25);
  for (const char* text : {"", "abc", "-", ".", "--5", "+-5", "x12"}) {
    EXPECT_DOUBLE_EQ(LeadingNumber(text), 0) << '"' << text << '"';
  }
  EXPECT_TRUE(std::isinf(LeadingNumber(std::string(400, '9'))));
}

}  // namespace
}  // namespace sa::host_settings
