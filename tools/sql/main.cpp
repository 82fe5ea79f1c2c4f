// norvsql: runs SQL batches against a server named in $SYBASE/INI/SQL.INI and prints what comes
// back the way isql does. Everything but the terminal handling lives in sqlclient.*.
#include "sqlclient.h"

#include <QCoreApplication>
#include <QFile>

#include <termios.h>
#include <unistd.h>
#include <cstdio>

namespace {

// Reads a line from the terminal with echo off, restoring the terminal afterwards.
QString ReadPassword() {
  std::fputs("Password: ", stderr);
  std::fflush(stderr);
  termios saved{};
  const bool tty = ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (tty) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  char buffer[256] = {};
  const bool read = std::fgets(buffer, sizeof buffer, stdin) != nullptr;
  if (tty) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  std::fputc('\n', stderr);
  return read ? QString::fromLocal8Bit(buffer).chopped(buffer[0] ? 1 : 0) : QString();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTextStream err(stderr);
  QStringList args = QCoreApplication::arguments();
  args.removeFirst();

  norvsql::Options options;
  QString error;
  if (!norvsql::ParseOptions(args, options, error)) {
    err << "norvsql: " << error << "\n" << norvsql::UsageText();
    return norvsql::kExitStartup;
  }
  QTextStream stdoutStream(stdout);
  if (options.help) {
    stdoutStream << norvsql::UsageText();
    return norvsql::kExitOk;
  }
  if (options.version) {
    stdoutStream << norvsql::VersionText();
    return norvsql::kExitOk;
  }

  QFile inputFile;
  if (!options.inputFile.isEmpty()) {
    inputFile.setFileName(options.inputFile);
    if (!inputFile.open(QIODevice::ReadOnly | QIODevice::Text)) {
      err << "norvsql: cannot read input file '" << options.inputFile
          << "': " << inputFile.errorString() << "\n";
      return norvsql::kExitStartup;
    }
  } else if (!inputFile.open(stdin, QIODevice::ReadOnly | QIODevice::Text)) {
    err << "norvsql: cannot read standard input\n";
    return norvsql::kExitStartup;
  }
  QFile outputFile;
  if (!options.outputFile.isEmpty()) {
    outputFile.setFileName(options.outputFile);
    if (!outputFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
      err << "norvsql: cannot write output file '" << options.outputFile
          << "': " << outputFile.errorString() << "\n";
      return norvsql::kExitStartup;
    }
  }

  const bool terminal = options.inputFile.isEmpty() && ::isatty(STDIN_FILENO) != 0;
  if (!options.password && terminal) options.password = ReadPassword();

  QTextStream in(&inputFile);
  QTextStream out(&outputFile);
  QTextStream& results = options.outputFile.isEmpty() ? stdoutStream : out;
  return norvsql::Run(options, in, terminal ? &stdoutStream : nullptr, results, err);
}
