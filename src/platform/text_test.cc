#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sa::platform {
namespace {

using Lines = std::vector<std::string>;

TEST(DecodeTextTest, KeepsValidUtf8AndDropsTheByteOrderMark) {
  EXPECT_EQ(DecodeText("plain"), "plain");
  EXPECT_EQ(DecodeText("\xEF\xBB\xBF"
                       "C:\\Datos\\ni\xC3\xB1o.mdb"),
            "C:\\Datos\\ni\xC3\xB1o.mdb");
  EXPECT_EQ(DecodeText("\xF0\x9F\x90\x84"), "\xF0\x9F\x90\x84");  // four-byte form
  EXPECT_EQ(DecodeText(""), "");
  EXPECT_EQ(DecodeText("\xEF\xBB\xBF"), "");
}

TEST(DecodeTextTest, ReadsAnythingElseAsWindows1252) {
  // "niño" as the host writes it in the ANSI code page.
  EXPECT_EQ(DecodeText("ni\xF1o"), "ni\xC3\xB1o");
  // The 0x80..0x9F block is not Latin-1: euro sign, left double quote, en dash, Y diaeresis.
  EXPECT_EQ(DecodeText("\x80\x93\x96\x9F"), "\xE2\x82\xAC\xE2\x80\x9C\xE2\x80\x93\xC5\xB8");
  // Unassigned bytes keep their value as C1 controls.
  EXPECT_EQ(DecodeText("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
  // One bad byte makes its whole line Windows-1252, valid UTF-8 parts included.
  EXPECT_EQ(DecodeText("\xC3\xB1 \xFF"), "\xC3\x83\xC2\xB1 \xC3\xBF");
  // A mark in front of text that is not UTF-8 is still dropped.
  EXPECT_EQ(DecodeText("\xEF\xBB\xBF\xE9"), "\xC3\xA9");
}

TEST(DecodeTextTest, DecodesEachLineOnItsOwn) {
  // A UTF-8 path stays that path whatever another line holds, whatever the
  // line ends; the mark belongs to the file, not to a line.
  EXPECT_EQ(DecodeText("\xEF\xBB\xBF/datos/ca\xC3\xB1"
                       "a/live.db\r\nJos\xE9\r\n\xFF"),
            "/datos/ca\xC3\xB1"
            "a/live.db\r\nJos\xC3\xA9\r\n\xC3\xBF");
  EXPECT_EQ(DecodeText("ni\xF1o\nni\xC3\xB1o\r\r\n"), "ni\xC3\xB1o\nni\xC3\xB1o\r\r\n");
  EXPECT_EQ(DecodeText("\xC3\rx\n\xB1"), "\xC3\x83\rx\n\xC2\xB1");  // no sequence spans lines
}

TEST(DecodeTextTest, RejectsMalformedUtf8) {
  EXPECT_EQ(DecodeText("\xC0\x80"), "\xC3\x80\xE2\x82\xAC");              // overlong NUL
  EXPECT_EQ(DecodeText("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");  // surrogate
  EXPECT_EQ(DecodeText("\xF4\x90\x80\x80"),
            "\xC3\xB4\xC2\x90\xE2\x82\xAC\xE2\x82\xAC");        // past U+10FFFF
  EXPECT_EQ(DecodeText("a\xE2\x82"), "a\xC3\xA2\xE2\x80\x9A");  // cut at the end
}

TEST(SplitLinesTest, SplitsAtEveryKindOfLineEnd) {
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\r\nb\r\n"), (Lines{"a", "b"}));
  EXPECT_EQ(SplitLines("a\rb\r"), (Lines{"a", "b"}));
  EXPECT_EQ(SplitLines(""), Lines{});
  // Blank lines count, including a final one before the closing line end.
  EXPECT_EQ(SplitLines("\n"), Lines{""});
  EXPECT_EQ(SplitLines("a\n\nb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(SplitLines("a\r\n\r\n"), (Lines{"a", ""}));
  // LF then CR is two line ends, not one.
  EXPECT_EQ(SplitLines("a\n\rb"), (Lines{"a", "", "b"}));
}

TEST(ToWindows1252Test, InvertsDecodeAndMarksWhatTheCodePageLacks) {
  std::string every;
  for (int b = 1; b < 256; ++b) every += static_cast<char>(b);
  EXPECT_EQ(ToWindows1252(DecodeText(every)), every);

  EXPECT_EQ(ToWindows1252("\xE2\x82\xAC 5"), "\x80 5");
  EXPECT_EQ(ToWindows1252("\xE4\xB8\xAD|\xF0\x9F\x90\x84"), "?|?");  // CJK, emoji
  EXPECT_EQ(ToWindows1252("a\xFF"
                          "b"),
            "a?b");  // not UTF-8 at all
}

}  // namespace
}  // namespace sa::platform
