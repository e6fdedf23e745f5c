#include "vbscript/objects.h"
namespace corvane::vbs {
Value NewRegExp(Vm&) {
  return Value();
}
}  // namespace corvane::vbs
