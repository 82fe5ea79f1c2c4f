#include "controls/norvgrid.h"

#include "connection/norvdatabase.h"
#include "connection/norvexception.h"
#include "connection/presenter.h"
#include "connection/sqlfile.h"
#include "query/norvquery.h"

#include <QCoreApplication>
#include <QFont>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace norvgrid {

// What a run reads of the grid, copied when the run starts so that a worker never reads the
// widget's fields while the user-interface thread may write them.
struct Settings {
  QStringList statements;
  bool worker = false;
  bool showLineNum = true;
  bool showHeader = true;
  bool showHeaderOnNoRows = true;
  bool keepHeader = true;
  bool disConnectAtEnd = false;
  int charWidth = 9;
  // The grid's layout when the run started: the worker's private record of it begins there.
  int rowCount = 0;
  int colCount = 0;
  int fixedRows = 0;
  std::vector<int> widths;
};

// One change to the grid. Cell writes and size changes are the bulk of a listing and travel
// compactly (a cell's text lies in the text its batch carries); everything else (events, texts,
// run-time state) as a call.
struct Op {
  enum Kind : std::uint8_t {
    Cell,
    RowCount,
    ColCount,
    FixedRows,
    ColWidth,
    ClearRows,
    Repaint,
    Call
  };
  Kind kind;
  int a = 0;
  int b = 0;
  qsizetype at = 0;  // Cell: where its text starts in the batch's text, and how long it is
  qsizetype length = 0;
  std::function<void(TNorvGrid&)> call;
};

// Carries a worker's changes to the GUI thread. The worker appends; the first change after a
// drain posts one drain to the grid, which applies everything gathered in order. A worker far
// ahead of the screen waits, so a slow display never makes the queue grow without bound.
class Channel : public std::enable_shared_from_this<Channel> {
 public:
  explicit Channel(TNorvGrid* grid) : grid_(grid) {}

  void Push(Op op) {
    std::vector<Op> ops;
    ops.push_back(std::move(op));
    QString none;
    PushAll(ops, none);
  }

  // Appends `ops` in order, with the text their cells lie in, under one lock; both are left
  // empty (the text keeps its storage for the next batch).
  void PushAll(std::vector<Op>& ops, QString& text) {
    if (ops.empty()) return;
    std::unique_lock lock(mutex_);
    drained_.wait(lock, [this] { return closed_ || pending_.size() < kMaxPending; });
    if (closed_) {
      ops.clear();
      text.resize(0);
      return;
    }
    const qsizetype base = pendingText_.size();
    for (Op& op : ops) {
      if (op.kind == Op::Cell) op.at += base;
      pending_.push_back(std::move(op));
    }
    pendingText_.append(text);
    ops.clear();
    text.resize(0);
    if (posted_) return;
    posted_ = true;
    lock.unlock();
    if (QPointer<TNorvGrid> grid = grid_)
      QMetaObject::invokeMethod(
          grid.data(), [self = shared_from_this()] { self->Drain(); }, Qt::QueuedConnection);
  }

  // GUI thread: applies what has arrived.
  void Drain() {
    std::vector<Op> batch;
    QString text;
    bool again = false;
    {
      std::lock_guard lock(mutex_);
      batch.swap(pending_);
      text.swap(pendingText_);
      // While changes keep coming, the next drain follows a moment later instead of at the
      // next change: the GUI thread wakes some hundred times a second, not once a row.
      again = !batch.empty() && !closed_;
      posted_ = again;
    }
    drained_.notify_all();
    TNorvGrid* grid = grid_.data();
    if (!grid) return;
    if (again)
      QTimer::singleShot(kDrainInterval, grid, [self = shared_from_this()] { self->Drain(); });
    for (Op& op : batch) {
      if (Closed()) return;  // a handler below may have stopped the run
      Apply(*grid, op, text);
    }
  }

  // Drops everything not yet applied and refuses what comes later.
  void Close() {
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
      closedFlag_ = true;
      pending_.clear();
      pendingText_.clear();
    }
    drained_.notify_all();
  }

  // Read before every change the GUI thread applies: a flag, so that costs no lock.
  bool Closed() const { return closedFlag_.load(std::memory_order_acquire); }

 private:
  static constexpr size_t kMaxPending = 65536;
  static constexpr int kDrainInterval = 5;  // ms

  static void Apply(TNorvGrid& grid, Op& op, const QString& text) {
    switch (op.kind) {
      case Op::Cell:
        grid.GridModel()->SetCell(op.a, op.b, QStringView(text).mid(op.at, op.length));
        break;
      case Op::RowCount: grid.SetRowCount(op.a); break;
      case Op::ColCount: grid.SetColCount(op.a); break;
      case Op::FixedRows: grid.SetFixedRows(op.a); break;
      case Op::ColWidth: grid.SetColWidths(op.a, op.b); break;
      case Op::ClearRows: grid.GridModel()->ClearRows(op.a); break;
      case Op::Repaint: grid.Repaint(); break;
      case Op::Call: op.call(grid); break;
    }
  }

  mutable std::mutex mutex_;
  std::condition_variable drained_;
  std::vector<Op> pending_;
  QString pendingText_;  // the texts of the pending cells
  bool posted_ = false;
  bool closed_ = false;
  std::atomic<bool> closedFlag_{false};  // closed_, for readers without the lock
  QPointer<TNorvGrid> grid_;
};

// Writes the run-time state a run publishes on the grid.
struct RunState {
  static void Rows(TNorvGrid& g, bool newCommand, int rowInSet) {
    g.newCommand_ = newCommand;
    g.rowInSet_ = rowInSet;
  }
  static void Statement(TNorvGrid& g, int index, const QString& text) {
    g.statementIndex_ = index;
    g.currentStatement_ = text;
  }
};

namespace {

// Where a run writes: the grid itself on the calling thread; the channel, and a private record
// of the sizes it asked for, on the worker.
class Writer {
 public:
  virtual ~Writer() = default;
  virtual int RowCount() const = 0;
  virtual int FixedRows() const = 0;
  virtual int ColWidth(int col) const = 0;
  virtual void SetRowCount(int value) = 0;
  virtual void SetColCount(int value) = 0;
  virtual void SetFixedRows(int value) = 0;
  virtual void SetColWidth(int col, int width) = 0;
  virtual void SetCell(int col, int row, const QString& text) = 0;
  virtual void ClearRows(int from) = 0;
  virtual void Repaint() = 0;
  // Run-time state and events: applied to the grid at once, or queued behind the cells before.
  virtual void Call(std::function<void(TNorvGrid&)> call) = 0;
  // The row counters change with every row; the worker keeps them to itself.
  virtual void RowState(bool newCommand, int rowInSet) = 0;
  // Hands on what was written so far: the query may report something of its own next.
  virtual void Flush() {}

  void AddRow() { SetRowCount(RowCount() + 1); }
};

class GridWriter final : public Writer {
 public:
  explicit GridWriter(TNorvGrid& grid) : grid_(grid) {}
  int RowCount() const override { return grid_.RowCount(); }
  int FixedRows() const override { return grid_.FixedRows(); }
  int ColWidth(int col) const override { return grid_.ColWidths(col); }
  void SetRowCount(int value) override { grid_.SetRowCount(value); }
  void SetColCount(int value) override { grid_.SetColCount(value); }
  void SetFixedRows(int value) override { grid_.SetFixedRows(value); }
  void SetColWidth(int col, int width) override { grid_.SetColWidths(col, width); }
  void SetCell(int col, int row, const QString& text) override { grid_.SetCells(col, row, text); }
  void ClearRows(int from) override { grid_.GridModel()->ClearRows(from); }
  void Repaint() override { grid_.Repaint(); }
  void Call(std::function<void(TNorvGrid&)> call) override { call(grid_); }
  void RowState(bool newCommand, int rowInSet) override {
    SetRowState(grid_, newCommand, rowInSet);
  }
  static void SetRowState(TNorvGrid& grid, bool newCommand, int rowInSet);

 private:
  TNorvGrid& grid_;
};

// The worker's changes go to the channel a row at a time (RowState ends each row), so a row costs
// one lock whatever its cells; sizes that did not change are not sent at all.
class ChannelWriter final : public Writer {
 public:
  ChannelWriter(Channel& channel, const Settings& start)
      : channel_(channel),
        rowCount_(start.rowCount),
        colCount_(start.colCount),
        fixedRows_(start.fixedRows),
        widths_(start.widths) {}
  ~ChannelWriter() override { Flush(); }
  int RowCount() const override { return rowCount_; }
  int FixedRows() const override { return fixedRows_; }
  int ColWidth(int col) const override {
    return col >= 0 && col < static_cast<int>(widths_.size()) ? widths_[col] : 64;
  }
  void SetRowCount(int value) override {
    rowCount_ = value;
    Add(Op::RowCount, value);
  }
  void SetColCount(int value) override {
    if (static_cast<int>(widths_.size()) < value) widths_.resize(value, 64);
    if (value == colCount_) return;
    colCount_ = value;
    Add(Op::ColCount, value);
  }
  void SetFixedRows(int value) override {
    fixedRows_ = value;
    Add(Op::FixedRows, value);
  }
  void SetColWidth(int col, int width) override {
    if (col < 0 || col >= colCount_ || widths_[col] == width) return;
    widths_[col] = width;
    Add(Op::ColWidth, col, width);
  }
  void SetCell(int col, int row, const QString& text) override {
    ops_.push_back(Op{Op::Cell, col, row, text_.size(), text.size(), {}});
    text_ += text;
  }
  void ClearRows(int from) override { Add(Op::ClearRows, from); }
  void Repaint() override { Add(Op::Repaint, 0); }
  void Call(std::function<void(TNorvGrid&)> call) override {
    ops_.push_back(Op{Op::Call, 0, 0, 0, 0, std::move(call)});
    Flush();
  }
  void RowState(bool, int) override { Flush(); }
  void Flush() override { channel_.PushAll(ops_, text_); }

 private:
  void Add(Op::Kind kind, int a, int b = 0) { ops_.push_back(Op{kind, a, b, 0, 0, {}}); }

  Channel& channel_;
  std::vector<Op> ops_;  // not yet handed to the channel
  QString text_;         // the texts of their cells
  int rowCount_;
  int colCount_;
  int fixedRows_;
  std::vector<int> widths_;
};

constexpr int kWidthMemory = 500;

// What the worker's query would show (the router's boxes and windows, a lost connection) goes
// to the GUI thread, in order with the listing and its events; no presenter runs on the worker.
// A login prompt needs its answer, so the worker waits for the GUI thread to give it.
class WorkerPresenter final : public norv::Presenter {
 public:
  WorkerPresenter(Writer& writer, QObject* guiObject) : w_(writer), gui_(guiObject) {}
  void ShowMessageBox(const QString& caption, const QString& text, norv::MsgIcon icon) override {
    w_.Call([=](TNorvGrid&) { norv::CurrentPresenter().ShowMessageBox(caption, text, icon); });
  }
  void ShowMessageWindow(const QString& caption, const QString& text,
                         norv::PanelColour bottom) override {
    w_.Call([=](TNorvGrid&) { norv::CurrentPresenter().ShowMessageWindow(caption, text, bottom); });
  }
  void Beep() override {
    w_.Call([](TNorvGrid&) { norv::CurrentPresenter().Beep(); });
  }
  void SetWaitCursor(bool on) override {
    w_.Call([on](TNorvGrid&) { norv::CurrentPresenter().SetWaitCursor(on); });
  }
  bool LoginPrompt(norv::TLoginRequest& request) override {
    bool ok = false;
    if (gui_)
      QMetaObject::invokeMethod(
          gui_, [&] { ok = norv::CurrentPresenter().LoginPrompt(request); },
          Qt::BlockingQueuedConnection);
    return ok;
  }
  bool Confirm(const QString& caption, const QString& text) override {
    bool yes = false;
    if (gui_)
      QMetaObject::invokeMethod(
          gui_, [&] { yes = norv::CurrentPresenter().Confirm(caption, text); },
          Qt::BlockingQueuedConnection);
    return yes;
  }

 private:
  Writer& w_;
  QPointer<QObject> gui_;
};

}  // namespace

// The listing of one run: the same steps on either thread, apart from where the worker checks
// for a stop and how a failing statement ends the run.
class Filler {
 public:
  // `serverCall` hears when the worker enters (true) and leaves (false) a call that may wait
  // for the server.
  Filler(const Settings& settings, Writer& writer, TNorvQuery& query, std::function<bool()> stopped,
         std::function<void(bool)> serverCall = {})
      : s_(settings),
        w_(writer),
        q_(query),
        stopped_(std::move(stopped)),
        serverCall_(std::move(serverCall)) {
    q_.BeforeCommand = [this](QObject*) { newCommand_ = true; };
  }
  ~Filler() { q_.BeforeCommand = nullptr; }
  Filler(const Filler&) = delete;
  Filler& operator=(const Filler&) = delete;

  // The last statement's Execute value. On the calling thread a failing statement raises; on the
  // worker it ends the run with completed() false.
  int Run();
  bool Completed() const { return completed_; }

 private:
  bool Stopped() const { return s_.worker && stopped_(); }
  void InServerCall(bool in) {
    if (in) w_.Flush();  // what the query reports comes after what was written before
    if (serverCall_) serverCall_(in);
  }
  void Widen(int col, int chars);
  void HeaderLine();
  void FailureLine();
  void Columns();
  void RunStatement(const QString& statement, int& result);

  const Settings& s_;
  Writer& w_;
  TNorvQuery& q_;
  std::function<bool()> stopped_;
  std::function<void(bool)> serverCall_;
  std::vector<int> remembered_ = std::vector<int>(kWidthMemory, 10);
  int r_ = 0;        // the row written next
  int widest_ = 1;   // most columns of any result set so far
  int columns_ = 0;  // columns of the current result set
  int digits_ = 0;   // most line-number digits so far
  bool newCommand_ = false;
  bool firstLine_ = true;
  int rowInSet_ = 0;
  int statementIndex_ = 0;
  bool completed_ = false;
};

}  // namespace norvgrid

using norvgrid::Channel;
using norvgrid::Filler;
using norvgrid::Settings;

namespace norvgrid {

void GridWriter::SetRowState(TNorvGrid& grid, bool newCommand, int rowInSet) {
  RunState::Rows(grid, newCommand, rowInSet);
}

void Filler::Widen(int col, int chars) {
  const int wanted = chars * s_.charWidth;
  if (w_.ColWidth(col) < wanted) w_.SetColWidth(col, wanted);
  if (col < kWidthMemory) remembered_[col] = std::max(remembered_[col], w_.ColWidth(col));
}

void Filler::Columns() {
  columns_ = q_.ColumnCount();
  widest_ = std::max(widest_, columns_);
  w_.SetColCount(widest_ + 1);
}

void Filler::HeaderLine() {
  w_.SetCell(0, r_, QStringLiteral(" "));
  for (int c = 1; c <= columns_; ++c) {
    const QString name = q_.FieldName(c);
    Widen(c, static_cast<int>(name.size()));
    w_.SetCell(c, r_, name);
  }
  w_.AddRow();
  ++r_;
}

void Filler::FailureLine() {
  const QString line =
      QStringLiteral("(") + QString::number(q_.RowsAffected()) + QStringLiteral(" rows affected)");
  w_.SetCell(1, r_, line);
  w_.SetColWidth(1, static_cast<int>(line.size()) * s_.charWidth);
  w_.AddRow();
}

int Filler::Run() {
  statementIndex_ = 0;
  w_.Call([](TNorvGrid& g) {
    RunState::Statement(g, 0, g.CurrentStatement());
    if (g.BeforeExec) g.BeforeExec(&g);
  });

  // The old listing goes first.
  w_.ClearRows(std::max(0, w_.FixedRows() - 1));
  if (Stopped()) return 0;

  r_ = w_.FixedRows();
  if (s_.keepHeader && s_.showHeader) {
    if (w_.FixedRows() == 0) w_.SetFixedRows(1);
    r_ = w_.FixedRows() - 1;
  }
  w_.SetColCount(2);
  w_.SetRowCount(w_.FixedRows() + 1);
  widest_ = 1;
  w_.Repaint();
  newCommand_ = true;
  firstLine_ = true;
  if (s_.worker) w_.SetColWidth(0, 15);

  int result = 0;
  for (int i = 0; i < s_.statements.size(); ++i) {
    if (Stopped()) return result;
    const QString& entry = s_.statements[i];
    if (entry == QLatin1String("ROWCOUNT")) {
      w_.SetCell(1, r_,
                 QStringLiteral("(") + QString::number(q_.RowsAffected()) +
                     QStringLiteral(" rows affected)"));
      w_.AddRow();
      ++r_;
      w_.AddRow();
      ++r_;
      continue;
    }
    // Nothing between two separators: there is nothing to send, and no count to report.
    if (entry.trimmed().isEmpty()) {
      if (i + 1 < s_.statements.size() && s_.statements[i + 1] == QLatin1String("ROWCOUNT")) ++i;
      continue;
    }
    RunStatement(entry, result);
    if (s_.worker && result != 1) return result;
  }
  completed_ = true;
  return result;
}

void Filler::RunStatement(const QString& statement, int& result) {
  q_.SetSql(statement);
  ++statementIndex_;
  const int index = statementIndex_;
  w_.Call([index, statement](TNorvGrid& g) {
    RunState::Statement(g, index, statement);
    if (g.BeforeCommand) g.BeforeCommand(&g);
  });

  if (s_.worker) {
    InServerCall(true);
    result = q_.Execute();
    InServerCall(false);
    if (result != 1) {
      FailureLine();
      return;
    }
  } else {
    try {
      result = q_.Execute();
    } catch (...) {
      FailureLine();
      throw;
    }
  }
  if (!s_.showLineNum) w_.SetColWidth(0, 13);

  for (;;) {
    if (Stopped()) return;
    bool row;
    if (s_.worker) {
      InServerCall(true);
      row = q_.Next();
      InServerCall(false);
    } else {
      row = q_.Fetch() == 1;
    }
    if (!row) break;
    if (newCommand_) {
      rowInSet_ = 1;
      Columns();
      if (s_.showHeader) HeaderLine();
      newCommand_ = false;
    }
    if (firstLine_) {
      firstLine_ = false;
    } else {
      w_.AddRow();
    }
    // Column 0 holds a blank, or the line number when lines are numbered.
    if (s_.showLineNum && r_ > 0) {
      const QString number = QString::number(rowInSet_);
      w_.SetCell(0, r_, number);
      digits_ = std::max(digits_, static_cast<int>(number.size()));
    } else {
      w_.SetCell(0, r_, QStringLiteral(" "));
    }
    w_.SetColWidth(0, s_.charWidth * digits_ + 5);
    for (int c = 1; c <= columns_; ++c) {
      const QString value = q_.FieldValue(c);
      Widen(c, static_cast<int>(value.size()));
      w_.SetCell(c, r_, value.isEmpty() ? QStringLiteral(" ") : value);
    }
    ++r_;
    ++rowInSet_;
    Columns();
    for (int c = 1; c <= widest_ && c < kWidthMemory; ++c)
      if (w_.ColWidth(c) < remembered_[c]) w_.SetColWidth(c, remembered_[c]);
    w_.RowState(newCommand_, rowInSet_);
  }

  // A command that failed after earlier results (met inside Next) ends the run here, as its
  // exception ends the run on the calling thread.
  if (s_.worker && q_.ResultType() == CS_CMD_FAIL && !Stopped()) {
    result = 0;
    return;
  }
  if (q_.RowsAffected() < 1 && s_.showHeaderOnNoRows && s_.showHeader) {
    Columns();
    if (s_.worker) w_.SetColWidth(0, 15);
    HeaderLine();
  }
}

}  // namespace norvgrid

// ---- TNorvGrid
// -----------------------------------------------------------------------------------

TNorvGrid::TNorvGrid(QWidget* parent) : TStringGrid(parent) {
  SetDefaultRowHeight(20);
  SetColCount(2);
  SetRowCount(2);
  SetFixedRows(1);
  QFont font(QStringLiteral("Courier"), 9);
  font.setStyleHint(QFont::Monospace);
  setFont(font);
  SetOptions({goFixedVertLine, goFixedHorzLine, goVertLine, goHorzLine, goRangeSelect,
              goDrawFocusSelected, goColSizing, goTabs, goThumbTracking});
}

TNorvGrid::~TNorvGrid() {
  QPointer<Threadgrid> worker = worker_;
  if (!worker) return;
  worker->Terminate();
  // The worker may be waiting for the GUI thread (a message it shows): serve it until it ends.
  while (worker && !worker->wait(20))
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  if (worker && worker_ == worker) {
    // Its end was not delivered while we waited; the query is ours to free.
    TNorvQuery* query = worker->query_;
    worker->query_ = nullptr;
    worker_ = nullptr;
    delete query;
  }
}

void TNorvGrid::SetDesignActive(bool value) {
  designActive_ = value;
  if (value && sql_.size() > 1) Execute();
}

void TNorvGrid::SetShowHeader(bool value) {
  showHeader_ = value;
  if (!value) keepHeader_ = false;
}

void TNorvGrid::SetKeepHeader(bool value) {
  keepHeader_ = value;
  if (value) showHeader_ = true;
}

bool TNorvGrid::Terminated() const {
  Threadgrid* worker = worker_;
  return !worker || worker->Terminated();
}

void TNorvGrid::LoadSqlFromFile(const QString& fileName) {
  sql_.clear();
  sql_ = ReadSqlFile(fileName);
}

void TNorvGrid::SplitBatch() {
  statements_.clear();
  // Separators end in a carriage return; a line feed alone (the line end here) counts as one.
  QString text;
  text.reserve(sql_.size() + sql_.size() / 16 + 1);
  for (qsizetype i = 0; i < sql_.size(); ++i) {
    if (sql_[i] == QLatin1Char('\n') && (i == 0 || sql_[i - 1] != QLatin1Char('\r')))
      text += QLatin1Char('\r');
    text += sql_[i];
  }
  text += QLatin1Char('\r');
  const QString lower = text.toLower();
  const QString separator = QStringLiteral("go\r");
  const qsizetype last = text.size() - 1;
  qsizetype p = 0;  // start of the current statement
  qsizetype s = 0;  // where the next search starts
  bool found = false;
  for (;;) {
    const qsizetype g = lower.indexOf(separator, s);
    if (g < 0) break;
    found = true;
    // The character right before "go" (normally the line feed ending the line before) is left
    // out, as are the carriage return after it and the character after that.
    statements_ << text.mid(p, std::max<qsizetype>(0, g - 1 - p));
    if (showRowCount_) statements_ << QStringLiteral("ROWCOUNT");
    p = g + 4;
    s = g + 2;
  }
  if (!found) {
    statements_ << text;
  } else if (s != last) {
    const QString rest = p < text.size() ? text.mid(p) : QString();
    if (!rest.trimmed().isEmpty()) {
      statements_ << rest;
      if (showRowCount_) statements_ << QStringLiteral("ROWCOUNT");
    }
  }
  if (showRowCount_ && (statements_.isEmpty() || statements_.last() != QLatin1String("ROWCOUNT")))
    statements_ << QStringLiteral("ROWCOUNT");
}

std::unique_ptr<Settings> TNorvGrid::TakeSettings() const {
  auto settings = std::make_unique<Settings>();
  settings->statements = statements_;
  settings->worker = background_;
  settings->showLineNum = showLineNum_;
  settings->showHeader = showHeader_;
  settings->showHeaderOnNoRows = showHeaderOnNoRows_;
  settings->keepHeader = keepHeader_;
  settings->disConnectAtEnd = disConnectAtEnd_;
  settings->charWidth = charWidth_;
  settings->rowCount = RowCount();
  settings->colCount = ColCount();
  settings->fixedRows = FixedRows();
  for (int c = 0; c < ColCount(); ++c) settings->widths.push_back(ColWidths(c));
  return settings;
}

TNorvQuery* TNorvGrid::CreateQuery() {
  auto* query = new TNorvQuery(this);
  query->SetDbName(DbName());
  query->SetMonitor(Monitor());
  query->SetTrimResults(trimResults_);
  query->SetMaxRows(maxRows_);
  query->SetMsgDialogs(MsgDialogs());
  query->SetShowDbMessages(ShowDbMessages());
  if (selectOnly_) {
    query->SetIsCursor(true);
    query->SetReadOnly(true);
  }
  if (!background_) {
    query->OnDbError = OnDbError;
    query->AfterDbError = AfterDbError;
    query->OnDbMessage = OnDbMessage;
    query->AfterDbMessage = AfterDbMessage;
    if (OnMaxRows) query->OnMaxRows = OnMaxRows;
  }
  return query;
}

int TNorvGrid::Execute() {
  CheckDbName(DbName());
  if (busy_)
    throw ENorvException(QStringLiteral("The grid is still executing its previous script"));
  busy_ = true;
  SplitBatch();

  if (background_) {
    try {
      worker_ = new Threadgrid(false, this);
    } catch (...) {
      busy_ = false;
      throw;
    }
    return 0;
  }

  struct BusyReset {
    bool& busy;
    ~BusyReset() { busy = false; }
  } reset{busy_};
  auto settings = TakeSettings();
  std::unique_ptr<TNorvQuery> query(CreateQuery());
  norvgrid::GridWriter writer(*this);
  int result = 0;
  {
    Filler filler(*settings, writer, *query, [] { return false; });
    result = filler.Run();
  }
  // The query goes before the connection may be closed and before AfterExec.
  query.reset();
  busy_ = false;
  if (disConnectAtEnd_)
    if (TNorvDatabase* db = FindDatabase(DbName())) db->Disconnect();
  if (AfterExec) AfterExec(this);
  return result;
}

void TNorvGrid::WorkerFinished(Threadgrid* worker) {
  if (worker != worker_) return;
  if (!worker->ended_.load(std::memory_order_acquire)) worker->wait();
  if (!worker->channel_->Closed()) worker->channel_->Drain();
  TNorvQuery* query = worker->query_;
  worker->query_ = nullptr;
  worker_ = nullptr;
  FinishRun(query, worker->Completed() && !worker->Terminated());
}

void TNorvGrid::FinishRun(TNorvQuery* query, bool completed) {
  delete query;
  busy_ = false;
  GridModel()->Flush();
  if (!completed) return;
  if (disConnectAtEnd_)
    if (TNorvDatabase* db = FindDatabase(DbName())) db->Disconnect();
  if (AfterExec) AfterExec(this);
}

void TNorvGrid::Publish(std::function<void(TNorvGrid&)> change) {
  if (QThread::currentThread() == thread()) return change(*this);
  if (auto* worker = qobject_cast<Threadgrid*>(QThread::currentThread()))
    worker->channel_->Push({norvgrid::Op::Call, 0, 0, 0, 0, std::move(change)});
}

void TNorvGrid::SetDbErrorText(const QString& value) {
  Publish([value](TNorvGrid& g) { g.TDbMessageReporter::SetDbErrorText(value); });
}

void TNorvGrid::SetDbServerMsg(const CS_SERVERMSG& value) {
  Publish([value](TNorvGrid& g) { g.TDbMessageReporter::SetDbServerMsg(value); });
}

void TNorvGrid::SetDbMessageText(const QString& value) {
  Publish([value](TNorvGrid& g) { g.TDbMessageReporter::SetDbMessageText(value); });
}

// ---- Threadgrid
// ----------------------------------------------------------------------------------

Threadgrid::Threadgrid(bool createSuspended, TNorvGrid* grid)
    : grid_(grid),
      query_(grid->CreateQuery()),
      settings_(grid->TakeSettings()),
      channel_(std::make_shared<Channel>(grid)) {
  // The message events fire on this thread inside the query; the grid's handlers run on the GUI
  // thread instead, in order with the listing, with the grid as Sender.
  auto forward = [this](TNotifyEvent TNorvGrid::*event) -> TNotifyEvent {
    if (!(grid_->*event)) return nullptr;
    return [channel = channel_, event](QObject*) {
      channel->Push({norvgrid::Op::Call, 0, 0, 0, 0, [event](TNorvGrid& g) {
                       if (g.*event) (g.*event)(&g);
                     }});
    };
  };
  query_->OnDbError = forward(&TNorvGrid::OnDbError);
  query_->AfterDbError = forward(&TNorvGrid::AfterDbError);
  query_->OnDbMessage = forward(&TNorvGrid::OnDbMessage);
  query_->AfterDbMessage = forward(&TNorvGrid::AfterDbMessage);
  query_->OnMaxRows = forward(&TNorvGrid::OnMaxRows);

  // The grid hears of the end first; the worker object goes afterwards.
  connect(this, &QThread::finished, grid, [grid, this] { grid->WorkerFinished(this); });
  connect(this, &QThread::finished, this, &QObject::deleteLater);
  if (!createSuspended) start();
}

Threadgrid::~Threadgrid() {
  // A worker deleted before its grid heard of the end (the grid went first) leaves nothing behind.
  if (isRunning()) {
    Terminate();
    wait();
  }
}

void Threadgrid::Terminate() {
  requestInterruption();
  channel_->Close();
  SendAttention();
}

// A statement still running on the server would hold the worker until its first row (or its
// end): the server is asked to stop it. Only while the worker waits in a call on its command
// (between calls it sees the stop itself, and the library must not be left expecting an
// acknowledgement nobody reads); a statement sent just after a stop is caught by the repeat.
void Threadgrid::SendAttention() {
  if (!isRunning() || QThread::currentThread() != thread() || !query_) return;
  TNorvDatabase* db = FindDatabase(query_->DbName());
  oc::Connection* con = db && db->Connected() ? db->Handle() : nullptr;
  if (!con) return;
  {
    std::lock_guard lock(callMutex_);
    if (inServerCall_)
      oc::IgnoreStatus(oc::ct_cancel(con, nullptr, CS_CANCEL_ATTN),
                       "CS_FAIL only when the connection has gone; the worker then ends by itself");
  }
  QTimer::singleShot(100, this, [this] { SendAttention(); });
}

void Threadgrid::run() {
  struct MarkEnded {
    std::atomic<bool>& ended;
    ~MarkEnded() { ended.store(true, std::memory_order_release); }
  } markEnded{ended_};
  if (!query_) return;
  norvgrid::ChannelWriter writer(*channel_, *settings_);
  norvgrid::WorkerPresenter presenter(writer, QCoreApplication::instance());
  norv::ScopedThreadPresenter onGuiThread(&presenter);
  try {
    Filler filler(
        *settings_, writer, *query_, [this] { return isInterruptionRequested(); },
        [this](bool in) {
          std::lock_guard lock(callMutex_);
          inServerCall_ = in;
        });
    const int result = filler.Run();
    completed_ = filler.Completed();
    if (!completed_ && result != 1) requestInterruption();
    // Whatever the server still holds for the query is abandoned here, off the GUI thread.
    query_->CloseResults();
  } catch (const std::exception& e) {
    // Nothing the query raises may leave the thread: the run ends and the user is told.
    requestInterruption();
    try {
      query_->CloseResults();
    } catch (...) {
      // The connection is beyond use; the query's owner frees what is left.
    }
    const QString text = QString::fromUtf8(e.what());
    writer.Call([text](TNorvGrid& g) { g.TDbMessageReporter::SetDbErrorText(text); });
    norv::CurrentPresenter().ShowMessageBox(QStringLiteral("Error"), text, norv::MsgIcon::Error);
  }
}
