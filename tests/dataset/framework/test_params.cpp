// Parameters: placeholders found in SQL text, values and their conversions.
#include "dataset/framework/field.h"
#include "dataset/framework/params.h"

#include "connection/norvexception.h"

#include <gtest/gtest.h>

namespace {

struct ParseCase {
  const char* sql;
  const char* parsed;
  QStringList names;
};

TEST(Params, ParseSqlFindsPlaceholdersOutsideQuotesAndComments) {
  const ParseCase cases[] = {
      {"select * from t where a = :a and b=:b", "select * from t where a = ? and b=?", {"a", "b"}},
      {"where x = ':no' and y = :yes", "where x = ':no' and y = ?", {"yes"}},
      {"select 'it''s :no', :v", "select 'it''s :no', ?", {"v"}},
      {"select \"q:r\", [a:b], :p_1", "select \"q:r\", [a:b], ?", {"p_1"}},
      {"-- :c\nselect :d", "-- :c\nselect ?", {"d"}},
      {"/* :c */ :e", "/* :c */ ?", {"e"}},
      {"select a::b", "select a:b", {}},
      {"select :x, :x", "select ?, ?", {"x", "x"}},
      {"a = : and b = :", "a = : and b = :", {}},
      {"exec p @a=:a1,@b=:b2", "exec p @a=?,@b=?", {"a1", "b2"}},
      {"'unterminated :z", "'unterminated :z", {}},
  };
  for (const ParseCase& c : cases) {
    TParams params;
    params.CreateParam(ftString, "stale", ptInput);
    EXPECT_EQ(params.ParseSQL(c.sql, true), c.parsed) << c.sql;
    QStringList names;
    for (int i = 0; i < params.Count(); ++i) {
      names << params[i].Name();
      EXPECT_EQ(params[i].ParamType(), ptInput);
      EXPECT_EQ(params[i].DataType(), ftUnknown);
    }
    EXPECT_EQ(names, c.names) << c.sql;
  }
}

TEST(Params, ParseSqlReplacesAsAskedAndKeepsTheListWithoutCreate) {
  TParams params;
  params.CreateParam(ftInteger, "keep", ptOutput);
  const QString text = params.ParseSQL("f(:a, :b)", false, [](const QString& name, int position) {
    return QStringLiteral("@%1%2").arg(name).arg(position);
  });
  EXPECT_EQ(text, "f(@a0, @b1)");
  ASSERT_EQ(params.Count(), 1);
  EXPECT_EQ(params.ParamByName("KEEP").ParamType(), ptOutput);
}

TEST(Params, ValuesKeepTheirTypeAndConvert) {
  TParams params;
  TParam& f = params.CreateParam(ftFloat, "f", ptInput);
  f.SetAsString("1.5");
  EXPECT_EQ(f.DataType(), ftFloat);
  EXPECT_DOUBLE_EQ(f.AsFloat(), 1.5);
  TParam& u = params.CreateParam(ftUnknown, "u", ptInputOutput);
  u.SetAsInteger(7);
  EXPECT_EQ(u.DataType(), ftInteger);
  EXPECT_EQ(u.AsString(), "7");
  u.Clear();
  EXPECT_TRUE(u.IsNull());
  EXPECT_EQ(u.AsInteger(), 0);
  TParam& d = params.CreateParam(ftDateTime, "d", ptInput);
  d.SetAsDateTime(NaiveDateTime(QDate(1900, 1, 1), QTime(12, 0, 0, 500)));
  EXPECT_EQ(d.AsString(), "1900-01-01 12:00:00.500");
  EXPECT_DOUBLE_EQ(d.AsFloat(), 2.5 + 0.5 / 86400);
  TParam& s = params.CreateParam(ftString, "s", ptInput);
  s.SetAsString("abc");
  try {
    s.AsInteger();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid integer value for parameter 's'");
  }
  s.SetAsString("yes");
  EXPECT_TRUE(s.AsBoolean());
  EXPECT_EQ(params.FindParam("nope"), nullptr);
  try {
    params.ParamByName("zz");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Parameter 'zz' not found");
  }
}

}  // namespace
