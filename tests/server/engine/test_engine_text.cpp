// Text and image values through text pointers: textptr, textvalid, writetext, readtext, the
// pointers rows carry, and how empty values are stored.
#include "test_engine_support.h"

namespace sampleserver::testing {
namespace {

// Keeps the text pointers the engine gives with each row.
class PointerSink : public RecordingSink {
 public:
  void RowWithTextPointers(const std::vector<Value>& values, const std::vector<Bytes>& p) override {
    pointers.push_back(p);
    Row(values);
  }
  std::vector<std::vector<Bytes>> pointers;
};

class EngineText : public EngineTest {
 protected:
  void SetUp() override {
    s = Login();
    ASSERT_TRUE(s);
    auto sink = Run(*s,
                    "create table #doc (n int, t text null, i image null, v varchar(10) null) "
                    "insert #doc values (1, 'first', 0x0102, 'x') "
                    "insert #doc values (2, null, null, null)");
    ASSERT_TRUE(sink.ErrorNumbers().empty()) << sink.messages[0].text;
  }

  // The text pointer textptr() gives for row n's column.
  Value Pointer(const std::string& column, int n) {
    return Scalar(*s, "select textptr(" + column + ") from #doc where n = " + std::to_string(n));
  }
  static std::string Hex(const Value& v) {
    return std::holds_alternative<Bytes>(v) ? "0x" + BytesToHex(std::get<Bytes>(v)) : "not binary";
  }

  std::unique_ptr<Session> s;
};

TEST_F(EngineText, TextptrNamesTheValueAndNullHasNone) {
  Value p = Pointer("t", 1);
  ASSERT_TRUE(std::holds_alternative<Bytes>(p));
  EXPECT_EQ(std::get<Bytes>(p).size(), 16u);
  EXPECT_NE(Hex(p), Hex(Pointer("i", 1)));  // each column of a row has its own
  EXPECT_TRUE(IsNull(Pointer("t", 2)));
  // A select hands out the same pointers, and none for NULL.
  PointerSink sink;
  s->Execute("select n, t, i from #doc order by n", sink);
  ASSERT_EQ(sink.pointers.size(), 2u);
  EXPECT_TRUE(sink.pointers[0][0].empty());
  EXPECT_EQ(Hex(sink.pointers[0][1]), Hex(p));
  EXPECT_EQ(Hex(sink.pointers[0][2]), Hex(Pointer("i", 1)));
  EXPECT_TRUE(sink.pointers[1][1].empty());
}

TEST_F(EngineText, TextvalidChecksTableColumnAndRow) {
  std::string p = Hex(Pointer("t", 1));
  struct Case {
    std::string name, pointer;
    int64_t valid;
  } cases[] = {
      {"#doc.t", p, 1},
      {"tempdb..#doc.t", p, 1},
      {"#doc.i", p, 0},  // another column's
      {"#doc.t", "0x00000000000000000000000000000001", 0},
      {"#doc.t", "0x01", 0},
      {"#nosuch.t", p, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Text(Scalar(*s, "select textvalid('" + c.name + "', " + c.pointer + ")")),
              std::to_string(c.valid))
        << c.name << " " << c.pointer;
  Run(*s, "delete #doc where n = 1");
  EXPECT_EQ(Text(Scalar(*s, "select textvalid('#doc.t', " + p + ")")), "0");
}

TEST_F(EngineText, WritetextReplacesTheValueAndReadtextSlicesIt) {
  auto sink = Run(*s,
                  "declare @p varbinary(16), @q varbinary(16), @b varbinary(10) "
                  "select @p = textptr(t), @q = textptr(i), @b = 0x0a0b0c0d from #doc where n = 1 "
                  "writetext #doc.t @p 'hello world' "
                  "writetext #doc.i @q with log @b "
                  "readtext #doc.t @p 6 5 "
                  "readtext #doc.i @q 1 2 "
                  "readtext #doc.t @p 0 0");
  ASSERT_TRUE(sink.ErrorNumbers().empty()) << sink.messages[0].text;
  ASSERT_EQ(sink.sets.size(), 3u);
  EXPECT_EQ(sink.sets[0].columns[0].type, SqlType::Text);
  EXPECT_EQ(sink.sets[0].columns[0].name, "t");
  EXPECT_EQ(Text(sink.sets[0].rows.at(0).at(0)), "world");
  EXPECT_EQ(sink.sets[1].columns[0].type, SqlType::Image);
  EXPECT_EQ(Hex(sink.sets[1].rows.at(0).at(0)), "0x0b0c");
  EXPECT_EQ(Text(sink.sets[2].rows.at(0).at(0)), "hello world");
  EXPECT_EQ(ScalarText(*s, "select t from #doc where n = 1"), "hello world");
  // The other row is untouched.
  EXPECT_EQ(ScalarText(*s, "select isnull(convert(varchar(10), i), 'none') from #doc where n = 2"),
            "none");
}

TEST_F(EngineText, WritetextRefusesAPointerThatIsNotTheColumns) {
  std::string p = Hex(Pointer("t", 1));
  for (const std::string& sql :
       std::vector<std::string>{"writetext #doc.i " + p + " 0x01", "writetext #doc.t 0x0102 'x'",
                                "readtext #doc.t 0x0102 0 1"}) {
    auto sink = Run(*s, sql);
    EXPECT_EQ(sink.ErrorNumbers(), std::vector<int>{7123}) << sql;
  }
  EXPECT_EQ(Run(*s, "readtext #doc.t 0x0102 0 1").messages.at(0).text,
            "Invalid text pointer value 0x0102.");
  EXPECT_EQ(ScalarText(*s, "select t from #doc where n = 1"), "first");
}

TEST_F(EngineText, EmptyValuesAreStoredAsOneBlankOrOneZeroByte) {
  auto sink =
      Run(*s,
          "create table #e (n int, t text not null, i image not null, v varchar(5) not null) "
          "insert #e values (1, '', '', '') "
          "insert #e select 2, t, i, v from #e where n = 1 "
          "update #e set t = '', i = 0x where n = 2");
  ASSERT_TRUE(sink.ErrorNumbers().empty()) << sink.messages[0].text;
  for (int n : {1, 2}) {
    std::string where = " from #e where n = " + std::to_string(n);
    EXPECT_EQ(ScalarText(*s, "select t" + where), " ") << n;
    EXPECT_EQ(Hex(Scalar(*s, "select i" + where)), "0x00") << n;
    EXPECT_EQ(ScalarText(*s, "select datalength(t)" + where), "1") << n;
  }
  // writetext of an empty value stores the same.
  Run(*s,
      "declare @p varbinary(16) select @p = textptr(t) from #doc where n = 1 writetext #doc.t @p "
      "''");
  EXPECT_EQ(ScalarText(*s, "select t from #doc where n = 1"), " ");
}

TEST_F(EngineText, BulkWritetextTakesItsDataAfterwards) {
  std::string p = Hex(Pointer("i", 1));
  RecordingSink sink;
  auto write =
      s->BeginTextWrite("writetext bulk #doc.i " + p + " timestamp = 0x0000000000000001", sink);
  ASSERT_TRUE(write) << (sink.messages.empty() ? "" : sink.messages[0].text);
  EXPECT_TRUE(sink.ErrorNumbers().empty());
  Bytes data(70000);
  for (size_t k = 0; k < data.size(); ++k) data[k] = static_cast<uint8_t>(k * 31);
  RecordingSink written;
  write->Write(data, written);
  EXPECT_TRUE(written.ErrorNumbers().empty());
  EXPECT_EQ(written.dones.size(), 1u);
  Run(*s, "set textsize 100000");
  EXPECT_EQ(Hex(Scalar(*s, "select i from #doc where n = 1")), Hex(data));
  // A pointer that names nothing is refused before any data is taken.
  RecordingSink refused;
  EXPECT_FALSE(s->BeginTextWrite("writetext bulk #doc.t " + p, refused));
  EXPECT_EQ(refused.ErrorNumbers(), std::vector<int>{7123});
}

}  // namespace
}  // namespace sampleserver::testing
