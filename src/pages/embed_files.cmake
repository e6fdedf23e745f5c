# Writes OUT, a C++ source holding every file below ROOT as data for
# ShippedWebFiles() (run with cmake -P at build time).
file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/*)
list(SORT files)
set(arrays "")
set(entries "")
set(n 0)
foreach(f IN LISTS files)
  file(READ ${ROOT}/${f} hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # One line per 32 bytes keeps the file readable for compilers and people.
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){32})" "\\1\n" bytes "${bytes}")
  string(APPEND arrays "const unsigned char kFile${n}[] = {\n${bytes}0};\n")
  string(APPEND entries "      {\"${f}\", {reinterpret_cast<const char*>(kFile${n}), ${size}}},\n")
  math(EXPR n "${n} + 1")
endforeach()
file(WRITE ${OUT}.tmp "// Generated from share/html by embed_files.cmake; do not edit.
#include \"pages/web_folder.h\"

namespace corvane {
namespace {
${arrays}}  // namespace

const std::vector<ShippedWebFile>& ShippedWebFiles() {
  static const std::vector<ShippedWebFile> files = {
${entries}  };
  return files;
}

}  // namespace corvane
")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
