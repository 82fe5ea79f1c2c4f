// System procedures on the sample database: result columns and a key value of each, their
// failures, sp_rename keeping the catalog and SQLite's tables in step, procedure groups and
// master's sysprocesses and spt_values.
#include "engine/sqltypes.h"
#include "test_engine_support.h"

namespace sampleserver::testing {
namespace {

class EngineSysprocs : public Pubs2Test {
 protected:
  static std::vector<std::string> Names(const ResultSet& set) {
    std::vector<std::string> out;
    for (const auto& c : set.columns) out.push_back(c.name);
    return out;
  }
};

TEST_F(EngineSysprocs, EachProcedureAnswersWithItsColumnsAndKeyValues) {
  auto setup = Run(
      *s,
      "create table sp_orders (id int not null, line int not null, note varchar(9) null,"
      " constraint sp_orders_pk primary key (id, line), constraint sp_orders_ck check (line > 0))\n"
      "create table sp_lines (order_id int not null, line_no int not null,"
      " constraint sp_lines_fk foreign key (order_id, line_no) references sp_orders)\n"
      "grant select on titles to public\n"
      "grant update (price, advance) on titles to editors with grant option\n"
      "revoke select on titles from bookclerk\ngrant execute on byroyalty to clerks");
  ASSERT_TRUE(setup.ErrorNumbers().empty()) << setup.messages[0].text;
  const std::string titles = ScalarText(*s, "select convert(varchar, count(*)) from titles");
  struct Case {
    std::string call;
    size_t set;  // which result set
    std::vector<std::string> columns;
    size_t row, col;
    std::string value;  // "" with row = npos: the set has no rows
  };
  const size_t none = std::string::npos;
  const std::vector<std::string> odbcColumns = {
      "TABLE_QUALIFIER",   "TABLE_OWNER",      "TABLE_NAME", "COLUMN_NAME",   "DATA_TYPE",
      "TYPE_NAME",         "PRECISION",        "LENGTH",     "SCALE",         "RADIX",
      "NULLABLE",          "REMARKS",          "COLUMN_DEF", "SQL_DATA_TYPE", "SQL_DATETIME_SUB",
      "CHAR_OCTET_LENGTH", "ORDINAL_POSITION", "IS_NULLABLE"};
  const std::vector<Case> cases = {
      {"exec sp_helpdb pubs2",
       0,
       {"name", "db_size", "owner", "dbid", "created", "status"},
       0,
       5,
       "select into/bulkcopy/pllsort"},
      {"exec sp_helpdb pubs2",
       1,
       {"device_fragments", "size", "usage", "created", "free kbytes"},
       0,
       2,
       "data and log"},
      {"exec sp_columns authors", 0, odbcColumns, 0, 5, "id"},
      {"exec sp_columns @table_name = 'titles', @column_name = 'pri%'", 0, odbcColumns, 0, 7, "21"},
      {"exec sp_tables 'title%', @table_type = \"'VIEW'\"",
       0,
       {"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "TABLE_TYPE", "REMARKS"},
       0,
       2,
       "titleview"},
      {"exec sp_pkeys sp_orders",
       0,
       {"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "COLUMN_NAME", "KEY_SEQ", "PK_NAME"},
       1,
       3,
       "line"},
      {"exec sp_fkeys sp_orders", 0, {}, 1, 7, "line_no"},
      {"exec sp_fkeys @fktable_name = sp_lines", 0, {}, 0, 11, "sp_lines_fk"},
      {"exec sp_fkeys titles",
       0,
       {"PKTABLE_QUALIFIER", "PKTABLE_OWNER", "PKTABLE_NAME", "PKCOLUMN_NAME", "FKTABLE_QUALIFIER",
        "FKTABLE_OWNER", "FKTABLE_NAME", "FKCOLUMN_NAME", "KEY_SEQ", "UPDATE_RULE", "DELETE_RULE",
        "FK_NAME", "PK_NAME"},
       none,
       0,
       ""},
      {"exec sp_spaceused titles",
       0,
       {"name", "rowtotal", "reserved", "data", "index_size", "unused"},
       0,
       1,
       titles},
      {"exec sp_lock",
       0,
       {"fid", "spid", "loid", "locktype", "table_id", "partitionid", "page", "row", "dbname",
        "context"},
       none,
       0,
       ""},
      {"exec sp_depends titleview",
       0,
       {"object", "type", "updated", "selected"},
       0,
       0,
       "dbo.authors"},
      {"exec sp_depends titles", 0, {"object", "type"}, 0, 0, "dbo.author_titles"},
      {"exec sp_helpconstraint sp_orders",
       0,
       {"name", "definition", "created"},
       2,
       1,
       "PRIMARY KEY INDEX ( id, line) : CLUSTERED"},
      {"exec sp_helpconstraint sp_orders",
       0,
       {},
       0,
       1,
       "sp_lines FOREIGN KEY (order_id, line_no) REFERENCES sp_orders(id, line)"},
      {"exec sp_stored_procedures 'pub%'",
       0,
       {"PROCEDURE_QUALIFIER", "PROCEDURE_OWNER", "PROCEDURE_NAME", "NUM_INPUT_PARAMS",
        "NUM_OUTPUT_PARAMS", "NUM_RESULT_SETS", "REMARKS", "PROCEDURE_TYPE"},
       0,
       2,
       "pub_count;1"},
      {"exec sp_stored_procedures pub_count", 0, {}, 0, 4, "1"},
      {"exec sp_server_info 1",
       0,
       {"attribute_id", "attribute_name", "attribute_value"},
       0,
       1,
       "DBMS_NAME"},
      {"exec sp_datatype_info @data_type = 4",
       0,
       {"TYPE_NAME", "DATA_TYPE", "PRECISION", "LITERAL_PREFIX", "LITERAL_SUFFIX", "CREATE_PARAMS",
        "NULLABLE", "CASE_SENSITIVE", "SEARCHABLE", "UNSIGNED_ATTRIBUTE", "MONEY", "AUTO_INCREMENT",
        "LOCAL_TYPE_NAME", "MINIMUM_SCALE", "MAXIMUM_SCALE", "SQL_DATA_TYPE", "SQL_DATETIME_SUB",
        "NUM_PREC_RADIX", "INTERVAL_PRECISION"},
       0,
       0,
       "int"},
      {"exec sp_version", 0, {"Script", "Version", "Status"}, 0, 0, "installmaster"},
      {"exec sp_helpuser bookclerk",
       0,
       {"Users_name", "ID_in_db", "Group_name", "Login_name"},
       0,
       2,
       "clerks"},
      {"exec sp_helpgroup clerks",
       0,
       {"Group_name", "Group_id", "Users_in_group", "Userid"},
       0,
       2,
       "bookclerk"},
      {"exec sp_helprotect titles",
       0,
       {"grantor", "grantee", "type", "action", "object", "column", "grantable"},
       1,
       5,
       "price"},
      {"exec sp_helprotect titles", 0, {}, 2, 6, "TRUE"},
      {"exec sp_helprotect titles, bookclerk", 0, {}, 0, 2, "Revoke"},
      {"exec sp_helprotect titles, 'public'", 0, {}, 0, 5, "All"},
      {"exec sp_helprotect clerks", 0, {}, 0, 3, "Execute"},
      {"exec sp_helprotect authors", 0, {}, none, 0, ""},
      {"exec sp_procxmode byroyalty",
       0,
       {"procedure name", "user name", "transaction mode"},
       0,
       2,
       "Unchained"},
      {"exec SP_PROCXMODE byroyalty, anymode\nexec sp_procxmode byroyalty",
       0,
       {},
       0,
       2,
       "Any Mode"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    auto r = Run(*s, c.call);
    ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
    EXPECT_EQ(r.statuses.back(), 0);
    ASSERT_GT(r.sets.size(), c.set);
    const auto& set = r.sets[c.set];
    if (!c.columns.empty()) {
      EXPECT_EQ(Names(set), c.columns);
    }
    if (c.row == none) {
      EXPECT_TRUE(set.rows.empty());
      continue;
    }
    ASSERT_GT(set.rows.size(), c.row);
    EXPECT_EQ(Text(set.rows[c.row][c.col], set.columns[c.col].type), c.value);
  }

  // Bindings and placement change the catalog.
  auto r = Run(
      *s,
      "exec sp_bindefault typedflt, 'sp_orders.note'\nexec sp_placeobject logsegment, sp_orders");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_EQ(r.statuses, (std::vector<int32_t>{0, 0}));
  EXPECT_EQ(
      ScalarText(*s,
                 "select object_name(cdefault) from syscolumns where id = object_id('sp_orders')"
                 " and name = 'note'"),
      "typedflt");
  EXPECT_EQ(
      ScalarText(*s,
                 "select segment from sysindexes where id = object_id('sp_orders') and indid = 1"),
      "2");
  // Revoking from everyone leaves no record.
  r = Run(*s,
          "revoke all on titles from public, editors, bookclerk\nrevoke execute on byroyalty from "
          "clerks\n"
          "select count(*) from sysprotects");
  EXPECT_TRUE(r.ErrorNumbers().empty());
  EXPECT_EQ(Text(r.sets.back().rows[0][0]), "0");
  // A referenced table stays until the tables referring to it go.
  EXPECT_EQ(Run(*s, "drop table sp_orders").ErrorNumbers(), std::vector<int>{3712});
  r = Run(*s,
          "exec sp_procxmode byroyalty, unchained\ndrop table sp_lines\ndrop table sp_orders\n"
          "select count(*) from sysreferences");
  EXPECT_TRUE(r.ErrorNumbers().empty());
  EXPECT_EQ(Text(r.sets.back().rows[0][0]), "0");
}

TEST_F(EngineSysprocs, MissingObjectsReturnStatusOneWithTheMessage) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"exec sp_helpdb nosuchdb", 17590},       {"exec sp_depends nosuch", 17461},
      {"exec sp_rename nosuch, other", 17461},  {"exec sp_rename 'titles.nosuch', other", 17461},
      {"exec sp_pkeys nosuch", 17461},          {"exec sp_columns titles, dbo, master", 18039},
      {"exec sp_helpconstraint nosuch", 17461}, {"exec sp_spaceused nosuch", 17461},
      {"exec sp_helpgroup nosuch", 15013},      {"exec sp_helpuser nosuch", 15008},
      {"exec sp_procxmode nosuch", 17461},      {"exec sp_placeobject nosuchseg, titles", 17520},
      {"exec sp_rename titles, authors", 2714}, {"exec sp_fkeys nosuch", 17461},
  };
  for (const auto& [call, number] : cases) {
    SCOPED_TRACE(call);
    auto r = Run(*s, call);
    EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{number});
    EXPECT_EQ(r.statuses, std::vector<int32_t>{1});
  }
  // Patterns that match nothing are an empty answer, not a failure.
  auto r = Run(*s, "exec sp_columns 'nosuch%'");
  EXPECT_TRUE(r.ErrorNumbers().empty());
  ASSERT_EQ(r.sets.size(), 1u);
  EXPECT_TRUE(r.sets[0].rows.empty());
}

TEST_F(EngineSysprocs, RenameKeepsTheCatalogAndTheTableTrue) {
  auto r = Run(*s,
               "create table rn_t (a int not null, b varchar(5) null)\ncreate unique index rn_ix "
               "on rn_t (a)\n"
               "insert rn_t values (1, 'x')\n"
               "exec sp_rename rn_t, rn_u\nexec sp_rename 'rn_u.b', c\nexec sp_rename "
               "'rn_u.rn_ix', rn_iy, 'index'");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_EQ(r.statuses, (std::vector<int32_t>{0, 0, 0}));
  EXPECT_EQ(ScalarText(*s, "select c from rn_u where a = 1"), "x");
  EXPECT_EQ(ScalarText(*s, "select object_id('rn_t')"), "NULL");
  EXPECT_EQ(
      ScalarText(*s, "select name from syscolumns where id = object_id('rn_u') and colid = 2"),
      "c");
  EXPECT_EQ(
      ScalarText(*s, "select name from sysindexes where id = object_id('rn_u') and indid = 2"),
      "rn_iy");
  // The renamed index still enforces uniqueness and drops under its new name.
  EXPECT_EQ(Run(*s, "insert rn_u values (1, 'y')").ErrorNumbers(), std::vector<int>{2601});
  r = Run(*s, "drop index rn_u.rn_iy\ninsert rn_u values (1, 'y')\ndrop table rn_u");
  EXPECT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;

  // A view is recreated under its new name.
  r = Run(*s,
          "create view rn_v as select au_id from authors\nexec sp_rename rn_v, rn_w\n"
          "select count(*) from rn_w\ndrop view rn_w");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_NE(Text(r.sets[0].rows[0][0]), "0");
}

TEST_F(EngineSysprocs, ProcedureGroupsShareOneObject) {
  auto r = Run(*s, "create procedure grp_p as select 1\n");
  r = Run(*s, "create procedure grp_p;2 @x int as select @x * 2\n");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_EQ(Run(*s, "create procedure grp_p;2 as select 3").ErrorNumbers(), std::vector<int>{2714});
  EXPECT_EQ(ScalarText(*s, "select count(*) from sysobjects where name = 'grp_p'"), "1");
  EXPECT_EQ(ScalarText(*s,
                       "select convert(varchar, min(number)) + ',' + convert(varchar, max(number))"
                       " from syscomments where id = object_id('grp_p')"),
            "1,2");
  EXPECT_EQ(ScalarText(*s, "exec grp_p"), "1");
  EXPECT_EQ(ScalarText(*s, "exec grp_p;2 21"), "42");
  EXPECT_EQ(Run(*s, "exec grp_p;3").ErrorNumbers(), std::vector<int>{2812});
  r = Run(*s,
          "drop procedure grp_p\nselect count(*) from syscomments where id = object_id('grp_p')");
  EXPECT_TRUE(r.ErrorNumbers().empty());
  EXPECT_EQ(ScalarText(*s, "select object_id('grp_p')"), "NULL");
}

TEST_F(EngineSysprocs, SysprocessesShowsEveryLiveSession) {
  auto other = Login("bookclerk", "clerk2000");
  ASSERT_TRUE(other);
  const std::string q =
      "select spid, status, program_name, db_name(dbid), cmd from master..sysprocesses"
      " where spid in (@@spid, " +
      ScalarText(*other, "select @@spid") + ") order by spid";
  auto r = Run(*s, q);
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  ASSERT_EQ(r.sets[0].rows.size(), 2u);
  const auto& mine = r.sets[0].rows[0];
  const auto& theirs = r.sets[0].rows[1];
  EXPECT_EQ(Text(mine[1]), "running     ");  // the asking session is at work
  EXPECT_EQ(Text(theirs[1]), "recv sleep  ");
  EXPECT_EQ(Text(mine[2]), "engine-tests");
  EXPECT_EQ(Text(mine[3]), "pubs2");
  EXPECT_EQ(Text(theirs[3]), "pubs2");  // the login's default database
  EXPECT_EQ(Text(mine[4]), "SELECT");
  EXPECT_EQ(Text(theirs[4]), "AWAITING COMMAND");
  const std::string spid = Text(theirs[0]);
  other.reset();
  EXPECT_EQ(ScalarText(*s, "select count(*) from master..sysprocesses where spid = " + spid), "0");
  // sp_who lists them too, and a remote procedure call names its parameters.
  RecordingSink who;
  ParamValue login;
  login.name = "@loginame";
  login.type = MakeColumnInfo("", *BuiltinType("varchar", 30, std::nullopt), true);
  login.value = std::string("sa");
  s->CallProcedure("SP_WHO", {login}, who);
  ASSERT_EQ(who.statuses, std::vector<int32_t>{0});
  ASSERT_EQ(who.sets.size(), 1u);
  ASSERT_FALSE(who.sets[0].rows.empty());
  for (const auto& row : who.sets[0].rows) EXPECT_EQ(Text(row[3]), "sa");
  // syslocks exists with its columns, empty while nothing is locked.
  r = Run(*s,
          "select id, dbid, page, type, spid, class, fid, context, row, loid, partitionid, nodeid"
          " from master..syslocks");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_TRUE(r.sets[0].rows.empty());
}

TEST_F(EngineSysprocs, SptValuesHoldsTheNumbersAndNames) {
  EXPECT_EQ(
      ScalarText(*s,
                 "select convert(varchar, count(*)) + ',' + convert(varchar, min(number)) + ','"
                 " + convert(varchar, max(number)) from master..spt_values where type = 'P'"),
      "2048,0,2047");
  EXPECT_EQ(ScalarText(*s, "select name from master..spt_values where type = 'O' and number = 3"),
            "user table");
  // The number table at work: the characters of a string, one row each.
  auto r = Run(*s,
               "select substring('abc', number, 1) from master..spt_values where type = 'P'"
               " and number between 1 and 3 order by number");
  ASSERT_EQ(r.sets[0].rows.size(), 3u);
  EXPECT_EQ(Text(r.sets[0].rows[2][0]), "c");
}

}  // namespace
}  // namespace sampleserver::testing
