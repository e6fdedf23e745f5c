#include "core/folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>

#include "core/event_log.h"

namespace corvane {

void CreateFolders(std::string_view path, EventLog* log) {
  size_t last = path.rfind('/');
  if (last == std::string_view::npos || last == 0) return;
  std::string folder(path.substr(0, last));
  // Walk the components from the root down, creating what is missing.
  size_t pos = folder[0] == '/' ? 1 : 0;
  while (pos <= folder.size()) {
    size_t slash = folder.find('/', pos);
    if (slash == std::string::npos) slash = folder.size();
    std::string part = folder.substr(0, slash);
    if (slash > pos) {
      struct stat st {};
      if (::stat(part.c_str(), &st) != 0) {
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
          if (log) log->LogError("Corvane", " CreateFolders ", part + ": " + std::strerror(errno));
          return;
        }
      } else if (!S_ISDIR(st.st_mode)) {
        if (log) log->LogError("Corvane", " CreateFolders ", part + ": not a folder");
        return;
      }
    }
    pos = slash + 1;
  }
}

std::string JoinPath(std::string_view folder, std::string_view rest) {
  std::string out(folder);
  while (!out.empty() && out.back() == '/') out.pop_back();
  while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  out += '/';
  out.append(rest);
  return out;
}

namespace {
std::string SelfPath() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}
}  // namespace

std::string ExecutableFolder() {
  std::string p = SelfPath();
  size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : p.substr(0, slash);
}

std::string ExecutableName() {
  std::string p = SelfPath();
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? "corvane" : p.substr(slash + 1);
}

std::string ComputerName() {
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return "localhost";
  return buf;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return std::move(bytes).str();
}

}  // namespace corvane
