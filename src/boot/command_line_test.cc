#include "boot/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace sa::boot {
namespace {

ParsedCommandLine Parse(std::vector<std::string_view> args) { return ParseCommandLine(args); }

TEST(CommandLine, NoSwitchIsTheHostsRun) {
  const ParsedCommandLine parsed = Parse({});
  EXPECT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.command, Command::kRun);
  EXPECT_EQ(parsed.options.fifoPath, "");
  EXPECT_FALSE(parsed.options.unattended);
}

TEST(CommandLine, ReadsEachSwitchAndItsValueInEitherForm) {
  ParsedCommandLine p = Parse({"--restore", "202402", "--fifo", "/x/fifo2", "--unattended"});
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.options.command, Command::kRestore);
  EXPECT_EQ(p.options.month, "202402");
  EXPECT_EQ(p.options.fifoPath, "/x/fifo2");
  EXPECT_TRUE(p.options.unattended);

  p = Parse({"--fifo=/a b/f", "--restore=199912"});
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.options.fifoPath, "/a b/f");
  EXPECT_EQ(p.options.month, "199912");

  EXPECT_EQ(Parse({"--dry-run"}).options.command, Command::kDryRun);
  EXPECT_EQ(Parse({"--verify", "--unattended"}).options.command, Command::kVerify);
  // --help and --version win over everything else.
  EXPECT_EQ(Parse({"--verify", "--help"}).options.command, Command::kHelp);
  EXPECT_EQ(Parse({"--version", "--dry-run"}).options.command, Command::kVersion);
}

TEST(CommandLine, RefusesWhatItCannotReadUnambiguously) {
  const std::vector<std::vector<std::string_view>> bad = {
      {"--bogus"},
      {"dry-run"},
      {"-x"},
      {"--restore"},
      {"--restore", "2024-03"},
      {"--restore", "202413"},
      {"--restore", "202400"},
      {"--restore", "20243"},
      {"--restore", "2024031"},
      {"--restore", "000003"},
      {"--restore="},
      {"--fifo"},
      {"--fifo="},
      {"--fifo", "a", "--fifo", "b"},
      {"--dry-run", "--verify"},
      {"--restore", "202403", "--restore", "202404"},
      {"--dry-run=yes"},
      {"--help", "--bogus"},
  };
  for (const auto& args : bad) {
    const ParsedCommandLine p = Parse(args);
    std::string shown;
    for (const auto a : args) shown += std::string(a) + " ";
    EXPECT_NE(p.error, "") << shown;
  }
  EXPECT_NE(Parse({"--restore", "202413"}).error.find("202413"), std::string::npos);
  EXPECT_NE(Parse({"--frobnicate"}).error.find("--frobnicate"), std::string::npos);
}

}  // namespace
}  // namespace sa::boot
