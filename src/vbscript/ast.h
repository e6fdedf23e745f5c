// The syntax tree the parser builds and the compiler turns into code. Expr
// and Stmt are plain nodes with a kind tag, the fields that kind uses and
// owned children; a Block is a list of statements. Every node keeps its line
// and column, for error positions. ProgramAst is a piece of text: its top-level
// code, its procedures (ProcDef) and classes (ClassDef), kept apart because
// they are declared before the top-level code runs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vbscript/value.h"

namespace corvane::vbs {

enum class Op : uint8_t {
  kAdd,
  kSub,
  kMul,
  kDiv,
  kIntDiv,
  kMod,
  kPow,
  kConcat,
  kEq,
  kNe,
  kLt,
  kLe,
  kGt,
  kGe,
  kIs,
  kAnd,
  kOr,
  kXor,
  kEqv,
  kImp,
  kNeg,
  kNot,
};

enum class ExprKind : uint8_t {
  kLiteral,  // value
  kIdent,    // name
  kMember,   // a.name; a is null for ".name" inside With
  kCall,     // a(args): call, array element or default member
  kParen,    // (a): passes its operand by value
  kUnary,    // op a
  kBinary,   // a op b
  kNew,      // New name
  kMe,
  kMissing,  // an omitted argument: f(1, , 3)
};

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct Expr {
  ExprKind kind = ExprKind::kLiteral;
  Op op = Op::kAdd;
  int line = 0;
  int col = 0;
  int depth = 1;
  bool space_before_paren = false;  // kCall: "f (x)" rather than "f(x)"
  bool negated = false;             // kLiteral: folded from "-<number>"
  Value value;
  std::string name;
  ExprPtr a, b;
  std::vector<ExprPtr> args;
};

struct Stmt;
using StmtPtr = std::unique_ptr<Stmt>;
using Block = std::vector<StmtPtr>;

struct DimItem {
  std::string name;
  int line = 0;
  int col = 0;
  bool has_parens = false;      // Dim a() or Dim a(3)
  std::vector<ExprPtr> bounds;  // upper bounds; ReDim may use expressions
  ExprPtr value;                // Const
};

struct CaseItem {
  enum Kind { kValue, kRange, kIs } kind = kValue;
  Op is_op = Op::kEq;
  ExprPtr a, b;
};

struct CaseClause {
  bool is_else = false;
  int line = 0;
  int col = 0;
  std::vector<CaseItem> items;
  Block body;
};

enum class StmtKind : uint8_t {
  kAssign,  // target = value
  kSet,     // Set target = value
  kCall,    // target is the call
  kDim,     // declarations (also Public/Private at the top level)
  kReDim,
  kConst,
  kErase,
  kIf,
  kSelect,
  kFor,
  kForEach,
  kDo,
  kWhile,
  kWith,
  kExit,
  kOnErrorResumeNext,
  kOnErrorGoto0,
  kNop,
};

enum class ExitKind : uint8_t { kSub, kFunction, kProperty, kFor, kDo };
enum class DoKind : uint8_t { kForever, kPreWhile, kPreUntil, kPostWhile, kPostUntil };

struct Stmt {
  StmtKind kind = StmtKind::kNop;
  int line = 0;
  int col = 0;
  bool preserve = false;  // ReDim Preserve
  bool by_value_call = false;
  ExitKind exit_kind = ExitKind::kSub;
  DoKind do_kind = DoKind::kForever;
  std::string var;  // For / For Each variable
  int var_line = 0, var_col = 0;
  ExprPtr target, value;
  ExprPtr from, to, step;
  std::vector<DimItem> dims;      // Dim / ReDim / Const / Erase
  std::vector<ExprPtr> conds;     // If and ElseIf conditions; Do / While condition
  std::vector<Block> blocks;      // If branches then Else; loop body in blocks[0]
  std::vector<int> branch_lines;  // position of each ElseIf
  bool has_else = false;
  std::vector<CaseClause> cases;
};

enum class ProcKind : uint8_t { kSub, kFunction, kPropertyGet, kPropertyLet, kPropertySet };

struct Param {
  std::string name;
  bool by_val = false;
};

struct ProcDef {
  ProcKind kind = ProcKind::kSub;
  std::string name;
  std::vector<Param> params;
  Block body;
  bool is_public = true;
  bool is_default = false;
  int line = 0;
  int col = 0;
};

struct ClassVar {
  std::string name;
  bool is_public = true;
  bool has_parens = false;
  std::vector<ExprPtr> bounds;
  int line = 0;
  int col = 0;
};

struct ClassDef {
  std::string name;
  int line = 0;
  int col = 0;
  std::vector<ClassVar> vars;
  std::vector<ProcDef> procs;
};

struct ProgramAst {
  bool option_explicit = false;
  Block main;
  std::vector<ProcDef> procs;
  std::vector<ClassDef> classes;
};

}  // namespace corvane::vbs
