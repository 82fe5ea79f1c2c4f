// The demonstration's main window: picks a server and logs in, lists the server's databases,
// runs a script typed into the memo through the result grid, and opens the tool windows.
//
// Controls and components are public members named as on the form, so that tests and the tool
// windows reach them the way the form's own code does.
#pragma once

#include <QMainWindow>

class QAction;
class QCloseEvent;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QWidget;
class TNorvChkListBox;
class TNorvComboBox;
class TNorvDatabase;
class TNorvGrid;
class TNorvListBox;
class TNorvQuery;

class Tf_main : public QMainWindow {
  Q_OBJECT
 public:
  explicit Tf_main(QWidget* parent = nullptr);
  ~Tf_main() override;

  // ---- Main menu, in menu order ------------------------------------------------------------
  QAction* Close1;
  QAction* Connect1;
  QAction* Execute1;
  QAction* BulkCopy1;
  QAction* NorvTable1;
  QAction* ObjectInfo1;
  QAction* NorvFunctions1;
  QAction* N7About1;

  // ---- Top panel -----------------------------------------------------------------------------
  QWidget* Panel1;
  QLabel* Label3;
  QComboBox* cb_servers;
  QLabel* Label1;
  QLineEdit* e_username;
  QLabel* Label2;
  QLineEdit* e_password;
  QPushButton* btn_connect;
  QPushButton* btn_execute;
  QPushButton* btn_close;
  QPushButton* btn_about;
  QLabel* Label4;
  TNorvComboBox* lb_databases;
  QListWidget* lb;
  TNorvListBox* norv_lb;
  TNorvComboBox* norv_cb;
  TNorvChkListBox* norv_clb;

  // ---- Result grid and script ----------------------------------------------------------------
  QSplitter* Splitter1;
  TNorvGrid* grid;
  QPlainTextEdit* m_sql;

  // ---- Non-visual components -----------------------------------------------------------------
  TNorvQuery* query;
  TNorvDatabase* db;

  // ---- Handlers (exceptions pass on to the application object, which shows them) -------------
  // Connects when btn_connect reads "Connect", disconnects otherwise.
  void btn_connectClick();
  // Runs the memo's script in the grid, or warns when not connected.
  void btn_executeClick();
  // Disconnects and closes the window.
  void btn_closeClick();
  void btn_aboutClick();
  // A database picked in lb_databases becomes the connection's current one.
  void lb_databasesChange();
  void BulkCopy1Click();
  void NorvTable1Click();
  void ObjectInfo1Click();
  void NorvFunctions1Click();

 protected:
  // Closing the window by any path leaves no login behind.
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateMenu();
  void CreatePanel();
  void CreateGridAndMemo();
  void CreateComponents();
  // False, after telling the user, when the connection does not stand.
  bool ConnectedOrWarn();
  // Shows a tool window modally over this one and frees it when it closes.
  void ShowToolWindow(QDialog* window);
};
