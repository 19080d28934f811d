// Family texts checked as texts: Jet cannot run on these machines, so its
// creation string and quoting are pinned here.
#include "dbengine/odbc/driver_family.h"

#include <gtest/gtest.h>

#include "dbengine/odbc/connection_string.h"

namespace sa::dbengine::odbc {
namespace {

TEST(DriverFamily, JetTextsForCreationQuotingDatesAndDrivers) {
  const auto jet = JetFamily();
  EXPECT_EQ(jet->CreateFileAttributes("C:\\shop\\S\\202401.mdb.partial"),
            "CREATE_DBV4=\"C:\\shop\\S\\202401.mdb.partial\" General");
  EXPECT_EQ(jet->QuoteName("gtInfVen"), "[gtInfVen]");
  EXPECT_EQ(jet->DateLiteral(DateTime::FromParts({2024, 2, 29}, 13, 5, 9)),
            "{ts '2024-02-29 13:05:09'}");
  EXPECT_EQ(jet->RowIdentity(), "");  // moves need a primary key on Jet
  // Jet SQL has no SAVEPOINT: a failed step undoes its whole transaction.
  EXPECT_FALSE(jet->HasSavepoints());
  EXPECT_FALSE(FamilyForDbms("Oracle")->HasSavepoints());
  EXPECT_TRUE(SqliteFamily()->HasSavepoints());
  EXPECT_TRUE(PostgresFamily()->HasSavepoints());
  // Records a move read can be deleted without a second look only where
  // they are locked or the write lock is taken before reading them.
  EXPECT_FALSE(jet->KeepsReadRecordsUntilCommit());
  EXPECT_TRUE(SqliteFamily()->KeepsReadRecordsUntilCommit());
  EXPECT_TRUE(PostgresFamily()->KeepsReadRecordsUntilCommit());
  const std::vector<std::string> drivers = {"SQLite3", "Microsoft Access Driver (*.mdb, *.accdb)",
                                            "PostgreSQL Unicode"};
  EXPECT_EQ(jet->FileDriver(drivers), "Microsoft Access Driver (*.mdb, *.accdb)");
  EXPECT_EQ(jet->FileDriver(std::vector<std::string>{"SQLite3"}), std::nullopt);
  EXPECT_EQ(SqliteFamily()->FileDriver(drivers), "SQLite3");
  EXPECT_STREQ(FamilyForDbms("ACCESS")->Name(), "Jet");
  EXPECT_STREQ(FamilyForDbms("PostgreSQL")->Name(), "PostgreSQL");
  EXPECT_STREQ(FamilyForDbms("SQLite")->Name(), "SQLite");
  EXPECT_STREQ(FamilyForDbms("Oracle")->Name(), "generic");
}

// Drivers of unknown systems quote names with their own quote character
// (MariaDB's and MySQL's is the backquote: a double quote there makes a
// string), or not at all when they have none; MySQL and MariaDB get a
// family of their own.
TEST(DriverFamily, NamesAreQuotedAsTheDriverSaysAndMariaDbHasItsOwnFamily) {
  EXPECT_EQ(FamilyForDbms("Oracle", "\"")->QuoteName("a\"b"), "\"a\"\"b\"");
  EXPECT_EQ(FamilyForDbms("SomeSQL", "`")->QuoteName("gtInfVen"), "`gtInfVen`");
  EXPECT_EQ(FamilyForDbms("SomeSQL", " ")->QuoteName("gtInfVen"), "gtInfVen");
  EXPECT_EQ(FamilyNamed("generic", "`")->QuoteName("a`b"), "`a``b`");
  const auto maria = FamilyForDbms("MariaDB", "`");
  EXPECT_STREQ(maria->Name(), "MySQL");
  EXPECT_STREQ(FamilyForDbms("MySQL", "`")->Name(), "MySQL");
  EXPECT_EQ(maria->QuoteName("gtInfVen"), "`gtInfVen`");
  EXPECT_TRUE(maria->KeepsReadRecordsUntilCommit());  // SELECT ... FOR UPDATE
  EXPECT_TRUE(maria->HasSavepoints());
  EXPECT_EQ(maria->RowIdentity(), "");  // moved by a primary key
  EXPECT_EQ(maria->InsertedIdentityQuery("`id`", "`t`"), "SELECT LAST_INSERT_ID()");
  EXPECT_EQ(FamilyNamed("nosuch"), nullptr);
}

TEST(DriverFamily, PostgresTupleIdentitiesSurviveTheRoundTrip) {
  const int64_t id = EncodeTid(4294967295u, 65535);
  EXPECT_EQ(TidText(id), "(4294967295,65535)");
  EXPECT_EQ(TidText(EncodeTid(0, 1)), "(0,1)");
  const int64_t ids[] = {EncodeTid(3, 7), EncodeTid(12, 1)};
  EXPECT_EQ(PostgresFamily()->RowIdentityIn(ids), "ctid = ANY ('{\"(3,7)\",\"(12,1)\"}'::tid[])");
  EXPECT_EQ(PostgresFamily()->KeyIn("\"NUME\"", ids),
            "\"NUME\" = ANY ('{196615,786433}'::bigint[])");
  EXPECT_EQ(SqliteFamily()->RowIdentityIn(ids), "rowid IN (196615,786433)");
}

TEST(ConnectionString, PasswordsAreMaskedWhateverTheirSpelling) {
  EXPECT_EQ(MaskSecrets("Driver={PostgreSQL Unicode};Uid=u;Pwd=s3cret;Port=5"),
            "Driver={PostgreSQL Unicode};Uid=u;Pwd=***;Port=5");
  EXPECT_EQ(MaskSecrets("DSN=x;password = {a;b}}c};PWD=z"), "DSN=x;password = ***;PWD=***");
  EXPECT_EQ(MaskSecrets("DSN=x;Uid=pwd"), "DSN=x;Uid=pwd");
  // A message that names a masked string keeps its words when masked again.
  EXPECT_EQ(MaskSecrets("t in DSN=x;Pwd=***: give it a key; it stays"),
            "t in DSN=x;Pwd=***: give it a key; it stays");
  EXPECT_EQ(ConnectionStringOf("odbc;DSN=x"), "DSN=x");
  EXPECT_EQ(ConnectionStringOf("ODBC;"), "");
  EXPECT_EQ(ConnectionStringOf("/data/ODBC;x"), std::nullopt);
}

}  // namespace
}  // namespace sa::dbengine::odbc
