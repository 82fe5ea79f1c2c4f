#include "sqlclient.h"

#include "connection/norvcontext.h"
#include "connection/norvdatabase.h"
#include "connection/norvexception.h"
#include "query/norvquery.h"

#include <QFile>
#include <QSettings>

#include <algorithm>
#include <vector>

namespace norvsql {
namespace {

// Options that take a value, and those that do not.
const QString kValued = QStringLiteral("SUPDioswhmt");
const QString kFlags = QStringLiteral("ebnv");

bool ToInt(const QString& text, int minimum, int& value) {
  bool ok = false;
  const int n = text.toInt(&ok);
  if (!ok || n < minimum) return false;
  value = n;
  return true;
}

bool IsNumericType(int type) {
  switch (type) {
    case CS_TINYINT_TYPE:
    case CS_SMALLINT_TYPE:
    case CS_INT_TYPE:
    case CS_BIGINT_TYPE:
    case CS_REAL_TYPE:
    case CS_FLOAT_TYPE:
    case CS_MONEY_TYPE:
    case CS_MONEY4_TYPE:
    case CS_NUMERIC_TYPE:
    case CS_DECIMAL_TYPE:
    case CS_BIT_TYPE: return true;
    default: return false;
  }
}

// Prints the result sets of one batch as they stream in: a result set's header when it is
// described, its row count when its statement is done (or a message or the batch ends it).
class ResultPrinter {
 public:
  ResultPrinter(const Options& options, QTextStream& out) : options_(options), out_(out) {}

  void Row(const TNorvQuery& query) {
    if (!inSet_) BeginSet(query);
    if (!options_.noHeaders && options_.headersEvery > 0 && rows_ > 0 &&
        rows_ % options_.headersEvery == 0) {
      out_ << '\n';
      Header();
    }
    std::vector<QString> cells;
    for (int c = 1; c <= query.ColumnCount(); ++c)
      cells.push_back(query.FieldIsNull(c) ? QStringLiteral("NULL") : query.FieldValue(c));
    Line(cells, true);
    ++rows_;
  }

  // A result set is described before its first row: its header is printed then, so a set
  // without rows still shows its columns.
  void Describe(const TNorvQuery& query) {
    EndSet();
    BeginSet(query);
  }
  bool InSet() const { return inSet_; }

  // Ends the open set with its count: the server's (none under set nocount on), or, when
  // something else ends the set, the rows printed.
  void EndSet(int count) {
    if (!inSet_) return;
    out_ << '\n';
    if (count >= 0)
      out_ << (count == 1 ? QStringLiteral("(1 row affected)")
                          : QStringLiteral("(%1 rows affected)").arg(count))
           << '\n';
    inSet_ = false;
  }
  void EndSet() { EndSet(rows_); }

 private:
  void BeginSet(const TNorvQuery& query) {
    inSet_ = true;
    rows_ = 0;
    names_.clear();
    widths_.clear();
    numeric_.clear();
    for (int c = 1; c <= query.ColumnCount(); ++c) {
      const QString name = query.FieldName(c);
      names_.push_back(name);
      widths_.push_back(std::max({static_cast<int>(name.size()), query.FieldDisplayWidth(c), 4}));
      numeric_.push_back(IsNumericType(query.FieldType(c)));
    }
    if (!options_.noHeaders) Header();
  }

  void Header() {
    Line(names_, false);
    std::vector<QString> dashes;
    for (const int w : widths_) dashes.push_back(QString(w, QLatin1Char('-')));
    Line(dashes, false);
  }

  // One line of cells, folded onto further lines where it would pass the width.
  void Line(const std::vector<QString>& cells, bool alignNumbers) {
    QString line;
    for (size_t i = 0; i < cells.size() && i < widths_.size(); ++i) {
      const int w = widths_[i];
      const QString cell = alignNumbers && numeric_[i] ? cells[i].trimmed().rightJustified(w)
                                                       : cells[i].leftJustified(w);
      if (!line.isEmpty() &&
          line.size() + options_.separator.size() + cell.size() > options_.width) {
        out_ << line << '\n';
        line = QStringLiteral("\t");
      }
      line += options_.separator + cell;
    }
    out_ << line << options_.separator << '\n';
  }

  const Options& options_;
  QTextStream& out_;
  bool inSet_ = false;
  int rows_ = 0;
  std::vector<QString> names_;
  std::vector<int> widths_;
  std::vector<bool> numeric_;
};

void PrintRecord(const TServerMessageRecord& r, QTextStream& out) {
  out << QStringLiteral("Msg %1, Level %2, State %3:\n").arg(r.Number).arg(r.Severity).arg(r.State);
  out << QStringLiteral("Server '%1', ").arg(r.Server);
  if (!r.Procedure.isEmpty()) out << QStringLiteral("Procedure '%1', ").arg(r.Procedure);
  out << QStringLiteral("Line %1:\n").arg(r.Line) << r.Text << '\n';
}

class Session {
 public:
  Session(const Options& options, QTextStream& out, QTextStream& err)
      : options_(options), out_(out), err_(err) {}

  bool Connect() {
    // A name missing from SQL.INI is said plainly rather than as a failed login.
    const QString ini = qEnvironmentVariable("SYBASE") + QStringLiteral("/INI/SQL.INI");
    if (QFile::exists(ini)) {
      const QStringList sections = QSettings(ini, QSettings::IniFormat).childGroups();
      if (!sections.contains(options_.server, Qt::CaseInsensitive)) {
        err_ << "norvsql: server '" << options_.server << "' is not named in " << ini << '\n';
        return false;
      }
    }
    context_.SetName(QStringLiteral("norvsql_context"));
    db_.SetName(QStringLiteral("norvsql_db"));
    db_.SetContextName(context_.ContextName());  // the timeout is a setting of the context
    db_.SetServerName(options_.server);
    db_.SetUserName(options_.user);
    db_.SetPassword(options_.password.value_or(QString()));
    db_.SetAppName(QStringLiteral("norvsql"));
    db_.SetLoginPrompt(false);
    db_.SetServerPrompt(false);
    // Informational messages are printed here, not shown; errors still raise with their records.
    db_.SetShowDbMessages({smDbErr});
    if (options_.timeout > 0) db_.SetTimeOut(options_.timeout);
    try {
      db_.SetConnected(true);
      if (!db_.Connected()) {
        err_ << "norvsql: could not connect to server '" << options_.server << "'\n";
        return false;
      }
      if (!options_.database.isEmpty()) db_.SetDBName(options_.database);
    } catch (const EDatabaseError& e) {
      for (const auto& r : e.Records()) PrintRecord(r, err_);
      err_ << "norvsql: could not connect to server '" << options_.server << "': " << e.what()
           << '\n';
      return false;
    } catch (const Exception& e) {
      err_ << "norvsql: could not connect to server '" << options_.server << "': " << e.what()
           << '\n';
      return false;
    }
    query_.SetName(QStringLiteral("norvsql_query"));
    query_.SetDbName(db_.Name());
    query_.SetShowDbMessages({smDbErr});
    query_.OnDbMessage = [this](QObject*) { PrintMessage(query_.DbMessageText()); };
    return true;
  }

  // Sends one batch; false when the server failed it. Output streams as the results arrive:
  // each set's header when it is described (a set without rows shows its columns), its count
  // when its statement is done, and the count of each statement that changed rows.
  bool Execute(const QString& sql) {
    ResultPrinter printer(options_, out_);
    printer_ = &printer;
    query_.AfterDescribe = [this, &printer](QObject*) {
      if (query_.ColumnCount() > 0) printer.Describe(query_);
    };
    query_.AfterCommandDone = [this, &printer](QObject*) {
      if (printer.InSet())
        printer.EndSet(query_.DoneRowCount());
      else if (query_.DoneRowCount() >= 0)
        out_ << (query_.DoneRowCount() == 1
                     ? QStringLiteral("(1 row affected)\n")
                     : QStringLiteral("(%1 rows affected)\n").arg(query_.DoneRowCount()));
    };
    query_.SetSql(sql);
    bool ok = true;
    try {
      if (query_.Execute() != 0)
        while (query_.Fetch() == 1) printer.Row(query_);
    } catch (const EDatabaseError& e) {
      printer.EndSet();
      if (e.Records().empty()) err_ << "norvsql: " << e.what() << '\n';
      for (const auto& r : e.Records()) {
        PrintRecord(r, out_);
        worstSeverity_ = std::max(worstSeverity_, r.Severity);
      }
      ok = false;
    } catch (const Exception& e) {
      printer.EndSet();
      err_ << "norvsql: " << e.what() << '\n';
      worstSeverity_ = std::max(worstSeverity_, 99);
      ok = false;
    }
    printer.EndSet();
    if (query_.HasReturnStatus())
      out_ << QStringLiteral("(return status = %1)\n").arg(query_.ReturnStatus());
    query_.AfterDescribe = nullptr;
    query_.AfterCommandDone = nullptr;
    printer_ = nullptr;
    out_.flush();
    return ok;
  }

  int WorstSeverity() const { return worstSeverity_; }

 private:
  // The router hands over "Server   : name" and the texts of the step's messages.
  // A message comes after the rows before it: the open result set ends first.
  void PrintMessage(const QString& text) {
    if (printer_) printer_->EndSet();
    QString body = text;
    const qsizetype eol = body.indexOf(QStringLiteral("\r\n"));
    if (body.startsWith(QStringLiteral("Server")) && eol >= 0) body = body.mid(eol + 2);
    out_ << body << '\n';
  }

  const Options& options_;
  QTextStream& out_;
  QTextStream& err_;
  TNorvContext context_;
  TNorvDatabase db_;
  TNorvQuery query_;
  int worstSeverity_ = 0;
  ResultPrinter* printer_ = nullptr;  // the printer of the batch being run
};

// Reads the lines of a batch and acts on the commands that end one.
class BatchReader {
 public:
  BatchReader(const Options& options, Session& session, QTextStream& out, QTextStream& err)
      : options_(options), session_(session), out_(out), err_(err) {}

  // False when the input asked to stop (quit/exit).
  bool Feed(const QString& rawLine) {
    const QString line = rawLine.trimmed();
    const QString word = line.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty).toLower();
    const QString rest = line.section(QLatin1Char(' '), 1, -1, QString::SectionSkipEmpty);
    if (word == QLatin1String("go")) {
      int times = 1;
      if (!rest.isEmpty() && !ToInt(rest, 1, times)) {
        err_ << "norvsql: bad repeat count after go: " << rest << '\n';
        batch_.clear();
        return true;
      }
      RunBatch(times);
      return true;
    }
    if (word == QLatin1String("reset") && rest.isEmpty()) {
      batch_.clear();
      return true;
    }
    if ((word == QLatin1String("quit") || word == QLatin1String("exit")) && rest.isEmpty())
      return false;
    if (word == QLatin1String(":r")) {
      ReadFile(rest);
      return true;
    }
    batch_ << rawLine;
    return true;
  }

  int NextLineNumber() const { return static_cast<int>(batch_.size()) + 1; }

 private:
  void RunBatch(int times) {
    const QString sql = batch_.join(QLatin1Char('\n'));
    batch_.clear();
    if (sql.trimmed().isEmpty()) return;
    if (options_.echo) out_ << sql << '\n';
    for (int n = 0; n < times; ++n) session_.Execute(sql);
  }

  // The file's lines join the batch being typed; its own "go" lines run as they come.
  void ReadFile(const QString& name) {
    QFile file(name);
    if (name.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
      err_ << "norvsql: cannot read '" << name << "'\n";
      return;
    }
    if (++depth_ > 16) {
      err_ << "norvsql: files read into each other too deeply at '" << name << "'\n";
      --depth_;
      return;
    }
    QTextStream in(&file);
    QString line;
    while (in.readLineInto(&line))
      if (!Feed(line)) break;
    --depth_;
  }

  const Options& options_;
  Session& session_;
  QTextStream& out_;
  QTextStream& err_;
  QStringList batch_;
  int depth_ = 0;
};

}  // namespace

bool ParseOptions(const QStringList& args, Options& o, QString& error) {
  for (int i = 0; i < args.size(); ++i) {
    const QString& arg = args[i];
    if (arg == QLatin1String("--help") || arg == QLatin1String("-?")) {
      o.help = true;
      continue;
    }
    if (arg.size() < 2 || arg[0] != QLatin1Char('-') || arg[1] == QLatin1Char('-')) {
      error = QStringLiteral("unexpected argument '%1'").arg(arg);
      return false;
    }
    const QChar letter = arg[1];
    if (kFlags.contains(letter) && arg.size() == 2) {
      switch (letter.toLatin1()) {
        case 'e': o.echo = true; break;
        case 'b': o.noHeaders = true; break;
        case 'n': o.numberPrompt = false; break;
        default: o.version = true; break;
      }
      continue;
    }
    if (!kValued.contains(letter)) {
      error = QStringLiteral("unknown option '%1'").arg(arg);
      return false;
    }
    QString value = arg.mid(2);
    if (arg.size() == 2) {
      if (i + 1 >= args.size()) {
        error = QStringLiteral("option '%1' needs a value").arg(arg);
        return false;
      }
      value = args[++i];
    }
    bool good = true;
    switch (letter.toLatin1()) {
      case 'S': o.server = value; break;
      case 'U': o.user = value; break;
      case 'P': o.password = value; break;
      case 'D': o.database = value; break;
      case 'i': o.inputFile = value; break;
      case 'o': o.outputFile = value; break;
      case 's': o.separator = value; break;
      case 'w': good = ToInt(value, 10, o.width); break;
      case 'h': good = ToInt(value, 0, o.headersEvery); break;
      case 't': good = ToInt(value, 0, o.timeout); break;
      default: {
        int level = 0;
        good = ToInt(value, 0, level);
        if (good) o.errorLevel = level;
        break;
      }
    }
    if (!good) {
      error = QStringLiteral("bad value '%1' for option -%2").arg(value, letter);
      return false;
    }
  }
  if (!o.help && !o.version && o.server.isEmpty()) o.server = qEnvironmentVariable("DSQUERY");
  if (!o.help && !o.version && o.server.isEmpty()) {
    error = QStringLiteral("no server named: give -S server (a section of $SYBASE/INI/SQL.INI)");
    return false;
  }
  return true;
}

QString UsageText() {
  return QStringLiteral(
      "usage: norvsql -S server [-U user] [-P password] [-D database] [-i file] [-o file]\n"
      "               [-e] [-b] [-s separator] [-w width] [-h rows] [-n] [-m errorlevel]\n"
      "               [-t timeout] [-v] [--help]\n"
      "\n"
      "Runs SQL batches against a server named in $SYBASE/INI/SQL.INI. A batch ends at a line\n"
      "'go' (or 'go N' to run it N times); 'reset' drops it, 'quit' or 'exit' ends the input,\n"
      "':r file' reads a file in its place.\n"
      "\n"
      "  -S server     the SQL.INI section ($DSQUERY when absent)\n"
      "  -U user       the login name\n"
      "  -P password   the password; asked for without echo on a terminal when absent\n"
      "  -D database   the database to use after login\n"
      "  -i file       read batches from the file instead of standard input\n"
      "  -o file       write results to the file instead of standard output\n"
      "  -e            echo each batch before its results\n"
      "  -b            no column headers\n"
      "  -s separator  the column separator (a space)\n"
      "  -w width      the line width; longer rows fold (80)\n"
      "  -h rows       repeat the headers every that many rows (once per result set)\n"
      "  -n            no line numbers in the prompt\n"
      "  -m level      exit with status 2 when a server error of this severity or more occurred\n"
      "  -t timeout    seconds to wait for a command's results\n"
      "  -v            print the version and exit\n"
      "\n"
      "Exit status: 0; 1 when the options are wrong, the input file cannot be read or the\n"
      "connection fails; 2 when -m level is given and a batch failed with a server error of\n"
      "severity level or more (without -m a failed batch does not change the status).\n");
}

QString VersionText() { return QStringLiteral("norvsql 0.1\n"); }

int Run(const Options& options, QTextStream& in, QTextStream* prompt, QTextStream& out,
        QTextStream& err) {
  Session session(options, out, err);
  if (!session.Connect()) return kExitStartup;
  BatchReader reader(options, session, out, err);
  QString line;
  for (;;) {
    if (prompt) {
      out.flush();
      if (options.numberPrompt) *prompt << reader.NextLineNumber();
      *prompt << "> ";
      prompt->flush();
    }
    if (!in.readLineInto(&line)) break;
    if (!reader.Feed(line)) break;
  }
  out.flush();
  err.flush();
  if (options.errorLevel && session.WorstSeverity() >= *options.errorLevel &&
      session.WorstSeverity() > 0)
    return kExitBatchFailed;
  return kExitOk;
}

}  // namespace norvsql
