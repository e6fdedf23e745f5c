#include "pages/web_folder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "core/event_log.h"
#include "core/folders.h"
#include "core/guard.h"
#include "core/text.h"
#include "web/web_files.h"

namespace corvane {

namespace {

// The entry of `folder` named `name` ignoring letter case; `name` itself when
// there is none.
std::string EntryIgnoringCase(const std::string& folder, const std::string& name) {
  struct stat st {};
  if (::stat(JoinPath(folder, name).c_str(), &st) == 0) return name;
  std::string found = name;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(dir)) {
      if (EqualsIgnoreCase(e->d_name, name)) {
        found = e->d_name;
        break;
      }
    }
    ::closedir(dir);
  }
  return found;
}

bool WriteNewFile(const std::string& path, std::string_view data) {
  const std::string temp = path + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out.flush()) return false;
  }
  // link() fails when the file appeared meanwhile: it is then left alone.
  const bool ok = ::link(temp.c_str(), path.c_str()) == 0 || errno == EEXIST;
  ::unlink(temp.c_str());
  return ok;
}

}  // namespace

int InstallWebFolder(const std::string& html_folder, EventLog& log) {
  int written = 0;
  for (const ShippedWebFile& file : ShippedWebFiles()) {
    Guard(log, "InstallWebFolder", [&] {
      if (FindFileIgnoringCase(JoinPath(html_folder, file.name))) return;
      // Walk the folders, reusing ones that differ only in letter case.
      std::string folder = html_folder;
      const auto parts = Split(file.name, '/');
      bool ok = ::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
      for (size_t i = 0; ok && i + 1 < parts.size(); ++i) {
        folder = JoinPath(folder, EntryIgnoringCase(folder, parts[i]));
        ok = ::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
      }
      const std::string path = JoinPath(folder, parts.back());
      if (!ok || !WriteNewFile(path, file.data)) {
        log.LogError("Corvane", "InstallWebFolder", path + ": " + std::strerror(errno));
        return;
      }
      ++written;
    });
  }
  return written;
}

}  // namespace corvane
