#include "vbscript/objects.h"
namespace corvane::vbs {
Value NewShell(Vm&) {
  return Value();
}
}  // namespace corvane::vbs
