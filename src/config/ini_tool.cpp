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

bool ReadWholeFile(const std::string& path, std::string& out, bool& exists) {
  exists = false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    exists = (errno != ENOENT && errno != ENOTDIR);
    return false;
  }
  exists = true;
  out.clear();
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
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

bool CopyFile(const std::string& from, const std::string& to) {
  std::string content;
  bool exists = false;
  if (!ReadWholeFile(from, content, exists)) return false;
  int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, content);
  ok = (::close(fd) == 0) && ok;
  return ok;
}

}  // namespace

const IniTool::Entry* IniTool::Find(std::string_view key) const {
  auto it = index_.find(ToLower(key));
  return it == index_.end() ? nullptr : &entries_[it->second];
}

IniTool::Entry* IniTool::Find(std::string_view key) {
  auto it = index_.find(ToLower(key));
  return it == index_.end() ? nullptr : &entries_[it->second];
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

void IniTool::Report(std::string_view data) {
  if (log_) log_->LogEvent("IniTool", data);
}

void IniTool::Clear() {
  entries_.clear();
  index_.clear();
  dead_ = 0;
}

bool IniTool::Load(const std::string& path) {
  path_ = path;
  std::string text;
  bool exists = false;
  if (!ReadWholeFile(path, text, exists)) {
    if (!exists) {
      Clear();
      return true;
    }
    if (log_) log_->LogError("Corvane", "IniTool Load " + path, std::strerror(errno));
    return false;
  }
  Clear();
  LoadText(text);
  return true;
}

void IniTool::LoadText(std::string_view text) {
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
  if (!Find(header)) Add(std::string(header), std::string(header), true);
  std::string vk = ValueKey(header, key);
  if (Entry* e = Find(vk)) {
    e->value.assign(value);
  } else {
    Add(std::move(vk), std::string(value), false);
  }
}

void IniTool::RemoveKey(std::string_view header, std::string_view key) {
  Remove(ValueKey(header, key));
}

void IniTool::RemoveSection(std::string_view header) {
  std::string prefix = ValueKey(header, "");
  std::vector<std::string> doomed;
  for (const auto& e : entries_) {
    if (e.alive && !e.is_section && StartsWithIgnoreCase(e.key, prefix)) doomed.push_back(e.key);
  }
  for (const auto& k : doomed) Remove(k);
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
  const std::string text = SaveText();
  std::string failure;
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0) {
    if (!CopyFile(path_, path_ + "_bck")) failure = "backup copy failed: ";
  }
  // Write beside the file, then rename over it: the file is never half-written.
  const std::string tmp = path_ + std::string(kSaveTempMark) + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0;
  if (ok) {
    ok = WriteAll(fd, text) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
  }
  if (ok) ok = ::rename(tmp.c_str(), path_.c_str()) == 0;
  if (!ok) {
    int err = errno;
    ::unlink(tmp.c_str());
    if (log_)
      log_->LogError("Corvane", "IniTool Save ", failure + path_ + ": " + std::strerror(err));
    return false;
  }
  return true;
}

int RemoveStaleSaveFiles(const std::string& folder, EventLog* log) {
  namespace fs = std::filesystem;
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const long pid = SaveTempPid(name);
    std::error_code type_ec;
    const bool plain_file = it->symlink_status(type_ec).type() == fs::file_type::regular;
    if (pid < 0 || !plain_file || OtherInstanceRunning(pid)) continue;
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

}  // namespace corvane
