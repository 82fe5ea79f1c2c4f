// What the list controls share: the properties and events of a control that fills its items from
// a query, and a list widget whose horizontal scroll range is set from a measured extent.
#pragma once

#include "connection/component.h"
#include "connection/norvtypes.h"

#include <QListWidget>
#include <QString>

#include <memory>

class QWidget;
class TNorvDatabase;
class TNorvQuery;

// The fill properties of the list box, combo box and check list box. Deriving from
// TDbMessageReporter is what lets the query copy its error and message texts into the control.
class TNorvListSource : public TDbMessageReporter, public TComponentCommon, public TDbNameProperty {
 public:
  ~TNorvListSource() override = default;

  // The query; when blank a fill builds it from FieldName and TableName and keeps it here.
  QString Sql() const { return sql_; }
  void SetSql(const QString& value) { sql_ = value; }
  QString TableName() const { return tableName_; }
  void SetTableName(const QString& value) { tableName_ = NorvObjectname(value); }
  QString FieldName() const { return fieldName_; }
  void SetFieldName(const QString& value) { fieldName_ = NorvObjectname(value); }
  // Widen the control to the longest first-column value of a fill.
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value) { autoSize_ = value; }
  bool TrimResults() const { return trimResults_; }
  void SetTrimResults(bool value) { trimResults_ = value; }

  // Sql := the file's lines, each preceded by one blank. Raises ENorvException when the file
  // cannot be read (Sql is then empty).
  void LoadSqlFromFile(const QString& fileName);

  TNotifyEvent BeforeExec;  // a fill starts (the connection stands)
  TNotifyEvent AfterExec;   // a fill ended without an exception
  TNotifyEvent OnItemAdd;   // after each data item is added

 protected:
  TNorvListSource() = default;

  // Looks DbName up (raises when blank or unknown); null when the connection is not connected.
  TNorvDatabase* ConnectedDatabase() const;
  // Blank Sql becomes "SELECT FieldName FROM TableName" (with ", extraColumn" after the field
  // when given) and is kept.
  void BuildSqlIfBlank(const QString& extraColumn = QString());
  // A read-only cursor query owned by `owner`, carrying this control's switches and events, not
  // yet executed.
  std::unique_ptr<TNorvQuery> MakeQuery(QObject* owner) const;

  static void Fire(const TNotifyEvent& event, QObject* sender) {
    if (event) event(sender);
  }

  // The control's font size in points (pixels when the font is sized in pixels), at least 1: the
  // unit of the AutoSize width estimate, which counts characters.
  static int FontSize(const QWidget* control);
  // The starting width estimate in characters: the control's width over its font size.
  static int WidthInChars(const QWidget* control);
  // Grows `chars` to the trimmed length of `firstColumn`.
  static void WidenTo(int& chars, const QString& firstColumn);
  // Sets the control's width to `chars` characters of its font size.
  static void ApplyAutoWidth(QWidget* control, int chars);

 private:
  QString sql_;
  QString tableName_;
  QString fieldName_;
  bool autoSize_ = false;
  bool trimResults_ = false;
};

// A list widget with a horizontal extent: the width in pixels its items may take, which decides
// how far the list scrolls sideways.
//
// QListView sizes its horizontal scroll range from the items' layout, so an extent set from
// outside would be overwritten at the next layout. updateGeometries() runs after every layout
// and resize; overriding it to set the range last keeps the range at max(0, applied extent -
// viewport width), in pixels, whatever the items are. With HorizontalScrollbar False the applied
// extent is 0: the list never scrolls sideways and its scroll bar hides.
class TNorvExtentList : public QListWidget {
  Q_OBJECT
 public:
  explicit TNorvExtentList(QWidget* parent = nullptr);

  bool HorizontalScrollbar() const { return horizontalScrollbar_; }
  // False: applies extent 0 and scrolls to the left edge; True: applies HorizontalExtent.
  void SetHorizontalScrollbar(bool value);
  // The widest measured item so far, in pixels (the item's text followed by "X").
  int HorizontalExtent() const { return horizontalExtent_; }
  // The extent the scroll range is currently set from.
  int AppliedExtent() const { return appliedExtent_; }

  // Removes the items; with HorizontalScrollbar also forgets the extent and scrolls to the left
  // edge. Use it rather than QListWidget::clear(), which leaves the extent alone.
  void Clear();

 protected:
  // Widens HorizontalExtent to `line` when needed; the scroll range follows at the next
  // SetHorizontalScrollbar.
  void Measure(const QString& line);
  void updateGeometries() override;

  // Re-applies HorizontalScrollbar when a fill ends, also by an exception, so that whatever was
  // added before a failure stays reachable.
  class ExtentOnExit {
   public:
    explicit ExtentOnExit(TNorvExtentList* list) : list_(list) {}
    ~ExtentOnExit() { list_->SetHorizontalScrollbar(list_->HorizontalScrollbar()); }
    ExtentOnExit(const ExtentOnExit&) = delete;
    ExtentOnExit& operator=(const ExtentOnExit&) = delete;

   private:
    TNorvExtentList* list_;
  };

 private:
  void ApplyExtent(int extent);

  bool horizontalScrollbar_ = true;
  int horizontalExtent_ = 0;
  int appliedExtent_ = 0;
};
