// An array-backed data set for the framework's tests. It overrides the framework's operations
// the way a server data set does: a cache of fixed-size record images (each value followed by a
// null byte), record buffers of image + 20-byte information block (bookmark at 12, flag at 16) +
// calculated-field area, a 0-based cursor index (-1 before the first record, the count after the
// last) and 4-byte bookmarks carrying the record index.
#pragma once

#include "dataset/framework/dataset.h"
#include "dataset/framework/datasource.h"

#include <QObject>
#include <QStringList>
#include <QVariant>

#include <ostream>
#include <vector>

class TMemDataSet : public TDataSet {
  Q_OBJECT

 public:
  explicit TMemDataSet(QObject* owner = nullptr);
  ~TMemDataSet() override;

  // The columns and the rows the data set shows when it opens (rows kept across opens until
  // changed through the data set).
  void AddColumn(const QString& name, TFieldType type, int size = 0, bool required = false);
  void AddRow(const QVariantList& values);
  void SetReadOnly(bool value) { readOnly_ = value; }
  int StoredCount() const { return static_cast<int>(rows_.size()); }
  // Rows are read as images; this gives one column's stored value back (invalid for NULL).
  QVariant Stored(int row, int column) const;
  // When set, RecordCount answers this instead of the stored count, as a server data set does
  // right after opening, before it has fetched its rows.
  int provisionalCount = -1;
  // How often the framework asked for a record.
  int reads = 0;
  // Called first by PostInternal; a test makes it raise.
  std::function<void()> failPost;
  // The one blob value all records share: enough to carry a blob field through the streams.
  QByteArray blob;

 protected:
  TRecordBufferHolder AllocateRecordBuffer() override;
  TGetResult ReadRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck) override;
  int RecordDataSize() override { return recordSize_; }
  void ReadBookmarkData(TRecordBuffer buffer, void* data) override;
  void WriteBookmarkData(TRecordBuffer buffer, const void* data) override;
  TBookmarkFlag ReadBookmarkFlag(TRecordBuffer buffer) override;
  void WriteBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override;
  bool ReadFieldData(TField* field, void* dest) override;
  void WriteFieldData(TField* field, const void* source) override;
  void BuildFieldDefs() override;
  void OpenInternal() override;
  void CloseInternal() override;
  bool IsCursorActive() override { return open_; }
  void MoveBeforeFirst() override { current_ = -1; }
  void MoveAfterLast() override { current_ = static_cast<int>(rows_.size()); }
  void MoveToBookmark(const TBookmark& bookmark) override;
  void MoveToRecordOf(TRecordBuffer buffer) override;
  void InitNewRecord(TRecordBuffer buffer) override;
  void PostInternal() override;
  void AddRecord(TRecordBuffer buffer, bool append) override;
  void DeleteInternal() override;
  bool CanModifyData() override { return !readOnly_; }
  int RecordCountValue() override {
    return provisionalCount >= 0 ? provisionalCount : static_cast<int>(rows_.size());
  }
  int RecordNumber() override;
  void SetRecordNumber(int value) override { current_ = value - 1; }
  bool StepFind(bool restart, bool goForward) override;
  std::unique_ptr<QIODevice> OpenBlobStream(TField* field, TBlobStreamMode mode) override;

 private:
  struct Column {
    QString name;
    TFieldType type;
    int size;
    bool required;
  };
  static int SlotSize(const Column& column);
  bool FilterAccepts(TRecordBuffer buffer);
  int InfoAt() const { return recordSize_; }

  std::vector<Column> columns_;
  std::vector<int> offsets_;
  std::vector<QByteArray> rows_;
  int recordSize_ = 0;
  int current_ = -1;
  bool open_ = false;
  bool readOnly_ = false;
};

// Test failures show texts as texts.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

// ---- Shared fixtures ----------------------------------------------------------------------------

// id (integer, required), name (string 10), amount (float), born (date-time), flag (Boolean);
// rows id = 1 .. count, name "n<id>".
inline void FillPeople(TMemDataSet& ds, int count) {
  ds.AddColumn("id", ftInteger, 0, true);
  ds.AddColumn("name", ftString, 10);
  ds.AddColumn("amount", ftFloat);
  ds.AddColumn("born", ftDateTime);
  ds.AddColumn("flag", ftBoolean);
  for (int id = 1; id <= count; ++id)
    ds.AddRow({id, QStringLiteral("n%1").arg(id), id * 1.5,
               NaiveDateTime(QDate(2000, 1, id % 28 + 1), QTime(12, 0)), id % 2});
}

// Writes every data-set event into `log` by name.
inline void RecordEvents(TDataSet& ds, QStringList& log) {
  auto hook = [&log](TDataSetNotifyEvent& event, const char* name) {
    event = [&log, name](TDataSet*) { log << QString::fromLatin1(name); };
  };
  hook(ds.BeforeOpen, "BeforeOpen");
  hook(ds.AfterOpen, "AfterOpen");
  hook(ds.BeforeClose, "BeforeClose");
  hook(ds.AfterClose, "AfterClose");
  hook(ds.BeforeInsert, "BeforeInsert");
  hook(ds.AfterInsert, "AfterInsert");
  hook(ds.BeforeEdit, "BeforeEdit");
  hook(ds.AfterEdit, "AfterEdit");
  hook(ds.BeforePost, "BeforePost");
  hook(ds.AfterPost, "AfterPost");
  hook(ds.BeforeCancel, "BeforeCancel");
  hook(ds.AfterCancel, "AfterCancel");
  hook(ds.BeforeDelete, "BeforeDelete");
  hook(ds.AfterDelete, "AfterDelete");
  hook(ds.BeforeScroll, "BeforeScroll");
  hook(ds.AfterScroll, "AfterScroll");
  hook(ds.BeforeRefresh, "BeforeRefresh");
  hook(ds.AfterRefresh, "AfterRefresh");
  hook(ds.OnNewRecord, "OnNewRecord");
}

// A link that writes what it hears into `log`.
class TRecordingLink : public TDataLink {
 public:
  QStringList log;
  using TDataLink::DataSetChanged;

 protected:
  void ActiveStateChanged() override { log << QStringLiteral("Active:%1").arg(Active()); }
  void DataSetChanged() override { log << QStringLiteral("Changed"); }
  void DataSetScrolled(int distance) override {
    log << QStringLiteral("Scrolled:%1").arg(distance);
  }
  void RecordMoved(TField* field) override {
    log << QStringLiteral("Record:%1").arg(field ? field->FieldName() : QStringLiteral("-"));
  }
  void EditingChanged() override { log << QStringLiteral("Editing:%1").arg(Editing()); }
  void UpdateData() override { log << QStringLiteral("UpdateData"); }
  void LayoutChanged() override { log << QStringLiteral("Layout"); }
  void EnsureBrowseMode() override { log << QStringLiteral("Browse"); }
  void FocusControl(TField* field) override { log << "Focus:" + field->FieldName(); }
};
