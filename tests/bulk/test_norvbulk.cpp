// The bulk copy component against the sample server: files written from tables and tables
// filled from files, in each format, with the row window, batches, events and the faults a plain
// text file cannot carry.
#include "bulk_fixture.h"

namespace norvtest {
namespace {

TEST_F(BulkTest, EveryTableCopiesOutAndBackInUnchanged) {
  const char* tables[] = {"authors",   "titles",   "publishers",  "sales",  "salesdetail", "stores",
                          "discounts", "roysched", "titleauthor", "blurbs", "au_pix"};
  for (const char* name : tables) {
    SCOPED_TRACE(name);
    const QString source = QStringLiteral("pubs2..") + QLatin1String(name);
    const QString copy = source + QStringLiteral("_blk");
    const QString file = QLatin1String(name) + QStringLiteral(".txt");
    Run({QStringLiteral("if object_id('%1') is not null drop table %1")
             .arg(copy)
             .toUtf8()
             .constData()});
    Run({QStringLiteral("select * into %1 from %2 where 1=0")
             .arg(copy, source)
             .toUtf8()
             .constData()});
    auto out = Bulk(bdOut, source, file);
    out->BulkCopy();
    const Rows rows = Query(QStringLiteral("select * from ") + source);
    EXPECT_EQ(out->RowsCopied(), rows.size());
    auto in = Bulk(bdIn, copy, file);
    in->BulkCopy();
    EXPECT_EQ(in->RowsCopied(), rows.size());
    EXPECT_EQ(Query(QStringLiteral("select * from ") + copy), rows);
    auto again = Bulk(bdOut, copy, file + QStringLiteral(".2"));
    again->BulkCopy();
    EXPECT_EQ(Read(file + QStringLiteral(".2")), Read(file));
  }
}

}  // namespace
}  // namespace norvtest

namespace norvtest {
namespace {

class BulkBehaviour : public BulkTest {
 protected:
  void SetUp() override {
    Run({"if object_id('pubs2..blk_t') is not null drop table pubs2..blk_t",
         "create table pubs2..blk_t (a varchar(20) null, b varchar(20) null, c varchar(20) null)"});
  }
  void Fill(std::initializer_list<const char*> rows) {
    for (const char* values : rows)
      Run({("insert pubs2..blk_t values (" + std::string(values) + ")").c_str()});
  }
  static Rows Table() { return Query(QStringLiteral("select * from pubs2..blk_t")); }
};

TEST_F(BulkBehaviour, EachFormatWritesItsSeparatorAndRowEnd) {
  Fill({"'a', 'b', 'c'", "'d', null, 'f'"});
  struct Case {
    TFormat format;
    const char* terminator;
    std::string expected;
  };
  const Case cases[] = {
      {bcCharacter, ",", "a\tb\tc\r\nd\t\tf\r\n"},
      {bcNone, "|", "a|b|c\r\nd||f\r\n"},
      {bcNone, "<->", "a<->b<->c\r\nd<-><->f\r\n"},
      {bcNative, "|", std::string("abc") + "df"},
  };
  for (const Case& c : cases) {
    auto out = Bulk(bdOut, QStringLiteral("pubs2..blk_t"), QStringLiteral("f.txt"));
    out->SetFormat(c.format);
    out->SetFieldTerminator(QString::fromLatin1(c.terminator));
    out->SetRowTerminator(QStringLiteral("#"));  // kept, never used
    out->BulkCopy();
    EXPECT_EQ(Read(QStringLiteral("f.txt")), c.expected) << c.format << c.terminator;
    EXPECT_EQ(out->RowsCopied(), 2u);
  }
}

TEST_F(BulkBehaviour, LinesSplitAtTheSeparatorWithEitherLineEnd) {
  struct Case {
    TFormat format;
    const char* terminator;
    std::string file;
    Rows rows;
  };
  const Case cases[] = {
      {bcCharacter, "", "1\t\tx\n\r\n1\tx\t\r\n", {{"1", "", "x"}, {"1", "x", ""}}},
      {bcNone, ";", "p;q;r\r\n\ns;t;u", {{"p", "q", "r"}, {"s", "t", "u"}}},
      // Fields are taken as they are (the server drops a varchar's trailing blanks itself).
      {bcCharacter, ";", "a b\tc;d\t e \n", {{"a b", "c;d", " e"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Run({"delete pubs2..blk_t"});
    Write(QStringLiteral("in.txt"), c.file);
    auto in = Bulk(bdIn, QStringLiteral("pubs2..blk_t"), QStringLiteral("in.txt"));
    in->SetFormat(c.format);
    in->SetFieldTerminator(QString::fromLatin1(c.terminator));
    in->BulkCopy();
    EXPECT_EQ(in->RowsCopied(), c.rows.size());
    EXPECT_EQ(in->CurrentRow(), c.rows.size() + 1);  // empty lines are not rows
    EXPECT_EQ(Table(), c.rows);
  }
  // NULL in a nullable column is written as an empty field and read back as NULL.
  EXPECT_EQ(Query(QStringLiteral("select count(*) from pubs2..blk_t where a is null")),
            (Rows{{"0"}}));
}

TEST_F(BulkBehaviour, TheRowWindowSelectsSourceRowsBothWays) {
  Fill({"'1', 'x', 'x'", "'2', 'x', 'x'", "'3', 'x', 'x'", "'4', 'x', 'x'", "'5', 'x', 'x'",
        "'6', 'x', 'x'", "'7', 'x', 'x'"});
  struct Case {
    uint32_t first, last;
    std::string expected;
  };
  const Case cases[] = {{3, 5, "345"}, {0, 0, "1234567"}, {1, 2, "12"}, {6, 0, "67"}};
  for (const Case& c : cases) {
    auto out = Bulk(bdOut, QStringLiteral("pubs2..blk_t"), QStringLiteral("w.txt"));
    out->SetFirstRow(c.first);
    out->SetLastRow(c.last);
    out->SetFormat(bcNone);  // rows as "n|x|x"
    out->SetFieldTerminator(QStringLiteral("|"));
    out->BulkCopy();
    std::string firsts;
    for (const auto& line : QString::fromStdString(Read(QStringLiteral("w.txt")))
                                .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
      firsts += line.left(1).toStdString();
    EXPECT_EQ(firsts, c.expected) << c.first << "-" << c.last;
    EXPECT_EQ(out->RowsCopied(), c.expected.size());
  }
  // Into a table the same window picks lines 3 to 5 of the file.
  Write(QStringLiteral("w.txt"), "1\tx\tx\n2\tx\tx\n3\tx\tx\n4\tx\tx\n5\tx\tx\n6\tx\tx\n");
  Run({"delete pubs2..blk_t"});
  auto in = Bulk(bdIn, QStringLiteral("pubs2..blk_t"), QStringLiteral("w.txt"));
  in->SetFirstRow(3);
  in->SetLastRow(5);
  in->BulkCopy();
  EXPECT_EQ(Table(), (Rows{{"3", "x", "x"}, {"4", "x", "x"}, {"5", "x", "x"}}));
}

TEST_F(BulkBehaviour, BatchesCommitEveryBatchSizeRowsAndEventsArriveInOrder) {
  Write(QStringLiteral("b.txt"), "1\tx\tx\n2\tx\tx\n3\tx\tx\n4\tx\tx\n5\tx\tx\n");
  auto in = Bulk(bdIn, QStringLiteral("pubs2..blk_t"), QStringLiteral("b.txt"));
  in->SetBatchSize(2);
  std::string events;
  TNorvBulk* component = in.get();
  auto note = [&events, component](char what) {
    return [&events, component, what](QObject* sender) {
      EXPECT_EQ(sender, component);
      events += what;
      if (what == 'n') events += std::to_string(component->RowsCopied());
    };
  };
  in->BeforeCopy = note('<');
  in->BeforeRow = note('r');
  in->AfterRow = note('.');
  in->OnBatch = note('n');
  in->AfterCopy = note('>');
  in->BulkCopy();
  EXPECT_EQ(events, "<r.rn2.r.rn4.r.>");
  EXPECT_EQ(in->BatchCount(), 2u);
  EXPECT_EQ(in->RowsCopied(), 5u);
  EXPECT_EQ(Query(QStringLiteral("select count(*) from pubs2..blk_t")), (Rows{{"5"}}));
}

// Binary values go in as hex digits, with or without their 0x, at their own length.
TEST_F(BulkBehaviour, HexValuesGoInWithOrWithoutTheirPrefix) {
  Run({"if object_id('pubs2..blk_hex') is not null drop table pubs2..blk_hex",
       "create table pubs2..blk_hex (id int not null, vb varbinary(10) null)"});
  Write(QStringLiteral("h.txt"), "1\t0x0102\n2\t0304\n");
  auto in = Bulk(bdIn, QStringLiteral("pubs2..blk_hex"), QStringLiteral("h.txt"));
  in->BulkCopy();
  EXPECT_EQ(Query(QStringLiteral("select id, datalength(vb) from pubs2..blk_hex order by id")),
            (Rows{{"1", "2"}, {"2", "2"}}));
}

TEST_F(BulkBehaviour, AValueHoldingTheSeparatorOrALineBreakStopsTheCopyOut) {
  struct Case {
    TFormat format;
    const char* terminator;
    const char* bad;  // the third row's b
    std::string kept;
  };
  const Case cases[] = {
      {bcCharacter, "", "'x' + char(9) + 'y'", "1\tb\tc\r\n2\tb\tc\r\n"},
      {bcCharacter, "", "'x' + char(10)", "1\tb\tc\r\n2\tb\tc\r\n"},
      {bcNone, "|", "'x|y'", "1|b|c\r\n2|b|c\r\n"},
      {bcNone, "|", "char(13)", "1|b|c\r\n2|b|c\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bad);
    Run({"delete pubs2..blk_t"});
    Fill({"'1', 'b', 'c'", "'2', 'b', 'c'"});
    Run({(std::string("insert pubs2..blk_t values ('3', ") + c.bad + ", 'c')").c_str()});
    Fill({"'4', 'b', 'c'"});
    auto out = Bulk(bdOut, QStringLiteral("pubs2..blk_t"), QStringLiteral("s.txt"));
    out->SetFormat(c.format);
    out->SetFieldTerminator(QString::fromLatin1(c.terminator));
    EXPECT_EQ(Failure(*out),
              "Row 3, column 2 (b) holds the field separator or a line break and cannot be "
              "written to the data file");
    EXPECT_EQ(Read(QStringLiteral("s.txt")), c.kept);
    EXPECT_FALSE(out->HasDescriptor());
  }
  // The connection is free again.
  EXPECT_EQ(Query(QStringLiteral("select count(*) from pubs2..blk_t")), (Rows{{"4"}}));
}

TEST_F(BulkBehaviour, ABadLineStopsTheCopyInAndKeepsOnlyCommittedBatches) {
  Run({"if object_id('pubs2..blk_n') is not null drop table pubs2..blk_n",
       "create table pubs2..blk_n (id int not null, name varchar(10) null, code char(3) not "
       "null, amount numeric(8,2) null)",
       "create unique index blk_n_id on pubs2..blk_n (id)"});
  struct Case {
    std::string line5;
    std::string error;
  };
  const Case cases[] = {
      {"5\tx\tc",
       "Number of columns in target and source table does not match: line 5 has 3 "
       "fields, the table 4 columns"},
      {"5\tx\tc\t1.5\t9",
       "Number of columns in target and source table does not match: line 5 "
       "has 5 fields, the table 4 columns"},
      {"five\tx\tc\t1.5", "Line 5, column 1 (id): the value 'five' does not convert to int"},
      {"5\tx\tc\tabc", "Line 5, column 4 (amount): the value 'abc' does not convert to numeric"},
      {"5\tx\tcode\t1", "Line 5, column 3 (code): the value 'code' does not convert to char"},
      {"\tx\tc\t1", "Line 5, column 1 (id): an empty field for a column that does not allow NULL"},
      // Refused by the server at the end of its batch.
      {"1\tx\tc\t1",
       "Server   : SAMPLE\r\nMessage  : 2601\r\nSeverity : 14\r\n\r\nAttempt to insert duplicate "
       "key row in object 'blk_n' with unique index 'blk_n_id'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line5);
    Run({"delete pubs2..blk_n"});
    // Line 2 is empty: line numbers count every line of the file.
    Write(QStringLiteral("n.txt"),
          "1\ta\tc\t1.25\r\n\r\n2\t\tc\t\r\n3\tc\t\t-3\r\n" + c.line5 + "\r\n6\tz\tc\t6\r\n");
    auto in = Bulk(bdIn, QStringLiteral("pubs2..blk_n"), QStringLiteral("n.txt"));
    in->SetBatchSize(2);
    EXPECT_EQ(Failure(*in), c.error);
    EXPECT_EQ(in->BatchCount(), 1u);
    EXPECT_FALSE(in->HasDescriptor());
    // The first batch stays, the second (row 3 and the bad one) is gone.
    EXPECT_EQ(Query(QStringLiteral("select id, name, code, amount from pubs2..blk_n")),
              (Rows{{"1", "a", "c  ", "1.25"}, {"2", "", "c  ", ""}}));
  }
  // An empty field in a NOT NULL character column is an empty string, not NULL.
  Write(QStringLiteral("n.txt"), "7\tq\t\t7\n");
  auto in = Bulk(bdIn, QStringLiteral("pubs2..blk_n"), QStringLiteral("n.txt"));
  in->BulkCopy();
  EXPECT_EQ(Query(QStringLiteral("select count(*) from pubs2..blk_n where id = 7 and code is "
                                 "not null and name = 'q'")),
            (Rows{{"1"}}));
  EXPECT_EQ(Query(QStringLiteral("select count(*) from pubs2..blk_n where name is null")),
            (Rows{{"1"}}));
}

}  // namespace
}  // namespace norvtest

namespace norvtest {
namespace {

TEST_F(BulkTest, BadInputGivesAClearErrorAndLeavesNothingOpen) {
  Run({"if object_id('pubs2..blk_bad') is not null drop table pubs2..blk_bad",
       "create table pubs2..blk_bad (a int null)"});
  TNorvDatabase noBulk;
  noBulk.SetName(QStringLiteral("nobulk"));
  noBulk.SetServerName(SampleServer().serverName);
  noBulk.SetUserName(QStringLiteral("sa"));
  noBulk.SetLoginPrompt(false);
  noBulk.SetConnected(true);
  TNorvDatabase offline;
  offline.SetName(QStringLiteral("offline"));
  offline.SetServerName(SampleServer().serverName);
  offline.SetConProps({cpBulk_Login});
  QDir(dir_.path()).mkdir(QStringLiteral("folder"));
  struct Case {
    TBulkDirection direction;
    QString db, table, file;
    std::string error;
  };
  const Case cases[] = {
      {bdIn, "bulkdb", "pubs2..blk_bad", "missing.txt", "File access error"},
      {bdIn, "bulkdb", "pubs2..blk_bad", "folder", "File access error"},
      // Nobody writes under /proc, whoever runs the tests.
      {bdOut, "bulkdb", "pubs2..blk_bad", "/proc/norv-bulk.txt", "File access error"},
      {bdOut, "bulkdb", "pubs2..no_such_table", "x.txt", "pubs2..no_such_table not found"},
      {bdIn, "nobulk", "pubs2..blk_bad", "x.txt",
       "cpBulk_Login must be selected for database component nobulk"},
      {bdOut, "offline", "pubs2..blk_bad", "x.txt", "Not connected to server SAMPLE"},
      {bdOut, "", "pubs2..blk_bad", "x.txt", "DBName not specified"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    auto bulk = Bulk(c.direction, c.table, c.file);
    if (c.file.startsWith(QLatin1Char('/'))) bulk->SetDataFile(c.file);
    bulk->SetDbName(c.db);
    const std::string failure = Failure(*bulk);
    EXPECT_NE(failure.find(c.error), std::string::npos) << failure;
    EXPECT_FALSE(bulk->HasDescriptor());
    EXPECT_FALSE(bulk->CopyOk());
  }
  // The connection is idle: a copy runs on it at once.
  Write(QStringLiteral("ok.txt"), "1\n\n2\n");
  auto in = Bulk(bdIn, QStringLiteral("pubs2..blk_bad"), QStringLiteral("ok.txt"));
  in->BulkCopy();
  EXPECT_EQ(Query(QStringLiteral("select a from pubs2..blk_bad")), (Rows{{"1"}, {"2"}}));
}

TEST_F(BulkTest, PreparationTracesEachBulkLibraryCall) {
  Run({"if object_id('pubs2..blk_tr') is not null drop table pubs2..blk_tr",
       "create table pubs2..blk_tr (k int null, v varchar(5) null)"});
  TraceCapture trace;
  ASSERT_TRUE(trace.Listening());
  QObject owner;  // trace lines come only from owned components
  for (TBulkDirection direction : {bdOut, bdIn}) {
    auto bulk = Bulk(direction, QStringLiteral("pubs2..blk_tr"), QStringLiteral("tr.txt"));
    bulk->setParent(&owner);
    bulk->SetMonitor(true);
    bulk->BulkCopy();
    bulk->setParent(nullptr);
  }
  QStringList lines = trace.Wait(12);
  lines = lines.filter(QStringLiteral("Open-Client: blk_"));
  const QStringList columns = {QStringLiteral("Open-Client: blk_describe"),
                               QStringLiteral("Open-Client: blk_bind - Column Name : k"),
                               QStringLiteral("Open-Client: blk_describe"),
                               QStringLiteral("Open-Client: blk_bind - Column Name : v")};
  QStringList expected;
  for (const char* init : {"Open-Client: blk_init(CS_BLK_OUT)", "Open-Client: blk_init(CS_BLK_IN)"})
    expected << QStringLiteral("Open-Client: blk_alloc(BLK_VERSION_100)") << QLatin1String(init)
             << columns;
  EXPECT_EQ(lines, expected);
}

TEST_F(BulkTest, NativeDateTimesAreTheDesktopsTextWithWholeSeconds) {
  Run({"if object_id('pubs2..blk_dt') is not null drop table pubs2..blk_dt",
       "create table pubs2..blk_dt (d datetime null, s smalldatetime null)",
       "insert pubs2..blk_dt values ('1900-01-01 12:00:00.500', '2001-02-03 00:00')"});
  const QLocale locale;
  QString time = locale.timeFormat(QLocale::ShortFormat);
  if (!time.contains(QLatin1String("ss")))
    time.replace(QLatin1String("mm"), QLatin1String("mm:ss"));
  const std::string expected =
      (locale.toString(QDate(1900, 1, 1), QLocale::ShortFormat) + QLatin1Char(' ') +
       locale.toString(QTime(12, 0), time) + QLatin1Char('\t') +
       locale.toString(QDate(2001, 2, 3), QLocale::ShortFormat) + QStringLiteral("\r\n"))
          .toStdString();
  auto out = Bulk(bdOut, QStringLiteral("pubs2..blk_dt"), QStringLiteral("dt.txt"));
  out->SetNativeDtFmt(true);
  out->BulkCopy();
  EXPECT_EQ(Read(QStringLiteral("dt.txt")), expected);
  // Without it the server's text keeps the milliseconds, so a copy back in loses nothing.
  out->SetNativeDtFmt(false);
  out->BulkCopy();
  EXPECT_EQ(Read(QStringLiteral("dt.txt")),
            "Jan  1 1900 12:00:00:500PM\tFeb  3 2001 12:00:00:000AM\r\n");
}

}  // namespace
}  // namespace norvtest

namespace norvtest {
namespace {

// Values FreeTDS's Bulk-Library cannot send as they come: text and image longer than its
// 4096-byte column buffer, and NULL in a bigint column.
TEST_F(BulkTest, LongTextAndImageAndNullBigintsCopyInAndOutUnchanged) {
  Run({"if object_id('pubs2..blk_long') is not null drop table pubs2..blk_long",
       "create table pubs2..blk_long (id int not null, big bigint null, t text null, "
       "i image null)"});
  std::string text(9000, 'x');
  for (size_t k = 0; k < text.size(); k += 61) text[k] = static_cast<char>('a' + k % 26);
  std::string hex;
  for (size_t k = 0; k < 6000; ++k) hex += "0123456789abcdef"[(k * 7) % 16];
  const std::string file = "1\t\t" + text + "\t" + hex + "\r\n" +        //
                           "2\t-9223372036854775808\tshort\t00ff\r\n" +  //
                           "3\t\t\t\r\n" +                               //
                           "4\t12\t" + text.substr(0, 4097) + "\t\r\n";
  Write(QStringLiteral("long.txt"), file);
  auto in = Bulk(bdIn, QStringLiteral("pubs2..blk_long"), QStringLiteral("long.txt"));
  in->SetBatchSize(3);
  in->BulkCopy();
  EXPECT_EQ(in->RowsCopied(), 4u);
  EXPECT_EQ(Query(QStringLiteral("select id, datalength(t), datalength(i), big from "
                                 "pubs2..blk_long")),
            (Rows{{"1", "9000", "3000", ""},
                  {"2", "5", "2", "-9223372036854775808"},
                  {"3", "", "", ""},
                  {"4", "4097", "", "12"}}));
  auto out = Bulk(bdOut, QStringLiteral("pubs2..blk_long"), QStringLiteral("long.out"));
  out->BulkCopy();
  EXPECT_TRUE(Read(QStringLiteral("long.out")) == file);
}

}  // namespace
}  // namespace norvtest

namespace norvtest {
namespace {

// Bulk-Library through the adapter with values bound in their own types, as a program other than
// the component would bind them: bytes to an image column, a NULL bigint last. A row refused in
// between (NULL for the NOT NULL key) leaves nothing of itself in the batch.
TEST_F(BulkTest, NativelyBoundImageAndNullBigintGoInWhole) {
  Run({"if object_id('pubs2..blk_nat') is not null drop table pubs2..blk_nat",
       "create table pubs2..blk_nat (id int not null, pic image null, big bigint null)"});
  oc::BlkHandle blk;
  ASSERT_EQ(oc::blk_alloc(db_->Handle(), BLK_VERSION_100, blk), CS_SUCCEED);
  ASSERT_EQ(oc::blk_init(blk.get(), CS_BLK_IN, "pubs2..blk_nat", CS_NULLTERM), CS_SUCCEED);
  CS_INT id = 0;
  CS_BIGINT big = 0;
  std::vector<char> pic(5000, '\x5a');
  CS_INT lens[3] = {CS_UNUSED, 0, CS_UNUSED};
  CS_SMALLINT inds[3] = {0, 0, -1};
  CS_DATAFMT fmt[3]{};
  fmt[0].datatype = CS_INT_TYPE;
  fmt[1].datatype = CS_BINARY_TYPE;
  fmt[1].maxlength = static_cast<CS_INT>(pic.size());
  fmt[2].datatype = CS_BIGINT_TYPE;
  void* buffers[3] = {&id, pic.data(), &big};
  for (CS_INT c = 0; c < 3; ++c) {
    fmt[c].count = 1;
    ASSERT_EQ(oc::blk_bind(blk.get(), c + 1, &fmt[c], buffers[c], &lens[c], &inds[c]), CS_SUCCEED);
  }
  for (CS_INT n : {10, 0, 3000}) {
    id = n;
    lens[1] = n;
    inds[0] = n == 0 ? -1 : 0;
    ASSERT_EQ(oc::blk_rowxfer(blk.get()), n == 0 ? CS_ROW_FAIL : CS_SUCCEED);
  }
  CS_INT rows = 0;
  ASSERT_EQ(oc::blk_done(blk.get(), CS_BLK_ALL, &rows), CS_SUCCEED);
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(Query(QStringLiteral("select id, datalength(pic), big from pubs2..blk_nat")),
            (Rows{{"10", "10", ""}, {"3000", "3000", ""}}));
}

}  // namespace
}  // namespace norvtest

namespace norvtest {
namespace {

// FreeTDS's freebcp, run as a user would: our character files load with it, its files load with
// us, and nothing changes on the way.
class BulkFreebcp : public BulkTest {
 protected:
  std::string Freebcp(const QString& table, const char* direction, const QString& file,
                      const char* extra = "") {
    return Shell("freebcp " + table.toStdString() + " " + direction + " '" +
                 Path(file).toStdString() + "' -S " + SampleServer().serverName.toStdString() +
                 " -U sa -P '' -c " + extra);
  }
};

TEST_F(BulkFreebcp, CharacterFilesInterchangeWithFreebcpForEveryTable) {
  Run({"if object_id('pubs2..blk_fb') is not null drop table pubs2..blk_fb",
       "create table pubs2..blk_fb (id int not null, n numeric(9,2) null, t text null)",
       "insert pubs2..blk_fb values (1, null, null)",
       "insert pubs2..blk_fb values (2, -3.5, replicate('0123456789', 500))"});
  const char* tables[] = {"authors",     "titles", "publishers", "sales",
                          "salesdetail", "stores", "discounts",  "roysched",
                          "titleauthor", "blurbs", "au_pix",     "blk_fb"};
  for (const char* name : tables) {
    SCOPED_TRACE(name);
    const QString source = QStringLiteral("pubs2..") + QLatin1String(name);
    const Rows rows = Query(QStringLiteral("select * from ") + source);
    ASSERT_FALSE(rows.empty());
    // Ours out, freebcp in, ours out again: the same bytes.
    const QString ours = QLatin1String(name) + QStringLiteral(".ours");
    Bulk(bdOut, source, ours)->BulkCopy();
    EmptyCopy(source, source + QStringLiteral("_fb"));
    std::string said = Freebcp(source + QStringLiteral("_fb"), "in", ours, "-r '\\r\\n'");
    EXPECT_NE(said.find(std::to_string(rows.size()) + " rows copied"), std::string::npos) << said;
    Bulk(bdOut, source + QStringLiteral("_fb"), ours + QStringLiteral("2"))->BulkCopy();
    EXPECT_TRUE(Read(ours) == Read(ours + QStringLiteral("2")));
    // freebcp out, ours in: the same rows.
    const QString theirs = QLatin1String(name) + QStringLiteral(".theirs");
    said = Freebcp(source, "out", theirs, "-T 65536");  // its own text size is 4096
    EXPECT_NE(said.find(std::to_string(rows.size()) + " rows copied"), std::string::npos) << said;
    EmptyCopy(source, source + QStringLiteral("_in"));
    auto in = Bulk(bdIn, source + QStringLiteral("_in"), theirs);
    in->BulkCopy();
    EXPECT_EQ(Query(QStringLiteral("select * from ") + source + QStringLiteral("_in")), rows);
  }
}

}  // namespace
}  // namespace norvtest
