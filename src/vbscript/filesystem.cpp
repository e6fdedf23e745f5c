#include "vbscript/objects.h"
namespace corvane::vbs {
Value NewFileSystemObject(Vm&) {
  return Value();
}
}  // namespace corvane::vbs
