// The data-aware grid: a table view over a TDataSetModel. The selection follows the data set's
// active record, and moving to another row moves the data set there (posting a pending edit, as
// leaving a record does). Enter posts an edit in progress; with nothing to post it starts
// editing the cell, as in any table view.
#pragma once

#include "dataset/framework/datasetmodel.h"

#include <QTableView>

class TDBGrid : public QTableView {
  Q_OBJECT
  Q_PROPERTY(TDataSource* DataSource READ DataSource WRITE SetDataSource)

 public:
  explicit TDBGrid(QWidget* parent = nullptr);

  TDataSource* DataSource() const { return model_->DataSource(); }
  void SetDataSource(TDataSource* source) { model_->SetDataSource(source); }
  TDataSetModel* Model() const { return model_; }

 protected:
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FollowDataSet(int row);

  TDataSetModel* model_;    // child
  bool following_ = false;  // the selection is being put on the data set's record
  bool moving_ = false;     // the data set is being moved to the selection
};
