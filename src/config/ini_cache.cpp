#include "config/ini_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/event_log.h"
#include "core/text.h"

namespace corvane {

IniCache::IniCache(std::string config_folder, EventLog& log)
    : folder_(std::move(config_folder)), log_(log) {
  if (!folder_.empty() && folder_.back() != '/') folder_.push_back('/');
  AppInitialize();
}

void IniCache::AppInitialize() {
  if (!slots_.empty()) return;
  Slot placeholder;
  placeholder.name = "ControlSystemIniFile";  // never equals a lower-cased name
  placeholder.store = std::make_unique<IniTool>(&log_);
  slots_.push_back(std::move(placeholder));
}

void IniCache::Report(std::string_view routine, std::string_view what) {
  log_.LogError("Corvane", routine, what);
}

std::string IniCache::ResolvePath(std::string_view file) const {
  // File names are found ignoring letter case: users copy INI files written on
  // systems whose file names ignore case, and scripts name them in any case.
  std::string exact = folder_ + std::string(file);
  struct stat st {};
  if (::stat(exact.c_str(), &st) == 0) return exact;
  if (DIR* dir = ::opendir(folder_.c_str())) {
    std::string found;
    while (dirent* d = ::readdir(dir)) {
      if (EqualsIgnoreCase(d->d_name, file)) {
        found = folder_ + d->d_name;
        break;
      }
    }
    ::closedir(dir);
    if (!found.empty()) return found;
  }
  return exact;
}

int IniCache::FindIniFile(std::string_view file, bool keep_current) {
  if (file.empty()) file = kDefaultFile;
  const std::string name = ToLower(file);
  if (name.find('/') != std::string::npos) {
    Report("FindIniFile ", "a settings file name may not hold a path: " + std::string(file));
    return 0;  // the placeholder slot: reads give defaults, nothing is written
  }

  size_t slot = 0;
  for (size_t i = 1; i < slots_.size(); ++i) {
    if (slots_[i].name == name) {
      slot = i;
      break;
    }
  }
  const std::string path = slot ? slots_[slot].path : ResolvePath(file);
  FileStamp now = FileStamp::Of(path);
  if (!now.exists) {
    // A file that vanished while its contents are held is written back from
    // memory at the next flush; any other missing file is created empty
    // (0600: settings files hold passwords).
    if (slot && slots_[slot].store->EntryCount() > 0) {
      slots_[slot].changed = true;
      return static_cast<int>(slot);
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      now = FileStamp::Of(path);
    } else {
      Report("FindIniFile ", path + ": " + std::strerror(errno));
    }
  }

  if (slot) {
    // A version not seen yet is read, with the program's unsaved changes
    // kept over it; a write (keep_current) leaves that to the next read or
    // the save, which merges the same way.
    Slot& s = slots_[slot];
    if (!keep_current && now.exists && !now.SameVersion(s.seen)) {
      s.seen = now;
      s.store->Reload();
    }
    return static_cast<int>(slot);
  }

  Slot fresh;
  fresh.name = name;
  fresh.path = path;
  fresh.seen = now;
  fresh.store = std::make_unique<IniTool>(&log_);
  fresh.store->Load(path);
  slots_.push_back(std::move(fresh));
  return static_cast<int>(slots_.size() - 1);
}

std::string IniCache::GetIniSetting(std::string_view group, std::string_view key,
                                    std::string_view default_value, std::string_view file) {
  const int slot = FindIniFile(file, false);
  return slots_[static_cast<size_t>(slot)].store->Read(group, key, default_value);
}

void IniCache::SaveIniSetting(std::string_view group, std::string_view key, std::string_view value,
                              std::string_view file) {
  const int slot = FindIniFile(file, true);
  if (slot == 0) return;
  Slot& s = slots_[static_cast<size_t>(slot)];
  s.store->WriteKey(group, key, value);
  s.changed = true;
}

void IniCache::ClearINISection(std::string_view group, std::string_view file) {
  const int slot = FindIniFile(file, false);
  if (slot == 0) return;
  slots_[static_cast<size_t>(slot)].store->RemoveSection(group);
}

std::string IniCache::GetINISection(std::string_view group, std::string_view file) {
  std::string out;
  const int slot = FindIniFile(file, false);
  IniTool& store = *slots_[static_cast<size_t>(slot)].store;
  for (const auto& key : store.Keys(group)) {
    if (key.empty()) continue;
    if (!out.empty()) out.push_back('\0');
    out += key;
    out += "=";
    out += store.Read(group, key, "");
  }
  return out;
}

void IniCache::FlushIniCache() {
  for (size_t i = 0; i < slots_.size(); ++i) {
    Slot& s = slots_[i];
    if (!s.changed) continue;
    // A failed save keeps the mark, so the next flush tries again. A good
    // one leaves the store knowing the version it wrote, so the next read
    // does not read the file again.
    if (s.store->Save()) {
      s.changed = false;
      s.seen = s.store->disk();
    }
  }
}

}  // namespace corvane
