#include "controls/listfill.h"

#include "connection/norvdatabase.h"
#include "connection/sqlfile.h"
#include "query/norvquery.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QScrollBar>
#include <QWidget>

#include <algorithm>

// ---- TNorvListSource ---------------------------------------------------------------------------

void TNorvListSource::LoadSqlFromFile(const QString& fileName) {
  sql_.clear();
  sql_ = ReadSqlFile(fileName);
}

TNorvDatabase* TNorvListSource::ConnectedDatabase() const {
  CheckDbName(DbName());
  TNorvDatabase* db = FindDatabase(DbName());
  return db && db->Connected() ? db : nullptr;
}

void TNorvListSource::BuildSqlIfBlank(const QString& extraColumn) {
  if (!sql_.trimmed().isEmpty()) return;
  QString columns = fieldName_;
  if (!extraColumn.isEmpty()) columns += QStringLiteral(", ") + extraColumn;
  sql_ = QStringLiteral("SELECT ") + columns + QStringLiteral(" FROM ") + tableName_;
}

std::unique_ptr<TNorvQuery> TNorvListSource::MakeQuery(QObject* owner) const {
  // Owned by the control, so the query copies its error and message texts into it.
  auto query = std::make_unique<TNorvQuery>(owner);
  query->SetDbName(DbName());
  query->SetIsCursor(true);
  query->SetReadOnly(true);
  query->SetMonitor(Monitor());
  query->SetTrimResults(trimResults_);
  query->SetMsgDialogs(MsgDialogs());
  query->SetShowDbMessages(ShowDbMessages());
  query->OnDbError = OnDbError;
  query->AfterDbError = AfterDbError;
  query->OnDbMessage = OnDbMessage;
  query->AfterDbMessage = AfterDbMessage;
  query->SetSql(sql_);
  return query;
}

int TNorvListSource::FontSize(const QWidget* control) {
  const QFont font = control->font();
  int size = font.pointSize();
  if (size <= 0) size = font.pixelSize();
  if (size <= 0) size = QFontInfo(font).pointSize();
  return std::max(size, 1);
}

int TNorvListSource::WidthInChars(const QWidget* control) {
  return qRound(static_cast<double>(control->width()) / FontSize(control));
}

void TNorvListSource::WidenTo(int& chars, const QString& firstColumn) {
  // Measured on the trimmed value both ways: a padded short value must never narrow the estimate
  // a longer value has already set.
  chars = std::max(chars, static_cast<int>(firstColumn.trimmed().size()));
}

void TNorvListSource::ApplyAutoWidth(QWidget* control, int chars) {
  control->resize(FontSize(control) * chars, control->height());
}

// ---- TNorvExtentList ---------------------------------------------------------------------------

TNorvExtentList::TNorvExtentList(QWidget* parent) : QListWidget(parent) {
  // The extent is in pixels, so the scroll bar must count pixels too.
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
}

void TNorvExtentList::SetHorizontalScrollbar(bool value) {
  horizontalScrollbar_ = value;
  if (value) {
    ApplyExtent(horizontalExtent_);
  } else {
    ApplyExtent(0);
    horizontalScrollBar()->setValue(0);
  }
}

void TNorvExtentList::Clear() {
  clear();
  // The extent describes the items; with none left it is 0 whatever the scroll bar switch says,
  // or a later switch to True would apply the width of items long gone.
  horizontalExtent_ = 0;
  if (horizontalScrollbar_) {
    ApplyExtent(0);
    horizontalScrollBar()->setValue(0);
  }
}

void TNorvExtentList::Measure(const QString& line) {
  const int width = QFontMetrics(font()).horizontalAdvance(line + QLatin1Char('X'));
  if (width >= horizontalExtent_) horizontalExtent_ = width;
}

void TNorvExtentList::ApplyExtent(int extent) {
  appliedExtent_ = extent;
  updateGeometries();
}

void TNorvExtentList::updateGeometries() {
  QListWidget::updateGeometries();
  QScrollBar* bar = horizontalScrollBar();
  const int page = viewport()->width();
  bar->setPageStep(page);
  bar->setRange(0, std::max(0, appliedExtent_ - page));
}
