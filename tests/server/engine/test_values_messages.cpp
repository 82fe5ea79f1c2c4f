// The message catalog: numbers, severities, states and texts with their arguments.
#include "engine/messages.h"

#include <gtest/gtest.h>

namespace sampleserver {
namespace {

TEST(ValuesMessages, TextsWithArguments) {
  struct Case {
    int number;
    std::vector<std::string> args;
    int severity;
    const char* text;
  } cases[] = {
      {102, {"frm"}, 15, "Incorrect syntax near 'frm'."},
      {156, {"from"}, 15, "Incorrect syntax near the keyword 'from'."},
      {105, {"abc"}, 15, "Unclosed quote before the character string 'abc'."},
      {103,
       {"identifier", "aaaa", "30"},
       15,
       "The identifier that starts with 'aaaa' is too long. Maximum length is 30."},
      {137, {"@x"}, 15, "Must declare variable '@x'."},
      {207, {"nocol"}, 16, "Invalid column name 'nocol'."},
      {208,
       {"notab"},
       16,
       "notab not found. Specify owner.objectname or use sp_help to check whether the object "
       "exists (sp_help may produce lots of output)."},
      {213,
       {},
       16,
       "Insert error: column name or number of supplied values does not match table definition."},
      {515,
       {"au_id", "authors"},
       16,
       "Attempt to insert NULL value into column 'au_id', table 'authors'; column does not allow "
       "nulls. Update fails."},
      {2601,
       {"authors", "auidind"},
       14,
       "Attempt to insert duplicate key row in object 'authors' with unique index 'auidind'"},
      {2714, {"t1"}, 16, "There is already an object named 't1' in the database."},
      {2812,
       {"sp_nothing"},
       16,
       "Stored procedure 'sp_nothing' not found. Specify owner.objectname or use sp_help to "
       "check whether the object exists (sp_help may produce lots of output)."},
      {3701,
       {"table", "t9"},
       11,
       "Cannot drop the table 't9', because it doesn't exist in the system catalogs."},
      {911,
       {"nodb"},
       11,
       "Attempt to locate entry in sysdatabases for database 'nodb' by name failed - no entry "
       "found under that name. Make sure that name is entered properly."},
      {4002, {}, 14, "Login failed."},
      {5701, {"pubs2"}, 10, "Changed database context to 'pubs2'."},
      {266,
       {"0", "1"},
       10,
       "Transaction count after EXECUTE indicates that a COMMIT or ROLLBACK TRAN is missing. "
       "Previous count = 0, Current count = 1."},
      {3902, {}, 16, "The commit transaction request has no corresponding BEGIN TRANSACTION."},
  };
  for (const Case& c : cases) {
    ServerMessage m = MakeMessage(c.number, c.args);
    EXPECT_EQ(m.number, c.number);
    EXPECT_EQ(m.severity, c.severity) << c.number;
    EXPECT_EQ(m.text, c.text) << c.number;
  }
  EXPECT_EQ(MakeMessage(911, {"x"}).state, 2);
  EXPECT_EQ(MakeMessage(2812, {"x"}).state, 5);
}

TEST(ValuesMessages, MissingArgumentsAndUnknownNumbers) {
  EXPECT_EQ(MakeMessage(102).text, "Incorrect syntax near ''.");
  EXPECT_EQ(MakeMessage(102, {"a", "extra"}).text, "Incorrect syntax near 'a'.");
  ServerMessage m = MakeMessage(99999, {"x"});
  EXPECT_EQ(m.severity, 16);
  EXPECT_EQ(m.text, "Message 99999 not found.");
  EXPECT_EQ(FindMessage(99999), nullptr);
  ASSERT_NE(FindMessage(3606), nullptr);
  EXPECT_EQ(FindMessage(3606)->text, "Arithmetic overflow occurred.");
  EXPECT_EQ(FormatTemplate("100%% of %d", {"7"}), "100% of 7");
}

TEST(ValuesMessages, PrintAndRaiserror) {
  ServerMessage p = MakePrintMessage("hello");
  EXPECT_EQ(p.number, 0);
  EXPECT_EQ(p.severity, 10);
  EXPECT_EQ(p.text, "hello");
  ServerMessage r =
      MakeRaiserrorMessage(20001, "Title %1! has %2! sales, %1!; %3! stays", {"BU1032", "4"});
  EXPECT_EQ(r.number, 20001);
  EXPECT_EQ(r.severity, 16);
  EXPECT_EQ(r.text, "Title BU1032 has 4 sales, BU1032;  stays");
  EXPECT_EQ(FormatRaiserror("100% sure %21! %0!", {"a"}), "100% sure %21! %0!");
  EXPECT_EQ(MakeRaiserrorMessage(20001, std::string(600, 'x'), {}).text.size(), 512u);
}

TEST(ValuesMessages, SqlStates) {
  EXPECT_EQ(SqlStateOf(MakeMessage(102, {"x"})), "42000");
  EXPECT_EQ(SqlStateOf(MakeMessage(5701, {"x"})), "ZZZZZ");
  EXPECT_EQ(SqlStateOf(MakeMessage(3607)), "22012");
  EXPECT_EQ(SqlStateOf(MakeMessage(2601, {"a", "b"})), "23000");
  EXPECT_EQ(SqlStateOf(MakePrintMessage("x")), "ZZZZZ");
}

}  // namespace
}  // namespace sampleserver
