#include "json/json_tokenizer.h"

#include <array>
#include <initializer_list>

#include "base/error.h"
#include "base/text.h"
#include "json/json_numbers.h"

namespace tessora::json {

namespace {

enum class State : std::uint8_t {
  kFirst,
  kName,
  kString,
  kString2,
  kInt,
  kDouble,
  kExp,
  kExpPm,
  kExpE
};
constexpr std::size_t kStateCount = 9;

// What the state table distinguishes. Every code unit from U+0080 up counts as U+007F, a letter.
enum class Class : std::uint8_t {
  kBlank,       // U+0009, U+0020
  kLineBreak,   // U+000A, U+000D
  kPunct,       // , : [ ] { }
  kPoint,       // .
  kQuote,       // "
  kApostrophe,  // '
  kLetter,      // A-Z, a-z (but E and e), _, $, U+007F
  kE,           // E, e
  kDigit,       // 0-9
  kMinus,
  kPlus,
  kOther,
  kEnd,  // no code unit left
};
constexpr std::size_t kClassCount = 13;

enum class Action : std::uint8_t {
  kSkip,       // consume
  kAppend,     // append, consume
  kAppendEnd,  // append, consume; the token ends (punctuation or word)
  kSkipEnd,    // consume; the token ends (the closing quote of a string)
  kEnd,        // the token ends here; the code unit is left for the next token
  kNoToken,    // the text is over; a partial token is dropped
  kIllegal,    // "Unexpected token ILLEGAL"
};

struct Step {
  Action action;
  State next;
};

using Row = std::array<Step, kClassCount>;

constexpr std::array<Class, 0x80> MakeClasses() {
  std::array<Class, 0x80> classes{};
  for (Class& c : classes)
    c = Class::kOther;
  classes[0x09] = classes[0x20] = Class::kBlank;
  classes[0x0A] = classes[0x0D] = Class::kLineBreak;
  for (const char c : {',', ':', '[', ']', '{', '}'})
    classes[c] = Class::kPunct;
  classes['.'] = Class::kPoint;
  classes['"'] = Class::kQuote;
  classes['\''] = Class::kApostrophe;
  for (char c = 'A'; c <= 'Z'; ++c)
    classes[c] = classes[c + ('a' - 'A')] = Class::kLetter;
  classes['_'] = classes['$'] = classes[0x7F] = Class::kLetter;
  classes['E'] = classes['e'] = Class::kE;
  for (char c = '0'; c <= '9'; ++c)
    classes[c] = Class::kDigit;
  classes['-'] = Class::kMinus;
  classes['+'] = Class::kPlus;
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
constexpr std::initializer_list<Class> kEndsToken = {Class::kBlank,      Class::kLineBreak,
                                                     Class::kEnd,        Class::kQuote,
                                                     Class::kApostrophe, Class::kPunct};

constexpr std::array<Row, kStateCount> MakeSteps() {
  using enum Class;
  using enum State;
  constexpr Step kIllegal{Action::kIllegal, kFirst};
  constexpr Step kNoToken{Action::kNoToken, kFirst};
  std::array<Row, kStateCount> steps{};

  Row first = Fill(kIllegal);
  first = With(first, {kBlank, kLineBreak}, {Action::kSkip, kFirst});
  first = With(first, {kPunct, kPoint}, {Action::kAppendEnd, kFirst});
  first = With(first, {kLetter, kE}, {Action::kAppend, kName});
  first = With(first, {kQuote}, {Action::kSkip, kString});
  first = With(first, {kApostrophe}, {Action::kSkip, kString2});
  first = With(first, {kDigit, kMinus}, {Action::kAppend, kInt});
  first = With(first, {kEnd}, kNoToken);
  steps[static_cast<std::size_t>(kFirst)] = first;

  Row name = Fill({Action::kAppend, kName});
  name = With(name, kEndsToken, {Action::kEnd, kName});
  name = With(name, {kPoint}, {Action::kEnd, kName});
  steps[static_cast<std::size_t>(kName)] = name;

  Row string = Fill({Action::kAppend, kString});
  string = With(string, {kQuote}, {Action::kSkipEnd, kString});
  string = With(string, {kLineBreak}, kIllegal);
  string = With(string, {kEnd}, kNoToken);
  steps[static_cast<std::size_t>(kString)] = string;

  Row string2 = Fill({Action::kAppend, kString2});
  string2 = With(string2, {kApostrophe}, {Action::kSkipEnd, kString2});
  string2 = With(string2, {kLineBreak}, kIllegal);
  string2 = With(string2, {kEnd}, kNoToken);
  steps[static_cast<std::size_t>(kString2)] = string2;

  Row integer = Fill(kIllegal);
  integer = With(integer, {kDigit}, {Action::kAppend, kInt});
  integer = With(integer, {kPoint}, {Action::kAppend, kDouble});
  integer = With(integer, {kE}, {Action::kAppend, kExp});
  integer = With(integer, kEndsToken, {Action::kEnd, kInt});
  steps[static_cast<std::size_t>(kInt)] = integer;

  Row fraction = Fill(kIllegal);
  fraction = With(fraction, {kDigit}, {Action::kAppend, kDouble});
  fraction = With(fraction, {kE}, {Action::kAppend, kExp});
  fraction = With(fraction, kEndsToken, {Action::kEnd, kDouble});
  fraction = With(fraction, {kPoint}, {Action::kEnd, kDouble});
  steps[static_cast<std::size_t>(kDouble)] = fraction;

  Row exp = Fill(kIllegal);
  exp = With(exp, {kPlus, kMinus}, {Action::kAppend, kExpPm});
  exp = With(exp, {kDigit}, {Action::kAppend, kExpE});
  exp = With(exp, {kEnd}, kNoToken);
  steps[static_cast<std::size_t>(kExp)] = exp;

  Row expSign = Fill(kIllegal);
  expSign = With(expSign, {kDigit}, {Action::kAppend, kExpE});
  expSign = With(expSign, {kEnd}, kNoToken);
  steps[static_cast<std::size_t>(kExpPm)] = expSign;

  Row expDigits = Fill(kIllegal);
  expDigits = With(expDigits, {kDigit}, {Action::kAppend, kExpE});
  expDigits = With(expDigits, kEndsToken, {Action::kEnd, kExpE});
  expDigits = With(expDigits, {kPoint}, {Action::kEnd, kExpE});
  steps[static_cast<std::size_t>(kExpE)] = expDigits;
  return steps;
}

constexpr std::array<Row, kStateCount> kSteps = MakeSteps();

// Runs of code units that a state appends while staying in it are taken in one piece (see
// Tokenizer::Next); the position can then skip ahead because no such run holds a line feed.
constexpr bool LineBreaksEndRuns() {
  for (std::size_t state = 0; state < kStateCount; ++state) {
    const Step step = kSteps[state][static_cast<std::size_t>(Class::kLineBreak)];
    if (step.action == Action::kAppend && static_cast<std::size_t>(step.next) == state)
      return false;
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
      return TokenKind::kComma;
    case u'.':
      return TokenKind::kPoint;
    case u':':
      return TokenKind::kColon;
    case u'[':
      return TokenKind::kOpenBracket;
    case u']':
      return TokenKind::kCloseBracket;
    case u'{':
      return TokenKind::kOpenBrace;
    case u'}':
      return TokenKind::kCloseBrace;
    default:
      break;
  }
  if (SameTextAscii(text, u"TRUE")) return TokenKind::kTrue;
  if (SameTextAscii(text, u"FALSE")) return TokenKind::kFalse;
  if (SameTextAscii(text, u"NULL")) return TokenKind::kNull;
  return TokenKind::kWord;
}

// Gives the token that ends in `state` its kind, converting numbers.
void Finish(State state, Token& token) {
  switch (state) {
    case State::kString:
    case State::kString2:
      token.kind = TokenKind::kString;
      break;
    case State::kInt:
      token.kind = TokenKind::kInteger;
      token.integer = ToInteger(token.text);
      break;
    case State::kDouble:
    case State::kExpE:
      token.kind = TokenKind::kFloat;
      token.number = ToFloat(token.text);
      break;
    default:
      token.kind = Classify(token.text);
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
  token.text.clear();
  State state = State::kFirst;
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
        token.text.push_back(Unescape(escaped));
        continue;
      }
      unsigned value = 0;
      for (int i = 0; i < 4; ++i) {
        if (pos_ == size) {
          token.kind = TokenKind::kEnd;
          return;
        }
        const int digit = HexDigit(text_[pos_]);
        if (digit < 0) Fail(u"Unexpected token ILLEGAL");
        value = value * 16 + static_cast<unsigned>(digit);
        Consume();
      }
      token.text.push_back(static_cast<char16_t>(value));
      continue;
    }

    const Class cls = pos_ < size ? ClassOf(text_[pos_]) : Class::kEnd;
    const Step step = kSteps[static_cast<std::size_t>(state)][static_cast<std::size_t>(cls)];
    switch (step.action) {
      case Action::kSkip:
        Consume();
        break;
      case Action::kAppend: {
        // The code units that follow and that this state would append as well go in one piece.
        std::size_t end = pos_ + 1;
        if (step.next == state) {
          const Row& row = kSteps[static_cast<std::size_t>(state)];
          while (end < size && text_[end] != kBackslash) {
            const Step next = row[static_cast<std::size_t>(ClassOf(text_[end]))];
            if (next.action != Action::kAppend || next.next != state) break;
            ++end;
          }
        }
        token.text.append(text_.data() + pos_, end - pos_);
        // Each consumed code unit but the last is followed by one of the run, never a line feed.
        column_ += static_cast<std::int64_t>(end - pos_ - 1);
        pos_ = end - 1;
        Consume();
        break;
      }
      case Action::kAppendEnd:
        token.text.push_back(text_[pos_]);
        Consume();
        Finish(state, token);
        return;
      case Action::kSkipEnd:
        Consume();
        Finish(state, token);
        return;
      case Action::kEnd:
        Finish(state, token);
        return;
      case Action::kNoToken:
        token.kind = TokenKind::kEnd;
        return;
      case Action::kIllegal:
        Fail(u"Unexpected token ILLEGAL");
    }
    state = step.next;
  }
  token.kind = TokenKind::kEnd;
}

}  // namespace tessora::json
