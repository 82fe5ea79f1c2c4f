// Fields: conversions and their refusals, display texts, NULL, calculated and default fields.
#include "memdataset.h"

#include <gtest/gtest.h>

namespace {

class Fields : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.AddColumn("s", ftString, 5);
    ds.AddColumn("si", ftSmallint);
    ds.AddColumn("i", ftInteger);
    ds.AddColumn("b", ftBoolean);
    ds.AddColumn("f", ftFloat);
    ds.AddColumn("c", ftCurrency);
    ds.AddColumn("d", ftDate);
    ds.AddColumn("t", ftTime);
    ds.AddColumn("dt", ftDateTime);
    ds.AddColumn("vb", ftVarBytes, 4);
    ds.AddRow({});
    ds.Open();
    ds.Edit();
  }
  TField* F(const char* name) { return ds.FieldByName(name); }
  TMemDataSet ds;
};

struct TextCase {
  const char* field;
  const char* text;
  const char* asString;  // nullptr: refused with `error`
  const char* error;
  const char* displayFormat = "";
  const char* displayText = nullptr;  // when it differs from asString
};

TEST_F(Fields, TextConvertsOrIsRefused) {
  ds.setObjectName("people");
  const TextCase cases[] = {
      {"i", "42", "42", nullptr},
      {"i", " -7 ", "-7", nullptr},
      {"i", "abc", nullptr, "'abc' is not a valid integer value for field 'i'"},
      {"i", "1.5", nullptr, "'1.5' is not a valid integer value for field 'i'"},
      {"si", "40000", nullptr,
       "40000 is not a valid value for field 'si'. The allowed range is -32768 to 32767"},
      {"si", "-32768", "-32768", nullptr},
      {"f", "0.1", "0.1", nullptr},
      {"f", "1e300", "1e+300", nullptr},
      {"f", "1,5", nullptr, "'1,5' is not a valid floating point value for field 'f'"},
      {"f", "1234.5", "1234.5", nullptr, "#,##0.00", "1,234.50"},
      {"c", "12.5", "12.5", nullptr, "", "12.50"},
      {"b", "yes", "True", nullptr},
      {"b", "0", "False", nullptr},
      {"b", "maybe", nullptr, "'maybe' is not a valid boolean value for field 'b'"},
      {"s", "abcdefgh", "abcde", nullptr},
      {"s", "", "", nullptr},
      {"s", "abcdé", "abcd", nullptr},  // é would not fit whole
      {"d", "2024-02-29", "2024-02-29", nullptr},
      {"d", "2023-02-29", nullptr, "'2023-02-29' is not a valid date value for field 'd'"},
      {"t", "13:45:10.250", "13:45:10.250", nullptr},
      {"t", "25:00", nullptr, "'25:00' is not a valid time value for field 't'"},
      {"dt", "2024-01-02 03:04:05", "2024-01-02 03:04:05", nullptr},
      {"dt", "2024-01-02T03:04:05.007", "2024-01-02 03:04:05.007", nullptr},
      {"dt", "2024-01-02", "2024-01-02 00:00:00", nullptr, "dd.MM.yyyy", "02.01.2024"},
      {"dt", "yesterday", nullptr, "'yesterday' is not a valid date and time value for field 'dt'"},
      {"vb", "0xDEADbeef", "0xdeadbeef", nullptr},
      {"vb", "0xzz", nullptr, "'0xzz' is not a valid binary value for field 'vb'"},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " <- " + c.text);
    TField* field = F(c.field);
    field->SetDisplayFormat(QString::fromLatin1(c.displayFormat));
    field->Clear();
    try {
      field->SetAsString(QString::fromUtf8(c.text));
      ASSERT_TRUE(c.asString) << "accepted";
      EXPECT_EQ(field->AsString(), c.asString);
      EXPECT_EQ(field->DisplayText(), c.displayText ? c.displayText : c.asString);
      EXPECT_FALSE(field->IsNull());
    } catch (const EDatabaseError& e) {
      EXPECT_FALSE(c.asString) << e.what();
      EXPECT_EQ(e.Message(), c.error);
      EXPECT_EQ(e.Context(), QStringList({"TMemDataSet people"}));
      EXPECT_TRUE(field->IsNull());  // a refused text leaves the value alone
    }
  }
}

TEST_F(Fields, TypedAccessorsConvertBetweenKinds) {
  F("f")->SetAsFloat(2.6);
  EXPECT_EQ(F("f")->AsInteger(), 3);
  F("i")->SetAsFloat(2.4);
  EXPECT_EQ(F("i")->AsInteger(), 2);
  F("b")->SetAsInteger(1);
  EXPECT_TRUE(F("b")->AsBoolean());
  // Date-time numbers count days from 1899-12-30: 1900-01-01 noon is 2.5.
  F("dt")->SetAsDateTime(NaiveDateTime(QDate(1900, 1, 1), QTime(12, 0)));
  EXPECT_DOUBLE_EQ(F("dt")->AsFloat(), 2.5);
  F("dt")->SetAsFloat(3.25);
  EXPECT_EQ(F("dt")->AsString(), "1900-01-02 06:00:00");
  F("s")->SetAsString("2024-01-02 03:04:05");
  EXPECT_EQ(F("s")->AsString(), "2024-");  // cut to the field's size
  F("d")->SetAsDateTime(NaiveDateTime(QDate(2024, 5, 6), QTime(7, 8)));
  EXPECT_EQ(F("d")->AsString(), "2024-05-06");
  EXPECT_THROW(F("d")->AsBoolean(), EDatabaseError);
}

TEST_F(Fields, NullIsNeitherZeroNorEmpty) {
  for (TField* field : ds.Fields()) {
    SCOPED_TRACE(field->FieldName().toStdString());
    EXPECT_TRUE(field->IsNull());
    EXPECT_FALSE(field->Value().isValid());
    EXPECT_EQ(field->Text(), "");
  }
  F("s")->SetAsString("");
  EXPECT_FALSE(F("s")->IsNull());
  F("i")->SetAsInteger(0);
  EXPECT_FALSE(F("i")->IsNull());
  F("i")->Clear();
  EXPECT_TRUE(F("i")->IsNull());
  EXPECT_EQ(F("i")->AsInteger(), 0);
}

TEST_F(Fields, EventsOfAField) {
  QStringList log;
  F("i")->OnValidate = [&](TField*) { log << "validate"; };
  F("i")->OnChange = [&](TField*) { log << "change"; };
  F("i")->OnGetText = [](TField* f, QString& text, bool display) {
    text = (display ? "#" : "=") + f->AsString();
  };
  F("i")->OnSetText = [](TField* f, const QString& text) { f->SetAsInteger(text.toInt() * 2); };
  F("i")->SetText("21");
  EXPECT_EQ(log, QStringList({"validate", "change"}));
  EXPECT_EQ(F("i")->Text(), "=42");
  EXPECT_EQ(F("i")->DisplayText(), "#42");
}

TEST(DefaultFields, AreMadeAtOpenAndDestroyedAtClose) {
  TMemDataSet ds;
  FillPeople(ds, 1);
  ds.Open();
  ASSERT_EQ(ds.FieldCount(), 5);
  EXPECT_TRUE(ds.DefaultFields());
  EXPECT_STREQ(ds.Fields()[0]->metaObject()->className(), "TIntegerField");
  EXPECT_STREQ(ds.Fields()[3]->metaObject()->className(), "TDateTimeField");
  EXPECT_EQ(ds.Fields()[1]->Size(), 10);
  EXPECT_TRUE(ds.Fields()[0]->Required());
  EXPECT_EQ(ds.Fields()[4]->FieldNo(), 5);
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 0);
}

TEST(PersistentFields, BindByNameAndRefuseAnotherType) {
  TMemDataSet ds;
  FillPeople(ds, 3);
  auto* name = new TStringField(&ds);
  name->SetFieldName("name");
  name->SetDataSet(&ds);
  auto* label = new TStringField(&ds);
  label->SetFieldName("label");
  label->SetCalculated(true);
  label->SetDataSet(&ds);
  int calcs = 0;
  ds.OnCalcFields = [&](TDataSet* d) {
    ++calcs;
    d->FieldByName("label")->SetAsString(d->FieldByName("name")->AsString() + "!");
  };
  ds.Open();
  EXPECT_FALSE(ds.DefaultFields());
  EXPECT_EQ(ds.FieldCount(), 2);
  EXPECT_EQ(name->FieldNo(), 2);
  EXPECT_EQ(label->AsString(), "n1!");
  ds.Next();
  EXPECT_EQ(label->AsString(), "n2!");
  ds.Edit();
  name->SetAsString("x");  // recalculated on the change
  EXPECT_EQ(label->AsString(), "x!");
  EXPECT_TRUE(ds.Modified());
  ds.Cancel();
  EXPECT_EQ(label->AsString(), "n2!");
  EXPECT_GT(calcs, 0);
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 2);  // persistent fields stay

  auto* wrong = new TStringField(&ds);
  wrong->SetFieldName("id");
  wrong->SetDataSet(&ds);
  try {
    ds.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Type mismatch for field 'id', expecting: String actual: Integer");
  }
  EXPECT_FALSE(ds.Active());
}

TEST(BlobFields, TravelThroughTheDataSetsStreams) {
  TMemDataSet ds;
  FillPeople(ds, 1);
  auto* memo = new TMemoField(&ds);
  memo->SetFieldName("notes");
  memo->SetDataSet(&ds);
  ds.blob = QStringLiteral("früh").toUtf8();
  ds.Open();
  EXPECT_EQ(memo->AsString(), "früh");
  EXPECT_EQ(memo->DisplayText(), "(MEMO)");
  try {
    memo->SetAsString("x");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Dataset is not in edit mode.");
  }
  QStringList changes;
  memo->OnChange = [&](TField* f) { changes << f->FieldName(); };
  ds.Edit();
  memo->SetAsString("spät");
  EXPECT_EQ(ds.blob, QStringLiteral("spät").toUtf8());
  EXPECT_EQ(changes, QStringList({"notes"}));
  EXPECT_TRUE(ds.Modified());
}

TEST(SetKey, WritesGoToTheKeyBufferAndLeaveTheRecord) {
  TMemDataSet ds;
  FillPeople(ds, 2);
  ds.Open();
  ds.SetKey();
  EXPECT_EQ(ds.State(), dsSetKey);
  EXPECT_TRUE(ds.FieldByName("id")->IsNull());
  ds.FieldByName("id")->SetAsInteger(2);
  EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 2);
  ds.Cancel();
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 1);
  EXPECT_EQ(ds.Stored(0, 0).toInt(), 1);
}

}  // namespace
