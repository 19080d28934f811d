#include "host_settings/host_settings.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/error.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "support/error_from.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

namespace sa::host_settings {
namespace {

using sa::testing::FakeMessageSink;
using sa::testing::TempDir;

using sa::testing::ErrorFrom;

bool HasBooleanForm(int position) {
  return (position >= 3 && position <= 6) || (position >= 14 && position <= 31) || position == 75;
}

// A settings text of `pairs` CRLF lines "first,second", valid unless
// `firsts` says otherwise. Second items are junk: they are never looked at.
std::string SettingsText(const std::map<int, std::string>& firsts = {}, int pairs = 93) {
  std::string text;
  for (int position = 0; position < pairs; ++position) {
    std::string first = "item" + std::to_string(position);
    if (HasBooleanForm(position)) first = "True";
    if (position == 34) first = "2.5";
    if (position == 45 || position == 47 || position == 91 || position == 92) first = "";
    if (position == 76) first = "30";
    if (const auto found = firsts.find(position); found != firsts.end()) first = found->second;
    text += first + ",not a value\r\n";
  }
  return text;
}

std::vector<std::string> Table(std::vector<std::string> firsts) {
  firsts.resize(kSettingsPositions);
  return firsts;
}

TEST(ReadSettingsTableTest, ReadsQuotedAndPlainItems) {
  EXPECT_EQ(ReadSettingsTable("\"a, b\",x\r\n  \t lead, y\r\ntrail  \t,z"),
            Table({"a, b", "lead", "trail"}));
  // Text after a closing quote is dropped; a quoted item may span lines;
  // quotes inside a plain item are kept.
  EXPECT_EQ(ReadSettingsTable("\"q\"junk,x\n\"two\nlines\",y\nab\"c,z\n"),
            Table({"q", "two\nlines", "ab\"c"}));
  // A missing closing quote runs the item to the end of the text.
  EXPECT_EQ(ReadSettingsTable("a,\"b,c\nd"), Table({"a"}));
}

TEST(ReadSettingsTableTest, AcceptsEveryLineEnd) {
  const std::vector<std::string> expected = Table({"a", "c", "e"});
  EXPECT_EQ(ReadSettingsTable("a,b\r\nc,d\r\ne,f\r\n"), expected);
  EXPECT_EQ(ReadSettingsTable("a,b\nc,d\ne,f"), expected);
  EXPECT_EQ(ReadSettingsTable("a,b\rc,d\re,f\r"), expected);
  EXPECT_EQ(ReadSettingsTable("a\r\nb\rc\nd,e\r\nf"), expected);
}

TEST(ReadSettingsTableTest, BlankLinesAreItemsExceptAtTheEnd) {
  // Each blank line in the middle is one empty item.
  EXPECT_EQ(ReadSettingsTable("a\r\n\r\nc,d\r\n"), Table({"a", "c"}));
  EXPECT_EQ(ReadSettingsTable("a,b\n\n\nc,d"), Table({"a", "", "c"}));
  EXPECT_EQ(ReadSettingsTable("a,b\r\n\r\n  \r\n\r\n"), Table({"a"}));
  EXPECT_EQ(ReadSettingsTable(""), Table({}));
  EXPECT_EQ(ReadSettingsTable("\r\n"), Table({}));
  // A comma promises an item even at the very end.
  EXPECT_EQ(ReadSettingsTable("a,"), Table({"a"}));
  EXPECT_EQ(ReadSettingsTable("a,b,\r\nc"), Table({"a", ""}));
}

TEST(ReadSettingsTableTest, RefusesAPairWithoutItsSecondItem) {
  for (const char* text : {"a", "a,b\r\nc\r\n", "a,b\r\nc\r\n\r\n", "a,b,c", "\"a,b\"\n"}) {
    const Error e = ErrorFrom([&] { ReadSettingsTable(text); });
    EXPECT_EQ(e.Number(), ErrorCode::kInputPastEnd) << text;
  }
  const Error e = ErrorFrom([] { ReadSettingsTable("a,b\nc,d\ne"); });
  EXPECT_NE(e.Cause().find("position 2"), std::string::npos) << e.Cause();
}

TEST(ReadSettingsTableTest, HoldsAt151Pairs) {
  std::string text;
  for (int i = 0; i < 151; ++i) text += "v" + std::to_string(i) + ",x\r\n";
  const std::vector<std::string> table = ReadSettingsTable(text);
  ASSERT_EQ(table.size(), 151u);
  EXPECT_EQ(table[0], "v0");
  EXPECT_EQ(table[150], "v150");

  EXPECT_EQ(ErrorFrom([&] { ReadSettingsTable(text + "one,more"); }).Number(),
            ErrorCode::kTooManyPairs);
  // Only a real pair counts: trailing line ends are not a 152nd.
  EXPECT_NO_THROW(ReadSettingsTable(text + "\r\n\r\n"));
}

class LoadHostSettingsTest : public ::testing::Test {
 protected:
  // Writes `bytes` as the settings file and loads it into `settings`.
  LoadOutcome Load(const std::string& bytes) {
    dir.Write("zizezivazer.ini", bytes);
    return LoadHostSettings(path, platform::RealFileSystem(), messages, settings);
  }

  // The failure of loading `bytes`.
  Error FailureOf(const std::string& bytes) {
    dir.Write("zizezivazer.ini", bytes);
    return ErrorFrom(
        [&] { (void)LoadHostSettings(path, platform::RealFileSystem(), messages, settings); });
  }

  TempDir dir;
  const std::string path = dir.Path("zizezivazer.ini");
  FakeMessageSink messages;
  Settings settings;
};

TEST_F(LoadHostSettingsTest, TakesLivestockAndRetention) {
  ASSERT_EQ(Load(SettingsText({{5, "False"}, {76, "45"}})), LoadOutcome::kLoaded);
  EXPECT_FALSE(settings.livestockEnabled);
  EXPECT_EQ(settings.retentionDays, 45);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(LoadHostSettingsTest, ReadsPosition5AsBoolean) {
  const std::map<std::string, bool> cases = {{"False", false}, {"false", false}, {"0", false},
                                             {"-1", true},     {"TRUE", true},   {"2", true}};
  for (const auto& [text, expected] : cases) {
    settings.livestockEnabled = !expected;
    ASSERT_EQ(Load(SettingsText({{5, text}})), LoadOutcome::kLoaded) << text;
    EXPECT_EQ(settings.livestockEnabled, expected) << text;
  }
  const Error empty = FailureOf(SettingsText({{5, ""}}));
  EXPECT_EQ(empty.Number(), ErrorCode::kTypeMismatch);
  EXPECT_NE(empty.Cause().find("position 5"), std::string::npos) << empty.Cause();
}

TEST_F(LoadHostSettingsTest, ReadsPosition76AsRetentionDays) {
  ASSERT_EQ(Load(SettingsText({{76, "-32768"}})), LoadOutcome::kLoaded);
  EXPECT_EQ(settings.retentionDays, -32768);
  ASSERT_EQ(Load(SettingsText({{76, "32767"}})), LoadOutcome::kLoaded);
  EXPECT_EQ(settings.retentionDays, 32767);
  ASSERT_EQ(Load(SettingsText({{76, "2.5"}})), LoadOutcome::kLoaded);
  EXPECT_EQ(settings.retentionDays, 2);
  ASSERT_EQ(Load(SettingsText({{76, ""}})), LoadOutcome::kLoaded);
  EXPECT_EQ(settings.retentionDays, 0);
  // A file that stops after position 75 leaves the retention empty.
  ASSERT_EQ(Load(SettingsText({}, 76)), LoadOutcome::kLoaded);
  EXPECT_EQ(settings.retentionDays, 0);

  EXPECT_EQ(FailureOf(SettingsText({{76, "abc"}})).Number(), ErrorCode::kTypeMismatch);
  EXPECT_EQ(FailureOf(SettingsText({{76, "40000"}})).Number(), ErrorCode::kOverflow);
}

TEST_F(LoadHostSettingsTest, ChecksTheTypedPositions) {
  const std::vector<std::pair<int, std::string>> failing = {
      {3, "maybe"}, {4, ""},     {6, "yes"},  {14, "x"},  {31, "1e2"}, {75, ""},
      {34, ""},     {34, "abc"}, {45, "n/a"}, {47, "si"}, {91, "x"},   {92, "99999"}};
  for (const auto& [position, text] : failing) {
    const Error e = FailureOf(SettingsText({{position, text}}));
    EXPECT_TRUE(e.Number() == ErrorCode::kTypeMismatch || e.Number() == ErrorCode::kOverflow)
        << position;
    EXPECT_NE(e.Cause().find(path), std::string::npos) << e.Cause();
    EXPECT_NE(e.Cause().find("position " + std::to_string(position) + ":"), std::string::npos)
        << e.Cause();
  }
  // Empty is allowed where the form says so, and nothing else is checked.
  EXPECT_EQ(Load(SettingsText({{45, ""}, {47, "0"}, {91, "TRUE"}, {92, "-7"}, {0, ""}, {2, "x"}})),
            LoadOutcome::kLoaded);
  // The first failing position is the one reported.
  const Error first = FailureOf(SettingsText({{4, "x"}, {76, "x"}}));
  EXPECT_NE(first.Cause().find("position 4:"), std::string::npos) << first.Cause();
}

TEST_F(LoadHostSettingsTest, DecodesTheFileFirst) {
  // With the mark left in place the first item would not start with a quote,
  // shifting every later item by one.
  ASSERT_EQ(Load("\xEF\xBB\xBF\"a,b\"" + SettingsText({{5, "False"}}).substr(5)),
            LoadOutcome::kLoaded);
  EXPECT_FALSE(settings.livestockEnabled);
  // Windows-1252 bytes anywhere are fine.
  ASSERT_EQ(Load(SettingsText({{1, "Jos\xE9"}, {5, "0"}})), LoadOutcome::kLoaded);
  EXPECT_EQ(ReadSettingsTable(platform::DecodeText("Jos\xE9,x"))[0], "Jos\xC3\xA9");
}

TEST_F(LoadHostSettingsTest, ReportsStructuralFailuresWithTheFileNamed) {
  const Error odd = FailureOf(SettingsText() + "lonely\r\n");
  EXPECT_EQ(odd.Number(), ErrorCode::kInputPastEnd);
  EXPECT_NE(odd.Cause().find(path), std::string::npos);
  EXPECT_EQ(FailureOf(SettingsText({}, 152)).Number(), ErrorCode::kTooManyPairs);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(LoadHostSettingsTest, EndsTheProgramWhenTheFileCannotBeRead) {
  dir.MakeFolder("folder.ini");
  for (const std::string& unreadable :
       {dir.Path("missing.ini"), dir.Path("folder.ini"), std::string()}) {
    messages.shown.clear();
    settings = Settings{7, true};
    EXPECT_EQ(LoadHostSettings(unreadable, platform::RealFileSystem(), messages, settings),
              LoadOutcome::kEndProgram);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].message, "Error accediendo a zizezivazer.ini");
    EXPECT_NE(messages.shown[0].cause.find(unreadable + ": "), std::string::npos);
    EXPECT_EQ(settings.retentionDays, 7);
    EXPECT_TRUE(settings.livestockEnabled);
  }
}

}  // namespace
}  // namespace sa::host_settings
