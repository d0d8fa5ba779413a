// The tokenizer of the JSON reader: a state machine over UTF-16 code units that hands out one
// token at a time and keeps the line and column that syntax errors report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessora::json {

enum class TokenKind : std::uint8_t {
  kEnd,  // the text is over (possibly in the middle of a token, which is then dropped)
  kString,
  kInteger,
  kFloat,
  kWord,  // a bare word: text that is neither punctuation nor a literal
  kTrue,
  kFalse,
  kNull,
  kComma,
  kPoint,
  kColon,
  kOpenBracket,
  kCloseBracket,
  kOpenBrace,
  kCloseBrace,
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::u16string text;  // as read, escape sequences decoded (string tokens: without the quotes)
  std::int64_t integer = 0;
  double number = 0;
};

class Tokenizer {
 public:
  // `text` must stay alive while the tokenizer reads it; it ends at its first U+0000.
  explicit Tokenizer(std::u16string_view text);

  // Reads the next token into `token`, reusing its text buffer. Raises "Unexpected token ILLEGAL"
  // and the number conversion failures.
  void Next(Token& token);

  // Raises a syntax error: the message, then the current position.
  [[noreturn]] void Fail(std::u16string_view message) const;

 private:
  void Consume();

  std::u16string_view text_;
  std::size_t pos_ = 0;
  // Line from 1, column from 0; updated as each code unit is consumed. 64 bits so that no text
  // that fits in memory can make them wrap.
  std::int64_t line_ = 1;
  std::int64_t column_ = 0;
};

}  // namespace tessora::json
