// Run-time and compilation errors: the VBScript error numbers and their texts.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace corvane::vbs {

// Run-time error numbers scripts test for.
enum ErrorNumber : int32_t {
  kErrInvalidCall = 5,
  kErrOverflow = 6,
  kErrOutOfMemory = 7,
  kErrSubscript = 9,
  kErrArrayLocked = 10,
  kErrDivByZero = 11,
  kErrTypeMismatch = 13,
  kErrOutOfStack = 28,
  kErrNotDefined = 35,
  kErrBadFileMode = 54,
  kErrFileNotFound = 53,
  kErrFileExists = 58,
  kErrPastEnd = 62,
  kErrPermission = 70,
  kErrPathFileAccess = 75,
  kErrPathNotFound = 76,
  kErrObjectNotSet = 91,
  kErrForNotInit = 92,
  kErrInvalidNull = 94,
  kErrObjectRequired = 424,
  kErrCantCreate = 429,
  kErrNoMember = 438,
  kErrArgNotOptional = 449,
  kErrWrongArgs = 450,
  kErrNotCollection = 451,
  kErrKeyExists = 457,
  kErrUndefined = 500,
  kErrIllegalAssign = 501,
  kErrClassNotDefined = 506,
  kErrElementNotFound = 32811,
  kErrRegexSyntax = 5017,
  // Compilation errors.
  kErrSyntax = 1002,
  kErrExpectedColon = 1003,
  kErrExpectedLParen = 1005,
  kErrExpectedRParen = 1006,
  kErrExpectedIdent = 1010,
  kErrExpectedEquals = 1011,
  kErrExpectedIf = 1012,
  kErrExpectedTo = 1013,
  kErrExpectedEnd = 1014,
  kErrExpectedFunction = 1015,
  kErrExpectedSub = 1016,
  kErrExpectedThen = 1017,
  kErrExpectedWend = 1018,
  kErrExpectedLoop = 1019,
  kErrExpectedNext = 1020,
  kErrExpectedCase = 1021,
  kErrExpectedSelect = 1022,
  kErrExpectedExpression = 1023,
  kErrExpectedStatement = 1024,
  kErrExpectedEndOfStatement = 1025,
  kErrExpectedInteger = 1026,
  kErrExpectedWhileUntil = 1027,
  kErrExpectedWith = 1029,
  kErrInvalidNumber = 1031,
  kErrInvalidChar = 1032,
  kErrUnterminatedString = 1033,
  kErrInvalidMe = 1037,
  kErrLoopWithoutDo = 1038,
  kErrInvalidExit = 1039,
  kErrInvalidForVar = 1040,
  kErrNameRedefined = 1041,
  kErrParensOnSub = 1044,
  kErrExpectedLiteral = 1045,
  kErrExpectedIn = 1046,
  kErrExpectedClass = 1047,
  kErrExpectedPropertyKind = 1049,
  kErrExpectedProperty = 1050,
  kErrPropertyArgCount = 1051,
  kErrMultipleDefault = 1052,
  kErrInitTermArgs = 1053,
  kErrPropertyArgs = 1054,
  kErrUnexpectedNext = 1055,
  kErrDefaultPlacement = 1056,
  kErrDefaultPublic = 1057,
  kErrDefaultOnGet = 1058,
  // The engine's time-out (E_ABORT); On Error Resume Next does not catch it.
  kErrTimeout = static_cast<int32_t>(0x80004004),
};

inline constexpr std::string_view kRuntimeSource = "Microsoft VBScript runtime error";
inline constexpr std::string_view kCompileSource = "Microsoft VBScript compilation error";

// The standard text of an error number ("" when there is none).
std::string_view ErrorText(int32_t number);

// An error raised by a script, by the engine or by an object. `line` and
// `column` (1-based) are filled in by the engine where the error happened;
// `line_text` holds the source line of a compilation error.
struct ScriptError : std::runtime_error {
  int32_t number;
  std::string description;
  std::string source;
  std::string module;
  std::string name;  // the name the error is about, shown after the text
  int line = 0;
  int column = 0;
  std::string line_text;
  std::string help_file;  // Err.Raise's help arguments, kept for Err
  int32_t help_context = 0;
  bool compile = false;
  ScriptError(int32_t n, std::string desc, std::string src)
      : std::runtime_error(desc), number(n), description(std::move(desc)), source(std::move(src)) {}
  // The text a host shows: "Microsoft VBScript runtime error: Type mismatch:
  // 'Foo'" (the source, the description and the name when there is one).
  std::string Message() const;
  // The description with the name: "Type mismatch: 'Foo'".
  std::string FullDescription() const;
};

// The number scripts see for an error: VBScript's own HRESULTs (0x800Axxxx)
// are their low word, the common system HRESULTs map to the matching
// run-time error (E_OUTOFMEMORY is 7), any other number stays as it is.
int32_t ErrorNumberOf(int32_t number);

// Throws run-time error `number` with its standard text.
[[noreturn]] void Throw(int32_t number);
// Throws with a text of its own.
[[noreturn]] void Throw(int32_t number, std::string description);
// Throws error `number` about `name` ("Variable is undefined: 'x'").
[[noreturn]] void ThrowNamed(int32_t number, std::string_view name);
// Throws a compilation error at a position.
[[noreturn]] void ThrowSyntax(int32_t number, int line, int column);

}  // namespace corvane::vbs
