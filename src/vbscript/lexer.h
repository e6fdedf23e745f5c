// Splits VBScript text into tokens. Keywords are recognised without regard to
// case; line continuations and comments are dropped here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vbscript/value.h"

namespace corvane::vbs {

enum class Kw : uint8_t {
  kNone,
  kAnd,
  kByRef,
  kByVal,
  kCall,
  kCase,
  kClass,
  kConst,
  kDefault,
  kDim,
  kDo,
  kEach,
  kElse,
  kElseIf,
  kEmpty,
  kEnd,
  kEqv,
  kErase,
  kError,
  kExit,
  kExplicit,
  kFalse,
  kFor,
  kFunction,
  kGet,
  kGoTo,
  kIf,
  kImp,
  kIn,
  kIs,
  kLet,
  kLoop,
  kMe,
  kMod,
  kNew,
  kNext,
  kNot,
  kNothing,
  kNull,
  kOn,
  kOption,
  kOr,
  kPreserve,
  kPrivate,
  kProperty,
  kPublic,
  kReDim,
  kResume,
  kSelect,
  kSet,
  kStep,
  kStop,
  kSub,
  kThen,
  kTo,
  kTrue,
  kUntil,
  kWend,
  kWhile,
  kWith,
  kXor,
};

enum class TokKind : uint8_t {
  kEnd,
  kNewline,
  kColon,
  kIdent,  // also keywords: see Token::kw
  kNumber,
  kString,
  kDate,
  kPlus,
  kMinus,
  kStar,
  kSlash,
  kBackslash,
  kCaret,
  kAmp,
  kEq,
  kNe,
  kLt,
  kGt,
  kLe,
  kGe,
  kLParen,
  kRParen,
  kComma,
  kDot,
};

struct Token {
  TokKind kind = TokKind::kEnd;
  Kw kw = Kw::kNone;
  bool space_before = false;
  int line = 1;
  int col = 1;
  std::string text;  // identifier as written; the literal's source text
  Value value;       // number, string and date literals
};

// Throws ScriptError (compilation) for text that cannot be split.
std::vector<Token> Tokenize(std::string_view src);

// Keywords that are never names of variables or procedures.
bool IsReservedKeyword(Kw kw);

}  // namespace corvane::vbs
