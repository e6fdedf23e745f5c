#include "config/ini_tool.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/event_log.h"
#include "core/text.h"

namespace corvane {

namespace {

constexpr size_t kReportedLineMax = 1000;
constexpr std::string_view kSaveTempMark = ".tmp";

// The process id in the name of a save's temporary file ("<file>.tmp<pid>"),
// or -1 for any other name.
long SaveTempPid(std::string_view name) {
  const size_t mark = name.rfind(kSaveTempMark);
  if (mark == std::string_view::npos || mark == 0) return -1;
  const std::string_view digits = name.substr(mark + kSaveTempMark.size());
  if (digits.empty() || digits.size() > 9) return -1;
  long pid = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    pid = pid * 10 + (c - '0');
  }
  return pid;
}

std::string ExecutableOf(const std::string& pid) {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/" + pid + "/exe", ec).string();
}

// Another running copy of this program, which may be in the middle of a save.
bool OtherInstanceRunning(long pid) {
  if (pid <= 0 || pid == static_cast<long>(::getpid())) return false;
  if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  const std::string self = ExecutableOf("self");
  return !self.empty() && ExecutableOf(std::to_string(pid)) == self;
}

std::string ValueKey(std::string_view header, std::string_view key) {
  std::string k(header);
  k.push_back(IniTool::kSeparator);
  k.append(key);
  return k;
}

bool ReadWholeFile(const std::string& path, std::string& out, bool& exists,
                   FileStamp* stamp = nullptr) {
  exists = false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    exists = (errno != ENOENT && errno != ENOTDIR);
    return false;
  }
  exists = true;
  // The stamp before the read: an edit during the read shows as a newer version.
  if (stamp) *stamp = FileStamp::OfFd(fd);
  out.clear();
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      errno = err;
      return false;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// A line end inside a name or value would split it into lines of its own
// (and could forge a section), so it is written as a space.
void AppendOneLine(std::string& out, std::string_view s) {
  for (char c : s) out.push_back((c == '\r' || c == '\n') ? ' ' : c);
}

// The file a save replaces: a symbolic link is followed to its target, so the
// link stays and its target gets the new text.
std::string LinkTarget(std::string path) {
  namespace fs = std::filesystem;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::error_code ec;
    const fs::path target = fs::read_symlink(path, ec);
    if (ec) break;
    path = target.is_absolute() ? target.string() : (fs::path(path).parent_path() / target).string();
  }
  return path;
}

// Creates `path` anew (0600), then gives it the owner of `like` and its mode
// (only `keep` of the mode bits) before anything is written into it. When
// the group cannot be kept the group may not read it either. Sets
// `owner_lost` when the file ends up with another owner.
int CreateLike(const std::string& path, const FileStamp& like, mode_t keep, bool& owner_lost) {
  ::unlink(path.c_str());
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0 || !like.exists) return fd;
  // Only root keeps another user as owner, and only a member the group; what
  // cannot be kept narrows the mode below instead.
  if (::fchown(fd, like.uid, like.gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), like.gid) != 0) {
    // Neither: the file stays ours and keeps only the owner's and others' bits.
  }
  const FileStamp made = FileStamp::OfFd(fd);
  mode_t mode = like.mode & keep;
  if (made.gid != like.gid) mode &= ~static_cast<mode_t>(S_IRWXG);
  owner_lost = made.uid != like.uid;
  if (::fchmod(fd, mode) != 0) {
    ::close(fd);
    ::unlink(path.c_str());
    return -1;
  }
  return fd;
}

bool CopyFile(const std::string& from, const std::string& to, const FileStamp& like) {
  std::string content;
  bool exists = false;
  if (!ReadWholeFile(from, content, exists)) return false;
  bool owner_lost = false;
  int fd = CreateLike(to, like, 0666, owner_lost);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, content);
  ok = (::close(fd) == 0) && ok;
  return ok;
}

std::string ShownKey(std::string_view value_key) {
  const size_t sep = value_key.find(IniTool::kSeparator);
  return "[" + std::string(value_key.substr(0, sep)) + "] " +
         std::string(value_key.substr(sep + 1));
}

FileStamp StampOf(int result, const struct stat& st) {
  FileStamp f;
  if (result != 0) return f;
  f.exists = true;
  f.dev = st.st_dev;
  f.ino = st.st_ino;
  f.mtime = st.st_mtim;
  f.size = st.st_size;
  f.mode = st.st_mode & 07777;
  f.uid = st.st_uid;
  f.gid = st.st_gid;
  return f;
}

}  // namespace

FileStamp FileStamp::Of(const std::string& path) {
  struct stat st {};
  const int result = ::stat(path.c_str(), &st);
  return StampOf(result, st);
}

FileStamp FileStamp::OfFd(int fd) {
  struct stat st {};
  const int result = ::fstat(fd, &st);
  return StampOf(result, st);
}

bool FileStamp::SameVersion(const FileStamp& o) const {
  if (exists != o.exists) return false;
  return !exists || (dev == o.dev && ino == o.ino && size == o.size &&
                     mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec);
}

const IniTool::Entry* IniTool::Find(std::string_view key) const {
  auto it = index_.find(ToLower(key));
  return it == index_.end() ? nullptr : &entries_[it->second];
}

IniTool::Entry* IniTool::Find(std::string_view key) {
  auto it = index_.find(ToLower(key));
  return it == index_.end() ? nullptr : &entries_[it->second];
}

std::optional<std::string> IniTool::ValueOf(std::string_view key) const {
  const Entry* e = Find(key);
  if (!e) return std::nullopt;
  return e->value;
}

void IniTool::Add(std::string key, std::string value, bool is_section) {
  index_.emplace(ToLower(key), entries_.size());
  entries_.push_back(Entry{std::move(key), std::move(value), is_section, true});
}

void IniTool::Remove(std::string_view key) {
  auto it = index_.find(ToLower(key));
  if (it == index_.end()) return;
  entries_[it->second].alive = false;
  index_.erase(it);
  ++dead_;
  // Compact once holes dominate, keeping the order.
  if (dead_ > 64 && dead_ * 2 > entries_.size()) {
    std::vector<Entry> kept;
    kept.reserve(index_.size());
    for (auto& e : entries_) {
      if (e.alive) kept.push_back(std::move(e));
    }
    entries_ = std::move(kept);
    index_.clear();
    for (size_t i = 0; i < entries_.size(); ++i) index_.emplace(ToLower(entries_[i].key), i);
    dead_ = 0;
  }
}

void IniTool::SetValue(std::string_view value_key, std::string_view value) {
  const std::string_view header = value_key.substr(0, value_key.find(kSeparator));
  if (!Find(header)) Add(std::string(header), std::string(header), true);
  if (Entry* e = Find(value_key)) {
    e->value.assign(value);
  } else {
    Add(std::string(value_key), std::string(value), false);
  }
}

// Called before the store changes: a key that returns to the value it had on
// disk is no change any more.
void IniTool::Record(std::string_view value_key, const std::optional<std::string>& now) {
  const std::string lower = ToLower(value_key);
  auto it = changed_.find(lower);
  if (it == changed_.end()) {
    std::optional<std::string> before = ValueOf(value_key);
    if (before == now) return;
    changed_.emplace(lower, changes_.size());
    changes_.push_back(Change{std::string(value_key), now, std::move(before)});
    return;
  }
  Change& c = changes_[it->second];
  c.now = now;
  if (c.now != c.read) return;
  changes_.erase(changes_.begin() + static_cast<std::ptrdiff_t>(it->second));
  changed_.clear();
  for (size_t i = 0; i < changes_.size(); ++i) changed_.emplace(ToLower(changes_[i].key), i);
}

void IniTool::Report(std::string_view data) {
  if (log_) log_->LogEvent("IniTool", data);
}

void IniTool::Reset() {
  entries_.clear();
  index_.clear();
  dead_ = 0;
}

void IniTool::Clear() {
  for (const auto& e : entries_) {
    if (e.alive && !e.is_section) Record(e.key, std::nullopt);
  }
  Reset();
}

bool IniTool::Load(const std::string& path) {
  path_ = path;
  std::string text;
  bool exists = false;
  FileStamp stamp;
  if (!ReadWholeFile(path, text, exists, &stamp)) {
    if (exists) {
      if (log_) log_->LogError("Corvane", "IniTool Load " + path, std::strerror(errno));
      return false;
    }
    stamp = FileStamp{};
  }
  Reset();
  changes_.clear();
  changed_.clear();
  LoadText(text);
  disk_ = stamp;
  return true;
}

bool IniTool::ReadFresh(IniTool& fresh, FileStamp& stamp) {
  std::string text;
  bool exists = false;
  if (!ReadWholeFile(path_, text, exists, &stamp)) {
    stamp = FileStamp{};
    if (!exists) return true;
    if (log_) log_->LogError("Corvane", "IniTool Load " + path_, std::strerror(errno));
    return false;
  }
  fresh.LoadText(text);
  return true;
}

std::vector<std::string> IniTool::MergeOnto(IniTool& fresh) {
  std::vector<std::string> both;
  std::vector<Change> kept;
  for (Change& c : changes_) {
    const std::optional<std::string> disk = fresh.ValueOf(c.key);
    if (disk != c.read && disk != c.now) both.push_back(c.key);
    if (c.now) {
      fresh.SetValue(c.key, *c.now);
    } else {
      fresh.Remove(c.key);
    }
    if (disk == c.now) continue;  // the disk holds it already
    c.read = disk;
    kept.push_back(std::move(c));
  }
  entries_ = std::move(fresh.entries_);
  index_ = std::move(fresh.index_);
  dead_ = fresh.dead_;
  changes_ = std::move(kept);
  changed_.clear();
  for (size_t i = 0; i < changes_.size(); ++i) changed_.emplace(ToLower(changes_[i].key), i);
  return both;
}

void IniTool::ReportMerge(std::string_view what, const std::vector<std::string>& keys) {
  if (!log_ || keys.empty()) return;
  constexpr size_t kShown = 20;
  std::string text = path_ + std::string(what);
  for (size_t i = 0; i < keys.size() && i < kShown; ++i) {
    text += i ? ", " : " ";
    text += ShownKey(keys[i]);
  }
  if (keys.size() > kShown) text += " and " + std::to_string(keys.size() - kShown) + " more";
  log_->LogEvent("Corvane", text);
}

bool IniTool::Reload() {
  if (FileStamp::Of(path_).SameVersion(disk_)) return true;
  IniTool fresh(log_);
  FileStamp stamp;
  if (!ReadFresh(fresh, stamp)) return false;
  if (!stamp.exists) return true;  // a vanished file: what is held is kept
  std::vector<std::string> pending;
  for (const Change& c : changes_) pending.push_back(c.key);
  const std::vector<std::string> both = MergeOnto(fresh);
  disk_ = stamp;
  ReportMerge(" changed on disk; read again with Corvane's unsaved changes kept over it:",
              pending);
  ReportMerge(" changed on disk too; Corvane's value replaces the file's for", both);
  return true;
}

void IniTool::LoadText(std::string_view text) {
  // Editors may start a UTF-8 file with a byte-order mark; it is no part of
  // the first line (which would otherwise name no section).
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    text.remove_prefix(kByteOrderMark.size());
  }
  std::string section;  // the empty name before the first section line
  size_t pos = 0;
  while (pos <= text.size()) {
    // A line ends at CR LF, a lone CR or a lone LF.
    size_t end = text.find_first_of("\r\n", pos);
    std::string_view raw =
        text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    if (end == std::string_view::npos) {
      pos = text.size() + 1;
    } else {
      pos = end + 1;
      if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    }
    std::string_view line = TrimSpaces(raw);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
      section.assign(line.substr(1, line.size() - 2));
      if (section.find(kSeparator) != std::string::npos) section = RemoveChar(section, kSeparator);
      if (!Find(section)) Add(section, section, true);
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      std::string shown(line.substr(0, kReportedLineMax));
      Report(" Equal sign not found on line " + shown);
      continue;
    }
    std::string key = ValueKey(section, line.substr(0, eq));
    if (Find(key)) continue;  // the first occurrence wins
    Add(std::move(key), std::string(line.substr(eq + 1)), false);
  }
}

std::string IniTool::Read(std::string_view header, std::string_view key,
                          std::string_view default_value) const {
  const Entry* e = Find(ValueKey(header, key));
  if (!e || e->value.empty()) return std::string(default_value);
  return e->value;
}

void IniTool::WriteKey(std::string_view header, std::string_view key, std::string_view value) {
  const std::string vk = ValueKey(header, key);
  Record(vk, std::string(value));
  SetValue(vk, value);
}

void IniTool::RemoveKey(std::string_view header, std::string_view key) {
  const std::string vk = ValueKey(header, key);
  if (!Find(vk)) return;
  Record(vk, std::nullopt);
  Remove(vk);
}

void IniTool::RemoveSection(std::string_view header) {
  std::string prefix = ValueKey(header, "");
  std::vector<std::string> doomed;
  for (const auto& e : entries_) {
    if (e.alive && !e.is_section && StartsWithIgnoreCase(e.key, prefix)) doomed.push_back(e.key);
  }
  for (const auto& k : doomed) {
    Record(k, std::nullopt);
    Remove(k);
  }
}

std::vector<std::string> IniTool::Headers() const {
  std::vector<std::string> out;
  for (const auto& e : entries_) {
    if (e.alive && e.is_section) out.push_back(e.key);
  }
  return out;
}

std::vector<std::string> IniTool::Keys(std::string_view header) const {
  // The section name is matched literally (ignoring case), so a name holding
  // "." or "(" selects exactly its own keys.
  std::string prefix = ValueKey(header, "");
  std::vector<std::string> out;
  for (const auto& e : entries_) {
    if (!e.alive || e.is_section || !StartsWithIgnoreCase(e.key, prefix)) continue;
    std::string_view name = std::string_view(e.key).substr(prefix.size());
    if (TrimSpaces(name).empty()) continue;
    out.emplace_back(name);
  }
  if (out.empty()) out.emplace_back();
  return out;
}

std::string IniTool::SaveText() const {
  struct Line {
    std::string section_upper;
    std::string_view key;
    std::string_view value;
    size_t order;
  };
  std::vector<Line> lines;
  lines.reserve(index_.size());
  for (size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    if (!e.alive || e.is_section) continue;
    size_t sep = e.key.find(kSeparator);
    std::string_view k(e.key);
    lines.push_back(Line{ToUpper(k.substr(0, sep)), k.substr(sep + 1), e.value, i});
  }
  std::stable_sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) {
    if (int c = a.section_upper.compare(b.section_upper)) return c < 0;
    if (int c = CompareIgnoreCase(a.key, b.key)) return c < 0;
    if (int c = a.key.compare(b.key)) return c < 0;
    return a.order < b.order;
  });
  std::string out;
  const std::string* current = nullptr;
  for (const auto& l : lines) {
    if (!current || *current != l.section_upper) {
      out += "[";
      AppendOneLine(out, l.section_upper);
      out += "]\r\n";
      current = &l.section_upper;
    }
    AppendOneLine(out, l.key);
    out += "=";
    AppendOneLine(out, l.value);
    out += "\r\n";
  }
  return out;
}

bool IniTool::Save() {
  const std::string target = LinkTarget(path_);
  FileStamp on_disk = FileStamp::Of(target);
  // Someone changed the file since it was read: only the program's changes
  // go over the new version, so a hand edit made meanwhile survives.
  if (on_disk.exists && !on_disk.SameVersion(disk_)) {
    IniTool fresh;
    std::vector<std::string> written;
    for (const Change& c : changes_) written.push_back(c.key);
    if (!ReadFresh(fresh, on_disk)) {
      if (log_) log_->LogError("Corvane", "IniTool Save ", path_ + ": cannot read it to merge");
      return false;
    }
    const std::vector<std::string> both = MergeOnto(fresh);
    disk_ = on_disk;
    ReportMerge(" changed on disk since Corvane read it; the save keeps those changes and "
                "writes over them only Corvane's changes:",
                written);
    ReportMerge(" changed on disk too; Corvane's value replaces the file's for", both);
  }
  if (changes_.empty() && on_disk.exists && on_disk.SameVersion(disk_)) return true;

  const std::string text = SaveText();
  std::string failure;
  if (on_disk.exists && !CopyFile(target, path_ + "_bck", on_disk)) {
    failure = "backup copy failed: ";
  }
  // Write beside the file, then rename over it: the file is never half-written.
  const std::string tmp = target + std::string(kSaveTempMark) + std::to_string(::getpid());
  bool owner_lost = false;
  int fd = CreateLike(tmp, on_disk, 07777, owner_lost);
  bool ok = fd >= 0;
  FileStamp written;
  if (ok) {
    ok = WriteAll(fd, text) && ::fsync(fd) == 0;
    written = FileStamp::OfFd(fd);
    ok = (::close(fd) == 0) && ok;
  }
  if (ok) ok = ::rename(tmp.c_str(), target.c_str()) == 0;
  if (!ok) {
    int err = errno;
    ::unlink(tmp.c_str());
    if (log_)
      log_->LogError("Corvane", "IniTool Save ", failure + path_ + ": " + std::strerror(err));
    return false;
  }
  disk_ = written;
  changes_.clear();
  changed_.clear();
  if (owner_lost && log_) {
    log_->LogEvent("Corvane", path_ + " now belongs to the user Corvane runs as; its owner "
                              "could not be kept");
  }
  return true;
}

namespace {

// Removes the save temporaries in `folder`: every "<name>.tmp<pid>", or with
// `only` just "<only>.tmp<pid>". Symbolic links met go to `links`.
int RemoveStaleIn(const std::string& folder, std::string_view only, EventLog* log,
                  std::vector<std::string>* links) {
  namespace fs = std::filesystem;
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code type_ec;
    const fs::file_type type = it->symlink_status(type_ec).type();
    if (links && type == fs::file_type::symlink) links->push_back(it->path().string());
    const long pid = SaveTempPid(name);
    if (!only.empty() && (name.rfind(kSaveTempMark) != only.size() || !name.starts_with(only))) {
      continue;
    }
    if (pid < 0 || type != fs::file_type::regular || OtherInstanceRunning(pid)) continue;
    std::error_code rm_ec;
    if (fs::remove(it->path(), rm_ec)) {
      ++removed;
      if (log) {
        log->LogEvent("Corvane",
                      "Removed " + it->path().string() + ", left by a save that did not finish");
      }
    } else if (log) {
      log->LogError("Corvane", "RemoveStaleSaveFiles " + it->path().string(), rm_ec.message());
    }
  }
  if (ec && log) log->LogError("Corvane", "RemoveStaleSaveFiles " + folder, ec.message());
  return removed;
}

}  // namespace

int RemoveStaleSaveFiles(const std::string& folder, EventLog* log) {
  namespace fs = std::filesystem;
  std::vector<std::string> links;
  int removed = RemoveStaleIn(folder, {}, log, &links);
  // A settings file that is a link is saved beside its target.
  std::error_code ec;
  const fs::path here = fs::weakly_canonical(folder, ec);
  for (const std::string& link : links) {
    const fs::path target(LinkTarget(link));
    const fs::path there = fs::weakly_canonical(target.parent_path(), ec);
    if (ec || there == here) continue;
    removed += RemoveStaleIn(there.string(), target.filename().string(), log, nullptr);
  }
  return removed;
}

}  // namespace corvane
