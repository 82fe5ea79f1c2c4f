// Splits a Transact-SQL batch into tokens. Lexical errors (unclosed quote, missing end of
// comment, stray characters) become an Error token at the place they occur, so the parser
// reports whichever error comes first in the batch, as the server does.
#pragma once

#include "ast.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sampleserver::sql {

enum class TokenType {
  End,
  Word,            // identifier or keyword (see Token::keyword)
  QuotedIdent,     // "x" with quoted_identifier on
  Variable,        // @x
  GlobalVariable,  // @@x
  Integer,
  Decimal,
  Float,
  Money,
  String,
  Binary,
  Punct,  // ( ) , . ; : = < > <= >= <> != !< !> + - * / % & | ^ ~
  Error,
};

struct Token {
  TokenType type = TokenType::End;
  std::string_view text;  // the source text of the token
  // Word: lower-cased; String/QuotedIdent: the value with quotes undoubled; Money: without '$';
  // Binary: the hex digits without 0x; Error: the error's message text.
  std::string value;
  bool keyword = false;  // a reserved word
  QuoteKind quote = QuoteKind::None;
  int line = 1;
  std::size_t begin = 0;
  std::size_t end = 0;
  int errorNumber = 0;  // Error tokens

  bool IsPunct(std::string_view p) const { return type == TokenType::Punct && text == p; }
  bool IsWord(std::string_view lower) const { return type == TokenType::Word && value == lower; }
};

// True for Sybase's reserved words (lower-case input).
bool IsReservedWord(std::string_view lower);

// Longest identifier the server accepts.
inline constexpr std::size_t kMaxIdentifierLength = 255;

// Tokenises the whole batch. The last token is End, or Error when the batch has a lexical
// error (nothing after it is tokenised).
std::vector<Token> Tokenize(std::string_view batch, bool quotedIdentifier);

}  // namespace sampleserver::sql
