// Files as the tool reads them: only regular files, by UTF-8 names on every platform.
#ifndef TEV_TOOL_FILES_H
#define TEV_TOOL_FILES_H

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace tevtool {

// Paths on the command line are UTF-8 on every platform.
std::filesystem::path PathOf(const std::string& utf8);
std::string Utf8Of(const std::filesystem::path& path);

// Reads a regular file ("-": standard input) from start to end, handing its bytes to `piece` as
// they come. A directory, a device or a FIFO is refused without being read, and a file that cannot
// be opened says why, for a log that a running setup holds too. False with `error` (which does not
// repeat the name) when the file could not be read to its end.
bool ReadRegularFile(const std::string& path, const std::function<void(std::string_view)>& piece,
                     std::string& error);

// The same, whole.
bool ReadRegularFile(const std::string& path, std::string& bytes, std::string& error);

// Every regular file under `dir` (its subfolders too) whose name ends in ".log", in the order the
// file system gives, never all of them at once; false with `error` when the folder cannot be read.
bool ForEachLogFile(const std::string& dir, const std::function<void(const std::string&)>& visit,
                    std::string& error);

}  // namespace tevtool

#endif
