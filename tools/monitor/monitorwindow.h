// The monitor's window: every trace line of every component of every program, as it arrives.
#pragma once

#include "monitorstore.h"

#include <QMainWindow>
#include <QRegularExpression>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTimer;

class MonitorWindow : public QMainWindow {
  Q_OBJECT
 public:
  static constexpr size_t kDefaultCapacity = 20000;

  explicit MonitorWindow(size_t capacity = kDefaultCapacity, QWidget* parent = nullptr);
  ~MonitorWindow() override;

  // Starts listening on `name`; false (and a message) when another monitor already does.
  bool Listen(const QString& name);

  // Moves what the reader received into the window; the timer calls it several times a second.
  void Flush();
  void SetPaused(bool paused);
  void Clear();
  void SetFilter(const QString& text, bool regularExpression);
  // Writes the lines shown, as shown.
  bool Save(const QString& path);
  QString ShownText() const;
  QPlainTextEdit* View() const { return view_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  bool Matches(const QString& display) const;
  QString DroppedLine() const;
  void Rebuild();
  void Append(const std::vector<MonitorLine>& lines);
  void AskSave();
  void SaveGeometry();

  MonitorReader reader_;
  MonitorStore store_;
  MonitorStore pending_;  // received while paused
  bool paused_ = false;
  QString filter_;
  bool regex_ = false;
  QRegularExpression expression_;

  QPlainTextEdit* view_;
  QLineEdit* filterEdit_;
  QCheckBox* regexBox_;
  QAction* pauseAction_;
  QLabel* status_;
  QTimer* timer_;
};
