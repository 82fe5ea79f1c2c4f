// The bulk copy window: copies one user table of the connected database to or from a text file
// with a foreground TNorvBulk, counting the rows as they go. Every component finds the connection
// by the name "db".
#pragma once

#include <QDialog>

class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class TNorvBulk;
class TNorvListBox;

class Tf_bulkcopy : public QDialog {
  Q_OBJECT
 public:
  explicit Tf_bulkcopy(QWidget* parent = nullptr);
  ~Tf_bulkcopy() override;

  // ---- Controls and components, as on the form -----------------------------------------------
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  TNorvListBox* lb_tablename;
  QLineEdit* e_file;
  QPushButton* btn_file;
  QGroupBox* RadioGroup1;
  QRadioButton* RadioButton1;
  QRadioButton* RadioButton2;
  QPushButton* btn_close;
  QPushButton* btn_copy;
  QLineEdit* e_cnt;
  TNorvBulk* bk;
  QFileDialog* OpenDialog1;

  // ---- Handlers (exceptions pass on to the application object, which shows them) -------------
  void FormCreate();
  void btn_fileClick();
  void RadioButton1Click();
  void RadioButton2Click();
  void e_fileChange();
  void lb_tablenameClick();
  void btn_closeClick();
  void btn_copyClick();
  void bkAfterRow(QObject* Sender);

 private:
  // The selected table name, empty when nothing is selected.
  QString SelectedTable() const;

  int cnt_ = 0;  // the row counter
};
