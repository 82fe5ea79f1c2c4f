#include "dataset/framework/dbgrid.h"

#include <QHeaderView>
#include <QKeyEvent>

TDBGrid::TDBGrid(QWidget* parent) : QTableView(parent), model_(new TDataSetModel(this)) {
  setModel(model_);
  // The view would submit (post) on every row change, also while the selection is only being
  // put back on the data set's record; leaving a row posts through moving the data set instead.
  disconnect(selectionModel(), SIGNAL(currentRowChanged(QModelIndex, QModelIndex)), model_,
             SLOT(submit()));
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  connect(model_, &TDataSetModel::ActiveRowChanged, this, &TDBGrid::FollowDataSet);
}

void TDBGrid::FollowDataSet(int row) {
  if (moving_) return;
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
  if (following_) return QTableView::currentChanged(current, previous);
  // Posting and moving make the model report the data set's row on the way; the selection is
  // put where the data set ends up once, at the end.
  moving_ = true;
  try {
    // The view first commits an open editor (and posts when the row changes).
    QTableView::currentChanged(current, previous);
    if (current.isValid() && current.row() != model_->ActiveRow()) model_->MoveToRow(current.row());
  } catch (...) {
    ShowDataSetError();
  }
  moving_ = false;
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
