// Character and binary columns: NOT NULL char/binary fixed-length, nullable ones variable;
// values cut to the declared bytes, or refused under string_rtruncation.
#include "test_engine_support.h"

namespace sampleserver::testing {
namespace {

class EngineStrings : public Pubs2Test {
 protected:
  void TearDown() override {
    if (s) Run(*s, "drop table st_t");
  }
  void Expect(const std::vector<std::pair<std::string, std::string>>& cases) {
    for (const auto& [sql, expected] : cases) EXPECT_EQ(ScalarText(*s, sql), expected) << sql;
  }
};

TEST_F(EngineStrings, NotNullCharIsPaddedAndNullableCharIsVarchar) {
  auto r = Run(*s,
               "create table st_t(cn char(5) not null, cv char(5) null, v varchar(5) not null,"
               " bn binary(3) not null, bv binary(3) null)\n"
               "insert st_t values ('ab', 'ab  ', 'ab  ', 0x01, 0x01)");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  Expect({
      {"select cn from st_t", "ab   "},
      {"select cv from st_t", "ab"},
      {"select cn + 'x' from st_t", "ab   x"},
      {"select cv + 'x' from st_t", "abx"},
      {"select v + 'x' from st_t", "abx"},
      {"select datalength(cn) from st_t", "5"},
      {"select datalength(cv) from st_t", "2"},
      {"select datalength(bn) from st_t", "3"},
      {"select datalength(bv) from st_t", "1"},
      {"select count(*) from st_t where cn = 'ab' and cn = cv and cv = v", "1"},
  });
  // A computed char that may be NULL lands in a nullable, varchar-like column.
  r = Run(*s,
          "select convert(char(4), cv) as x, convert(char(4), 'a') as y into #st_into from st_t");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  Expect({{"select datalength(x) + datalength(y) * 10 from #st_into", "42"}});
  ASSERT_TRUE(Run(*s, "update st_t set cn = 'xyz', cv = cn").ErrorNumbers().empty());
  Expect({
      {"select cn + '|' from st_t", "xyz  |"},
      {"select cv + '|' from st_t", "ab|"},  // set from the old, padded value, then trimmed
  });
}

TEST_F(EngineStrings, LongValuesAreCutToTheDeclaredBytes) {
  // "abcé" is five bytes: the two-byte character does not fit in four and goes whole.
  auto r = Run(*s,
               "create table st_t(v varchar(4) null, c char(4) not null, b varbinary(2) null)\n"
               "insert st_t values ('abcé', 'abcdefg', 0x010203)");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  Expect({
      {"select v + '|' from st_t", "abc|"},
      {"select c + '|' from st_t", "abcd|"},
      {"select datalength(b) from st_t", "2"},
      {"select convert(varchar(4), 'abcé') + '|'", "abc|"},
      {"select convert(char(5), 'abcé') + '|'", "abcé|"},
      {"declare @v varchar(3) select @v = 'abcdef' select @v", "abc"},
      {"declare @v varchar(3) set @v = 'aéz' select @v", "aé"},
      {"declare @c char(3) select @c = 'a' select @c + '|'", "a  |"},
  });
  ASSERT_TRUE(Run(*s, "update st_t set v = 'wxyz!', c = 'éé' + 'é'").ErrorNumbers().empty());
  Expect({{"select v + c + '|' from st_t", "wxyzéé|"}});
  r = Run(*s,
          "create proc st_p @p varchar(3), @q varbinary(1) as select @p + '|' + convert(varchar, "
          "datalength(@q))");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  Expect({{"exec st_p 'abé', 0x0102", "ab|1"}});
  Run(*s, "drop proc st_p");
  // unichar(n) and univarchar(n) count characters, not bytes.
  ASSERT_TRUE(Run(*s, "create table st_u(u univarchar(2) null)\ninsert st_u values ('ééé')")
                  .ErrorNumbers()
                  .empty());
  Expect({{"select u + '|' from st_u", "éé|"}});
}

TEST_F(EngineStrings, StringRtruncationRefusesCutsAndChangesNothing) {
  auto r = Run(*s,
               "create table st_t(id int, v varchar(4) null)\ninsert st_t values (1, 'ab')\n"
               "set string_rtruncation on");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_EQ(s->GetOption(static_cast<int>(Option::StrRtrunc)), std::vector<uint8_t>{1});
  for (const char* sql : {"insert st_t values (2, 'abcde')", "update st_t set v = v + 'xyz'",
                          "insert st_t select 3, 'abcdé'"}) {
    r = Run(*s, sql);
    EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{kMsgStringTruncation}) << sql;
  }
  Expect({{"select v + '|' + convert(varchar, count(*)) from st_t group by v", "ab|1"}});
  // Only blanks lost: not a truncation.
  EXPECT_TRUE(Run(*s, "insert st_t values (4, 'abcd   ')").ErrorNumbers().empty());
  RecordingSink sink;
  s->SetOption(static_cast<int>(Option::StrRtrunc), std::vector<uint8_t>{0}, sink);
  EXPECT_TRUE(Run(*s, "insert st_t values (5, 'abcde')").ErrorNumbers().empty());
  Expect({{"select v + '|' from st_t where id = 5", "abcd|"}});
}

TEST_F(EngineStrings, BulkRowsAreFittedToTheirColumns) {
  LoginRequest login;
  login.user = "sa";
  login.bulkCopy = true;
  ServerMessage failure;
  auto b = engine_->Login(login, &failure);
  ASSERT_TRUE(b);
  auto r = Run(*b,
               "use pubs2\ncreate table st_t(v varchar(4) null, c char(4) not null,"
               " cn char(4) null, bn binary(3) not null)\nset string_rtruncation on");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  RecordingSink sink;
  auto bulk = b->BeginBulkInsert("st_t", sink);
  ASSERT_TRUE(bulk);
  std::vector<Value> row{std::string("abc\xC3\xA9"), std::string("ab"), std::string("ab  "),
                         Bytes{1}};
  bulk->Add(row, sink);
  bulk->Commit(sink);
  ASSERT_TRUE(sink.ErrorNumbers().empty()) << sink.messages[0].text;
  Expect({{"select v + c + cn + '|' + convert(varchar, datalength(bn)) from st_t", "abcab  ab|3"}});
}

}  // namespace
}  // namespace sampleserver::testing
