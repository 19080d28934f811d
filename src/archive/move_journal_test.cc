// The move journal as written and read back: a restore's live identities
// come as listed whatever their order, compactly; the journals an earlier
// version wrote are still read; a journal cut short is never taken for one.
#include "archive/move_journal.h"

#include <gtest/gtest.h>

#include "support/fake_platform.h"

namespace sa::archive {
namespace {

constexpr char kPath[] = "/shop/S/move.journal";

TEST(MoveJournal, ARestoreKeepsEveryLiveIdentityInStretches) {
  testing::FakeFileSystem fs;
  PendingMove move{"/shop/S/202404.mdb", {}, true};
  std::vector<int64_t> keys, copies;
  for (int64_t i = 1; i <= 300; ++i) keys.push_back(i);
  // PostgreSQL tuple identities: offsets 1..120 of block 7, then block 9,
  // then one the live table had free in block 2.
  for (int64_t i = 1; i <= 120; ++i) copies.push_back(7 * 65536 + i);
  for (int64_t i = 1; i <= 179; ++i) copies.push_back(9 * 65536 + i);
  copies.push_back(2 * 65536 + 40);
  move.tables.push_back({"tickets", 0, keys, copies});
  move.tables.push_back({"gtvend", 0, {5, 9, -3}, {-1, 0, 1}});
  WriteMoveJournal(fs, kPath, move);

  EXPECT_EQ(fs.files.at(kPath),
            "sales-archiver pending restore 2\n/shop/S/202404.mdb\n2\n"
            "tickets\n300\narchived 1..300\nlive 458753..458872\nlive 589825..590003\n"
            "live 131112\n"
            "gtvend\n3\narchived 5\narchived 9\narchived -3\nlive -1..1\nend\n");
  const std::optional<PendingMove> back = ReadMoveJournal(fs, kPath);
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->restore);
  EXPECT_EQ(back->archivePath, move.archivePath);
  ASSERT_EQ(back->tables.size(), 2u);
  for (size_t t = 0; t < 2; ++t) {
    EXPECT_EQ(back->tables[t].table, move.tables[t].table);
    EXPECT_EQ(back->tables[t].keys, move.tables[t].keys);
    EXPECT_EQ(back->tables[t].copyIds, move.tables[t].copyIds);
  }
}

TEST(MoveJournal, EarlierRestoreJournalsAndMovesAreStillRead) {
  testing::FakeFileSystem fs;
  // The earlier restore form: the first live copy's identity and a count.
  fs.files[kPath] =
      "sales-archiver pending restore 1\n/shop/S/202403.mdb\n1\ncabecera\n41\n3\n7\n8\n12\nend\n";
  std::optional<PendingMove> back = ReadMoveJournal(fs, kPath);
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->restore);
  ASSERT_EQ(back->tables.size(), 1u);
  EXPECT_EQ(back->tables[0].keys, (std::vector<int64_t>{7, 8, 12}));
  EXPECT_EQ(back->tables[0].copyIds, (std::vector<int64_t>{41, 42, 43}));

  PendingMove forward{"/shop/S/202403.mdb", {{"gtarti", 17, {4, 2, 9}, {}}}, false};
  WriteMoveJournal(fs, kPath, forward);
  EXPECT_EQ(fs.files.at(kPath),
            "sales-archiver pending move 2\n/shop/S/202403.mdb\n1\ngtarti\n17\n3\n4\n2\n9\nend\n");
  back = ReadMoveJournal(fs, kPath);
  ASSERT_TRUE(back);
  EXPECT_FALSE(back->restore);
  EXPECT_EQ(back->tables[0].firstCopyId, 17);
  EXPECT_EQ(back->tables[0].keys, (std::vector<int64_t>{4, 2, 9}));
}

TEST(MoveJournal, AJournalCutShortOrMiscountedIsNotRead) {
  testing::FakeFileSystem fs;
  EXPECT_FALSE(ReadMoveJournal(fs, kPath));
  const std::string head = "sales-archiver pending restore 2\n/a.mdb\n1\nt\n3\n";
  for (const char* body : {
           "archived 1..3\nlive 5..7\n",          // no end line
           "archived 1..3\nlive 5..6\nend\n",     // a copy missing
           "archived 1..4\nlive 5..8\nend\n",     // more than counted
           "archived 1..3\nlive 7..5\nend\n",     // a stretch backwards
           "live 5..7\narchived 1..3\nend\n",     // out of order
           "archived 1..3\nlive 5..7\nx\nend\n",  // a line too many
       }) {
    fs.files[kPath] = head + body;
    EXPECT_FALSE(ReadMoveJournal(fs, kPath)) << body;
  }
  fs.files[kPath] = head + "archived 1..3\nlive 5..7\nend\n";
  EXPECT_TRUE(ReadMoveJournal(fs, kPath));
}

}  // namespace
}  // namespace sa::archive
