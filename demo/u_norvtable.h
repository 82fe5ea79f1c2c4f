// The table browser: picks a table of the connected database, opens it into a data-aware grid,
// browses and edits it with a navigator, and closes it. Every component finds the connection by
// the name "db".
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class TDataSource;
class TDBGrid;
class TDBNavigator;
class TNorvComboBox;
class TNorvTable;

class Tf_tnorvtable : public QDialog {
  Q_OBJECT
 public:
  explicit Tf_tnorvtable(QWidget* parent = nullptr);
  ~Tf_tnorvtable() override;

  // ---- Controls and components, as on the form -----------------------------------------------
  QLabel* Label1;
  TNorvComboBox* cb_tables;
  TDBGrid* DBGrid1;
  TDBNavigator* DBNavigator1;
  QPushButton* btn_close;
  QPushButton* btn_openclose;
  TNorvTable* Table1;
  TDataSource* DataSource1;

  // ---- Handlers (exceptions pass on to the application object, which shows them) -------------
  void FormCreate();
  // The picked name takes effect at the next open.
  void cb_tablesChange();
  void btn_opencloseClick();
  void btn_closeClick();

 private:
  void ShowOpenState();
};
