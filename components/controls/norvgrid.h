// The result grid: runs a script of statements separated by "go" lines and lists every result set
// one below the other as plain text: a header line of column names, one numbered line per row
// and a count line after each statement.
//
// With Background set, the script runs on a Threadgrid worker. The worker never touches the
// widget: every cell write, size change and event it produces is queued, in order, to the GUI
// thread, which applies them in batches. A stop request (Worker()->Terminate()) takes effect at
// the worker's next check point (before the layout, each statement and each row), and nothing
// the worker queued after the request is applied; a statement still running on the server is
// cut short by an attention. What the worker's query would show reaches the GUI thread in order
// with the listing: nothing is shown from the worker.
//
// Execute while a run of the same grid is in progress (a worker still busy, or a handler calling
// back during a run) is refused with ENorvException: two runs never fill the same cells.
#pragma once

#include "connection/component.h"
#include "connection/norvtypes.h"
#include "controls/stringgrid.h"

#include <QPointer>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class TNorvQuery;
class Threadgrid;

namespace norvgrid {
class Channel;
struct Settings;
struct RunState;
}  // namespace norvgrid

class TNorvGrid : public TStringGrid,
                  public TDbMessageReporter,
                  public TComponentCommon,
                  public TDbNameProperty {
  Q_OBJECT
  // The query reads it to decide whether it may raise.
  Q_PROPERTY(bool Background READ Background WRITE SetBackground)
 public:
  explicit TNorvGrid(QWidget* parent = nullptr);
  // Stops a running worker and waits for it.
  ~TNorvGrid() override;

  QString Name() const { return objectName(); }
  void SetName(const QString& value) { setObjectName(value); }

  // ---- Properties ----------------------------------------------------------------------------
  QString Sql() const { return sql_; }
  void SetSql(const QString& value) { sql_ = value; }
  // Setting it True runs Execute when Sql is longer than one character.
  bool DesignActive() const { return designActive_; }
  void SetDesignActive(bool value);
  bool Background() const { return background_; }
  void SetBackground(bool value) { background_ = value; }
  bool ShowLineNum() const { return showLineNum_; }
  void SetShowLineNum(bool value) { showLineNum_ = value; }
  // False also clears KeepHeader.
  bool ShowHeader() const { return showHeader_; }
  void SetShowHeader(bool value);
  bool ShowHeaderOnNoRows() const { return showHeaderOnNoRows_; }
  void SetShowHeaderOnNoRows(bool value) { showHeaderOnNoRows_ = value; }
  bool ShowRowCount() const { return showRowCount_; }
  void SetShowRowCount(bool value) { showRowCount_ = value; }
  // True also sets ShowHeader.
  bool KeepHeader() const { return keepHeader_; }
  void SetKeepHeader(bool value);
  bool SelectOnly() const { return selectOnly_; }
  void SetSelectOnly(bool value) { selectOnly_ = value; }
  bool DisConnectAtEnd() const { return disConnectAtEnd_; }
  void SetDisConnectAtEnd(bool value) { disConnectAtEnd_ = value; }
  int MaxRows() const { return maxRows_; }
  void SetMaxRows(int value) { maxRows_ = value; }
  bool TrimResults() const { return trimResults_; }
  void SetTrimResults(bool value) { trimResults_ = value; }
  // True when no worker runs, otherwise whether it was asked to stop or stopped itself.
  bool Terminated() const;

  // ---- Events (the four message events are inherited) ----------------------------------------
  TNotifyEvent BeforeExec;
  TNotifyEvent AfterExec;
  TNotifyEvent BeforeCommand;
  TNotifyEvent OnMaxRows;

  // ---- Operations ----------------------------------------------------------------------------
  // Runs the script; the last statement's Execute value, 0 when none ran or in the background.
  int Execute();
  // Sql := the file's lines, each preceded by a blank, line breaks dropped.
  void LoadSqlFromFile(const QString& fileName);
  // Splits Sql into Statements at "go" separators, with "ROWCOUNT" markers.
  void SplitBatch();

  // ---- Run-time state --------------------------------------------------------------------------
  QStringList Statements() const { return statements_; }
  int CharWidth() const { return charWidth_; }
  bool NewCommand() const { return newCommand_; }
  int RowInSet() const { return rowInSet_; }
  int StatementIndex() const { return statementIndex_; }
  QString CurrentStatement() const { return currentStatement_; }
  bool Busy() const { return busy_; }
  Threadgrid* Worker() const { return worker_; }

  // A worker's copies arrive on the GUI thread in order with its cell writes.
  void SetDbErrorText(const QString& value) override;
  void SetDbServerMsg(const CS_SERVERMSG& value) override;
  void SetDbMessageText(const QString& value) override;

 private:
  friend class Threadgrid;
  friend class norvgrid::Channel;
  friend struct norvgrid::RunState;

  // A change to the grid's own state: made at once on the GUI thread, queued from a worker.
  void Publish(std::function<void(TNorvGrid&)> change);
  std::unique_ptr<norvgrid::Settings> TakeSettings() const;
  TNorvQuery* CreateQuery();
  void WorkerFinished(Threadgrid* worker);
  void FinishRun(TNorvQuery* query, bool completed);

  QString sql_;
  bool designActive_ = false;
  bool background_ = false;
  bool showLineNum_ = true;
  bool showHeader_ = true;
  bool showHeaderOnNoRows_ = true;
  bool showRowCount_ = true;
  bool keepHeader_ = true;
  bool selectOnly_ = false;
  bool disConnectAtEnd_ = false;
  int maxRows_ = 0;
  bool trimResults_ = false;

  QStringList statements_;
  int charWidth_ = 9;
  bool newCommand_ = false;
  int rowInSet_ = 0;
  int statementIndex_ = 0;
  QString currentStatement_;
  bool busy_ = false;
  QPointer<Threadgrid> worker_;
};

// The worker that fills a grid in the background. It owns nothing of the grid: it reads a copy of
// the grid's settings taken when it was created and queues its writes through a channel.
class Threadgrid : public QThread {
  Q_OBJECT
 public:
  // Starts at once unless `createSuspended`; start() runs a suspended one.
  Threadgrid(bool createSuspended, TNorvGrid* grid);
  ~Threadgrid() override;

  TNorvGrid* Grid() const { return grid_; }
  TNorvQuery* Query() const { return query_; }

  // Asks the worker to stop at its next check point; what it queues from now on is dropped.
  void Terminate();
  bool Terminated() const { return isInterruptionRequested(); }
  // True when the run went through every statement.
  bool Completed() const { return completed_; }

 protected:
  void run() override;

 private:
  friend class TNorvGrid;
  void SendAttention();
  QPointer<TNorvGrid> grid_;
  std::mutex callMutex_;
  bool inServerCall_ = false;  // the worker waits in a call on its command
  TNorvQuery* query_;          // a child of the grid, created and deleted on the GUI thread
  std::unique_ptr<norvgrid::Settings> settings_;
  std::shared_ptr<norvgrid::Channel> channel_;
  bool completed_ = false;
  // Set as run() returns. The grid reads it before it takes over the worker's query: Qt hands
  // the finished signal over under locks a race detector cannot see; this pair it can.
  std::atomic<bool> ended_{false};
};
