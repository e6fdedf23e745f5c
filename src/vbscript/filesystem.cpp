// Scripting.FileSystemObject with its File, Folder, collections and
// TextStream objects, on the POSIX file system. Paths may use "\" or "/";
// "\" is read as "/", and there are no drive letters. A TextStream opened
// for reading holds the whole file as UTF-8 text (UTF-16 files with a byte
// order mark are converted), which keeps Line, Column and Skip simple.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "core/datetime.h"
#include "core/text.h"
#include "vbscript/objects.h"
#include "vbscript/ops.h"

namespace corvane::vbs {

namespace fs = std::filesystem;

namespace {

std::string NormPath(std::string p) {
  for (auto& c : p) {
    if (c == '\\') c = '/';
  }
  return p;
}

std::string PathArg(CallArgs& a, int i) {
  if (a.size() <= i) Throw(kErrArgNotOptional);
  return NormPath(ToText(a[i]));
}

// A path argument without trailing "/" (a lone "/" stays): "a/b/" names b.
std::string FolderPathArg(CallArgs& a, int i) {
  std::string p = PathArg(a, i);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

// A file time (whole seconds) as a local Date.
double FileTimeValue(time_t t) {
  struct tm lt;
  localtime_r(&t, &lt);
  return ToDateValue(CivilDateTime{lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour,
                                   lt.tm_min, lt.tm_sec});
}

[[noreturn]] void ThrowErrno(int fallback) {
  switch (errno) {
    case ENOENT:
      Throw(kErrFileNotFound);
    case ENOTDIR:
      Throw(kErrPathNotFound);
    case EACCES:
    case EPERM:
    case EISDIR:
      Throw(kErrPermission);
    case EEXIST:
      Throw(kErrFileExists);
    default:
      Throw(fallback);
  }
}

std::string Utf8ToUtf16(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    size_t len = 1;
    uint32_t cp = DecodeChar(s, i, &len);
    i += len;
    auto put = [&](uint32_t u) {
      out.push_back(static_cast<char>(u & 0xFF));
      out.push_back(static_cast<char>(u >> 8));
    };
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

// ------------------------------------------------------------ TextStream

class TextStream : public BuiltinObject<TextStream> {
 public:
  enum Mode { kRead = 1, kWrite = 2, kAppend = 8 };

  TextStream(Vm* vm, const std::string& path, int mode, bool unicode, bool create)
      : BuiltinObject(vm, kMembers), mode_(mode), unicode_(unicode) {
    if (mode == kRead) {
      std::ifstream f(path, std::ios::binary);
      if (!f) ThrowErrno(kErrFileNotFound);
      std::ostringstream ss;
      ss << f.rdbuf();
      text_ = ss.str();
      if (text_.size() >= 2 && static_cast<unsigned char>(text_[0]) == 0xFF &&
          static_cast<unsigned char>(text_[1]) == 0xFE) {
        text_ = Utf16ToUtf8(std::string_view(text_).substr(2), true);
      } else if (text_.size() >= 3 && text_.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text_.erase(0, 3);
      }
      return;
    }
    if (!create && access(path.c_str(), F_OK) != 0) Throw(kErrFileNotFound);
    bool fresh = mode == kWrite || access(path.c_str(), F_OK) != 0;
    file_ = std::fopen(path.c_str(), mode == kWrite ? "wb" : "ab");
    if (!file_) ThrowErrno(kErrPermission);
    if (unicode_ && fresh) std::fwrite("\xFF\xFE", 1, 2, file_);
  }
  ~TextStream() override {
    if (file_) std::fclose(file_);
  }
  std::string TypeName() const override { return "TextStream"; }

 private:
  static const MemberTable<TextStream> kMembers;

  // --- Members.
  Value Read(InvokeKind, CallArgs& a) {
    NeedRead();
    int32_t n = a.size() > 0 ? ToLong(a[0]) : 1;
    if (n < 0) Throw(kErrInvalidCall);
    size_t start = pos_;
    for (int32_t i = 0; i < n && pos_ < text_.size(); ++i) Advance();
    return Value::Str(text_.substr(start, pos_ - start));
  }
  Value ReadAll(InvokeKind, CallArgs&) {
    NeedRead();
    if (pos_ >= text_.size() && !text_.empty()) Throw(kErrPastEnd);
    std::string rest = text_.substr(pos_);
    while (pos_ < text_.size()) Advance();
    return Value::Str(std::move(rest));
  }
  Value ReadLine(InvokeKind, CallArgs&) {
    NeedRead();
    if (pos_ >= text_.size()) Throw(kErrPastEnd);
    size_t nl = text_.find('\n', pos_);
    size_t end = nl == std::string::npos ? text_.size() : nl;
    std::string line = text_.substr(pos_, end - pos_);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos_ = nl == std::string::npos ? text_.size() : nl + 1;
    ++line_;
    column_ = 1;
    return Value::Str(std::move(line));
  }
  Value Skip(InvokeKind, CallArgs& a) {
    NeedRead();
    int32_t n = a.size() > 0 ? ToLong(a[0]) : 0;
    for (int32_t i = 0; i < n && pos_ < text_.size(); ++i) Advance();
    return Value();
  }
  Value SkipLine(InvokeKind, CallArgs&) {
    NeedRead();
    if (pos_ >= text_.size()) Throw(kErrPastEnd);
    size_t nl = text_.find('\n', pos_);
    pos_ = nl == std::string::npos ? text_.size() : nl + 1;
    ++line_;
    column_ = 1;
    return Value();
  }
  Value Write(InvokeKind, CallArgs& a) {
    NeedWrite();
    Put(a.size() > 0 ? ToText(a[0]) : "");
    return Value();
  }
  Value WriteLine(InvokeKind, CallArgs& a) {
    NeedWrite();
    Put((a.size() > 0 ? ToText(a[0]) : "") + "\r\n");
    return Value();
  }
  Value WriteBlankLines(InvokeKind, CallArgs& a) {
    NeedWrite();
    int32_t n = a.size() > 0 ? ToLong(a[0]) : 1;
    std::string s;
    for (int32_t i = 0; i < n; ++i) s += "\r\n";
    Put(s);
    return Value();
  }
  Value Close(InvokeKind, CallArgs&) {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    closed_ = true;
    return Value();
  }
  Value AtEndOfStream(InvokeKind, CallArgs&) {
    NeedRead();
    return Value::Bool(pos_ >= text_.size());
  }
  Value AtEndOfLine(InvokeKind, CallArgs&) {
    NeedRead();
    return Value::Bool(pos_ >= text_.size() || text_[pos_] == '\n' || text_[pos_] == '\r');
  }
  Value Line(InvokeKind, CallArgs&) { return Value::Long(line_); }
  Value Column(InvokeKind, CallArgs&) { return Value::Long(column_); }

  // --- Reading and writing.
  void NeedRead() {
    if (closed_ || mode_ != kRead) Throw(kErrBadFileMode);
  }
  void NeedWrite() {
    if (closed_ || mode_ == kRead || !file_) Throw(kErrBadFileMode);
  }
  void Advance() {
    size_t len = 1;
    DecodeChar(text_, pos_, &len);
    if (text_[pos_] == '\n') {
      ++line_;
      column_ = 1;
    } else {
      ++column_;
    }
    pos_ += len;
  }
  void Put(const std::string& s) {
    std::string bytes = unicode_ ? Utf8ToUtf16(s) : s;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) Throw(57);
    std::fflush(file_);
    for (char c : s) {
      if (c == '\n') {
        ++line_;
        column_ = 1;
      } else {
        ++column_;
      }
    }
  }

  int mode_;
  bool unicode_;
  bool closed_ = false;
  FILE* file_ = nullptr;
  std::string text_;
  size_t pos_ = 0;
  int32_t line_ = 1;
  int32_t column_ = 1;
};

const MemberTable<TextStream> TextStream::kMembers({
    {"Read", &TextStream::Read},
    {"ReadAll", &TextStream::ReadAll},
    {"ReadLine", &TextStream::ReadLine},
    {"Skip", &TextStream::Skip},
    {"SkipLine", &TextStream::SkipLine},
    {"Write", &TextStream::Write},
    {"WriteLine", &TextStream::WriteLine},
    {"WriteBlankLines", &TextStream::WriteBlankLines},
    {"Close", &TextStream::Close},
    {"AtEndOfStream", &TextStream::AtEndOfStream},
    {"AtEndOfLine", &TextStream::AtEndOfLine},
    {"Line", &TextStream::Line},
    {"Column", &TextStream::Column},
});

Value OpenStream(Vm* vm, const std::string& path, int mode, bool create, int format) {
  if (mode != 1 && mode != 2 && mode != 8) Throw(kErrInvalidCall);
  return Value::Obj(new TextStream(vm, path, mode, format == -1, create));
}

// CreateTextFile of a FileSystemObject or a Folder: writes a new file;
// arguments 1 and 2 are [overwrite (default True) [, unicode]].
Value NewTextFile(Vm* vm, const std::string& path, CallArgs& a) {
  bool overwrite = a.size() < 2 || ToBool(a[1]);
  if (!overwrite && access(path.c_str(), F_OK) == 0) Throw(kErrFileExists);
  return OpenStream(vm, path, 2, true, a.Has(2) && ToBool(a[2]) ? -1 : 0);
}

Value NewFile(Vm* vm, const std::string& path);
Value NewFolder(Vm* vm, const std::string& path);

// ------------------------------------------------------------ collections

class PathCollection : public BuiltinObject<PathCollection> {
 public:
  PathCollection(Vm* vm, std::string dir, bool folders)
      : BuiltinObject(vm, kMembers), dir_(std::move(dir)), folders_(folders) {}
  std::string TypeName() const override { return folders_ ? "Folders" : "Files"; }
  std::unique_ptr<Enumerator> NewEnum() override {
    std::vector<Value> items;
    for (const auto& p : List()) items.push_back(folders_ ? NewFolder(vm_, p) : NewFile(vm_, p));
    return EnumerateValues(std::move(items));
  }

 private:
  static const MemberTable<PathCollection> kMembers;

  // Item(name): the file or folder of that name (any letter case).
  Value Item(InvokeKind, CallArgs& a) {
    std::string name = PathArg(a, 0);
    for (const auto& p : List()) {
      if (EqualsIgnoreCase(fs::path(p).filename().string(), name)) {
        return folders_ ? NewFolder(vm_, p) : NewFile(vm_, p);
      }
    }
    Throw(kErrPathNotFound);
  }
  Value Count(InvokeKind, CallArgs&) { return Value::Long(static_cast<int32_t>(List().size())); }

  std::vector<std::string> List() const {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir_, ec)) {
      std::error_code ec2;
      bool is_dir = e.is_directory(ec2);
      if (is_dir == folders_) out.push_back(e.path().string());
    }
    std::sort(out.begin(), out.end(), [](const std::string& x, const std::string& y) {
      return CompareIgnoreCase(x, y) < 0;
    });
    return out;
  }
  std::string dir_;
  bool folders_;
};

const MemberTable<PathCollection> PathCollection::kMembers(
    {
        {"Item", &PathCollection::Item},
        {"Count", &PathCollection::Count},
    },
    "Item");

// ------------------------------------------------------------ File and Folder

// A File or a Folder: one class, as most members are shared; those of only
// one kind give error 438 on the other.
class FileItem : public BuiltinObject<FileItem> {
 public:
  FileItem(Vm* vm, std::string path, bool folder)
      : BuiltinObject(vm, kMembers), path_(std::move(path)), folder_(folder) {}
  std::string TypeName() const override { return folder_ ? "Folder" : "File"; }

 private:
  static const MemberTable<FileItem> kMembers;

  // --- Members.
  // Name [= new name]: assigning renames in place. Also ShortName.
  Value Name(InvokeKind kind, CallArgs& a) {
    if (kind == InvokeKind::kLet) {
      fs::path to = fs::path(path_).parent_path() / ToText(a[a.size() - 1]);
      std::error_code ec;
      fs::rename(path_, to, ec);
      if (ec) Throw(kErrFileExists);
      path_ = to.string();
      return Value();
    }
    std::string n = fs::path(path_).filename().string();
    return Value::Str(n.empty() ? path_ : n);
  }
  Value Path(InvokeKind, CallArgs&) { return Value::Str(path_); }  // also ShortPath
  // A folder's size is the sum of the files below it.
  Value Size(InvokeKind, CallArgs&) {
    struct stat st = Stat();
    if (!folder_) return Value::Double(static_cast<double>(st.st_size));
    std::error_code ec;
    double total = 0;
    for (const auto& e : fs::recursive_directory_iterator(path_, ec)) {
      std::error_code ec2;
      if (e.is_regular_file(ec2)) total += static_cast<double>(e.file_size(ec2));
    }
    return Value::Double(total);
  }
  Value DateCreated(InvokeKind, CallArgs&) {
    return Value::Date(FileTimeValue(Stat().st_ctim.tv_sec));
  }
  Value DateLastModified(InvokeKind, CallArgs&) {
    return Value::Date(FileTimeValue(Stat().st_mtim.tv_sec));
  }
  Value DateLastAccessed(InvokeKind, CallArgs&) {
    return Value::Date(FileTimeValue(Stat().st_atim.tv_sec));
  }
  Value ParentFolder(InvokeKind, CallArgs&) {
    return NewFolder(vm_, fs::path(path_).parent_path().string());
  }
  Value Type(InvokeKind, CallArgs&) { return Value::Str(folder_ ? "File folder" : "File"); }
  // Directory 16 or Archive 32, plus ReadOnly 1 and Hidden 2 (a dot name).
  Value Attributes(InvokeKind, CallArgs&) {
    Stat();
    int attrs = folder_ ? 16 : 32;
    if (access(path_.c_str(), W_OK) != 0) attrs |= 1;
    if (fs::path(path_).filename().string().rfind('.', 0) == 0) attrs |= 2;
    return Value::Long(attrs);
  }
  Value Drive(InvokeKind, CallArgs&) { return Value::Str(""); }
  Value Delete(InvokeKind, CallArgs&) {
    std::error_code ec;
    if (folder_) {
      fs::remove_all(path_, ec);
    } else if (!fs::remove(path_, ec)) {
      Throw(kErrFileNotFound);
    }
    if (ec) Throw(kErrPermission);
    return Value();
  }
  // Copy destination [, overwrite]
  Value Copy(InvokeKind, CallArgs& a) {
    std::string to = PathArg(a, 0);
    bool overwrite = a.size() < 2 || ToBool(a[1]);
    std::error_code ec;
    if (folder_) {
      fs::copy(path_, to,
               fs::copy_options::recursive |
                   (overwrite ? fs::copy_options::overwrite_existing : fs::copy_options::none),
               ec);
    } else {
      if (fs::is_directory(to)) to = (fs::path(to) / fs::path(path_).filename()).string();
      fs::copy_file(path_, to,
                    overwrite ? fs::copy_options::overwrite_existing : fs::copy_options::none, ec);
    }
    if (ec) Throw(kErrFileExists);
    return Value();
  }
  Value Move(InvokeKind, CallArgs& a) {
    std::string to = PathArg(a, 0);
    if (fs::is_directory(to)) to = (fs::path(to) / fs::path(path_).filename()).string();
    std::error_code ec;
    fs::rename(path_, to, ec);
    if (ec) Throw(kErrFileExists);
    path_ = to;
    return Value();
  }
  // OpenAsTextStream [mode [, format]] (files only)
  Value OpenAsTextStream(InvokeKind, CallArgs& a) {
    if (folder_) Throw(kErrNoMember);
    int mode = a.Has(0) ? ToLong(a[0]) : 1;
    int format = a.Has(1) ? ToLong(a[1]) : 0;
    return OpenStream(vm_, path_, mode, true, format);
  }
  Value Files(InvokeKind, CallArgs& a) { return Children(false, a); }
  Value SubFolders(InvokeKind, CallArgs& a) { return Children(true, a); }
  Value IsRootFolder(InvokeKind, CallArgs&) {
    if (!folder_) Throw(kErrNoMember);
    return Value::Bool(fs::path(path_).lexically_normal() == fs::path("/"));
  }
  // CreateTextFile name [, overwrite [, unicode]] (folders only)
  Value CreateTextFile(InvokeKind, CallArgs& a) {
    if (!folder_) Throw(kErrNoMember);
    return NewTextFile(vm_, (fs::path(path_) / PathArg(a, 0)).string(), a);
  }

  // --- Helpers.
  struct stat Stat() const {
    struct stat st {};
    if (stat(path_.c_str(), &st) != 0) Throw(folder_ ? kErrPathNotFound : kErrFileNotFound);
    return st;
  }
  // Files or SubFolders of a folder; with arguments, the item they name.
  Value Children(bool folders, CallArgs& a) {
    if (!folder_) Throw(kErrNoMember);
    return ApplyToDefault(Value::Obj(new PathCollection(vm_, path_, folders)), a);
  }

  std::string path_;
  bool folder_;
};

const MemberTable<FileItem> FileItem::kMembers(
    {
        {"Name", &FileItem::Name},
        {"Path", &FileItem::Path},
        {"Size", &FileItem::Size},
        {"DateCreated", &FileItem::DateCreated},
        {"DateLastModified", &FileItem::DateLastModified},
        {"DateLastAccessed", &FileItem::DateLastAccessed},
        {"ParentFolder", &FileItem::ParentFolder},
        {"Type", &FileItem::Type},
        {"Attributes", &FileItem::Attributes},
        {"ShortName", &FileItem::Name},
        {"ShortPath", &FileItem::Path},
        {"Drive", &FileItem::Drive},
        {"Delete", &FileItem::Delete},
        {"Copy", &FileItem::Copy},
        {"Move", &FileItem::Move},
        {"OpenAsTextStream", &FileItem::OpenAsTextStream},
        {"Files", &FileItem::Files},
        {"SubFolders", &FileItem::SubFolders},
        {"IsRootFolder", &FileItem::IsRootFolder},
        {"CreateTextFile", &FileItem::CreateTextFile},
    },
    "Path");

Value NewFile(Vm* vm, const std::string& path) {
  return Value::Obj(new FileItem(vm, path, false));
}
Value NewFolder(Vm* vm, const std::string& path) {
  return Value::Obj(new FileItem(vm, path, true));
}

// ------------------------------------------------------------ FileSystemObject

bool IsFile(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
bool IsDir(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class FileSystem : public BuiltinObject<FileSystem> {
 public:
  explicit FileSystem(Vm* vm) : BuiltinObject(vm, kMembers) {}
  std::string TypeName() const override { return "FileSystemObject"; }

 private:
  static const MemberTable<FileSystem> kMembers;

  // --- Members.
  Value BuildPath(InvokeKind, CallArgs& a) {
    std::string p = PathArg(a, 0), n = PathArg(a, 1);
    if (p.empty()) return Value::Str(n);
    if (p.back() != '/' && (n.empty() || n.front() != '/')) p += '/';
    return Value::Str(p + n);
  }
  Value CopyFile(InvokeKind, CallArgs& a) { return TransferFile(a, true); }
  Value CopyFolder(InvokeKind, CallArgs& a) { return TransferFolder(a, true); }
  Value CreateFolder(InvokeKind, CallArgs& a) {
    std::string p = PathArg(a, 0);
    if (IsDir(p) || IsFile(p)) Throw(kErrFileExists);
    // A missing parent is a path not found, not a missing file.
    if (mkdir(p.c_str(), 0777) != 0) {
      if (errno == ENOENT) Throw(kErrPathNotFound);
      ThrowErrno(kErrPathNotFound);
    }
    return NewFolder(vm_, p);
  }
  // CreateTextFile path [, overwrite [, unicode]]
  Value CreateTextFile(InvokeKind, CallArgs& a) { return NewTextFile(vm_, PathArg(a, 0), a); }
  Value DeleteFile(InvokeKind, CallArgs& a) {
    std::string p = PathArg(a, 0);
    if (!IsFile(p)) Throw(kErrFileNotFound);
    if (unlink(p.c_str()) != 0) ThrowErrno(kErrPermission);
    return Value();
  }
  Value DeleteFolder(InvokeKind, CallArgs& a) {
    std::string p = PathArg(a, 0);
    if (!IsDir(p)) Throw(kErrPathNotFound);
    std::error_code ec;
    fs::remove_all(p, ec);
    if (ec) Throw(kErrPermission);
    return Value();
  }
  // There are no drive letters: only the root counts as a drive.
  Value DriveExists(InvokeKind, CallArgs& a) { return Value::Bool(PathArg(a, 0) == "/"); }
  Value FileExists(InvokeKind, CallArgs& a) { return Value::Bool(IsFile(PathArg(a, 0))); }
  Value FolderExists(InvokeKind, CallArgs& a) { return Value::Bool(IsDir(PathArg(a, 0))); }
  Value GetAbsolutePathName(InvokeKind, CallArgs& a) {
    std::error_code ec;
    return Value::Str(fs::absolute(PathArg(a, 0), ec).lexically_normal().string());
  }
  Value GetBaseName(InvokeKind, CallArgs& a) {
    fs::path p(PathArg(a, 0));
    return Value::Str(p.filename() == "." || p.filename() == ".." ? "" : p.stem().string());
  }
  Value GetDriveName(InvokeKind, CallArgs&) { return Value::Str(""); }
  Value GetExtensionName(InvokeKind, CallArgs& a) {
    std::string e = fs::path(PathArg(a, 0)).extension().string();
    return Value::Str(e.empty() ? e : e.substr(1));
  }
  Value GetFile(InvokeKind, CallArgs& a) {
    std::string p = PathArg(a, 0);
    if (!IsFile(p)) Throw(kErrFileNotFound);
    return NewFile(vm_, p);
  }
  Value GetFileName(InvokeKind, CallArgs& a) {
    return Value::Str(fs::path(FolderPathArg(a, 0)).filename().string());
  }
  Value GetFolder(InvokeKind, CallArgs& a) {
    std::string p = PathArg(a, 0);
    if (!IsDir(p)) Throw(kErrPathNotFound);
    return NewFolder(vm_, p);
  }
  Value GetParentFolderName(InvokeKind, CallArgs& a) {
    return Value::Str(fs::path(FolderPathArg(a, 0)).parent_path().string());
  }
  // 0 Windows and 1 System folders map to /usr, 2 Temporary to $TMPDIR or /tmp.
  Value GetSpecialFolder(InvokeKind, CallArgs& a) {
    int32_t which = a.size() > 0 ? ToLong(a[0]) : 2;
    if (which < 0 || which > 2) Throw(kErrInvalidCall);
    const char* tmp = getenv("TMPDIR");
    return NewFolder(vm_, which == 2 ? (tmp && *tmp ? tmp : "/tmp") : "/usr");
  }
  // Names come from their own generator, seeded anew each run: a script's
  // Rnd sequence stays its own, and a folder a crashed run left behind does
  // not meet the same name on the next run.
  Value GetTempName(InvokeKind, CallArgs&) {
    thread_local std::mt19937 names{std::random_device{}()};
    char buf[32];
    std::snprintf(buf, sizeof buf, "rad%05X.tmp", static_cast<unsigned>(names() & 0xFFFFF));
    return Value::Str(buf);
  }
  Value MoveFile(InvokeKind, CallArgs& a) { return TransferFile(a, false); }
  Value MoveFolder(InvokeKind, CallArgs& a) { return TransferFolder(a, false); }
  // OpenTextFile path [, mode [, create [, format]]]
  Value OpenTextFile(InvokeKind, CallArgs& a) {
    std::string p = PathArg(a, 0);
    int mode = a.Has(1) ? ToLong(a[1]) : 1;
    bool create = a.Has(2) && ToBool(a[2]);
    int format = a.Has(3) ? ToLong(a[3]) : 0;
    if (mode == 1 && !IsFile(p)) Throw(kErrFileNotFound);
    return OpenStream(vm_, p, mode, create, format);
  }

  // --- Helpers.
  // CopyFile from, to [, overwrite] and MoveFile from, to (which never
  // overwrites). A destination that is a folder receives the file by name.
  static Value TransferFile(CallArgs& a, bool copy) {
    std::string from = PathArg(a, 0), to = PathArg(a, 1);
    bool overwrite = copy && (a.size() < 3 || ToBool(a[2]));
    if (!IsFile(from)) Throw(kErrFileNotFound);
    if (IsDir(to) || (!to.empty() && to.back() == '/')) {
      to = (fs::path(to) / fs::path(from).filename()).string();
    }
    if (!overwrite && IsFile(to)) Throw(kErrFileExists);
    std::error_code ec;
    if (copy) {
      fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    } else {
      fs::rename(from, to, ec);
    }
    if (ec) Throw(kErrPermission);
    return Value();
  }
  // CopyFolder from, to [, overwrite] and MoveFolder from, to.
  static Value TransferFolder(CallArgs& a, bool copy) {
    std::string from = PathArg(a, 0), to = PathArg(a, 1);
    if (!IsDir(from)) Throw(kErrPathNotFound);
    std::error_code ec;
    if (copy) {
      bool overwrite = a.size() < 3 || ToBool(a[2]);
      fs::copy(from, to,
               fs::copy_options::recursive |
                   (overwrite ? fs::copy_options::overwrite_existing : fs::copy_options::none),
               ec);
    } else {
      fs::rename(from, to, ec);
    }
    if (ec) Throw(kErrPermission);
    return Value();
  }
};

const MemberTable<FileSystem> FileSystem::kMembers({
    {"BuildPath", &FileSystem::BuildPath},
    {"CopyFile", &FileSystem::CopyFile},
    {"CopyFolder", &FileSystem::CopyFolder},
    {"CreateFolder", &FileSystem::CreateFolder},
    {"CreateTextFile", &FileSystem::CreateTextFile},
    {"DeleteFile", &FileSystem::DeleteFile},
    {"DeleteFolder", &FileSystem::DeleteFolder},
    {"DriveExists", &FileSystem::DriveExists},
    {"FileExists", &FileSystem::FileExists},
    {"FolderExists", &FileSystem::FolderExists},
    {"GetAbsolutePathName", &FileSystem::GetAbsolutePathName},
    {"GetBaseName", &FileSystem::GetBaseName},
    {"GetDriveName", &FileSystem::GetDriveName},
    {"GetExtensionName", &FileSystem::GetExtensionName},
    {"GetFile", &FileSystem::GetFile},
    {"GetFileName", &FileSystem::GetFileName},
    {"GetFolder", &FileSystem::GetFolder},
    {"GetParentFolderName", &FileSystem::GetParentFolderName},
    {"GetSpecialFolder", &FileSystem::GetSpecialFolder},
    {"GetTempName", &FileSystem::GetTempName},
    {"MoveFile", &FileSystem::MoveFile},
    {"MoveFolder", &FileSystem::MoveFolder},
    {"OpenTextFile", &FileSystem::OpenTextFile},
});

}  // namespace

Value NewFileSystemObject(Vm& vm) {
  return Value::Obj(new FileSystem(&vm));
}

}  // namespace corvane::vbs
