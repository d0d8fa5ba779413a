#include "json/json_tokenizer.h"

#include <array>
#include <initializer_list>

#include "base/error.h"
#include "base/text.h"
#include "json/json_numbers.h"

namespace tessora::json {

namespace {

enum class State : std::uint8_t { First, Name, String, String2, Int, Double, Exp, ExpPM, ExpE };
constexpr std::size_t kStateCount = 9;

// What the state table distinguishes. Every code unit from U+0080 up counts as U+007F, a letter.
enum class Class : std::uint8_t {
  Blank,       // U+0009, U+0020
  LineBreak,   // U+000A, U+000D
  Punct,       // , : [ ] { }
  Point,       // .
  Quote,       // "
  Apostrophe,  // '
  Letter,      // A-Z, a-z (but E and e), _, $, U+007F
  E,           // E, e
  Digit,       // 0-9
  Minus,
  Plus,
  Other,
  End,  // no code unit left
};
constexpr std::size_t kClassCount = 13;

enum class Action : std::uint8_t {
  Skip,       // consume
  Append,     // append, consume
  AppendEnd,  // append, consume; the token ends (punctuation or word)
  SkipEnd,    // consume; the token ends (the closing quote of a string)
  End,        // the token ends here; the code unit is left for the next token
  NoToken,    // the text is over; a partial token is dropped
  Illegal,    // "Unexpected token ILLEGAL"
};

struct Step {
  Action Do;
  State Next;
};

using Row = std::array<Step, kClassCount>;

constexpr std::array<Class, 0x80> MakeClasses() {
  std::array<Class, 0x80> classes{};
  for (Class& c : classes)
    c = Class::Other;
  classes[0x09] = classes[0x20] = Class::Blank;
  classes[0x0A] = classes[0x0D] = Class::LineBreak;
  for (const char c : {',', ':', '[', ']', '{', '}'})
    classes[c] = Class::Punct;
  classes['.'] = Class::Point;
  classes['"'] = Class::Quote;
  classes['\''] = Class::Apostrophe;
  for (char c = 'A'; c <= 'Z'; ++c)
    classes[c] = classes[c + ('a' - 'A')] = Class::Letter;
  classes['_'] = classes['$'] = classes[0x7F] = Class::Letter;
  classes['E'] = classes['e'] = Class::E;
  for (char c = '0'; c <= '9'; ++c)
    classes[c] = Class::Digit;
  classes['-'] = Class::Minus;
  classes['+'] = Class::Plus;
  return classes;
}

constexpr std::array<Class, 0x80> kClasses = MakeClasses();

Class ClassOf(char16_t unit) {
  return kClasses[unit < 0x80 ? unit : 0x7F];
}

constexpr Row Fill(Step step) {
  Row row{};
  for (Step& s : row)
    s = step;
  return row;
}

constexpr Row With(Row row, std::initializer_list<Class> classes, Step step) {
  for (const Class c : classes)
    row[static_cast<std::size_t>(c)] = step;
  return row;
}

// The code units that end a word or a number without being part of it.
constexpr std::initializer_list<Class> kEndsToken = {Class::Blank, Class::LineBreak,  Class::End,
                                                     Class::Quote, Class::Apostrophe, Class::Punct};

constexpr std::array<Row, kStateCount> MakeSteps() {
  using enum Class;
  using enum State;
  constexpr Step illegal{Action::Illegal, First};
  constexpr Step noToken{Action::NoToken, First};
  std::array<Row, kStateCount> steps{};

  Row first = Fill(illegal);
  first = With(first, {Blank, LineBreak}, {Action::Skip, First});
  first = With(first, {Punct, Point}, {Action::AppendEnd, First});
  first = With(first, {Letter, E}, {Action::Append, Name});
  first = With(first, {Quote}, {Action::Skip, String});
  first = With(first, {Apostrophe}, {Action::Skip, String2});
  first = With(first, {Digit, Minus}, {Action::Append, Int});
  first = With(first, {End}, noToken);
  steps[static_cast<std::size_t>(First)] = first;

  Row name = Fill({Action::Append, Name});
  name = With(name, kEndsToken, {Action::End, Name});
  name = With(name, {Point}, {Action::End, Name});
  steps[static_cast<std::size_t>(Name)] = name;

  Row string = Fill({Action::Append, String});
  string = With(string, {Quote}, {Action::SkipEnd, String});
  string = With(string, {LineBreak}, illegal);
  string = With(string, {End}, noToken);
  steps[static_cast<std::size_t>(String)] = string;

  Row string2 = Fill({Action::Append, String2});
  string2 = With(string2, {Apostrophe}, {Action::SkipEnd, String2});
  string2 = With(string2, {LineBreak}, illegal);
  string2 = With(string2, {End}, noToken);
  steps[static_cast<std::size_t>(String2)] = string2;

  Row integer = Fill(illegal);
  integer = With(integer, {Digit}, {Action::Append, Int});
  integer = With(integer, {Point}, {Action::Append, Double});
  integer = With(integer, {E}, {Action::Append, Exp});
  integer = With(integer, kEndsToken, {Action::End, Int});
  steps[static_cast<std::size_t>(Int)] = integer;

  Row fraction = Fill(illegal);
  fraction = With(fraction, {Digit}, {Action::Append, Double});
  fraction = With(fraction, {E}, {Action::Append, Exp});
  fraction = With(fraction, kEndsToken, {Action::End, Double});
  fraction = With(fraction, {Point}, {Action::End, Double});
  steps[static_cast<std::size_t>(Double)] = fraction;

  Row exp = Fill(illegal);
  exp = With(exp, {Plus, Minus}, {Action::Append, ExpPM});
  exp = With(exp, {Digit}, {Action::Append, ExpE});
  exp = With(exp, {End}, noToken);
  steps[static_cast<std::size_t>(Exp)] = exp;

  Row expSign = Fill(illegal);
  expSign = With(expSign, {Digit}, {Action::Append, ExpE});
  expSign = With(expSign, {End}, noToken);
  steps[static_cast<std::size_t>(ExpPM)] = expSign;

  Row expDigits = Fill(illegal);
  expDigits = With(expDigits, {Digit}, {Action::Append, ExpE});
  expDigits = With(expDigits, kEndsToken, {Action::End, ExpE});
  expDigits = With(expDigits, {Point}, {Action::End, ExpE});
  steps[static_cast<std::size_t>(ExpE)] = expDigits;
  return steps;
}

constexpr std::array<Row, kStateCount> kSteps = MakeSteps();

// Runs of code units that a state appends while staying in it are taken in one piece (see
// Tokenizer::Next); the position can then skip ahead because no such run holds a line feed.
constexpr bool LineBreaksEndRuns() {
  for (std::size_t state = 0; state < kStateCount; ++state) {
    const Step step = kSteps[state][static_cast<std::size_t>(Class::LineBreak)];
    if (step.Do == Action::Append && static_cast<std::size_t>(step.Next) == state) return false;
  }
  return true;
}
static_assert(LineBreaksEndRuns());

constexpr char16_t kBackslash = u'\\';

// The code unit an escape such as \n stands for; every unlisted code unit stands for itself.
char16_t Unescape(char16_t unit) {
  switch (unit) {
    case u'b':
      return u'\b';
    case u'f':
      return u'\f';
    case u'n':
      return u'\n';
    case u'r':
      return u'\r';
    case u't':
      return u'\t';
    case u'v':
      return u'\v';
    default:
      return unit;
  }
}

int HexDigit(char16_t unit) {
  if (unit >= u'0' && unit <= u'9') return unit - u'0';
  if (unit >= u'A' && unit <= u'F') return unit - u'A' + 10;
  if (unit >= u'a' && unit <= u'f') return unit - u'a' + 10;
  return -1;
}

// Punctuation is known by the first code unit of its text (an escape may have put other code units
// after it); other text is a literal, compared without regard to ASCII letter case, or a word.
TokenKind Classify(std::u16string_view text) {
  switch (text.empty() ? u'\0' : text[0]) {
    case u',':
      return TokenKind::Comma;
    case u'.':
      return TokenKind::Point;
    case u':':
      return TokenKind::Colon;
    case u'[':
      return TokenKind::OpenBracket;
    case u']':
      return TokenKind::CloseBracket;
    case u'{':
      return TokenKind::OpenBrace;
    case u'}':
      return TokenKind::CloseBrace;
    default:
      break;
  }
  if (SameTextAscii(text, u"TRUE")) return TokenKind::True;
  if (SameTextAscii(text, u"FALSE")) return TokenKind::False;
  if (SameTextAscii(text, u"NULL")) return TokenKind::Null;
  return TokenKind::Word;
}

// Gives the token that ends in `state` its kind, converting numbers.
void Finish(State state, Token& token) {
  switch (state) {
    case State::String:
    case State::String2:
      token.Kind = TokenKind::String;
      break;
    case State::Int:
      token.Kind = TokenKind::Integer;
      token.Integer = ToInteger(token.Text);
      break;
    case State::Double:
    case State::ExpE:
      token.Kind = TokenKind::Float;
      token.Float = ToFloat(token.Text);
      break;
    default:
      token.Kind = Classify(token.Text);
      break;
  }
}

}  // namespace

Tokenizer::Tokenizer(std::u16string_view text) : text_(text.substr(0, text.find(u'\0'))) {}

// Moves past the current code unit. The position follows the code unit that comes next: a line
// feed there starts a new line at column 1.
void Tokenizer::Consume() {
  ++pos_;
  if (pos_ < text_.size() && text_[pos_] == u'\n') {
    ++line_;
    column_ = 1;
  } else {
    ++column_;
  }
}

void Tokenizer::Fail(std::u16string_view message) const {
  Raise(std::u16string(message) + u". (Line: " + IntToText(line_) + u" Col: " + IntToText(column_) +
        u")");
}

void Tokenizer::Next(Token& token) {
  token.Text.clear();
  State state = State::First;
  const std::size_t size = text_.size();
  for (;;) {
    // Escapes come before the state table, in every state: the decoded code unit joins whatever
    // token is being read, and the state stays.
    if (pos_ < size && text_[pos_] == kBackslash) {
      Consume();
      // A backslash at the very end has nothing to decode: the text is over.
      if (pos_ == size) break;
      const char16_t escaped = text_[pos_];
      Consume();
      if (escaped != u'u') {
        token.Text.push_back(Unescape(escaped));
        continue;
      }
      unsigned value = 0;
      for (int i = 0; i < 4; ++i) {
        if (pos_ == size) {
          token.Kind = TokenKind::End;
          return;
        }
        const int digit = HexDigit(text_[pos_]);
        if (digit < 0) Fail(u"Unexpected token ILLEGAL");
        value = value * 16 + static_cast<unsigned>(digit);
        Consume();
      }
      token.Text.push_back(static_cast<char16_t>(value));
      continue;
    }

    const Class cls = pos_ < size ? ClassOf(text_[pos_]) : Class::End;
    const Step step = kSteps[static_cast<std::size_t>(state)][static_cast<std::size_t>(cls)];
    switch (step.Do) {
      case Action::Skip:
        Consume();
        break;
      case Action::Append: {
        // The code units that follow and that this state would append as well go in one piece.
        std::size_t end = pos_ + 1;
        if (step.Next == state) {
          const Row& row = kSteps[static_cast<std::size_t>(state)];
          while (end < size && text_[end] != kBackslash) {
            const Step next = row[static_cast<std::size_t>(ClassOf(text_[end]))];
            if (next.Do != Action::Append || next.Next != state) break;
            ++end;
          }
        }
        token.Text.append(text_.data() + pos_, end - pos_);
        // Each consumed code unit but the last is followed by one of the run, never a line feed.
        column_ += static_cast<std::int64_t>(end - pos_ - 1);
        pos_ = end - 1;
        Consume();
        break;
      }
      case Action::AppendEnd:
        token.Text.push_back(text_[pos_]);
        Consume();
        Finish(state, token);
        return;
      case Action::SkipEnd:
        Consume();
        Finish(state, token);
        return;
      case Action::End:
        Finish(state, token);
        return;
      case Action::NoToken:
        token.Kind = TokenKind::End;
        return;
      case Action::Illegal:
        Fail(u"Unexpected token ILLEGAL");
    }
    state = step.Next;
  }
  token.Kind = TokenKind::End;
}

}  // namespace tessora::json
