// The server's message catalog: numbers, severities, states and texts as Sybase's
// sysmessages holds them, expanded with their arguments.
#pragma once

#include "types.h"

#include <string>
#include <string_view>
#include <vector>

namespace sampleserver {

// A catalog entry: the text is a printf-style template whose %.*s, %s, %d and %ld placeholders
// are filled in order from the arguments (%S_EED and %S_MSG-less forms as Sybase writes them).
struct MessageEntry {
  int number = 0;
  int severity = 16;
  int state = 1;
  std::string_view text;
};

// The entry for `number`; none for a number the catalog does not hold.
const MessageEntry* FindMessage(int number);

// A message ready to send: number, severity, state and the text with `args` substituted in
// order (missing arguments become empty, extra ones are ignored). An unknown number gives
// severity 16 and the text "Message <n> not found." (never throws). The server, procedure and
// line fields are left for the engine. The text carries no trailing newline.
ServerMessage MakeMessage(int number, std::vector<std::string> args = {});

// Fills a sysmessages-style template ("%.*s", "%s", "%d", "%ld", "%S_EED" → nothing, "%%" → %).
std::string FormatTemplate(std::string_view text, const std::vector<std::string>& args);

// print: number 0, severity 10, state 1, the text as given.
ServerMessage MakePrintMessage(std::string text);

// raiserror number { "format" | @var } [, args]: Sybase's user error, severity 16, state 1.
// The format's %1! .. %20! placeholders take the arguments by position (a placeholder with no
// argument becomes empty); the text is cut to 512 bytes.
ServerMessage MakeRaiserrorMessage(int number, std::string_view format,
                                   const std::vector<std::string>& args);
std::string FormatRaiserror(std::string_view format, const std::vector<std::string>& args);

// Sybase's SQLSTATE for a message, as the EED token carries it: "42000" for syntax and access
// errors (1xx, 2xx parse/bind errors, 229), "ZZZZZ" for informational messages (severity 10),
// "22012" divide by zero, "22003" overflow, "23000" integrity (515, 233, 2601), "22018" bad
// conversions (249), "28000" login failure, "ZZZZZ" otherwise.
std::string SqlStateOf(const ServerMessage& message);

}  // namespace sampleserver
