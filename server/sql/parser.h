// Parses one Transact-SQL batch into statements (ast.h). Like the server, it parses the whole
// batch before anything runs: a syntax error anywhere yields that one error and no statements.
#pragma once

#include "ast.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sampleserver::sql {

struct ParseOptions {
  // set quoted_identifier on: "x" is an identifier instead of a string literal.
  bool quotedIdentifier = false;
  // Deeper nesting of expressions, subqueries or blocks is refused with a syntax error rather
  // than risking the stack.
  int maxDepth = 200;
};

// A syntax error as the server reports it: 102 "Incorrect syntax near '%.*s'.",
// 156 "Incorrect syntax near the keyword '%.*s'.", 105 "Unclosed quote before the character
// string '%.*s'.", 113 "Missing end comment mark '*/'.", 103 for an over-long identifier.
struct ParseError {
  int number = 102;
  int severity = 15;
  int state = 1;
  std::string text;  // complete, without a trailing newline
  int line = 1;      // 1-based within the batch
};

struct ParseResult {
  std::vector<StmtPtr> statements;  // empty when error is set
  std::optional<ParseError> error;

  bool ok() const { return !error.has_value(); }
};

ParseResult Parse(std::string_view batch, const ParseOptions& options = {});

struct ExprParseResult {
  ExprPtr expr;  // null when error is set
  std::optional<ParseError> error;

  bool ok() const { return !error.has_value(); }
};

// Parses a single expression (the text of a default, rule or check constraint as stored);
// the whole text must be one expression.
ExprParseResult ParseExpression(std::string_view text, const ParseOptions& options = {});

}  // namespace sampleserver::sql
