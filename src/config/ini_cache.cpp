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

namespace {

bool Later(const timespec& a, const timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

}  // namespace

IniCache::IniCache(std::string config_folder, EventLog& log)
    : folder_(std::move(config_folder)), log_(log) {
  if (!folder_.empty() && folder_.back() != '/') folder_.push_back('/');
  AppInitialize();
}

void IniCache::AppInitialize() {
  if (!slots_.empty()) return;
  Slot placeholder;
  placeholder.name = "ControlSystemIniFile";  // never equals a lower-cased name
  placeholder.stamp.tv_sec = 946684800;       // 1/1/2000
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

  struct stat st {};
  bool exists = ::stat(path.c_str(), &st) == 0;
  if (!exists) {
    // A missing file is created empty. When the file vanished while we hold
    // its contents, they are kept and written back at the next flush.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::close(fd);
      exists = ::stat(path.c_str(), &st) == 0;
    } else {
      Report("FindIniFile ", path + ": " + std::strerror(errno));
    }
    if (slot && exists) {
      slots_[slot].stamp = st.st_mtim;
      if (slots_[slot].store->EntryCount() > 0) slots_[slot].changed = true;
      return static_cast<int>(slot);
    }
  }

  if (slot) {
    Slot& s = slots_[slot];
    if (exists && Later(st.st_mtim, s.stamp)) {
      s.stamp = st.st_mtim;
      if (!keep_current) {
        s.store->Load(s.path);
        s.changed = false;
      }
    }
    return static_cast<int>(slot);
  }

  Slot fresh;
  fresh.name = name;
  fresh.path = path;
  if (exists) fresh.stamp = st.st_mtim;
  fresh.store = std::make_unique<IniTool>(&log_);
  fresh.store->Load(path);
  slots_.push_back(std::move(fresh));
  return static_cast<int>(slots_.size() - 1);
}

std::string IniCache::GetIniSetting(std::string_view group, std::string_view key,
                                    std::string_view default_value, std::string_view file) {
  try {
    int slot = FindIniFile(file, false);
    return slots_[static_cast<size_t>(slot)].store->Read(group, key, default_value);
  } catch (const std::exception& e) {
    Report("GetIniSetting ", e.what());
    return std::string(default_value);
  }
}

void IniCache::SaveIniSetting(std::string_view group, std::string_view key, std::string_view value,
                              std::string_view file) {
  try {
    int slot = FindIniFile(file, true);
    if (slot == 0) return;
    Slot& s = slots_[static_cast<size_t>(slot)];
    s.store->WriteKey(group, key, value);
    s.changed = true;
  } catch (const std::exception& e) {
    Report("SaveIniSetting ", e.what());
  }
}

void IniCache::ClearINISection(std::string_view group, std::string_view file) {
  try {
    int slot = FindIniFile(file, false);
    if (slot == 0) return;
    slots_[static_cast<size_t>(slot)].store->RemoveSection(group);
  } catch (const std::exception& e) {
    Report("ClearINISection ", e.what());
  }
}

std::string IniCache::GetINISection(std::string_view group, std::string_view file) {
  std::string out;
  try {
    int slot = FindIniFile(file, false);
    IniTool& store = *slots_[static_cast<size_t>(slot)].store;
    bool first = true;
    for (const auto& key : store.Keys(group)) {
      if (key.empty()) continue;
      if (!first) out.push_back('\0');
      first = false;
      out += key;
      out += "=";
      out += store.Read(group, key, "");
    }
  } catch (const std::exception& e) {
    Report("GetINISection ", e.what());
  }
  return out;
}

void IniCache::FlushIniCache() {
  for (size_t i = 0; i < slots_.size(); ++i) {
    Slot& s = slots_[i];
    if (!s.changed) continue;
    // A failed save keeps the mark, so the next flush tries again. After a
    // good one the file's time is later than the slot's stamp, and the next
    // read reloads the (identical) file.
    if (s.store->Save()) s.changed = false;
  }
}

}  // namespace corvane
