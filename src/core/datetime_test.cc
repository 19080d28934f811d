#include "core/datetime.h"

#include <gtest/gtest.h>

namespace sa {
namespace {

TEST(DateTime, ReadsEveryAcceptedFormAndRefusesTheRest) {
  const DateTime expected = DateTime::FromParts({2024, 2, 29}, 23, 59, 58);
  for (const char* text :
       {"2024-02-29 23:59:58", "2024-02-29T23:59:58", "2024-02-29 23:59:58.000"}) {
    EXPECT_EQ(DateTime::ParseIso(text), expected) << text;
  }
  EXPECT_EQ(DateTime::ParseIso("2024-02-29"), DateTime::FromDate({2024, 2, 29}));
  EXPECT_EQ(DateTime::ParseIso("2024-02-29 23:59"), DateTime::FromParts({2024, 2, 29}, 23, 59, 0));
  for (const char* text : {"2023-02-29", "2024-13-01", "2024-1-05", "2024-02-29 24:00:00",
                           "2024-02-29 23:59:58.", "2024-02-29x", ""}) {
    EXPECT_FALSE(DateTime::ParseIso(text).has_value()) << text;
  }
}

TEST(DateTime, StoredFormIsExactlyAValidCanonicalText) {
  EXPECT_TRUE(DateTime::IsStoredForm("2000-02-29 00:00:00"));
  EXPECT_FALSE(DateTime::IsStoredForm("1900-02-29 00:00:00"));  // not a leap year
  EXPECT_FALSE(DateTime::IsStoredForm("2024-04-31 00:00:00"));
  EXPECT_FALSE(DateTime::IsStoredForm("2024-04-30T00:00:00"));
  EXPECT_FALSE(DateTime::IsStoredForm("2024-04-30 00:00:60"));
  EXPECT_FALSE(DateTime::IsStoredForm("2024-04-30"));
  EXPECT_TRUE(DateTime::IsStoredForm("2024-04-30 00:00:00.500"));
  EXPECT_FALSE(DateTime::IsStoredForm("2024-04-30 00:00:00.000"));  // written without fraction
  EXPECT_FALSE(DateTime::IsStoredForm("2024-04-30 00:00:00.5"));
  EXPECT_FALSE(DateTime::IsStoredForm("2024-04-30 00:00:00,500"));
}

TEST(DateTime, KeepsFractionsOfASecond) {
  const auto half = DateTime::ParseIso("2024-01-31 00:00:00.5");
  ASSERT_TRUE(half.has_value());
  EXPECT_EQ(half->ToIso(), "2024-01-31 00:00:00.500");
  EXPECT_FALSE(half->IsMidnight());
  EXPECT_GT(*half, DateTime::FromDate({2024, 1, 31}));
  EXPECT_EQ(half->ToText(), "2024-01-31 00:00:00.500");
  EXPECT_EQ(DateTime::ParseIso("2024-01-31T10:20:30.125")->ToIso(), "2024-01-31 10:20:30.125");
  // Finer than a millisecond: still later than the whole second, same day.
  EXPECT_EQ(DateTime::ParseIso("2024-01-31 00:00:00.0004")->ToIso(), "2024-01-31 00:00:00.001");
  EXPECT_EQ(DateTime::ParseIso("2024-01-31 23:59:59.99999")->ToIso(), "2024-01-31 23:59:59.999");
  EXPECT_EQ(DateTime::ParseIso("2024-01-31 00:00:00.000000")->ToIso(), "2024-01-31 00:00:00");
  // Stored forms sort as the dates they hold.
  EXPECT_LT(std::string("2024-01-31 00:00:00"), half->ToIso());
  EXPECT_LT(half->ToIso(), std::string("2024-01-31 00:00:01"));
}

TEST(DateTime, TextFormsAndMonthKeys) {
  const DateTime midnight = DateTime::FromDate({1999, 12, 31});
  EXPECT_EQ(midnight.ToIso(), "1999-12-31 00:00:00");
  EXPECT_EQ(midnight.ToText(), "1999-12-31");
  EXPECT_EQ(midnight.AddDays(1).MonthKey(), "200001");
  EXPECT_EQ(DateTime::FromParts({2024, 3, 1}, 0, 0, 1).ToText(), "2024-03-01 00:00:01");
  EXPECT_EQ(CivilFromDays(DaysFromCivil({2024, 3, 1}) - 1), (CivilDate{2024, 2, 29}));
}

}  // namespace
}  // namespace sa
