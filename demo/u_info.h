// The object information window: lists the connected database's catalog (databases, objects of a
// kind picked from a popup menu, users, groups, datatypes, segments, indexes), shows the source
// text of a listed procedure, view, trigger or rule, the CREATE TABLE script of a listed table and
// the columns of a listed index. The catalog component finds the connection by the name "db".
#pragma once

#include <QDialog>

#include <cstdint>

class QAction;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class TNorvObjInfo;

class Tf_info : public QDialog {
  Q_OBJECT
 public:
  explicit Tf_info(QWidget* parent = nullptr);
  ~Tf_info() override;

  // ---- Controls and components, as on the form -----------------------------------------------
  QPushButton* Button1;   // Object Text
  QPushButton* Button2;   // Object Names (pops up PopupMenu1)
  QPushButton* Button3;   // Databases
  QPushButton* Button4;   // Users
  QPushButton* Button5;   // Groups
  QPushButton* Button6;   // System Datatypes
  QPushButton* Button7;   // User Datatypes
  QPushButton* Button9;   // Segment Names
  QPushButton* Button8;   // Index Names
  QPushButton* Button10;  // Index Columns
  QListWidget* lb_objects;
  QPlainTextEdit* m_text;
  QPushButton* btn_close;
  TNorvObjInfo* info;
  QMenu* PopupMenu1;
  // The popup's items, in menu order: Procedures, Views, Triggers, User Tables, System Tables,
  // Rules.
  QAction* PopupItems[6];

  // -1 until a popup item is chosen, then that item's number (1 to 6).
  std::int16_t ObjectKind() const { return objKind_; }

  // ---- Handlers (exceptions pass on to the application object, which shows them) -------------
  void Button1Click();
  void Button2Click();
  // Lists the objects of popup item `item` (1 to 6) and remembers the kind.
  void PopupItemClick(int item);
  void Button10Click();
  void btn_closeClick();

 private:
  void ShowList(const QStringList& items);
  std::int16_t objKind_ = -1;
};
