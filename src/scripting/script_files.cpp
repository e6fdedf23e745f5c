#include "scripting/script_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "core/folders.h"
#include "core/text.h"

namespace corvane {

namespace {

constexpr std::string_view kIncludeKeyword = "#include";
// Nesting deeper than this is surely a mistake (a cycle is caught sooner).
constexpr int kMaxIncludeDepth = 64;

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The entry of `dir` called `part`, exactly or else ignoring letter case
// (the first in name order, so the choice does not depend on the
// directory's own order).
std::optional<std::string> MatchEntry(const std::string& dir, const std::string& part) {
  const std::string exact = (dir == "/" ? "" : dir) + "/" + part;
  struct stat st {};
  if (::lstat(exact.c_str(), &st) == 0) return exact;
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), &::closedir);
  if (!d) return std::nullopt;
  std::optional<std::string> best;
  while (dirent* e = ::readdir(d.get())) {
    const std::string_view n = e->d_name;
    if (n != "." && n != ".." && EqualsIgnoreCase(n, part) && (!best || n < *best)) {
      best = std::string(n);
    }
  }
  if (!best) return std::nullopt;
  return (dir == "/" ? "" : dir) + "/" + *best;
}

}  // namespace

std::string ResolveScriptPath(std::string_view scripts_folder, std::string_view name) {
  const bool absolute = name.find(':') != std::string_view::npos ||
                        name.substr(0, 2) == "\\\\" || name.substr(0, 1) == "/";
  std::string path = ReplaceAll(name, "\\", "/");
  if (absolute) return path;
  while (!path.empty() && path[0] == '/') path.erase(0, 1);
  return JoinPath(scripts_folder, path);
}

std::optional<std::string> FindFileIgnoringCase(std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return std::nullopt;
  const std::string whole(path);
  if (IsRegularFile(whole)) return whole;
  std::string dir = path[0] == '/' ? "/" : ".";
  for (const auto& part : Split(path, '/')) {
    if (part.empty() || part == ".") continue;
    auto next = MatchEntry(dir, part);
    if (!next) return std::nullopt;
    dir = std::move(*next);
  }
  if (!IsRegularFile(dir)) return std::nullopt;
  return dir;
}

std::vector<ScriptSource> IncludeExpander::Expand(std::string_view name) {
  open_.clear();
  std::vector<ScriptSource> out;
  Accumulate(name, out, 0);
  return out;
}

void IncludeExpander::Accumulate(std::string_view name, std::vector<ScriptSource>& out,
                                 int depth) {
  if (depth > kMaxIncludeDepth) return;
  const auto path = FindFileIgnoringCase(ResolveScriptPath(scripts_folder_, name));
  if (!path) return;
  if (std::find(open_.begin(), open_.end(), *path) != open_.end()) return;  // a cycle
  auto text = read_(*path);
  if (!text) return;
  open_.push_back(*path);
  size_t pos = 0;
  while ((pos = FindIgnoreCase(*text, kIncludeKeyword, pos)) != std::string::npos) {
    const size_t line_end = std::min(text->find('\n', pos), text->size());
    const size_t open = text->find('"', pos + kIncludeKeyword.size());
    const size_t close = open < line_end ? text->find('"', open + 1) : std::string::npos;
    if (open >= line_end || close >= line_end) {
      text->erase(pos, line_end - pos);
      continue;
    }
    const std::string include(TrimWhite(std::string_view(*text).substr(open + 1, close - open - 1)));
    if (!include.empty()) Accumulate(include, out, depth + 1);
    text->erase(pos, close + 1 - pos);
  }
  open_.pop_back();
  out.push_back(ScriptSource{std::string(name), *path, std::move(*text)});
}

std::string WrapperText(std::string_view base, std::string_view procedure,
                        std::string_view parameter) {
  const std::string q = "\"";
  const std::string call = std::string(TrimSpaces(std::string(procedure) + " " + q +
                                                  std::string(parameter) + q));
  const std::string lines[] = {
      "<job id=" + q + std::string(base) + q + ">",
      // The script sits beside its wrapper in the Scripts folder.
      "<script language=\"VBScript\" src=" + q + std::string(base) + ".txt" + q + "/>",
      "<script language=\"VBScript\">",
      "Dim xap",
      "Set xap = createobject(\"Quorel.Application\")",
      call,
      "Set xap = Nothing",
      "</Script>",
      "</Job>",
  };
  std::string out;
  for (const auto& l : lines) out += l + "\r\n";
  return out;
}

std::string WrapWSF(std::string_view scripts_folder, std::string_view script_name,
                    std::string_view procedure, std::string_view parameter) {
  std::string base(script_name);
  for (size_t p; (p = FindIgnoreCase(base, ".txt")) != std::string::npos;) base.erase(p, 4);
  const std::string file = base + "~.wsf";
  const std::string path = ResolveScriptPath(scripts_folder, file);
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) throw std::runtime_error("Cannot write " + path);
  f << WrapperText(base, procedure, parameter);
  if (!f.flush()) throw std::runtime_error("Cannot write " + path);
  return file;
}

}  // namespace corvane
