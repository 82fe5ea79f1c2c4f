// Triggers through the real engine: the rows they see, their transactions, nesting, and their
// place in the catalog.
#include "engine/bulk.h"
#include "test_engine_support.h"

namespace sampleserver::testing {
namespace {

class EngineTriggers : public Pubs2Test {
 protected:
  void TearDown() override {
    Run(*s, "drop table tg_t\ndrop table tg_log\ndrop table tg_a\ndrop table tg_b");
  }
  void Ok(const std::string& sql) {
    auto r = Run(*s, sql);
    ASSERT_TRUE(r.ErrorNumbers().empty()) << sql << ": " << r.messages[0].text;
  }
  std::string Rows(const std::string& sql) {
    auto r = Run(*s, sql);
    std::string out;
    if (r.sets.empty()) return "<no result> " + (r.messages.empty() ? "" : r.messages[0].text);
    for (const auto& row : r.sets[0].rows) {
      for (size_t i = 0; i < row.size(); ++i)
        out += (i ? "," : "") + Text(row[i], r.sets[0].columns[i].type);
      out += ";";
    }
    return out;
  }
};

TEST_F(EngineTriggers, SeeInsertedDeletedRowcountAndUpdatedColumns) {
  Ok("create table tg_t (k int not null, v int not null)");
  Ok("create table tg_log (n int null, ins int null, del int null, updv int null, joined int "
     "null)");
  Ok("create trigger tg_trg on tg_t for insert, update, delete as\n"
     "insert tg_log select @@rowcount, (select count(*) from inserted),"
     " (select count(*) from deleted), 0,"
     " (select sum(t.v) from inserted i, tg_t t where i.k = t.k)\n"
     "if update(v) update tg_log set updv = 1");
  struct Case {
    const char* statement;
    const char* log;  // @@rowcount, inserted rows, deleted rows, update(v), sum over a join
  } cases[] = {
      {"insert tg_t values (1, 10)", "1,1,0,1,10;"},
      {"insert tg_t select k + 1, v * 2 from tg_t", "1,1,0,1,20;"},
      {"update tg_t set v = v + 1", "2,2,2,1,32;"},
      {"update tg_t set k = k where k = 1", "1,1,1,0,11;"},
      {"update tg_t set v = 0 where k = 99", "0,0,0,1,NULL;"},
      {"delete tg_t where k = 2", "1,0,1,0,NULL;"},
  };
  for (const auto& c : cases) {
    Ok("delete tg_log");
    Ok(c.statement);
    EXPECT_EQ(Rows("select * from tg_log"), c.log) << c.statement;
  }
  // The statement's own count survives its trigger.
  EXPECT_EQ(Rows("update tg_t set v = 5\nselect @@rowcount"), "1;");
}

TEST_F(EngineTriggers, RollbackTransactionUndoesEverythingAndEndsTheBatch) {
  Ok("create table tg_t (k int not null, v int not null)");
  Ok("create trigger tg_trg on tg_t for insert as\n"
     "if exists (select 1 from inserted where v < 0)\n"
     "begin\n raiserror 20010 'negative'\n rollback transaction\nend");
  auto r = Run(*s,
               "begin tran\ninsert tg_t values (1, 1)\ninsert tg_t values (2, -1)\n"
               "select 'still running'");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{20010});
  EXPECT_TRUE(r.sets.empty());
  EXPECT_EQ(Rows("select count(*), @@trancount from tg_t"), "0,0;");
  // Also when the statement runs in a procedure.
  Run(*s, "create procedure tg_proc as insert tg_t values (3, -1)");
  r = Run(*s, "exec tg_proc\nselect 'still running'");
  Run(*s, "drop procedure tg_proc");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{20010});
  EXPECT_TRUE(r.sets.empty());
}

TEST_F(EngineTriggers, RollbackTriggerUndoesOnlyTheStatementAndTheBatchGoesOn) {
  Ok("create table tg_t (k int not null, v int not null)");
  Ok("create table tg_log (k int not null)");
  Ok("create trigger tg_trg on tg_t for insert as\n"
     "insert tg_log select k from inserted\n"
     "if exists (select 1 from inserted where v < 0)\n"
     " rollback trigger with raiserror 20011 'negative %1!', 'value'");
  auto r = Run(*s,
               "begin tran\ninsert tg_t values (1, 1)\ninsert tg_t values (2, -1)\n"
               "select count(*) from tg_t\ncommit");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{20011});
  ASSERT_EQ(r.sets.size(), 1u);
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "1");
  EXPECT_EQ(Rows("select k from tg_log"), "1;");
  EXPECT_EQ(Rows("select @@trancount"), "0;");
}

TEST_F(EngineTriggers, NestingStopsAtSixteenAndATriggerDoesNotRefireItself) {
  Ok("create table tg_a (k int not null)");
  Ok("create table tg_b (k int not null)");
  Ok("create trigger tg_ta on tg_a for insert as\n"
     "if exists (select 1 from inserted where k < 40) insert tg_b select k + 1 from inserted");
  Ok("create trigger tg_tb on tg_b for insert as\n"
     "if exists (select 1 from inserted where k < 40) insert tg_a select k + 1 from inserted");
  struct Case {
    int start;
    std::vector<int> errors;
    const char* rows;  // rows in tg_a and tg_b afterwards
  } cases[] = {
      {25, {}, "16;"},    // the sixteenth trigger is the last and changes nothing
      {24, {217}, "0;"},  // a seventeenth fails the whole transaction
  };
  for (const auto& c : cases) {
    auto r = Run(*s, "insert tg_a values (" + std::to_string(c.start) + ")\nselect 'after'");
    EXPECT_EQ(r.ErrorNumbers(), c.errors) << c.start;
    EXPECT_EQ(r.sets.empty(), !c.errors.empty()) << "the batch ends with the failure";
    EXPECT_EQ(Rows("select (select count(*) from tg_a) + (select count(*) from tg_b)"), c.rows);
    Ok("delete tg_a\ndelete tg_b");
  }
  // A trigger that writes its own table runs once per outer statement.
  Ok("create trigger tg_self on tg_a for insert as insert tg_a select k + 100 from inserted");
  Ok("insert tg_a values (1)");
  EXPECT_EQ(Rows("select k from tg_a order by k"), "1;101;");
  auto r = Run(*s, "set self_recursion on\ninsert tg_a values (2)");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{217});
  Run(*s, "set self_recursion off");
  EXPECT_EQ(Rows("select count(*) from tg_a"), "2;");
}

TEST_F(EngineTriggers, OnePerActionDropAndCatalog) {
  Ok("create table tg_t (k int not null, v int not null)");
  Ok("create trigger tg_iu on tg_t for insert, update as print 'iu'");
  Ok("create trigger tg_i on tg_t for insert as print 'i'");
  auto pointers =
      "select object_name(instrig), object_name(updtrig), deltrig from sysobjects"
      " where name = 'tg_t'";
  EXPECT_EQ(Rows(pointers), "tg_i,tg_iu,0;");
  Ok("create trigger tg_u on tg_t for update as print 'u'");
  EXPECT_EQ(Rows(pointers), "tg_i,tg_u,0;");
  EXPECT_EQ(Rows("select count(*) from sysobjects where name = 'tg_iu'"), "0;");  // left with none
  auto r = Run(*s, "update tg_t set v = 1");
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].text, "u");
  Ok("drop trigger tg_i");
  EXPECT_EQ(Rows(pointers), "NULL,tg_u,0;");
  EXPECT_TRUE(Run(*s, "insert tg_t values (1, 1)").messages.empty());
  Ok("drop table tg_t");
  EXPECT_EQ(Rows("select count(*) from sysobjects where name = 'tg_u'"), "0;");
}

TEST_F(EngineTriggers, BulkCopyDoesNotFireTriggers) {
  Ok("create table tg_t (k int not null, v int not null)");
  Ok("create table tg_log (k int not null)");
  Ok("create trigger tg_trg on tg_t for insert as insert tg_log select k from inserted");
  LoginRequest login;
  login.user = "sa";
  login.bulkCopy = true;
  ServerMessage failure;
  auto copier = engine_->Login(login, &failure);
  ASSERT_TRUE(copier);
  Run(*copier, "use pubs2");
  RecordingSink sink;
  auto bulk = copier->BeginBulkInsert("tg_t", sink);
  ASSERT_TRUE(bulk);
  std::vector<Value> row{int64_t{1}, int64_t{2}};
  bulk->Add(row, sink);
  bulk->Commit(sink);
  EXPECT_TRUE(sink.ErrorNumbers().empty());
  EXPECT_EQ(Rows("select count(*) from tg_t"), "1;");
  EXPECT_EQ(Rows("select count(*) from tg_log"), "0;");
  Ok("insert tg_t values (2, 2)");
  EXPECT_EQ(Rows("select k from tg_log"), "2;");
}

TEST_F(EngineTriggers, Pubs2DeltitleKeepsTitlesWithSales) {
  auto r = Run(*s, "delete titles where title_id = 'BU2101'\nselect 'after'");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{20001});
  EXPECT_TRUE(r.sets.empty());
  EXPECT_EQ(Rows("select count(*) from titles where title_id = 'BU2101'"), "1;");
  // A title without sales goes.
  EXPECT_EQ(Rows("select count(*) from salesdetail where title_id = 'UN7002'"), "0;");
  r = Run(*s,
          "begin tran\ndelete titles where title_id = 'UN7002'\n"
          "select count(*) from titles where title_id = 'UN7002'\nrollback");
  EXPECT_TRUE(r.ErrorNumbers().empty());
  ASSERT_EQ(r.sets.size(), 1u);
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "0");
  EXPECT_EQ(Rows("select count(*) from titles where title_id = 'UN7002'"), "1;");
}

}  // namespace
}  // namespace sampleserver::testing
