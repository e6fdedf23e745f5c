// Builds the syntax tree of a piece of VBScript text.
#pragma once

#include <string_view>

#include "vbscript/ast.h"

namespace corvane::vbs {

enum class ParseMode {
  kProgram,     // a module's code or ExecuteGlobal / Execute text
  kExpression,  // Eval text
};

// Throws ScriptError (a compilation error with line and column) on bad text.
ProgramAst ParseProgram(std::string_view src);
ExprPtr ParseExpressionText(std::string_view src);

}  // namespace corvane::vbs
