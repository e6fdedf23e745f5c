// Turns syntax trees into procedures of bytecode: names are resolved to
// local slots, fields of the class, module slots or built-in functions.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vbscript/ast.h"
#include "vbscript/runtime.h"

namespace corvane::vbs {

// Declares the program's classes, procedures and global names in `module`,
// compiles them and gives the top-level code as a procedure to run.
std::shared_ptr<Proc> CompileProgram(Vm& vm, Module& module, ProgramAst& ast);

// Code run by Execute or Eval inside a procedure: the caller's local names
// become ByRef parameters in the order of `outer->local_names`, then the
// variables earlier Execute code made in the caller's frame (`vars`, may be
// null); the class of `outer` (if any) gives Me and fields. `expr` set: an
// Eval expression.
std::shared_ptr<Proc> CompileSnippet(Vm& vm, Module& module, const Proc* outer,
                                     const FrameVars* vars, ProgramAst* ast, Expr* expr);

}  // namespace corvane::vbs
