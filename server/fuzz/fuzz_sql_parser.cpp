// Feeds arbitrary bytes to the Transact-SQL parser with both quoted_identifier settings, and
// prints every expression and select it accepts back to text, which must parse again.
#include "sql/ast.h"
#include "sql/parser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace sampleserver::sql;

namespace {

void CheckPrintable(const Stmt& s) {
  if (const auto* sel = s.If<SelectStmt>()) {
    std::string text = ToSql(*sel);
    ParseResult again = Parse(text, ParseOptions{});
    // Printing may need a little more nesting than the source had (added parentheses).
    if (!again.ok() && again.error->number != 191) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (bool quoted : {false, true}) {
    ParseOptions options;
    options.quotedIdentifier = quoted;
    ParseResult r = Parse(text, options);
    if (r.ok() == r.error.has_value()) std::abort();
    if (r.ok() && !quoted)
      for (const StmtPtr& s : r.statements) CheckPrintable(*s);
    if (r.error && (r.error->text.empty() || r.error->line < 1)) std::abort();
  }
  ExprParseResult e = ParseExpression(text, ParseOptions{});
  if (e.expr) {
    std::string printed = ToSql(*e.expr);
    ExprParseResult again = ParseExpression(printed, ParseOptions{});
    if (!again.ok() && again.error->number != 191) std::abort();
    if (again.ok() && ToSql(*again.expr) != printed) std::abort();
  }
  return 0;
}
