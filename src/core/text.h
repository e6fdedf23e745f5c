// Small text helpers shared by every module: case folding, trimming,
// splitting, and the number readings the program's texts use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

class EventLog;

std::string ToLower(std::string_view s);
std::string ToUpper(std::string_view s);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::string_view s, std::string_view prefix);
// Position of `needle` in `s` ignoring letter case, or npos.
size_t FindIgnoreCase(std::string_view s, std::string_view needle, size_t from = 0);
// Case-insensitive ordering (ASCII), for sorted case-insensitive maps.
int CompareIgnoreCase(std::string_view a, std::string_view b);
struct LessIgnoreCase {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const {
    return CompareIgnoreCase(a, b) < 0;
  }
};

// Removes spaces only (not tabs), as the program's texts are trimmed.
std::string_view TrimSpaces(std::string_view s);
// Removes spaces, tabs, CR and LF.
std::string_view TrimWhite(std::string_view s);

// Splits at every occurrence of `sep`; an empty text gives one empty piece.
std::vector<std::string> Split(std::string_view s, std::string_view sep);
std::vector<std::string> Split(std::string_view s, char sep);
std::string Join(const std::vector<std::string>& parts, std::string_view sep);
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);
// Removes every occurrence of `c`.
std::string RemoveChar(std::string_view s, char c);
// Text for HTML: "&", "<", ">", "'" and '"' written as entities, so it can
// stand in an element or in a quoted attribute.
std::string HtmlEscape(std::string_view s);

// Outside text as it goes into a log line: every control character (below
// 0x20, and 0x7F: line ends, a terminal's escape sequences) shown as "?",
// cut to `max_chars` with "..." appended when longer. One line, never a
// forged second entry.
std::string Printable(std::string_view s, size_t max_chars = std::string_view::npos);
// Printable text in single quotes, for reports that show a value as given.
std::string Quoted(std::string_view s, size_t max_chars = std::string_view::npos);

// The leading numeric value of a text, as the standard leading-number parse
// reads it: blanks are skipped, then an optional sign, digits, a decimal
// point and an exponent; "&H" and "&O" read hexadecimal and octal. Text
// without a number gives 0.
double LeadingNumber(std::string_view s);

// True when the whole text (surrounding blanks allowed) is a number.
bool IsNumeric(std::string_view s);

// Rounds to the nearest integer, halves to even.
double RoundHalfEven(double v);

// A 16-bit conversion: nearest integer, halves to even; nothing when out of
// range -32768..32767 or not finite.
std::optional<int16_t> ToInt16(double v);
// A 32-bit conversion likewise.
std::optional<int32_t> ToInt32(double v);

// A number as the program writes it: integers without a decimal point, other
// values with up to 15 significant digits, no trailing zeros, and exponent
// form ("1E+16", "1E-05") outside the plain range.
std::string NumberText(double v);
// A number printf wrote with %G, its exponent (if any) as NumberText writes
// it: a sign and at least two digits ("1E+16", "1.5E-05", not "1E+016").
std::string TrimExponent(std::string g_text);

// Two upper-case hexadecimal digits for 0..255, "00" for any other value
// (every number in a controller command and every record key is written so).
std::string ToHex(long value);
// 1 to 4 hexadecimal digits (either letter case) as a number 0..65535; -1
// for an empty text, a longer one or one holding anything else. The reader
// for controller bytes, where anything but a hex digit is a broken field.
int HexValue(std::string_view s);

// The reader of record numbers in xAP commands: a text of 1 to 4 characters
// is padded on the left with "0" to four, upper-cased and read digit by
// digit as value * 16 + d, where d is 0..9 for a digit and the character's
// code minus the code of "A" plus 10 for anything else (so "A".."F" give
// 10..15 and "G" continues with 16). -1 for an empty or longer text, and -1
// (reported to `log` as "FromHex" when given) for a value outside the 16-bit
// range.
int FromHex(std::string_view s, EventLog* log = nullptr);

// The text as a JSON string literal, quotes included. Well-formed UTF-8 is
// kept; every control character and every other byte from 0x7f up is written
// as \u00XX, that is read as Latin-1: controller bytes and names typed into
// INI files by Windows editors then show as the characters they were.
std::string JsonString(std::string_view text);

}  // namespace corvane
