// Connects to a server named in $SYBASE/INI/SQL.INI and prints the rows of a query, one line a
// row, columns separated by tabs. The login comes from the command line or the environment:
//
//   norvselect -U sa -P '' SAMPLE "select au_lname from pubs2..authors"
//   NORV_USER=sa NORV_PASSWORD= norvselect SAMPLE "select au_lname from pubs2..authors"
#include "connection/norvcontext.h"
#include "connection/norvdatabase.h"
#include "connection/norvexception.h"
#include "query/norvquery.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser args;
  args.setApplicationDescription(QStringLiteral("Prints the rows of a query."));
  args.addHelpOption();
  args.addOptions({
      {{QStringLiteral("U"), QStringLiteral("user")},
       QStringLiteral("Login name ($NORV_USER)."),
       QStringLiteral("name"),
       qEnvironmentVariable("NORV_USER")},
      {{QStringLiteral("P"), QStringLiteral("password")},
       QStringLiteral("Password ($NORV_PASSWORD)."),
       QStringLiteral("password"),
       qEnvironmentVariable("NORV_PASSWORD")},
  });
  args.addPositionalArgument(QStringLiteral("server"), QStringLiteral("A section of SQL.INI."));
  args.addPositionalArgument(QStringLiteral("query"), QStringLiteral("The statement to run."));
  args.process(app);
  if (args.positionalArguments().size() != 2) args.showHelp(2);

  // The context reads the servers from $SYBASE/INI/SQL.INI.
  TNorvContext context;
  context.SetName(QStringLiteral("context"));

  // Components find each other by name: the query names its connection "db".
  TNorvDatabase db;
  db.SetName(QStringLiteral("db"));
  db.SetServerName(args.positionalArguments().at(0));
  db.SetUserName(args.value(QStringLiteral("user")));
  db.SetPassword(args.value(QStringLiteral("password")));
  db.SetLoginPrompt(false);  // no dialog: the login is given

  TNorvQuery query;
  query.SetDbName(QStringLiteral("db"));
  query.SetSql(args.positionalArguments().at(1));

  try {
    db.SetConnected(true);
    query.Execute();
    while (query.Fetch() == 1) {
      QStringList row;
      for (int column = 1; column <= query.ColumnCount(); ++column) row << query.FieldValue(column);
      std::printf("%s\n", qPrintable(row.join(QLatin1Char('\t'))));
    }
  } catch (const Exception& e) {
    // Server messages have gone to standard error already (no presenter is installed).
    std::fprintf(stderr, "norvselect: %s\n", e.what());
    return 1;
  }
  return 0;
}
