// norvsql run as a user runs it, as a child process against the sample server: the same scripts
// through it and through FreeTDS's fisql give the same rows and messages, and what cannot work
// ends with a message and a non-zero status instead of hanging.
#include "server_fixture.h"
#include "sqlclient.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace norvtest {
namespace {

constexpr int kChildTimeoutMs = 30000;

struct Outcome {
  int exitCode = -1;
  QString text;  // standard output and standard error, as the user sees them
};

class NorvsqlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto& server = SampleServer();
    ASSERT_TRUE(dir_.isValid());
    // fisql finds the server through a freetds.conf naming the same host and port.
    QFile conf(dir_.filePath(QStringLiteral("freetds.conf")));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("[%1]\n\thost = %2\n\tport = %3\n\ttds version = 5.0\n")
                   .arg(server.serverName, server.host)
                   .arg(server.port)
                   .toUtf8());
  }

  QString WriteFile(const QString& name, const QString& text) {
    QFile file(dir_.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.toUtf8());
    return file.fileName();
  }

  Outcome Start(const QString& program, const QStringList& args, const QString& input = {}) {
    QProcess child;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FREETDSCONF"), dir_.filePath(QStringLiteral("freetds.conf")));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(program, args);
    EXPECT_TRUE(child.waitForStarted(kChildTimeoutMs)) << program.toStdString();
    child.write(input.toUtf8());
    child.closeWriteChannel();
    if (!child.waitForFinished(kChildTimeoutMs)) {
      child.kill();
      child.waitForFinished();
      ADD_FAILURE() << program.toStdString() << " did not finish";
      return {};
    }
    return {child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1,
            QString::fromUtf8(child.readAll())};
  }

  Outcome Norvsql(const QStringList& extra, const QString& input = {}) {
    QStringList args{QStringLiteral("-S"), SampleServer().serverName, QStringLiteral("-U"),
                     QStringLiteral("sa"), QStringLiteral("-P"),      QString()};
    return Start(QStringLiteral(NORVSQL_PATH), args + extra, input);
  }

  QTemporaryDir dir_;
};

// Whitespace collapsed, blank lines dropped, and fisql's own ways spelled as isql's: "(1 row
// affected)", the return status on a line of its own, no "Changed database context" line (fisql
// prints every informational message), and no header over a set without rows (isql shows one).
QStringList NormalisedLines(const QString& text) {
  static const QRegularExpression withStatus(
      QStringLiteral("^\\((\\d+) rows? affected, return status = (-?\\d+)\\)$"));
  QStringList lines;
  for (const QString& raw : text.split(QLatin1Char('\n'))) {
    QString line = raw.simplified();
    if (line.isEmpty() || line.startsWith(QStringLiteral("Changed database context"))) continue;
    if (const auto m = withStatus.match(line); m.hasMatch()) {
      lines << QStringLiteral("(%1 rows affected)").arg(m.captured(1))
            << QStringLiteral("(return status = %1)").arg(m.captured(2));
    } else {
      lines << line;
    }
  }
  lines.replaceInStrings(QStringLiteral("(1 rows affected)"), QStringLiteral("(1 row affected)"));
  static const QRegularExpression dashes(QStringLiteral("^[- ]+$"));
  for (qsizetype i = 0; i + 2 < lines.size(); ++i)
    if (dashes.match(lines[i + 1]).hasMatch() &&
        lines[i + 2] == QStringLiteral("(0 rows affected)"))
      lines.remove(i, 2);
  return lines;
}

// The lines joined by '|', for readable failures.
std::string Normalised(const QString& text) {
  return NormalisedLines(text).join(QLatin1Char('|')).toStdString();
}

struct ScriptCase {
  const char* name;
  const char* script;
  const char* expected;  // a line norvsql must print, so both peers printing nothing cannot pass
};

const ScriptCase kScripts[] = {
    {"numbers, strings and NULLs",
     "select au_id, au_lname, 3 as n, null as z from pubs2..authors where state = 'UT'\ngo\n",
     "238-66-1420 Dunmore 3 NULL"},
    {"several result sets",
     "select count(*) from pubs2..titles\nselect pub_name from pubs2..publishers order by 1\ngo\n",
     "(6 rows affected)"},
    {"print after rows", "select 1 as one\nprint 'norvsql says hello'\ngo\n", "norvsql says hello"},
    {"error 208", "select * from norvsql_missing\ngo\nselect 1 as after\ngo\n",
     "Msg 208, Level 16, State 1:"},
    {"return status",
     "create procedure norvsql_rs as\nbegin\n  select 7 as a\n  return 5\nend\ngo\n"
     "exec norvsql_rs\ngo\ndrop procedure norvsql_rs\ngo\n",
     "(return status = 5)"},
    {"counts of statements, empty sets, nocount",
     "create table tempdb..norvsql_c (a int)\ngo\n"
     "insert tempdb..norvsql_c values (1)\ninsert tempdb..norvsql_c values (2)\n"
     "update tempdb..norvsql_c set a = a where a > 7\ndeclare @x int\ngo\n"
     "select a from tempdb..norvsql_c where a > 5\nselect a from tempdb..norvsql_c\ngo\n"
     "use pubs2\ngo\nset nocount on\ninsert tempdb..norvsql_c values (3)\n"
     "select count(*) from tempdb..norvsql_c\ngo\ndrop table tempdb..norvsql_c\ngo\n",
     "(0 rows affected)"},
    {"reset drops the batch", "select 'dropped' as d\nreset\nselect 'kept' as k\ngo\n", "kept"},
};

TEST_F(NorvsqlTest, ScriptsPrintWhatFisqlPrints) {
  for (const auto& c : kScripts) {
    SCOPED_TRACE(c.name);
    const QString file = WriteFile(QStringLiteral("script.sql"), QString::fromUtf8(c.script));
    const Outcome ours = Norvsql({QStringLiteral("-i"), file});
    const Outcome theirs =
        Start(QStringLiteral("fisql"),
              {QStringLiteral("-S"), SampleServer().serverName, QStringLiteral("-U"),
               QStringLiteral("sa"), QStringLiteral("-P"), QString(), QStringLiteral("-i"), file});
    EXPECT_EQ(Normalised(ours.text), Normalised(theirs.text));
    EXPECT_TRUE(NormalisedLines(ours.text).contains(QString::fromUtf8(c.expected)))
        << ours.text.toStdString();
  }
}

TEST_F(NorvsqlTest, ReadFileJoinsTheBatch) {
  const QString part =
      WriteFile(QStringLiteral("part.sql"), QStringLiteral("select 'read' as r\n"));
  const Outcome out =
      Norvsql({}, QStringLiteral(":r %1\ngo\nquit\nselect 'never' as n\ngo\n").arg(part));
  EXPECT_EQ(out.exitCode, 0);
  EXPECT_EQ(Normalised(out.text), "r|----|read|(1 row affected)");
}

struct OptionCase {
  QStringList args;
  const char* expected;          // the normalised lines, joined by '|'
  const char* script = nullptr;  // when not the shared one
};

TEST_F(NorvsqlTest, OptionsShapeTheOutput) {
  const QString script = QStringLiteral("select 1 as a, 'x' as b union all select 2, 'y'\ngo\n");
  const OptionCase cases[] = {
      {{QStringLiteral("-b")}, "1 x|2 y|(2 rows affected)"},
      {{QStringLiteral("-s"), QStringLiteral("#")},
       "#a #b #|#-----------#----#|# 1#x #|# 2#y #|(2 rows affected)"},
      {{QStringLiteral("-h"), QStringLiteral("1")},
       "a b|----------- ----|1 x|a b|----------- ----|2 y|(2 rows affected)"},
      {{QStringLiteral("-e")},
       "select 1 as a, 'x' as b union all select 2, 'y'|a b|----------- ----|1 x|"
       "2 y|(2 rows affected)"},
      {{},
       "w|-----|twice|(1 row affected)|w|-----|twice|(1 row affected)",
       "select 'twice' as w\ngo 2\n"},
      {{QStringLiteral("-D"), QStringLiteral("pubs2")},
       "d|------------------------------|pubs2|(1 row affected)",
       "select db_name() as d\ngo\n"},
      {{QStringLiteral("-w"), QStringLiteral("20")},
       "a|b|---------------|-----------------|aaaaaaaaaaaaaaa|bbbbbbbbbbbbbbbbb|(1 row affected)",
       "select 'aaaaaaaaaaaaaaa' as a, 'bbbbbbbbbbbbbbbbb' as b\ngo\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
    const Outcome out = Norvsql(c.args, c.script ? QString::fromUtf8(c.script) : script);
    EXPECT_EQ(out.exitCode, 0);
    EXPECT_EQ(Normalised(out.text), c.expected);
  }
}

struct FailureCase {
  QStringList args;
  const char* message;
  int exitCode;
};

TEST_F(NorvsqlTest, ArgumentsDecideTheMessageAndTheStatus) {
  const QString script = QStringLiteral("select * from norvsql_missing\ngo\n");
  const FailureCase cases[] = {
      {{QStringLiteral("--help")}, "Exit status: 0; 1 when the options are wrong", 0},
      {{QStringLiteral("-v")}, "norvsql 0.1", 0},
      {{QStringLiteral("-Q")}, "unknown option '-Q'", 1},
      {{QStringLiteral("-w")}, "option '-w' needs a value", 1},
      {{QStringLiteral("-S"), QStringLiteral("NORVSQL_NOWHERE")},
       "server 'NORVSQL_NOWHERE' is not named in",
       1},
      {{QStringLiteral("-P"), QStringLiteral("wrong")}, "could not connect to server", 1},
      {{QStringLiteral("-i"), QStringLiteral("/nonexistent/norvsql.sql")},
       "cannot read input file",
       1},
      {{QStringLiteral("-m"), QStringLiteral("10")}, "Msg 208, Level 16, State 1:", 2},
      {{QStringLiteral("-m"), QStringLiteral("17")}, "Msg 208, Level 16, State 1:", 0},
      {{}, "Msg 208, Level 16, State 1:", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
    const Outcome out = Norvsql(c.args, script);
    EXPECT_EQ(out.exitCode, c.exitCode);
    EXPECT_TRUE(out.text.contains(QString::fromUtf8(c.message))) << out.text.toStdString();
  }
}

// The prompts need a terminal, so the runner is driven in-process with a prompt stream of its own.
TEST_F(NorvsqlTest, PromptsNumberTheLinesOfABatch) {
  const struct {
    bool numbered;
    const char* prompts;
  } cases[] = {{true, "1> 2> 3> 1> "}, {false, "> > > > "}};
  for (const auto& c : cases) {
    norvsql::Options options;
    options.server = SampleServer().serverName;
    options.user = QStringLiteral("sa");
    options.password = QString();
    options.numberPrompt = c.numbered;
    QString input = QStringLiteral("select 'p' as p\nprint 'x'\ngo\nquit\n");
    QString prompts, results, errors;
    QTextStream in(&input), prompt(&prompts), out(&results), err(&errors);
    EXPECT_EQ(norvsql::Run(options, in, &prompt, out, err), norvsql::kExitOk)
        << errors.toStdString();
    EXPECT_EQ(prompts.toStdString(), c.prompts);
    EXPECT_EQ(Normalised(results), "p|----|p|(1 row affected)|x");
  }
}

}  // namespace
}  // namespace norvtest
