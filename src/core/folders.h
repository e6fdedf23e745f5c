// The folder layout below the program folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

class EventLog;

// Creates every missing folder on `path` except its last component, which is
// taken as a file name: callers pass a file path, or a folder followed by a
// dummy name ("<home>/Config/x"). Failures are reported as " CreateFolders ".
void CreateFolders(std::string_view path, EventLog* log = nullptr);

// Joins a folder and a relative path with exactly one "/" between them.
std::string JoinPath(std::string_view folder, std::string_view rest);

// The folder of the running executable.
std::string ExecutableFolder();
std::string ExecutableName();

// The computer's name as the system reports it.
std::string ComputerName();

// A whole file's bytes; nothing when it cannot be opened or read (a missing
// file is an empty optional, never a marker text).
std::optional<std::string> ReadWholeFile(const std::string& path);

}  // namespace corvane
