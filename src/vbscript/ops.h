// VBScript's coercion, comparison and arithmetic rules on Values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vbscript/value.h"

namespace corvane::vbs {

// --- Texts. Strings are UTF-8; a character is one code point, and a byte
// that does not start a valid sequence counts as one character of its own.
size_t CharCount(std::string_view s);
size_t CharCount(StrObj* s);
// Byte offset of character `index` (0-based); s.size() when past the end.
size_t ByteOffsetOfChar(std::string_view s, size_t index);
// The code point at byte `pos` and its length in bytes.
uint32_t DecodeChar(std::string_view s, size_t pos, size_t* len);
void AppendCodePoint(std::string& out, uint32_t cp);
// UTF-16 bytes (no byte order mark) as UTF-8; a lone surrogate is kept as
// its own code point.
std::string Utf16ToUtf8(std::string_view bytes, bool little_endian);
// Windows-1252 <-> Unicode for Chr and Asc.
uint32_t AnsiToUnicode(uint8_t c);
int UnicodeToAnsi(uint32_t cp);  // 63 ('?') when there is no ANSI character
std::string LowerText(std::string_view s);
std::string UpperText(std::string_view s);
int CompareText(std::string_view a, std::string_view b, bool ignore_case);
size_t FindText(std::string_view hay, std::string_view needle, size_t from, bool ignore_case);
// One needle searched for again and again in one text (Replace, Split): with
// text compare and a needle beyond ASCII both texts are folded once here,
// not at every search. Positions are those of `hay`, which must outlive it.
class TextSearch {
 public:
  TextSearch(std::string_view hay, std::string_view needle, bool ignore_case)
      : hay_(hay), needle_(needle), ignore_case_(ignore_case) {
    if (ignore_case) FoldBeyondAscii();
  }
  TextSearch(const TextSearch&) = delete;
  TextSearch& operator=(const TextSearch&) = delete;
  size_t Find(size_t from) const;

 private:
  void FoldBeyondAscii();
  std::string folded_hay_, folded_needle_;
  std::string_view hay_, needle_;
  bool ignore_case_;
};

// --- Number texts.
// Reads a whole text as a number the way VBScript's conversions do (blanks
// around it, sign, thousands separators, exponent, &H and &O forms).
std::optional<double> ParseNumber(std::string_view s);
std::string FormatDouble(double d);
std::string FormatSingle(float f);
std::string FormatCurrency(int64_t scaled);
std::string FormatDateValue(double d);
// A number's text ("1.5") with the script locale's decimal sign.
std::string LocalDecimal(std::string text);

// --- Conversions. Each takes ByRef arguments through and reads an object's
// default member; errors are thrown as ScriptError.
Value ToPrimitive(const Value& v);
double ToDouble(const Value& v);
int32_t ToLong(const Value& v);
int16_t ToInteger(const Value& v);
uint8_t ToByte(const Value& v);
bool ToBool(const Value& v);
int64_t ToCurrency(const Value& v);
double ToDate(const Value& v);
std::string ToText(const Value& v);                 // CStr: Null is error 94
void AppendText(std::string& out, const Value& v);  // for &: Null adds nothing
bool IsNumericValue(const Value& v);
// Type Mismatch unless the value is a number (used by math functions).
Value ToNumber(const Value& v);
Object* ToObject(const Value& v);  // error 424 when not an object, 91 for Nothing

int VarType(const Value& v);
std::string TypeNameOf(const Value& v);

// --- Operators.
Value OpAdd(const Value& a, const Value& b);
Value OpSub(const Value& a, const Value& b);
Value OpMul(const Value& a, const Value& b);
Value OpDiv(const Value& a, const Value& b);
Value OpIntDiv(const Value& a, const Value& b);
Value OpMod(const Value& a, const Value& b);
Value OpPow(const Value& a, const Value& b);
Value OpNeg(const Value& a);
Value OpNot(const Value& a);
Value OpAnd(const Value& a, const Value& b);
Value OpOr(const Value& a, const Value& b);
Value OpXor(const Value& a, const Value& b);
Value OpEqv(const Value& a, const Value& b);
Value OpImp(const Value& a, const Value& b);
Value OpConcat(const Value& a, const Value& b);
bool OpIs(const Value& a, const Value& b);

// Which operands of a comparison are written in place (bits): a number
// literal compared with text reads the text as a number (error 13 when it is
// none), a text literal compared with a number compares texts.
enum class Literal : uint8_t { kNone = 0, kLeft = 1, kRight = 2 };
constexpr int kCompareNull = 2;
// -1, 0 or 1, or kCompareNull when either side is Null.
int CompareValues(const Value& a, const Value& b, bool ignore_case = false,
                  Literal lit = Literal::kNone);
// Equality as Dictionary keys and Filter see it.
bool SameKey(const Value& a, const Value& b, bool ignore_case);

// An element of an array, checking bounds; error 9 otherwise.
Value& ArrayElement(ArrayObj* a, const Value* subs, int n);
// Makes the array a variable holds its own (copy on write).
ArrayObj* UniqueArray(Value& v);

// Limits against scripts that build huge values (error 7 beyond them).
struct Limits {
  size_t max_string_bytes = size_t{256} << 20;
  size_t max_array_elements = size_t{32} << 20;
};
Limits& CurrentLimits();
void CheckStringSize(size_t bytes);

}  // namespace corvane::vbs
