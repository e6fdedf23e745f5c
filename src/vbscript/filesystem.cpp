// Scripting.FileSystemObject with its File, Folder, collections and
// TextStream objects. Paths may use "\" or "/"; "\" is read as "/".
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
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

double FileTimeValue(const struct timespec& ts) {
  time_t t = ts.tv_sec;
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

std::string Utf16ToUtf8(const std::string& bytes, size_t from) {
  std::string out;
  for (size_t i = from; i + 1 < bytes.size(); i += 2) {
    uint32_t u =
        static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size()) {
      uint32_t lo = static_cast<unsigned char>(bytes[i + 2]) |
                    (static_cast<unsigned char>(bytes[i + 3]) << 8);
      if (lo >= 0xDC00 && lo < 0xE000) {
        u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
        i += 2;
      }
    }
    AppendCodePoint(out, u);
  }
  return out;
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

const MemberTable kStreamMembers({"Read", "ReadAll", "ReadLine", "Skip", "SkipLine", "Write",
                                  "WriteLine", "WriteBlankLines", "Close", "AtEndOfStream",
                                  "AtEndOfLine", "Line", "Column"});

class TextStream : public BuiltinObject {
 public:
  enum Mode { kRead = 1, kWrite = 2, kAppend = 8 };

  TextStream(Vm* vm, const std::string& path, int mode, bool unicode, bool create)
      : BuiltinObject(vm, kStreamMembers), mode_(mode), unicode_(unicode) {
    if (mode == kRead) {
      std::ifstream f(path, std::ios::binary);
      if (!f) ThrowErrno(kErrFileNotFound);
      std::ostringstream ss;
      ss << f.rdbuf();
      text_ = ss.str();
      if (text_.size() >= 2 && static_cast<unsigned char>(text_[0]) == 0xFF &&
          static_cast<unsigned char>(text_[1]) == 0xFE) {
        text_ = Utf16ToUtf8(text_, 2);
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

 protected:
  Value Call(int id, InvokeKind, CallArgs& a) override {
    switch (id) {
      case 1: {  // Read(n)
        NeedRead();
        int32_t n = a.size() > 0 ? ToLong(a[0]) : 1;
        if (n < 0) Throw(kErrInvalidCall);
        size_t start = pos_;
        for (int32_t i = 0; i < n && pos_ < text_.size(); ++i) Advance();
        return Value::Str(text_.substr(start, pos_ - start));
      }
      case 2: {
        NeedRead();
        if (pos_ >= text_.size() && !text_.empty()) Throw(kErrPastEnd);
        std::string rest = text_.substr(pos_);
        while (pos_ < text_.size()) Advance();
        return Value::Str(std::move(rest));
      }
      case 3: {
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
      case 4: {
        NeedRead();
        int32_t n = a.size() > 0 ? ToLong(a[0]) : 0;
        for (int32_t i = 0; i < n && pos_ < text_.size(); ++i) Advance();
        return Value();
      }
      case 5: {
        NeedRead();
        if (pos_ >= text_.size()) Throw(kErrPastEnd);
        size_t nl = text_.find('\n', pos_);
        pos_ = nl == std::string::npos ? text_.size() : nl + 1;
        ++line_;
        column_ = 1;
        return Value();
      }
      case 6:
        NeedWrite();
        Put(a.size() > 0 ? ToText(a[0]) : "");
        return Value();
      case 7:
        NeedWrite();
        Put((a.size() > 0 ? ToText(a[0]) : "") + "\r\n");
        return Value();
      case 8: {
        NeedWrite();
        int32_t n = a.size() > 0 ? ToLong(a[0]) : 1;
        std::string s;
        for (int32_t i = 0; i < n; ++i) s += "\r\n";
        Put(s);
        return Value();
      }
      case 9:
        if (file_) std::fclose(file_);
        file_ = nullptr;
        closed_ = true;
        return Value();
      case 10:
        NeedRead();
        return Value::Bool(pos_ >= text_.size());
      case 11:
        NeedRead();
        return Value::Bool(pos_ >= text_.size() || text_[pos_] == '\n' || text_[pos_] == '\r');
      case 12:
        return Value::Long(line_);
      case 13:
        return Value::Long(column_);
      default:
        Throw(kErrNoMember);
    }
  }

 private:
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

Value OpenStream(Vm* vm, const std::string& path, int mode, bool create, int format) {
  if (mode != 1 && mode != 2 && mode != 8) Throw(kErrInvalidCall);
  return Value::Obj(new TextStream(vm, path, mode, format == -1, create));
}

Value NewFile(Vm* vm, const std::string& path);
Value NewFolder(Vm* vm, const std::string& path);

// ------------------------------------------------------------ collections

const MemberTable kCollectionMembers({"Item", "Count"}, 1);

class PathCollection : public BuiltinObject {
 public:
  PathCollection(Vm* vm, std::string dir, bool folders)
      : BuiltinObject(vm, kCollectionMembers), dir_(std::move(dir)), folders_(folders) {}
  std::string TypeName() const override { return folders_ ? "Folders" : "Files"; }
  std::unique_ptr<Enumerator> NewEnum() override {
    std::vector<Value> items;
    for (const auto& p : List()) items.push_back(folders_ ? NewFolder(vm_, p) : NewFile(vm_, p));
    return EnumerateValues(std::move(items));
  }

 protected:
  Value Call(int id, InvokeKind, CallArgs& a) override {
    if (id == 2) return Value::Long(static_cast<int32_t>(List().size()));
    std::string name = PathArg(a, 0);
    for (const auto& p : List()) {
      if (EqualsIgnoreCase(fs::path(p).filename().string(), name)) {
        return folders_ ? NewFolder(vm_, p) : NewFile(vm_, p);
      }
    }
    Throw(kErrPathNotFound);
  }

 private:
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

// ------------------------------------------------------------ File and Folder

const MemberTable kFileMembers({"Name",
                                "Path",
                                "Size",
                                "DateCreated",
                                "DateLastModified",
                                "DateLastAccessed",
                                "ParentFolder",
                                "Type",
                                "Attributes",
                                "ShortName",
                                "ShortPath",
                                "Drive",
                                "Delete",
                                "Copy",
                                "Move",
                                "OpenAsTextStream",
                                "Files",
                                "SubFolders",
                                "IsRootFolder",
                                "CreateTextFile"},
                               2);

class FileItem : public BuiltinObject {
 public:
  FileItem(Vm* vm, std::string path, bool folder)
      : BuiltinObject(vm, kFileMembers), path_(std::move(path)), folder_(folder) {}
  std::string TypeName() const override { return folder_ ? "Folder" : "File"; }

 protected:
  Value Call(int id, InvokeKind kind, CallArgs& a) override {
    struct stat st {};
    auto need_stat = [&]() {
      if (stat(path_.c_str(), &st) != 0) Throw(folder_ ? kErrPathNotFound : kErrFileNotFound);
    };
    switch (id) {
      case 1:
      case 10: {
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
      case 2:
      case 11:
        return Value::Str(path_);
      case 3: {
        need_stat();
        if (!folder_) return Value::Double(static_cast<double>(st.st_size));
        std::error_code ec;
        double total = 0;
        for (const auto& e : fs::recursive_directory_iterator(path_, ec)) {
          std::error_code ec2;
          if (e.is_regular_file(ec2)) total += static_cast<double>(e.file_size(ec2));
        }
        return Value::Double(total);
      }
      case 4:
        need_stat();
        return Value::Date(FileTimeValue(st.st_ctim));
      case 5:
        need_stat();
        return Value::Date(FileTimeValue(st.st_mtim));
      case 6:
        need_stat();
        return Value::Date(FileTimeValue(st.st_atim));
      case 7:
        return NewFolder(vm_, fs::path(path_).parent_path().string());
      case 8:
        return Value::Str(folder_ ? "File folder" : "File");
      case 9: {
        need_stat();
        int attrs = folder_ ? 16 : 32;
        if (access(path_.c_str(), W_OK) != 0) attrs |= 1;
        if (fs::path(path_).filename().string().rfind('.', 0) == 0) attrs |= 2;
        return Value::Long(attrs);
      }
      case 12:
        return Value::Str("");
      case 13: {
        std::error_code ec;
        if (folder_) {
          fs::remove_all(path_, ec);
        } else if (!fs::remove(path_, ec)) {
          Throw(kErrFileNotFound);
        }
        if (ec) Throw(kErrPermission);
        return Value();
      }
      case 14: {
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
                        overwrite ? fs::copy_options::overwrite_existing : fs::copy_options::none,
                        ec);
        }
        if (ec) Throw(kErrFileExists);
        return Value();
      }
      case 15: {
        std::string to = PathArg(a, 0);
        if (fs::is_directory(to)) to = (fs::path(to) / fs::path(path_).filename()).string();
        std::error_code ec;
        fs::rename(path_, to, ec);
        if (ec) Throw(kErrFileExists);
        path_ = to;
        return Value();
      }
      case 16: {
        if (folder_) Throw(kErrNoMember);
        int mode = a.Has(0) ? ToLong(a[0]) : 1;
        int format = a.Has(1) ? ToLong(a[1]) : 0;
        return OpenStream(vm_, path_, mode, true, format);
      }
      case 17:
      case 18:
        if (!folder_) Throw(kErrNoMember);
        return ApplyToDefault(Value::Obj(new PathCollection(vm_, path_, id == 18)), a);
      case 19:
        if (!folder_) Throw(kErrNoMember);
        return Value::Bool(fs::path(path_).lexically_normal() == fs::path("/"));
      case 20: {
        if (!folder_) Throw(kErrNoMember);
        std::string p = (fs::path(path_) / PathArg(a, 0)).string();
        bool overwrite = a.size() < 2 || ToBool(a[1]);
        if (!overwrite && access(p.c_str(), F_OK) == 0) Throw(kErrFileExists);
        return OpenStream(vm_, p, 2, true, a.Has(2) && ToBool(a[2]) ? -1 : 0);
      }
      default:
        Throw(kErrNoMember);
    }
  }

 private:
  std::string path_;
  bool folder_;
};

Value NewFile(Vm* vm, const std::string& path) {
  return Value::Obj(new FileItem(vm, path, false));
}
Value NewFolder(Vm* vm, const std::string& path) {
  return Value::Obj(new FileItem(vm, path, true));
}

// ------------------------------------------------------------ FileSystemObject

const MemberTable kFsoMembers({"BuildPath",
                               "CopyFile",
                               "CopyFolder",
                               "CreateFolder",
                               "CreateTextFile",
                               "DeleteFile",
                               "DeleteFolder",
                               "DriveExists",
                               "FileExists",
                               "FolderExists",
                               "GetAbsolutePathName",
                               "GetBaseName",
                               "GetDriveName",
                               "GetExtensionName",
                               "GetFile",
                               "GetFileName",
                               "GetFolder",
                               "GetParentFolderName",
                               "GetSpecialFolder",
                               "GetTempName",
                               "MoveFile",
                               "MoveFolder",
                               "OpenTextFile"});

bool IsFile(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
bool IsDir(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class FileSystem : public BuiltinObject {
 public:
  explicit FileSystem(Vm* vm) : BuiltinObject(vm, kFsoMembers) {}
  std::string TypeName() const override { return "FileSystemObject"; }

 protected:
  Value Call(int id, InvokeKind, CallArgs& a) override {
    switch (id) {
      case 1: {
        std::string p = PathArg(a, 0), n = PathArg(a, 1);
        if (p.empty()) return Value::Str(n);
        if (p.back() != '/' && (n.empty() || n.front() != '/')) p += '/';
        return Value::Str(p + n);
      }
      case 2:
      case 21: {  // CopyFile / MoveFile
        std::string from = PathArg(a, 0), to = PathArg(a, 1);
        bool overwrite = id == 2 && (a.size() < 3 || ToBool(a[2]));
        if (!IsFile(from)) Throw(kErrFileNotFound);
        if (IsDir(to) || (!to.empty() && to.back() == '/')) {
          to = (fs::path(to) / fs::path(from).filename()).string();
        }
        if (!overwrite && IsFile(to)) Throw(kErrFileExists);
        std::error_code ec;
        if (id == 2) {
          fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
        } else {
          fs::rename(from, to, ec);
        }
        if (ec) Throw(kErrPermission);
        return Value();
      }
      case 3:
      case 22: {
        std::string from = PathArg(a, 0), to = PathArg(a, 1);
        if (!IsDir(from)) Throw(kErrPathNotFound);
        std::error_code ec;
        if (id == 3) {
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
      case 4: {
        std::string p = PathArg(a, 0);
        if (IsDir(p) || IsFile(p)) Throw(kErrFileExists);
        if (mkdir(p.c_str(), 0777) != 0) ThrowErrno(kErrPathNotFound);
        return NewFolder(vm_, p);
      }
      case 5: {
        std::string p = PathArg(a, 0);
        bool overwrite = a.size() < 2 || ToBool(a[1]);
        if (!overwrite && access(p.c_str(), F_OK) == 0) Throw(kErrFileExists);
        return OpenStream(vm_, p, 2, true, a.Has(2) && ToBool(a[2]) ? -1 : 0);
      }
      case 6: {
        std::string p = PathArg(a, 0);
        if (!IsFile(p)) Throw(kErrFileNotFound);
        if (unlink(p.c_str()) != 0) ThrowErrno(kErrPermission);
        return Value();
      }
      case 7: {
        std::string p = PathArg(a, 0);
        if (!IsDir(p)) Throw(kErrPathNotFound);
        std::error_code ec;
        fs::remove_all(p, ec);
        if (ec) Throw(kErrPermission);
        return Value();
      }
      case 8:
        return Value::Bool(PathArg(a, 0) == "/");
      case 9:
        return Value::Bool(IsFile(PathArg(a, 0)));
      case 10:
        return Value::Bool(IsDir(PathArg(a, 0)));
      case 11: {
        std::error_code ec;
        return Value::Str(fs::absolute(PathArg(a, 0), ec).lexically_normal().string());
      }
      case 12: {
        fs::path p(PathArg(a, 0));
        return Value::Str(p.filename() == "." || p.filename() == ".." ? "" : p.stem().string());
      }
      case 13:
        return Value::Str("");
      case 14: {
        std::string e = fs::path(PathArg(a, 0)).extension().string();
        return Value::Str(e.empty() ? e : e.substr(1));
      }
      case 15: {
        std::string p = PathArg(a, 0);
        if (!IsFile(p)) Throw(kErrFileNotFound);
        return NewFile(vm_, p);
      }
      case 16: {
        std::string p = PathArg(a, 0);
        while (p.size() > 1 && p.back() == '/') p.pop_back();
        return Value::Str(fs::path(p).filename().string());
      }
      case 17: {
        std::string p = PathArg(a, 0);
        if (!IsDir(p)) Throw(kErrPathNotFound);
        return NewFolder(vm_, p);
      }
      case 18: {
        std::string p = PathArg(a, 0);
        while (p.size() > 1 && p.back() == '/') p.pop_back();
        return Value::Str(fs::path(p).parent_path().string());
      }
      case 19: {
        int32_t which = a.size() > 0 ? ToLong(a[0]) : 2;
        if (which < 0 || which > 2) Throw(kErrInvalidCall);
        const char* tmp = getenv("TMPDIR");
        return NewFolder(vm_, which == 2 ? (tmp && *tmp ? tmp : "/tmp") : "/usr");
      }
      case 20: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "rad%05X.tmp", static_cast<unsigned>(vm_->Rnd(1) * 0xFFFFF));
        return Value::Str(buf);
      }
      case 23: {
        std::string p = PathArg(a, 0);
        int mode = a.Has(1) ? ToLong(a[1]) : 1;
        bool create = a.Has(2) && ToBool(a[2]);
        int format = a.Has(3) ? ToLong(a[3]) : 0;
        if (mode == 1 && !IsFile(p)) Throw(kErrFileNotFound);
        return OpenStream(vm_, p, mode, create, format);
      }
      default:
        Throw(kErrNoMember);
    }
  }
};

}  // namespace

Value NewFileSystemObject(Vm& vm) {
  return Value::Obj(new FileSystem(&vm));
}

}  // namespace corvane::vbs
