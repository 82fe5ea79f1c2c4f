// Runs a script (statements separated by lines reading "go") on a server named in
// $SYBASE/INI/SQL.INI and shows every result set in the result grid, as the demonstration's main
// window does. With --exit-after-listing it prints the listing and ends instead of waiting for
// the window to close, so that it runs headless (QT_QPA_PLATFORM=offscreen):
//
//   norvgridview -U sa -P '' SAMPLE script.sql
//   QT_QPA_PLATFORM=offscreen norvgridview --exit-after-listing -U sa -P '' SAMPLE script.sql
#include "connection/norvapplication.h"
#include "connection/norvcontext.h"
#include "connection/norvdatabase.h"
#include "connection/norvexception.h"
#include "controls/norvgrid.h"

#include <QCommandLineParser>
#include <QFile>

#include <cstdio>

int main(int argc, char** argv) {
  // The components' application object: it installs the Qt presenter (message boxes, the
  // message window) and shows exceptions escaping from event handlers.
  NorvApplication app(argc, argv);
  QCommandLineParser args;
  args.setApplicationDescription(QStringLiteral("Shows a script's results in the result grid."));
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
      {QStringLiteral("exit-after-listing"),
       QStringLiteral("Print the listing and end instead of showing the window.")},
  });
  args.addPositionalArgument(QStringLiteral("server"), QStringLiteral("A section of SQL.INI."));
  args.addPositionalArgument(QStringLiteral("script"), QStringLiteral("A file of statements."));
  args.process(app);
  if (args.positionalArguments().size() != 2) args.showHelp(2);
  QFile script(args.positionalArguments().at(1));
  if (!script.open(QIODevice::ReadOnly | QIODevice::Text)) {
    std::fprintf(stderr, "norvgridview: cannot read %s\n", qPrintable(script.fileName()));
    return 1;
  }

  TNorvContext context;
  context.SetName(QStringLiteral("context"));

  TNorvDatabase db;
  db.SetName(QStringLiteral("db"));
  db.SetServerName(args.positionalArguments().at(0));
  db.SetUserName(args.value(QStringLiteral("user")));
  db.SetPassword(args.value(QStringLiteral("password")));
  db.SetLoginPrompt(false);

  // The grid lists each statement's result sets with a header, line numbers and a row count.
  TNorvGrid grid;
  grid.SetDbName(QStringLiteral("db"));
  grid.SetSql(QString::fromUtf8(script.readAll()));
  grid.resize(800, 600);
  grid.show();

  try {
    db.SetConnected(true);
    grid.Execute();
  } catch (const Exception& e) {
    std::fprintf(stderr, "norvgridview: %s\n", e.what());
    return 1;
  }
  if (!args.isSet(QStringLiteral("exit-after-listing"))) return app.exec();

  // The listing line by line, cells separated by tabs, then how many lines the grid holds.
  for (int row = 0; row < grid.RowCount(); ++row) {
    QStringList cells;
    for (int column = 0; column < grid.ColCount(); ++column) cells << grid.Cells(column, row);
    std::printf("%s\n", qPrintable(cells.join(QLatin1Char('\t'))));
  }
  std::printf("grid rows: %d\n", grid.RowCount());
  return 0;
}
