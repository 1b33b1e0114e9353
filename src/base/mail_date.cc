#include "base/mail_date.h"

#include <algorithm>

#include "base/text.h"

namespace plenvar {
namespace {

constexpr std::string_view kDayNames[] = {"MON", "TUE", "WED", "THU", "FRI", "SAT", "SUN"};
constexpr std::string_view kMonthNames[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                            "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool SameLetters(std::string_view word, std::string_view upper) {
  if (word.size() != upper.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (AsciiUpper(word[i]) != upper[i]) return false;
  return true;
}

// A cursor over a field body. Folding is white space here: the field's
// extent was found by its reader, so a line end inside it is always a fold.
class DateText {
 public:
  explicit DateText(std::string_view text) : text_(text) {}

  bool AtEnd() const { return at_ == text_.size(); }

  // Skips white space and comments; false on a comment without its end.
  bool SkipSpace() {
    while (at_ < text_.size()) {
      char c = text_[at_];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        ++at_;
      } else if (c == '(') {
        if (!SkipComment()) return false;
      } else {
        break;
      }
    }
    return true;
  }

  bool Take(char c) {
    if (at_ == text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }

  std::string_view Word() {
    std::size_t start = at_;
    while (at_ < text_.size() && IsLetter(text_[at_])) ++at_;
    return text_.substr(start, at_ - start);
  }

  // The digits here, at most `most` of them read into *value; how many there
  // were, all counted, so that a run too long for its field is seen.
  std::size_t Digits(std::size_t most, std::int64_t* value) {
    std::size_t start = at_;
    *value = 0;
    while (at_ < text_.size() && IsDigit(text_[at_])) {
      if (at_ - start < most) *value = *value * 10 + (text_[at_] - '0');
      ++at_;
    }
    return at_ - start;
  }

  bool NextIsLetter() const { return at_ < text_.size() && IsLetter(text_[at_]); }
  bool NextIsDigit() const { return at_ < text_.size() && IsDigit(text_[at_]); }

 private:
  // Comments nest, and a backslash takes the next character as it is.
  bool SkipComment() {
    int depth = 0;
    while (at_ < text_.size()) {
      char c = text_[at_++];
      if (c == '\\') {
        if (at_ < text_.size()) ++at_;
      } else if (c == '(') {
        ++depth;
      } else if (c == ')') {
        if (--depth == 0) return true;
      }
    }
    return false;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yoe = year - era * 400;
  const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int DaysInMonth(std::int64_t year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// The zone's offset east of UTC in minutes. Names other than the ones mail
// defined, military letters among them, tell nothing: -0000.
int NamedZone(std::string_view name) {
  static constexpr struct {
    std::string_view name;
    int hours;
  } kNamed[] = {{"UT", 0},   {"GMT", 0},  {"EST", -5}, {"EDT", -4}, {"CST", -6},
                {"CDT", -5}, {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
  for (const auto& zone : kNamed) {
    // cppcheck-suppress useStlAlgorithm
    if (SameLetters(name, zone.name)) return zone.hours * 60;
  }
  return 0;
}

}  // namespace

std::optional<std::int64_t> ParseMailDate(std::string_view text) {
  DateText t(text);
  if (!t.SkipSpace()) return std::nullopt;
  if (t.NextIsLetter()) {
    std::string_view day = t.Word();
    bool known = false;
    for (std::string_view name : kDayNames) known = known || SameLetters(day, name);
    if (!known || !t.SkipSpace() || !t.Take(',') || !t.SkipSpace()) return std::nullopt;
  }

  std::int64_t day = 0;
  std::size_t dayDigits = t.Digits(2, &day);
  if (dayDigits < 1 || dayDigits > 2 || !t.SkipSpace()) return std::nullopt;
  std::string_view monthName = t.Word();
  int month = 0;
  for (int m = 0; m < 12; ++m)
    if (SameLetters(monthName, kMonthNames[m])) month = m + 1;
  if (month == 0 || !t.SkipSpace()) return std::nullopt;

  // Two-digit years from 50 are 1950 on and below 50 are 2000 on; three
  // digits count from 1900.
  std::int64_t year = 0;
  std::size_t yearDigits = t.Digits(9, &year);
  if (yearDigits < 2) return std::nullopt;
  if (yearDigits == 2) year += year < 50 ? 2000 : 1900;
  if (yearDigits == 3) year += 1900;
  bool yearTooLate = yearDigits > 9 || year > 9999;
  if (year < 1900 || !t.SkipSpace()) return std::nullopt;

  std::int64_t hour = 0, minute = 0, second = 0;
  if (t.Digits(3, &hour) != 2 || !t.SkipSpace() || !t.Take(':') || !t.SkipSpace() ||
      t.Digits(3, &minute) != 2 || !t.SkipSpace())
    return std::nullopt;
  if (t.Take(':')) {
    if (!t.SkipSpace() || t.Digits(3, &second) != 2 || !t.SkipSpace()) return std::nullopt;
  }
  if (day > DaysInMonth(yearTooLate ? 2000 : year, month) || day < 1 || hour > 23 || minute > 59 ||
      second > 60)
    return std::nullopt;

  int offset = 0;
  if (t.NextIsLetter()) {
    offset = NamedZone(t.Word());
  } else {
    int sign = t.Take('+') ? 1 : t.Take('-') ? -1 : 0;
    std::int64_t zone = 0;
    if (sign == 0 || t.Digits(5, &zone) != 4 || zone % 100 > 59) return std::nullopt;
    offset = sign * static_cast<int>(zone / 100 * 60 + zone % 100);
    // A zone's name after its number, as many servers wrote it ("+0100 MET"),
    // adds nothing the number does not say.
    if (!t.SkipSpace()) return std::nullopt;
    t.Word();
  }
  if (!t.SkipSpace() || !t.AtEnd()) return std::nullopt;

  if (yearTooLate) return kLatestMailTime;
  std::int64_t seconds = DaysFromCivil(year, month, static_cast<int>(day)) * 86400 + hour * 3600 +
                         minute * 60 + second - std::int64_t{offset} * 60;
  return std::clamp<std::int64_t>(seconds, 0, kLatestMailTime);
}

}  // namespace plenvar
