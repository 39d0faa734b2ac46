// Files as the tool reads them: only regular files, by UTF-8 names on every platform.
#ifndef TEV_TOOL_FILES_H
#define TEV_TOOL_FILES_H

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace tevtool {

// Paths on the command line are UTF-8 on every platform.
std::filesystem::path PathOf(const std::string& utf8);
std::string Utf8Of(const std::filesystem::path& path);

// Reads a regular file ("-": standard input) from start to end (at most `limit` bytes of a file),
// handing its bytes to `piece` as they come. A directory, a device or a FIFO is refused without
// being read, and a file that cannot be opened says why, for a log that a running setup holds too.
// False with `error` (which does not repeat the name) when the file could not be read to its end.
bool ReadRegularFile(const std::string& path, const std::function<void(std::string_view)>& piece,
                     std::string& error, size_t limit = SIZE_MAX);

// The same, handing pieces to `piece` until it returns false; `size` (when not null) is given the
// file's size as the open file tells it (0 for standard input) before the first piece. A file the
// caller has found to be a regular one (`knownRegular`, a folder's walk) is only opened, not looked
// at by name first; a file is read from its byte `from` on (not standard input). Every read of the
// process goes through one buffer, allocated once.
bool ReadRegularFileUntil(const std::string& path,
                          const std::function<bool(std::string_view)>& piece, std::string& error,
                          std::uint64_t* size = nullptr, bool knownRegular = false,
                          std::uint64_t from = 0);

// The same, whole.
bool ReadRegularFile(const std::string& path, std::string& bytes, std::string& error,
                     size_t limit = SIZE_MAX);

// Ends the tool when a write to `stream` (standard output, or the file `name`) failed: with
// "tev: cannot write NAME: REASON" and kInternalError, or quietly with kReaderGone when its reader
// went away. Returns when nothing failed.
void EndIfWriteFailed(std::FILE* stream, const std::string& name);

// Every regular file under `dir` and its subfolders, each folder's entries in the order of their
// names, a subfolder's files where its name falls (links to folders are not followed). A folder
// or entry that cannot be read is given to `unreadable` with its own path, and the walk goes on.
void ForEachFile(
    const std::string& dir, const std::function<void(const std::string&)>& visit,
    const std::function<void(const std::string& path, const std::string& error)>& unreadable);

}  // namespace tevtool

#endif
