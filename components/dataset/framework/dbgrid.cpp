#include "dataset/framework/dbgrid.h"

#include <QHeaderView>
#include <QKeyEvent>

TDBGrid::TDBGrid(QWidget* parent) : QTableView(parent), model_(new TDataSetModel(this)) {
  setModel(model_);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  connect(model_, &TDataSetModel::ActiveRowChanged, this, &TDBGrid::FollowDataSet);
}

void TDBGrid::FollowDataSet(int row) {
  const QModelIndex current = currentIndex();
  if (row < 0) {
    if (!current.isValid()) return;
    following_ = true;
    selectionModel()->clearCurrentIndex();
    following_ = false;
    return;
  }
  const QModelIndex target = model_->index(row, current.isValid() ? current.column() : 0);
  if (current == target) return;
  following_ = true;
  selectionModel()->setCurrentIndex(
      target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  following_ = false;
  scrollTo(target);
}

void TDBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  // The view first commits an open editor (and posts when the row changes).
  QTableView::currentChanged(current, previous);
  if (following_ || !current.isValid() || current.row() == model_->ActiveRow()) return;
  try {
    model_->MoveToRow(current.row());
  } catch (...) {
    ShowDataSetError();
  }
  // Where the data set really stands (the move may have failed or posted and shifted rows).
  FollowDataSet(model_->ActiveRow());
}

void TDBGrid::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const TDataSource* source = DataSource();
  if (enter && state() != EditingState && source &&
      (source->State() == dsEdit || source->State() == dsInsert)) {
    model_->submit();
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}
