#include "var/datetime.h"

#include <gtest/gtest.h>

namespace sa {
namespace {

TEST(DateTime, ReadsEveryAcceptedFormAndRefusesTheRest) {
  const DateTime expected = DateTime::FromParts({2024, 2, 29}, 23, 59, 58);
  for (const char* text :
       {"2024-02-29 23:59:58", "2024-02-29T23:59:58", "2024-02-29 23:59:58.75"}) {
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
