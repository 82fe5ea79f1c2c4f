// The message window: a fixed-size dialog that shows a (possibly long) server or client message
// in a monospace, unwrapped text box, with copy, select-all and print tools and an OK button.
#pragma once

#include "presenter.h"

#include <QColor>
#include <QDialog>
#include <QString>

class QFrame;
class QPrinter;
class QPushButton;
class QTextEdit;
class QToolBar;
class QToolButton;

class Tf_norv_message : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 393;
  static constexpr int kClientHeight = 252;
  static constexpr int kToolBarHeight = 29;
  static constexpr int kBottomHeight = 36;
  static constexpr int kButtonWidth = 75;
  static constexpr int kButtonHeight = 25;

  explicit Tf_norv_message(QWidget* parent = nullptr);

  // Sets the caption, the message text and the colour of the bottom panel.
  void SetMessage(const QString& caption, const QString& text, norv::PanelColour bottom);

  // Prints the whole message on `printer` under the print title; no dialog.
  void PrintTo(QPrinter& printer) const;

  QString Text() const;
  QColor BottomColour() const;

  static QString DefaultCaption();
  static QString PrintTitle();
  static QColor ErrorColour();

 protected:
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void CopySelection();
  void SelectAll();
  void Print();
  bool OwnsWindow(const QWidget* window) const;

  QToolBar* toolBar_ = nullptr;
  QToolButton* copyButton_ = nullptr;
  QToolButton* selectAllButton_ = nullptr;
  QToolButton* printButton_ = nullptr;
  QTextEdit* message_ = nullptr;
  QFrame* bottom_ = nullptr;
  QPushButton* closeButton_ = nullptr;
  // Set once the window has been active since it was last shown: before that, a deactivation
  // is only the activation hand-over of the show itself.
  bool wasActive_ = false;
};
