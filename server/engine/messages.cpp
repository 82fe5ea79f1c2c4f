#include "engine/messages.h"

#include <algorithm>
#include <cctype>

namespace sampleserver {
namespace {

// Texts are the sysmessages templates: printf placeholders in argument order.
constexpr MessageEntry kCatalog[] = {
    // This server's own failures that no Sybase message describes (storage errors, statements
    // it does not carry out): the text says what happened.
    {7, 16, 1, "%.*s"},
    {101, 15, 1, "Line %d: SQL syntax error."},
    {102, 15, 1, "Incorrect syntax near '%.*s'."},
    {103, 15, 1, "The %S_MSG that starts with '%.*s' is too long. Maximum length is %d."},
    {104, 15, 1,
     "Order-by items must appear in the select-list if the statement contains set operators."},
    {105, 15, 1, "Unclosed quote before the character string '%.*s'."},
    {106, 16, 1, "Too many table names in the query. The maximum allowable is %d."},
    {107, 15, 1,
     "The column prefix '%.*s' does not match with a table name or alias name used in the query."},
    {111, 15, 1, "%.*s must be the first command in a query batch."},
    {113, 15, 1, "Missing end comment mark '*/'."},
    {134, 15, 1,
     "The variable name '%.*s' has already been declared. Variable names must be unique within a "
     "query batch or stored procedure."},
    {137, 15, 1, "Must declare variable '%.*s'."},
    {141, 15, 1,
     "A SELECT statement that assigns a value to a variable must not be combined with "
     "data-retrieval operations."},
    {155, 15, 1, "'%.*s' is not a recognized %S_MSG option."},
    {156, 15, 1, "Incorrect syntax near the keyword '%.*s'."},
    {174, 15, 1, "The function '%.*s' requires %d arguments."},
    {191, 15, 1,
     "Some part of your SQL statement is nested too deeply. Rewrite the query or break it up "
     "into smaller queries."},
    {195, 15, 1, "'%.*s' is not a recognized built-in function name."},
    {201, 16, 2, "Procedure %.*s expects parameter %.*s, which was not supplied."},
    {207, 16, 4, "Invalid column name '%.*s'."},
    {208, 16, 1,
     "%.*s not found. Specify owner.objectname or use sp_help to check whether the object exists "
     "(sp_help may produce lots of output)."},
    {209, 16, 1, "Ambiguous column name %.*s"},
    {213, 16, 4,
     "Insert error: column name or number of supplied values does not match table definition."},
    {217, 16, 1, "Maximum stored procedure nesting level exceeded (limit %d)."},
    {271, 16, 1, "The column '%.*s' cannot be modified because it is a computed column."},
    {229, 14, 1, "%s permission denied on object %.*s, database %.*s, owner %.*s"},
    {233, 16, 1, "The column %.*s in table %.*s does not allow null values.%S_EED"},
    {245, 16, 1, "Syntax error during implicit conversion of %s value '%.*s' to a %s field."},
    {247, 16, 1, "Arithmetic overflow during %S_MSG conversion of %s value '%.*s' to a %s field ."},
    {249, 16, 1, "Syntax error during %S_MSG conversion of %s value '%.*s' to a %s field."},
    {257, 16, 1,
     "Implicit conversion from datatype '%s' to '%s' is not allowed.  Use the CONVERT function "
     "to run this query."},
    {266, 10, 1,
     "Transaction count after EXECUTE indicates that a COMMIT or ROLLBACK TRAN is missing. "
     "Previous count = %ld, Current count = %ld."},
    {268, 16, 1,
     "You can't run SELECT INTO in this database.  Please check with the Database Owner."},
    {409, 16, 1, "The %.*s aggregate operation cannot take a %s datatype as an argument."},
    {515, 16, 3,
     "Attempt to insert NULL value into column '%.*s', table '%.*s'; column does not allow "
     "nulls. Update fails.%S_EED"},
    {517, 16, 1, "Adding a value to a '%s' field caused overflow."},
    {529, 16, 1, "Explicit conversion from datatype '%s' to '%s' is not allowed."},
    {532, 16, 1,
     "The timestamp (changed to %.*s) shows that the row has been updated by another user."},
    {535, 16, 1, "Difference of two datetime fields caused overflow at runtime."},
    {557, 16, 1,
     "The cursor '%.*s' can not be used as it could not be found. It is possible that either it "
     "was not declared or it is not available in the current context."},
    {559, 16, 1,
     "Attempt to open cursor '%.*s' which is already open. The cursor must be closed before it "
     "can be opened."},
    {911, 11, 2,
     "Attempt to locate entry in sysdatabases for database '%.*s' by name failed - no entry "
     "found under that name. Make sure that name is entered properly."},
    {913, 16, 1,
     "Could not find row in sysdatabases with database id %d. Run DBCC CHECKTABLE on "
     "sysdatabases."},
    {1801, 16, 1, "Database '%.*s' already exists."},
    {1913, 16, 1, "There is already an index on table '%.*s' named '%.*s'."},
    {2601, 14, 1,
     "Attempt to insert duplicate key row in object '%.*s' with unique index '%.*s'%S_EED"},
    {2615, 14, 1, "Attempt to insert duplicate row in table '%.*s' with unique clustered index."},
    {2627, 14, 1,
     "Violation of %S_MSG constraint '%.*s'. Cannot insert duplicate key in object '%.*s'."},
    {2705, 16, 1,
     "Column names in each table must be unique. Column name '%.*s' in table '%.*s' is "
     "specified more than once."},
    {2714, 16, 1, "There is already an object named '%.*s' in the database."},
    {2715, 16, 1, "Can't find type '%.*s'."},
    {2812, 16, 5,
     "Stored procedure '%.*s' not found. Specify owner.objectname or use sp_help to check whether "
     "the object exists (sp_help may produce lots of output)."},
    {3604, 10, 1, "Duplicate key was ignored."},
    {7123, 16, 1, "Invalid text pointer value %.*s."},
    {3606, 16, 1, "Arithmetic overflow occurred."},
    {3607, 16, 1, "Divide by zero occurred."},
    {3621, 10, 1, "Command has been aborted."},
    {3622, 10, 1, "Domain error occurred."},
    {3701, 11, 1,
     "Cannot drop the %S_MSG '%.*s', because it doesn't exist in the system catalogs."},
    {3902, 16, 1, "The commit transaction request has no corresponding BEGIN TRANSACTION."},
    {3903, 16, 1, "The rollback transaction request has no corresponding BEGIN TRANSACTION."},
    {4002, 14, 1, "Login failed."},
    {5701, 10, 1, "Changed database context to '%.*s'."},
    {5703, 10, 1, "Changed language setting to '%.*s'."},
    {5704, 10, 1, "Changed client character set setting to '%.*s'."},
    {9502, 16, 1, "String data, right truncation."},
};

}  // namespace

const MessageEntry* FindMessage(int number) {
  for (const MessageEntry& e : kCatalog)
    if (e.number == number) return &e;
  return nullptr;
}

std::string FormatTemplate(std::string_view text, const std::vector<std::string>& args) {
  std::string out;
  size_t next = 0;
  auto take = [&]() -> std::string { return next < args.size() ? args[next++] : std::string(); };
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '%' || i + 1 >= text.size()) {
      out += c;
      continue;
    }
    std::string_view rest = text.substr(i + 1);
    auto starts = [&](std::string_view p) { return rest.substr(0, p.size()) == p; };
    if (starts("%")) {
      out += '%';
      i += 1;
    } else if (starts("S_EED")) {
      i += 5;  // extended error data travels in the EED token, not in the text
    } else if (starts("S_MSG") || starts("S_OBJID")) {
      out += take();
      i += starts("S_MSG") ? 5 : 7;
    } else if (starts(".*s")) {
      out += take();
      i += 3;
    } else if (starts("ld") || starts("ls")) {
      out += take();
      i += 2;
    } else if (starts("s") || starts("d") || starts("u")) {
      out += take();
      i += 1;
    } else {
      out += c;
    }
  }
  return out;
}

ServerMessage MakeMessage(int number, std::vector<std::string> args) {
  ServerMessage m;
  m.number = number;
  const MessageEntry* e = FindMessage(number);
  if (e == nullptr) {
    m.severity = 16;
    m.state = 1;
    m.text = "Message " + std::to_string(number) + " not found.";
    return m;
  }
  m.severity = static_cast<uint8_t>(e->severity);
  m.state = static_cast<uint8_t>(e->state);
  m.text = FormatTemplate(e->text, args);
  return m;
}

ServerMessage MakePrintMessage(std::string text) {
  ServerMessage m;
  m.number = 0;
  m.severity = 10;
  m.state = 1;
  m.text = std::move(text);
  return m;
}

std::string FormatRaiserror(std::string_view format, const std::vector<std::string>& args) {
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() &&
        std::isdigit(static_cast<unsigned char>(format[i + 1]))) {
      size_t j = i + 1;
      int n = 0;
      while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j])) && n < 100)
        n = n * 10 + (format[j++] - '0');
      if (j < format.size() && format[j] == '!' && n >= 1 && n <= 20) {
        if (static_cast<size_t>(n) <= args.size()) out += args[static_cast<size_t>(n) - 1];
        i = j;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

ServerMessage MakeRaiserrorMessage(int number, std::string_view format,
                                   const std::vector<std::string>& args) {
  ServerMessage m;
  m.number = number;
  m.severity = 16;
  m.state = 1;
  m.text = FormatRaiserror(format, args);
  if (m.text.size() > 512) m.text.resize(512);
  return m;
}

std::string SqlStateOf(const ServerMessage& message) {
  int n = message.number;
  if (message.severity <= 10) return "ZZZZZ";
  if (n == 3607) return "22012";
  if (n == 3606 || n == 247 || n == 517 || n == 535) return "22003";
  if (n == 245 || n == 249) return "22018";
  if (n == 515 || n == 233 || n == 2601 || n == 2615 || n == 2627) return "23000";
  if (n == 4002) return "28000";
  if ((n >= 100 && n < 300) || n == 229) return "42000";
  return "ZZZZZ";
}

}  // namespace sampleserver
