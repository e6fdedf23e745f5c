// Script files on disk: where a script name points (names are relative to
// the Scripts folder unless absolute; "\" separates folders as on the
// systems the scripts were written on), finding a file whatever the letter
// case of its name, expanding #include "name" directives, and writing the
// .wsf wrapper that runs one procedure of a script in a process of its own.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/folders.h"  // ReadWholeFile

namespace corvane {

// The path a script name stands for. `scripts_folder` is <home>/Scripts.
// Absolute names ("/..." or a name with a drive letter or a "\\server"
// prefix) are used as they are, with "\" read as "/"; every other name
// lies below the Scripts folder (a leading "\" included).
std::string ResolveScriptPath(std::string_view scripts_folder, std::string_view name);

// The existing regular file at `path`, each part matched exactly or else
// ignoring letter case; nothing when there is none.
std::optional<std::string> FindFileIgnoringCase(std::string_view path);


// One file of a loaded script: the name as the including file gave it, its
// real path and its text with the #include directives cut out (line breaks
// kept, so error lines still count in the file's own lines).
struct ScriptSource {
  std::string name;
  std::string path;
  std::string text;
};

// Script `name` and the files it includes, in the order their code is to
// be added: each `#include "other"` (keyword in any letter case, anywhere in
// the text, the name between the next two double quotes on that line) is
// cut out and the other file comes before the including one, depth first.
// A missing file adds nothing; a file already being expanded (a cycle) is
// not read again; a keyword without a quoted name is cut out with the rest
// of its line. `read` gives a file's decoded text by real path.
class IncludeExpander {
 public:
  using Reader = std::function<std::optional<std::string>(const std::string& path)>;
  IncludeExpander(std::string scripts_folder, Reader read)
      : scripts_folder_(std::move(scripts_folder)), read_(std::move(read)) {}

  // Empty when the top file itself does not exist.
  std::vector<ScriptSource> Expand(std::string_view name);

 private:
  void Accumulate(std::string_view name, std::vector<ScriptSource>& out, int depth);

  std::string scripts_folder_;
  Reader read_;
  std::vector<std::string> open_;  // real paths being expanded
};

// The wrapper of Spawn: writes <base>~.wsf into the Scripts folder (base:
// the script name with every ".txt" removed, any letter case) and gives the
// file name without folder. Throws std::runtime_error when it cannot be
// written.
std::string WrapWSF(std::string_view scripts_folder, std::string_view script_name,
                    std::string_view procedure, std::string_view parameter);
// The wrapper's text, each line ended by CR LF.
std::string WrapperText(std::string_view base, std::string_view procedure,
                        std::string_view parameter);

}  // namespace corvane
