// The functions window: calls each of the server's built-in functions through a TNorvFunctions
// with fixed or typed-in arguments and shows the answer and the statement sent. The component
// finds the connection by the name "db".
#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TNorvFunctions;

class Tf_functions : public QDialog {
  Q_OBJECT
 public:
  explicit Tf_functions(QWidget* parent = nullptr);
  ~Tf_functions() override;

  // ---- Controls and components, as on the form -----------------------------------------------
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5;
  QLineEdit* e1;  // Date 1
  QLineEdit* e2;  // Date 2
  QLineEdit* e3;  // Number
  QLineEdit* e_result;
  QPlainTextEdit* m_sql;
  // Button1 to Button23 call one function each (there is no Button17); Button24 closes.
  QPushButton* Button1;
  QPushButton* Button2;
  QPushButton* Button3;
  QPushButton* Button4;
  QPushButton* Button5;
  QPushButton* Button6;
  QPushButton* Button7;
  QPushButton* Button8;
  QPushButton* Button9;
  QPushButton* Button10;
  QPushButton* Button11;
  QPushButton* Button12;
  QPushButton* Button13;
  QPushButton* Button14;
  QPushButton* Button15;
  QPushButton* Button16;
  QPushButton* Button18;
  QPushButton* Button19;
  QPushButton* Button20;
  QPushButton* Button21;
  QPushButton* Button22;
  QPushButton* Button23;
  QPushButton* Button24;
  TNorvFunctions* func;

  // The function button captioned `caption` (the server function's name); null for no such one.
  QPushButton* FunctionButton(const QString& caption) const;

 private:
  // Runs `call` and shows its answer and the statement; an exception passes on to the
  // application object, which shows it, and leaves both as they were.
  void Show(const std::function<QString()>& call);
};
