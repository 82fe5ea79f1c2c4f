#include "lexer.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace sampleserver::sql {
namespace {

// Sybase's reserved words, sorted for binary search. Words that are only special in one
// statement (level, isolation, output, ...) are left out when the server accepts them as names.
// clang-format off
constexpr std::string_view kReserved[] = {
    "add", "all", "alter", "and", "any", "arith_overflow", "as", "asc", "at", "authorization",
    "avg", "begin", "between", "break", "browse", "bulk", "by", "cascade", "case", "char_convert",
    "check", "checkpoint", "close", "clustered", "coalesce", "commit", "compute", "confirm",
    "connect", "constraint", "continue", "controlrow", "convert", "count", "create", "current",
    "cursor", "database", "dbcc", "deallocate", "declare", "default", "delete", "desc",
    "deterministic", "disk", "distinct", "double", "drop", "dummy", "dump", "else", "end",
    "endtran", "errlvl", "errordata", "errorexit", "escape", "except", "exclusive", "exec",
    "execute", "exists", "exit", "exp_row_size", "external", "fetch", "fillfactor", "for",
    "foreign", "from", "goto", "grant", "group", "having", "holdlock", "identity", "identity_gap",
    "identity_insert", "identity_start", "if", "in", "index", "insert", "install", "intersect",
    "into", "is", "isolation", "jar", "join", "key", "kill", "level", "like", "lineno", "load",
    "lock", "max", "max_rows_per_page", "min", "mirror", "mirrorexit", "modify", "national",
    "noholdlock", "nonclustered", "not", "null", "nullif", "numeric_truncation", "of", "off",
    "offsets", "on", "once", "online", "only", "open", "option", "or", "order", "out", "output",
    "over", "partition", "perm", "permanent", "plan", "prepare", "primary", "print", "privileges",
    "proc", "procedure", "processexit", "proxy_table", "public", "quiesce", "raiserror", "read",
    "readpast", "readtext", "reconfigure", "references", "remove", "reorg", "replace",
    "replication", "reservepagegap", "return", "returns", "revoke", "role", "rollback", "rowcount",
    "rows", "rule", "save", "schema", "select", "set", "setuser", "shared", "shutdown", "some",
    "statistics", "stringsize", "stripe", "sum", "syb_identity", "syb_restree", "syb_terminate",
    "table", "temp", "temporary", "textsize", "to", "tran", "transaction", "trigger", "truncate",
    "tsequal", "union", "unique", "unpartition", "update", "use", "user", "user_option", "using",
    "values", "varying", "view", "waitfor", "when", "where", "while", "with", "work", "writetext",
};
// clang-format on

bool IsSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsHex(unsigned char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsAlpha(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c >= 0x80;
}
bool IsWordStart(unsigned char c) { return IsAlpha(c) || c == '_' || c == '#'; }
bool IsWordChar(unsigned char c) {
  return IsAlpha(c) || IsDigit(c) || c == '_' || c == '$' || c == '#' || c == '@';
}
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

class Lexer {
 public:
  Lexer(std::string_view src, bool quotedIdentifier) : s_(src), quoted_(quotedIdentifier) {}

  std::vector<Token> Run() {
    std::vector<Token> out;
    out.reserve(s_.size() / 4 + 4);
    for (;;) {
      if (!SkipSpaceAndComments(out)) return out;
      if (pos_ >= s_.size()) break;
      out.push_back(Next());
      if (out.back().type == TokenType::Error) return out;
    }
    Token end;
    end.type = TokenType::End;
    end.line = line_;
    end.begin = end.end = s_.size();
    out.push_back(std::move(end));
    return out;
  }

 private:
  unsigned char At(std::size_t i) const {
    return i < s_.size() ? static_cast<unsigned char>(s_[i]) : 0;
  }

  void Advance(std::size_t n) {
    for (std::size_t i = 0; i < n && pos_ < s_.size(); ++i) {
      if (s_[pos_] == '\n') ++line_;
      ++pos_;
    }
  }

  static Token ErrorToken(int number, std::string text, int line, std::size_t at) {
    Token t;
    t.type = TokenType::Error;
    t.errorNumber = number;
    t.value = std::move(text);
    t.line = line;
    t.begin = t.end = at;
    return t;
  }

  // Returns false after pushing an Error token (unterminated comment).
  bool SkipSpaceAndComments(std::vector<Token>& out) {
    while (pos_ < s_.size()) {
      unsigned char c = At(pos_);
      if (IsSpace(c)) {
        Advance(1);
      } else if (c == '-' && At(pos_ + 1) == '-') {
        while (pos_ < s_.size() && s_[pos_] != '\n') ++pos_;
      } else if (c == '/' && At(pos_ + 1) == '*') {
        // Comments nest: each /* needs its own */.
        int startLine = line_;
        std::size_t start = pos_;
        Advance(2);
        int depth = 1;
        while (depth > 0 && pos_ < s_.size()) {
          if (s_[pos_] == '/' && At(pos_ + 1) == '*') {
            ++depth;
            Advance(2);
          } else if (s_[pos_] == '*' && At(pos_ + 1) == '/') {
            --depth;
            Advance(2);
          } else {
            Advance(1);
          }
        }
        if (depth > 0) {
          out.push_back(ErrorToken(113, "Missing end comment mark '*/'.", startLine, start));
          return false;
        }
      } else {
        break;
      }
    }
    return true;
  }

  Token Make(TokenType type, std::size_t begin, int line) {
    Token t;
    t.type = type;
    t.begin = begin;
    t.end = pos_;
    t.line = line;
    t.text = s_.substr(begin, pos_ - begin);
    return t;
  }

  Token Next() {
    const std::size_t begin = pos_;
    const int line = line_;
    const unsigned char c = At(pos_);

    if (c == '\'' || c == '"') return Quoted(begin, line, static_cast<char>(c));
    if (c == '[') return Bracketed(begin, line);
    // N'...': a national character literal, which is plain text here (everything is UTF-8).
    if ((c == 'N' || c == 'n') && At(pos_ + 1) == '\'') {
      Advance(1);
      Token t = Quoted(pos_, line, '\'');
      if (t.type == TokenType::String) {
        t.begin = begin;
        t.text = s_.substr(begin, pos_ - begin);
      }
      return t;
    }

    if (c == '0' && (At(pos_ + 1) == 'x' || At(pos_ + 1) == 'X')) {
      Advance(2);
      while (IsHex(At(pos_))) Advance(1);
      Token t = Make(TokenType::Binary, begin, line);
      t.value = std::string(t.text.substr(2));
      return t;
    }
    if (IsDigit(c) || (c == '.' && IsDigit(At(pos_ + 1)))) {
      Token t = Number(begin, line);
      return t;
    }
    if (c == '$') {
      std::size_t p = pos_ + 1;
      if (At(p) == '+' || At(p) == '-') ++p;
      if (IsDigit(At(p)) || (At(p) == '.' && IsDigit(At(p + 1)))) {
        Advance(p - pos_);
        Token n = Number(pos_, line);
        Token t = Make(TokenType::Money, begin, line);
        t.value = std::string(s_.substr(begin + 1, pos_ - begin - 1));
        if (t.value[0] == '+') t.value.erase(0, 1);
        (void)n;
        return t;
      }
      Advance(1);
      return Make(TokenType::Punct, begin, line);
    }
    if (c == '@') {
      bool global = At(pos_ + 1) == '@';
      Advance(global ? 2 : 1);
      std::size_t nameStart = pos_;
      while (IsWordChar(At(pos_))) Advance(1);
      if (pos_ == nameStart) return Make(TokenType::Punct, begin, line);  // a lone '@'
      Token t = Make(global ? TokenType::GlobalVariable : TokenType::Variable, begin, line);
      if (t.text.size() > kMaxIdentifierLength) return TooLong(t);
      t.value.reserve(t.text.size());
      for (char ch : t.text) t.value.push_back(Lower(ch));
      return t;
    }
    if (IsWordStart(c)) {
      while (IsWordChar(At(pos_))) Advance(1);
      Token t = Make(TokenType::Word, begin, line);
      if (t.text.size() > kMaxIdentifierLength) return TooLong(t);
      t.value.reserve(t.text.size());
      for (char ch : t.text) t.value.push_back(Lower(ch));
      t.keyword = IsReservedWord(t.value);
      return t;
    }

    // Operators: the two-character ones first.
    static constexpr std::string_view kTwo[] = {"<=", ">=", "<>", "!=", "!<", "!>"};
    for (std::string_view op : kTwo) {
      if (s_.substr(pos_, 2) == op) {
        Advance(2);
        return Make(TokenType::Punct, begin, line);
      }
    }
    // Anything else is a one-character token; the parser rejects the ones it has no use for
    // (']', '{', '?', '!', control bytes, ...) with "Incorrect syntax near".
    Advance(1);
    return Make(TokenType::Punct, begin, line);
  }

  Token TooLong(const Token& t) {
    std::string msg = "The identifier that starts with '";
    msg.append(t.text.substr(0, 30));
    msg += "' is too long. Maximum length is " + std::to_string(kMaxIdentifierLength) + ".";
    return ErrorToken(103, std::move(msg), t.line, t.begin);
  }

  Token Number(std::size_t begin, int line) {
    bool fraction = false;
    bool exponent = false;
    while (IsDigit(At(pos_))) Advance(1);
    if (At(pos_) == '.') {
      fraction = true;
      Advance(1);
      while (IsDigit(At(pos_))) Advance(1);
    }
    if (At(pos_) == 'e' || At(pos_) == 'E') {
      std::size_t p = pos_ + 1;
      if (At(p) == '+' || At(p) == '-') ++p;
      if (IsDigit(At(p))) {
        exponent = true;
        Advance(p - pos_);
        while (IsDigit(At(pos_))) Advance(1);
      }
    }
    Token t = Make(exponent   ? TokenType::Float
                   : fraction ? TokenType::Decimal
                              : TokenType::Integer,
                   begin, line);
    t.value = std::string(t.text);
    return t;
  }

  Token Quoted(std::size_t begin, int line, char q) {
    Advance(1);
    std::string value;
    for (;;) {
      if (pos_ >= s_.size()) {
        std::string msg = "Unclosed quote before the character string '";
        msg += value;
        msg += "'.";
        return ErrorToken(105, std::move(msg), line, begin);
      }
      std::size_t next = s_.find(q, pos_);
      if (next == std::string_view::npos) {
        value.append(s_.substr(pos_));
        Advance(s_.size() - pos_);
        continue;
      }
      value.append(s_.substr(pos_, next - pos_));
      Advance(next - pos_ + 1);
      if (At(pos_) == static_cast<unsigned char>(q)) {  // a doubled quote stands for one
        value.push_back(q);
        Advance(1);
        continue;
      }
      break;
    }
    Token t;
    if (q == '"' && quoted_) {
      t = Make(TokenType::QuotedIdent, begin, line);
      if (value.size() > kMaxIdentifierLength) return TooLong(t);
      if (value.empty()) {  // "" is not a name
        t.type = TokenType::Punct;
        return t;
      }
    } else {
      t = Make(TokenType::String, begin, line);
    }
    t.quote = q == '"' ? QuoteKind::Double : QuoteKind::Single;
    t.value = std::move(value);
    return t;
  }

  // [name] is a delimited identifier whatever quoted_identifier says (clients quote database
  // names this way for servers of version 15 and later); "]]" stands for one ']'.
  Token Bracketed(std::size_t begin, int line) {
    Advance(1);
    std::string value;
    for (;;) {
      std::size_t next = s_.find(']', pos_);
      if (next == std::string_view::npos) {
        value.append(s_.substr(pos_));
        Advance(s_.size() - pos_);
        std::string msg = "Unclosed quote before the character string '";
        msg += value;
        msg += "'.";
        return ErrorToken(105, std::move(msg), line, begin);
      }
      value.append(s_.substr(pos_, next - pos_));
      Advance(next - pos_ + 1);
      if (At(pos_) != ']') break;
      value.push_back(']');
      Advance(1);
    }
    Token t = Make(TokenType::QuotedIdent, begin, line);
    if (value.size() > kMaxIdentifierLength) return TooLong(t);
    if (value.empty())
      t.type = TokenType::Punct;  // [] is not a name
    else
      t.value = std::move(value);
    return t;
  }

  std::string_view s_;
  bool quoted_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

}  // namespace

bool IsReservedWord(std::string_view lower) {
  return std::binary_search(std::begin(kReserved), std::end(kReserved), lower);
}

std::vector<Token> Tokenize(std::string_view batch, bool quotedIdentifier) {
  return Lexer(batch, quotedIdentifier).Run();
}

}  // namespace sampleserver::sql
