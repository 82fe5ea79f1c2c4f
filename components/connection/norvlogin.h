// The login dialog: asks for server, login name, password and server kind before a connection
// logs in. The connection fills it through the presentation seam, shows it modally and reads it
// back. Its geometry is fixed: hiding the server row moves the other rows up by fixed amounts.
#pragma once

#include "presenter.h"

#include <QDialog>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

class TNorvPasswordDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TNorvPasswordDlg(QWidget* parent = nullptr);

  // Fills the dialog from the connection's request (caption, enabled and visible rows, texts,
  // lists and the selected server kind), before it is shown.
  void Prepare(const norv::TLoginRequest& request);
  // Copies the confirmed texts into the request, each cut to 30 characters.
  void ReadBack(norv::TLoginRequest& request) const;

  QFrame* Bevel1;
  QLabel* Label3;
  QComboBox* server;
  QLabel* Label2;
  QLineEdit* username;
  QLabel* Label1;
  QLineEdit* Password;
  QLabel* Label4;
  QComboBox* rdbms;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

 protected:
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void ServerTextChanged(const QString& text);
  void HideServerRow();
};
