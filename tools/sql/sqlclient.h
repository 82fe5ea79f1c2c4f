// The command-line client's parts, kept apart from main() so tests can drive them: option
// parsing, the batch reader and the runner that sends each batch through the query component and
// prints results and messages as the classic isql does.
#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <optional>

namespace norvsql {

struct Options {
  QString server;
  QString user;
  std::optional<QString> password;  // absent: asked for on a terminal, else empty
  QString database;
  QString inputFile;
  QString outputFile;
  bool echo = false;
  bool noHeaders = false;
  QString separator = QStringLiteral(" ");
  int width = 80;
  int headersEvery = 0;  // 0: once per result set
  bool numberPrompt = true;
  std::optional<int> errorLevel;
  int timeout = 0;
  bool version = false;
  bool help = false;
};

// Fills `options` from the arguments after the program name; false with `error` set when an
// option is unknown, lacks its value or has a bad one.
bool ParseOptions(const QStringList& args, Options& options, QString& error);
QString UsageText();
QString VersionText();

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitStartup = 1;      // bad options, unreadable file, no connection
constexpr int kExitBatchFailed = 2;  // -m N given and an error of severity N or more came back

// Connects as `options` say and runs the batches read from `in`. With `prompt` (the terminal,
// also when results go to a file) each line is asked for with its number in the batch. Results
// go to `out`, the program's own complaints to `err`.
int Run(const Options& options, QTextStream& in, QTextStream* prompt, QTextStream& out,
        QTextStream& err);

}  // namespace norvsql
