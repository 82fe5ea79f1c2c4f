// The data-aware navigator: ten buttons that move and edit the data set of its data source.
// Each is enabled only when its operation makes sense in the data set's state: none while
// closed; first and prior not at the beginning, next and last not at the end; while editing or
// inserting only post and cancel; on a data set that cannot be modified none of the editing
// buttons. Delete asks first (ConfirmDelete) through the presentation seam.
#pragma once

#include "dataset/framework/datasource.h"

#include <QWidget>

#include <array>
#include <memory>

class QToolButton;

enum TNavigateBtn {
  nbFirst,
  nbPrior,
  nbNext,
  nbLast,
  nbInsert,
  nbDelete,
  nbEdit,
  nbPost,
  nbCancel,
  nbRefresh
};

class TDBNavigator : public QWidget {
  Q_OBJECT
  Q_PROPERTY(TDataSource* DataSource READ DataSource WRITE SetDataSource)
  Q_PROPERTY(bool ConfirmDelete READ ConfirmDelete WRITE SetConfirmDelete)

 public:
  explicit TDBNavigator(QWidget* parent = nullptr);
  ~TDBNavigator() override;

  TDataSource* DataSource() const;
  void SetDataSource(TDataSource* source);
  bool ConfirmDelete() const { return confirmDelete_; }
  void SetConfirmDelete(bool value) { confirmDelete_ = value; }
  QToolButton* Button(TNavigateBtn button) const { return buttons_[size_t(button)]; }
  // Does what the button does (whether or not it is enabled).
  void BtnClick(TNavigateBtn button);

 private:
  class Link;
  friend class Link;
  void UpdateButtons();

  std::unique_ptr<Link> link_;
  std::array<QToolButton*, 10> buttons_{};  // children
  bool confirmDelete_ = true;
};
